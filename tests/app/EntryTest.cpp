// The process entry and the window's creation, on the headless toolkit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/InstallerMain.h"
#include "tests/support/InstallerTest.h"

namespace {

using Entry = InstallerTest;

TEST_F(Entry, CreatesTheWindowRecordsTheStartDirectoryShowsItAndEndsWhenItIsClosed) {
  StartIn("downloads");
  toolkit.whileRunning = [](platform::HeadlessToolkit& tk) { EXPECT_TRUE(tk.Close()); };

  EXPECT_EQ(0, InstallerMain());

  // The start directory is recorded at creation, before the window is shown.
  EXPECT_EQ((std::vector<std::string>{"Initialize", "CreateForm",
                                      "CurrentDirectory", "Show normal", "Closed",
                                      "Loop ended by close"}),
            Timeline({platform::Op::kCurrentDirectory}));
  EXPECT_EQ(drive.Path("downloads"), gInstallerState.startDirectory);
  ASSERT_NE(nullptr, toolkit.form);
  // The class other programs find the window by.
  EXPECT_STREQ("TForm1", toolkit.form->className);
  EXPECT_FALSE(toolkit.timerEnabled);
}

TEST_F(Entry, WindowThatCannotBeCreatedIsReportedAndTheEntryReturns0) {
  toolkit.failCreate = true;
  EXPECT_EQ(0, InstallerMain());
  ASSERT_EQ(1u, toolkit.exceptionBoxes.size());
  EXPECT_EQ("Cannot create the installer window.", toolkit.exceptionBoxes[0].text);
  EXPECT_EQ((std::vector<std::string>{"Initialize", "CreateForm",
                                      "Exception: Cannot create the installer window."}),
            toolkit.What());
}

}  // namespace
