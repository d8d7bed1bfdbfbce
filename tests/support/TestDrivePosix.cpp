// A test drive on the POSIX backend: a fresh temporary directory that
// stands for "c:\".
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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
  std::vector<std::string> MakeNamesThatReachElsewhere(const std::string& nativeDirectory) const override {
    std::vector<std::string> names;
    for (const char* name : {"..\\victim", "\\victim", "c:", "..\\victimdir", "...", "trailing "}) {
      std::ofstream(nativeDirectory + "/" + name) << "x";
      names.push_back(name);
    }
    return names;
  }
  void ExpectPrivate(const std::string& nativePath) const override {
    struct stat status;
    ASSERT_EQ(0, stat(nativePath.c_str(), &status));
    EXPECT_EQ(0700u, status.st_mode & 0777);
  }
  std::string PresentDevice() const override {
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
