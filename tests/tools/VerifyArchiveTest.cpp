// secpack's checker knows every rule of the format and of the names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/ExtractPackage.h"
#include "tests/support/ArchiveBytes.h"
#include "tests/support/Bytes.h"
#include "tests/support/TestDrive.h"
#include "tools/secpack/VerifyArchive.h"

using testing_support::EncodeArchive;
using testing_support::FileEntry;
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
      // DEL is not printable either: shown as its code.
      {EncodeArchive({}, {{"a\x7F", "x"}}),
       "file entry 1 name \"a\\x7F\" refused: a character outside printable ASCII: name the customers' "
       "Windows code page with --code-page N"},
      // An empty component is no component to Windows: the same file.
      {EncodeArchive({"d"}, {{"d\\f", "x"}, {"d\\\\f", "y"}}), "file \"d\\\\f\" is stored twice"},
      {EncodeArchive({"d"}, {{"d\\\\f", "y"}, {"d\\g", "y"}}), "valid"},
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
  // DEL is in no code page's names; the byte after it, in 1252, is "\u20AC".
  EXPECT_EQ("file entry 1 name \"a\\x7F\" refused: a character outside printable ASCII: name the customers' "
            "Windows code page with --code-page N",
            Verify(EncodeArchive({}, {{"a\x7F", "x"}}), 1252));
  EXPECT_EQ("valid", Verify(EncodeArchive({}, {{"\x80", "x"}}), 1252));
}

// The program the installer starts, found as Windows finds it, and what
// it is to Windows.
TEST(VerifyArchive, NamesTheSetupProgramInAnyCaseAndWhatItIs) {
  // An image for a machine, with these characteristics.
  auto image = [](const char* machine, unsigned characteristics) {
    std::string program(64 + 24, '\0');
    program.replace(0, 2, "MZ");
    PatchLe32(&program, 0x3C, 64);
    program.replace(64, 6, std::string("PE\0\0", 4) + machine);
    program[64 + 22] = static_cast<char>(characteristics & 0xFF);
    program[64 + 23] = static_cast<char>(characteristics >> 8);
    return program;
  };
  const std::string program = image("\x4C\x01", 0x02);  // x86, an executable image
  struct Case {
    std::vector<FileEntry> files;
    const char* setupProgram;
    const char* kind;
  } cases[] = {
      {{{"SETUP.EXE", program}}, "SETUP.EXE", "Windows executable, x86"},
      {{{"Setup.exe", image("\x64\x86", 0x02)}}, "Setup.exe", "Windows executable, x64"},
      {{{"setup.exe", "@echo off"}}, "setup.exe", "not a Windows executable (no MZ header)"},
      {{{"Setup.exe", program.substr(0, 64)}}, "Setup.exe", "not a Windows executable (no PE header)"},
      {{{"Setup.exe", image("\x4C\x01", 0x00)}}, "Setup.exe", "not a Windows executable (not an executable image)"},
      {{{"Setup.exe", image("\x4C\x01", 0x2002)}}, "Setup.exe", "not a Windows executable (a DLL)"},
      // Stripped of relocations, yet not marked executable: no program.
      {{{"Setup.exe", image("\x4C\x01", 0x01)}}, "Setup.exe", "not a Windows executable (not an executable image)"},
      {{{"Setup.exe", image("\x64\xAA", 0x02)}}, "Setup.exe", "Windows executable, ARM64"},
      {{{"Setup.exe", image("\xC4\x01", 0x02)}}, "Setup.exe", "Windows executable, ARM"},
      {{{"Setup.exe", image("\x34\x12", 0x02)}}, "Setup.exe", "Windows executable, machine 0x1234"},
      {{{"d\\Setup.exe", program}}, "", ""},
  };
  for (const Case& c : cases) {
    secpack::Listing listing;
    ASSERT_EQ("valid", Verify(EncodeArchive({"d"}, c.files), 0, &listing));
    EXPECT_EQ(c.setupProgram, listing.setupProgram);
    EXPECT_EQ(c.kind, listing.setupKind);
    EXPECT_EQ(std::string(c.kind).rfind("Windows executable, ", 0) == 0, listing.setupIsExecutable);
  }
}

// An archive that cannot be read is not valid, wherever the read fails.
TEST(VerifyArchive, AnArchiveThatCannotBeReadIsNotValid) {
  struct Unreadable final : secpack::ArchiveSource {
    uint64_t Size() const override { return 8 + 256; }
    bool ReadAt(uint64_t, void*, size_t) override { return false; }
  } source;
  secpack::Listing listing;
  std::string reason;
  EXPECT_FALSE(secpack::VerifyArchive(source, secpack::NameRules(), &listing, &reason));
  EXPECT_EQ("cannot read the archive at offset 0", reason);
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

}  // namespace
