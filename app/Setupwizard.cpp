#include "app/Setupwizard.h"

#include "app/InstallerState.h"
#include "app/ProbeDevice.h"
#include "linemon/LineMonitor.h"
#include "package/FixedNames.h"
#include "package/PackageArchive.h"
#include "package/RemoveTree.h"
#include "package/Text.h"
#include "platform/EntryName.h"
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

// Why a run cannot make "c:\ZUV_tmp" its own; each is told to the user
// once, and then the installer ends, having touched nothing of it.
const char kInUseMessage[] =
    " is in use by a setup program that is still running. Finish it, then start the installer "
    "again.";
const char kNotOursMessage[] =
    " is not a folder the installer can use. Remove it, then start the installer again.";
const char kNotEmptiedMessage[] =
    " holds files that cannot be removed. Remove the folder, then start the installer again.";
const char kStartedThereMessage[] =
    "The installer cannot run from c:\\ZUV_tmp. Copy it and data.sec to another folder, then start "
    "it again.";
const char kAnotherInstallMessage[] =
    "Another installation is already under way. Wait until it has finished, then start the "
    "installer again.";

void ShowAboutExtractDirectory(const char* why) {
  char text[256];
  CopyText(text, sizeof text, kExtractDirectory);
  AppendText(text, sizeof text, why);
  platform::GetToolkit().ShowMessage(text);
}

// Whether the installer was started in "c:\ZUV_tmp" or a folder below it
// (case does not matter to Windows): the start directory, or the current
// one where that was too long to record. Whatever the claim removed there
// would be the user's own kit, "data.sec" with it.
bool StartedInExtractDirectory() {
  char current[260];  // Windows' current directory never needs more than MAX_PATH
  const char* start = gInstallerState.startDirectory;
  if (start[0] == '\0') {
    if (platform::GetOs().CurrentDirectory(current, sizeof current) != 0) return false;
    start = current;
  }
  size_t i = 0;
  for (; kExtractDirectory[i] != '\0'; ++i) {
    if (platform::LowerAscii(start[i]) != platform::LowerAscii(kExtractDirectory[i])) return false;
  }
  return start[i] == '\0' || start[i] == '\\';
}

bool ExtractDirectoryExists() {
  platform::Attributes attributes;
  return platform::GetOs().GetAttributes(kExtractDirectory, &attributes) == 0;
}

// Whether a program still uses anything of "c:\ZUV_tmp": a file it runs
// from or holds, a directory that is its current one, anywhere in the tree.
bool ExtractDirectoryInUse() { return TreeInUse(kExtractDirectory); }

// Removes what an earlier run left in "c:\ZUV_tmp", unless a program runs
// from there: its files are found busy before anything of them is deleted.
// The current directory stays where it was, so the archive is looked up
// where it would have been without a leftover. False, with the user told,
// when the directory cannot be made this run's own.
bool RemoveLeftover() {
  platform::Os& os = platform::GetOs();
  platform::Attributes attributes;
  if (os.GetAttributes(kExtractDirectory, &attributes) != 0) return true;
  if (attributes.link || !attributes.directory) {
    // Never unpacked through, never emptied: it leads somewhere else.
    ShowAboutExtractDirectory(kNotOursMessage);
    return false;
  }
  if (ExtractDirectoryInUse()) {
    ShowAboutExtractDirectory(kInUseMessage);
    return false;
  }
  // Windows' current directory never needs more than MAX_PATH.
  char current[260];
  const bool recorded = os.CurrentDirectory(current, sizeof current) == 0;
  CleanUpTempDir();
  if (recorded) os.ChangeDirectory(current);
  if (ExtractDirectoryExists()) {
    ShowAboutExtractDirectory(kNotEmptiedMessage);
    return false;
  }
  return true;
}

