#include <gtest/gtest.h>

#include "package/PackageArchive.h"
#include "tests/support/TestDrive.h"
#include "tools/secpack/SecFormat.h"

using testing_support::TestDrive;

TEST(ExtractPackage, UnpacksDirectoriesAndFiles) {
  TestDrive drive;
  drive.WriteFile("data.sec", secpack::EncodeArchive({"drivers"}, {{"drivers\\x.sys", "abc"}, {"Setup.exe", ""}}));
  EXPECT_EQ(0, ExtractPackage("data.sec", drive.Path("ZUV_tmp").c_str()));
  EXPECT_EQ((std::vector<std::string>{"Setup.exe=0", "drivers", "drivers\\x.sys=3"}), drive.Tree("ZUV_tmp"));
}
