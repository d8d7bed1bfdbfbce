// Test double for the OS seam: records every call, fails any call on demand
// (the Nth call overall, the Nth call of one operation, or every call of an
// operation), and simulates what tests must not really do: launching
// programs, sleeping and probing devices, the lock, and which paths are in
// use. File-system operations go to an inner backend (POSIX or Win32)
// unless they are failed: the ones not declared here pass through
// ForwardingOs.
#pragma once

#include <errno.h>
#include <stdint.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/Os.h"
#include "platform/testing/FaultPlan.h"
#include "platform/testing/ForwardingOs.h"

namespace platform {

struct Call {
  Op op;
  // The path or name (for the ...At operations, the entry's bare name); for
  // file operations, the file's path.
  std::string path;
  int64_t value;     // size, offset or milliseconds, where the operation has one
  bool failed;       // injected or real failure
};

class RecordingOs final : public ForwardingOs<RecordingOs> {
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
  // Runs after QueryDirectory has filled info for the held directory known
  // as path (as opened, or its parent's path, a backslash and its name): a
  // test's way to play owners and ACLs the host cannot make.
  std::function<void(const std::string& path, DirectoryInfo* info)> directoryInfo;
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

  // Simulated, or tracked beyond the log.
  void Close(File file) override;
  int RemoveEmptyDirectory(const char* path) override;
  int NextEntry(Dir dir, char* name, uint32_t size) override;
  void CloseDirectory(Dir dir) override;
  int InUse(const char* path, bool* held) override;
  int QueryDirectory(Dir dir, DirectoryInfo* info) override;
  int OpenSubdirectory(Dir parent, const char* name, Dir* dir) override;
  int InUseAt(Dir dir, const char* name, bool* held) override;
  int LockInstall() override;
  void UnlockInstall() override;
  int Launch(const char* commandLine) override;
  int OpenDevice(const char* name) override;
  void Sleep(uint32_t milliseconds) override;
  void Print(const char* text) override;

 private:
  friend class ForwardingOs<RecordingOs>;

  // Every other operation: logged with its path or name (a file's or a
  // held directory's as it was opened) and its size, offset or time,
  // failed with EIO as planned, else done by the inner backend and marked
  // failed when it fails. Opened files and directories are remembered by
  // the path they were opened by.
  template <typename Call, typename Failure, typename Arguments>
  auto Pass(Op op, Call call, Failure failure, const Arguments& arguments) {
    std::string path;
    int64_t value = 0;
    std::apply([&](auto&... argument) { (LogEntryOf(argument, &path, &value), ...); }, arguments);
    if (Begin(op, path, value)) return failure(EIO);
    if constexpr (std::is_void_v<decltype(call())>) {
      return call();
    } else {
      const auto result = call();
      if (result != 0) {
        MarkFailed();
      } else {
        std::apply([&](auto&... argument) { (Remember(argument, path), ...); }, arguments);
      }
      return result;
    }
  }
  // What a call's argument adds to its log entry: the last path or name
  // given, else the file's or directory's path; a size, offset or time.
  void LogEntryOf(const char* text, std::string* path, int64_t*) const { *path = text; }
  void LogEntryOf(File file, std::string* path, int64_t*) const { *path = PathOf(file); }
  void LogEntryOf(Dir dir, std::string* path, int64_t*) const { *path = PathOf(dir); }
  void LogEntryOf(int32_t number, std::string*, int64_t* value) const { *value = number; }
  void LogEntryOf(uint32_t number, std::string*, int64_t* value) const { *value = number; }
  void LogEntryOf(int64_t number, std::string*, int64_t* value) const { *value = number; }
  void LogEntryOf(char*, std::string*, int64_t*) const {}  // a buffer to fill
  template <typename Other>
  void LogEntryOf(const Other&, std::string*, int64_t*) const {}
  // A file or directory an operation opened, by the path of its log entry.
  void Remember(File* file, const std::string& path) { files_[*file] = path; }
  void Remember(Dir* dir, const std::string& path) {
    ++openDirectories_;
    dirs_[*dir] = path;
  }
  template <typename Other>
  void Remember(const Other&, const std::string&) {}

  // Logs the call and tells whether it is to fail.
  bool Begin(Op op, const std::string& path, int64_t value);
  void MarkFailed() { calls_.back().failed = true; }
  std::string PathOf(File file) const;
  std::string PathOf(Dir dir) const;

  std::vector<Call> calls_;
  FaultPlan<Op> faults_;
  std::map<File, std::string> files_;
  std::map<Dir, std::string> dirs_;
  int openDirectories_ = 0;
  bool holdsInstallLock_ = false;
  std::string output_;
};

}  // namespace platform
