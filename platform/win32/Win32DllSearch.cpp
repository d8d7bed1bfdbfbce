#include <windows.h>

#include "platform/win32/Win32DllSearch.h"

namespace platform {

void RestrictDllSearchToSystem() {
  // Looked up: Vista, and 7 without KB2533623, do not have it.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  // There, at least take the current directory out of the search; the
  // program's own directory is still searched first (docs/security.md).
  SetDllDirectoryA("");
}

}  // namespace platform
