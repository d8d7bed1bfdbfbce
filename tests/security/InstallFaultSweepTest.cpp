// Fails each platform call of one "Setup Now" of a release's installer (it
// checks its package's digest) in turn, until a run no fault reaches. Whatever fails: nothing leaks, nothing outside "c:\ZUV_tmp" is
// written or deleted, the setup program is launched only from a package
// unpacked whole, and the watch is armed after the pause unless the user
// was told that "c:\ZUV_tmp" cannot be had and the program ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/ArchiveBytes.h"
#include "tests/support/Sha256Of.h"
#include "tests/support/InstallerTest.h"
#include "tests/support/Sweep.h"

using platform::Op;

namespace {

const std::vector<testing_support::FileEntry> kFiles = {
    {"Setup.exe", std::string(20000, 'S')}, {"drivers\\modem.sys", "driver"}, {"drivers\\inf\\modem.inf", ""}};

// One click with call n failed; false once no fault was reached.
bool RunWithFault(uint64_t n) {
  InstallerHarness run;
  testing_support::TestDrive& drive = run.drive;
  run.StartIn("package");
  const std::string archive = testing_support::EncodeArchive({"drivers", "drivers\\inf"}, kFiles);
  drive.WriteFile("package/data.sec", archive);
  // A release's installer: its package's digest is checked too.
  const std::string digest = testing_support::Sha256Of(archive);
  drive.WriteFile("package/decoy.txt", "start directory");
  drive.WriteFile("decoy.txt", "drive root");
  // Left by an earlier run: removed first, which the sweep covers too.
  std::filesystem::create_directories(run.ExtractDirectory() + "/old");
  std::ofstream(run.ExtractDirectory() + "/old/Setup.exe") << "stale";
  const std::vector<std::string> before = testing_support::Without(drive.Tree(), "ZUV_tmp");
  run.CreateInstallerWindow();
  gInstallerState.packageDigest = reinterpret_cast<const unsigned char*>(digest.data());
  drive.os().ClearLog();
  drive.os().FailCall(n);

  gInstallerWindow.SetupNowClicked();

  EXPECT_EQ(0, drive.os().OpenFiles());
  EXPECT_EQ(0, drive.os().OpenDirectories());
  // Launched or refused, the claim is let go: the watch holds nothing.
  EXPECT_FALSE(drive.os().HoldsInstallLock());
  EXPECT_EQ(before, testing_support::Without(drive.Tree(), "ZUV_tmp"))
      << "something outside c:\\ZUV_tmp changed";
  const size_t launches = drive.os().CallsOf(Op::kLaunch).size();
  if (run.toolkit.terminateRequested) {
    // Refused at the claim, or the package not known for the one it was
    // made for: told once, nothing launched, nothing watched.
    EXPECT_EQ(1u, run.toolkit.messages.size());
    EXPECT_EQ(0u, launches);
    EXPECT_FALSE(run.toolkit.timerEnabled);
    EXPECT_FALSE(drive.os().HoldsInstallLock());
  } else {
    EXPECT_EQ(1u, drive.os().CallsOf(Op::kSleep).size());
    EXPECT_TRUE(run.toolkit.timerEnabled);
  }
  EXPECT_LE(launches, 1u);
  if (launches == 1) {
    // The checked copy of the archive stays only where its deletion failed.
    EXPECT_EQ((std::vector<std::string>{"Setup.exe=20000", "drivers", "drivers\\inf",
                                        "drivers\\inf\\modem.inf=0", "drivers\\modem.sys=6"}),
              testing_support::Without(run.ExtractedTree(), "DATASEC.TMP"));
  }
  const bool reached = drive.os().FaultFired();
  if (!reached) {
    EXPECT_EQ(1u, launches);
  }
  return reached && !::testing::Test::HasFailure();
}

TEST(InstallFaults, EveryFailingCallOfSetupNowIsHandled) {
  // 85: the platform calls of one "Setup Now" of this package.
  testing_support::SweepPoints(85, 400, RunWithFault);
}

}  // namespace
