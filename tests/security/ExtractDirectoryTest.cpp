// "c:\ZUV_tmp" can be made by anyone before the installer runs. At "Setup
// Now" the installer unpacks only into a directory it has just made
// itself: never through a link there, never on top of what others left.
#include <gtest/gtest.h>

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/ExtractDirectory.h"
#include "tests/support/ArchiveBytes.h"
#include "tests/support/Sha256Of.h"
#include "tests/support/InstallerTest.h"
#include "tests/support/HostLinks.h"

using platform::Op;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kPackageTree = {"Setup.exe=8", "drivers", "drivers\\modem.inf=9"};

class ExtractDirectoryClaim : public InstallerTest {
 protected:
  ExtractDirectoryClaim() {
    StartIn("package");
    drive.WriteFile("package/data.sec",
                    testing_support::EncodeArchive({"drivers"}, {{"Setup.exe", "MZ setup"},
                                                         {"drivers\\modem.inf", "[Version]"}}));
    drive.MakeDirectories("outside/drivers");
    drive.WriteFile("outside/Setup.exe", "someone else's program");
    drive.WriteFile("outside/drivers/keep.sys", "someone else's driver");
    outsideBefore = drive.Tree("outside");
  }
  ~ExtractDirectoryClaim() override { testing_support::RemoveFromHost(ExtractDirectory()); }

  size_t Launches() { return drive.os().CallsOf(Op::kLaunch).size(); }

  // Refused: the user is told once, the program ends, nothing is watched
  // for and "c:\ZUV_tmp" is not this run's.
  void ExpectToldAndEnded(const std::string& message) {
    EXPECT_EQ(std::vector<std::string>{message}, toolkit.messages);
    EXPECT_TRUE(toolkit.terminateRequested);
    EXPECT_TRUE(drive.os().CallsOf(Op::kSleep).empty());
    EXPECT_FALSE(toolkit.timerEnabled);
    EXPECT_FALSE(drive.os().HoldsInstallLock());
  }

  std::vector<std::string> outsideBefore;
};

TEST_F(ExtractDirectoryClaim, IsMadeAfreshAndPrivateBeforeTheArchiveIsRead) {
  CreateInstallerWindow();
  gInstallerWindow.SetupNowClicked();
  const std::vector<Op> ops = drive.os().Ops();
  const auto made = std::find(ops.begin(), ops.end(), Op::kMakePrivateDirectory);
  ASSERT_NE(ops.end(), made);
  EXPECT_EQ("c:\\ZUV_tmp", drive.os().Calls()[made - ops.begin()].path);
  EXPECT_LT(made, std::find(ops.begin(), ops.end(), Op::kOpenRead));
  EXPECT_EQ(kPackageTree, ExtractedTree());
  EXPECT_EQ(1u, Launches());
  drive.host().ExpectPrivate(ExtractDirectory());
}

TEST_F(ExtractDirectoryClaim, ALinkThereIsNeitherUnpackedThroughNorEmptied) {
  ASSERT_TRUE(testing_support::MakeDirectoryLink(ExtractDirectory(), drive.Native("outside")));
  CreateInstallerWindow();

  gInstallerWindow.SetupNowClicked();

  EXPECT_EQ(0u, Launches());
  EXPECT_EQ(outsideBefore, drive.Tree("outside"));
  ExpectToldAndEnded("c:\\ZUV_tmp is not a folder the installer can use. Remove it, then start "
                     "the installer again.");

  CleanUpTempDir();  // what closing the window would do
  EXPECT_EQ(outsideBefore, drive.Tree("outside"));
}

