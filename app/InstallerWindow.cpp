#include "app/InstallerWindow.h"

#include "app/ExtractDirectory.h"
#include "app/FixedNames.h"
#include "app/InstallerState.h"
#include "app/ProbeDevice.h"
#include "linemon/LineMonitor.h"
#include "package/BoundedText.h"
#include "package/ExtractPackage.h"
#include "platform/Os.h"

namespace {

using platform::ControlKind;

constexpr const char* kCaption = "USB ADSL Modem Installer";
const platform::FontDescription kTitleFont = {"MS Sans Serif", -13, true};

// Indexed by WindowControl.
const platform::ControlDescription kWindowControls[kWindowControlCount] = {
    /* kTitleFrame */ {ControlKind::kBevel, 56, 17, 201, 33, nullptr, nullptr},
    /* kTitleLabel */ {ControlKind::kLabel, 63, 26, 189, 16, kCaption, &kTitleFont},
    /* kSetupNowButton */ {ControlKind::kButton, 64, 129, 75, 25, "Setup Now", nullptr},
};

// The class the window is registered under. Unlike the names in the code,
// other programs see it and may find the window by it (FindWindow, as the
// tests of Install.exe as a program do), so it stays "TForm1".
constexpr const char* kWindowClass = "TForm1";

}  // namespace

const platform::FormDescription kInstallerWindowDescription = {
    kWindowClass, kCaption, 320, 215, {"MS Sans Serif", -11, false},
    kWindowControls, kWindowControlCount, InstallerWindow::kDevicePoll};

InstallerWindow gInstallerWindow;

void InstallerWindow::WindowCreated() {
  // A directory that does not fit is not recorded: the buffer stays empty.
  platform::GetOs().CurrentDirectory(gInstallerState.startDirectory,
                                     sizeof gInstallerState.startDirectory);
  // Every start, whether or not "Setup Now" follows, registers with the
  // telephony service as "RMO CPL Icon" and opens the modem's data line for
  // monitoring until the process ends, asking for its device-specific state
  // messages: for as long as the installer runs, the service counts it
  // among the monitors of that line and reports the line's states to it.
  // That registration is all the installer wants of telephony; nothing here
  // reads those reports. So the result is not looked at: without a
  // telephony service, without a data line, or with a line that will not
  // open, the window works the same.
  InitLineMonitor();
}

// Only runs before "Setup Now": whatever is in "c:\ZUV_tmp" is not this
// run's.
void InstallerWindow::WindowClosed() { CleanUpTempDir(); }

void InstallerWindow::SetupNowClicked() {
  InstallerState& state = gInstallerState;
  // A click queued before the window was hidden may be delivered by the
  // nested loop of a message box below: the sequence runs once.
  if (state.installStarted) return;
  state.installStarted = true;

  platform::Toolkit& toolkit = platform::GetToolkit();
  platform::Os& os = platform::GetOs();
  toolkit.HideForm();
  if (!ClaimExtractDirectory()) {
    // Told already: no package of this run, nothing to watch for.
    toolkit.Terminate();
    return;
  }
  os.ChangeDirectory(state.startDirectory);  // failure ignored
  // A build that carries its package's digest unpacks that package only.
  const Extraction extracted = ExtractCheckedPackage(kArchiveName, kExtractDirectory, state.packageDigest);
  if (extracted == Extraction::kDone) {
    os.ChangeDirectory(kExtractDirectory);
    CopyText(state.launchPath, sizeof state.launchPath, kExtractDirectory);
    AppendText(state.launchPath, sizeof state.launchPath, kSetupProgram);
    os.Launch(state.launchPath);  // not waited for, result not used
    ReleaseExtractDirectory();
  } else {
    // Only a package unpacked whole is launched: what was unpacked goes,
    // with the claim, before the user is told. The two steps that prepare
    // the launch go with it (the current directory does not become
    // "c:\ZUV_tmp", the launch path stays empty).
    GiveUpExtractDirectory();
    TellExtraction(kArchiveName, extracted);
    // A package that came and was refused leaves nothing to watch for: the
    // user can try again at once, with a whole one. Without one the watch
    // goes on, as a driver installed by other means still ends the run.
    if (extracted != Extraction::kArchiveMissing) {
      toolkit.Terminate();
      return;
    }
  }
  os.Sleep(kSetupPause);
  toolkit.SetTimerEnabled(true);  // a failure is raised and shown by the loop
}

void InstallerWindow::PollDevice() {
  // Not there yet: the driver may load at any time, so no limit, no report.
  if (ProbeDevice(kDeviceName) == 0) return;
  platform::Toolkit& toolkit = platform::GetToolkit();
  // Off first: no tick may come while the clean-up runs.
  toolkit.SetTimerEnabled(false);
  CleanUpTempDir();
  toolkit.Terminate();
}
