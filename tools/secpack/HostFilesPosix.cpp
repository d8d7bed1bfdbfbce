#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/secpack/HostFiles.h"

namespace fs = std::filesystem;

namespace secpack {

SourceFile::~SourceFile() {
  if (fd_ >= 0) close(fd_);
}

int64_t SourceFile::Read(void* into, size_t size) {
  for (;;) {
    const ssize_t got = read(fd_, into, size);
    if (got >= 0 || errno != EINTR) return got;
  }
}

HeldDirectory::HeldDirectory(const fs::path& path) : path_(path) {
  fd_ = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  ok_ = fd_ >= 0;
}

HeldDirectory::~HeldDirectory() {
  if (fd_ >= 0) close(fd_);
}

bool HeldDirectory::List(std::vector<DirectoryEntry>* entries, std::string* error) const {
  entries->clear();
  // The listing takes a descriptor of its own, freed with it: the hold
  // stays, and no listing buffer stays with each level of a deep tree.
  const int fd = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  DIR* directory = fd >= 0 ? fdopendir(fd) : nullptr;
  if (directory == nullptr) {
    *error = strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  int failure = 0;
  for (;;) {
    errno = 0;
    const struct dirent* entry = readdir(directory);
    if (entry == nullptr) {
      failure = errno;
      break;
    }
    const char* name = entry->d_name;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    unsigned char kind = entry->d_type;
    if (kind == DT_UNKNOWN) {
      struct stat status;
      if (fstatat(fd_, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        failure = errno;
        break;
      }
      kind = S_ISLNK(status.st_mode) ? DT_LNK : S_ISDIR(status.st_mode) ? DT_DIR
                                              : S_ISREG(status.st_mode) ? DT_REG : DT_UNKNOWN;
    }
    const fs::file_type type = kind == DT_LNK   ? fs::file_type::symlink
                               : kind == DT_DIR ? fs::file_type::directory
                               : kind == DT_REG ? fs::file_type::regular
                                                : fs::file_type::unknown;
    entries->push_back(DirectoryEntry{name, type});
  }
  closedir(directory);
  if (failure != 0) *error = strerror(failure);
  return failure == 0;
}

int HeldDirectory::OpenEntry(const std::string& name) const {
  // By the bare name from the held descriptor, and not through a link:
  // what was listed here, or nothing. Without blocking, should a FIFO have
  // taken the file's place.
  return openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

bool SourceFile::Measure() {
  struct stat status;
  if (fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode)) return false;
  size_ = static_cast<int64_t>(status.st_size);
  return true;
}

ArchiveOutput::ArchiveOutput(const std::string& path) {
  fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) Fail(errno);
}

int64_t ArchiveOutput::WriteSome(const void* data, size_t size) {
  for (;;) {
    const ssize_t put = write(fd_, data, size);
    if (put >= 0 || errno != EINTR) return put;
  }
}

bool ArchiveOutput::WriteAtStart(const void* data, size_t size) {
  if (ok() && pwrite(fd_, data, size, 0) != static_cast<ssize_t>(size)) Fail(errno);
  return ok();
}

ArchiveOutput::Copy ArchiveOutput::CopyFrom(SourceFile* source, int64_t size) {
  int64_t remaining = size;
  while (ok() && remaining > 0) {
    const ssize_t copied =
        copy_file_range(source->fd_, nullptr, fd_, nullptr, static_cast<size_t>(remaining), 0);
    if (copied > 0) {
      remaining -= copied;
    } else if (copied == 0) {
      return Copy::kSourceShort;  // the file is shorter than it was
    } else if (errno != EINTR) {
      // Not between these file systems, or not on this kernel: known
      // before the first byte, and so for every file after this one.
      if (remaining == size && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                                errno == EOPNOTSUPP)) {
        return Copy::kNotHere;
      }
      Fail(errno);
    }
  }
  return ok() ? Copy::kDone : Copy::kFailed;
}

bool ArchiveOutput::Close() {
  if (fd_ >= 0 && close(fd_) != 0) Fail(errno);
  fd_ = -1;
  return ok();
}

}  // namespace secpack
