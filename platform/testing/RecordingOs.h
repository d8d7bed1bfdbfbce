// Test double for the OS seam: records every call, fails any call on demand
// (the Nth call overall, the Nth call of one operation, or every call of an
// operation), and simulates what tests must not really do: launching
// programs, sleeping and probing devices.
// File-system operations go to an inner backend (POSIX or Win32) unless
// they are failed.
#pragma once

#include <stdint.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/Os.h"
#include "platform/testing/FaultPlan.h"

namespace platform {

struct Call {
  Op op;
  // The path or name (for the ...At operations, the entry's bare name); for
  // file operations, the file's path.
  std::string path;
  int64_t value;     // size, offset or milliseconds, where the operation has one
  bool failed;       // injected or real failure
};

class RecordingOs final : public Os {
 public:
  explicit RecordingOs(Os* inner);

  // Fault injection. Calls are numbered from 1 in the order they are made.
  void FailCall(uint64_t n);           // the Nth call of any operation
  void FailCall(Op op, uint64_t n);    // the Nth call of one operation
  void FailEvery(Op op);               // every call of op from now on
  void ClearFaults();
  bool FaultFired() const { return faults_.Fired(); }

  // What happened.
  uint64_t CallCount() const { return calls_.size(); }
  const std::vector<Call>& Calls() const { return calls_; }
  std::vector<Call> CallsOf(Op op) const;
  std::vector<Op> Ops() const;
  const std::string& Output() const { return output_; }  // all Print text
  int OpenFiles() const { return static_cast<int>(files_.size()); }
  int OpenDirectories() const { return openDirectories_; }
  void ClearLog();

  // Simulated services.
  std::set<std::string> devices;   // OpenDevice succeeds for these names
  // InUse reports these paths held, InUseAt these paths of entries (the
  // held directory's path as it was opened, a backslash, the name).
  std::set<std::string> busy;
  bool otherInstallerHoldsLock = false;
  bool HoldsInstallLock() const { return holdsInstallLock_; }
  // Runs before each call, with the number of calls made so far: a test's
  // way to change the file system between two calls of the logic.
  std::function<void(uint64_t callsSoFar)> betweenCalls;
  bool launchSucceeds = true;
  // As Windows, which POSIX and Wine are not here: RemoveEmptyDirectory
  // fails for the process's current directory.
  bool currentDirectoryStays = false;
  bool forwardPrint = false;       // also print through the inner backend

  PLATFORM_OS_OVERRIDES

 private:
  // Logs the call and tells whether it is to fail.
  bool Begin(Op op, const std::string& path, int64_t value);
  void MarkFailed() { calls_.back().failed = true; }
  // The common shape of a forwarded call: logged, failed as planned with
  // the given result, else done by the inner backend and marked failed
  // when succeeded() says it did not.
  template <typename Result, typename Call, typename Succeeded>
  Result Forward(Op op, const std::string& path, int64_t value, Result failed, Call call,
                 Succeeded succeeded) {
    if (Begin(op, path, value)) return failed;
    const Result result = call();
    if (!succeeded(result)) MarkFailed();
    return result;
  }
  // For the operations that return 0 on success and -1 on failure.
  template <typename Call>
  int ForwardStatus(Op op, const std::string& path, Call call) {
    return Forward(op, path, 0, -1, call, [](int result) { return result == 0; });
  }
  std::string PathOf(File file) const;
  std::string PathOf(Dir dir) const;

  Os* inner_;
  std::vector<Call> calls_;
  FaultPlan<Op> faults_;
  bool lastWasInjected_ = false;
  std::map<File, std::string> files_;
  std::map<Dir, std::string> dirs_;
  int openDirectories_ = 0;
  bool holdsInstallLock_ = false;
  std::string output_;
};

}  // namespace platform
