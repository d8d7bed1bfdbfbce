// The real window, in-process on the Win32 toolkit (Wine's null graphics
// driver is enough): its geometry, controls, fonts, styles and behaviour,
// read back with Win32 calls. The OS backend stays the recording one, so a
// click neither sleeps nor launches anything.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/InstallerMain.h"
#include "platform/win32/Win32Os.h"
#include "platform/win32/Win32Toolkit.h"
#include "tests/support/InstallerTest.h"
#include "tests/support/Win32Windows.h"

namespace {

using testing_support::ClassOf;

// A top-level window of this process by class: other programs of the
// prefix (an Install.exe of another test) have windows of the same class.
HWND OwnWindow(const char* windowClass) {
  return testing_support::TopLevelWindow(windowClass, nullptr, [](HWND window) {
    return testing_support::ProcessOf(window) == GetCurrentProcessId();
  });
}

RECT ClientRect(HWND control) {  // in the parent's client coordinates
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

LOGFONTA FontOf(HWND control) {
  LOGFONTA font = {};
  HFONT handle = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
  EXPECT_NE(nullptr, handle);
  GetObjectA(handle, sizeof font, &font);
  return font;
}

// The title the toolkit must derive from this test program's file name,
// app_window_tests.exe: cut at the first dot, all but the first character
// in lower case.
const char kTitle[] = "app_window_tests";

// Watches this thread's message boxes: records the first one and closes it
// with OK after a moment, checking then whether it is in the foreground.
struct BoxWatch {
  static BoxWatch* current;
  HHOOK hook = nullptr;
  bool seen = false;
  std::string caption, text;
  bool foreground = false, icon = false, ownerHidden = false;
  HWND box = nullptr;

  BoxWatch() {
    current = this;
    hook = SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId());
  }
  ~BoxWatch() {
    UnhookWindowsHookEx(hook);
    current = nullptr;
  }
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
    HWND window = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_ACTIVATE && current != nullptr && !current->seen && ClassOf(window) == "#32770") {
      // Read once it is set up, from inside its own loop.
      current->seen = true;
      current->box = window;
      SetTimer(nullptr, 0, 150, Check);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  static void CALLBACK Check(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    BoxWatch& watch = *current;
    watch.caption = testing_support::WindowText(watch.box);
    char text[256] = "";
    GetDlgItemTextA(watch.box, 0xFFFF, text, sizeof text);
    watch.text = text;
    watch.foreground = GetForegroundWindow() == watch.box;
    for (HWND child = GetWindow(watch.box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
      if (ClassOf(child) == "Static" && IsWindowVisible(child) &&
          SendMessageA(child, STM_GETICON, 0, 0) != 0) {
        watch.icon = true;
      }
    }
    HWND form = OwnWindow("TForm1");
    watch.ownerHidden = form == nullptr || !IsWindowVisible(form);
    PostMessageA(watch.box, WM_COMMAND, IDOK, 0);
  }
};
BoxWatch* BoxWatch::current = nullptr;

// Runs the installer on the Win32 toolkit. inspect runs inside its message
// loop once the window is up; afterwards the window is closed, unless
// inspect has taken care of ending the run.
class RealWindow : public InstallerTest {
 protected:
  RealWindow() { previous_ = platform::SetToolkit(&platform::TheWin32Toolkit()); }
  ~RealWindow() override { platform::SetToolkit(previous_); }

  void Run(std::function<void()> inspect) {
    inspect_ = std::move(inspect);
    current_ = this;
    SetTimer(nullptr, 0, 100, Inspect);
    const UINT_PTR watchdog = SetTimer(nullptr, 0, 20000, Watchdog);
    EXPECT_EQ(0, InstallerMain());
    KillTimer(nullptr, watchdog);
    EXPECT_FALSE(IsWindow(form)) << "the window outlived the loop";
    EXPECT_FALSE(IsWindow(taskBar));
  }

  HWND Control(const char* windowClass, const char* text) const {
    return FindWindowExA(form, nullptr, windowClass, text);
  }

  // The three controls; false, with a failure, when one is missing.
  struct Controls {
    HWND bevel = nullptr, label = nullptr, button = nullptr;
  };
  bool FindControls(Controls* controls) const {
    for (HWND child = GetWindow(form, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
      if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ETCHEDFRAME) controls->bevel = child;
    }
    controls->label = Control("Static", "USB ADSL Modem Installer");
    controls->button = Control("Button", "Setup Now");
    EXPECT_NE(nullptr, controls->bevel);
    EXPECT_NE(nullptr, controls->label);
    EXPECT_NE(nullptr, controls->button);
    return controls->bevel != nullptr && controls->label != nullptr && controls->button != nullptr;
  }

  HWND form = nullptr;
  HWND taskBar = nullptr;

 private:
  static void CALLBACK Inspect(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    RealWindow& self = *current_;
    self.form = OwnWindow("TForm1");
    self.taskBar = OwnWindow(platform::kTaskBarWindowClass);
    EXPECT_NE(nullptr, self.form);
    EXPECT_NE(nullptr, self.taskBar);
    if (self.form != nullptr && self.taskBar != nullptr) self.inspect_();
    if (IsWindow(self.form) && IsWindowVisible(self.form)) PostMessageA(self.form, WM_CLOSE, 0, 0);
  }
  static void CALLBACK Watchdog(HWND, UINT, UINT_PTR, DWORD) {
    ADD_FAILURE() << "the run did not end";
    PostQuitMessage(0);
  }

  static RealWindow* current_;
  std::function<void()> inspect_;
  platform::Toolkit* previous_;
};
RealWindow* RealWindow::current_ = nullptr;

TEST_F(RealWindow, WindowHasItsOuterSizeCaptionFrameAndBackgroundCentredOnTheScreen) {
  HDC screen = GetDC(nullptr);
  ASSERT_EQ(96, GetDeviceCaps(screen, LOGPIXELSY)) << "the sizes below are for 96 DPI";
  ReleaseDC(nullptr, screen);
  Run([&] {
    RECT rect;
    GetWindowRect(form, &rect);
    EXPECT_EQ(320, rect.right - rect.left);
    EXPECT_EQ(215, rect.bottom - rect.top);
    EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - 320) / 2, rect.left);
    EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - 215) / 2, rect.top);
    EXPECT_EQ("USB ADSL Modem Installer", testing_support::WindowText(form));
    const LONG style = GetWindowLongA(form, GWL_STYLE);
    for (LONG bit : {WS_CAPTION, WS_SYSMENU, WS_THICKFRAME, WS_MINIMIZEBOX, WS_MAXIMIZEBOX, WS_VISIBLE}) {
      EXPECT_EQ(bit, style & bit) << std::hex << bit;
    }
    EXPECT_FALSE(IsZoomed(form));
    EXPECT_EQ(COLOR_BTNFACE + 1, static_cast<int>(GetClassLongPtrA(form, GCLP_HBRBACKGROUND)));
  });
}

