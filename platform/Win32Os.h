// The Win32 backend: the product's own file system, process launch, device
// open, sleep, message box and standard output, on the ANSI Win32 calls.
#pragma once

#include "platform/Os.h"

namespace platform {

class Win32Os final : public Os {
 public:
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
  int Fail();  // records the last Win32 error as an errno value, returns -1
  // Any operation but a query right after NextEntry forgets the entry the
  // enumeration just yielded: the file system may have changed since.
  void Forget();

  int lastError_ = 0;
  void* installLock_ = nullptr;  // the mutex, while held
  // The directory last entered, while it is the current one for sure.
  const void* entered_ = nullptr;
  // The enumeration, held and current, whose last name was just yielded.
  const void* yielded_ = nullptr;
};

// The one Win32 backend of the process.
Win32Os& TheWin32Os();

// From here on, DLLs this process loads by name (its own loads and those
// of the system's DLLs) come from the system directory only, never from
// the program's folder (a downloads folder, where anyone may have put a
// DLL) or the current directory. The program's first act.
void RestrictDllSearchToSystem();

}  // namespace platform
