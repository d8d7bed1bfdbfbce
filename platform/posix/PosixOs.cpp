#include "platform/posix/PosixOs.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/EntryName.h"
#include "platform/HostOs.h"
#include "platform/ReadAhead.h"
#include "platform/Sha256.h"
#include "platform/posix/PosixCalls.h"

extern char** environ;

namespace platform {
namespace {

// An open file; one opened for reading is read ahead (ReadAhead.h).
struct PosixFile {
  int fd;
  ReadAhead ahead;
};

PosixFile* ToPosix(File file) { return reinterpret_cast<PosixFile*>(file); }

File NewFile(int fd, bool readAhead) {
  PosixFile* file = static_cast<PosixFile*>(gPosixCalls.malloc(sizeof(PosixFile)));
  if (file != nullptr) *file = PosixFile{fd, ReadAhead{}};
  if (file == nullptr || (readAhead && !file->ahead.Allocate(gPosixCalls.malloc))) {
    free(file);
    gPosixCalls.close(fd);
    errno = ENOMEM;
    return nullptr;
  }
  return reinterpret_cast<File>(file);
}

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

// Appends text to out[*length], turning backslashes into slashes.
bool AppendPath(char* out, size_t size, size_t* length, const char* text) {
  for (; *text != '\0'; ++text) {
    if (*length + 1 >= size) return false;
    out[(*length)++] = *text == '\\' ? '/' : *text;
  }
  out[*length] = '\0';
  return true;
}

}  // namespace

Os& HostOs() {
  static PosixOs os("/");
  return os;
}

PosixOs::PosixOs(const char* driveRoot) {
  root_[0] = '\0';
  size_t length = strlen(driveRoot);
  while (length > 0 && driveRoot[length - 1] == '/') --length;
  if (length >= sizeof(root_)) length = 0;  // unusable; behaves as "/"
  memcpy(root_, driveRoot, length);
  root_[length] = '\0';
}

bool PosixOs::MapPath(const char* path, char* out, size_t size) const {
  if (size == 0) return false;
  out[0] = '\0';
  size_t length = 0;
  const char* rest = path;
  bool fromRoot = false;
  if (((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z')) &&
      path[1] == ':') {
    if (path[0] != 'c' && path[0] != 'C') return false;  // no other drive
    rest = path + 2;
    fromRoot = IsPathSeparator(rest[0]);  // "c:x" is relative to the current directory on c:
  } else if (IsPathSeparator(path[0])) {
    if (IsPathSeparator(path[1])) return false;  // UNC, "\\.\" and "\\?\" names
    fromRoot = true;
  }
  if (fromRoot) {
    if (!AppendPath(out, size, &length, root_)) return false;
    if (rest[1] == '\0' || (IsPathSeparator(rest[0]) && rest[1] == '\0')) {
      return AppendPath(out, size, &length, "/");
    }
  }
  if (rest[0] == '\0') return AppendPath(out, size, &length, ".");
  return AppendPath(out, size, &length, rest);
}

bool PosixOs::Map(const char* path, char* out, size_t size) {
  if (MapPath(path, out, size)) return true;
  lastError_ = strlen(path) >= size ? ENAMETOOLONG : ENOENT;
  return false;
}

int PosixOs::Fail() {
  lastError_ = errno;
  return -1;
}

File PosixOs::OpenRead(const char* path) {
  char native[PATH_MAX];
  if (!Map(path, native, sizeof native)) return nullptr;
  const int fd = gPosixCalls.open(native, O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) {
    Fail();
    return nullptr;
  }
  struct stat status;
  if (gPosixCalls.fstat(fd, &status) != 0) return Refuse(fd, errno);
  if (S_ISDIR(status.st_mode)) return Refuse(fd, EISDIR);  // Windows opens no directory as a file
  return Keep(fd, true);
}

File PosixOs::OpenWrite(const char* path) {
  char native[PATH_MAX];
  if (!Map(path, native, sizeof native)) return nullptr;
  // A new name, the usual case when unpacking, needs nothing but the open.
  int fd = gPosixCalls.open(native, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0 && errno == EEXIST) {
    // Something is there: opened without truncating it, so that a
    // read-only file can be refused untouched (Windows cannot truncate it,
    // and root could); what the descriptor shows is what gets truncated.
    fd = gPosixCalls.open(native, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0) {
      struct stat status;
      if (gPosixCalls.fstat(fd, &status) != 0) return Refuse(fd, errno);
      const bool file = S_ISREG(status.st_mode);
      if (file && (status.st_mode & S_IWUSR) == 0) return Refuse(fd, EACCES);
      if (file && status.st_size > 0 && gPosixCalls.ftruncate(fd, 0) != 0) return Refuse(fd, errno);
    }
  }
  if (fd < 0) {
    Fail();
    return nullptr;
  }
  return Keep(fd, false);
}

File PosixOs::OpenScratch(const char* path) {
  char native[PATH_MAX];
  if (!Map(path, native, sizeof native)) return nullptr;
  const int fd = gPosixCalls.open(native, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    Fail();
    return nullptr;
  }
  // Gone from its directory at once: the descriptor keeps it, and nothing
  // made by that name later meets it.
  if (gPosixCalls.unlinkat(AT_FDCWD, native, 0) != 0) return Refuse(fd, errno);
  return Keep(fd, true);
}

File PosixOs::Keep(int fd, bool readAhead) {
  File file = NewFile(fd, readAhead);
  if (file == nullptr) Fail();
  return file;
}

File PosixOs::Refuse(int fd, int error) {
  gPosixCalls.close(fd);
  lastError_ = error;
  return nullptr;
}

int32_t PosixOs::Read(File handle, void* buffer, int32_t size) {
  if (handle == nullptr || size < 0) return -1;
  PosixFile* file = ToPosix(handle);
  return file->ahead.Read(buffer, size, [&](char* into, int32_t want) -> int32_t {
    for (;;) {
      const ssize_t got = gPosixCalls.read(file->fd, into, static_cast<size_t>(want));
      if (got >= 0) return static_cast<int32_t>(got);
      if (errno != EINTR) return Fail();
    }
  });
}

int32_t PosixOs::Write(File handle, const void* data, int32_t size) {
  if (handle == nullptr || size < 0) return 0;
  const int fd = ToPosix(handle)->fd;
  int32_t total = 0;
  while (total < size) {
    const ssize_t put = gPosixCalls.write(fd, static_cast<const char*>(data) + total, size - total);
    if (put < 0) {
      if (errno == EINTR) continue;
      Fail();
      break;
    }
    if (put == 0) break;
    total += static_cast<int32_t>(put);
  }
  // A scratch file, written before it is read: the reader starts after it.
  ReadAhead& ahead = ToPosix(handle)->ahead;
  ahead.Restart(ahead.blockEnd + total);
  return total;
}

int64_t PosixOs::Seek(File handle, int64_t offset, SeekFrom from) {
  if (handle == nullptr) return -1;
  PosixFile* file = ToPosix(handle);
  const bool buffered = file->ahead.block != nullptr;
  int64_t base = 0;
  if (from == SeekFrom::kCurrent) {
    base = buffered ? file->ahead.Position() : gPosixCalls.lseek(file->fd, 0, SEEK_CUR);
  } else if (from == SeekFrom::kEnd) {
    struct stat status;
    base = gPosixCalls.fstat(file->fd, &status) == 0 ? status.st_size : -1;
  }
  if (base < 0) return Fail();
  int64_t target;
  if (!SeekTarget(base, offset, &target)) {
    lastError_ = EINVAL;
    return -1;
  }
  if (file->ahead.MoveWithin(target)) return target;
  const off_t position = gPosixCalls.lseek(file->fd, static_cast<off_t>(target), SEEK_SET);
  if (position < 0) return Fail();
  file->ahead.Restart(position);
  return position;
}

void PosixOs::Close(File handle) {
  if (handle == nullptr) return;
  PosixFile* file = ToPosix(handle);
  gPosixCalls.close(file->fd);
  ReadAhead::Free(file);
}

int PosixOs::DigestCopy(File source, File copy, unsigned char* digest) {
  if (source == nullptr || copy == nullptr || ToPosix(source)->ahead.block == nullptr) return -1;
  PosixFile* file = ToPosix(source);
  if (gPosixCalls.lseek(file->fd, 0, SEEK_SET) != 0) return Fail();
  // Through the read-ahead block, which is then handed out empty.
  Sha256 hash;
  if (!Sha256Start(&hash)) {
    lastError_ = ENOMEM;  // libcrypto fails only without memory
    return -1;
  }
  int64_t total = 0;
  ssize_t got;
  bool written = true;
  while (written && (got = gPosixCalls.read(file->fd, file->ahead.block, kReadAhead)) != 0) {
    if (got < 0 && errno != EINTR) break;
    if (got < 0) continue;
    Sha256Add(&hash, file->ahead.block, static_cast<size_t>(got));
    written = Write(copy, file->ahead.block, static_cast<int32_t>(got)) == got;
    total += got;
  }
  file->ahead.Restart(total);
  if (!written) return -1;  // Write recorded why
  if (got < 0) return Fail();
  Sha256Finish(&hash, digest);
  return 0;
}

int PosixOs::MakeDirectory(const char* path) {
  char native[PATH_MAX];
  if (!Map(path, native, sizeof native)) return -1;
  return gPosixCalls.mkdir(native, 0777) == 0 ? 0 : Fail();
}

int PosixOs::MakePrivateDirectory(const char* path) {
  char native[PATH_MAX];
  if (!Map(path, native, sizeof native)) return -1;
  if (gPosixCalls.mkdir(native, 0700) != 0) return Fail();
  if (gPosixCalls.chmod(native, 0700) == 0) return 0;  // whatever the umask said
  // Not made after all: a directory left would be open to what the umask let in.
  Fail();
  gPosixCalls.rmdir(native);
  return -1;
}

int PosixOs::ChangeDirectory(const char* path) {
  char native[PATH_MAX];
  if (!Map(path, native, sizeof native)) return -1;
  return gPosixCalls.chdir(native) == 0 ? 0 : Fail();
}

int PosixOs::CurrentDirectory(char* buffer, uint32_t size) {
  if (size == 0) return -1;
  buffer[0] = '\0';
  char native[PATH_MAX];
  if (gPosixCalls.getcwd(native, sizeof native) == nullptr) return Fail();
  const size_t rootLength = strlen(root_);
  if (strncmp(native, root_, rootLength) != 0 ||
      (native[rootLength] != '/' && native[rootLength] != '\0')) {
    lastError_ = ENOENT;  // outside the drive: no Windows name for it
    return -1;
  }
  const char* rest = native + rootLength;
  while (*rest == '/') ++rest;
  const size_t needed = 3 + strlen(rest) + 1;  // "c:\" + rest + zero
  if (needed > size) {
    lastError_ = ERANGE;
    return -1;
  }
  memcpy(buffer, "c:\\", 3);
  size_t length = 3;
  for (; *rest != '\0'; ++rest) buffer[length++] = *rest == '/' ? '\\' : *rest;
  buffer[length] = '\0';
  return 0;
}

int PosixOs::RemoveEmptyDirectory(const char* path) {
  char native[PATH_MAX];
  if (!Map(path, native, sizeof native)) return -1;
  return RemoveDirectoryEntry(nullptr, AT_FDCWD, native);
}

Dir PosixOs::OpenDirectory(const char* path) {
  char native[PATH_MAX];
  if (!Map(path, native, sizeof native)) return nullptr;
  // A trailing slash would make the last component resolve through a link.
  size_t length = strlen(native);
  while (length > 1 && native[length - 1] == '/') native[--length] = '\0';
  return Hold(gPosixCalls.open(native, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0));
}

Dir PosixOs::OpenSubdirectory(Dir parent, const char* name) {
  if (parent == nullptr || !IsPlainEntryName(name)) {
    lastError_ = ENOENT;
    return nullptr;
  }
  PosixDir* held = ToPosix(parent);
  held->knownName[0] = '\0';  // its walk takes its time (Os.h)
  return Hold(gPosixCalls.openat(held->fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0));
}

Dir PosixOs::Hold(int fd) {
  if (fd < 0) {
    Fail();
    return nullptr;
  }
  PosixDir* dir = static_cast<PosixDir*>(gPosixCalls.malloc(sizeof(PosixDir)));
  if (dir == nullptr) {
    gPosixCalls.close(fd);
    lastError_ = ENOMEM;
    return nullptr;
  }
  dir->fd = fd;
  dir->next = 0;
  dir->end = 0;
  dir->knownName[0] = '\0';
  return reinterpret_cast<Dir>(dir);
}

int PosixOs::NextEntry(Dir handle, char* name, uint32_t size) {
  if (handle == nullptr || size == 0) return 0;
  PosixDir* dir = ToPosix(handle);
  dir->knownName[0] = '\0';  // a new entry: what was learnt is of another
  for (;;) {
    if (dir->next >= dir->end) {
      const ssize_t got = gPosixCalls.getdents64(dir->fd, dir->entries, sizeof dir->entries);
      if (got == 0) return 0;
      if (got < 0) return Fail();
      dir->next = 0;
      dir->end = static_cast<size_t>(got);
    }
    const struct dirent64* entry = reinterpret_cast<const struct dirent64*>(dir->entries + dir->next);
    dir->next += entry->d_reclen;
    const size_t length = strlen(entry->d_name);
    if (length < size) {
      memcpy(name, entry->d_name, length + 1);
      return 1;
    }
  }
}

int PosixOs::RewindDirectory(Dir handle) {
  if (handle == nullptr) return -1;
  PosixDir* dir = ToPosix(handle);
  if (gPosixCalls.lseek(dir->fd, 0, SEEK_SET) != 0) return Fail();
  dir->next = 0;
  dir->end = 0;
  dir->knownName[0] = '\0';
  return 0;
}

// The POSIX reading of the rule: root stands for the Administrators, and
// a directory group or others may write is one others may change.
int PosixOs::QueryDirectory(Dir handle, DirectoryInfo* info) {
  if (handle == nullptr) return -1;
  // statx, for the birth time: inode numbers are given out again at once.
  struct statx status;
  if (gPosixCalls.statx(ToPosix(handle)->fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME,
                        &status) != 0) {
    return Fail();
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

int PosixOs::GetAttributes(const char* path, Attributes* attributes) {
  char native[PATH_MAX];
  if (!Map(path, native, sizeof native)) return -1;
  return Describe(AT_FDCWD, native, attributes);
}

int PosixOs::GetAttributesAt(Dir dir, const char* name, Attributes* attributes) {
  const bool dotName = strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
  if (dir == nullptr || (!dotName && !IsPlainEntryName(name))) {
    lastError_ = ENOENT;
    return -1;
  }
  PosixDir* held = ToPosix(dir);
  held->knownName[0] = '\0';
  if (Describe(held->fd, name, attributes) != 0) return -1;
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

int PosixOs::Describe(int at, const char* name, Attributes* attributes) {
  struct stat status;
  if (gPosixCalls.fstatat(at, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return Fail();
  attributes->link = S_ISLNK(status.st_mode);
  // Windows reports a directory link as a directory with a reparse point.
  struct stat target;
  attributes->directory = attributes->link ? gPosixCalls.fstatat(at, name, &target, 0) == 0 && S_ISDIR(target.st_mode)
                                           : S_ISDIR(status.st_mode);
  attributes->readOnly = !attributes->link && (status.st_mode & S_IWUSR) == 0;
  return 0;
}

int PosixOs::RemoveFileAt(Dir dir, const char* name) {
  if (dir == nullptr || !IsPlainEntryName(name)) {
    lastError_ = ENOENT;
    return -1;
  }
  const int at = ToPosix(dir)->fd;
  Attributes attributes;
  if (!Recall(dir, name, &attributes) && Describe(at, name, &attributes) != 0) return -1;
  if (attributes.directory) {
    lastError_ = EISDIR;
    return -1;
  }
  if (attributes.readOnly) {
    lastError_ = EACCES;  // read-only files survive deletion on Windows
    return -1;
  }
  return gPosixCalls.unlinkat(at, name, 0) == 0 ? 0 : Fail();
}

int PosixOs::RemoveEmptyDirectoryAt(Dir dir, const char* name) {
  if (dir == nullptr || !IsPlainEntryName(name)) {
    lastError_ = ENOENT;
    return -1;
  }
  return RemoveDirectoryEntry(dir, ToPosix(dir)->fd, name);
}

// A directory, or a link to one: the link goes, its target stays.
int PosixOs::RemoveDirectoryEntry(Dir dir, int at, const char* name) {
  Attributes attributes;
  if (!Recall(dir, name, &attributes) && Describe(at, name, &attributes) != 0) return -1;
  if (!attributes.directory) {
    lastError_ = ENOTDIR;
    return -1;
  }
  return gPosixCalls.unlinkat(at, name, attributes.link ? 0 : AT_REMOVEDIR) == 0 ? 0 : Fail();
}

int PosixOs::ErrorNumber() {
  return lastError_;
}

// Nothing here keeps a file from being deleted while it is open or run.
int PosixOs::InUse(const char*) {
  return 0;
}
int PosixOs::InUseAt(Dir, const char*) { return 0; }

// Natively no other installer shares the drive.
int PosixOs::LockInstall() {
  return 0;
}
void PosixOs::UnlockInstall() {
}

int PosixOs::Launch(const char* commandLine) {
  char native[PATH_MAX];
  if (!Map(commandLine, native, sizeof native)) return -1;
  char* const argv[] = {native, nullptr};
  pid_t child;
  const int error = gPosixCalls.posix_spawn(&child, native, nullptr, nullptr, argv, environ);
  if (error != 0) {
    lastError_ = error;
    return -1;
  }
  return 0;
}

int PosixOs::OpenDevice(const char* name) {
  static const char kDevicePrefix[] = "\\\\.\\";
  if (strncmp(name, kDevicePrefix, 4) != 0 || name[4] == '\0') return 0;
  char native[PATH_MAX];
  const int written = snprintf(native, sizeof native, "%s/dev/%s", root_, name + 4);
  if (written < 0 || static_cast<size_t>(written) >= sizeof native) return 0;
  const int fd = gPosixCalls.open(native, O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) {
    Fail();
    return 0;
  }
  gPosixCalls.close(fd);
  return 1;
}

void PosixOs::Sleep(uint32_t milliseconds) {
  struct timespec delay;
  delay.tv_sec = milliseconds / 1000;
  delay.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (gPosixCalls.nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

void PosixOs::Print(const char* text) {
  gPosixCalls.fputs(text, stdout);
  gPosixCalls.fflush(stdout);
}

}  // namespace platform