TEST_F(RealWindow, TaskBarEntryCarriesTheApplicationTitleAndOwnsTheWindow) {
  Run([&] {
    EXPECT_EQ(taskBar, GetWindow(form, GW_OWNER));  // so the window has no entry of its own
    EXPECT_EQ(nullptr, GetWindow(taskBar, GW_OWNER));
    EXPECT_TRUE(IsWindowVisible(taskBar));
    EXPECT_EQ(0, GetWindowLongA(taskBar, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    EXPECT_EQ(std::string(kTitle), testing_support::WindowText(taskBar));
  });
}

TEST_F(RealWindow, ControlsHaveTheirPlacesCaptionsStylesAndFonts) {
  Run([&] {
    Controls controls;
    if (!FindControls(&controls)) return;
    const auto [bevel, label, button] = controls;

    const RECT bevelRect = ClientRect(bevel);
    EXPECT_EQ((std::vector<LONG>{56, 17, 201, 33}),
              (std::vector<LONG>{bevelRect.left, bevelRect.top, bevelRect.right - bevelRect.left,
                                 bevelRect.bottom - bevelRect.top}));
    const RECT buttonRect = ClientRect(button);
    EXPECT_EQ((std::vector<LONG>{64, 129, 75, 25}),
              (std::vector<LONG>{buttonRect.left, buttonRect.top, buttonRect.right - buttonRect.left,
                                 buttonRect.bottom - buttonRect.top}));

    // The label is sized to its text in its own font.
    const RECT labelRect = ClientRect(label);
    EXPECT_EQ(63, labelRect.left);
    EXPECT_EQ(26, labelRect.top);
    HDC dc = GetDC(label);
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0)));
    SIZE extent;
    GetTextExtentPoint32A(dc, "USB ADSL Modem Installer", 24, &extent);
    SelectObject(dc, previous);
    ReleaseDC(label, dc);
    EXPECT_EQ(extent.cx, labelRect.right - labelRect.left);
    EXPECT_EQ(extent.cy, labelRect.bottom - labelRect.top);

    const LONG buttonStyle = GetWindowLongA(button, GWL_STYLE);
    EXPECT_EQ(BS_PUSHBUTTON, buttonStyle & BS_TYPEMASK);  // neither default nor anything else
    EXPECT_EQ(WS_TABSTOP, buttonStyle & WS_TABSTOP);
    EXPECT_EQ(0, GetWindowLongA(label, GWL_STYLE) & WS_TABSTOP);
    EXPECT_EQ(0, GetWindowLongA(bevel, GWL_STYLE) & WS_TABSTOP);
    EXPECT_EQ(SS_LEFT, GetWindowLongA(label, GWL_STYLE) & SS_TYPEMASK);

    // The faces the mapper realises: TextScalesWithTheDpi...
    const LOGFONTA windowFont = FontOf(button);
    EXPECT_EQ(-11, windowFont.lfHeight);
    EXPECT_EQ(FW_NORMAL, windowFont.lfWeight);
    EXPECT_EQ(DEFAULT_CHARSET, windowFont.lfCharSet);
    const LOGFONTA labelFont = FontOf(label);
    EXPECT_EQ(-13, labelFont.lfHeight);
    EXPECT_EQ(FW_BOLD, labelFont.lfWeight);
    EXPECT_EQ(DEFAULT_CHARSET, labelFont.lfCharSet);

    EXPECT_EQ(button, GetFocus());
  });
}

