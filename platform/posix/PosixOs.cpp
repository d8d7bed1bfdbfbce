// The POSIX backend itself: the process's host backend, sleep and output.
#include "platform/posix/PosixOs.h"

#include <errno.h>
#include <stdio.h>
#include <time.h>

#include "platform/HostOs.h"
#include "platform/posix/PosixCalls.h"

namespace platform {

Os& HostOs() {
  static PosixOs os("/");
  return os;
}

void PosixOs::Sleep(uint32_t milliseconds) {
  struct timespec delay;
  delay.tv_sec = milliseconds / 1000;
  delay.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (gPosixCalls.nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

void PosixOs::Print(const char* text) {
  gPosixCalls.fputs(text, stdout);
  gPosixCalls.fflush(stdout);
}

}  // namespace platform
