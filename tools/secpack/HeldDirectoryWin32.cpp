#include "tools/secpack/HeldDirectory.h"

namespace fs = std::filesystem;

namespace secpack {

// Files are opened by path on Windows: the hold is the path alone.
HeldDirectory::HeldDirectory(const fs::path& path) : path_(path) {
  std::error_code error;
  ok_ = fs::is_directory(fs::symlink_status(path, error));
}

HeldDirectory::~HeldDirectory() = default;

bool HeldDirectory::List(std::vector<DirectoryEntry>* entries, std::string* error) const {
  entries->clear();
  std::error_code failure;
  for (fs::directory_iterator it(path_, failure), end; !failure && it != end; it.increment(failure)) {
    // The type the enumeration reports with the name; a link is a link.
    fs::file_type type = fs::file_type::unknown;
    if (it->is_symlink(failure)) {
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

}  // namespace secpack
