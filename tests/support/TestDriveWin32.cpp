// A test drive on the Win32 backend: a fresh directory below "c:\tests",
// named by the process and a counter, since test programs run side by side.
#include <process.h>

#include <atomic>
#include <filesystem>
#include <string>

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
  }
  platform::Os& backend() override { return platform::TheWin32Os(); }
  std::string PresentDevice() override { return "\\\\.\\NUL"; }
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
