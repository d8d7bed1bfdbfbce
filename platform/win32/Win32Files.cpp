// The Win32 backend's files (with the package's copy and its digest) and
// its directories by their paths.
#include <errno.h>
#include <string.h>
#include <windows.h>
#include <sddl.h>
#include <wincrypt.h>

#include "platform/ReadAhead.h"
#include "platform/Sha256.h"
#include "platform/win32/Win32Calls.h"
#include "platform/win32/Win32Os.h"
#include "platform/win32/Win32OsInternal.h"
#include "platform/win32/Win32PrivateDirectory.h"

namespace platform {
namespace {

// An open file; one opened for reading is read ahead (ReadAhead.h).
struct Win32File {
  HANDLE handle;
  ReadAhead ahead;
};

Win32File* ToWin32(File file) { return reinterpret_cast<Win32File*>(file); }

// Takes over handle, or reports why the open failed; ENOMEM (handle
// closed) when out of memory.
int Keep(HANDLE handle, bool readAhead, File* file) {
  *file = nullptr;
  if (handle == INVALID_HANDLE_VALUE) return LastErrno();
  Win32File* record = static_cast<Win32File*>(osmalloc(sizeof(Win32File)));
  if (record != nullptr) *record = Win32File{handle, ReadAhead{}};
  if (record == nullptr || (readAhead && !record->ahead.Adopt(osmalloc(kReadAhead)))) {
    osfree(record);
    osCloseHandle(handle);
    return ENOMEM;
  }
  *file = reinterpret_cast<File>(record);
  return 0;
}

}  // namespace

// Shared by the held directories' and the claim's files.
HANDLE OpenNoFollow(const char* path, DWORD access, DWORD share) {
  return osCreateFileA(path, access, share, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

void AttributesOf(DWORD value, Attributes* attributes) {
  attributes->directory = (value & FILE_ATTRIBUTE_DIRECTORY) != 0;
  attributes->link = (value & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  attributes->readOnly = (value & FILE_ATTRIBUTE_READONLY) != 0;
}

int Win32Os::OpenRead(const char* path, File* file) {
  // Shared as the C library's fopen shares: nothing here relies on a file
  // staying as it is while it is read (a package's digest is of the copy
  // that is unpacked, DigestCopy).
  return Keep(osCreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr),
              true, file);
}

int Win32Os::OpenWrite(const char* path, File* file) {
  return Keep(osCreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr),
              false, file);
}

int Win32Os::OpenScratch(const char* path, File* file) {
  // No sharing: whatever else is opened by that name (an archive's entry
  // named like it) is refused rather than written over it.
  return Keep(osCreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr),
              true, file);
}

int Win32Os::Read(File handle, void* buffer, int32_t size, int32_t* got) {
  *got = 0;
  if (handle == nullptr || size < 0) return EINVAL;
  Win32File* file = ToWin32(handle);
  int error = 0;
  const int32_t total = file->ahead.Read(buffer, size, [&](char* into, int32_t want) -> int32_t {
    DWORD read = 0;
    if (osReadFile(file->handle, into, static_cast<DWORD>(want), &read, nullptr)) {
      return static_cast<int32_t>(read);
    }
    error = LastErrno();
    return -1;
  });
  if (total < 0) return error;
  *got = total;
  return 0;
}

int Win32Os::Write(File handle, const void* data, int32_t size) {
  if (handle == nullptr || size < 0) return EINVAL;
  Win32File* file = ToWin32(handle);
  DWORD put = 0;
  int error = 0;
  if (!osWriteFile(file->handle, data, static_cast<DWORD>(size), &put, nullptr)) {
    error = LastErrno();
  } else if (put != static_cast<DWORD>(size)) {
    error = ENOSPC;
  }
  // A scratch file, written before it is read: the reader starts after it.
  file->ahead.Restart(file->ahead.blockEnd + put);
  return error;
}

int Win32Os::Seek(File handle, int64_t offset, SeekFrom from, int64_t* position) {
  Clear(position);
  if (handle == nullptr) return EINVAL;
  Win32File* file = ToWin32(handle);
  LARGE_INTEGER distance;
  LARGE_INTEGER moved;
  int64_t target;
  if (file->ahead.block == nullptr) {
    const DWORD method = from == SeekFrom::kStart ? FILE_BEGIN
                         : from == SeekFrom::kCurrent ? FILE_CURRENT
                                                      : FILE_END;
    distance.QuadPart = offset;
    // Fails without moving (ERROR_NEGATIVE_SEEK) for a target before the start.
    if (!osSetFilePointerEx(file->handle, distance, &moved, method)) return LastErrno();
    target = moved.QuadPart;
  } else {
    int64_t base = 0;
    if (from == SeekFrom::kCurrent) {
      base = file->ahead.Position();
    } else if (from == SeekFrom::kEnd) {
      LARGE_INTEGER size;
      if (!osGetFileSizeEx(file->handle, &size)) return LastErrno();
      base = size.QuadPart;
    }
    if (!SeekTarget(base, offset, &target)) return EINVAL;
    if (!file->ahead.MoveWithin(target)) {
      distance.QuadPart = target;
      if (!osSetFilePointerEx(file->handle, distance, &moved, FILE_BEGIN)) return LastErrno();
      file->ahead.Restart(target);
    }
  }
  if (position != nullptr) *position = target;
  return 0;
}

void Win32Os::Close(File handle) {
  if (handle == nullptr) return;
  Win32File* file = ToWin32(handle);
  osCloseHandle(file->handle);
  osfree(file->ahead.block);
  osfree(file);
}

int Win32Os::DigestCopy(File source, File copy, unsigned char* digest) {
  if (source == nullptr || copy == nullptr || ToWin32(source)->ahead.block == nullptr) return EINVAL;
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
  int error = 0;
  bool going =
      osCryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
      osCryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) &&
      osSetFilePointerEx(file->handle, start, nullptr, FILE_BEGIN);
  while (going && got != 0) {
    going = osReadFile(file->handle, file->ahead.block, kReadAhead, &got, nullptr) &&
            osCryptHashData(hash, reinterpret_cast<BYTE*>(file->ahead.block), got, 0) &&
            (error = Write(copy, file->ahead.block, static_cast<int32_t>(got))) == 0;
    total += got;
  }
  going = going && osCryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0);
  if (!going && error == 0) error = LastErrno();
  file->ahead.Restart(total);
  if (hash != 0) osCryptDestroyHash(hash);
  if (provider != 0) osCryptReleaseContext(provider, 0);
  return error;
}

