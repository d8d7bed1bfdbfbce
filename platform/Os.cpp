#include "platform/Os.h"

#include <errno.h>

namespace platform {
namespace {

// Stands in until a host installs a backend: every operation fails, so a
// missing SetOs shows up as failures rather than as a crash.
class NoOs final : public Os {
 public:
  File OpenRead(const char*) override { return nullptr; }
  File OpenWrite(const char*) override { return nullptr; }
  int32_t Read(File, void*, int32_t) override { return -1; }
  int32_t Write(File, const void*, int32_t) override { return 0; }
  int64_t Seek(File, int64_t, SeekFrom) override { return -1; }
  void Close(File) override {}
  int MakeDirectory(const char*) override { return -1; }
  int MakePrivateDirectory(const char*) override { return -1; }
  int ChangeDirectory(const char*) override { return -1; }
  int CurrentDirectory(char* buffer, uint32_t size) override {
    if (size > 0) buffer[0] = '\0';
    return -1;
  }
  int RemoveEmptyDirectory(const char*) override { return -1; }
  int RemoveFile(const char*) override { return -1; }
  Dir OpenDirectory(const char*) override { return nullptr; }
  int EnterDirectory(Dir) override { return -1; }
  int NextEntry(Dir, char*, uint32_t) override { return 0; }
  void CloseDirectory(Dir) override {}
  int GetAttributes(const char*, Attributes*) override { return -1; }
  int ErrorNumber() override { return ENOSYS; }
  int InUse(const char*) override { return 0; }
  int LockInstall() override { return -1; }
  void UnlockInstall() override {}
  int Launch(const char*) override { return -1; }
  int OpenDevice(const char*) override { return 0; }
  void Sleep(uint32_t) override {}
  void ShowMessage(const char*) override {}
  void Print(const char*, va_list) override {}
};

NoOs gNoOs;
Os* gOs = &gNoOs;

}  // namespace

Os& GetOs() { return *gOs; }

Os* SetOs(Os* os) {
  Os* previous = gOs;
  gOs = os != nullptr ? os : &gNoOs;
  return previous;
}

void PrintDiagnostic(const char* format, ...) {
  va_list args;
  va_start(args, format);
  gOs->Print(format, args);
  va_end(args);
}

const char* OpName(Op op) {
  static const char* const kNames[] = {
      "OpenRead",      "OpenWrite",     "Read",
      "Write",         "Seek",          "Close",
      "MakeDirectory", "MakePrivateDirectory", "ChangeDirectory",
      "CurrentDirectory", "RemoveEmptyDirectory", "RemoveFile",
      "OpenDirectory", "EnterDirectory", "NextEntry",
      "CloseDirectory", "GetAttributes", "ErrorNumber",
      "InUse",         "LockInstall",   "UnlockInstall",
      "Launch",        "OpenDevice",    "Sleep",
      "ShowMessage",   "Print"};
  static_assert(sizeof(kNames) / sizeof(kNames[0]) == static_cast<int>(Op::kCount),
                "one name per operation");
  const int index = static_cast<int>(op);
  return index >= 0 && index < static_cast<int>(Op::kCount) ? kNames[index] : "?";
}

}  // namespace platform
