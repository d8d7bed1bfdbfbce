#include "platform/win32/Win32Os.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <sddl.h>
#include <wincrypt.h>
#include <winternl.h>

#include "platform/EntryName.h"
#include "platform/HostOs.h"
#include "platform/ReadAhead.h"
#include "platform/SecurityDescriptor.h"
#include "platform/Sha256.h"
#include "platform/win32/Win32Calls.h"
#include "platform/win32/Win32PrivateDirectory.h"

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
  if (file == nullptr || (readAhead && !file->ahead.Allocate(malloc))) {
    free(file);
    CloseHandle(handle);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return reinterpret_cast<File>(file);
}

// A directory held open: the handle pins it (no delete sharing: nobody can
// rename, remove or replace it while held) and is what its entries are
// looked up in and listed through. The record of the entry NextEntry
// yielded last is kept: its attributes answer for "." and "..", which NT
// names lack, and mark a link that a system ignoring FILE_OPEN_REPARSE_POINT
// (Wine) would open the target of; until the next entry, or until the
// entry is opened or deleted (Os.h: what a backend learnt about an entry).
struct HeldDirectory {
  HANDLE handle;
  bool listing;        // the enumeration has begun
  DWORD next;          // offset of the next record in records, kNoRecord: ask
  DWORD listedAttributes;
  LONGLONG listedId;   // the file system's id of that entry, 0 if it gives none
  char listed[260];    // the name last yielded, "" when none
  alignas(8) unsigned char records[8 * 1024];
};

constexpr DWORD kNoRecord = 0xFFFFFFFF;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A held directory is listed, checked, and asked whose it is.
constexpr DWORD kHoldAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL;
// Room for the owner and DACL of a directory the installer may empty: its
// own have two entries; a descriptor that needs more is not read, and the
// directory then counts as one others may change.
constexpr DWORD kDescriptorSize = 1024;

HeldDirectory* ToHeld(Dir dir) { return reinterpret_cast<HeldDirectory*>(dir); }

