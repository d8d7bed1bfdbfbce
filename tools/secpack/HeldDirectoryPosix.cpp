#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/secpack/HeldDirectory.h"

namespace fs = std::filesystem;

namespace secpack {

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

}  // namespace secpack
