// secpack as the provider runs it: create, list, verify and extract.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "package/PackageArchive.h"
#include "package/PackageSeal.h"
#include "tests/support/ArchiveBytes.h"
#include "tests/support/Bytes.h"
#include "tests/support/Sha256Of.h"
#include "tests/support/GoldenArchive.h"
#include "tests/support/TestDrive.h"

using testing_support::BytePattern;
using testing_support::PatchLe32;
using testing_support::TestDrive;

namespace {

struct Result {
  int exitCode;
  std::string output;  // stdout and stderr
};

Result Secpack(const std::string& arguments) {
  const std::string command = std::string(SECPACK_PATH) + " " + arguments + " 2>&1";
  Result result{-1, ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, got);
  const int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// A file of the tree, its directories made first.
void Plant(const TestDrive& drive, const std::string& file) {
  drive.MakeDirectories(std::filesystem::path(file).parent_path().string());
  drive.WriteFile(file, "x");
}

TEST(SecpackCli, CreateThenExtractReproducesTheTreeByteForByte) {
  TestDrive drive;
  drive.MakeDirectories("in/level1/level2/level3");
  drive.MakeDirectories("in/empty-dir");
  drive.WriteFile("in/empty", "");
  drive.WriteFile("in/level1/chunk", BytePattern(16384, 1));
  drive.WriteFile("in/level1/level2/chunk-and-one", BytePattern(16385, 2));
  drive.WriteFile("in/level1/level2/level3/big", BytePattern(200001, 3));
  drive.WriteFile("in/level1/level2/level3/empty", "");

  Result created = Secpack("create " + drive.Native("data.sec") + " " + drive.Native("in"));
  ASSERT_EQ(0, created.exitCode) << created.output;
  Result verified = Secpack("verify " + drive.Native("data.sec"));
  EXPECT_EQ(0, verified.exitCode);
  EXPECT_NE(std::string::npos, verified.output.find("setup program: none: no Setup.exe at its top"))
      << verified.output;
  EXPECT_EQ(
      "       <dir>  empty-dir\n"
      "       <dir>  level1\n"
      "       <dir>  level1\\level2\n"
      "       <dir>  level1\\level2\\level3\n"
      "           0  empty\n"
      "       16384  level1\\chunk\n"
      "       16385  level1\\level2\\chunk-and-one\n"
      "      200001  level1\\level2\\level3\\big\n"
      "           0  level1\\level2\\level3\\empty\n",
      Secpack("list " + drive.Native("data.sec")).output);

  Result extracted = Secpack("extract " + drive.Native("data.sec") + " " + drive.Native("out/new"));
  ASSERT_EQ(0, extracted.exitCode) << extracted.output;
  EXPECT_EQ(drive.Tree("in"), drive.Tree("out/new"));
  for (const char* file : {"level1/chunk", "level1/level2/chunk-and-one", "level1/level2/level3/big"}) {
    std::string original, copy;
    ASSERT_TRUE(drive.ReadFile(std::string("in/") + file, &original));
    ASSERT_TRUE(drive.ReadFile(std::string("out/new/") + file, &copy));
    EXPECT_TRUE(original == copy) << file;
  }
}

// The tree of tests/package/golden.sec packs to exactly its bytes.
TEST(SecpackCli, CreateWritesTheGoldenArchive) {
  TestDrive drive;
  for (const std::string& directory : testing_support::GoldenTree().directories) {
    drive.MakeDirectories("in\\" + directory);
  }
  for (const testing_support::FileEntry& file : testing_support::GoldenTree().files) {
    drive.WriteFile("in\\" + file.name, file.content);
  }
  Result created = Secpack("create " + drive.Native("data.sec") + " " + drive.Native("in"));
  ASSERT_EQ(0, created.exitCode) << created.output;
  std::string bytes;
  ASSERT_TRUE(drive.ReadFile("data.sec", &bytes));
  EXPECT_TRUE(bytes == testing_support::GoldenArchiveBytes()) << "secpack create differs from golden.sec";
}

TEST(SecpackCli, RefusedArchivesLeaveNothingOutsideTheDestination) {
  TestDrive drive;
  const std::string archives[] = {
      testing_support::EncodeArchive({}, {{"..\\escaped", "x"}}),
      testing_support::EncodeArchive({"..\\up"}, {}),
      testing_support::EncodeArchive({}, {{"/abs", "x"}}),
      testing_support::EncodeArchive({}, {{"c:\\abs", "x"}}),
      testing_support::EncodeArchive({"sub"}, {{"sub/../../escaped", "x"}}),
  };
  for (const std::string& archive : archives) {
    drive.WriteFile("bad.sec", archive);
    Result result = Secpack("extract " + drive.Native("bad.sec") + " " + drive.Native("box/dest"));
    EXPECT_EQ(1, result.exitCode);
    EXPECT_NE(std::string::npos, result.output.find("refused")) << result.output;
    EXPECT_EQ(1, Secpack("verify " + drive.Native("bad.sec")).exitCode);
    for (const std::string& entry : drive.Tree()) {
      EXPECT_TRUE(entry == "box" || entry.rfind("box\\dest", 0) == 0 || entry.rfind("bad.sec=", 0) == 0)
          << entry;
    }
    EXPECT_FALSE(std::filesystem::exists("/abs"));
  }
}

void Put(std::string* bytes, size_t offset, uint32_t value) {
  PatchLe32(bytes, offset, static_cast<int32_t>(value));
}

// A program as its headers describe it, PE32 or (wide) PE32+: 512 bytes
// of headers, each section's data in 512 bytes (its virtual size what it
// holds), then the certificate table the security directory names, if any.
std::string Program(bool wide, const std::vector<std::string>& sections,
                    const std::string& certificates = "") {
  const uint32_t optionalSize = wide ? 240 : 224;
  const size_t optionalAt = 64 + 24;
  std::string bytes(512 * (1 + sections.size()), '\0');
  bytes.replace(0, 2, "MZ");
  Put(&bytes, 0x3C, 64);
  bytes.replace(64, 4, std::string("PE\0\0", 4));
  Put(&bytes, 68, (wide ? 0x8664 : 0x014C) | static_cast<uint32_t>(sections.size()) << 16);
  Put(&bytes, 84, optionalSize | 0x0002 << 16);  // an executable image
  Put(&bytes, optionalAt, wide ? 0x20B : 0x10B);
  Put(&bytes, optionalAt + 60, 512);  // SizeOfHeaders
  const size_t directories = optionalAt + (wide ? 112 : 96);
  Put(&bytes, directories - 4, 16);
  if (!certificates.empty()) {
    Put(&bytes, directories + 4 * 8, static_cast<uint32_t>(bytes.size()));
    Put(&bytes, directories + 4 * 8 + 4, static_cast<uint32_t>(certificates.size()));
  }
  for (size_t i = 0; i < sections.size(); ++i) {
    const size_t entry = optionalAt + optionalSize + 40 * i;
    bytes.replace(entry, 6, ".rdata");
    Put(&bytes, entry + 8, static_cast<uint32_t>(sections[i].size()));
    Put(&bytes, entry + 12, static_cast<uint32_t>(0x1000 * (i + 1)));
    Put(&bytes, entry + 16, 512);
    Put(&bytes, entry + 20, static_cast<uint32_t>(512 * (i + 1)));
    bytes.replace(512 * (i + 1), sections[i].size(), sections[i]);
  }
  return bytes + certificates;
}

// The seal a release's Install.exe carries for this archive.
std::string SealFor(const std::string& archive) {
  return std::string(PACKAGE_SEAL_MARKER, sizeof(PackageSeal::marker)) + testing_support::Sha256Of(archive);
}

// verify --installer with this program as Install.exe.
Result VerifyWith(const TestDrive& drive, const std::string& program, const char* archive) {
  drive.WriteFile("Install.exe", program);
  return Secpack("verify --installer " + drive.Native("Install.exe") + " " + drive.Native(archive));
}

// What a provider checks a release with: the archive's digest, and whether
// an archive is the package an Install.exe was made for: the digest after
// the seal's marker, found once in the program's sections, 32- or 64-bit.
TEST(SecpackCli, DigestAndThePackageAnInstallerWasMadeFor) {
  TestDrive drive;
  const std::string archive = testing_support::EncodeArchive({"d"}, {{"d\\x", "x"}});
  const std::string digest = testing_support::Sha256Of(archive);
  drive.WriteFile("data.sec", archive);
  drive.WriteFile("other.sec", testing_support::EncodeArchive({}, {}));
  const std::string seal = SealFor(archive);
  const std::string code(100, '\x90');

  const Result printed = Secpack("digest " + drive.Native("data.sec"));
  EXPECT_EQ(0, printed.exitCode);
  EXPECT_EQ(testing_support::Hex(digest) + "  " + drive.Native("data.sec") + "\n", printed.output);
  EXPECT_EQ(1, Secpack("digest " + drive.Native("missing.sec")).exitCode);

  for (const bool wide : {false, true}) {
    const Result matching = VerifyWith(drive, Program(wide, {code, std::string(200, 'r') + seal}), "data.sec");
    EXPECT_EQ(0, matching.exitCode) << matching.output;
    EXPECT_NE(std::string::npos, matching.output.find("the package")) << matching.output;
    std::string inHeaders = Program(wide, {code});
    inHeaders.replace(440, seal.size(), seal);
    std::string inPadding = Program(wide, {code});
    inPadding.replace(512 + 400, seal.size(), seal);  // past the section's virtual size
    const struct {
      std::string program;
      const char* archive;
      const char* says;
    } refused[] = {
        {Program(wide, {code, seal}), "other.sec", "is not the package"},
        {Program(wide, {code}), "data.sec", "carries no package digest: it unpacks any archive\n"},
        // What the provider's signature leaves out, and what the program never reads: a
        // development build with another's seal there is still one.
        {Program(wide, {code}) + seal, "data.sec", "seal at offset 1024 lies outside the program's"},
        {Program(wide, {code}, std::string(8, 'c') + seal), "data.sec", "seal at offset 1032 lies outside"},
        {inHeaders, "data.sec", "seal at offset 440 lies outside"},
        {inPadding, "data.sec", "seal at offset 912 lies outside"},
        {Program(wide, {code + seal}) + seal, "data.sec", "occurs more than once (at offsets 612 and 1024)"},
    };
    for (const auto& c : refused) {
      const Result result = VerifyWith(drive, c.program, c.archive);
      EXPECT_EQ(1, result.exitCode) << result.output;
      EXPECT_NE(std::string::npos, result.output.find(c.says)) << result.output;
    }
  }
  const Result missing =
      Secpack("verify --installer " + drive.Native("missing.exe") + " " + drive.Native("data.sec"));
  EXPECT_EQ(1, missing.exitCode);
  EXPECT_NE(std::string::npos, missing.output.find("cannot read")) << missing.output;
}

// Headers that point past the file's end, or whose sums overflow 32 bits,
// are refused before anything is read there (ASan, in linux-asan).
TEST(SecpackCli, AnInstallerWhoseHeadersDoNotHoldIsRefused) {
  TestDrive drive;
  const std::string archive = testing_support::EncodeArchive({}, {});
  drive.WriteFile("data.sec", archive);
  const std::string program = Program(false, {SealFor(archive)}, std::string(32, 'c'));
  auto patched = [&](size_t offset, uint32_t value) {
    std::string bytes = program;
    Put(&bytes, offset, value);
    return bytes;
  };
  const struct {
    std::string program;
    const char* says;
  } cases[] = {
      {program, ""},
      {"@echo off", "not a Windows program: no MZ header"},
      {patched(0x3C, 0xFFFFFFF0), "no PE header"},
      {patched(84, 0x0002 << 16), "no optional header"},
      {patched(88, 0x107), "neither PE32 nor PE32+"},
      {patched(88 + 60, 0xFFFFFFFF), "headers of 4294967295 bytes"},
      {patched(88 + 128, 0xFFFFFFF0), "a certificate table at bytes 4294967280 to 4294967312"},
      {patched(68, 0xFFFF0000 | 0x014C), "a section table of 65535 sections"},
      {patched(88 + 224 + 20, 0xFFFFFF00), "section 1's data at bytes 4294967040 to 4294967552"},
  };
  for (const auto& c : cases) {
    const Result result = VerifyWith(drive, c.program, "data.sec");
    EXPECT_EQ(*c.says == '\0' ? 0 : 1, result.exitCode) << result.output;
    EXPECT_NE(std::string::npos, result.output.find(c.says)) << result.output;
  }
}

// Names the customer's Windows would take for others are refused, with the
// path and the reason, before anything is written: here, where the output
// cannot even be created, the name is what is reported.
TEST(SecpackCli, CreateRefusesNamesWindowsWouldConfuse) {
  TestDrive drive;
  const std::string out = drive.Native("no-dir/x.sec");
  struct Case {
    std::vector<std::string> files;
    const char* options;
    std::string reason;
  } cases[] = {
      {{"Setup.exe", "setup.exe"}, "", "file \"Setup.exe\" and file \"setup.exe\" differ only in case"},
      {{"Drivers/a.inf", "drivers"}, "", "directory \"Drivers\" and file \"drivers\" differ only in case"},
      {{"Été", "été"}, "--code-page 1252 ", "file \"Été\" and file \"été\" differ only in case"},
      {{"Données/x"}, "", "name \"Données\" refused: a character outside printable ASCII"},
      {{"Données/x"}, "--code-page 1251 ", "name \"Données\" refused: \"é\" (U+00E9) is not in code page 1251"},
      {{"bad\xE9"}, "--code-page 1252 ", "name \"bad\xE9\" refused: not UTF-8"},
  };
  for (const Case& c : cases) {
    drive.Remove("in");
    for (const std::string& file : c.files) Plant(drive, "in/" + file);
    Result result = Secpack(std::string("create ") + c.options + out + " " + drive.Native("in"));
    EXPECT_EQ(1, result.exitCode);
    EXPECT_EQ("secpack: " + c.reason, result.output.substr(0, 9 + c.reason.size()));
  }
  drive.Remove("in");
  Plant(drive, "in/ok");
  EXPECT_EQ("secpack: cannot create " + out + ".partial: No such file or directory\n",
            Secpack("create " + out + " " + drive.Native("in")).output);
}

// Converted to the code page, the names are the customer's: the archive
// holds that code page's bytes, and checks as valid in it alone.
TEST(SecpackCli, CodePageNamesArePackedInThatCodePage) {
  TestDrive drive;
  Plant(drive, "in/Données/ß.inf");
  const std::string archive = drive.Native("data.sec");
  Result created = Secpack("create --code-page 1252 " + archive + " " + drive.Native("in"));
  EXPECT_EQ(archive + ": 1 directory, 1 file\n", created.output);
  std::string bytes;
  ASSERT_TRUE(drive.ReadFile("data.sec", &bytes));
  EXPECT_TRUE(bytes == testing_support::EncodeArchive({"Donn\xE9""es"}, {{"Donn\xE9""es\\\xDF.inf", "x"}}));
  EXPECT_EQ(0, Secpack("verify --code-page 1252 " + archive).exitCode);
  Result ascii = Secpack("verify " + archive);
  EXPECT_EQ(1, ascii.exitCode);
  EXPECT_NE(std::string::npos, ascii.output.find("refused: a character outside printable ASCII"))
      << ascii.output;
}

// Left out by their own names, with all they hold and before any rule is
// applied (the name below __MACOSX would be refused), and listed.
TEST(SecpackCli, CreateLeavesOutAndListsWhatItIsToldTo) {
  TestDrive drive;
  for (const char* file : {"in/Setup.exe", "in/THUMBS.DB", "in/__MACOSX/x/\xC3\x89t\xC3\xA9", "in/d/._a.inf",
                           "in/d/a.inf", "in/d/__MACOSX"}) {
    Plant(drive, file);
  }
  const std::string archive = drive.Native("data.sec");
  Result created = Secpack("create --exclude Thumbs.db --exclude __MACOSX/ --exclude '._*' " + archive + " " +
                           drive.Native("in"));
  EXPECT_EQ("left out: THUMBS.DB (--exclude Thumbs.db)\nleft out: __MACOSX\\ (--exclude __MACOSX/)\n"
            "left out: d\\._a.inf (--exclude ._*)\n" + archive + ": 1 directory, 3 files\n",
            created.output);
  std::string bytes;
  ASSERT_TRUE(drive.ReadFile("data.sec", &bytes));
  EXPECT_TRUE(bytes == testing_support::EncodeArchive({"d"}, {{"Setup.exe", "x"}, {"d\\__MACOSX", "x"}, {"d\\a.inf", "x"}}));
  for (const char* path : {"a/b", "/", "''", "'a\\b'"}) {
    EXPECT_EQ(2, Secpack(std::string("create --exclude ") + path + " " + archive + " " + drive.Native("in")).exitCode)
        << path;
  }
}

// verify and list read the headers, not the archive: a package of 1 GiB
// (sparse here) is checked in the memory of a small one.
TEST(SecpackCli, VerifyAndListOfALargeArchiveStayInFlatMemory) {
  TestDrive drive;
  const int32_t length = 1 << 30;
  std::string head = testing_support::EncodeArchive({}, {{"big.bin", ""}});
  PatchLe32(&head, 4, kEntryHeaderSize + length);
  PatchLe32(&head, kArchiveHeaderSize + kContentLengthOffset, length);
  drive.WriteFile("big.sec", head);
  std::filesystem::resize_file(drive.Native("big.sec"), head.size() + length);
  EXPECT_EQ(0, Secpack("verify " + drive.Native("big.sec")).exitCode);
  EXPECT_EQ(0, Secpack("list " + drive.Native("big.sec")).exitCode);
  struct rusage usage;
  ASSERT_EQ(0, getrusage(RUSAGE_CHILDREN, &usage));
  EXPECT_LT(usage.ru_maxrss, 128 * 1024) << "KiB at the peak, of any secpack run by this test";
}

TEST(SecpackCli, UsageAndExitCodes) {
  EXPECT_EQ(0, Secpack("--help").exitCode);
  const std::string help = Secpack("--help").output;
  EXPECT_NE(std::string::npos, help.find("usage: secpack create [--code-page N] [--exclude PATTERN]... [--progress] OUT DIR"));
  EXPECT_NE(std::string::npos, help.find("exit codes: 0"));
  for (const char* bad : {"", "create", "create a", "list", "verify a b", "verify --installer a",
                          "verify --exe a b", "digest", "digest a b", "extract a", "unpack a b",
                          "list --code-page", "extract --code-page 1252 a"}) {
    Result result = Secpack(bad);
    EXPECT_EQ(2, result.exitCode) << bad;
    EXPECT_EQ(0u, result.output.find("usage:")) << bad;
  }
  Result unknown = Secpack("verify --code-page 437 a");
  EXPECT_EQ(2, unknown.exitCode);
  EXPECT_EQ("secpack: --code-page 437: not one of 874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257\n",
            unknown.output);
  TestDrive drive;
  EXPECT_EQ(1, Secpack("verify " + drive.Native("missing.sec")).exitCode);
  EXPECT_EQ(1, Secpack("create " + drive.Native("x.sec") + " " + drive.Native("no-such-dir")).exitCode);
  EXPECT_FALSE(drive.Exists("x.sec"));
  EXPECT_FALSE(drive.Exists("x.sec.partial"));
}

}  // namespace
