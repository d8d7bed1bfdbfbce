#include "tests/support/TestDrive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tests/support/ReadAll.h"

namespace fs = std::filesystem;

namespace testing_support {

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

std::vector<std::string> ListTree(const std::string& nativePath) {
  std::vector<std::string> result;
  const fs::path base = nativePath;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(base, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::string name = it->path().lexically_relative(base).string();
    std::replace(name.begin(), name.end(), '/', '\\');
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

std::vector<std::string> Without(const std::vector<std::string>& tree, const std::string& prefix) {
  std::vector<std::string> result;
  for (const std::string& entry : tree) {
    if (entry.rfind(prefix, 0) != 0) result.push_back(entry);
  }
  return result;
}

TestDrive::TestDrive() : host_(MakeDriveHost()) {
  previousCwd_ = fs::current_path().string();
  recording_ = std::make_unique<platform::RecordingOs>(&host_->backend());
  previousOs_ = platform::SetOs(recording_.get());
  fs::current_path(host_->root);
}

TestDrive::~TestDrive() {
  platform::SetOs(previousOs_);
  std::error_code error;
  fs::current_path(previousCwd_, error);
  ForceRemoveTree(host_->root);
}

std::string TestDrive::Path(const std::string& relative) const {
  if (relative.empty()) return host_->windowsRoot + "\\";
  return host_->windowsRoot + "\\" + relative;
}

std::string TestDrive::Native(const std::string& relative) const {
  if (relative.empty()) return host_->root;
  std::string native = relative;
  std::replace(native.begin(), native.end(), host_->separator == '/' ? '\\' : '/', host_->separator);
  return host_->root + host_->separator + native;
}

void TestDrive::WriteFile(const std::string& relative, const std::string& content) const {
  std::ofstream out(Native(relative), std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) ADD_FAILURE() << "cannot write " << Native(relative);
}

bool TestDrive::ReadFile(const std::string& relative, std::string* content) const {
  return ReadAll(Native(relative), content);
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
  return ListTree(Native(relative));
}

std::string TestDrive::CurrentDirectory() {
  char buffer[4096];
  if (backend().CurrentDirectory(buffer, sizeof buffer) != 0) return "?";
  return buffer;
}

}  // namespace testing_support
