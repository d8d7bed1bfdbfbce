#include "tests/support/TestDrive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include "platform/Win32Os.h"
#include <process.h>
#else
#include <stdlib.h>
#include <unistd.h>

#include "platform/PosixOs.h"
#endif

namespace fs = std::filesystem;

namespace testing_support {
namespace {

std::string Replace(std::string text, char from, char to) {
  std::replace(text.begin(), text.end(), from, to);
  return text;
}

}  // namespace

void ForceRemoveTree(const std::string& nativePath) {
  std::error_code error;
  if (!fs::exists(fs::symlink_status(nativePath, error))) return;
  for (auto it = fs::recursive_directory_iterator(nativePath, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_symlink()) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
  }
  fs::permissions(nativePath, fs::perms::owner_all, fs::perm_options::add, error);
  fs::remove_all(nativePath, error);
}

TestDrive::TestDrive() {
  previousCwd_ = fs::current_path().string();
#ifdef _WIN32
  static std::atomic<int> counter{0};
  std::ostringstream name;
  name << "c:\\tests\\" << _getpid() << "-" << counter++;
  root_ = name.str();
  windowsRoot_ = root_;
  ForceRemoveTree(root_);
  fs::create_directories(root_);
  recording_ = std::make_unique<platform::RecordingOs>(&platform::TheWin32Os());
#else
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/drive-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  root_ = fs::canonical(pattern).string();
  windowsRoot_ = "c:";
  backend_ = std::make_unique<platform::PosixOs>(root_.c_str());
  recording_ = std::make_unique<platform::RecordingOs>(backend_.get());
#endif
  previousOs_ = platform::SetOs(recording_.get());
  fs::current_path(root_);
}

TestDrive::~TestDrive() {
  platform::SetOs(previousOs_);
  std::error_code error;
  fs::current_path(previousCwd_, error);
  ForceRemoveTree(root_);
}

platform::Os& TestDrive::backend() {
#ifdef _WIN32
  return platform::TheWin32Os();
#else
  return *backend_;
#endif
}

std::string TestDrive::Path(const std::string& relative) const {
  if (relative.empty()) return windowsRoot_ + "\\";
  return windowsRoot_ + "\\" + relative;
}

std::string TestDrive::Native(const std::string& relative) const {
  if (relative.empty()) return root_;
#ifdef _WIN32
  return root_ + "\\" + Replace(relative, '/', '\\');
#else
  return root_ + "/" + Replace(relative, '\\', '/');
#endif
}

void TestDrive::WriteFile(const std::string& relative, const std::string& content) const {
  std::ofstream out(Native(relative), std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) ADD_FAILURE() << "cannot write " << Native(relative);
}

bool TestDrive::ReadFile(const std::string& relative, std::string* content) const {
  std::ifstream in(Native(relative), std::ios::binary);
  if (!in) return false;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  *content = bytes.str();
  return true;
}

bool TestDrive::Exists(const std::string& relative) const {
  std::error_code error;
  return fs::exists(fs::symlink_status(Native(relative), error));
}

void TestDrive::MakeDirectories(const std::string& relative) const {
  fs::create_directories(Native(relative));
}

void TestDrive::Remove(const std::string& relative) {
  backend().ChangeDirectory(Path("").c_str());
  ForceRemoveTree(Native(relative));
}

std::vector<std::string> TestDrive::Tree(const std::string& relative) const {
  std::vector<std::string> result;
  const fs::path base = Native(relative);
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(base, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::string name = Replace(it->path().lexically_relative(base).string(), '/', '\\');
    if (it->is_directory() && !it->is_symlink()) {
      result.push_back(name);
    } else {
      std::error_code sizeError;
      const auto size = it->is_regular_file() ? fs::file_size(it->path(), sizeError) : 0;
      result.push_back(name + "=" + std::to_string(size));
    }
  }
  std::sort(result.begin(), result.end());
  return result;
}

std::string TestDrive::CurrentDirectory() {
  char buffer[4096];
  if (backend().CurrentDirectory(buffer, sizeof buffer) != 0) return "?";
  return buffer;
}

}  // namespace testing_support
