// The process entry and Form1's creation, on the headless toolkit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/InstallerMain.h"
#include "tests/app/InstallerTestSupport.h"

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
  EXPECT_STREQ("TForm1", toolkit.form->className);
  EXPECT_FALSE(toolkit.timerEnabled);
}

TEST_F(Entry, ShowsTheWindowByTheStartShowState) {
  const std::pair<int, const char*> cases[] = {
      {1, "Show normal"}, {3, "Show maximized"}, {7, "Show minimized"},
      {2, "Show normal"}, {6, "Show normal"},    {0, "Show normal"}};
  for (const auto& [state, shown] : cases) {
    SCOPED_TRACE(state);
    platform::HeadlessToolkit headless;
    headless.startShowState = state;
    headless.whileRunning = [](platform::HeadlessToolkit& tk) { tk.Close(); };
    platform::Toolkit* previous = platform::SetToolkit(&headless);
    EXPECT_EQ(0, InstallerMain());
    platform::SetToolkit(previous);
    const std::vector<std::string> events = headless.What();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(shown, events[2]);
  }
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

TEST_F(Entry, TerminateEndsTheLoop) {
  toolkit.whileRunning = [](platform::HeadlessToolkit& tk) {
    tk.Terminate();
    EXPECT_FALSE(tk.Close());  // the loop has ended: no close handler
  };
  EXPECT_EQ(0, InstallerMain());
  EXPECT_FALSE(toolkit.closed);
}

}  // namespace