int Win32Os::MakeDirectory(const char* path) {
  return osCreateDirectoryA(path, nullptr) ? 0 : LastErrno();
}

int Win32Os::MakePrivateDirectory(const char* path) {
  // Without its protection the directory is not made at all: an open one
  // would let any local user swap the files an elevated setup runs.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!osConvertStringSecurityDescriptorToSecurityDescriptorA(kPrivateDirectorySddl, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
    return LastErrno();
  }
  SECURITY_ATTRIBUTES attributes;
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = descriptor;
  attributes.bInheritHandle = FALSE;
  const int error = osCreateDirectoryA(path, &attributes) ? 0 : LastErrno();
  osLocalFree(descriptor);
  return error;
}

int Win32Os::ChangeDirectory(const char* path) {
  return osSetCurrentDirectoryA(path) ? 0 : LastErrno();
}

int Win32Os::CurrentDirectory(char* buffer, uint32_t size) {
  if (size == 0) return ERANGE;
  const DWORD length = osGetCurrentDirectoryA(size, buffer);
  // On success the length excludes the zero; too small a buffer returns the
  // size needed, zero included.
  if (length != 0 && length < size) return 0;
  buffer[0] = '\0';
  return length == 0 ? LastErrno() : ERANGE;
}

int Win32Os::RemoveEmptyDirectory(const char* path) {
  return osRemoveDirectoryA(path) ? 0 : LastErrno();
}

int Win32Os::GetAttributes(const char* path, Attributes* attributes) {
  const DWORD value = osGetFileAttributesA(path);
  if (value == INVALID_FILE_ATTRIBUTES) return LastErrno();
  AttributesOf(value, attributes);
  return 0;
}

}  // namespace platform
