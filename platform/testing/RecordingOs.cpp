#include "platform/testing/RecordingOs.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

namespace platform {

RecordingOs::RecordingOs(Os* inner) : inner_(inner) {}

void RecordingOs::FailCall(uint64_t n) { failAt_ = n; }
void RecordingOs::FailCall(Op op, uint64_t n) { failOpAt_[op] = n; }
void RecordingOs::FailEvery(Op op) { failEvery_.insert(op); }

void RecordingOs::ClearFaults() {
  failAt_ = 0;
  failOpAt_.clear();
  failEvery_.clear();
  faultFired_ = false;
}

void RecordingOs::ClearLog() {
  calls_.clear();
  perOp_.clear();
  output_.clear();
  messages_.clear();
}

std::vector<Call> RecordingOs::CallsOf(Op op) const {
  std::vector<Call> result;
  for (const Call& call : calls_) {
    if (call.op == op) result.push_back(call);
  }
  return result;
}

std::vector<Op> RecordingOs::Ops() const {
  std::vector<Op> result;
  for (const Call& call : calls_) result.push_back(call.op);
  return result;
}

bool RecordingOs::Begin(Op op, const std::string& path, int64_t value) {
  if (betweenCalls) betweenCalls(calls_.size());
  calls_.push_back(Call{op, path, value, false});
  const uint64_t nth = ++perOp_[op];
  auto it = failOpAt_.find(op);
  const bool fail = calls_.size() == failAt_ || (it != failOpAt_.end() && it->second == nth) ||
                    failEvery_.count(op) != 0;
  if (fail) {
    calls_.back().failed = true;
    faultFired_ = true;
  }
  lastWasInjected_ = fail;
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

File RecordingOs::OpenRead(const char* path) {
  if (Begin(Op::kOpenRead, path, 0)) return nullptr;
  File file = inner_->OpenRead(path);
  if (file == nullptr) MarkFailed();
  else files_[file] = path;
  return file;
}

File RecordingOs::OpenWrite(const char* path) {
  if (Begin(Op::kOpenWrite, path, 0)) return nullptr;
  File file = inner_->OpenWrite(path);
  if (file == nullptr) MarkFailed();
  else files_[file] = path;
  return file;
}

int32_t RecordingOs::Read(File file, void* buffer, int32_t size) {
  if (Begin(Op::kRead, PathOf(file), size)) return -1;
  const int32_t got = inner_->Read(file, buffer, size);
  if (got < 0) MarkFailed();
  return got;
}

int32_t RecordingOs::Write(File file, const void* data, int32_t size) {
  if (Begin(Op::kWrite, PathOf(file), size)) return 0;
  const int32_t put = inner_->Write(file, data, size);
  if (put != size) MarkFailed();
  return put;
}

int64_t RecordingOs::Seek(File file, int64_t offset, SeekFrom from) {
  if (Begin(Op::kSeek, PathOf(file), offset)) return -1;
  const int64_t position = inner_->Seek(file, offset, from);
  if (position < 0) MarkFailed();
  return position;
}

void RecordingOs::Close(File file) {
  // A failed close still releases the file, as on both real systems.
  Begin(Op::kClose, PathOf(file), 0);
  files_.erase(file);
  inner_->Close(file);
}

int RecordingOs::MakeDirectory(const char* path) {
  if (Begin(Op::kMakeDirectory, path, 0)) return -1;
  const int result = inner_->MakeDirectory(path);
  if (result != 0) MarkFailed();
  return result;
}

int RecordingOs::MakePrivateDirectory(const char* path) {
  if (Begin(Op::kMakePrivateDirectory, path, 0)) return -1;
  const int result = inner_->MakePrivateDirectory(path);
  if (result != 0) MarkFailed();
  return result;
}

int RecordingOs::ChangeDirectory(const char* path) {
  if (Begin(Op::kChangeDirectory, path, 0)) return -1;
  const int result = inner_->ChangeDirectory(path);
  if (result != 0) MarkFailed();
  return result;
}

int RecordingOs::CurrentDirectory(char* buffer, uint32_t size) {
  if (Begin(Op::kCurrentDirectory, "", size)) {
    if (size > 0) buffer[0] = '\0';
    return -1;
  }
  const int result = inner_->CurrentDirectory(buffer, size);
  if (result != 0) MarkFailed();
  return result;
}

int RecordingOs::RemoveEmptyDirectory(const char* path) {
  if (Begin(Op::kRemoveEmptyDirectory, path, 0)) return -1;
  const int result = inner_->RemoveEmptyDirectory(path);
  if (result != 0) MarkFailed();
  return result;
}

int RecordingOs::RemoveFile(const char* path) {
  if (Begin(Op::kRemoveFile, path, 0)) return -1;
  const int result = inner_->RemoveFile(path);
  if (result != 0) MarkFailed();
  return result;
}

Dir RecordingOs::OpenDirectory(const char* path) {
  if (Begin(Op::kOpenDirectory, path, 0)) return nullptr;
  Dir dir = inner_->OpenDirectory(path);
  if (dir == nullptr) {
    MarkFailed();
  } else {
    ++openDirectories_;
    dirs_[dir] = path;
  }
  return dir;
}

int RecordingOs::EnterDirectory(Dir dir) {
  if (Begin(Op::kEnterDirectory, PathOf(dir), 0)) return -1;
  const int result = inner_->EnterDirectory(dir);
  if (result != 0) MarkFailed();
  return result;
}

int RecordingOs::NextEntry(Dir dir, char* name, uint32_t size) {
  if (Begin(Op::kNextEntry, "", size)) return 0;
  const int result = inner_->NextEntry(dir, name, size);
  if (result == 1) calls_.back().path = name;
  return result;
}

void RecordingOs::CloseDirectory(Dir dir) {
  Begin(Op::kCloseDirectory, PathOf(dir), 0);
  if (dir != nullptr) --openDirectories_;
  dirs_.erase(dir);
  inner_->CloseDirectory(dir);
}

int RecordingOs::GetAttributes(const char* path, Attributes* attributes) {
  if (Begin(Op::kGetAttributes, path, 0)) return -1;
  const int result = inner_->GetAttributes(path, attributes);
  if (result != 0) MarkFailed();
  return result;
}

int RecordingOs::ErrorNumber() {
  // A failed query reports an error number the real call would not have.
  const bool injected = lastWasInjected_;
  if (Begin(Op::kErrorNumber, "", 0) || injected) return EIO;
  return inner_->ErrorNumber();
}

int RecordingOs::InUse(const char* path) {
  if (Begin(Op::kInUse, path, 0)) return 0;
  if (busy.count(path) != 0) return 1;
  return inner_->InUse(path);
}

// Simulated: the real lock is machine-wide, and test programs run side by side.
int RecordingOs::LockInstall() {
  if (Begin(Op::kLockInstall, "", 0) || (otherInstallerHoldsLock && !holdsInstallLock_)) {
    MarkFailed();
    return -1;
  }
  holdsInstallLock_ = true;
  return 0;
}

void RecordingOs::UnlockInstall() {
  Begin(Op::kUnlockInstall, "", 0);
  holdsInstallLock_ = false;
}

int RecordingOs::Launch(const char* commandLine) {
  if (Begin(Op::kLaunch, commandLine, 0) || !launchSucceeds) {
    MarkFailed();
    return -1;
  }
  return 0;
}

int RecordingOs::OpenDevice(const char* name) {
  if (Begin(Op::kOpenDevice, name, 0)) return 0;
  if (devices.count(name) != 0) return 1;
  MarkFailed();
  return 0;
}

void RecordingOs::Sleep(uint32_t milliseconds) { Begin(Op::kSleep, "", milliseconds); }

void RecordingOs::ShowMessage(const char* text) {
  if (Begin(Op::kShowMessage, text, 0)) return;
  messages_.push_back(text);
  if (whileMessageShown) whileMessageShown(text);
}

void RecordingOs::Print(const char* format, va_list args) {
  va_list forward;
  va_copy(forward, args);
  char text[2048];
  vsnprintf(text, sizeof text, format, args);
  if (!Begin(Op::kPrint, text, 0)) {
    output_ += text;
    if (forwardPrint) inner_->Print(format, forward);
  }
  va_end(forward);
}

}  // namespace platform
