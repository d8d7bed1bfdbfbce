/* A DLL to plant beside a program under test, named after a system DLL the
 * program must only ever load from the system directory. Loading it, from
 * anywhere, leaves a marker file beside it: "<its file name>.loaded",
 * holding the path of the program that loaded it. It exports nothing. */
#include <string.h>
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;

  static const char kSuffix[] = ".loaded";
  char marker[MAX_PATH];
  const DWORD length = GetModuleFileNameA(instance, marker, MAX_PATH);
  if (length == 0 || length + sizeof kSuffix > MAX_PATH) return TRUE;
  memcpy(marker + length, kSuffix, sizeof kSuffix);

  char program[MAX_PATH];
  const DWORD programLength = GetModuleFileNameA(NULL, program, MAX_PATH);
  HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written;
    WriteFile(file, program, programLength, &written, NULL);
    CloseHandle(file);
  }
  return TRUE;
}