TEST_F(ExtractDirectoryClaim, WhatOthersLeftThereIsRemovedBeforeUnpacking) {
  // A directory made by someone else, holding a program of theirs and a
  // link through which the package's driver would land elsewhere.
  drive.MakeDirectories("planted");
  fs::create_directories(ExtractDirectory());
  std::ofstream(ExtractDirectory() + "/Setup.exe") << "planted";
  ASSERT_TRUE(testing_support::MakeDirectoryLink(ExtractDirectory() + "/drivers",
                                                 drive.Native("outside/drivers")));
  CreateInstallerWindow();

  gInstallerWindow.SetupNowClicked();

  EXPECT_EQ(outsideBefore, drive.Tree("outside"));
  if (!drive.host().removesLinks) {
    // Wine acts on a Unix link's target, which is full: the link stays, and
    // with it the leftover, which blocks the unpacking as any that cannot
    // be removed does.
    EXPECT_EQ(0u, Launches());
    ExpectToldAndEnded("c:\\ZUV_tmp holds files that cannot be removed. Remove the folder, then "
                       "start the installer again.");
    return;
  }
  EXPECT_EQ(1u, Launches());
  EXPECT_EQ(kPackageTree, ExtractedTree());
  std::ifstream setup(ExtractDirectory() + "/Setup.exe");
  std::string content;
  std::getline(setup, content);
  EXPECT_EQ("MZ setup", content);
}

TEST_F(ExtractDirectoryClaim, ALeftoverThatCannotBeRemovedBlocksTheUnpacking) {
  fs::create_directories(ExtractDirectory());
  const std::string stuck = ExtractDirectory() + "/stuck.txt";
  std::ofstream(stuck) << "read-only";
  fs::permissions(stuck, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  CreateInstallerWindow();

  gInstallerWindow.SetupNowClicked();

  EXPECT_EQ(0u, Launches());
  EXPECT_TRUE(fs::exists(stuck));
  EXPECT_EQ(std::vector<std::string>{"stuck.txt=9"}, ExtractedTree());
  ExpectToldAndEnded("c:\\ZUV_tmp holds files that cannot be removed. Remove the folder, then "
                     "start the installer again.");
  fs::permissions(stuck, fs::perms::owner_write, fs::perm_options::add);
}

// Another installer at work, or a program still using anything of
// "c:\ZUV_tmp" (a file it runs from or holds, a directory that is its
// current one, at any depth): "Setup Now" tells so and ends, the close
// handler skips its clean-up, and nothing there goes.
TEST_F(ExtractDirectoryClaim, WhatAnotherInstallOrARunningSetupHoldsIsNeverTouched) {
  const std::string inUse =
      "c:\\ZUV_tmp is in use by a setup program that is still running. Finish it, then start the "
      "installer again.";
  const std::string another =
      "Another installation is already under way. Wait until it has finished, then start the "
      "installer again.";
  const struct {
    const char* busy;
    bool otherInstaller;
    std::string message;
  } cases[] = {{"c:\\ZUV_tmp\\Setup.exe", false, inUse},
               {"c:\\ZUV_tmp", false, inUse},
               {"c:\\ZUV_tmp\\drivers\\modem.sys", false, inUse},
               {"c:\\ZUV_tmp\\drivers", false, inUse},
               {"", true, another}};
  fs::create_directories(ExtractDirectory() + "/drivers");
  std::ofstream(ExtractDirectory() + "/Setup.exe") << "running";
  std::ofstream(ExtractDirectory() + "/drivers/modem.sys") << "in use";
  const std::vector<std::string> held = ExtractedTree();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message + " " + c.busy);
    ResetInstaller();
    toolkit.terminateRequested = false;
    toolkit.messages.clear();
    drive.os().ClearLog();
    drive.os().busy = {c.busy};
    drive.os().otherInstallerHoldsLock = c.otherInstaller;
    CreateInstallerWindow();

    gInstallerWindow.SetupNowClicked();

    ExpectToldAndEnded(c.message);
    EXPECT_EQ(0u, Launches());
    EXPECT_EQ(held, ExtractedTree());
    gInstallerWindow = InstallerWindow{};
    gInstallerWindow.WindowClosed();
    EXPECT_EQ(held, ExtractedTree());
  }
}

