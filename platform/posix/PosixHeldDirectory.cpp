// The POSIX backend's held directories and the operations on their
// entries: what the tree walks of package/RemoveTree.cpp are made of.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/EntryName.h"
#include "platform/posix/PosixCalls.h"
#include "platform/posix/PosixOs.h"

namespace platform {
namespace {

// A directory held open and read in batches of entries straight from the
// kernel: O_DIRECTORY has made sure it is one, so nothing needs asking
// again, as fdopendir would. It keeps what GetAttributesAt last found for
// one of its entries, for that entry's deletion (Os.h: what a backend
// learnt about an entry).
struct PosixDir {
  int fd;
  size_t next;  // offset of the next entry in entries
  size_t end;   // bytes in entries
  char knownName[256];  // "": nothing known
  Attributes known;
  alignas(struct dirent64) char entries[32 * 1024];
};

PosixDir* ToPosix(Dir dir) { return reinterpret_cast<PosixDir*>(dir); }

}  // namespace

int PosixOs::OpenDirectory(const char* path, Dir* dir) {
  *dir = nullptr;
  char native[PATH_MAX];
  if (const int error = Map(path, native, sizeof native)) return error;
  // A trailing slash would make the last component resolve through a link.
  size_t length = strlen(native);
  while (length > 1 && native[length - 1] == '/') native[--length] = '\0';
  return Hold(gPosixCalls.open(native, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0), dir);
}

int PosixOs::OpenSubdirectory(Dir parent, const char* name, Dir* dir) {
  *dir = nullptr;
  if (parent == nullptr || !IsPlainEntryName(name)) return ENOENT;
  PosixDir* held = ToPosix(parent);
  held->knownName[0] = '\0';  // its walk takes its time (Os.h)
  return Hold(gPosixCalls.openat(held->fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0), dir);
}

int PosixOs::Hold(int fd, Dir* held) {
  if (fd < 0) return errno;
  PosixDir* dir = static_cast<PosixDir*>(gPosixCalls.malloc(sizeof(PosixDir)));
  if (dir == nullptr) return Refuse(fd, ENOMEM);
  dir->fd = fd;
  dir->next = 0;
  dir->end = 0;
  dir->knownName[0] = '\0';
  *held = reinterpret_cast<Dir>(dir);
  return 0;
}

int PosixOs::NextEntry(Dir handle, char* name, uint32_t size) {
  if (handle == nullptr || size == 0) return EINVAL;
  name[0] = '\0';
  PosixDir* dir = ToPosix(handle);
  dir->knownName[0] = '\0';  // a new entry: what was learnt is of another
  for (;;) {
    if (dir->next >= dir->end) {
      const ssize_t got = gPosixCalls.getdents64(dir->fd, dir->entries, sizeof dir->entries);
      if (got == 0) return 0;
      if (got < 0) return errno;
      dir->next = 0;
      dir->end = static_cast<size_t>(got);
    }
    const struct dirent64* entry = reinterpret_cast<const struct dirent64*>(dir->entries + dir->next);
    dir->next += entry->d_reclen;
    const size_t length = strlen(entry->d_name);
    if (length < size) {
      memcpy(name, entry->d_name, length + 1);
      return 0;
    }
  }
}

int PosixOs::RewindDirectory(Dir handle) {
  if (handle == nullptr) return EINVAL;
  PosixDir* dir = ToPosix(handle);
  if (gPosixCalls.lseek(dir->fd, 0, SEEK_SET) != 0) return errno;
  dir->next = 0;
  dir->end = 0;
  dir->knownName[0] = '\0';
  return 0;
}

// The POSIX reading of the rule: root stands for the Administrators, and
// a directory group or others may write is one others may change.
int PosixOs::QueryDirectory(Dir handle, DirectoryInfo* info) {
  if (handle == nullptr) return EINVAL;
  // statx, for the birth time: inode numbers are given out again at once.
  struct statx status;
  if (gPosixCalls.statx(ToPosix(handle)->fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME,
                        &status) != 0) {
    return errno;
  }
  info->volume = static_cast<uint64_t>(status.stx_dev_major) << 32 | status.stx_dev_minor;
  info->id = status.stx_ino;
  info->created = (status.stx_mask & STATX_BTIME) != 0
                      ? static_cast<uint64_t>(status.stx_btime.tv_sec) * 1000000000u + status.stx_btime.tv_nsec
                      : 0;
  static_assert(sizeof status.stx_uid <= kOwnerSize, "a uid fits an owner");
  memcpy(info->owner, &status.stx_uid, sizeof status.stx_uid);
  info->ownerSize = sizeof status.stx_uid;
  info->ownerKind = status.stx_uid == 0 ? OwnerKind::kAdministrators : OwnerKind::kOther;
  info->othersMayChange = (status.stx_mode & (S_IWGRP | S_IWOTH)) != 0;
  return 0;
}

void PosixOs::CloseDirectory(Dir handle) {
  if (handle == nullptr) return;
  PosixDir* dir = ToPosix(handle);
  gPosixCalls.close(dir->fd);
  free(dir);
}

int PosixOs::GetAttributesAt(Dir dir, const char* name, Attributes* attributes) {
  const bool dotName = strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
  if (dir == nullptr || (!dotName && !IsPlainEntryName(name))) return ENOENT;
  PosixDir* held = ToPosix(dir);
  held->knownName[0] = '\0';
  if (const int error = StatEntry(held->fd, name, attributes)) return error;
  const size_t length = strlen(name);
  if (length < sizeof held->knownName) {
    memcpy(held->knownName, name, length + 1);
    held->known = *attributes;
  }
  return 0;
}

// Used up by the deletion it serves, whether that succeeds or not.
bool PosixOs::Recall(Dir dir, const char* name, Attributes* attributes) {
  if (dir == nullptr) return false;
  PosixDir* held = ToPosix(dir);
  const bool known = held->knownName[0] != '\0' && strcmp(held->knownName, name) == 0;
  if (known) *attributes = held->known;
  held->knownName[0] = '\0';
  return known;
}

int PosixOs::StatEntry(int at, const char* name, Attributes* attributes) {
  struct stat status;
  if (gPosixCalls.fstatat(at, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  attributes->link = S_ISLNK(status.st_mode);
  // Windows reports a directory link as a directory with a reparse point.
  struct stat target;
  attributes->directory = attributes->link ? gPosixCalls.fstatat(at, name, &target, 0) == 0 && S_ISDIR(target.st_mode)
                                           : S_ISDIR(status.st_mode);
  attributes->readOnly = !attributes->link && (status.st_mode & S_IWUSR) == 0;
  return 0;
}

int PosixOs::RemoveFileAt(Dir dir, const char* name) {
  if (dir == nullptr || !IsPlainEntryName(name)) return ENOENT;
  const int at = ToPosix(dir)->fd;
  Attributes attributes;
  if (!Recall(dir, name, &attributes)) {
    if (const int error = StatEntry(at, name, &attributes)) return error;
  }
  if (attributes.directory) return EISDIR;
  if (attributes.readOnly) return EACCES;  // read-only files survive deletion on Windows
  return gPosixCalls.unlinkat(at, name, 0) == 0 ? 0 : errno;
}

int PosixOs::RemoveEmptyDirectoryAt(Dir dir, const char* name) {
  if (dir == nullptr || !IsPlainEntryName(name)) return ENOENT;
  return RemoveDirectoryEntry(dir, ToPosix(dir)->fd, name);
}

// A directory, or a link to one: the link goes, its target stays.
int PosixOs::RemoveDirectoryEntry(Dir dir, int at, const char* name) {
  Attributes attributes;
  if (!Recall(dir, name, &attributes)) {
    if (const int error = StatEntry(at, name, &attributes)) return error;
  }
  if (!attributes.directory) return ENOTDIR;
  return gPosixCalls.unlinkat(at, name, attributes.link ? 0 : AT_REMOVEDIR) == 0 ? 0 : errno;
}

// Nothing here keeps a file from being deleted while it is open or run.
int PosixOs::InUseAt(Dir, const char*, bool* held) {
  *held = false;
  return 0;
}

}  // namespace platform
