// secpack create: the walk puts the tree in archive order with Windows
// names, and the writer packs exactly that, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/ArchiveBytes.h"
#include "tests/support/Bytes.h"
#include "tests/support/HostLinks.h"
#include "tests/support/TestDrive.h"
#include "tools/secpack/CreateArchive.h"
#include "tools/secpack/TreeWalk.h"

using testing_support::EncodeArchive;
using testing_support::FileEntry;
using testing_support::TestDrive;

namespace {

TEST(TreeWalk, ListsParentsFirstWithWindowsNames) {
  TestDrive drive;
  drive.MakeDirectories("tree/b/c");
  drive.MakeDirectories("tree/a-z");
  drive.WriteFile("tree/b/c/f", "x");
  drive.WriteFile("tree/top", "");
  std::vector<std::string> files;
  secpack::TreeWalk walk({}, secpack::NameRules(), {}, [&](const secpack::TreeWalk::Found& found) {
    files.push_back(found.name);
    return true;
  });
  std::string reason;
  ASSERT_TRUE(walk.Walk(drive.Native("tree"), &reason)) << reason;
  EXPECT_EQ((std::vector<std::string>{"a-z", "b", "b\\c"}), walk.directories());
  EXPECT_EQ((std::vector<std::string>{"b\\c\\f", "top"}), files);
}

// The order of a sort over all names, where a file next to a directory may
// sort between the directory and what it holds ("a-c" before "a\\b", "a~"
// after it), and without the archive itself, which lies inside the tree
// here; large contents go from file to file, small ones through the buffer.
TEST(CreateArchive, WritesTheTreeInArchiveOrderByteForByte) {
  TestDrive drive;
  drive.MakeDirectories("tree/a/b");
  const std::string big = testing_support::BytePattern(300 * 1024 + 5, 1);
  const std::vector<FileEntry> files = {
      {"a-c", "1"}, {"a\\b\\f", big}, {"a\\x", std::string(16385, 'x')}, {"a~", "22"}, {"z", ""}};
  for (const FileEntry& file : files) {
    std::string native = file.name;
    std::replace(native.begin(), native.end(), '\\', '/');
    drive.WriteFile("tree/" + native, file.content);
  }
  const std::string out = drive.Native("tree") + "/data.sec";
  drive.WriteFile("tree/data.sec", "an older archive");
  secpack::CreateCounts counts;
  std::string reason;
  ASSERT_TRUE(secpack::CreateArchive(out, drive.Native("tree"), &counts, &reason)) << reason;
  EXPECT_EQ(2u, counts.directories);
  EXPECT_EQ(files.size(), counts.files);
  std::string written;
  ASSERT_TRUE(drive.ReadFile("tree/data.sec", &written));
  EXPECT_TRUE(written == EncodeArchive({"a", "a\\b"}, files));
  EXPECT_FALSE(drive.Exists("tree/data.sec.partial"));
}

// A directory link in the tree, on either system (the C++ library of the
// Windows build sees none): refused, and nothing of its target packed.
TEST(CreateArchive, RefusesADirectoryLinkInTheTree) {
  TestDrive drive;
  testing_support::HostCleanup cleanup(drive);
  drive.MakeDirectories("tree/a");
  drive.MakeDirectories("elsewhere");
  drive.WriteFile("elsewhere/secret.txt", "not the vendor's");
  ASSERT_TRUE(testing_support::MakeDirectoryLink(drive, "tree/a/link", "elsewhere"));
  secpack::CreateCounts counts;
  std::string reason;
  EXPECT_FALSE(secpack::CreateArchive(drive.Native("out.sec"), drive.Native("tree"), &counts, &reason));
  EXPECT_EQ(0u, reason.find("links cannot be packed: a\\link")) << reason;
  EXPECT_FALSE(drive.Exists("out.sec"));
}

}  // namespace
