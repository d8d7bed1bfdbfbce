// "Setup Now": the install sequence of SetupNowClicked, on the headless
// toolkit and the recording OS over the real file system.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/InstallerMain.h"
#include "tests/support/ArchiveBytes.h"
#include "tests/support/InstallerTest.h"

using platform::Op;

namespace {

const char kNotFound[] = "data.sec file not found, please contact your ISP";

std::string Package(const std::string& setupContent = "MZ setup") {
  return testing_support::EncodeArchive({"drivers"},
                                {{"Setup.exe", setupContent}, {"drivers\\modem.inf", "[Version]"}});
}

const std::vector<Op> kSequenceOps = {Op::kChangeDirectory, Op::kOpenRead, Op::kOpenWrite,
                                      Op::kLaunch, Op::kSleep, Op::kLockInstall,
                                      Op::kUnlockInstall};

using InstallSequence = InstallerTest;

TEST_F(InstallSequence, RunsItsStepsInOrderAndLaunchesTheUnpackedSetupOnce) {
  StartIn("package");
  drive.WriteFile("package/data.sec", Package());
  CreateInstallerWindow();
  const std::string start = drive.Path("package");
  EXPECT_EQ(start, gInstallerState.startDirectory);

  gInstallerWindow.SetupNowClicked();

  // The claim is held while the tree changes, never during the pause or
  // the watch, which would keep a retry waiting.
  EXPECT_EQ((std::vector<std::string>{
                "Hide",
                "LockInstall",
                "ChangeDirectory " + start,
                "OpenRead data.sec",
                "ChangeDirectory c:\\ZUV_tmp",  // the extraction enters its destination
                "OpenWrite Setup.exe",
                "OpenWrite drivers\\modem.inf",
                "ChangeDirectory c:\\ZUV_tmp",
                "Launch c:\\ZUV_tmp\\Setup.exe",
                "ChangeDirectory " + start,  // its own would keep the tree in use
                "UnlockInstall",
                "Sleep 30000",
                "Timer on",
            }),
            Timeline(kSequenceOps));
  EXPECT_STREQ("c:\\ZUV_tmp\\Setup.exe", gInstallerState.launchPath);
  EXPECT_EQ((std::vector<std::string>{"Setup.exe=8", "drivers", "drivers\\modem.inf=9"}),
            ExtractedTree());
  EXPECT_FALSE(toolkit.visible);
  EXPECT_TRUE(toolkit.timerEnabled);
  EXPECT_EQ(2000u, toolkit.timerInterval);
  EXPECT_TRUE(toolkit.messages.empty());
  EXPECT_TRUE(toolkit.exceptionBoxes.empty());
}

TEST_F(InstallSequence, LooksUpTheArchiveInTheStartDirectoryWhateverIsCurrentAtTheClick) {
  StartIn("start");
  drive.WriteFile("start/data.sec", Package("from the start directory"));
  CreateInstallerWindow();
  StartIn("elsewhere");
  drive.WriteFile("elsewhere/data.sec", Package("decoy"));

  gInstallerWindow.SetupNowClicked();

  EXPECT_EQ(1u, drive.os().CallsOf(Op::kLaunch).size());
  std::ifstream in(ExtractDirectory() + "/Setup.exe", std::ios::binary);
  std::string setup;
  std::getline(in, setup);
  EXPECT_EQ("from the start directory", setup);
}

TEST_F(InstallSequence, MissingArchiveIsReportedOnceAndNothingIsLaunched) {
  StartIn("empty");
  CreateInstallerWindow();
  gInstallerWindow.SetupNowClicked();

  EXPECT_EQ(std::vector<std::string>{kNotFound}, toolkit.messages);
  EXPECT_EQ((std::vector<std::string>{"Hide", "LockInstall", "ChangeDirectory " + drive.Path("empty"),
                                      "OpenRead data.sec",
                                      "ChangeDirectory " + drive.Path("empty"),  // out of c:\ZUV_tmp
                                      "UnlockInstall", std::string("ShowMessage ") + kNotFound,
                                      "Sleep 30000", "Timer on"}),
            Timeline(kSequenceOps));
  EXPECT_FALSE(std::filesystem::exists(ExtractDirectory()));
  EXPECT_TRUE(toolkit.timerEnabled);
}

// An elevated installer must not start what an earlier run, or another
// user, left in the shared extraction directory. And a package that came
// and was refused, for whatever reason, is told once and lets go of
// everything: what was unpacked, the claim, the watch; the user can try
// again at once. Only a missing one is watched on: a driver installed by
// other means still ends the run.
TEST_F(InstallSequence, ARefusedPackageIsToldAndLetGoAStaleSetupNeverLaunched) {
  const std::string damaged = "data.sec is damaged, please contact your ISP";
  const struct {
    const char* what;
    std::string archive;  // "": none
    std::string message;
  } cases[] = {
      {"no archive", "", kNotFound},
      {"a name that leaves the destination",
       testing_support::EncodeArchive({"drivers"}, {{"Setup.exe", "MZ"}, {"..\\outside.exe", "x"}}), damaged},
      {"cut short in a file", Package().substr(0, 300), damaged},
      {"cut short in the directory table", Package().substr(0, Package().size() - 100), damaged},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ResetInstaller();
    toolkit.timerEnabled = false;
    toolkit.terminateRequested = false;
    toolkit.messages.clear();
    drive.os().ClearLog();
    std::filesystem::create_directories(ExtractDirectory());
    std::ofstream(ExtractDirectory() + "/Setup.exe") << "left behind";
    StartIn(c.what);
    if (!c.archive.empty()) drive.WriteFile(std::string(c.what) + "/data.sec", c.archive);
    CreateInstallerWindow();

    gInstallerWindow.SetupNowClicked();

    EXPECT_EQ(std::vector<std::string>{c.message}, toolkit.messages);
    EXPECT_TRUE(drive.os().CallsOf(Op::kLaunch).empty());
    EXPECT_FALSE(std::filesystem::exists(ExtractDirectory()));
    EXPECT_FALSE(drive.os().HoldsInstallLock());
    const bool watches = c.archive.empty();
    EXPECT_EQ(watches ? 1u : 0u, drive.os().CallsOf(Op::kSleep).size());
    EXPECT_EQ(watches, toolkit.timerEnabled);
    EXPECT_EQ(!watches, toolkit.terminateRequested);
  }
}

// A click queued before the window was hidden reaches the button inside
// the not-found message's nested loop.
TEST_F(InstallSequence, ClickDeliveredWhileTheMessageIsOpenDoesNothing) {
  StartIn("empty");
  CreateInstallerWindow();
  int nested = 0;
  toolkit.whileMessageShown = [&](const std::string&) {
    if (nested++ == 0) toolkit.DeliverQueuedClick(kSetupNowButton);
  };

  gInstallerWindow.SetupNowClicked();
  toolkit.DeliverQueuedClick(kSetupNowButton);  // and once more after the sequence

  EXPECT_EQ(1, nested);
  EXPECT_EQ(1u, drive.os().CallsOf(Op::kOpenRead).size());
  EXPECT_EQ(1u, drive.os().CallsOf(Op::kSleep).size());
  const std::vector<std::string> events = toolkit.What();
  EXPECT_EQ(1, std::count(events.begin(), events.end(), "Hide"));
  EXPECT_EQ(1, std::count(events.begin(), events.end(), "Timer on"));
}

TEST_F(InstallSequence, TimerFailureIsShownByTheLoopWithItsFullStopAndTheLoopGoesOn) {
  StartIn("package");
  drive.WriteFile("package/data.sec", Package());
  toolkit.timersLeft = 0;
  bool clicked = false;
  bool loopWentOn = false;
  toolkit.whileRunning = [&](platform::HeadlessToolkit& tk) {
    clicked = tk.Click(kSetupNowButton);
    loopWentOn = tk.exceptionBoxes.size() == 1;  // shown when the handler returned
    tk.Terminate();
  };

  EXPECT_EQ(0, InstallerMain());

  EXPECT_TRUE(clicked);
  EXPECT_TRUE(loopWentOn);
  ASSERT_EQ(1u, toolkit.exceptionBoxes.size());  // not shown a second time by the entry
  EXPECT_EQ("Install", toolkit.exceptionBoxes[0].caption);
  EXPECT_EQ("Not enough timers available.", toolkit.exceptionBoxes[0].text);
  EXPECT_FALSE(toolkit.timerEnabled);
  EXPECT_FALSE(toolkit.visible);
  EXPECT_EQ(1u, drive.os().CallsOf(Op::kLaunch).size());
}

TEST_F(InstallSequence, StartedAtADriveRootTheStartDirectoryKeepsItsBackslash) {
  ASSERT_EQ(0, drive.backend().ChangeDirectory("c:\\"));
  CreateInstallerWindow();
  EXPECT_STRCASEEQ("c:\\", gInstallerState.startDirectory);
}

// The start directory buffer holds 128 bytes: 127 characters and the zero.
TEST_F(InstallSequence, StartDirectoryOf127CharactersIsRecordedAnd128IsNot) {
  const size_t root = drive.Path("").size();
  const std::string fits(127 - root, 'a');
  const std::string tooLong(128 - root, 'b');
  ASSERT_EQ(127u, drive.Path(fits).size());

  StartIn(fits);
  CreateInstallerWindow();
  EXPECT_EQ(drive.Path(fits), gInstallerState.startDirectory);

  ResetInstaller();
  StartIn(tooLong);
  drive.WriteFile(tooLong + "/data.sec", Package());
  CreateInstallerWindow();
  EXPECT_STREQ("", gInstallerState.startDirectory);

  // The sequence then stays in the directory that is current, silently,
  // also when a leftover "c:\ZUV_tmp" is removed first.
  std::filesystem::create_directories(ExtractDirectory() + "/old");
  gInstallerWindow.SetupNowClicked();
  const auto changes = drive.os().CallsOf(Op::kChangeDirectory);
  EXPECT_TRUE(std::any_of(changes.begin(), changes.end(),
                          [](const platform::Call& call) { return call.path.empty(); }));
  EXPECT_TRUE(toolkit.messages.empty());
  EXPECT_EQ(1u, drive.os().CallsOf(Op::kLaunch).size());
  EXPECT_EQ((std::vector<std::string>{"Setup.exe=8", "drivers", "drivers\\modem.inf=9"}),
            ExtractedTree());
}

}  // namespace
