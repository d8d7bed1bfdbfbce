// The toolkit's portable rules: the exception display's text, the start
// show state and the application title's name part.
#include <gtest/gtest.h>

#include <string>

#include "platform/Title.h"
#include "platform/Toolkit.h"
#include "platform/testing/HeadlessToolkit.h"

namespace {

std::string Exception(const std::string& message, size_t size = 256) {
  std::string text(size, '#');
  platform::ExceptionText(message.c_str(), text.data(), size);
  return text.c_str();
}

TEST(ExceptionText, FullStopFollowsALastByteAboveTheFullStop) {
  EXPECT_EQ("Not enough timers available.", Exception("Not enough timers available"));
  EXPECT_EQ("", Exception(""));
  EXPECT_EQ("Done.", Exception("Done."));
  EXPECT_EQ("Stop!", Exception("Stop!"));      // '!' is below '.'
  EXPECT_EQ("a-", Exception("a-"));            // 0x2D
  EXPECT_EQ("a/.", Exception("a/"));           // 0x2F
  EXPECT_EQ("Why?.", Exception("Why?"));       // '?' is above '.'
  EXPECT_EQ("caf\xE9.", Exception("caf\xE9"));  // compared as a byte, not a signed char
}

TEST(ExceptionText, LongMessageIsCutToTheBufferWithoutAFullStop) {
  EXPECT_EQ("abcd", Exception("abcdef", 5));
  EXPECT_EQ("abcd", Exception("abcd", 5));  // no room left for the full stop
  EXPECT_EQ("abcd.", Exception("abcd", 6));
  EXPECT_EQ("", Exception("abc", 1));
}

TEST(ShowCommandFor, EachStartShowStateGivesTheWindowAUserSees) {
  using platform::ShowCommand;
  const struct {
    int state;
    ShowCommand seen;
  } cases[] = {
      {3, ShowCommand::kMaximized},  // SW_SHOWMAXIMIZED
      {7, ShowCommand::kMinimized},  // SW_SHOWMINNOACTIVE
      {1, ShowCommand::kNormal},     // SW_SHOWNORMAL, and a plain start
      {2, ShowCommand::kNormal},     // SW_SHOWMINIMIZED: opens normally all the same
      {6, ShowCommand::kNormal},     // SW_MINIMIZE
      {0, ShowCommand::kNormal},     // SW_HIDE: the window is still shown
      {4, ShowCommand::kNormal},     // SW_SHOWNOACTIVATE
      {8, ShowCommand::kNormal},     // SW_SHOWNA
      {11, ShowCommand::kNormal},    // SW_FORCEMINIMIZE
      {-1, ShowCommand::kNormal},    // no show state a launcher could give
  };
  for (const auto& c : cases) {
    EXPECT_EQ(static_cast<int>(c.seen), static_cast<int>(platform::ShowCommandFor(c.state))) << c.state;
  }
}

std::string Title(const char* fileName, size_t size = 64) {
  char title[64];
  platform::TitleFromFileName(fileName, title, size);
  return title;
}

// The whole rule: the system's mapping gets the title from its second
// character on. The headless toolkit derives its title by the same rule.
TEST(ApplicationTitleOf, TheFirstCharacterStaysAndTheMappingGetsTheRest) {
  char title[64];
  std::string mapped;
  static std::string* seen;
  seen = &mapped;
  platform::ApplicationTitleOf("D:\\KIT\\INSTALL.EXE", title, sizeof title, [](char* text) {
    *seen += text;
    for (; *text != '\0'; ++text) *text = static_cast<char>(*text + ('a' - 'A'));
  });
  EXPECT_STREQ("Install", title);
  EXPECT_EQ("NSTALL", mapped);
  platform::ApplicationTitleOf("c:\\x\\A.EXE", title, sizeof title, [](char*) { FAIL(); });
  EXPECT_STREQ("A", title);

  platform::HeadlessToolkit toolkit;
  toolkit.programFile = "C:\\Users\\me\\SETUP.TOOL.EXE";
  EXPECT_EQ("Setup", toolkit.Title());
}

TEST(TitleFromFileName, FileNameWithoutDirectoryCutAtTheFirstDot) {
  EXPECT_EQ("INSTALL", Title("C:\\Users\\me\\Downloads\\INSTALL.EXE"));
  EXPECT_EQ("setup", Title("c:\\dir.with.dots\\setup.tar.exe"));
  EXPECT_EQ("noext", Title("d:/x/noext"));
  EXPECT_EQ("file", Title("c:file.exe"));
  EXPECT_EQ("", Title("c:\\x\\.hidden"));
  EXPECT_EQ("Ins", Title("c:\\Install.exe", 4));
}

}  // namespace
