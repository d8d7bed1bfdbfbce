// Test double for the OS seam: records every call, fails any call on demand
// (the Nth call overall, the Nth call of one operation, or every call of an
// operation), and simulates what tests must not really do: launching
// programs, sleeping, showing modal messages and probing devices.
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

namespace platform {

struct Call {
  Op op;
  std::string path;  // the path or name; for file operations, the file's path
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
  bool FaultFired() const { return faultFired_; }

  // What happened.
  uint64_t CallCount() const { return calls_.size(); }
  const std::vector<Call>& Calls() const { return calls_; }
  std::vector<Call> CallsOf(Op op) const;
  std::vector<Op> Ops() const;
  const std::string& Output() const { return output_; }  // all Print text
  const std::vector<std::string>& Messages() const { return messages_; }
  int OpenFiles() const { return static_cast<int>(files_.size()); }
  int OpenDirectories() const { return openDirectories_; }
  void ClearLog();

  // Simulated services.
  std::set<std::string> devices;   // OpenDevice succeeds for these names
  std::set<std::string> busy;      // InUse reports these paths held
  bool otherInstallerHoldsLock = false;
  bool HoldsInstallLock() const { return holdsInstallLock_; }
  // Runs before each call, with the number of calls made so far: a test's
  // way to change the file system between two calls of the logic.
  std::function<void(uint64_t callsSoFar)> betweenCalls;
  bool launchSucceeds = true;
  bool forwardPrint = false;       // also print through the inner backend
  // Runs while a message is shown, as the message box's nested loop would
  // deliver what was waiting (a queued click, say).
  std::function<void(const std::string& text)> whileMessageShown;

  File OpenRead(const char* path) override;
  File OpenWrite(const char* path) override;
  int32_t Read(File file, void* buffer, int32_t size) override;
  int32_t Write(File file, const void* data, int32_t size) override;
  int64_t Seek(File file, int64_t offset, SeekFrom from) override;
  void Close(File file) override;
  int MakeDirectory(const char* path) override;
  int MakePrivateDirectory(const char* path) override;
  int ChangeDirectory(const char* path) override;
  int CurrentDirectory(char* buffer, uint32_t size) override;
  int RemoveEmptyDirectory(const char* path) override;
  int RemoveFile(const char* path) override;
  Dir OpenDirectory(const char* path) override;
  int EnterDirectory(Dir dir) override;
  int NextEntry(Dir dir, char* name, uint32_t size) override;
  void CloseDirectory(Dir dir) override;
  int GetAttributes(const char* path, Attributes* attributes) override;
  int ErrorNumber() override;
  int InUse(const char* path) override;
  int LockInstall() override;
  void UnlockInstall() override;
  int Launch(const char* commandLine) override;
  int OpenDevice(const char* name) override;
  void Sleep(uint32_t milliseconds) override;
  void ShowMessage(const char* text) override;
  void Print(const char* format, va_list args) override PLATFORM_PRINTF(2, 0);

 private:
  // Logs the call and tells whether it is to fail.
  bool Begin(Op op, const std::string& path, int64_t value);
  void MarkFailed() { calls_.back().failed = true; }
  std::string PathOf(File file) const;
  std::string PathOf(Dir dir) const;

  Os* inner_;
  std::vector<Call> calls_;
  std::map<Op, uint64_t> perOp_;
  uint64_t failAt_ = 0;
  std::map<Op, uint64_t> failOpAt_;
  std::set<Op> failEvery_;
  bool faultFired_ = false;
  bool lastWasInjected_ = false;
  std::map<File, std::string> files_;
  std::map<Dir, std::string> dirs_;
  int openDirectories_ = 0;
  bool holdsInstallLock_ = false;
  std::string output_;
  std::vector<std::string> messages_;
};

}  // namespace platform
