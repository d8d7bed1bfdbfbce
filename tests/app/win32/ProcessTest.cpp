// Install.exe itself, started as a user or a launcher would start it: a
// copy named INSTALL.EXE, in a start directory of the test's drive, with a
// chosen show state. Its windows are read from this process.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/win32/Win32Toolkit.h"
#include "tests/support/ArchiveBytes.h"
#include "tests/support/ReadAll.h"
#include "tests/support/TestDrive.h"
#include "tests/support/Win32Windows.h"

namespace {

namespace fs = std::filesystem;
using testing_support::WaitFor;
using testing_support::WindowText;

const char kExtractDirectory[] = "c:\\ZUV_tmp";
const char kStandinLog[] = "c:\\standin-log.txt";

// The build's programs, named by their Unix paths: Wine's drive Z: is "/".
std::string FromUnix(const char* path) {
  std::string windows = std::string("Z:") + path;
  std::replace(windows.begin(), windows.end(), '/', '\\');
  return windows;
}

// One run of INSTALL.EXE.
class Installer {
 public:
  // showState < 0: started without STARTF_USESHOWWINDOW.
  Installer(const std::string& startDirectory, int showState = -1) {
    CreateDirectoryA(startDirectory.c_str(), nullptr);
    const std::string program = startDirectory + "\\INSTALL.EXE";
    EXPECT_TRUE(CopyFileA(FromUnix(INSTALL_EXE).c_str(), program.c_str(), FALSE));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (showState >= 0) {
      startup.dwFlags = STARTF_USESHOWWINDOW;
      startup.wShowWindow = static_cast<WORD>(showState);
    }
    std::string commandLine = "\"" + program + "\"";
    started_ = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                              nullptr, startDirectory.c_str(), &startup, &process_);
    EXPECT_TRUE(started_) << "CreateProcess: " << GetLastError();
    if (!started_) return;
    WaitForInputIdle(process_.hProcess, 10000);
    form = Find("TForm1", 10000);
    taskBar = Find(platform::kTaskBarWindowClass, 1000);
    EXPECT_NE(nullptr, form);
    EXPECT_NE(nullptr, taskBar);
    // Found as soon as they exist: the tests look at them once shown.
    EXPECT_TRUE(WaitFor([&] {
      return taskBar != nullptr && IsWindowVisible(taskBar) &&
             (IsWindowVisible(form) || IsIconic(taskBar));
    }, 10000));
  }
  ~Installer() {
    if (!started_) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.hProcess, 99);
      WaitForSingleObject(process_.hProcess, 5000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }

  // A top-level window of this run by class, waiting for it up to timeout ms.
  HWND Find(const char* windowClass, DWORD timeout) const {
    HWND found = nullptr;
    WaitFor([&] {
      found = testing_support::TopLevelWindow(windowClass, nullptr, [&](HWND window) {
        return testing_support::ProcessOf(window) == process_.dwProcessId;
      });
      return found != nullptr;
    }, timeout);
    return found;
  }

  void ClickSetupNow() const {
    // Posted: the click runs the whole install sequence, pause included.
    PostMessageA(FindWindowExA(form, nullptr, "Button", "Setup Now"), BM_CLICK, 0, 0);
  }

