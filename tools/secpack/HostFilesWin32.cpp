#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "platform/win32/Win32Links.h"
#include "tools/secpack/HostFiles.h"

namespace fs = std::filesystem;

namespace secpack {

SourceFile::~SourceFile() {
  if (fd_ >= 0) _close(fd_);
}

int64_t SourceFile::Read(void* into, size_t size) {
  return _read(fd_, into, static_cast<unsigned>(size));
}

// Files are opened by path on Windows: the hold is the path alone.
HeldDirectory::HeldDirectory(const fs::path& path) : path_(path) {
  std::error_code error;
  ok_ = fs::is_directory(fs::symlink_status(path, error)) && !platform::IsReparsePoint(path.c_str());
}

HeldDirectory::~HeldDirectory() = default;

bool HeldDirectory::List(std::vector<DirectoryEntry>* entries, std::string* error) const {
  entries->clear();
  std::error_code failure;
  for (fs::directory_iterator it(path_, failure), end; !failure && it != end; it.increment(failure)) {
    // The type the enumeration reports with the name; a link is a link,
    // asked of the name itself, since the library here sees none.
    fs::file_type type = fs::file_type::unknown;
    if (platform::IsReparsePoint(it->path().c_str()) || it->is_symlink(failure)) {
      type = fs::file_type::symlink;
    } else if (!failure && it->is_directory(failure)) {
      type = fs::file_type::directory;
    } else if (!failure && it->is_regular_file(failure)) {
      type = fs::file_type::regular;
    }
    if (failure) break;
    entries->push_back(DirectoryEntry{it->path().filename().string(), type});
  }
  if (failure) *error = failure.message();
  return !failure;
}

int HeldDirectory::OpenEntry(const std::string& name) const {
  return _wopen((path_ / fs::u8path(name)).c_str(), _O_RDONLY | _O_BINARY);
}

bool SourceFile::Measure() {
  struct _stati64 status;
  if (_fstati64(fd_, &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) return false;
  size_ = static_cast<int64_t>(status.st_size);
  return true;
}

ArchiveOutput::ArchiveOutput(const std::string& path) {
  fd_ = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd_ < 0) Fail(errno);
}

int64_t ArchiveOutput::WriteSome(const void* data, size_t size) {
  return _write(fd_, data, static_cast<unsigned>(size));
}

bool ArchiveOutput::WriteAtStart(const void* data, size_t size) {
  if (ok() && (_lseeki64(fd_, 0, SEEK_SET) != 0 ||
               _write(fd_, data, static_cast<unsigned>(size)) != static_cast<int>(size))) {
    Fail(errno);
  }
  return ok();
}

// The C runtime these files are written through has no such copy: on
// Windows the contents go through memory.
ArchiveOutput::Copy ArchiveOutput::CopyFrom(SourceFile*, int64_t) { return Copy::kNotHere; }

bool ArchiveOutput::Close() {
  if (fd_ >= 0 && _close(fd_) != 0) Fail(errno);
  fd_ = -1;
  return ok();
}

}  // namespace secpack
