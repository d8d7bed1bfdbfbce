#include "platform/Win32Os.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <sddl.h>
#include <wincrypt.h>

#include "platform/EntryName.h"
#include "platform/ReadAhead.h"
#include "platform/Sha256.h"
#include "platform/win32/Win32Calls.h"
#include "platform/win32/Win32Security.h"

namespace platform {
namespace {

// An open file; one opened for reading is read ahead (ReadAhead.h).
struct Win32File {
  HANDLE handle;
  ReadAhead ahead;
};

Win32File* ToWin32(File file) { return reinterpret_cast<Win32File*>(file); }

// Takes over handle; nullptr (handle closed) when out of memory.
File NewFile(HANDLE handle, bool readAhead) {
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  Win32File* file = static_cast<Win32File*>(malloc(sizeof(Win32File)));
  if (file != nullptr) *file = Win32File{handle, ReadAhead{}};
  if (file == nullptr || (readAhead && !file->ahead.Allocate())) {
    free(file);
    CloseHandle(handle);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return reinterpret_cast<File>(file);
}

// A directory held open for the walk: the handle pins the directory (no
// delete sharing: it cannot be renamed, removed or replaced while held),
// the find handle enumerates it, and path is its full name, which stays
// its own while this and every directory above it are held.
struct FindState {
  HANDLE directory;
  HANDLE find;
  bool pending;  // FindFirstFileA already delivered the first entry
  BY_HANDLE_FILE_INFORMATION identity;
  char path[MAX_PATH];
  WIN32_FIND_DATAA data;
};

bool SameObject(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

bool IsPlainDirectory(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// The name itself, never what a reparse point leads to.
HANDLE OpenNoFollow(const char* path, DWORD access, DWORD share) {
  return CreateFileA(path, access, share, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

int ErrnoFromWin32(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_CURRENT_DIRECTORY:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    default:
      return EINVAL;
  }
}


}  // namespace

void Win32Os::Forget() { yielded_ = nullptr; }

Win32Os& TheWin32Os() {
  static Win32Os os;
  return os;
}

int Win32Os::Fail() {
  lastError_ = ErrnoFromWin32(GetLastError());
  return -1;
}

File Win32Os::OpenRead(const char* path) {
  Forget();
  HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  File file = NewFile(handle, true);
  if (file == nullptr) Fail();
  return file;
}

File Win32Os::OpenWrite(const char* path) {
  Forget();
  HANDLE handle = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  File file = NewFile(handle, false);
  if (file == nullptr) Fail();
  return file;
}

int32_t Win32Os::Read(File handle, void* buffer, int32_t size) {
  Forget();
  if (handle == nullptr || size < 0) return -1;
  Win32File* file = ToWin32(handle);
  return file->ahead.Read(buffer, size, [&](char* into, int32_t want) -> int32_t {
    DWORD got = 0;
    if (!ReadFile(file->handle, into, static_cast<DWORD>(want), &got, nullptr)) return Fail();
    return static_cast<int32_t>(got);
  });
}

int32_t Win32Os::Write(File file, const void* data, int32_t size) {
  Forget();
  if (file == nullptr || size < 0) return 0;
  DWORD put = 0;
  if (!WriteFile(ToWin32(file)->handle, data, static_cast<DWORD>(size), &put, nullptr)) Fail();
  return static_cast<int32_t>(put);
}

int64_t Win32Os::Seek(File handle, int64_t offset, SeekFrom from) {
  Forget();
  if (handle == nullptr) return -1;
  Win32File* file = ToWin32(handle);
  LARGE_INTEGER distance;
  LARGE_INTEGER position;
  if (file->ahead.block == nullptr) {
    const DWORD method = from == SeekFrom::kStart ? FILE_BEGIN
                         : from == SeekFrom::kCurrent ? FILE_CURRENT
                                                      : FILE_END;
    distance.QuadPart = offset;
    // Fails without moving (ERROR_NEGATIVE_SEEK) for a target before the start.
    if (!SetFilePointerEx(file->handle, distance, &position, method)) return Fail();
    return position.QuadPart;
  }
  int64_t base = 0;
  if (from == SeekFrom::kCurrent) {
    base = file->ahead.Position();
  } else if (from == SeekFrom::kEnd) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file->handle, &size)) return Fail();
    base = size.QuadPart;
  }
  int64_t target;
  if (!SeekTarget(base, offset, &target)) {
    lastError_ = EINVAL;
    return -1;
  }
  if (file->ahead.MoveWithin(target)) return target;
  distance.QuadPart = target;
  if (!SetFilePointerEx(file->handle, distance, &position, FILE_BEGIN)) return Fail();
  file->ahead.Restart(position.QuadPart);
  return position.QuadPart;
}

void Win32Os::Close(File handle) {
  Forget();
  if (handle == nullptr) return;
  Win32File* file = ToWin32(handle);
  CloseHandle(file->handle);
  ReadAhead::Free(file);
}

int Win32Os::DigestFile(File handle, unsigned char* digest) {
  Forget();
  if (handle == nullptr || ToWin32(handle)->ahead.block == nullptr) return -1;
  Win32File* file = ToWin32(handle);
  // The system's own SHA-256 (advapi32, imported already): no code of ours
  // in the one check that decides what runs elevated. The file is read
  // through its read-ahead block, which is then handed out empty.
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  LARGE_INTEGER start = {};
  int64_t total = 0;
  DWORD got = 1;
  DWORD size = kSha256Size;
  bool going =
      CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
      CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) &&
      SetFilePointerEx(file->handle, start, nullptr, FILE_BEGIN);
  while (going && got != 0) {
    going = ReadFile(file->handle, file->ahead.block, kReadAhead, &got, nullptr) &&
            CryptHashData(hash, reinterpret_cast<BYTE*>(file->ahead.block), got, 0);
    total += got;
  }
  going = going && CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0);
  if (!going) Fail();
  file->ahead.Restart(total);
  if (hash != 0) CryptDestroyHash(hash);
  if (provider != 0) CryptReleaseContext(provider, 0);
  return going ? 0 : -1;
}

