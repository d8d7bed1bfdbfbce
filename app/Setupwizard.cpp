#include "app/Setupwizard.h"

#include "app/ExtractDirectory.h"
#include "app/FixedNames.h"
#include "app/InstallerState.h"
#include "app/ProbeDevice.h"
#include "linemon/LineMonitor.h"
#include "package/PackageArchive.h"
#include "package/Text.h"
#include "platform/Os.h"

namespace {

using platform::ControlKind;

constexpr const char* kCaption = "USB ADSL Modem Installer";
const platform::FontDescription kLabel1Font = {"MS Sans Serif", -13, true};

// Indexed by TForm1::Control.
const platform::ControlDescription kForm1Controls[TForm1::ControlCount] = {
    /* Bevel1 */ {ControlKind::kBevel, 56, 17, 201, 33, nullptr, nullptr},
    /* Label1 */ {ControlKind::kLabel, 63, 26, 189, 16, kCaption, &kLabel1Font},
    /* Button1 */ {ControlKind::kButton, 64, 129, 75, 25, "Setup Now", nullptr},
};

}  // namespace

const platform::FormDescription kForm1Description = {
    "TForm1", kCaption, 320, 215, {"MS Sans Serif", -11, false},
    kForm1Controls, TForm1::ControlCount, TForm1::OpenDriverTimer};

TForm1 Form1;

void TForm1::FormCreate() {
  // A directory that does not fit is not recorded: the buffer stays empty.
  platform::GetOs().CurrentDirectory(gInstallerState.startDirectory,
                                     sizeof gInstallerState.startDirectory);
  // The window works the same without a monitored line.
  InitLineMonitor();
}

// Only runs before "Setup Now": whatever is in "c:\ZUV_tmp" is not this
// run's.
void TForm1::FormClose() { CleanUpTempDir(); }

void TForm1::Button1Click() {
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
  os.Sleep(kSetupSettle);
  toolkit.SetTimerEnabled(true);  // a failure is raised and shown by the loop
}

void TForm1::OpenDriverTimerTimer() {
  // Not there yet: the driver may load at any time, so no limit, no report.
  if (ProbeDevice(kDeviceName) == 0) return;
  platform::Toolkit& toolkit = platform::GetToolkit();
  // Off first: no tick may come while the clean-up runs.
  toolkit.SetTimerEnabled(false);
  CleanUpTempDir();
  toolkit.Terminate();
}
