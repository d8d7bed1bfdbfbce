// secpack as the provider runs it: create, list, verify and extract.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "package/PackageArchive.h"
#include "tests/support/Files.h"
#include "tests/support/TestDrive.h"
#include "tools/secpack/SecFormat.h"

using testing_support::BytePattern;
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
  EXPECT_EQ(0, Secpack("verify " + drive.Native("data.sec")).exitCode);
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

TEST(SecpackCli, RefusedArchivesLeaveNothingOutsideTheDestination) {
  TestDrive drive;
  const std::string archives[] = {
      secpack::EncodeArchive({}, {{"..\\escaped", "x"}}),
      secpack::EncodeArchive({"..\\up"}, {}),
      secpack::EncodeArchive({}, {{"/abs", "x"}}),
      secpack::EncodeArchive({}, {{"c:\\abs", "x"}}),
      secpack::EncodeArchive({"sub"}, {{"sub/../../escaped", "x"}}),
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

// What a provider checks a release with: the archive's digest, and whether
// an archive is the package an Install.exe was made for (the digest after
// the seal's marker, found once in the program's bytes).
TEST(SecpackCli, DigestAndThePackageAnInstallerWasMadeFor) {
  TestDrive drive;
  const std::string archive = secpack::EncodeArchive({"d"}, {{"d\\x", "x"}});
  const std::string digest = testing_support::Sha256Of(archive);
  drive.WriteFile("data.sec", archive);
  drive.WriteFile("other.sec", secpack::EncodeArchive({}, {}));
  const std::string seal = std::string(PACKAGE_SEAL_MARKER, sizeof(PackageSeal::marker)) + digest;
  drive.WriteFile("made-for.exe", "MZ" + std::string(1000, '\x90') + seal + std::string(300, '\0'));
  drive.WriteFile("developer.exe", "MZ" + std::string(1000, '\x90'));
  drive.WriteFile("twice.exe", "MZ" + seal + seal);
  auto verify = [&](const char* installer, const char* archiveName) {
    return Secpack("verify --installer " + drive.Native(installer) + " " + drive.Native(archiveName));
  };

  const Result printed = Secpack("digest " + drive.Native("data.sec"));
  EXPECT_EQ(0, printed.exitCode);
  EXPECT_EQ(testing_support::Hex(digest) + "  " + drive.Native("data.sec") + "\n", printed.output);

  const Result matching = verify("made-for.exe", "data.sec");
  EXPECT_EQ(0, matching.exitCode) << matching.output;
  EXPECT_NE(std::string::npos, matching.output.find("the package")) << matching.output;
  const struct {
    const char* installer;
    const char* archive;
    const char* says;
  } refused[] = {{"made-for.exe", "other.sec", "is not the package"},
                 {"developer.exe", "data.sec", "carries no package digest"},
                 {"twice.exe", "data.sec", "cannot read a package digest"},
                 {"missing.exe", "data.sec", "cannot read a package digest"}};
  for (const auto& c : refused) {
    const Result result = verify(c.installer, c.archive);
    EXPECT_EQ(1, result.exitCode) << c.installer;
    EXPECT_NE(std::string::npos, result.output.find(c.says)) << result.output;
  }
  EXPECT_EQ(1, Secpack("digest " + drive.Native("missing.sec")).exitCode);
}

TEST(SecpackCli, UsageAndExitCodes) {
  EXPECT_EQ(0, Secpack("--help").exitCode);
  EXPECT_NE(std::string::npos, Secpack("--help").output.find("usage: secpack create OUT DIR"));
  for (const char* bad : {"", "create", "create a", "list", "verify a b", "verify --installer a",
                          "verify --exe a b", "digest", "digest a b", "extract a", "unpack a b"}) {
    Result result = Secpack(bad);
    EXPECT_EQ(2, result.exitCode) << bad;
    EXPECT_EQ(0u, result.output.find("usage:")) << bad;
  }
  TestDrive drive;
  EXPECT_EQ(1, Secpack("verify " + drive.Native("missing.sec")).exitCode);
  EXPECT_EQ(1, Secpack("create " + drive.Native("x.sec") + " " + drive.Native("no-such-dir")).exitCode);
  EXPECT_FALSE(drive.Exists("x.sec"));
  EXPECT_FALSE(drive.Exists("x.sec.partial"));
}

}  // namespace
