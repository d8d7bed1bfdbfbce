// Loads tapi32.dll by its bare name, after RestrictDllSearchToSystem when
// given --restricted, as any DLL might be loaded by name at run time.
#include <string.h>
#include <windows.h>

#include "platform/win32/Win32DllSearch.h"

int main(int argc, char** argv) {
  if (argc > 1 && strcmp(argv[1], "--restricted") == 0) platform::RestrictDllSearchToSystem();
  HMODULE module = LoadLibraryA("tapi32.dll");
  if (module != nullptr) FreeLibrary(module);
  return 0;
}