// A customer tries again once the first run's setup program has ended
// without the device (cancelled, or the modem not plugged in yet), while
// the first run's watch still waits: the retry removes that tree, unpacks
// its own and starts it, without a word. While the first setup still runs
// it is told so instead, and nothing is touched. At the device each watch
// ends; the first leaves the tree it did not make (the retry's setup still
// runs from it), the retry removes its own.
TEST_F(ExtractDirectoryClaim, ARetryWorksOnceTheEarlierSetupHasEndedAndEachWatchEnds) {
  CreateInstallerWindow();
  gInstallerWindow.SetupNowClicked();
  ASSERT_EQ(1u, Launches());
  EXPECT_FALSE(drive.os().HoldsInstallLock());  // the first watch holds nothing
  const InstallerState first = gInstallerState;
  const std::vector<std::string> firstTree = ExtractedTree();

  auto pressSetupNow = [&]() {  // a new installer, started beside data.sec
    ResetInstaller();
    toolkit.terminateRequested = false;
    toolkit.timerEnabled = false;
    toolkit.messages.clear();
    drive.os().ClearLog();
    StartIn("package");
    CreateInstallerWindow();
    gInstallerWindow.SetupNowClicked();
  };
  drive.os().busy = {"c:\\ZUV_tmp\\Setup.exe"};  // the first setup still runs
  pressSetupNow();
  ExpectToldAndEnded("c:\\ZUV_tmp is in use by a setup program that is still running. Finish it, "
                     "then start the installer again.");
  EXPECT_EQ(firstTree, ExtractedTree());

  drive.os().busy.clear();  // it has ended
  drive.WriteFile("package/data.sec", testing_support::EncodeArchive({}, {{"Setup.exe", "MZ retry"}}));
  pressSetupNow();
  EXPECT_TRUE(toolkit.messages.empty());
  EXPECT_EQ(1u, Launches());
  EXPECT_EQ(std::vector<std::string>{"Setup.exe=8"}, ExtractedTree());
  const InstallerState retry = gInstallerState;

  drive.os().busy = {"c:\\ZUV_tmp\\Setup.exe"};  // the retry's setup still runs
  drive.os().devices.insert("\\\\.\\ADSLUSB");
  gInstallerState = first;
  gInstallerWindow.PollDevice();
  EXPECT_EQ(std::vector<std::string>{"Setup.exe=8"}, ExtractedTree());
  gInstallerState = retry;
  gInstallerWindow.PollDevice();
  EXPECT_FALSE(fs::exists(ExtractDirectory()));
  EXPECT_FALSE(drive.os().HoldsInstallLock());
}

// A tree someone else could put there but not empty is not emptied with
// the installer's rights: a root that others may change, or a folder in it
// of another owner, stays with everything in it, and the user is told.
TEST_F(ExtractDirectoryClaim, AForeignTreeIsNotWalkedAndNothingInItIsDeleted) {
  fs::create_directories(ExtractDirectory() + "/protected");
  std::ofstream(ExtractDirectory() + "/protected/keep.txt") << "not yours";
  std::ofstream(ExtractDirectory() + "/top.txt") << "moved in";
  for (const bool rootOpen : {true, false}) {
    SCOPED_TRACE(rootOpen ? "others may change the root" : "a folder of another owner");
    ResetInstaller();
    toolkit.terminateRequested = false;
    toolkit.messages.clear();
    drive.os().directoryInfo = [&](const std::string& path, platform::DirectoryInfo* info) {
      const bool root = path.find("protected") == std::string::npos;
      info->othersMayChange = root && rootOpen;
      info->ownerKind = root ? platform::OwnerKind::kOther : platform::OwnerKind::kAdministrators;
      info->owner[0] = root ? 'u' : 'a';
    };
    CreateInstallerWindow();
    gInstallerWindow.SetupNowClicked();
    ExpectToldAndEnded("c:\\ZUV_tmp holds files that cannot be removed. Remove the folder, then "
                       "start the installer again.");
    EXPECT_TRUE(fs::exists(ExtractDirectory() + "/protected/keep.txt"));
    EXPECT_EQ(rootOpen, fs::exists(ExtractDirectory() + "/top.txt"));
    EXPECT_EQ(0u, Launches());
  }
  drive.os().directoryInfo = nullptr;

  // Nor one whose root the in-use probe cannot tell about.
  ResetInstaller();
  toolkit.terminateRequested = false;
  toolkit.messages.clear();
  drive.os().ClearLog();
  drive.os().FailCall(Op::kInUse, 1);
  const std::vector<std::string> before = ExtractedTree();
  CreateInstallerWindow();
  gInstallerWindow.SetupNowClicked();
  ExpectToldAndEnded("c:\\ZUV_tmp holds files that cannot be removed. Remove the folder, then "
                     "start the installer again.");
  EXPECT_EQ(before, ExtractedTree());
}

