// The provider's side of the format: the checker knows every rule, and the
// writer never produces what the installer would refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "package/PackageArchive.h"
#include "tests/support/Files.h"
#include "tests/support/TestDrive.h"
#include "tools/secpack/SecFormat.h"

using secpack::EncodeArchive;
using secpack::FileEntry;
using testing_support::PatchLe32;
using testing_support::TestDrive;

namespace {

std::string Verify(const std::string& archive) {
  secpack::Listing listing;
  std::string reason;
  const bool valid = secpack::VerifyArchive(reinterpret_cast<const unsigned char*>(archive.data()),
                                            archive.size(), &listing, &reason);
  return valid ? "valid" : reason;
}

TEST(VerifyArchive, AcceptsWellFormedArchivesAndListsThem) {
  EXPECT_EQ("valid", Verify(EncodeArchive({}, {})));
  const std::string archive =
      EncodeArchive({"d", "d\\e", "f"}, {{"top", "1"}, {"d\\e\\x", std::string(70000, 'x')}, {"d\\y", ""}});
  EXPECT_EQ("valid", Verify(archive));
  secpack::Listing listing;
  std::string reason;
  ASSERT_TRUE(secpack::VerifyArchive(reinterpret_cast<const unsigned char*>(archive.data()), archive.size(),
                                     &listing, &reason));
  EXPECT_EQ((std::vector<std::string>{"d", "d\\e", "f"}), listing.directories);
  ASSERT_EQ(3u, listing.files.size());
  EXPECT_EQ("d\\e\\x", listing.files[1].name);
  EXPECT_EQ(70000, listing.files[1].size);
  EXPECT_EQ(8 + 264 + 1 + 264, listing.files[1].offset);
}

TEST(VerifyArchive, NamesTheFirstBrokenRule) {
  const std::vector<FileEntry> files = {{"a", "12345"}, {"d\\b", "678"}};
  const std::string good = EncodeArchive({"d"}, files);
  const size_t second = 8 + 264 + 5;
  struct Case {
    std::string archive;
    std::string reason;
  };
  auto patched = [&](size_t offset, int32_t value) {
    std::string archive = good;
    PatchLe32(&archive, offset, value);
    return archive;
  };
  std::string noZero = good;
  noZero.replace(second, 256, std::string(256, 'b'));
  const Case cases[] = {
      {good.substr(0, 5), "archive header cut short: 5 of 8 bytes"},
      {patched(0, -2), "negative entry count -2"},
      {patched(4, -1), "negative file-section length -1"},
      {patched(4, 100000), "file section of 100000 bytes runs past the end of the archive"},
      {good + "x", "directory table ends in a partial record of 1 bytes"},
      {patched(0, 3), "file entry 3 lies past the end of the file section"},
      {patched(0, 1), "file section holds 267 bytes after its last entry"},
      {patched(second + 256, -3), "file \"d\\b\" has a negative content length -3"},
      {patched(second + 256, 4), "content of \"d\\b\" runs past the end of the file section"},
      {noZero, "file entry 2 name has no terminating zero in its 256 bytes"},
      {EncodeArchive({"d"}, {{"", "x"}}), "file entry 1 name is empty"},
      {EncodeArchive({"d"}, {{"..\\x", "x"}}), "file entry 1 name \"..\\x\" refused: \"..\" component"},
      {EncodeArchive({}, {{"lpt\xB3.txt", "x"}}), "file entry 1 name \"lpt\xB3.txt\" refused: device name"},
      {EncodeArchive({"COM0"}, {}), "directory record 1 \"COM0\" refused: device name"},
      {EncodeArchive({"d", "c:\\x"}, {}), "directory record 2 \"c:\\x\" refused: drive or stream name (\":\")"},
      {EncodeArchive({"d\\e"}, {}), "directory \"d\\e\" comes before its parent"},
      {EncodeArchive({}, {{"d\\x", "x"}}), "directory of file \"d\\x\" is not in the directory table"},
      {EncodeArchive({"d"}, {{"D\\x", "x"}}), "directory of file \"D\\x\" is not in the directory table"},
      {EncodeArchive({"d"}, {{"D", "x"}}), "file \"D\" is also a directory of the table"},
      {EncodeArchive({}, {{"a", "x"}, {"A", "y"}}), "file \"A\" is stored twice"},
      {EncodeArchive({}, {{"a\x01", "x"}}), "file entry 1 name holds a character Windows does not allow in names"},
      {EncodeArchive({"d*"}, {}), "directory record 1 holds a character Windows does not allow in names"},
      {EncodeArchive({"d"}, {{"d\\", "x"}}), "file name \"d\\\" ends with a separator"},
      {EncodeArchive({"d"}, {{"d\\.", "x"}}), "file entry 1 name has a component ending in a dot or a space"},
      {EncodeArchive({"d "}, {}), "directory record 1 has a component ending in a dot or a space"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.reason, Verify(c.archive));
}

// What the checker accepts, the installer's reader extracts whole.
TEST(VerifyArchive, ValidArchivesExtractCompletely) {
  const std::string archive = EncodeArchive({"a", "a\\b", "c"}, {{"a\\b\\f", "123"}, {"g", ""}});
  ASSERT_EQ("valid", Verify(archive));
  TestDrive drive;
  drive.WriteFile("data.sec", archive);
  EXPECT_EQ(0, ExtractPackage("data.sec", drive.Path("out").c_str()));
  EXPECT_EQ((std::vector<std::string>{"a", "a\\b", "a\\b\\f=3", "c", "g=0"}), drive.Tree("out"));
}

class TreePlanning : public ::testing::Test {
 protected:
  std::string Plan(secpack::TreePlan* plan) {
    std::string reason;
    return secpack::PlanTree(drive.Native("tree"), "", plan, &reason) ? "ok" : reason;
  }
  TestDrive drive;
};

TEST_F(TreePlanning, ListsParentsFirstWithWindowsNames) {
  drive.MakeDirectories("tree/b/c");
  drive.MakeDirectories("tree/a-z");
  drive.WriteFile("tree/b/c/f", "x");
  drive.WriteFile("tree/top", "");
  secpack::TreePlan plan;
  ASSERT_EQ("ok", Plan(&plan));
  EXPECT_EQ((std::vector<std::string>{"a-z", "b", "b\\c"}), plan.directories);
  EXPECT_EQ((std::vector<std::string>{"b\\c\\f", "top"}), plan.fileNames);
  EXPECT_EQ((std::vector<int64_t>{1, 0}), plan.fileSizes);
}

// The streaming writer packs what the plan lists, in the plan's order, byte
// for byte: the order of a sort over all names, where a file next to a
// directory may sort between the directory and what it holds ("a-c"
// before "a\\b", "a~" after it), and without the archive itself, which
// lies inside the tree here.
TEST_F(TreePlanning, CreateWritesThePlannedArchiveByteForByte) {
  drive.MakeDirectories("tree/a/b");
  std::string big(300 * 1024 + 5, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 13 + (i >> 10));
  const std::vector<secpack::FileEntry> files = {
      {"a-c", "1"}, {"a\\b\\f", big}, {"a\\x", std::string(16385, 'x')}, {"a~", "22"}, {"z", ""}};
  for (const secpack::FileEntry& file : files) {
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

#ifndef _WIN32
// Names a POSIX host can hold but the installer would refuse.
TEST_F(TreePlanning, RefusesWhatTheInstallerWouldRefuse) {
  const char* const names[] = {"CON", "nul.txt", "a:b", "com3.sys", "...", "trailing.", "space ", "star*"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    testing_support::ForceRemoveTree(drive.Native("tree"));
    drive.MakeDirectories("tree");
    std::error_code error;
    std::filesystem::create_directory(drive.Native("tree") + "/" + name, error);
    if (error) continue;  // the host refuses it already
    secpack::TreePlan plan;
    EXPECT_NE("ok", Plan(&plan));
  }
  testing_support::ForceRemoveTree(drive.Native("tree"));
  drive.MakeDirectories("tree");
  const std::string deep = "tree/" + std::string(200, 'd');
  drive.MakeDirectories(deep);
  drive.WriteFile(deep + "/" + std::string(60, 'f'), "");
  secpack::TreePlan plan;
  EXPECT_NE("ok", Plan(&plan));
}

TEST_F(TreePlanning, RefusesLinksAndBackslashes) {
  drive.MakeDirectories("tree");
  std::filesystem::create_directory_symlink("/", drive.Native("tree") + "/root");
  secpack::TreePlan plan;
  EXPECT_EQ("links cannot be packed: root", Plan(&plan));
  std::filesystem::remove(drive.Native("tree") + "/root");
  std::ofstream(drive.Native("tree") + "/a\\b").put('x');
  EXPECT_EQ("name holds a backslash: a\\b", Plan(&plan));
}
#endif

}  // namespace
