// The window's creation and close handlers: the start directory, the line
// monitor started last, and the clean-up when the window is closed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/InstallerMain.h"
#include "linemon/LineMonitor.h"
#include "platform/testing/ScriptedTelephony.h"
#include "tests/support/ArchiveBytes.h"
#include "tests/support/InstallerTest.h"

namespace {

using WindowHandlers = InstallerTest;

void MakeLeftover(const std::string& root) {
  std::filesystem::create_directories(root + "/drivers/inf");
  for (const char* file : {"/Setup.exe", "/drivers/modem.sys", "/drivers/inf/modem.inf"}) {
    std::ofstream(root + file) << "left by an earlier run";
  }
}

TEST_F(WindowHandlers, CreationRecordsTheStartDirectoryAndOpensTheDataLine) {
  platform::ScriptedTelephony telephony;
  telephony.devices = {{platform::kBearerModeVoice, 400}, {platform::kBearerModeData, 400}};
  platform::Telephony* previous = platform::SetTelephony(&telephony);
  StartIn("package");

  CreateInstallerWindow();

  EXPECT_EQ(drive.Path("package"), gInstallerState.startDirectory);
  ASSERT_FALSE(telephony.Calls().empty());
  EXPECT_EQ("RMO CPL Icon", telephony.Calls().front().appName);
  EXPECT_EQ(1u, gInstallerState.lineMonitor.deviceId);
  EXPECT_EQ(1u, telephony.CallsOf(platform::TelOp::kLineOpen).size());
  platform::SetTelephony(previous);
}

// Without a telephony service (every call fails, as on a system without
// one), or with one that has no line devices at all, the window comes up
// and "Setup Now" works.
TEST(WindowHandlersProgram, WithoutTelephonyOrLinesTheWindowComesUpAndWorks) {
  platform::ScriptedTelephony noLines;  // registers, with zero devices
  for (platform::Telephony* telephony : {static_cast<platform::Telephony*>(nullptr),
                                         static_cast<platform::Telephony*>(&noLines)}) {
    SCOPED_TRACE(telephony == nullptr ? "no service" : "no lines");
    InstallerHarness program;
    platform::Telephony* previous =
        telephony != nullptr ? platform::SetTelephony(telephony) : nullptr;
    program.StartIn("package");
    program.drive.WriteFile("package/data.sec", testing_support::EncodeArchive({}, {{"Setup.exe", "MZ"}}));
    program.toolkit.whileRunning = [](platform::HeadlessToolkit& window) {
      EXPECT_TRUE(window.Click(kSetupNowButton));
      window.Terminate();
    };

    EXPECT_EQ(0, InstallerMain());

    if (telephony != nullptr) {
      EXPECT_EQ(1u, noLines.CallsOf(platform::TelOp::kLineInitialize).size());
      EXPECT_TRUE(noLines.CallsOf(platform::TelOp::kLineOpen).empty());
      platform::SetTelephony(previous);
    }
    EXPECT_EQ(telephony == nullptr ? 0u : kNoLine, gInstallerState.lineMonitor.deviceId);
    EXPECT_EQ(program.drive.Path("package"), gInstallerState.startDirectory);
    const std::vector<std::string> what = program.toolkit.What();
    EXPECT_NE(what.end(), std::find(what.begin(), what.end(), "Show normal"));
    EXPECT_EQ(1u, program.drive.os().CallsOf(platform::Op::kLaunch).size());
  }
}

TEST_F(WindowHandlers, ClosingTheWindowRemovesWhatAnEarlierRunLeft) {
  MakeLeftover(ExtractDirectory());
  StartIn("package");
  toolkit.whileRunning = [](platform::HeadlessToolkit& window) { window.Close(); };

  EXPECT_EQ(0, InstallerMain());

  EXPECT_FALSE(std::filesystem::exists(ExtractDirectory()));
  EXPECT_EQ("c:\\", drive.CurrentDirectory().substr(0, 3));
  EXPECT_EQ(0u, drive.os().CallsOf(platform::Op::kLaunch).size());
}

TEST_F(WindowHandlers, ClosingWithNothingLeftChangesNothingButTheCurrentDirectory) {
  StartIn("package");
  toolkit.whileRunning = [](platform::HeadlessToolkit& window) { window.Close(); };
  EXPECT_EQ(0, InstallerMain());
  EXPECT_TRUE(toolkit.closed);
  EXPECT_FALSE(std::filesystem::exists(ExtractDirectory()));
  EXPECT_TRUE(toolkit.messages.empty());
  EXPECT_TRUE(drive.os().Output().empty());
}

}  // namespace