// What is unpacked is what was checked, whatever a second read of
// "data.sec" would give: here the file is replaced by another package right
// after the installer first read it.
TEST_F(ExtractDirectoryClaim, TheCheckedPackageIsReadOnce) {
  const std::string checked =
      testing_support::EncodeArchive({"drivers"}, {{"Setup.exe", "MZ setup"}, {"drivers\\modem.inf", "[Version]"}});
  const std::string digest = testing_support::Sha256Of(checked);
  CreateInstallerWindow();
  gInstallerState.packageDigest = reinterpret_cast<const unsigned char*>(digest.data());
  bool swapped = false;
  drive.os().betweenCalls = [&](uint64_t) {
    const auto& calls = drive.os().Calls();
    if (swapped || calls.empty() || calls.back().op != Op::kDigestCopy) return;
    drive.WriteFile("package/data.sec", testing_support::EncodeArchive({}, {{"Setup.exe", "MZ other one"}}));
    swapped = true;
  };
  gInstallerWindow.SetupNowClicked();
  drive.os().betweenCalls = nullptr;
  EXPECT_TRUE(swapped);
  EXPECT_EQ(1u, drive.os().CallsOf(Op::kOpenRead).size());  // "data.sec", once
  EXPECT_TRUE(toolkit.messages.empty());
  EXPECT_EQ(1u, Launches());
  EXPECT_EQ(kPackageTree, ExtractedTree());
}

// An installer that unpacked nothing holds nothing: a later run with the
// archive is not kept waiting, and while another installer is at work the
// end of the watch leaves its package alone.
TEST_F(ExtractDirectoryClaim, AWatchWithoutAPackageNeitherBlocksNorCleansUpAnother) {
  StartIn("empty");
  CreateInstallerWindow();
  gInstallerWindow.SetupNowClicked();
  EXPECT_FALSE(drive.os().HoldsInstallLock());
  EXPECT_TRUE(toolkit.timerEnabled);

  fs::create_directories(ExtractDirectory());
  std::ofstream(ExtractDirectory() + "/Setup.exe") << "another installer's";
  drive.os().otherInstallerHoldsLock = true;
  drive.os().devices.insert("\\\\.\\ADSLUSB");
  ASSERT_TRUE(toolkit.Tick());
  EXPECT_TRUE(toolkit.terminateRequested);
  EXPECT_EQ(std::vector<std::string>{"Setup.exe=19"}, ExtractedTree());
}

