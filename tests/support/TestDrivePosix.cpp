// A test drive on the POSIX backend: a fresh temporary directory that
// stands for "c:\".
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/posix/PosixOs.h"
#include "tests/support/TestDrive.h"

namespace testing_support {
namespace {

class PosixDriveHost final : public DriveHost {
 public:
  explicit PosixDriveHost(const std::string& path) : os_(path.c_str()) {
    root = path;
    windowsRoot = "c:";
    separator = '/';
    extractDirectory = "ZUV_tmp";
  }
  platform::Os& backend() override { return os_; }
  std::string PresentDevice() override {
    std::filesystem::create_directories(root + "/dev");
    std::ofstream(root + "/dev/ADSLUSB");
    return "\\\\.\\ADSLUSB";
  }

 private:
  platform::PosixOs os_;
};

}  // namespace

std::unique_ptr<DriveHost> MakeDriveHost() {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/drive-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  return std::make_unique<PosixDriveHost>(std::filesystem::canonical(pattern).string());
}

}  // namespace testing_support
