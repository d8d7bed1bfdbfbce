// The walk's refusals of what a POSIX host can hold but Windows cannot:
// names the installer would refuse, links, backslashes inside a name.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/TestDrive.h"
#include "tools/secpack/TreeWalk.h"

using testing_support::TestDrive;

namespace {

// "ok", or why the walk of the drive's "tree" refused it.
std::string Walk(const TestDrive& drive) {
  secpack::TreeWalk walk({}, secpack::NameRules(), {}, [](const secpack::TreeWalk::Found&) { return true; });
  std::string reason;
  return walk.Walk(drive.Native("tree"), &reason) ? "ok" : reason;
}

TEST(TreeWalk, RefusesWhatTheInstallerWouldRefuse) {
  TestDrive drive;
  const char* const names[] = {"CON", "nul.txt", "a:b", "com3.sys", "...", "trailing.", "space ", "star*"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    testing_support::ForceRemoveTree(drive.Native("tree"));
    drive.MakeDirectories("tree");
    std::error_code error;
    std::filesystem::create_directory(drive.Native("tree") + "/" + name, error);
    if (error) continue;  // the host refuses it already
    EXPECT_NE("ok", Walk(drive));
  }
  testing_support::ForceRemoveTree(drive.Native("tree"));
  drive.MakeDirectories("tree");
  const std::string deep = "tree/" + std::string(200, 'd');
  drive.MakeDirectories(deep);
  drive.WriteFile(deep + "/" + std::string(60, 'f'), "");
  EXPECT_NE("ok", Walk(drive));
}

TEST(TreeWalk, RefusesLinksAndBackslashes) {
  TestDrive drive;
  drive.MakeDirectories("tree");
  std::filesystem::create_directory_symlink("/", drive.Native("tree") + "/root");
  EXPECT_EQ("links cannot be packed: root", Walk(drive));
  std::filesystem::remove(drive.Native("tree") + "/root");
  std::ofstream(drive.Native("tree") + "/a\\b").put('x');
  EXPECT_EQ("name \"a\\b\" refused: a backslash, which Windows reads as a separator", Walk(drive));
}

}  // namespace