  // Closes the window as a user would; the exit code, or -1 if it did not end.
  int Close() const {
    PostMessageA(form, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return static_cast<int>(code);
  }

  bool Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

  // Waits until the window thread no longer answers: it has reached the
  // install sequence's 30 s pause, and whatever the sequence launches has
  // been launched (the launch returns once the program waits for input).
  bool WaitUntilPausing() const {
    return WaitFor([&] {
      DWORD_PTR result;
      return SendMessageTimeoutA(form, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result) == 0;
    }, 20000);
  }

  HWND form = nullptr;
  HWND taskBar = nullptr;

 private:
  bool started_ = false;
  PROCESS_INFORMATION process_ = {};
};

bool Centred(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  return rect.left == (GetSystemMetrics(SM_CXSCREEN) - (rect.right - rect.left)) / 2 &&
         rect.top == (GetSystemMetrics(SM_CYSCREEN) - (rect.bottom - rect.top)) / 2;
}

// Each test starts and ends without the shared extraction directory and
// the stand-in's log.
class InstallExe : public ::testing::Test {
 protected:
  InstallExe() { Clean(); }
  ~InstallExe() override { Clean(); }
  static void Clean() {
    testing_support::ForceRemoveTree(kExtractDirectory);
    DeleteFileA(kStandinLog);
  }
  testing_support::TestDrive drive;
};

// The show state a launcher asks for, and how the window must open.
struct ShowState {
  const char* name;
  int value;
  bool minimised;  // only the task-bar entry, iconic: restored, the window comes centred
  bool maximised;  // otherwise normal and centred
};

class InstallExeShowState : public InstallExe, public ::testing::WithParamInterface<ShowState> {};

TEST_P(InstallExeShowState, OpensTheWindowAsAsked) {
  const ShowState& state = GetParam();
  Installer installer(drive.Path("start"), state.value);
  ASSERT_NE(nullptr, installer.form);
  // Minimised, the window is shown first and its task-bar entry iconified
  // after: waited for, so that a busy machine cannot catch the step between.
  EXPECT_TRUE(WaitFor([&] { return state.minimised == (IsIconic(installer.taskBar) != FALSE); },
                      10000));
  EXPECT_TRUE(IsWindowVisible(installer.taskBar));
  EXPECT_EQ(state.minimised, IsIconic(installer.taskBar) != FALSE);
  EXPECT_EQ(!state.minimised, IsWindowVisible(installer.form) != FALSE);
  if (state.minimised) {
    SendMessageA(installer.taskBar, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_TRUE(IsWindowVisible(installer.form));
  }
  EXPECT_FALSE(IsIconic(installer.form));
  EXPECT_EQ(state.maximised, IsZoomed(installer.form) != FALSE);
  if (!state.maximised) {
    EXPECT_TRUE(Centred(installer.form));
  }
  EXPECT_EQ(0, installer.Close());
}

// Only 3 and 7 are kept; 2 opens normally, as every other value does.
INSTANTIATE_TEST_SUITE_P(Launchers, InstallExeShowState,
                         ::testing::Values(ShowState{"Maximised", SW_SHOWMAXIMIZED, false, true},
                                           ShowState{"MinNoActive", SW_SHOWMINNOACTIVE, true, false},
                                           ShowState{"Minimised", SW_SHOWMINIMIZED, false, false}),
                         [](const ::testing::TestParamInfo<ShowState>& tested) { return tested.param.name; });

TEST_F(InstallExe, CopyNamedINSTALL_EXE_IsTitledInstallOnTheTaskBar) {
  Installer installer(drive.Path("start"));
  ASSERT_NE(nullptr, installer.form);
  EXPECT_EQ("Install", WindowText(installer.taskBar));
  EXPECT_EQ("USB ADSL Modem Installer", WindowText(installer.form));
  EXPECT_EQ(0, installer.Close());
}

std::string Resource(HMODULE module, const char* name, const char* type) {
  HRSRC found = FindResourceA(module, name, type);
  if (found == nullptr) return "";
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
  return std::string(bytes, SizeofResource(module, found));
}

TEST(InstallExeResources, IconManifestAndVersion) {
  HMODULE module = LoadLibraryExA(FromUnix(INSTALL_EXE).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, module);

  // MAINICON: 32x32 and 16x16, 16 colours each.
  const std::string group = Resource(module, "MAINICON", MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
  ASSERT_GE(group.size(), 6u);
  const int count = static_cast<unsigned char>(group[4]);
  ASSERT_EQ(2, count);
  ASSERT_EQ(6u + 14u * count, group.size());
  std::vector<std::string> images;
  for (int i = 0; i < count; ++i) {
    const unsigned char* entry = reinterpret_cast<const unsigned char*>(group.data()) + 6 + 14 * i;
    images.push_back(std::to_string(entry[0]) + "x" + std::to_string(entry[1]) + "/" +
                     std::to_string(entry[2]) + " colours");
  }
  std::sort(images.begin(), images.end());
  EXPECT_EQ((std::vector<std::string>{"16x16/16 colours", "32x32/16 colours"}), images);

  const std::string manifest = Resource(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  EXPECT_NE(std::string::npos, manifest.find("level=\"requireAdministrator\""));
  EXPECT_NE(std::string::npos, manifest.find("<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"));
  EXPECT_NE(std::string::npos, manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"));
  EXPECT_NE(std::string::npos, manifest.find(">true/pm</dpiAware>"));

  const std::string version = Resource(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));
  const std::string description = "USB ADSL Modem Installer";
  std::wstring wide(description.begin(), description.end());
  EXPECT_NE(std::string::npos,
            version.find(std::string(reinterpret_cast<const char*>(wide.c_str()), wide.size() * 2)));
  FreeLibrary(module);
}

// Without "data.sec": the message, captioned with the title, in front of
// everything, and a stale setup program in "c:\ZUV_tmp" is not started.
TEST_F(InstallExe, MissingArchiveShowsTheMessageInFrontAndLaunchesNothingStale) {
  fs::create_directories(kExtractDirectory);
  ASSERT_TRUE(CopyFileA(FromUnix(STANDIN_EXE).c_str(), "c:\\ZUV_tmp\\Setup.exe", FALSE));
  Installer installer(drive.Path("start"));
  ASSERT_NE(nullptr, installer.form);

  installer.ClickSetupNow();
  HWND box = installer.Find("#32770", 10000);
  ASSERT_NE(nullptr, box);
  // Until it is set up and brought to the front.
  EXPECT_TRUE(WaitFor([&] { return !WindowText(box).empty() && GetForegroundWindow() == box; }, 10000));
  EXPECT_EQ("Install", WindowText(box));
  EXPECT_EQ("data.sec file not found, please contact your ISP", WindowText(GetDlgItem(box, 0xFFFF)));
  EXPECT_EQ(box, GetForegroundWindow());
  EXPECT_FALSE(IsWindowVisible(installer.form));
  EXPECT_FALSE(IsWindowVisible(installer.taskBar));

  PostMessageA(box, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(installer.WaitUntilPausing());
  EXPECT_FALSE(fs::exists(kStandinLog)) << testing_support::ReadAll(kStandinLog);
  EXPECT_TRUE(installer.Running());  // pausing, then watching for the driver
}

TEST_F(InstallExe, SetupNowUnpacksThePackageAndLaunchesItsSetupOnce) {
  const std::string standin = testing_support::ReadAll(FromUnix(STANDIN_EXE));
  ASSERT_FALSE(standin.empty());
  drive.MakeDirectories("start");
  drive.WriteFile("start/data.sec",
                  testing_support::EncodeArchive({"drivers", "drivers\\x86"},
                                         {{"Setup.exe", standin},
                                          // no device: it would outlive the test
                                          {"standin.ini", "[standin]\r\ndevice=0\r\n"},
                                          {"drivers\\modem.inf", "[Version]\r\n"},
                                          {"drivers\\x86\\modem.sys", std::string(20000, 'S')}}));
  Installer installer(drive.Path("start"));
  ASSERT_NE(nullptr, installer.form);

  installer.ClickSetupNow();
  // The stand-in ends at once; any second launch would come before the pause.
  EXPECT_TRUE(WaitFor([] { return testing_support::ReadAll(kStandinLog).find("ended") != std::string::npos; },
                      15000));
  ASSERT_TRUE(installer.WaitUntilPausing());

  std::string log = testing_support::ReadAll(kStandinLog);
  std::transform(log.begin(), log.end(), log.begin(), [](char c) { return static_cast<char>(tolower(c)); });
  EXPECT_EQ("ran\r\ncommand line: c:\\zuv_tmp\\setup.exe\r\ncurrent directory: c:\\zuv_tmp\r\nended\r\n",
            log);
  EXPECT_EQ(standin.size(), fs::file_size("c:\\ZUV_tmp\\Setup.exe"));
  EXPECT_EQ(11u, fs::file_size("c:\\ZUV_tmp\\drivers\\modem.inf"));
  EXPECT_EQ(20000u, fs::file_size("c:\\ZUV_tmp\\drivers\\x86\\modem.sys"));
  EXPECT_FALSE(IsWindowVisible(installer.form));
  EXPECT_TRUE(installer.Running());
}

}  // namespace
