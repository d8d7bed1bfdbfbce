// The driver watch: PollDevice's probe on every tick, and the end of the
// run once the device opens. On the headless toolkit, with devices
// simulated by the recording OS; ProbeDevice also on the real backends.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/InstallerMain.h"
#include "app/ProbeDevice.h"
#include "app/FixedNames.h"
#include "tests/support/ArchiveBytes.h"
#include "tests/support/InstallerTest.h"

using platform::Op;

namespace {

void MakeUnpackedPackage(const std::string& root) {
  std::filesystem::create_directories(root + "/drivers");
  for (const char* file : {"/Setup.exe", "/drivers/modem.sys"}) std::ofstream(root + file) << "x";
}

// The clean-up's changes to the file system, in the toolkit's timeline.
const std::vector<Op> kWatchOps = {Op::kOpenDevice, Op::kRemoveFileAt, Op::kRemoveEmptyDirectoryAt,
                                   Op::kRemoveEmptyDirectory};

class DriverWatch : public InstallerTest {
 protected:
  // The window created, "Setup Now" clicked (without an archive): the
  // timer is armed. What the setup program leaves in "c:\ZUV_tmp" is made
  // after.
  void Arm() {
    CreateInstallerWindow();
    gInstallerWindow.SetupNowClicked();
    ASSERT_TRUE(toolkit.timerEnabled);
    toolkit.events.clear();
    toolkit.messages.clear();  // the not-found message: there is no archive
    drive.os().ClearLog();
  }
};

TEST_F(DriverWatch, WithoutTheDeviceATickOnlyProbesAndTheNextTickProbesAgain) {
  Arm();
  MakeUnpackedPackage(ExtractDirectory());

  EXPECT_TRUE(toolkit.Tick());
  EXPECT_TRUE(toolkit.Tick());

  EXPECT_EQ((std::vector<std::string>{"OpenDevice \\\\.\\ADSLUSB", "OpenDevice \\\\.\\ADSLUSB"}),
            Timeline(kWatchOps));
  EXPECT_EQ(2u, drive.os().CallCount());  // the probes and nothing else
  EXPECT_TRUE(toolkit.events.empty());
  EXPECT_TRUE(toolkit.timerEnabled);
  EXPECT_FALSE(toolkit.terminateRequested);
  EXPECT_EQ((std::vector<std::string>{"Setup.exe=1", "drivers", "drivers\\modem.sys=1"}),
            ExtractedTree());
}

// The timer goes off before the clean-up starts, so no tick can come while
// it runs; terminating comes last.
TEST_F(DriverWatch, DeviceStopsTheTimerThenRemovesTheTreeThenTerminates) {
  Arm();
  MakeUnpackedPackage(ExtractDirectory());
  drive.os().devices.insert(kDeviceName);

  EXPECT_TRUE(toolkit.Tick());

  std::vector<std::string> timeline = Timeline(kWatchOps);
  ASSERT_EQ(7u, timeline.size());
  EXPECT_EQ("OpenDevice \\\\.\\ADSLUSB", timeline[0]);
  EXPECT_EQ("Timer off", timeline[1]);
  EXPECT_EQ("RemoveEmptyDirectory c:\\ZUV_tmp", timeline[5]);
  EXPECT_EQ("Terminate", timeline[6]);
  // In between the tree's contents, in the order the directory lists them.
  std::sort(timeline.begin() + 2, timeline.begin() + 5);
  EXPECT_EQ((std::vector<std::string>{"RemoveEmptyDirectoryAt drivers", "RemoveFileAt Setup.exe",
                                      "RemoveFileAt modem.sys"}),
            std::vector<std::string>(timeline.begin() + 2, timeline.begin() + 5));
  EXPECT_FALSE(std::filesystem::exists(ExtractDirectory()));
  EXPECT_EQ("c:\\", drive.CurrentDirectory().substr(0, 3));
  EXPECT_FALSE(toolkit.Tick());  // nothing more once the timer is off
  EXPECT_TRUE(toolkit.messages.empty());
}

TEST_F(DriverWatch, DeviceThatAppearsBetweenTicksIsSeenOnTheNextTick) {
  Arm();
  EXPECT_TRUE(toolkit.Tick());
  EXPECT_FALSE(toolkit.terminateRequested);
  drive.os().devices.insert(kDeviceName);
  EXPECT_TRUE(toolkit.Tick());
  EXPECT_TRUE(toolkit.terminateRequested);
  EXPECT_EQ(2u, drive.os().CallsOf(Op::kOpenDevice).size());
}

// The whole run through the entry: click, ticks until the device opens,
// then the loop ends by terminate, without the close handler.
TEST_F(DriverWatch, RunEndsThroughTheWatchWithExitCode0AndWithoutTheCloseHandler) {
  StartIn("package");
  drive.WriteFile("package/data.sec",
                  testing_support::EncodeArchive({"drivers"},
                                                 {{"Setup.exe", "MZ"}, {"drivers\\a.sys", "A"}}));
  int ticks = 0;
  toolkit.whileRunning = [&](platform::HeadlessToolkit& tk) {
    ASSERT_TRUE(tk.Click(kSetupNowButton));
    while (tk.Tick()) {
      if (++ticks == 3) drive.os().devices.insert(kDeviceName);
      ASSERT_LT(ticks, 10);
    }
  };

  EXPECT_EQ(0, InstallerMain());

  EXPECT_EQ(4, ticks);  // the fourth tick after arming saw the device
  const std::vector<std::string> what = toolkit.What();
  EXPECT_EQ("Loop ended by terminate", what.back());
  EXPECT_EQ(0, std::count(what.begin(), what.end(), "Closed"));
  EXPECT_FALSE(toolkit.closed);
  EXPECT_FALSE(toolkit.timerEnabled);
  EXPECT_FALSE(std::filesystem::exists(ExtractDirectory()));
  EXPECT_EQ(1u, drive.os().CallsOf(Op::kLaunch).size());
}

// What cannot be removed stays, unreported, and the run ends anyway.
TEST_F(DriverWatch, CleanUpFailureIsNotReportedAndTheRunStillEnds) {
  Arm();
  MakeUnpackedPackage(ExtractDirectory());
  drive.os().FailEvery(Op::kRemoveFileAt);
  drive.os().devices.insert(kDeviceName);

  EXPECT_TRUE(toolkit.Tick());

  EXPECT_TRUE(toolkit.terminateRequested);
  EXPECT_FALSE(toolkit.timerEnabled);
  EXPECT_TRUE(std::filesystem::exists(ExtractDirectory() + "/Setup.exe"));
  EXPECT_TRUE(toolkit.messages.empty());
  EXPECT_TRUE(toolkit.exceptionBoxes.empty());
}

// ProbeDevice on the real backend: the modem's device, which does not
// exist, then one that does (natively the modem's, made as
// "<drive>/dev/ADSLUSB"; on Windows NUL), and names that are no devices.
TEST_F(DriverWatch, ProbeDeviceOnTheRealBackend) {
  platform::Os* recording = platform::SetOs(&drive.backend());
  EXPECT_EQ(0, ProbeDevice(kDeviceName));
  const std::string present = drive.host().PresentDevice();
  EXPECT_EQ(1, ProbeDevice(present.c_str()));
  EXPECT_EQ(1, ProbeDevice(present.c_str()));  // the first probe kept no handle
  EXPECT_EQ(0, ProbeDevice("\\\\.\\"));
  EXPECT_EQ(0, ProbeDevice("ADSLUSB"));
  platform::SetOs(recording);
}

}  // namespace