struct Realised {
  TEXTMETRICA metrics;
  std::string face;
  long characterHeight() const { return metrics.tmHeight - metrics.tmInternalLeading; }
};

Realised RealisedFontOf(HWND control) {
  Realised realised = {};
  HDC dc = GetDC(control);
  HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
  GetTextMetricsA(dc, &realised.metrics);
  char face[LF_FACESIZE] = "";
  GetTextFaceA(dc, sizeof face, face);
  realised.face = face;
  SelectObject(dc, previous);
  ReleaseDC(control, dc);
  return realised;
}

// At the system's DPI, whatever faces the prefix has: the text is as tall
// as the layout scales it, the label bold and inside the bevel's inner edge.
// tests/app/window-dpi.sh runs this at 96, 144 and 192 DPI with two face
// sets; INSTALLER_LABEL_FACE there names the face the label must keep.
TEST_F(RealWindow, TextScalesWithTheDpiAndTheBoldLabelStaysInsideTheBevel) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  Run([&] {
    Controls controls;
    if (!FindControls(&controls)) return;
    const auto [bevel, label, button] = controls;
    const Realised labelFont = RealisedFontOf(label);
    const Realised buttonFont = RealisedFontOf(button);
    EXPECT_GE(labelFont.metrics.tmWeight, FW_BOLD);
    EXPECT_NEAR(MulDiv(13, dpi, 96), labelFont.characterHeight(), 1);
    EXPECT_LT(buttonFont.metrics.tmWeight, FW_BOLD);
    EXPECT_NEAR(MulDiv(11, dpi, 96), buttonFont.characterHeight(), 1);
    const char* face = getenv("INSTALLER_LABEL_FACE");
    if (face != nullptr && *face != '\0') {
      EXPECT_EQ(face, labelFont.face);
      EXPECT_EQ(face, buttonFont.face);
    }

    RECT inner = ClientRect(bevel);
    InflateRect(&inner, -GetSystemMetrics(SM_CXEDGE), -GetSystemMetrics(SM_CYEDGE));
    const RECT text = ClientRect(label);
    EXPECT_TRUE(text.left >= inner.left && text.top >= inner.top && text.right <= inner.right &&
                text.bottom <= inner.bottom)
        << "label " << text.left << "," << text.top << "-" << text.right << "," << text.bottom
        << " inner edge " << inner.left << "," << inner.top << "-" << inner.right << "," << inner.bottom;
    printf("dpi %d: label \"%s\" weight %ld character height %ld, %ldx%ld at %ld,%ld; inner edge "
           "%ld,%ld-%ld,%ld; button \"%s\" character height %ld\n",
           dpi, labelFont.face.c_str(), labelFont.metrics.tmWeight, labelFont.characterHeight(),
           text.right - text.left, text.bottom - text.top, text.left, text.top, inner.left, inner.top,
           inner.right, inner.bottom, buttonFont.face.c_str(), buttonFont.characterHeight());
  });
}

