#include "platform/win32/Win32Links.h"

#include <windows.h>
#include "platform/win32/Win32Calls.h"

namespace platform {

bool IsReparsePoint(const wchar_t* path) {
  // Attributes by name describe the name itself: no reparse point is
  // followed to answer.
  const DWORD attributes = osGetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace platform
