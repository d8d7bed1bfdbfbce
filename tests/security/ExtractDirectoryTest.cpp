// "c:\ZUV_tmp" can be made by anyone before the installer runs. At "Setup
// Now" the installer unpacks only into a directory it has just made
// itself: never through a link there, never on top of what others left.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "package/TempDir.h"
#include "tests/app/InstallerTestSupport.h"
#include "tests/support/HostLinks.h"
#include "tools/secpack/SecFormat.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

using platform::Op;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kPackageTree = {"Setup.exe=8", "drivers", "drivers\\modem.inf=9"};

class ExtractDirectoryClaim : public InstallerTest {
 protected:
  ExtractDirectoryClaim() {
    StartIn("package");
    drive.WriteFile("package/data.sec",
                    secpack::EncodeArchive({"drivers"}, {{"Setup.exe", "MZ setup"},
                                                         {"drivers\\modem.inf", "[Version]"}}));
    drive.MakeDirectories("outside/drivers");
    drive.WriteFile("outside/Setup.exe", "someone else's program");
    drive.WriteFile("outside/drivers/keep.sys", "someone else's driver");
    outsideBefore = drive.Tree("outside");
  }
  ~ExtractDirectoryClaim() override { testing_support::RemoveFromHost(ExtractDirectory()); }

  size_t Launches() { return drive.os().CallsOf(Op::kLaunch).size(); }

  std::vector<std::string> outsideBefore;
};

TEST_F(ExtractDirectoryClaim, IsMadeAfreshAndPrivateBeforeTheArchiveIsRead) {
  CreateForm1();
  Form1.Button1Click();
  const std::vector<Op> ops = drive.os().Ops();
  const auto made = std::find(ops.begin(), ops.end(), Op::kMakePrivateDirectory);
  ASSERT_NE(ops.end(), made);
  EXPECT_EQ("c:\\ZUV_tmp", drive.os().Calls()[made - ops.begin()].path);
  EXPECT_LT(made, std::find(ops.begin(), ops.end(), Op::kOpenRead));
  EXPECT_EQ(kPackageTree, ExtractedTree());
  EXPECT_EQ(1u, Launches());
#ifndef _WIN32
  struct stat status;
  ASSERT_EQ(0, stat(ExtractDirectory().c_str(), &status));
  EXPECT_EQ(0700u, status.st_mode & 0777);
#endif
}

TEST_F(ExtractDirectoryClaim, ALinkThereIsNeitherUnpackedThroughNorEmptied) {
  ASSERT_TRUE(testing_support::MakeDirectoryLink(ExtractDirectory(), drive.Native("outside")));
  CreateForm1();

  Form1.Button1Click();

  EXPECT_EQ(0u, Launches());
  EXPECT_EQ(outsideBefore, drive.Tree("outside"));
  EXPECT_NE(std::string::npos, drive.os().Output().find("not a plain directory"));
  EXPECT_EQ(1u, drive.os().CallsOf(Op::kSleep).size());  // the watch is armed as after a failure
  EXPECT_TRUE(toolkit.timerEnabled);

  CleanUpTempDir();  // what the watch does when it ends the run
  EXPECT_EQ(outsideBefore, drive.Tree("outside"));
}

TEST_F(ExtractDirectoryClaim, WhatOthersLeftThereIsRemovedBeforeUnpacking) {
  // A directory made by someone else, holding a program of theirs and a
  // link through which the package's driver would land elsewhere.
  drive.MakeDirectories("planted");
  fs::create_directories(ExtractDirectory());
  std::ofstream(ExtractDirectory() + "/Setup.exe") << "planted";
  ASSERT_TRUE(testing_support::MakeDirectoryLink(ExtractDirectory() + "/drivers",
                                                 drive.Native("outside/drivers")));
  CreateForm1();

  Form1.Button1Click();

  EXPECT_EQ(outsideBefore, drive.Tree("outside"));
#ifdef _WIN32
  // Wine removes a Unix link's target rather than the link, so the link and
  // with it the directory may stay: then nothing is unpacked at all.
  if (Launches() == 0) return;
#endif
  EXPECT_EQ(1u, Launches());
  EXPECT_EQ(kPackageTree, ExtractedTree());
  std::ifstream setup(ExtractDirectory() + "/Setup.exe");
  std::string content;
  std::getline(setup, content);
  EXPECT_EQ("MZ setup", content);
}

TEST_F(ExtractDirectoryClaim, ALeftoverThatCannotBeRemovedBlocksTheUnpacking) {
  fs::create_directories(ExtractDirectory());
  const std::string stuck = ExtractDirectory() + "/stuck.txt";
  std::ofstream(stuck) << "read-only";
  fs::permissions(stuck, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  CreateForm1();

  Form1.Button1Click();

  EXPECT_EQ(0u, Launches());
  EXPECT_TRUE(fs::exists(stuck));
  EXPECT_EQ(std::vector<std::string>{"stuck.txt=9"}, ExtractedTree());
  EXPECT_NE(std::string::npos, drive.os().Output().find("cannot be made afresh"));
  fs::permissions(stuck, fs::perms::owner_write, fs::perm_options::add);
}

}  // namespace
