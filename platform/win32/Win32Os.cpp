// The Win32 backend itself: the process's one instance, the error numbers
// it reports, sleep and standard output.
#include "platform/win32/Win32Os.h"

#include <errno.h>
#include <string.h>
#include <windows.h>

#include "platform/HostOs.h"
#include "platform/win32/Win32Calls.h"
#include "platform/win32/Win32OsInternal.h"

namespace platform {
namespace {

// Each Win32 error the backend meets, and the errno value it reports.
const struct {
  unsigned short error;
  unsigned char number;
} kErrnoOf[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT},    {ERROR_PATH_NOT_FOUND, ENOENT},    {ERROR_INVALID_DRIVE, ENOENT},
    {ERROR_BAD_NETPATH, ENOENT},       {ERROR_BAD_NET_NAME, ENOENT},      {ERROR_INVALID_NAME, ENOENT},
    {ERROR_ACCESS_DENIED, EACCES},     {ERROR_SHARING_VIOLATION, EACCES}, {ERROR_LOCK_VIOLATION, EACCES},
    {ERROR_CURRENT_DIRECTORY, EACCES}, {ERROR_FILE_EXISTS, EEXIST},       {ERROR_ALREADY_EXISTS, EEXIST},
    {ERROR_DIR_NOT_EMPTY, ENOTEMPTY},  {ERROR_NOT_ENOUGH_MEMORY, ENOMEM}, {ERROR_OUTOFMEMORY, ENOMEM},
    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG}, {ERROR_DIRECTORY, ENOTDIR}, {ERROR_DISK_FULL, ENOSPC},
    {ERROR_HANDLE_DISK_FULL, ENOSPC},
};

}  // namespace

int ErrnoOf(DWORD error) {
  for (const auto& known : kErrnoOf) {
    if (known.error == error) return known.number;
  }
  return EINVAL;
}

int LastErrno() { return ErrnoOf(osGetLastError()); }

Win32Os& TheWin32Os() {
  static Win32Os os;
  return os;
}

Os& HostOs() { return TheWin32Os(); }

void Win32Os::Sleep(uint32_t milliseconds) { osSleep(milliseconds); }

void Win32Os::Print(const char* text) {
  HANDLE output = osGetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  osWriteFile(output, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
}

}  // namespace platform
