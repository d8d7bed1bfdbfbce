// Stands in for the vendor's setup program inside test and demo packages:
// it records that it ran, with its command line and current directory, in
// c:\standin-log.txt (outside the extraction directory, which the
// installer removes), and ends.
#include <windows.h>

namespace {

void Append(HANDLE log, const char* text) {
  DWORD written = 0;
  WriteFile(log, text, lstrlenA(text), &written, nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  HANDLE log = CreateFileA("c:\\standin-log.txt", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 1;
  char directory[MAX_PATH + 1] = "?";
  const DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
  if (length == 0 || length >= sizeof directory) lstrcpyA(directory, "?");
  Append(log, "ran\r\ncommand line: ");
  Append(log, GetCommandLineA());
  Append(log, "\r\ncurrent directory: ");
  Append(log, directory);
  Append(log, "\r\n");
  CloseHandle(log);
  return 0;
}
