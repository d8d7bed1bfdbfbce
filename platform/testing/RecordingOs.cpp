#include "platform/testing/RecordingOs.h"

#include <errno.h>
#include <string.h>
#include <strings.h>

namespace platform {
namespace {

bool Valid(const void* handle) { return handle != nullptr; }

}  // namespace

RecordingOs::RecordingOs(Os* inner) : inner_(inner) {}

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
  File file = Forward(Op::kOpenRead, path, 0, File{}, [&] { return inner_->OpenRead(path); }, Valid);
  if (file != nullptr) files_[file] = path;
  return file;
}

File RecordingOs::OpenWrite(const char* path) {
  File file = Forward(Op::kOpenWrite, path, 0, File{}, [&] { return inner_->OpenWrite(path); }, Valid);
  if (file != nullptr) files_[file] = path;
  return file;
}

int32_t RecordingOs::Read(File file, void* buffer, int32_t size) {
  return Forward(Op::kRead, PathOf(file), size, -1, [&] { return inner_->Read(file, buffer, size); },
                 [](int32_t got) { return got >= 0; });
}

int32_t RecordingOs::Write(File file, const void* data, int32_t size) {
  return Forward(Op::kWrite, PathOf(file), size, 0, [&] { return inner_->Write(file, data, size); },
                 [size](int32_t put) { return put == size; });
}

int64_t RecordingOs::Seek(File file, int64_t offset, SeekFrom from) {
  return Forward(Op::kSeek, PathOf(file), offset, int64_t{-1},
                 [&] { return inner_->Seek(file, offset, from); },
                 [](int64_t position) { return position >= 0; });
}

void RecordingOs::Close(File file) {
  // A failed close still releases the file, as on both real systems.
  Begin(Op::kClose, PathOf(file), 0);
  files_.erase(file);
  inner_->Close(file);
}

int RecordingOs::DigestFile(File file, unsigned char* digest) {
  return ForwardStatus(Op::kDigestFile, PathOf(file), [&] { return inner_->DigestFile(file, digest); });
}

int RecordingOs::MakeDirectory(const char* path) {
  return ForwardStatus(Op::kMakeDirectory, path, [&] { return inner_->MakeDirectory(path); });
}

int RecordingOs::MakePrivateDirectory(const char* path) {
  return ForwardStatus(Op::kMakePrivateDirectory, path,
                       [&] { return inner_->MakePrivateDirectory(path); });
}

int RecordingOs::ChangeDirectory(const char* path) {
  return ForwardStatus(Op::kChangeDirectory, path, [&] { return inner_->ChangeDirectory(path); });
}

int RecordingOs::CurrentDirectory(char* buffer, uint32_t size) {
  if (size > 0) buffer[0] = '\0';  // as the real ones leave it on failure
  return Forward(Op::kCurrentDirectory, "", size, -1,
                 [&] { return inner_->CurrentDirectory(buffer, size); },
                 [](int result) { return result == 0; });
}

int RecordingOs::RemoveEmptyDirectory(const char* path) {
  return ForwardStatus(Op::kRemoveEmptyDirectory, path, [&] {
    char current[4096];
    if (currentDirectoryStays && inner_->CurrentDirectory(current, sizeof current) == 0 &&
        strcasecmp(current, path) == 0) {
      return -1;
    }
    return inner_->RemoveEmptyDirectory(path);
  });
}

Dir RecordingOs::OpenDirectory(const char* path) {
  Dir dir = Forward(Op::kOpenDirectory, path, 0, Dir{}, [&] { return inner_->OpenDirectory(path); },
                    Valid);
  if (dir != nullptr) {
    ++openDirectories_;
    dirs_[dir] = path;
  }
  return dir;
}

int RecordingOs::EnterDirectory(Dir dir) {
  return ForwardStatus(Op::kEnterDirectory, PathOf(dir), [&] { return inner_->EnterDirectory(dir); });
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
  return ForwardStatus(Op::kGetAttributes, path,
                       [&] { return inner_->GetAttributes(path, attributes); });
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

Dir RecordingOs::OpenSubdirectory(Dir parent, const char* name) {
  Dir dir = Forward(Op::kOpenSubdirectory, name, 0, Dir{},
                    [&] { return inner_->OpenSubdirectory(parent, name); }, Valid);
  if (dir != nullptr) {
    ++openDirectories_;
    dirs_[dir] = PathOf(parent) + "\\" + name;
  }
  return dir;
}

int RecordingOs::GetAttributesAt(Dir dir, const char* name, Attributes* attributes) {
  return ForwardStatus(Op::kGetAttributesAt, name,
                       [&] { return inner_->GetAttributesAt(dir, name, attributes); });
}

int RecordingOs::RemoveFileAt(Dir dir, const char* name) {
  return ForwardStatus(Op::kRemoveFileAt, name, [&] { return inner_->RemoveFileAt(dir, name); });
}

int RecordingOs::RemoveEmptyDirectoryAt(Dir dir, const char* name) {
  return ForwardStatus(Op::kRemoveEmptyDirectoryAt, name,
                       [&] { return inner_->RemoveEmptyDirectoryAt(dir, name); });
}

int RecordingOs::InUseAt(Dir dir, const char* name) {
  if (Begin(Op::kInUseAt, name, 0)) return 0;
  if (busy.count(PathOf(dir) + "\\" + name) != 0) return 1;
  return inner_->InUseAt(dir, name);
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

void RecordingOs::Print(const char* text) {
  if (Begin(Op::kPrint, text, 0)) return;
  output_ += text;
  if (forwardPrint) inner_->Print(text);
}

}  // namespace platform
