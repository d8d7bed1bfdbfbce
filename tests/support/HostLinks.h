// Directory links for tests, made from the host's side: natively a POSIX
// symbolic link; under Wine a Unix link inside the prefix's drive, which
// Win32 sees as a directory with a reparse point (Wine's own
// CreateSymbolicLinkA makes nothing).
#pragma once

#include <string>

#include "tests/support/TestDrive.h"

namespace testing_support {

// A link at linkPath to the directory targetPath (host paths, as
// TestDrive::Native gives them). False when this system cannot make one.
bool MakeDirectoryLink(const std::string& linkPath, const std::string& targetPath);
inline bool MakeDirectoryLink(const TestDrive& drive, const std::string& relative,
                              const std::string& target) {
  return MakeDirectoryLink(drive.Native(relative), drive.Native(target));
}

// Moves the directory at relative to movedTo and puts a link to target in
// its place, from the host's side, as a local user racing the installer
// would. True once the link is visible where the directory was.
bool SwapForLink(const TestDrive& drive, const std::string& relative, const std::string& movedTo,
                 const std::string& target);

// Removes a tree from the host's side: under Wine, deletions act on a Unix
// link's target, and names such as "..." cannot be reached through Windows
// names at all.
void RemoveFromHost(const std::string& path);

// Removes the drive from the host's side before the drive itself goes.
// Declare it after the drive.
class HostCleanup {
 public:
  explicit HostCleanup(const TestDrive& drive) : root_(drive.Native("")) {}
  ~HostCleanup() { RemoveFromHost(root_); }

 private:
  std::string root_;
};

}  // namespace testing_support
