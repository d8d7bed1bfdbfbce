#include "platform/PosixOs.h"

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

extern char** environ;

namespace platform {
namespace {

bool IsSlash(char c) { return c == '\\' || c == '/'; }

File ToFile(int fd) { return reinterpret_cast<File>(static_cast<intptr_t>(fd) + 1); }
int ToFd(File file) { return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1); }

struct PosixDir {
  DIR* stream;
};

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
    fromRoot = IsSlash(rest[0]);  // "c:x" is relative to the current directory on c:
  } else if (IsSlash(path[0])) {
    if (IsSlash(path[1])) return false;  // UNC, "\\.\" and "\\?\" names
    fromRoot = true;
  }
  if (fromRoot) {
    if (!AppendPath(out, size, &length, root_)) return false;
    if (rest[1] == '\0' || (IsSlash(rest[0]) && rest[1] == '\0')) {
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
  const int fd = open(native, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Fail();
    return nullptr;
  }
  struct stat status;
  if (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
    lastError_ = EISDIR;  // Windows does not open directories as files
    close(fd);
    return nullptr;
  }
  return ToFile(fd);
}

File PosixOs::OpenWrite(const char* path) {
  char native[PATH_MAX];
  if (!Map(path, native, sizeof native)) return nullptr;
  struct stat status;
  if (stat(native, &status) == 0 && S_ISREG(status.st_mode) && (status.st_mode & S_IWUSR) == 0) {
    lastError_ = EACCES;  // a read-only file cannot be truncated on Windows
    return nullptr;
  }
  const int fd = open(native, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    Fail();
    return nullptr;
  }
  return ToFile(fd);
}

int32_t PosixOs::Read(File file, void* buffer, int32_t size) {
  if (file == nullptr || size < 0) return -1;
  int32_t total = 0;
  while (total < size) {
    const ssize_t got = read(ToFd(file), static_cast<char*>(buffer) + total, size - total);
    if (got < 0) {
      if (errno == EINTR) continue;
      Fail();
      return total > 0 ? total : -1;
    }
    if (got == 0) break;
    total += static_cast<int32_t>(got);
  }
  return total;
}

int32_t PosixOs::Write(File file, const void* data, int32_t size) {
  if (file == nullptr || size < 0) return 0;
  int32_t total = 0;
  while (total < size) {
    const ssize_t put = write(ToFd(file), static_cast<const char*>(data) + total, size - total);
    if (put < 0) {
      if (errno == EINTR) continue;
      Fail();
      break;
    }
    if (put == 0) break;
    total += static_cast<int32_t>(put);
  }
  return total;
}

int64_t PosixOs::Seek(File file, int64_t offset, SeekFrom from) {
  if (file == nullptr) return -1;
  const int fd = ToFd(file);
  int64_t base = 0;
  if (from == SeekFrom::kCurrent) {
    base = lseek(fd, 0, SEEK_CUR);
  } else if (from == SeekFrom::kEnd) {
    struct stat status;
    base = fstat(fd, &status) == 0 ? status.st_size : -1;
  }
  if (base < 0) return Fail();
  if (offset < -base || (offset > 0 && base > INT64_MAX - offset)) {
    lastError_ = EINVAL;
    return -1;
  }
  const off_t position = lseek(fd, static_cast<off_t>(base + offset), SEEK_SET);
  return position < 0 ? Fail() : position;
}

void PosixOs::Close(File file) {
  if (file != nullptr) close(ToFd(file));
}

int PosixOs::MakeDirectory(const char* path) {
  char native[PATH_MAX];
  if (!Map(path, native, sizeof native)) return -1;
  return mkdir(native, 0777) == 0 ? 0 : Fail();
}

int PosixOs::MakePrivateDirectory(const char* path) {
  char native[PATH_MAX];
  if (!Map(path, native, sizeof native)) return -1;
  if (mkdir(native, 0700) != 0) return Fail();
  return chmod(native, 0700) == 0 ? 0 : Fail();  // whatever the umask said
}

int PosixOs::ChangeDirectory(const char* path) {
  char native[PATH_MAX];
  if (!Map(path, native, sizeof native)) return -1;
  return chdir(native) == 0 ? 0 : Fail();
}

int PosixOs::CurrentDirectory(char* buffer, uint32_t size) {
  if (size == 0) return -1;
  buffer[0] = '\0';
  char native[PATH_MAX];
  if (getcwd(native, sizeof native) == nullptr) return Fail();
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
  struct stat status;
  if (lstat(native, &status) == 0 && S_ISLNK(status.st_mode)) {
    struct stat target;
    if (stat(native, &target) != 0 || !S_ISDIR(target.st_mode)) {
      lastError_ = ENOTDIR;
      return -1;
    }
    return unlink(native) == 0 ? 0 : Fail();  // the link goes, its target stays
  }
  return rmdir(native) == 0 ? 0 : Fail();
}

int PosixOs::RemoveFile(const char* path) {
  char native[PATH_MAX];
  if (!Map(path, native, sizeof native)) return -1;
  struct stat status;
  if (lstat(native, &status) != 0) return Fail();
  if (S_ISDIR(status.st_mode)) {
    lastError_ = EISDIR;
    return -1;
  }
  if (!S_ISLNK(status.st_mode) && (status.st_mode & S_IWUSR) == 0) {
    lastError_ = EACCES;  // read-only files survive deletion on Windows
    return -1;
  }
  return unlink(native) == 0 ? 0 : Fail();
}

Dir PosixOs::OpenDirectory(const char* path) {
  char native[PATH_MAX];
  if (!Map(path, native, sizeof native)) return nullptr;
  // A trailing slash would make the last component resolve through a link.
  size_t length = strlen(native);
  while (length > 1 && native[length - 1] == '/') native[--length] = '\0';
  const int fd = open(native, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    Fail();
    return nullptr;
  }
  DIR* stream = fdopendir(fd);
  if (stream == nullptr) {
    Fail();
    close(fd);
    return nullptr;
  }
  PosixDir* dir = static_cast<PosixDir*>(malloc(sizeof(PosixDir)));
  if (dir == nullptr) {
    closedir(stream);
    lastError_ = ENOMEM;
    return nullptr;
  }
  dir->stream = stream;
  return reinterpret_cast<Dir>(dir);
}

int PosixOs::EnterDirectory(Dir handle) {
  if (handle == nullptr) return -1;
  // By descriptor: whatever now sits at the directory's name.
  return fchdir(dirfd(reinterpret_cast<PosixDir*>(handle)->stream)) == 0 ? 0 : Fail();
}

int PosixOs::NextEntry(Dir handle, char* name, uint32_t size) {
  if (handle == nullptr || size == 0) return 0;
  PosixDir* dir = reinterpret_cast<PosixDir*>(handle);
  for (;;) {
    errno = 0;
    const struct dirent* entry = readdir(dir->stream);
    if (entry == nullptr) {
      if (errno != 0) Fail();
      return 0;
    }
    const size_t length = strlen(entry->d_name);
    if (length < size) {
      memcpy(name, entry->d_name, length + 1);
      return 1;
    }
  }
}

void PosixOs::CloseDirectory(Dir handle) {
  if (handle == nullptr) return;
  PosixDir* dir = reinterpret_cast<PosixDir*>(handle);
  closedir(dir->stream);
  free(dir);
}

int PosixOs::GetAttributes(const char* path, Attributes* attributes) {
  char native[PATH_MAX];
  if (!Map(path, native, sizeof native)) return -1;
  struct stat status;
  if (lstat(native, &status) != 0) return Fail();
  attributes->link = S_ISLNK(status.st_mode);
  if (attributes->link) {
    // Windows reports a directory link as a directory with a reparse point.
    struct stat target;
    attributes->directory = stat(native, &target) == 0 && S_ISDIR(target.st_mode);
    attributes->readOnly = false;
  } else {
    attributes->directory = S_ISDIR(status.st_mode);
    attributes->readOnly = (status.st_mode & S_IWUSR) == 0;
  }
  return 0;
}

int PosixOs::ErrorNumber() { return lastError_; }

// Nothing here keeps a file from being deleted while it is open or run.
int PosixOs::InUse(const char*) { return 0; }

// Natively no other installer shares the drive.
int PosixOs::LockInstall() { return 0; }
void PosixOs::UnlockInstall() {}

int PosixOs::Launch(const char* commandLine) {
  char native[PATH_MAX];
  if (!Map(commandLine, native, sizeof native)) return -1;
  char* const argv[] = {native, nullptr};
  pid_t child;
  const int error = posix_spawn(&child, native, nullptr, nullptr, argv, environ);
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
  const int fd = open(native, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Fail();
    return 0;
  }
  close(fd);
  return 1;
}

void PosixOs::Sleep(uint32_t milliseconds) {
  struct timespec delay;
  delay.tv_sec = milliseconds / 1000;
  delay.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

void PosixOs::Print(const char* text) {
  fputs(text, stdout);
  fflush(stdout);
}

}  // namespace platform
