#include <windows.h>

#include "platform/win32/Win32Calls.h"
#include "platform/win32/Win32DllSearch.h"

namespace platform {

void RestrictDllSearchToSystem() {
  // Looked up: Vista, and 7 without KB2533623, do not have it.
  if (SystemCall<kSetDefaultDllDirectories>() != nullptr &&
      osSetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    return;
  }
  // There, at least take the current directory out of the search; the
  // program's own directory is still searched first (docs/security.md).
  osSetDllDirectoryA("");
}

}  // namespace platform
