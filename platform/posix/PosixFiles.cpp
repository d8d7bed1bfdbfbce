// The POSIX backend's files (with the package's copy and its digest), its
// directories by their paths, and how a Windows path maps onto the drive.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/EntryName.h"
#include "platform/ReadAhead.h"
#include "platform/Sha256.h"
#include "platform/posix/PosixCalls.h"
#include "platform/posix/PosixOs.h"

namespace platform {
namespace {

// An open file; one opened for reading is read ahead (ReadAhead.h).
struct PosixFile {
  int fd;
  ReadAhead ahead;
};

PosixFile* ToPosix(File file) { return reinterpret_cast<PosixFile*>(file); }

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

int PosixOs::Map(const char* path, char* out, size_t size) {
  if (MapPath(path, out, size)) return 0;
  return strlen(path) >= size ? ENAMETOOLONG : ENOENT;
}

int PosixOs::Keep(int fd, bool readAhead, File* file) {
  PosixFile* record = static_cast<PosixFile*>(gPosixCalls.malloc(sizeof(PosixFile)));
  if (record != nullptr) *record = PosixFile{fd, ReadAhead{}};
  if (record == nullptr || (readAhead && !record->ahead.Adopt(gPosixCalls.malloc(kReadAhead)))) {
    free(record);
    return Refuse(fd, ENOMEM);
  }
  *file = reinterpret_cast<File>(record);
  return 0;
}

int PosixOs::Refuse(int fd, int error) {
  gPosixCalls.close(fd);
  return error;
}

int PosixOs::OpenRead(const char* path, File* file) {
  *file = nullptr;
  char native[PATH_MAX];
  if (const int error = Map(path, native, sizeof native)) return error;
  const int fd = gPosixCalls.open(native, O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return errno;
  struct stat status;
  if (gPosixCalls.fstat(fd, &status) != 0) return Refuse(fd, errno);
  if (S_ISDIR(status.st_mode)) return Refuse(fd, EISDIR);  // Windows opens no directory as a file
  return Keep(fd, true, file);
}

int PosixOs::OpenWrite(const char* path, File* file) {
  *file = nullptr;
  char native[PATH_MAX];
  if (const int error = Map(path, native, sizeof native)) return error;
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
      const bool regular = S_ISREG(status.st_mode);
      if (regular && (status.st_mode & S_IWUSR) == 0) return Refuse(fd, EACCES);
      if (regular && status.st_size > 0 && gPosixCalls.ftruncate(fd, 0) != 0) return Refuse(fd, errno);
    }
  }
  if (fd < 0) return errno;
  return Keep(fd, false, file);
}

int PosixOs::OpenScratch(const char* path, File* file) {
  *file = nullptr;
  char native[PATH_MAX];
  if (const int error = Map(path, native, sizeof native)) return error;
  const int fd = gPosixCalls.open(native, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  // Gone from its directory at once: the descriptor keeps it, and nothing
  // made by that name later meets it.
  if (gPosixCalls.unlinkat(AT_FDCWD, native, 0) != 0) return Refuse(fd, errno);
  return Keep(fd, true, file);
}

void PosixOs::Close(File handle) {
  if (handle == nullptr) return;
  PosixFile* file = ToPosix(handle);
  gPosixCalls.close(file->fd);
  free(file->ahead.block);
  free(file);
}

int PosixOs::Read(File handle, void* buffer, int32_t size, int32_t* got) {
  *got = 0;
  if (handle == nullptr || size < 0) return EINVAL;
  PosixFile* file = ToPosix(handle);
  int error = 0;
  const int32_t total = file->ahead.Read(buffer, size, [&](char* into, int32_t want) -> int32_t {
    for (;;) {
      const ssize_t read = gPosixCalls.read(file->fd, into, static_cast<size_t>(want));
      if (read >= 0) return static_cast<int32_t>(read);
      if (errno != EINTR) break;
    }
    error = errno;
    return -1;
  });
  if (total < 0) return error;
  *got = total;
  return 0;
}

int PosixOs::Write(File handle, const void* data, int32_t size) {
  if (handle == nullptr || size < 0) return EINVAL;
  const int fd = ToPosix(handle)->fd;
  int32_t total = 0;
  int error = 0;
  while (total < size) {
    const ssize_t put = gPosixCalls.write(fd, static_cast<const char*>(data) + total, size - total);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      error = put < 0 ? errno : ENOSPC;
      break;
    }
    total += static_cast<int32_t>(put);
  }
  // A scratch file, written before it is read: the reader starts after it.
  ReadAhead& ahead = ToPosix(handle)->ahead;
  ahead.Restart(ahead.blockEnd + total);
  return error;
}

int PosixOs::Seek(File handle, int64_t offset, SeekFrom from, int64_t* position) {
  Clear(position);
  if (handle == nullptr) return EINVAL;
  PosixFile* file = ToPosix(handle);
  const bool buffered = file->ahead.block != nullptr;
  int64_t base = 0;
  if (from == SeekFrom::kCurrent) {
    base = buffered ? file->ahead.Position() : gPosixCalls.lseek(file->fd, 0, SEEK_CUR);
  } else if (from == SeekFrom::kEnd) {
    struct stat status;
    base = gPosixCalls.fstat(file->fd, &status) == 0 ? status.st_size : -1;
  }
  if (base < 0) return errno;
  int64_t target;
  if (!SeekTarget(base, offset, &target)) return EINVAL;
  if (!file->ahead.MoveWithin(target)) {
    if (gPosixCalls.lseek(file->fd, static_cast<off_t>(target), SEEK_SET) < 0) return errno;
    file->ahead.Restart(target);
  }
  if (position != nullptr) *position = target;
  return 0;
}

int PosixOs::DigestCopy(File source, File copy, unsigned char* digest) {
  if (source == nullptr || copy == nullptr || ToPosix(source)->ahead.block == nullptr) return EINVAL;
  PosixFile* file = ToPosix(source);
  if (gPosixCalls.lseek(file->fd, 0, SEEK_SET) != 0) return errno;
  // Through the read-ahead block, which is then handed out empty.
  Sha256 hash;
  if (!Sha256Start(&hash)) return ENOMEM;  // libcrypto fails only without memory
  int64_t total = 0;
  ssize_t got;
  int error = 0;
  while (error == 0 && (got = gPosixCalls.read(file->fd, file->ahead.block, kReadAhead)) != 0) {
    if (got < 0 && errno != EINTR) {
      error = errno;
      break;
    }
    if (got < 0) continue;
    Sha256Add(&hash, file->ahead.block, static_cast<size_t>(got));
    error = Write(copy, file->ahead.block, static_cast<int32_t>(got));
    total += got;
  }
  file->ahead.Restart(total);
  if (error != 0) return error;
  Sha256Finish(&hash, digest);
  return 0;
}

int PosixOs::MakeDirectory(const char* path) {
  char native[PATH_MAX];
  if (const int error = Map(path, native, sizeof native)) return error;
  return gPosixCalls.mkdir(native, 0777) == 0 ? 0 : errno;
}

int PosixOs::MakePrivateDirectory(const char* path) {
  char native[PATH_MAX];
  if (const int error = Map(path, native, sizeof native)) return error;
  if (gPosixCalls.mkdir(native, 0700) != 0) return errno;
  if (gPosixCalls.chmod(native, 0700) == 0) return 0;  // whatever the umask said
  // Not made after all: a directory left would be open to what the umask let in.
  const int error = errno;
  gPosixCalls.rmdir(native);
  return error;
}

int PosixOs::ChangeDirectory(const char* path) {
  char native[PATH_MAX];
  if (const int error = Map(path, native, sizeof native)) return error;
  return gPosixCalls.chdir(native) == 0 ? 0 : errno;
}

int PosixOs::CurrentDirectory(char* buffer, uint32_t size) {
  if (size == 0) return ERANGE;
  buffer[0] = '\0';
  char native[PATH_MAX];
  if (gPosixCalls.getcwd(native, sizeof native) == nullptr) return errno;
  const size_t rootLength = strlen(root_);
  if (strncmp(native, root_, rootLength) != 0 ||
      (native[rootLength] != '/' && native[rootLength] != '\0')) {
    return ENOENT;  // outside the drive: no Windows name for it
  }
  const char* rest = native + rootLength;
  while (*rest == '/') ++rest;
  const size_t needed = 3 + strlen(rest) + 1;  // "c:\" + rest + zero
  if (needed > size) return ERANGE;
  memcpy(buffer, "c:\\", 3);
  size_t length = 3;
  for (; *rest != '\0'; ++rest) buffer[length++] = *rest == '/' ? '\\' : *rest;
  buffer[length] = '\0';
  return 0;
}

int PosixOs::RemoveEmptyDirectory(const char* path) {
  char native[PATH_MAX];
  if (const int error = Map(path, native, sizeof native)) return error;
  return RemoveDirectoryEntry(nullptr, AT_FDCWD, native);
}

int PosixOs::GetAttributes(const char* path, Attributes* attributes) {
  char native[PATH_MAX];
  if (const int error = Map(path, native, sizeof native)) return error;
  return StatEntry(AT_FDCWD, native, attributes);
}

}  // namespace platform
