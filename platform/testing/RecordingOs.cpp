#include "platform/testing/RecordingOs.h"

#include <errno.h>
#include <string.h>
#include <strings.h>

namespace platform {

RecordingOs::RecordingOs(Os* inner) : ForwardingOs(inner) {}

void RecordingOs::FailCall(uint64_t n) { faults_.FailNth(n); }
void RecordingOs::FailCall(Op op, uint64_t n) { faults_.FailNthOf(op, n); }
void RecordingOs::FailEvery(Op op) { faults_.FailEvery(op); }
void RecordingOs::ClearFaults() { faults_.Clear(); }

void RecordingOs::ClearLog() {
  calls_.clear();
  faults_.ResetCounts();
  output_.clear();
}

std::vector<Call> RecordingOs::CallsOf(Op op) const { return CallsOfOp(calls_, op); }
std::vector<Op> RecordingOs::Ops() const { return OpsOf(calls_); }

bool RecordingOs::Begin(Op op, const std::string& path, int64_t value) {
  if (betweenCalls) betweenCalls(calls_.size());
  calls_.push_back(Call{op, path, value, false});
  int32_t ignored;
  const bool fail = faults_.Next(op, &ignored);
  calls_.back().failed = fail;
  return fail;
}

std::string RecordingOs::PathOf(File file) const {
  auto it = files_.find(file);
  return it != files_.end() ? it->second : std::string("?");
}

std::string RecordingOs::PathOf(Dir dir) const {
  auto it = dirs_.find(dir);
  return it != dirs_.end() ? it->second : std::string("?");
}

void RecordingOs::Close(File file) {
  // A failed close still releases the file, as on both real systems.
  Begin(Op::kClose, PathOf(file), 0);
  files_.erase(file);
  inner_->Close(file);
}

int RecordingOs::RemoveEmptyDirectory(const char* path) {
  if (Begin(Op::kRemoveEmptyDirectory, path, 0)) return EIO;
  char current[4096];
  const bool stays = currentDirectoryStays && inner_->CurrentDirectory(current, sizeof current) == 0 &&
                     strcasecmp(current, path) == 0;
  const int error = stays ? EACCES : inner_->RemoveEmptyDirectory(path);
  if (error != 0) MarkFailed();
  return error;
}

int RecordingOs::NextEntry(Dir dir, char* name, uint32_t size) {
  if (Begin(Op::kNextEntry, "", size)) {
    ClearText(name, size);
    return EIO;
  }
  const int error = inner_->NextEntry(dir, name, size);
  if (error == 0) calls_.back().path = name;
  if (error != 0) MarkFailed();
  return error;
}

void RecordingOs::CloseDirectory(Dir dir) {
  Begin(Op::kCloseDirectory, PathOf(dir), 0);
  if (dir != nullptr) --openDirectories_;
  dirs_.erase(dir);
  inner_->CloseDirectory(dir);
}

int RecordingOs::InUse(const char* path, bool* held) {
  *held = false;
  if (Begin(Op::kInUse, path, 0)) return EIO;
  if (busy.count(path) != 0) {
    *held = true;
    return 0;
  }
  const int error = inner_->InUse(path, held);
  if (error != 0) MarkFailed();
  return error;
}

int RecordingOs::QueryDirectory(Dir dir, DirectoryInfo* info) {
  if (Begin(Op::kQueryDirectory, PathOf(dir), 0)) return EIO;
  const int error = inner_->QueryDirectory(dir, info);
  if (error != 0) {
    MarkFailed();
    return error;
  }
  if (directoryInfo) directoryInfo(PathOf(dir), info);
  return 0;
}

int RecordingOs::OpenSubdirectory(Dir parent, const char* name, Dir* dir) {
  // Logged by its name, remembered by its path.
  const int error = ForwardingOs::OpenSubdirectory(parent, name, dir);
  if (error == 0) dirs_[*dir] = PathOf(parent) + "\\" + name;
  return error;
}

int RecordingOs::InUseAt(Dir dir, const char* name, bool* held) {
  *held = false;
  if (Begin(Op::kInUseAt, name, 0)) return EIO;
  if (busy.count(PathOf(dir) + "\\" + name) != 0) {
    *held = true;
    return 0;
  }
  const int error = inner_->InUseAt(dir, name, held);
  if (error != 0) MarkFailed();
  return error;
}

// Simulated: the real lock is machine-wide, and test programs run side by side.
int RecordingOs::LockInstall() {
  if (Begin(Op::kLockInstall, "", 0)) return EIO;
  if (otherInstallerHoldsLock && !holdsInstallLock_) {
    MarkFailed();
    return EBUSY;
  }
  holdsInstallLock_ = true;
  return 0;
}

void RecordingOs::UnlockInstall() {
  Begin(Op::kUnlockInstall, "", 0);
  holdsInstallLock_ = false;
}

int RecordingOs::Launch(const char* commandLine) {
  if (Begin(Op::kLaunch, commandLine, 0)) return EIO;
  if (!launchSucceeds) {
    MarkFailed();
    return ENOENT;
  }
  return 0;
}

int RecordingOs::OpenDevice(const char* name) {
  if (Begin(Op::kOpenDevice, name, 0)) return EIO;
  if (devices.count(name) != 0) return 0;
  MarkFailed();
  return ENOENT;
}

void RecordingOs::Sleep(uint32_t milliseconds) { Begin(Op::kSleep, "", milliseconds); }

void RecordingOs::Print(const char* text) {
  if (Begin(Op::kPrint, text, 0)) return;
  output_ += text;
  if (forwardPrint) inner_->Print(text);
}

}  // namespace platform
