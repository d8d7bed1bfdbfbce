// Internals of the Win32 OS backend that its files share: the error
// numbers it reports, and what both the files and the held directories
// need of an entry.
#pragma once

#include <windows.h>

#include "platform/Os.h"

namespace platform {

// The errno value the backend reports for a Win32 error (EINVAL for one
// it does not expect), and for the calling thread's last error.
int ErrnoOf(DWORD error);
int LastErrno();

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens the name itself, never what a reparse point leads to.
HANDLE OpenNoFollow(const char* path, DWORD access, DWORD share);

// The seam's attributes of a Win32 attribute word.
void AttributesOf(DWORD value, Attributes* attributes);

// InUse's answer from an open for deletion and writing: error, its Win32
// error, or 0 when it opened handle, which is closed here.
int HeldElsewhere(DWORD error, HANDLE handle, bool* held);

}  // namespace platform
