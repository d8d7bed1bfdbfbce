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

std::string Verify(const std::string& archive, int codePage = 0, secpack::Listing* listing = nullptr) {
  secpack::Listing ignored;
  secpack::NameRules rules;
  rules.codePage = secpack::FindCodePage(codePage);
  std::string reason;
  const bool valid = secpack::VerifyArchive(reinterpret_cast<const unsigned char*>(archive.data()),
                                            archive.size(), listing != nullptr ? listing : &ignored,
                                            &reason, rules);
  return valid ? "valid" : reason;
}

const char kCaseCollision[] = " differ only in case, refused: Windows takes them for one name";

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
      {EncodeArchive({}, {{"lpt\xB3.txt", "x"}}), "file entry 1 name \"lpt\\xB3.txt\" refused: device name"},
      {EncodeArchive({"COM0"}, {}), "directory record 1 \"COM0\" refused: device name"},
      {EncodeArchive({"d", "c:\\x"}, {}), "directory record 2 \"c:\\x\" refused: drive or stream name (\":\")"},
      {EncodeArchive({"d\\e"}, {}), "directory \"d\\e\" comes before its parent"},
      {EncodeArchive({}, {{"d\\x", "x"}}), "directory of file \"d\\x\" is not in the directory table"},
      {EncodeArchive({"d"}, {{"D\\x", "x"}}), "directory of file \"D\\x\" is not in the directory table"},
      {EncodeArchive({"d"}, {{"d", "x"}}), "file \"d\" is also a directory of the table"},
      {EncodeArchive({}, {{"a", "x"}, {"a", "y"}}), "file \"a\" is stored twice"},
      {EncodeArchive({}, {{"a", "x"}, {"A", "y"}}), std::string("file \"a\" and file \"A\"") + kCaseCollision},
      {EncodeArchive({"d"}, {{"D", "x"}}), std::string("directory \"d\" and file \"D\"") + kCaseCollision},
      {EncodeArchive({"d", "e", "D"}, {}), std::string("directory \"d\" and directory \"D\"") + kCaseCollision},
      {EncodeArchive({}, {{"a\x01", "x"}}),
       "file entry 1 name \"a\\x01\" refused: a character Windows does not allow in names"},
      {EncodeArchive({"d*"}, {}),
       "directory record 1 \"d*\" refused: a character Windows does not allow in names"},
      {EncodeArchive({"d"}, {{"d\\", "x"}}), "file name \"d\\\" ends with a separator"},
      {EncodeArchive({"d"}, {{"d\\.", "x"}}),
       "file entry 1 name \"d\\.\" refused: a component ending in a dot or a space, which Windows drops"},
      {EncodeArchive({"d "}, {}),
       "directory record 1 \"d \" refused: a component ending in a dot or a space, which Windows drops"},
      {EncodeArchive({}, {{"Donn\xE9""es", "x"}}),
       "file entry 1 name \"Donn\\xE9es\" refused: a character outside printable ASCII: name the customers' "
       "Windows code page with --code-page N"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.reason, Verify(c.archive));
}

// A byte above ASCII is a character only in a code page: there it must be
// one, and it compares without case as that page's letters do.
TEST(VerifyArchive, NamesInACodePageAreCheckedAndComparedByIt) {
  EXPECT_EQ("valid", Verify(EncodeArchive({"Donn\xE9""es"}, {{"Donn\xE9""es\\\xDF.inf", "x"}}), 1252));
  EXPECT_EQ("file entry 1 name \"\\x81\" refused: byte 0x81 is not in code page 1252",
            Verify(EncodeArchive({}, {{"\x81", "x"}}), 1252));
  EXPECT_EQ(std::string("file \"\\xC9t\\xE9\" and file \"\\xE9t\\xE9\"") + kCaseCollision,
            Verify(EncodeArchive({}, {{"\xC9t\xE9", "x"}, {"\xE9t\xE9", "y"}}), 1252));
  EXPECT_EQ("valid", Verify(EncodeArchive({}, {{"\xDF", "x"}, {"SS", "y"}}), 1252));  // no one-to-one case
}

// The program the installer starts, found as Windows finds it, and what
// it is to Windows.
TEST(VerifyArchive, NamesTheSetupProgramInAnyCaseAndWhatItIs) {
  std::string program(64 + 24, '\0');
  program.replace(0, 2, "MZ");
  PatchLe32(&program, 0x3C, 64);
  program.replace(64, 6, std::string("PE\0\0\x4C\x01", 6));  // x86
  program[64 + 22] = 0x02;                                     // an executable image
  struct Case {
    std::vector<FileEntry> files;
    const char* setupProgram;
    const char* kind;
  } cases[] = {
      {{{"SETUP.EXE", program}}, "SETUP.EXE", "Windows executable, x86"},
      {{{"setup.exe", "@echo off"}}, "setup.exe", "not a Windows executable (no MZ header)"},
      {{{"Setup.exe", program.substr(0, 70)}}, "Setup.exe", "not a Windows executable (no PE header)"},
      {{{"d\\Setup.exe", program}}, "", ""},
  };
  for (const Case& c : cases) {
    secpack::Listing listing;
    ASSERT_EQ("valid", Verify(EncodeArchive({"d"}, c.files), 0, &listing));
    EXPECT_EQ(c.setupProgram, listing.setupProgram);
    EXPECT_EQ(c.kind, listing.setupKind);
    EXPECT_EQ(c.kind == std::string("Windows executable, x86"), listing.setupIsExecutable);
  }
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
  EXPECT_EQ("name \"a\\b\" refused: a backslash, which Windows reads as a separator", Plan(&plan));
}
#endif

}  // namespace