TEST_F(RealWindow, ControlsKeepTheirPlacesWhenTheWindowIsResized) {
  Run([&] {
    HWND button = Control("Button", "Setup Now");
    const RECT before = ClientRect(button);
    SetWindowPos(form, nullptr, 0, 0, 600, 450, SWP_NOMOVE | SWP_NOZORDER);
    const RECT after = ClientRect(button);
    EXPECT_EQ(before.left, after.left);
    EXPECT_EQ(before.top, after.top);
    EXPECT_EQ(before.right, after.right);
  });
}

TEST_F(RealWindow, MinimisingGoesThroughTheTaskBarEntryAndRestoringBringsTheWindowBack) {
  Run([&] {
    SendMessageA(form, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(IsIconic(taskBar));
    EXPECT_FALSE(IsWindowVisible(form));
    SendMessageA(taskBar, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_FALSE(IsIconic(taskBar));
    EXPECT_TRUE(IsWindowVisible(form));
    EXPECT_FALSE(IsIconic(form));
  });
}

// On a monitor of 192 DPI the 96-DPI layout doubles, fonts included.
TEST_F(RealWindow, DpiChangeScalesTheLayoutAndTheFonts) {
  Run([&] {
    RECT suggested = {100, 50, 100 + 640, 50 + 430};
    SendMessageA(form, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(192, 192),
                 reinterpret_cast<LPARAM>(&suggested));
    RECT outer;
    GetWindowRect(form, &outer);
    EXPECT_EQ(640, outer.right - outer.left);
    EXPECT_EQ(430, outer.bottom - outer.top);
    HWND button = Control("Button", "Setup Now");
    const RECT buttonRect = ClientRect(button);
    EXPECT_EQ((std::vector<LONG>{128, 258, 150, 50}),
              (std::vector<LONG>{buttonRect.left, buttonRect.top, buttonRect.right - buttonRect.left,
                                 buttonRect.bottom - buttonRect.top}));
    HWND label = Control("Static", "USB ADSL Modem Installer");
    const RECT labelRect = ClientRect(label);
    EXPECT_EQ(126, labelRect.left);
    EXPECT_EQ(52, labelRect.top);
    EXPECT_EQ(-22, FontOf(button).lfHeight);
    EXPECT_EQ(-26, FontOf(label).lfHeight);
  });
}

TEST_F(RealWindow, ClosingTheWindowEndsTheRun) {
  bool closedInside = false;
  Run([&] {
    SendMessageA(form, WM_CLOSE, 0, 0);
    closedInside = !IsWindow(form);
  });
  EXPECT_TRUE(closedInside);
}

TEST_F(RealWindow, ClosingTheWindowRemovesWhatAnEarlierRunLeft) {
  CreateDirectoryA("c:\\ZUV_tmp", nullptr);
  CreateDirectoryA("c:\\ZUV_tmp\\drivers", nullptr);
  for (const char* name : {"c:\\ZUV_tmp\\Setup.exe", "c:\\ZUV_tmp\\drivers\\modem.sys"}) {
    HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
  }
  Run([&] { PostMessageA(form, WM_CLOSE, 0, 0); });
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("c:\\ZUV_tmp"));
}

// The click on the real button: the window and its task-bar entry go, and
// the armed timer's first tick comes 2000 ms later.
TEST_F(RealWindow, SetupNowHidesEverythingAndTheFirstTickComes2000msAfterArming) {
  static DWORD armedAt;
  static DWORD firstTick;
  static HHOOK hook;
  armedAt = firstTick = 0;
  struct Hook {
    static LRESULT CALLBACK OnMessage(int code, WPARAM wParam, LPARAM lParam) {
      const MSG* message = reinterpret_cast<const MSG*>(lParam);
      if (code == HC_ACTION && wParam == PM_REMOVE && message->message == WM_TIMER &&
          message->hwnd != nullptr && firstTick == 0) {
        firstTick = GetTickCount();
        PostMessageA(message->hwnd, WM_CLOSE, 0, 0);
      }
      return CallNextHookEx(hook, code, wParam, lParam);
    }
  };
  hook = SetWindowsHookExA(WH_GETMESSAGE, Hook::OnMessage, nullptr, GetCurrentThreadId());
  BoxWatch notFound;  // there is no archive: its message is dismissed
  Run([&] {
    SendMessageA(Control("Button", "Setup Now"), BM_CLICK, 0, 0);
    armedAt = GetTickCount();  // the sleep is simulated: arming ends the click
    EXPECT_FALSE(IsWindowVisible(form));
    EXPECT_FALSE(IsWindowVisible(taskBar));
  });
  UnhookWindowsHookEx(hook);
  ASSERT_NE(0u, firstTick);
  EXPECT_GE(firstTick - armedAt, 1900u);
  EXPECT_LE(firstTick - armedAt, 3000u);
  EXPECT_EQ(1u, drive.os().CallsOf(platform::Op::kSleep).size());
}

// The not-found message is shown by the real message box while the window
// is hidden: it must reach the user in front of everything.
TEST_F(RealWindow, NotFoundMessageComesToTheForegroundOnTopCaptionedWithTheTitle) {
  BoxWatch watch;
  Run([&] {
    SendMessageA(Control("Button", "Setup Now"), BM_CLICK, 0, 0);
    PostMessageA(form, WM_CLOSE, 0, 0);  // ends the run once the click is over
  });
  ASSERT_TRUE(watch.seen);
  EXPECT_EQ(std::string(kTitle), watch.caption);
  EXPECT_EQ("data.sec file not found, please contact your ISP", watch.text);
  EXPECT_TRUE(watch.ownerHidden);
  EXPECT_TRUE(watch.foreground);  // (Wine does not show MB_TOPMOST in the box's style)
  EXPECT_FALSE(watch.icon);
}

// The toolkit on its own, with handlers that only count.
struct CountingEvents final : platform::FormEvents {
  int creates = 0, closes = 0, clicks = 0, ticks = 0;
  void OnCreate() override { ++creates; }
  void OnClose() override { ++closes; }
  void OnClick(int) override { ++clicks; }
  void OnTimer() override { ++ticks; }
};

void CALLBACK ClickThenTerminate(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  HWND form = OwnWindow("TForm1");
  PostMessageA(FindWindowExA(form, nullptr, "Button", nullptr), BM_CLICK, 0, 0);
  platform::TheWin32Toolkit().Terminate();
}

TEST(Win32Toolkit, TerminateEndsTheLoopAfterTheWaitingMessagesWithoutTheCloseHandler) {
  platform::Toolkit& toolkit = platform::TheWin32Toolkit();
  CountingEvents events;
  ASSERT_TRUE(toolkit.Initialize());
  ASSERT_TRUE(toolkit.CreateForm(kInstallerWindowDescription, &events));
  EXPECT_EQ(1, events.creates);
  HWND form = OwnWindow("TForm1");
  SetTimer(nullptr, 0, 50, ClickThenTerminate);
  toolkit.Run();
  EXPECT_EQ(1, events.clicks);  // queued before the terminate request
  EXPECT_EQ(0, events.closes);
  EXPECT_FALSE(IsWindow(form));
}

TEST(ExceptionDisplay, ShowsTheStopIconTheTitleAndTheMessageWithItsFullStop) {
  BoxWatch watch;
  platform::TheWin32Toolkit().ShowException(platform::kNoTimerMessage);
  ASSERT_TRUE(watch.seen);
  EXPECT_EQ(std::string(kTitle), watch.caption);
  EXPECT_EQ("Not enough timers available.", watch.text);
  EXPECT_TRUE(watch.icon);
  EXPECT_TRUE(watch.foreground);
}

}  // namespace
