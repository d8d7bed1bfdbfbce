// A release's Install.exe carries the SHA-256 of its "data.sec": at "Setup
// Now" it unpacks that archive and no other, so that whoever can replace
// the file beside the signed program cannot choose what runs elevated.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ArchiveBytes.h"
#include "tests/support/Sha256Of.h"
#include "tests/support/InstallerTest.h"

using platform::Op;

namespace {

const char kNotThePackage[] =
    "data.sec is damaged or is not the package this installer was made for, please contact your ISP";

const std::string kArchive = testing_support::EncodeArchive(
    {"drivers"}, {{"Setup.exe", "MZ setup"}, {"drivers\\modem.inf", "[Version]"}});

struct Outcome {
  std::vector<std::string> messages;
  std::vector<std::string> tree;  // of c:\ZUV_tmp
  size_t launches;
  bool watching;    // the pause was taken and the timer armed
  bool terminated;
  bool holdsLock;
  int openFiles;
};

// "Setup Now" of an installer made for digest (empty: none) with archive
// in its start directory (empty: none).
Outcome SetupNow(const std::string& archive, const std::string& digest) {
  InstallerHarness installer;
  installer.StartIn("package");
  if (!archive.empty()) installer.drive.WriteFile("package/data.sec", archive);
  installer.CreateInstallerWindow();
  gInstallerState.packageDigest =
      digest.empty() ? nullptr : reinterpret_cast<const unsigned char*>(digest.data());
  gInstallerWindow.SetupNowClicked();
  platform::RecordingOs& os = installer.drive.os();
  return Outcome{installer.toolkit.messages,
             std::filesystem::exists(installer.ExtractDirectory()) ? installer.ExtractedTree()
                                                                     : std::vector<std::string>{"(none)"},
             os.CallsOf(Op::kLaunch).size(),
             os.CallsOf(Op::kSleep).size() == 1 && installer.toolkit.timerEnabled,
             installer.toolkit.terminateRequested,
             os.HoldsInstallLock(),
             os.OpenFiles()};
}

TEST(PackageDigest, OnlyThePackageTheInstallerWasMadeForIsUnpacked) {
  const std::string digest = testing_support::Sha256Of(kArchive);
  const Outcome matching = SetupNow(kArchive, digest);
  EXPECT_TRUE(matching.messages.empty());
  EXPECT_EQ((std::vector<std::string>{"Setup.exe=8", "drivers", "drivers\\modem.inf=9"}), matching.tree);
  EXPECT_EQ(1u, matching.launches);
  EXPECT_TRUE(matching.watching);

  // One byte changed anywhere (header, a name, a content, the directory
  // table, the last), one byte less, one byte more.
  std::vector<std::string> others;
  for (size_t at : {size_t{0}, size_t{5}, size_t{9}, size_t{8 + 264 + 7}, kArchive.size() - 200,
                    kArchive.size() - 1}) {
    others.push_back(kArchive);
    others.back()[at] = static_cast<char>(others.back()[at] ^ 0x20);
  }
  others.push_back(kArchive.substr(0, kArchive.size() - 1));
  others.push_back(kArchive + '\0');
  for (size_t i = 0; i < others.size(); ++i) {
    SCOPED_TRACE("archive " + std::to_string(i));
    const Outcome refused = SetupNow(others[i], digest);
    EXPECT_EQ(std::vector<std::string>{kNotThePackage}, refused.messages);
    EXPECT_EQ(std::vector<std::string>{"(none)"}, refused.tree);
    EXPECT_EQ(0u, refused.launches);
    EXPECT_FALSE(refused.watching);
    EXPECT_TRUE(refused.terminated);
    EXPECT_FALSE(refused.holdsLock);
    EXPECT_EQ(0, refused.openFiles);
  }
}

// Developer builds carry no digest: any archive is unpacked. And a missing
// archive is told with the not-found message whether or not the build
// carries one, with the watch going on.
TEST(PackageDigest, WithoutADigestOrWithoutAnArchiveNothingChanges) {
  std::string other = kArchive;
  other[kArchive.size() - 1] = 'x';
  const Outcome anyArchive = SetupNow(other, "");
  EXPECT_TRUE(anyArchive.messages.empty());
  EXPECT_EQ(1u, anyArchive.launches);
  EXPECT_TRUE(anyArchive.watching);

  const Outcome missing = SetupNow("", testing_support::Sha256Of(kArchive));
  EXPECT_EQ(std::vector<std::string>{"data.sec file not found, please contact your ISP"},
            missing.messages);
  EXPECT_EQ(std::vector<std::string>{"(none)"}, missing.tree);
  EXPECT_EQ(0u, missing.launches);
  EXPECT_TRUE(missing.watching);
  EXPECT_FALSE(missing.terminated);
}

}  // namespace
