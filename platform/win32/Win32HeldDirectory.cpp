// The Win32 backend's held directories and the operations on their
// entries: what the tree walks of package/RemoveTree.cpp are made of.
#include <errno.h>
#include <string.h>
#include <windows.h>
#include <winternl.h>

#include "platform/EntryName.h"
#include "platform/SecurityDescriptor.h"
#include "platform/win32/Win32Calls.h"
#include "platform/win32/Win32Os.h"
#include "platform/win32/Win32OsInternal.h"

namespace platform {
namespace {

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
  char listed[kMaxPath];  // the name last yielded, "" when none
  alignas(8) unsigned char records[8 * 1024];
};

constexpr DWORD kNoRecord = 0xFFFFFFFF;
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

// Opens the entry name of the held directory parent into *handle: looked
// up in that directory object (OBJECT_ATTRIBUTES.RootDirectory), not along
// a path, and the entry itself even when it is a reparse point
// (FILE_OPEN_REPARSE_POINT). 0, or the Win32 error when it cannot be opened
// or name is not one plain name: the caller tells a file held elsewhere
// by it.
DWORD OpenAt(const HeldDirectory* parent, const char* name, ACCESS_MASK access, ULONG share,
             ULONG options, HANDLE* handle) {
  wchar_t wide[sizeof parent->listed];
  const int length =
      IsPlainEntryName(name)
          ? osMultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, wide, sizeof parent->listed)
          : 0;
  if (length <= 1) return ERROR_INVALID_NAME;
  UNICODE_STRING text;
  text.Buffer = wide;
  text.Length = text.MaximumLength = static_cast<USHORT>((length - 1) * sizeof(wchar_t));
  // By member: the 64-bit headers pad the structure with named fields.
  OBJECT_ATTRIBUTES attributes = {};
  attributes.Length = sizeof attributes;
  attributes.RootDirectory = parent->handle;
  attributes.ObjectName = &text;
  IO_STATUS_BLOCK status;
  const NTSTATUS result =
      osNtOpenFile(handle, access | SYNCHRONIZE, &attributes, &status, share,
                   options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT);
  return result < 0 ? osRtlNtStatusToDosError(result) : 0;
}

// The listing's record of name, when it is the entry just yielded.
bool Listed(const HeldDirectory* dir, const char* name) {
  return dir->listed[0] != '\0' && strcmp(dir->listed, name) == 0;
}

// Takes over handle, a directory already checked; ENOMEM (handle closed)
// when out of memory.
int Hold(HANDLE handle, Dir* held) {
  HeldDirectory* dir = static_cast<HeldDirectory*>(osmalloc(sizeof(HeldDirectory)));
  if (dir == nullptr) {
    osCloseHandle(handle);
    return ENOMEM;
  }
  dir->handle = handle;
  dir->listing = false;
  dir->next = kNoRecord;
  dir->listed[0] = '\0';
  *held = reinterpret_cast<Dir>(dir);
  return 0;
}

}  // namespace