// A kit unpacked into "c:\ZUV_tmp", or a folder below it, and started
// there: "Setup Now" would remove the start directory, "data.sec" with it.
// It says so and ends; closing the window removes nothing either. The
// start directory as recorded (in whatever case the user typed it), or the
// current one where it was too long to record.
TEST_F(ExtractDirectoryClaim, StartedInsideItNothingThereIsRemoved) {
  const std::string message =
      "The installer cannot run from c:\\ZUV_tmp. Copy it and data.sec to another folder, then "
      "start it again.";
  const std::string deep = "Kit/" + std::string(130, 'd');
  fs::create_directories(ExtractDirectory() + "/" + deep);
  for (const char* where : {"", "Kit"}) {
    std::ofstream(ExtractDirectory() + "/" + where + "/data.sec") << "the user's kit";
  }
  const std::vector<std::string> kit = ExtractedTree();
  const struct {
    std::string start;         // below "c:\ZUV_tmp"
    const char* recordedAs;    // nullptr: as the system gave it
  } cases[] = {{"", nullptr}, {"Kit", nullptr}, {"Kit", "C:\\zuv_TMP\\kit"}, {deep, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.start + (c.recordedAs != nullptr ? " as " + std::string(c.recordedAs) : ""));
    ResetInstaller();
    toolkit.terminateRequested = false;
    toolkit.messages.clear();
    fs::current_path(ExtractDirectory() + "/" + c.start);
    CreateInstallerWindow();
    EXPECT_EQ(c.start == deep, gInstallerState.startDirectory[0] == '\0');
    if (c.recordedAs != nullptr) strcpy(gInstallerState.startDirectory, c.recordedAs);
    const InstallerState state = gInstallerState;

    gInstallerWindow.SetupNowClicked();

    ExpectToldAndEnded(message);
    EXPECT_EQ(0u, Launches());
    EXPECT_EQ(kit, ExtractedTree());
    gInstallerState = state;
    gInstallerWindow.WindowClosed();
    EXPECT_EQ(kit, ExtractedTree());
  }
  EXPECT_EQ(outsideBefore, drive.Tree("outside"));

  // A folder whose name merely begins the same is not inside.
  const std::string lookAlike = ExtractDirectory() + "2";
  testing_support::ForceRemoveTree(lookAlike);
  fs::create_directories(lookAlike);
  fs::copy_file(drive.Native("package/data.sec"), lookAlike + "/data.sec");
  ResetInstaller();
  toolkit.messages.clear();
  drive.os().ClearLog();
  fs::current_path(lookAlike);
  CreateInstallerWindow();
  testing_support::ForceRemoveTree(ExtractDirectory());
  gInstallerWindow.SetupNowClicked();
  EXPECT_TRUE(toolkit.messages.empty());
  EXPECT_EQ(1u, Launches());
  fs::current_path(drive.Native(""));
  testing_support::ForceRemoveTree(lookAlike);
}

// A refused archive has entered "c:\ZUV_tmp" (its names are made there)
// before it is refused. Windows removes no directory that is a process's
// current one, so the sequence goes back to the start directory (or "c:\"
// without one) first: what was unpacked goes, and with it the claim.
TEST_F(ExtractDirectoryClaim, ARefusedArchiveLeavesNeitherTheDirectoryNorTheClaim) {
  drive.os().currentDirectoryStays = true;
  const std::string longStart(130, 'l');
  const struct {
    std::string start;
    std::string leftFor;
  } cases[] = {{"package", drive.Path("package")}, {longStart, "c:\\"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.start.substr(0, 8));
    ResetInstaller();
    StartIn(c.start);
    drive.WriteFile(c.start + "/data.sec", testing_support::EncodeArchive({"..\\up"}, {}));
    CreateInstallerWindow();

    gInstallerWindow.SetupNowClicked();

    EXPECT_FALSE(fs::exists(ExtractDirectory()));
    EXPECT_FALSE(drive.os().HoldsInstallLock());
    EXPECT_EQ(0u, Launches());
    EXPECT_TRUE(strcasecmp(c.leftFor.c_str(), drive.CurrentDirectory().c_str()) == 0)
        << drive.CurrentDirectory();
  }
}

}  // namespace
