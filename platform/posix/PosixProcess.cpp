// The POSIX backend's claim and processes: nothing is held against
// deletion and no other installer shares the drive natively; a launch
// spawns the program, and a device is a file below <root>/dev.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>

#include "platform/posix/PosixCalls.h"
#include "platform/posix/PosixOs.h"

extern char** environ;

namespace platform {

// Nothing here keeps a file from being deleted while it is open or run.
int PosixOs::InUse(const char*, bool* held) {
  *held = false;
  return 0;
}

// Natively no other installer shares the drive.
int PosixOs::LockInstall() { return 0; }
void PosixOs::UnlockInstall() {}

int PosixOs::Launch(const char* commandLine) {
  char native[PATH_MAX];
  if (const int error = Map(commandLine, native, sizeof native)) return error;
  char* const argv[] = {native, nullptr};
  pid_t child;
  return gPosixCalls.posix_spawn(&child, native, nullptr, nullptr, argv, environ);
}

int PosixOs::OpenDevice(const char* name) {
  static const char kDevicePrefix[] = "\\\\.\\";
  if (strncmp(name, kDevicePrefix, 4) != 0 || name[4] == '\0') return ENOENT;
  char native[PATH_MAX];
  const int written = snprintf(native, sizeof native, "%s/dev/%s", root_, name + 4);
  if (written < 0 || static_cast<size_t>(written) >= sizeof native) return ENAMETOOLONG;
  const int fd = gPosixCalls.open(native, O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return errno;
  gPosixCalls.close(fd);
  return 0;
}

}  // namespace platform
