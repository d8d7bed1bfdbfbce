// Links made natively: POSIX symbolic links.
#include <filesystem>

#include "tests/support/HostLinks.h"

namespace fs = std::filesystem;

namespace testing_support {

bool MakeDirectoryLink(const std::string& linkPath, const std::string& targetPath) {
  std::error_code error;
  fs::create_directory_symlink(targetPath, linkPath, error);
  return !error;
}

bool SwapForLink(const TestDrive& drive, const std::string& relative, const std::string& movedTo,
                 const std::string& target) {
  std::error_code error;
  fs::rename(drive.Native(relative), drive.Native(movedTo), error);
  if (!error) fs::create_directory_symlink(drive.Native(target), drive.Native(relative), error);
  return !error;
}

void RemoveFromHost(const std::string& path) { ForceRemoveTree(path); }

}  // namespace testing_support