int Win32Os::OpenDirectory(const char* path, Dir* dir) {
  *dir = nullptr;
  char full[MAX_PATH];
  const DWORD length = osGetFullPathNameA(path, sizeof full, full, nullptr);
  if (length == 0) return LastErrno();
  if (length >= sizeof full) return ENAMETOOLONG;
  // Held without delete sharing, from here on nobody can move it away or
  // put a junction in its place.
  const HANDLE handle = OpenNoFollow(full, kHoldAccess, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (handle == INVALID_HANDLE_VALUE) return LastErrno();
  // By handle: what was opened is a directory and no reparse point. By
  // name as well, now that the name is pinned: a system that opens a link's
  // target in spite of FILE_FLAG_OPEN_REPARSE_POINT still reports the link.
  BY_HANDLE_FILE_INFORMATION identity;
  const DWORD byName = osGetFileAttributesA(full);
  if (!osGetFileInformationByHandle(handle, &identity) ||
      !IsPlainDirectory(identity.dwFileAttributes) || byName == INVALID_FILE_ATTRIBUTES ||
      !IsPlainDirectory(byName)) {
    osCloseHandle(handle);
    return ENOTDIR;
  }
  return Hold(handle, dir);
}

int Win32Os::NextEntry(Dir handle, char* name, uint32_t size) {
  if (handle == nullptr || size == 0) return EINVAL;
  name[0] = '\0';
  HeldDirectory* dir = ToHeld(handle);
  for (;;) {
    dir->listed[0] = '\0';
    if (dir->next == kNoRecord) {
      // Listed through the held handle, a batch of records at a time.
      if (!osGetFileInformationByHandleEx(
              dir->handle, dir->listing ? FileIdBothDirectoryInfo : FileIdBothDirectoryRestartInfo,
              dir->records, sizeof dir->records)) {
        const DWORD error = osGetLastError();
        return error == ERROR_NO_MORE_FILES ? 0 : ErrnoOf(error);
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
    const int length = osWideCharToMultiByte(CP_ACP, 0, record->FileName, wideLength, dir->listed,
                                             sizeof dir->listed - 1, nullptr, nullptr);
    wchar_t back[sizeof dir->listed];
    if (length <= 0 || osMultiByteToWideChar(CP_ACP, 0, dir->listed, length, back,
                                             sizeof dir->listed) != wideLength ||
        memcmp(back, record->FileName, record->FileNameLength) != 0) {
      if (length <= 0 && osGetLastError() == ERROR_INSUFFICIENT_BUFFER) continue;
      memcpy(dir->listed, "?", 2);
    } else {
      dir->listed[length] = '\0';
    }
    if (strlen(dir->listed) >= size) continue;  // never cut
    dir->listedAttributes = record->FileAttributes;
    dir->listedId = record->FileId.QuadPart;
    memcpy(name, dir->listed, strlen(dir->listed) + 1);
    return 0;
  }
}

int Win32Os::RewindDirectory(Dir handle) {
  if (handle == nullptr) return EINVAL;
  HeldDirectory* dir = ToHeld(handle);
  dir->listing = false;  // the next batch restarts the listing
  dir->next = kNoRecord;
  dir->listed[0] = '\0';
  return 0;
}

int Win32Os::QueryDirectory(Dir handle, DirectoryInfo* info) {
  if (handle == nullptr) return EINVAL;
  const HANDLE held = ToHeld(handle)->handle;
  BY_HANDLE_FILE_INFORMATION identity;
  alignas(8) unsigned char descriptor[kDescriptorSize];
  ULONG needed = 0;
  if (!osGetFileInformationByHandle(held, &identity)) return LastErrno();
  // Self-relative, as ReadSecurityDescriptor reads it.
  const NTSTATUS status = osNtQuerySecurityObject(
      held, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor, &needed);
  if (status < 0) return ErrnoOf(osRtlNtStatusToDosError(status));
  if (!ReadSecurityDescriptor(descriptor, sizeof descriptor, info)) return EINVAL;
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
  osCloseHandle(ToHeld(handle)->handle);
  osfree(ToHeld(handle));
}

int Win32Os::OpenSubdirectory(Dir parent, const char* name, Dir* dir) {
  *dir = nullptr;
  if (parent == nullptr) return EINVAL;
  HeldDirectory* held = ToHeld(parent);
  HANDLE handle;
  const DWORD error =
      OpenAt(held, name, kHoldAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_DIRECTORY_FILE, &handle);
  if (error != 0) return ErrnoOf(error);
  // A directory and no reparse point, by the handle; and, for the entry
  // just listed, the very object listed: a system that follows a link in
  // spite of FILE_OPEN_REPARSE_POINT opens another one.
  BY_HANDLE_FILE_INFORMATION identity;
  bool plain = osGetFileInformationByHandle(handle, &identity) &&
               IsPlainDirectory(identity.dwFileAttributes);
  if (plain && Listed(held, name)) {
    const LONGLONG id =
        static_cast<LONGLONG>(identity.nFileIndexHigh) << 32 | identity.nFileIndexLow;
    plain = IsPlainDirectory(held->listedAttributes) && (held->listedId == 0 || held->listedId == id);
  }
  held->listed[0] = '\0';  // used up (Os.h)
  if (!plain) {
    osCloseHandle(handle);
    return ENOTDIR;
  }
  return Hold(handle, dir);
}

int Win32Os::GetAttributesAt(Dir handle, const char* name, Attributes* attributes) {
  if (handle == nullptr) return EINVAL;
  const HeldDirectory* dir = ToHeld(handle);
  DWORD value;
  if (!IsPlainEntryName(name) && Listed(dir, name)) {
    value = dir->listedAttributes;  // "." and "..": NT opens no such names
  } else {
    HANDLE entry;
    const DWORD opened = OpenAt(dir, name, FILE_READ_ATTRIBUTES, kShareAll, 0, &entry);
    if (opened != 0) return ErrnoOf(opened);
    BY_HANDLE_FILE_INFORMATION information;
    const int error = osGetFileInformationByHandle(entry, &information) ? 0 : LastErrno();
    osCloseHandle(entry);
    if (error != 0) return error;
    value = information.dwFileAttributes;
    if (Listed(dir, name)) value |= dir->listedAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
  }
  AttributesOf(value, attributes);
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
  if (dir == nullptr) return EINVAL;
  HeldDirectory* held = ToHeld(dir);
  HANDLE entry;
  const DWORD opened = OpenAt(held, name, DELETE, kShareAll, options, &entry);
  held->listed[0] = '\0';  // used up (Os.h)
  if (opened != 0) return ErrnoOf(opened);
  FILE_DISPOSITION_INFO disposition = {TRUE};
  const int error =
      osSetFileInformationByHandle(entry, FileDispositionInfo, &disposition, sizeof disposition) ? 0
                                                                                             : LastErrno();
  osCloseHandle(entry);
  return error;
}

int Win32Os::InUseAt(Dir dir, const char* name, bool* held) {
  *held = false;
  if (dir == nullptr) return EINVAL;
  HANDLE handle;
  const DWORD error = OpenAt(ToHeld(dir), name, DELETE | FILE_WRITE_DATA, kShareAll, 0, &handle);
  return HeldElsewhere(error, handle, held);
}

}  // namespace platform