int Win32Os::MakeDirectory(const char* path) {
  Forget();
  return CreateDirectoryA(path, nullptr) ? 0 : Fail();
}

bool PrivateDirectorySddl(char* sddl, size_t size) {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  union {
    TOKEN_USER user;
    unsigned char bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } info;
  DWORD length = 0;
  const BOOL haveUser = GetTokenInformation(token, TokenUser, &info, sizeof info, &length);
  CloseHandle(token);
  char* userSid = nullptr;
  if (!haveUser || !ConvertSidToStringSidA(info.user.User.Sid, &userSid)) return false;
  static const char kPrefix[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;";
  const size_t sidLength = strlen(userSid);
  const bool fits = sizeof kPrefix - 1 + sidLength + 2 <= size;
  if (fits) {
    memcpy(sddl, kPrefix, sizeof kPrefix - 1);
    memcpy(sddl + sizeof kPrefix - 1, userSid, sidLength);
    memcpy(sddl + sizeof kPrefix - 1 + sidLength, ")", 2);
  }
  LocalFree(userSid);
  return fits;
}

int Win32Os::MakePrivateDirectory(const char* path) {
  Forget();
  // Without its protection the directory is not made at all: an open one
  // would let any local user swap the files an elevated setup runs.
  char sddl[256];
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!PrivateDirectorySddl(sddl, sizeof sddl) ||
      !ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    return Fail();
  }
  SECURITY_ATTRIBUTES attributes;
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = descriptor;
  attributes.bInheritHandle = FALSE;
  const BOOL created = CreateDirectoryA(path, &attributes);
  if (!created) Fail();
  LocalFree(descriptor);
  return created ? 0 : -1;
}

int Win32Os::ChangeDirectory(const char* path) {
  Forget();
  entered_ = nullptr;
  return SetCurrentDirectoryA(path) ? 0 : Fail();
}

int Win32Os::CurrentDirectory(char* buffer, uint32_t size) {
  Forget();
  if (size == 0) return -1;
  const DWORD length = GetCurrentDirectoryA(size, buffer);
  // On success the length excludes the zero; too small a buffer returns the
  // size needed, zero included.
  if (length == 0 || length >= size) {
    buffer[0] = '\0';
    if (length == 0) return Fail();
    lastError_ = ERANGE;
    return -1;
  }
  return 0;
}

int Win32Os::RemoveEmptyDirectory(const char* path) {
  Forget();
  return RemoveDirectoryA(path) ? 0 : Fail();
}

int Win32Os::RemoveFile(const char* path) {
  Forget();
  return DeleteFileA(path) ? 0 : Fail();
}

