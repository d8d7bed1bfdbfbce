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
#ifndef _WIN32
#include "platform/PosixOs.h"
#endif

namespace testing_support {

class TestDrive {
 public:
  TestDrive();
  ~TestDrive();
  TestDrive(const TestDrive&) = delete;
  TestDrive& operator=(const TestDrive&) = delete;

  platform::RecordingOs& os() { return *recording_; }
  platform::Os& backend();

  // The Windows path of a name relative to the drive ("" is the drive).
  std::string Path(const std::string& relative) const;
  // The same place as a path the host's C++ library understands.
  std::string Native(const std::string& relative) const;

  // Direct access to the drive, bypassing the recorder.
  void WriteFile(const std::string& relative, const std::string& content) const;
  bool ReadFile(const std::string& relative, std::string* content) const;
  bool Exists(const std::string& relative) const;
  void MakeDirectories(const std::string& relative) const;
  // Removes a tree below the drive, after leaving it: Windows cannot
  // remove a directory that is current.
  void Remove(const std::string& relative);
  // Every file and directory below relative, as "name" for directories and
  // "name=<size>" for files, with '\' separators, sorted.
  std::vector<std::string> Tree(const std::string& relative = "") const;
  // The current directory as the backend reports it.
  std::string CurrentDirectory();

 private:
  std::string root_;  // native path of the drive
  std::string windowsRoot_;
  std::string previousCwd_;
#ifndef _WIN32
  std::unique_ptr<platform::PosixOs> backend_;
#endif
  std::unique_ptr<platform::RecordingOs> recording_;
  platform::Os* previousOs_;
};

// Removes a native tree whatever its permissions, never following links.
void ForceRemoveTree(const std::string& nativePath);

}  // namespace testing_support