// "c:\ZUV_tmp" is shared by everyone on the machine, and what lands there
// is run with this installer's rights: it must be this run's own directory,
// made afresh with its private protection, while no other installer is at
// work there. False, with the user told, when that cannot be had; the
// machine-wide claim is then not held.
bool ClaimExtractDirectory() {
  platform::Os& os = platform::GetOs();
  if (os.LockInstall() != 0) {
    platform::GetToolkit().ShowMessage(kAnotherInstallMessage);
    return false;
  }
  if (!RemoveLeftover()) {
    os.UnlockInstall();
    return false;
  }
  if (os.MakePrivateDirectory(kExtractDirectory) != 0) {
    // Someone made it in the meantime, or it cannot be protected.
    ShowAboutExtractDirectory(kNotOursMessage);
    os.UnlockInstall();
    return false;
  }
  return true;
}

// After a failed extraction, which may have entered "c:\ZUV_tmp": back to
// the start directory (or "c:\" without one) first, as Windows removes no
// directory that is a process's current one, then the directory goes if
// it is empty. With nothing unpacked the claim is given up, so that a
// later run is not kept waiting for this one's watch.
void GiveUpExtractDirectory() {
  platform::Os& os = platform::GetOs();
  const char* start = gInstallerState.startDirectory;
  if (start[0] == '\0' || os.ChangeDirectory(start) != 0) os.ChangeDirectory(kDriveRoot);
  if (os.RemoveEmptyDirectory(kExtractDirectory) == 0 || !ExtractDirectoryExists()) {
    os.UnlockInstall();
    gInstallerState.ownsExtractDirectory = false;
  }
}

// The clean-up of the close handler and of the watch, never while another
// installer is at work. This run's own package goes even while its setup
// program still runs (what that holds stays); anything else only when no
// program runs from it.
void CleanUpExtractDirectory(bool ownPackage) {
  platform::Os& os = platform::GetOs();
  if (os.LockInstall() != 0) return;
  if (ownPackage || !ExtractDirectoryInUse()) CleanUpTempDir();
  os.UnlockInstall();
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

// Only runs before "Setup Now": whatever is in "c:\ZUV_tmp" is not this
// run's. Started in there, it removes nothing: the start directory and what
// holds it stay.
void TForm1::FormClose() {
  if (!StartedInExtractDirectory()) CleanUpExtractDirectory(false);
}

void TForm1::Button1Click() {
  InstallerState& state = gInstallerState;
  // A click queued before the window was hidden may be delivered by the
  // nested loop of the not-found message below: the sequence runs once.
  if (state.installStarted) return;
  state.installStarted = true;

  platform::Toolkit& toolkit = platform::GetToolkit();
  platform::Os& os = platform::GetOs();
  toolkit.HideForm();
  if (StartedInExtractDirectory()) {
    // The claim would remove the start directory, "data.sec" with it.
    toolkit.ShowMessage(kStartedThereMessage);
    toolkit.Terminate();
    return;
  }
  if (!ClaimExtractDirectory()) {
    // Told already: no package of this run, nothing to watch for.
    toolkit.Terminate();
    return;
  }
  os.ChangeDirectory(state.startDirectory);  // failure ignored
  state.ownsExtractDirectory = true;
  // A build that carries its package's digest unpacks that package only.
  const int extracted = ExtractPackageMatching(kArchiveName, kExtractDirectory, state.packageDigest);
  if (extracted == 0) {
    os.ChangeDirectory(kExtractDirectory);
    CopyText(state.launchPath, sizeof state.launchPath, kExtractDirectory);
    AppendText(state.launchPath, sizeof state.launchPath, kSetupProgram);
    os.Launch(state.launchPath);  // not waited for, result not used
  } else {
    // Only a package unpacked whole is launched: a "\Setup.exe" left in the
    // extraction directory by an earlier run or by another user is never
    // started with this installer's rights. The two steps that prepare the
    // launch go with it (the current directory does not become
    // "c:\ZUV_tmp", the launch path stays empty); the pause and the watch
    // follow as after a launch, unless the archive is not this installer's
    // package.
    GiveUpExtractDirectory();
    if (extracted == kNotThePackage) {
      // Told already. Nothing of it may run here, so there is nothing to
      // watch for either, and the claim ends with the run, whether or not
      // the directory could be given up.
      os.UnlockInstall();
      state.ownsExtractDirectory = false;
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
  // Reached only from a "Setup Now" that was not started in "c:\ZUV_tmp".
  CleanUpExtractDirectory(gInstallerState.ownsExtractDirectory);
  toolkit.Terminate();
}