Dir Win32Os::OpenDirectory(const char* path) {
  Forget();
  FindState* state = static_cast<FindState*>(malloc(sizeof(FindState)));
  if (state == nullptr) {
    lastError_ = ENOMEM;
    return nullptr;
  }
  const DWORD length = GetFullPathNameA(path, sizeof state->path, state->path, nullptr);
  if (length == 0 || length >= sizeof state->path - 2) {
    lastError_ = length == 0 ? ErrnoFromWin32(GetLastError()) : ENAMETOOLONG;
    free(state);
    return nullptr;
  }
  // Held without delete sharing, from here on nobody can move it away or
  // put a junction in its place.
  state->directory = OpenNoFollow(state->path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (state->directory == INVALID_HANDLE_VALUE) {
    Fail();
    free(state);
    return nullptr;
  }
  // By handle: what was opened is a directory and no reparse point. By
  // name as well, now that the name is pinned: a system that opens a link's
  // target in spite of FILE_FLAG_OPEN_REPARSE_POINT still reports the link.
  const DWORD byName = GetFileAttributesA(state->path);
  if (!GetFileInformationByHandle(state->directory, &state->identity) ||
      !IsPlainDirectory(state->identity.dwFileAttributes) || byName == INVALID_FILE_ATTRIBUTES ||
      !IsPlainDirectory(byName)) {
    lastError_ = ENOTDIR;
    CloseHandle(state->directory);
    free(state);
    return nullptr;
  }
  char pattern[MAX_PATH + 2];
  size_t end = strlen(state->path);
  memcpy(pattern, state->path, end);
  if (end > 0 && pattern[end - 1] != '\\') pattern[end++] = '\\';
  pattern[end++] = '*';
  pattern[end] = '\0';
  state->find = FindFirstFileA(pattern, &state->data);
  if (state->find == INVALID_HANDLE_VALUE) {
    Fail();
    CloseHandle(state->directory);
    free(state);
    return nullptr;
  }
  state->pending = true;
  return reinterpret_cast<Dir>(state);
}

int Win32Os::EnterDirectory(Dir dir) {
  Forget();
  entered_ = nullptr;
  if (dir == nullptr) return -1;
  FindState* state = reinterpret_cast<FindState*>(dir);
  if (!SetCurrentDirectoryA(state->path)) return Fail();
  // The current directory must be the held object itself before anything
  // is done there by bare name.
  HANDLE current = OpenNoFollow(".", FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  BY_HANDLE_FILE_INFORMATION identity;
  const bool same = current != INVALID_HANDLE_VALUE &&
                    GetFileInformationByHandle(current, &identity) &&
                    SameObject(identity, state->identity);
  if (current != INVALID_HANDLE_VALUE) CloseHandle(current);
  if (!same) {
    lastError_ = ENOTDIR;
    return -1;
  }
  entered_ = state;
  return 0;
}

int Win32Os::NextEntry(Dir dir, char* name, uint32_t size) {
  Forget();
  if (dir == nullptr || size == 0) return 0;
  FindState* state = reinterpret_cast<FindState*>(dir);
  for (;;) {
    if (!state->pending && !FindNextFileA(state->find, &state->data)) {
      if (GetLastError() != ERROR_NO_MORE_FILES) Fail();
      return 0;
    }
    state->pending = false;
    const size_t length = strnlen(state->data.cFileName, sizeof state->data.cFileName);
    if (length < size && length < sizeof state->data.cFileName) {
      memcpy(name, state->data.cFileName, length + 1);
      // The enumeration brought the entry's attributes along: a query of
      // this name in this directory, right after, can take them.
      if (entered_ == state && IsPlainEntryName(state->data.cFileName)) yielded_ = state;
      return 1;
    }
  }
}

void Win32Os::CloseDirectory(Dir dir) {
  Forget();
  if (dir == nullptr) return;
  FindState* state = reinterpret_cast<FindState*>(dir);
  if (entered_ == state) entered_ = nullptr;
  FindClose(state->find);
  CloseHandle(state->directory);
  free(state);
}

int Win32Os::GetAttributes(const char* path, Attributes* attributes) {
  const FindState* known = static_cast<const FindState*>(yielded_);
  Forget();
  DWORD value;
  if (known != nullptr && strcmp(path, known->data.cFileName) == 0) {
    value = known->data.dwFileAttributes;  // the enumeration's answer, just given
  } else {
    value = GetFileAttributesA(path);
    if (value == INVALID_FILE_ATTRIBUTES) return Fail();
  }
  attributes->directory = (value & FILE_ATTRIBUTE_DIRECTORY) != 0;
  attributes->link = (value & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  attributes->readOnly = (value & FILE_ATTRIBUTE_READONLY) != 0;
  return 0;
}

int Win32Os::ErrorNumber() { return lastError_; }

int Win32Os::InUse(const char* path) {
  Forget();
  // Writing a running program's file is refused (its image is mapped), and
  // delete access is refused while anyone holds it without delete sharing:
  // a file opened so, a directory that is some process's current one.
  HANDLE handle = OpenNoFollow(path, DELETE | FILE_WRITE_DATA,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return 0;
  }
  const DWORD error = GetLastError();
  Fail();
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? 1 : 0;
}

// The installers' lock: a mutex in a private namespace whose boundary is
// the Administrators group. Only a caller within that boundary (an
// elevated administrator) may create the namespace, and its descriptor lets
// only the Administrators and SYSTEM open it, so no standard user can
// create, hold or squat a name inside it, whatever they made in the global
// namespace. A namespace is named by its alias and boundary; this boundary
// holds no session, so the installers of every session name the same one.
const char kLockNamespace[] = "UsbAdslModemInstaller";
const char kLockNamespaceSddl[] = "D:P(A;;GA;;;SY)(A;;GA;;;BA)";

const char* Win32Os::LockName() {
  FARPROC* calls = SystemCalls();
  for (int call = kCreateBoundaryDescriptorA; call <= kOpenPrivateNamespaceA; ++call) {
    // A system without private namespaces (Windows XP; Wine 8, whose are
    // stubs): the global namespace, where a squatter can only make
    // installers refuse.
    if (calls[call] == nullptr) return "Global\\UsbAdslModemInstaller.ZUV_tmp";
  }
  if (lockNamespace_ == nullptr) {
    // S-1-5-32-544, the Administrators group, laid out as a SID.
    static const struct {
      BYTE revision;
      BYTE count;
      SID_IDENTIFIER_AUTHORITY authority;
      DWORD rids[2];
    } kAdministrators = {SID_REVISION, 2, SECURITY_NT_AUTHORITY,
                         {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}};
    PSID sid = const_cast<void*>(static_cast<const void*>(&kAdministrators));  // only read
    HANDLE boundary = SystemCall<kCreateBoundaryDescriptorA>()(kLockNamespace, 0);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (boundary != nullptr && SystemCall<kAddSIDToBoundaryDescriptor>()(&boundary, sid) &&
        ConvertStringSecurityDescriptorToSecurityDescriptorA(kLockNamespaceSddl, SDDL_REVISION_1,
                                                             &descriptor, nullptr)) {
      SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
      lockNamespace_ =
          SystemCall<kCreatePrivateNamespaceA>()(&attributes, boundary, kLockNamespace);
      // Another installer made it: the same boundary and alias name it.
      if (lockNamespace_ == nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        lockNamespace_ = SystemCall<kOpenPrivateNamespaceA>()(boundary, kLockNamespace);
      }
      LocalFree(descriptor);
    }
    if (boundary != nullptr) SystemCall<kDeleteBoundaryDescriptor>()(boundary);
  }
  // Held until the process ends, never closed before: once its creator's
  // handle is closed, nobody can open the namespace any more. Where it can
  // be neither made nor opened, no lock is had: the global name would not
  // meet the installers that use the namespace.
  return lockNamespace_ != nullptr ? "UsbAdslModemInstaller\\ZUV_tmp" : nullptr;
}

int Win32Os::LockInstall() {
  Forget();
  if (installLock_ != nullptr) return 0;
  const char* name = LockName();
  HANDLE mutex = name != nullptr ? SystemCall<kCreateMutexA>()(nullptr, FALSE, name) : nullptr;
  if (mutex == nullptr) return Fail();
  // Abandoned: its holder ended without its clean-up; what it left is
  // examined like any leftover.
  const DWORD wait = WaitForSingleObject(mutex, 0);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
    CloseHandle(mutex);
    lastError_ = EBUSY;
    return -1;
  }
  installLock_ = mutex;
  return 0;
}

void Win32Os::UnlockInstall() {
  Forget();
  if (installLock_ == nullptr) return;
  ReleaseMutex(installLock_);
  CloseHandle(installLock_);
  installLock_ = nullptr;
}

int Win32Os::Launch(const char* commandLine) {
  Forget();
  // WinExec documents values above 31 as success.
  return WinExec(commandLine, SW_SHOWNORMAL) > 31 ? 0 : -1;
}

int Win32Os::OpenDevice(const char* name) {
  Forget();
  // Through the table, so that a test sees the exact call.
  HANDLE device = SystemCall<kCreateFileA>()(name, 0, 0, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_SYSTEM, nullptr);
  if (device == INVALID_HANDLE_VALUE) {
    Fail();
    return 0;
  }
  CloseHandle(device);
  return 1;
}

void Win32Os::Sleep(uint32_t milliseconds) {
  Forget();
  ::Sleep(milliseconds);
}

void Win32Os::Print(const char* text) {
  Forget();
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(output, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
}

}  // namespace platform
