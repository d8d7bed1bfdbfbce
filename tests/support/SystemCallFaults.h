// Fails the system calls of the build's real backend one at a time, through
// the backend's own table of them (platform/posix/PosixCalls.h,
// platform/win32/Win32Calls.h): the backend sweeps' tool.
//
// While one exists, every entry of the table is a stand-in that passes the
// call on. While a run is resumed, the stand-ins count the calls and make
// the failAt-th fail as the system would: its failure result, with errno
// (natively) or the last error (Windows) set to an error of its own
// (kInjectedError). A call that gives something back (close, CloseHandle,
// LocalFree...) gives it back all the same when made to fail, as the
// systems do; calls without a result never fail.
#pragma once

#include <stdint.h>

namespace testing_support {

class SystemCallFaults {
 public:
  SystemCallFaults();
  ~SystemCallFaults();
  SystemCallFaults(const SystemCallFaults&) = delete;
  SystemCallFaults& operator=(const SystemCallFaults&) = delete;

  // A new run, paused, that fails the failAt-th call counted (0: none).
  void Start(uint64_t failAt);
  void Resume() { running_ = true; }  // counts the calls from here...
  void Pause() { running_ = false; }  // ...to here
  bool Fired() const { return fired_; }
  // The call made to fail, "" before.
  const char* FailedCall() const { return failedCall_; }
  // What the backend got from the system while the run was resumed and
  // has not given back: natively descriptors (memory: AddressSanitizer);
  // on Windows handles, security descriptors, crypt contexts and blocks
  // of memory.
  int64_t Held() const;

  // The stand-ins' side: whether the next call, of that name, is to fail;
  // something got (1) or given back (-1) while resumed.
  bool Next(const char* call);
  void Account(int64_t delta) {
    if (running_) held_ += delta;
  }

 private:
  // The descriptors this process holds now, where the stand-ins do not
  // count them themselves (natively); 0 on Windows.
  static int64_t OpenDescriptors();

  uint64_t failAt_ = 0;
  uint64_t calls_ = 0;
  bool running_ = false;
  bool fired_ = false;
  const char* failedCall_ = "";  // not a string: the stand-ins must not allocate
  int64_t held_ = 0;
  int64_t startDescriptors_ = 0;
};

// The error number the backend reports for an injected failure: what it
// makes of the error the stand-ins set.
extern const int kInjectedError;

}  // namespace testing_support
