// A test drive on the Win32 backend: a fresh directory below "c:\tests",
// named by the process and a counter, since test programs run side by side.
#include <gtest/gtest.h>
#include <process.h>
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/win32/Win32Os.h"
#include "tests/support/TestDrive.h"

namespace testing_support {
namespace {

class Win32DriveHost final : public DriveHost {
 public:
  explicit Win32DriveHost(const std::string& path) {
    root = path;
    windowsRoot = path;
    separator = '\\';
    extractDirectory = "..\\..\\ZUV_tmp";
    swapsAfterEntryShown = false;
    removesLinks = false;
    makesFileLinks = false;
  }
  std::vector<std::string> MakeNamesThatReachElsewhere(const std::string& nativeDirectory) const override {
    std::vector<std::string> names;
    for (const wchar_t* name : {L"...", L".. ", L"a."}) {
      // Through "\\?\", which takes a name as it is given.
      const std::wstring path =
          L"\\\\?\\" + std::filesystem::absolute(nativeDirectory).wstring() + L"\\" + name;
      EXPECT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
      names.push_back(std::filesystem::path(name).string());
    }
    return names;
  }
  void ExpectPrivate(const std::string&) const override {}
  platform::Os& backend() override { return platform::TheWin32Os(); }
  std::string PresentDevice() const override { return "\\\\.\\NUL"; }
};

}  // namespace

std::unique_ptr<DriveHost> MakeDriveHost() {
  static std::atomic<int> counter{0};
  const std::string root = "c:\\tests\\" + std::to_string(_getpid()) + "-" + std::to_string(counter++);
  ForceRemoveTree(root);
  std::filesystem::create_directories(root);
  return std::make_unique<Win32DriveHost>(root);
}

}  // namespace testing_support
