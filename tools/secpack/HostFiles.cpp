#include "tools/secpack/HostFiles.h"

#include <errno.h>
#include <string.h>

namespace secpack {

bool HeldDirectory::Open(const std::string& name, SourceFile* file) const {
  file->fd_ = OpenEntry(name);  // closed with the file, whatever follows
  return file->fd_ >= 0 && file->Measure();
}

ArchiveOutput::~ArchiveOutput() { Close(); }

const char* ArchiveOutput::error() const { return strerror(error_); }

void ArchiveOutput::Fail(int error) {
  if (error_ == 0) error_ = error;
}

bool ArchiveOutput::Write(const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (ok() && done < size) {
    const int64_t put = WriteSome(bytes + done, size - done);
    if (put < 0) {
      Fail(errno);
    } else if (put == 0) {
      Fail(ENOSPC);
    } else {
      done += static_cast<size_t>(put);
    }
  }
  return ok();
}

}  // namespace secpack
