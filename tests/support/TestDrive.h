// A fresh, private drive for one test. It stands for "c:\" on the POSIX
// backend; on Windows it is a fresh directory below "c:\tests", so tests
// name paths through Path(). Installs a RecordingOs over the real backend
// as the process's OS for the test's lifetime and makes the drive current.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/testing/RecordingOs.h"

namespace testing_support {

// The host's side of a test drive, made by the one of TestDrivePosix.cpp
// and TestDriveWin32.cpp that the build chose.
class DriveHost {
 public:
  virtual ~DriveHost() = default;
  virtual platform::Os& backend() = 0;
  // A device name that OpenDevice finds: natively one it makes on the
  // drive ("<drive>/dev/ADSLUSB"), on Windows NUL.
  virtual std::string PresentDevice() const = 0;

  std::string root;         // native path of the drive
  std::string windowsRoot;  // the drive as the backend names it: "c:" natively
  char separator = '/';     // of native paths
  // "c:\ZUV_tmp" relative to the drive: on it natively, the prefix's real
  // one under Wine (tests using it hold a ctest resource lock there).
  std::string extractDirectory;
  // Whether a directory swapped after the walk entered it can be shown
  // harmless here: natively descriptors decide; Wine lets the host move a
  // held directory and resolves names afresh, where Windows would refuse.
  bool swapsAfterEntryShown = true;
  // Whether the backend can remove a link to a directory: Wine's
  // deletions act on a Unix link's target (a full one stays, and so does
  // the link), where Windows removes the junction itself.
  bool removesLinks = true;
  // Whether tests can make links to files (natively; under Wine links are
  // made from the host's side, to directories).
  bool makesFileLinks = true;

  // Makes, in the directory nativeDirectory, entries whose names a call by
  // the bare name would not reach as themselves, and returns those names:
  // natively names with a backslash or a drive colon (the path mapping
  // would split them) or a trailing dot or space; on Windows "...", ".. "
  // and "a." (Windows drops trailing dots and spaces).
  virtual std::vector<std::string> MakeNamesThatReachElsewhere(const std::string& nativeDirectory) const = 0;
  // Expects the directory at nativePath to be open to nobody but its
  // owner, where the host can show it: natively by its mode. Wine keeps no
  // descriptor on its files (Win32OsTest checks the descriptor as built).
  virtual void ExpectPrivate(const std::string& nativePath) const = 0;
};
std::unique_ptr<DriveHost> MakeDriveHost();

class TestDrive {
 public:
  TestDrive();
  ~TestDrive();
  TestDrive(const TestDrive&) = delete;
  TestDrive& operator=(const TestDrive&) = delete;

  platform::RecordingOs& os() { return *recording_; }
  platform::Os& backend() { return host_->backend(); }
  const DriveHost& host() const { return *host_; }

  // The Windows path of a name relative to the drive ("" is the drive).
  std::string Path(const std::string& relative) const;
  // The same place as a path the host's C++ library understands.
  std::string Native(const std::string& relative) const;
  // "c:\ZUV_tmp" relative to the drive, and as a native path.
  const std::string& ExtractRelative() const { return host_->extractDirectory; }
  std::string ExtractDirectory() const { return Native(ExtractRelative()); }

  // Direct access to the drive, bypassing the recorder.
  void WriteFile(const std::string& relative, const std::string& content) const;
  bool ReadFile(const std::string& relative, std::string* content) const;
  bool Exists(const std::string& relative) const;
  void MakeDirectories(const std::string& relative) const;
  // Removes a tree below the drive, after leaving it: Windows cannot
  // remove a directory that is current.
  void Remove(const std::string& relative);
  // Every file and directory below relative, as ListTree gives it.
  std::vector<std::string> Tree(const std::string& relative = "") const;
  // The current directory as the backend reports it.
  std::string CurrentDirectory();

 private:
  std::unique_ptr<DriveHost> host_;
  std::string previousCwd_;
  std::unique_ptr<platform::RecordingOs> recording_;
  platform::Os* previousOs_;
};

// Every file and directory below a native path, as "name" for directories
// and "name=<size>" for files (links as "name=0"), with '\' separators,
// sorted.
std::vector<std::string> ListTree(const std::string& nativePath);
// A listing without the entries below prefix (prefix itself included).
std::vector<std::string> Without(const std::vector<std::string>& tree, const std::string& prefix);

// Removes a native tree whatever its permissions, never following links.
void ForceRemoveTree(const std::string& nativePath);

}  // namespace testing_support