bool IsPlainDirectory(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// The name itself, never what a reparse point leads to.
HANDLE OpenNoFollow(const char* path, DWORD access, DWORD share) {
  return CreateFileA(path, access, share, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

void Describe(DWORD value, Attributes* attributes) {
  attributes->directory = (value & FILE_ATTRIBUTE_DIRECTORY) != 0;
  attributes->link = (value & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  attributes->readOnly = (value & FILE_ATTRIBUTE_READONLY) != 0;
}

// Whether another process keeps what handle failed to open from being
// deleted now (InUse's answer): a file open without delete sharing, a
// directory that is its current one (SetCurrentDirectory's page: locked
// while current), or a running program's file, which refuses to be opened
// for writing. Nothing there is nothing held; any other refusal, access
// denied among them (a running program's file may be read-only), cannot
// tell.
int HeldElsewhere(HANDLE handle) {
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return 0;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return 1;
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : -1;
}

// Opens the entry name of the held directory parent: looked up in that
// directory object (OBJECT_ATTRIBUTES.RootDirectory), not along a path,
// and the entry itself even when it is a reparse point
// (FILE_OPEN_REPARSE_POINT). INVALID_HANDLE_VALUE, with the last error set,
// when it cannot be opened or name is not one plain name.
HANDLE OpenAt(const HeldDirectory* parent, const char* name, ACCESS_MASK access, ULONG share,
              ULONG options) {
  wchar_t wide[sizeof parent->listed];
  const int length =
      IsPlainEntryName(name)
          ? MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, wide, sizeof parent->listed)
          : 0;
  if (length <= 1) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  UNICODE_STRING text;
  text.Buffer = wide;
  text.Length = text.MaximumLength = static_cast<USHORT>((length - 1) * sizeof(wchar_t));
  // By member: the 64-bit headers pad the structure with named fields.
  OBJECT_ATTRIBUTES attributes = {};
  attributes.Length = sizeof attributes;
  attributes.RootDirectory = parent->handle;
  attributes.ObjectName = &text;
  IO_STATUS_BLOCK status;
  HANDLE handle;
  const NTSTATUS result =
      SystemCall<kNtOpenFile>()(&handle, access | SYNCHRONIZE, &attributes, &status, share,
                                options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT);
  if (result < 0) {
    SetLastError(SystemCall<kRtlNtStatusToDosError>()(result));
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

// The listing's record of name, when it is the entry just yielded.
bool Listed(const HeldDirectory* dir, const char* name) {
  return dir->listed[0] != '\0' && strcmp(dir->listed, name) == 0;
}

// Takes over handle, a directory already checked; nullptr (handle closed)
// when out of memory.
HeldDirectory* Hold(HANDLE handle) {
  HeldDirectory* dir = static_cast<HeldDirectory*>(malloc(sizeof(HeldDirectory)));
  if (dir == nullptr) {
    CloseHandle(handle);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  dir->handle = handle;
  dir->listing = false;
  dir->next = kNoRecord;
  dir->listed[0] = '\0';
  return dir;
}

// Each Win32 error the backend meets, and the errno value it reports.
const struct {
  unsigned short error;
  unsigned char number;
} kErrnoOf[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT},    {ERROR_PATH_NOT_FOUND, ENOENT},    {ERROR_INVALID_DRIVE, ENOENT},
    {ERROR_BAD_NETPATH, ENOENT},       {ERROR_BAD_NET_NAME, ENOENT},      {ERROR_INVALID_NAME, ENOENT},
    {ERROR_ACCESS_DENIED, EACCES},     {ERROR_SHARING_VIOLATION, EACCES}, {ERROR_LOCK_VIOLATION, EACCES},
    {ERROR_CURRENT_DIRECTORY, EACCES}, {ERROR_FILE_EXISTS, EEXIST},       {ERROR_ALREADY_EXISTS, EEXIST},
    {ERROR_DIR_NOT_EMPTY, ENOTEMPTY},  {ERROR_NOT_ENOUGH_MEMORY, ENOMEM}, {ERROR_OUTOFMEMORY, ENOMEM},
    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG}, {ERROR_DIRECTORY, ENOTDIR}, {ERROR_DISK_FULL, ENOSPC},
    {ERROR_HANDLE_DISK_FULL, ENOSPC},
};

int ErrnoFromWin32(DWORD error) {
  for (const auto& known : kErrnoOf) {
    if (known.error == error) return known.number;
  }
  return EINVAL;
}

}  // namespace

Win32Os& TheWin32Os() {
  static Win32Os os;
  return os;
}

Os& HostOs() { return TheWin32Os(); }

int Win32Os::Fail() {
  lastError_ = ErrnoFromWin32(GetLastError());
  return -1;
}

File Win32Os::OpenRead(const char* path) {
  // Shared as the C library's fopen shares: nothing here relies on a file
  // staying as it is while it is read (a package's digest is of the copy
  // that is unpacked, DigestCopy).
  HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  File file = NewFile(handle, true);
  if (file == nullptr) Fail();
  return file;
}

File Win32Os::OpenWrite(const char* path) {
  HANDLE handle = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  File file = NewFile(handle, false);
  if (file == nullptr) Fail();
  return file;
}

File Win32Os::OpenScratch(const char* path) {
  // No sharing: whatever else is opened by that name (an archive's entry
  // named like it) is refused rather than written over it.
  HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  File file = NewFile(handle, true);
  if (file == nullptr) Fail();
  return file;
}

int32_t Win32Os::Read(File handle, void* buffer, int32_t size) {
  if (handle == nullptr || size < 0) return -1;
  Win32File* file = ToWin32(handle);
  return file->ahead.Read(buffer, size, [&](char* into, int32_t want) -> int32_t {
    DWORD got = 0;
    if (!ReadFile(file->handle, into, static_cast<DWORD>(want), &got, nullptr)) return Fail();
    return static_cast<int32_t>(got);
  });
}

int32_t Win32Os::Write(File handle, const void* data, int32_t size) {
  if (handle == nullptr || size < 0) return 0;
  Win32File* file = ToWin32(handle);
  DWORD put = 0;
  if (!WriteFile(file->handle, data, static_cast<DWORD>(size), &put, nullptr)) Fail();
  // A scratch file, written before it is read: the reader starts after it.
  file->ahead.Restart(file->ahead.blockEnd + put);
  return static_cast<int32_t>(put);
}

int64_t Win32Os::Seek(File handle, int64_t offset, SeekFrom from) {
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
  if (handle == nullptr) return;
  Win32File* file = ToWin32(handle);
  CloseHandle(file->handle);
  ReadAhead::Free(file);
}

int Win32Os::DigestCopy(File source, File copy, unsigned char* digest) {
  if (source == nullptr || copy == nullptr || ToWin32(source)->ahead.block == nullptr) return -1;
  Win32File* file = ToWin32(source);
  // The system's own SHA-256 (advapi32, imported already): no code of ours
  // in the one check that decides what runs elevated. The source is read
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
            CryptHashData(hash, reinterpret_cast<BYTE*>(file->ahead.block), got, 0) &&
            Write(copy, file->ahead.block, static_cast<int32_t>(got)) == static_cast<int32_t>(got);
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
  return CreateDirectoryA(path, nullptr) ? 0 : Fail();
}

int Win32Os::MakePrivateDirectory(const char* path) {
  // Without its protection the directory is not made at all: an open one
  // would let any local user swap the files an elevated setup runs.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
          kPrivateDirectorySddl, SDDL_REVISION_1, &descriptor, nullptr)) {
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
  return SetCurrentDirectoryA(path) ? 0 : Fail();
}

int Win32Os::CurrentDirectory(char* buffer, uint32_t size) {
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
  return RemoveDirectoryA(path) ? 0 : Fail();
}

Dir Win32Os::OpenDirectory(const char* path) {
  char full[MAX_PATH];
  const DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) {
    lastError_ = length == 0 ? ErrnoFromWin32(GetLastError()) : ENAMETOOLONG;
    return nullptr;
  }
  // Held without delete sharing, from here on nobody can move it away or
  // put a junction in its place.
  const HANDLE handle = OpenNoFollow(full, kHoldAccess, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail();
    return nullptr;
  }
  // By handle: what was opened is a directory and no reparse point. By
  // name as well, now that the name is pinned: a system that opens a link's
  // target in spite of FILE_FLAG_OPEN_REPARSE_POINT still reports the link.
  BY_HANDLE_FILE_INFORMATION identity;
  const DWORD byName = GetFileAttributesA(full);
  if (!GetFileInformationByHandle(handle, &identity) ||
      !IsPlainDirectory(identity.dwFileAttributes) || byName == INVALID_FILE_ATTRIBUTES ||
      !IsPlainDirectory(byName)) {
    lastError_ = ENOTDIR;
    CloseHandle(handle);
    return nullptr;
  }
  HeldDirectory* dir = Hold(handle);
  if (dir == nullptr) {
    Fail();
    return nullptr;
  }
  return reinterpret_cast<Dir>(dir);
}

int Win32Os::NextEntry(Dir handle, char* name, uint32_t size) {
  if (handle == nullptr || size == 0) return 0;
  HeldDirectory* dir = ToHeld(handle);
  for (;;) {
    dir->listed[0] = '\0';
    if (dir->next == kNoRecord) {
      // Listed through the held handle, a batch of records at a time.
      if (!GetFileInformationByHandleEx(
              dir->handle, dir->listing ? FileIdBothDirectoryInfo : FileIdBothDirectoryRestartInfo,
              dir->records, sizeof dir->records)) {
        if (GetLastError() == ERROR_NO_MORE_FILES) return 0;
        return Fail();
      }
      dir->listing = true;
      dir->next = 0;
    }
    const FILE_ID_BOTH_DIR_INFO* record =
        reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(dir->records + dir->next);
    dir->next = record->NextEntryOffset == 0 ? kNoRecord : dir->next + record->NextEntryOffset;
    // In the system's code page, exactly: a name that comes back other than
    // it was (best fit, a default character) would name another entry.
    const int wideLength = static_cast<int>(record->FileNameLength / sizeof(wchar_t));
    const int length = WideCharToMultiByte(CP_ACP, 0, record->FileName, wideLength, dir->listed,
                                           sizeof dir->listed - 1, nullptr, nullptr);
    wchar_t back[sizeof dir->listed];
    if (length <= 0 || MultiByteToWideChar(CP_ACP, 0, dir->listed, length, back,
                                           sizeof dir->listed) != wideLength ||
        memcmp(back, record->FileName, record->FileNameLength) != 0) {
      if (length <= 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) continue;
      memcpy(dir->listed, "?", 2);
    } else {
      dir->listed[length] = '\0';
    }
    if (strlen(dir->listed) >= size) continue;  // never cut
    dir->listedAttributes = record->FileAttributes;
    dir->listedId = record->FileId.QuadPart;
    memcpy(name, dir->listed, strlen(dir->listed) + 1);
    return 1;
  }
}

int Win32Os::RewindDirectory(Dir handle) {
  if (handle == nullptr) return -1;
  HeldDirectory* dir = ToHeld(handle);
  dir->listing = false;  // the next batch restarts the listing
  dir->next = kNoRecord;
  dir->listed[0] = '\0';
  return 0;
}

int Win32Os::QueryDirectory(Dir handle, DirectoryInfo* info) {
  if (handle == nullptr) return -1;
  const HANDLE held = ToHeld(handle)->handle;
  BY_HANDLE_FILE_INFORMATION identity;
  alignas(8) unsigned char descriptor[kDescriptorSize];
  ULONG needed = 0;
  if (!GetFileInformationByHandle(held, &identity)) return Fail();
  // Self-relative, as ReadSecurityDescriptor reads it.
  const NTSTATUS status = SystemCall<kNtQuerySecurityObject>()(
      held, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor, &needed);
  if (status < 0) {
    SetLastError(SystemCall<kRtlNtStatusToDosError>()(status));
    return Fail();
  }
  if (!ReadSecurityDescriptor(descriptor, sizeof descriptor, info)) {
    lastError_ = EINVAL;
    return -1;
  }
  info->volume = identity.dwVolumeSerialNumber;
  // On NTFS the file reference number holds a sequence number too, which
  // changes when a record is used again.
  info->id = static_cast<uint64_t>(identity.nFileIndexHigh) << 32 | identity.nFileIndexLow;
  info->created = static_cast<uint64_t>(identity.ftCreationTime.dwHighDateTime) << 32 |
                  identity.ftCreationTime.dwLowDateTime;
  return 0;
}

void Win32Os::CloseDirectory(Dir handle) {
  if (handle == nullptr) return;
  CloseHandle(ToHeld(handle)->handle);
  free(ToHeld(handle));
}

int Win32Os::GetAttributes(const char* path, Attributes* attributes) {
  const DWORD value = GetFileAttributesA(path);
  if (value == INVALID_FILE_ATTRIBUTES) return Fail();
  Describe(value, attributes);
  return 0;
}

int Win32Os::ErrorNumber() { return lastError_; }

int Win32Os::InUse(const char* path) {
  // Delete access is refused while anyone holds it without delete sharing,
  // and write access to a running program's file.
  const HANDLE handle = OpenNoFollow(path, DELETE | FILE_WRITE_DATA, kShareAll);
  if (handle == INVALID_HANDLE_VALUE) Fail();
  return HeldElsewhere(handle);
}

Dir Win32Os::OpenSubdirectory(Dir parent, const char* name) {
  if (parent == nullptr) return nullptr;
  HeldDirectory* held = ToHeld(parent);
  const HANDLE handle =
      OpenAt(held, name, kHoldAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_DIRECTORY_FILE);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail();
    return nullptr;
  }
  // A directory and no reparse point, by the handle; and, for the entry
  // just listed, the very object listed: a system that follows a link in
  // spite of FILE_OPEN_REPARSE_POINT opens another one.
  BY_HANDLE_FILE_INFORMATION identity;
  bool plain = GetFileInformationByHandle(handle, &identity) &&
               IsPlainDirectory(identity.dwFileAttributes);
  if (plain && Listed(held, name)) {
    const LONGLONG id =
        static_cast<LONGLONG>(identity.nFileIndexHigh) << 32 | identity.nFileIndexLow;
    plain = IsPlainDirectory(held->listedAttributes) && (held->listedId == 0 || held->listedId == id);
  }
  held->listed[0] = '\0';  // used up (Os.h)
  if (!plain) {
    lastError_ = ENOTDIR;
    CloseHandle(handle);
    return nullptr;
  }
  HeldDirectory* dir = Hold(handle);
  if (dir == nullptr) Fail();
  return reinterpret_cast<Dir>(dir);
}

