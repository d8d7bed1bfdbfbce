// The stand-ins for the POSIX backend's table, gPosixCalls.
#include <dirent.h>
#include <errno.h>
#include <string.h>

#include "platform/posix/PosixCalls.h"
#include "tests/support/SystemCallFaults.h"

namespace testing_support {

const int kInjectedError = EIO;

namespace {

SystemCallFaults* gFaults = nullptr;
platform::PosixCalls gSystem;  // the entries the stand-ins replaced

// Linux releases the descriptor even when close reports an error.
bool ReleasesAnyway(const char* call) { return strcmp(call, "close") == 0; }

#define STAND_IN(name, result, parameters, arguments, failure)      \
  result StandIn_##name parameters {                                \
    if (gFaults->Next(#name)) {                                     \
      if (ReleasesAnyway(#name)) gSystem.name arguments;            \
      errno = kInjectedError;                                       \
      return failure;                                               \
    }                                                               \
    return gSystem.name arguments;                                  \
  }
PLATFORM_POSIX_CALLS(STAND_IN)
#undef STAND_IN

}  // namespace

int64_t SystemCallFaults::OpenDescriptors() {
  int64_t count = 0;
  if (DIR* fds = opendir("/proc/self/fd")) {
    while (readdir(fds) != nullptr) ++count;
    closedir(fds);
  }
  return count;
}

SystemCallFaults::SystemCallFaults() {
  gFaults = this;
  gSystem = platform::gPosixCalls;
#define INSTALL(name, result, parameters, arguments, failure) platform::gPosixCalls.name = StandIn_##name;
  PLATFORM_POSIX_CALLS(INSTALL)
#undef INSTALL
}

SystemCallFaults::~SystemCallFaults() {
  platform::gPosixCalls = gSystem;
  gFaults = nullptr;
}

}  // namespace testing_support
