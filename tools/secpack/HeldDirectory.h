// A directory of the tree being packed, held while the walk is in it: its
// names are listed, and natively its files opened, through the hold rather
// than by a path resolved again for each of them. One file per system
// (HeldDirectoryPosix.cpp, HeldDirectoryWin32.cpp), chosen by the build.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace secpack {

struct DirectoryEntry {
  std::string name;
  // regular, directory or symlink as the listing tells it (asked of the
  // file system only where it tells none, never through a link); unknown
  // for anything else.
  std::filesystem::file_type type;
};

class HeldDirectory {
 public:
  // Opens the directory itself, never a link in its place.
  explicit HeldDirectory(const std::filesystem::path& path);
  ~HeldDirectory();
  HeldDirectory(const HeldDirectory&) = delete;
  HeldDirectory& operator=(const HeldDirectory&) = delete;

  bool ok() const { return ok_; }
  // The descriptor to open its files from; -1 on Windows.
  int fd() const { return fd_; }
  // Its entries but "." and "..", in the file system's order; false, with
  // the system's reason, when it cannot be read.
  bool List(std::vector<DirectoryEntry>* entries, std::string* error) const;

 private:
  std::filesystem::path path_;
  int fd_ = -1;
  bool ok_ = false;
};

}  // namespace secpack
