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

int64_t OpenDescriptors() {
  int64_t count = 0;
  if (DIR* fds = opendir("/proc/self/fd")) {
    while (readdir(fds) != nullptr) ++count;
    closedir(fds);
  }
  return count;
}

}  // namespace

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

void SystemCallFaults::Start(uint64_t failAt) {
  failAt_ = failAt;
  calls_ = 0;
  running_ = false;
  fired_ = false;
  failedCall_ = "";
  held_ = 0;
  startDescriptors_ = OpenDescriptors();
}

void SystemCallFaults::Resume() { running_ = true; }
void SystemCallFaults::Pause() { running_ = false; }

int64_t SystemCallFaults::Held() const { return OpenDescriptors() - startDescriptors_; }

}  // namespace testing_support
