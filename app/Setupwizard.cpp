#include "app/Setupwizard.h"

#include "app/InstallerState.h"
#include "app/ProbeDevice.h"
#include "linemon/LineMonitor.h"
#include "package/FixedNames.h"
#include "package/PackageArchive.h"
#include "package/TempDir.h"
#include "package/Text.h"
#include "platform/Os.h"

namespace {

using platform::ControlKind;

const char kCaption[] = "USB ADSL Modem Installer";
const platform::FontDescription kLabel1Font = {"MS Sans Serif", -13, true};

// Indexed by TForm1::Control.
const platform::ControlDescription kForm1Controls[TForm1::ControlCount] = {
    /* Bevel1 */ {ControlKind::kBevel, 56, 17, 201, 33, nullptr, nullptr},
    /* Label1 */ {ControlKind::kLabel, 63, 26, 189, 16, kCaption, &kLabel1Font},
    /* Button1 */ {ControlKind::kButton, 64, 129, 75, 25, "Setup Now", nullptr},
};

// "c:\ZUV_tmp" is shared by everyone on the machine, and what lands there is
// run with this installer's rights: it must be this run's own directory,
// made afresh with its private protection. A link (or a junction) there
// is never unpacked through; whatever an earlier run, or another user, left
// there is removed first, and if that is not possible nothing is unpacked.
bool ClaimExtractDirectory() {
  platform::Os& os = platform::GetOs();
  platform::Attributes attributes;
  if (os.GetAttributes(kExtractDirectory, &attributes) == 0) {
    if (attributes.link || !attributes.directory) {
      platform::PrintDiagnostic("%s is not a plain directory: nothing is unpacked\n",
                                kExtractDirectory);
      return false;
    }
    CleanUpTempDir();
  }
  if (os.MakePrivateDirectory(kExtractDirectory) != 0) {
    platform::PrintDiagnostic("%s cannot be made afresh: nothing is unpacked\n",
                              kExtractDirectory);
    return false;
  }
  return true;
}

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

void TForm1::FormClose() { CleanUpTempDir(); }

void TForm1::Button1Click() {
  // A click queued before the window was hidden may be delivered by the
  // nested loop of the not-found message below: the sequence runs once.
  if (installStarted_) return;
  installStarted_ = true;

  platform::Toolkit& toolkit = platform::GetToolkit();
  platform::Os& os = platform::GetOs();
  toolkit.HideForm();
  const bool claimed = ClaimExtractDirectory();
  os.ChangeDirectory(gInstallerState.startDirectory);  // failure ignored
  // Only a package unpacked whole is launched: a "\Setup.exe" left in the
  // extraction directory by an earlier run or by another user is never
  // started with this installer's rights.
  if (claimed && ExtractPackage(kArchiveName, kExtractDirectory) == 0) {
    os.ChangeDirectory(kExtractDirectory);
    CopyText(gInstallerState.launchPath, sizeof gInstallerState.launchPath, kExtractDirectory);
    AppendText(gInstallerState.launchPath, sizeof gInstallerState.launchPath, kSetupProgram);
    os.Launch(gInstallerState.launchPath);  // not waited for, result not used
  } else if (claimed) {
    // Without an archive nothing was unpacked: leave no empty directory.
    os.RemoveEmptyDirectory(kExtractDirectory);
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