int Win32Os::GetAttributesAt(Dir handle, const char* name, Attributes* attributes) {
  if (handle == nullptr) return -1;
  const HeldDirectory* dir = ToHeld(handle);
  DWORD value;
  if (!IsPlainEntryName(name) && Listed(dir, name)) {
    value = dir->listedAttributes;  // "." and "..": NT opens no such names
  } else {
    const HANDLE entry = OpenAt(dir, name, FILE_READ_ATTRIBUTES, kShareAll, 0);
    BY_HANDLE_FILE_INFORMATION information;
    const bool known = entry != INVALID_HANDLE_VALUE && GetFileInformationByHandle(entry, &information);
    if (!known) Fail();
    if (entry != INVALID_HANDLE_VALUE) CloseHandle(entry);
    if (!known) return -1;
    value = information.dwFileAttributes;
    if (Listed(dir, name)) value |= dir->listedAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
  }
  Describe(value, attributes);
  return 0;
}

int Win32Os::RemoveFileAt(Dir dir, const char* name) {
  return DeleteAt(dir, name, FILE_NON_DIRECTORY_FILE);
}

int Win32Os::RemoveEmptyDirectoryAt(Dir dir, const char* name) {
  return DeleteAt(dir, name, FILE_DIRECTORY_FILE);
}

