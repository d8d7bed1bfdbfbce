// The narrow seam between the installer's logic and the operating system.
//
// Everything the logic needs from the file system, process launch, device
// open, sleep, the user-message box and standard output goes through one
// table of operations. Backends: Win32 (the product), POSIX (native tools,
// tests and fuzzing) and the recording, fault-injecting double in testing/.
// Paths are always Windows paths ("c:\ZUV_tmp", "drivers\x.sys"); a backend
// maps them as its platform needs. No OS type ever crosses this header.
#pragma once

#include <stdarg.h>
#include <stdint.h>

#if defined(__GNUC__)
#define PLATFORM_PRINTF(format_index, args_index) \
  __attribute__((format(printf, format_index, args_index)))
#else
#define PLATFORM_PRINTF(format_index, args_index)
#endif

namespace platform {

struct FileTag;
using File = FileTag*;  // nullptr: not opened
struct DirTag;
using Dir = DirTag*;    // nullptr: not opened

enum class SeekFrom { kStart, kCurrent, kEnd };

struct Attributes {
  bool directory;
  bool link;       // symbolic link, junction or any other reparse point
  bool readOnly;
};

// Operation identities, for the test double's log and fault injection.
enum class Op {
  kOpenRead,
  kOpenWrite,
  kRead,
  kWrite,
  kSeek,
  kClose,
  kMakeDirectory,
  kMakePrivateDirectory,
  kChangeDirectory,
  kCurrentDirectory,
  kRemoveEmptyDirectory,
  kRemoveFile,
  kOpenDirectory,
  kEnterDirectory,
  kNextEntry,
  kCloseDirectory,
  kGetAttributes,
  kErrorNumber,
  kInUse,
  kLockInstall,
  kUnlockInstall,
  kLaunch,
  kOpenDevice,
  kSleep,
  kShowMessage,
  kPrint,
  kCount
};
const char* OpName(Op op);

class Os {
 public:
  // Files, always binary. Read returns the bytes read (0 at the end), -1 on
  // error; Write returns the bytes accepted. Seek returns the new absolute
  // position, or -1 (and does not move) when it fails or would go before
  // the start.
  virtual File OpenRead(const char* path) = 0;
  virtual File OpenWrite(const char* path) = 0;  // create or truncate
  virtual int32_t Read(File file, void* buffer, int32_t size) = 0;
  virtual int32_t Write(File file, const void* data, int32_t size) = 0;
  virtual int64_t Seek(File file, int64_t offset, SeekFrom from) = 0;
  virtual void Close(File file) = 0;

  // Directories. Results are 0 on success, -1 on failure (ErrorNumber says why).
  virtual int MakeDirectory(const char* path) = 0;  // one level
  // Like MakeDirectory, but only the administrators, the system and the
  // current user may write to it: nobody else can plant files in it.
  virtual int MakePrivateDirectory(const char* path) = 0;
  virtual int ChangeDirectory(const char* path) = 0;
  // Fails, leaving buffer[0] == 0, when the path needs more than size bytes.
  virtual int CurrentDirectory(char* buffer, uint32_t size) = 0;
  virtual int RemoveEmptyDirectory(const char* path) = 0;  // an empty one only
  virtual int RemoveFile(const char* path) = 0;       // a read-only file stays

  // One directory, held open: the directory itself, never a link's or a
  // junction's target. Fails when the last component of path is not a
  // plain directory at the moment it is opened; a relative path is taken
  // from the current directory as the object it is, not by its name. While
  // it is held nobody can rename, remove or replace it (Windows), so its
  // name and those below it stay what they were when it was opened.
  // NextEntry yields its names, "." and ".." included: 1 with a name, 0 at
  // the end; a name that does not fit size bytes is skipped, never cut.
  virtual Dir OpenDirectory(const char* path) = 0;
  // Makes the held directory the current one, and checks that the current
  // directory then is that very object. -1 when that cannot be made sure:
  // nothing may be done by bare name until a directory is entered again.
  virtual int EnterDirectory(Dir dir) = 0;
  virtual int NextEntry(Dir dir, char* name, uint32_t size) = 0;
  virtual void CloseDirectory(Dir dir) = 0;
  // Attributes of the name itself: a link is reported, never followed.
  virtual int GetAttributes(const char* path, Attributes* attributes) = 0;
  // The C library's errno value for the last failed operation.
  virtual int ErrorNumber() = 0;
  // 1 when another process holds path so that it cannot be deleted now: a
  // program running from it, a file opened without delete sharing, a
  // directory that is another process's current one. 0 otherwise, also
  // when path does not exist.
  virtual int InUse(const char* path) = 0;

  // The machine-wide claim on "c:\ZUV_tmp" that one installer holds from
  // unpacking until its own clean-up has ended. LockInstall: 0 when this
  // process holds it (already, or from now on), -1 while another process
  // holds it. UnlockInstall gives it up; a process that ends gives it up.
  virtual int LockInstall() = 0;
  virtual void UnlockInstall() = 0;

  // Starts a program with a normal window and does not wait for it; the
  // command line is the path alone. Returns 0 when it started, -1 if not.
  virtual int Launch(const char* commandLine) = 0;
  // Opens a device by name with no access rights and no sharing, and closes
  // it at once. 1 when it could be opened, 0 when not.
  virtual int OpenDevice(const char* name) = 0;
  virtual void Sleep(uint32_t milliseconds) = 0;

  // The modal message box for the installer's own messages to the user.
  virtual void ShowMessage(const char* text) = 0;
  // Formatted output to standard output (the diagnostics).
  virtual void Print(const char* format, va_list args) PLATFORM_PRINTF(2, 0) = 0;

 protected:
  ~Os() = default;
};

// The process-wide backend. The host program installs one before any logic
// runs; tests swap in their doubles. SetOs returns the previous one.
Os& GetOs();
Os* SetOs(Os* os);

// printf-style front end for Os::Print.
void PrintDiagnostic(const char* format, ...) PLATFORM_PRINTF(1, 2);

}  // namespace platform