// Through the handle that opened the entry itself: a link goes, never what
// it leads to. Windows refuses the disposition of a read-only file and of a
// directory that is not empty.
int Win32Os::DeleteAt(Dir dir, const char* name, unsigned long options) {
  if (dir == nullptr) return -1;
  HeldDirectory* held = ToHeld(dir);
  const HANDLE entry = OpenAt(held, name, DELETE, kShareAll, options);
  held->listed[0] = '\0';  // used up (Os.h)
  FILE_DISPOSITION_INFO disposition = {TRUE};
  const bool deleted =
      entry != INVALID_HANDLE_VALUE &&
      SetFileInformationByHandle(entry, FileDispositionInfo, &disposition, sizeof disposition);
  if (!deleted) Fail();
  if (entry != INVALID_HANDLE_VALUE) CloseHandle(entry);
  return deleted ? 0 : -1;
}

int Win32Os::InUseAt(Dir dir, const char* name) {
  if (dir == nullptr) return -1;
  const HANDLE handle = OpenAt(ToHeld(dir), name, DELETE | FILE_WRITE_DATA, kShareAll, 0);
  if (handle == INVALID_HANDLE_VALUE) Fail();
  return HeldElsewhere(handle);
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
    // A system without private namespaces (Wine 8, whose are stubs; every
    // Windows that runs Install.exe has them): the global namespace, where
    // a squatter can only make installers refuse.
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
  if (installLock_ != nullptr) return 0;
  const char* name = LockName();
  HANDLE mutex = name != nullptr ? CreateMutexA(nullptr, FALSE, name) : nullptr;
  if (mutex == nullptr) return Fail();
  // Held only while another installer changes the tree, which it ends
  // soon. Abandoned: its holder ended without its clean-up; what it left is
  // examined like any leftover.
  const DWORD wait = WaitForSingleObject(mutex, kLockWait);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
    CloseHandle(mutex);
    lastError_ = EBUSY;
    return -1;
  }
  installLock_ = mutex;
  return 0;
}

void Win32Os::UnlockInstall() {
  if (installLock_ == nullptr) return;
  ReleaseMutex(installLock_);
  CloseHandle(installLock_);
  installLock_ = nullptr;
}

int Win32Os::Launch(const char* commandLine) {
  // WinExec documents values above 31 as success; below, the error (0:
  // out of memory or resources).
  const UINT started = WinExec(commandLine, SW_SHOWNORMAL);
  if (started > 31) return 0;
  lastError_ = ErrnoFromWin32(started != 0 ? started : ERROR_NOT_ENOUGH_MEMORY);
  return -1;
}

int Win32Os::OpenDevice(const char* name) {
  HANDLE device =
      CreateFileA(name, 0, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_SYSTEM, nullptr);
  if (device == INVALID_HANDLE_VALUE) {
    Fail();
    return 0;
  }
  CloseHandle(device);
  return 1;
}

void Win32Os::Sleep(uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

void Win32Os::Print(const char* text) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(output, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
}

}  // namespace platform
