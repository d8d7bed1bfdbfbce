#include "app/ExtractDirectory.h"

#include "app/FixedNames.h"
#include "app/InstallerState.h"
#include "package/BoundedText.h"
#include "package/RemoveTree.h"
#include "platform/EntryName.h"
#include "platform/Os.h"
#include "platform/Toolkit.h"

namespace {

// Why a run cannot make "c:\ZUV_tmp" its own; each is told to the user
// once, and then the installer ends, having removed nothing of it.
constexpr const char* kInUseMessage =
    " is in use by a setup program that is still running. Finish it, then start the installer "
    "again.";
constexpr const char* kNotOursMessage =
    " is not a folder the installer can use. Remove it, then start the installer again.";
constexpr const char* kNotEmptiedMessage =
    " holds files that cannot be removed. Remove the folder, then start the installer again.";
constexpr const char* kStartedThereMessage =
    "The installer cannot run from c:\\ZUV_tmp. Copy it and data.sec to another folder, then start "
    "it again.";
constexpr const char* kAnotherInstallMessage =
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
// one where that was too long to record. Whatever a clean-up removed there
// would be the user's own kit, "data.sec" with it.
bool StartedInExtractDirectory() {
  char current[platform::kMaxPath];
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

// Whether the held directory is the one this run made.
bool IsThisRunsOwn(platform::Dir root) {
  const InstallerState& state = gInstallerState;
  platform::DirectoryInfo info;
  return state.madeExtractDirectory && platform::GetOs().QueryDirectory(root, &info) == 0 &&
         info.volume == state.extractDirectoryVolume && info.id == state.extractDirectoryId &&
         info.created == state.extractDirectoryCreated;
}

// What became of "c:\ZUV_tmp"; the message that tells the user why not, or
// nullptr when it is gone (or was never there). thisRuns: the claim has
// been held since this run made it.
const char* RemoveExtractDirectory(bool thisRuns) {
  platform::Os& os = platform::GetOs();
  platform::Attributes attributes;
  if (os.GetAttributes(kExtractDirectory, &attributes) != 0) return nullptr;
  // A link or junction is never emptied: it leads somewhere else.
  if (attributes.link || !attributes.directory) return kNotOursMessage;
  // The root by its path, before the walk holds it: the hold would count.
  bool rootHeld;
  const int rootUnknown = os.InUse(kExtractDirectory, &rootHeld);
  platform::Dir root;
  if (os.OpenDirectory(kExtractDirectory, &root) != 0) return kNotOursMessage;
  const char* why = nullptr;
  if (!thisRuns && !IsThisRunsOwn(root)) {
    // Found busy, or not known to be free: nothing of it is deleted. The
    // root stays held from the search to the removal.
    TreeUse use = rootHeld ? TreeUse::kBusy : FindTreeUse(root, kExtractDirectory);
    if (use == TreeUse::kFree && rootUnknown != 0) use = TreeUse::kUnknown;
    if (use == TreeUse::kBusy) why = kInUseMessage;
    if (use == TreeUse::kUnknown) why = kNotEmptiedMessage;
  }
  if (why == nullptr && os.RewindDirectory(root) == 0) EmptyTree(root, kExtractDirectory);
  os.CloseDirectory(root);
  if (why != nullptr) return why;
  // By its path, now that nothing holds it; Windows removes no directory
  // that is a process's current one, which the callers have left.
  os.RemoveEmptyDirectory(kExtractDirectory);
  return ExtractDirectoryExists() ? kNotEmptiedMessage : nullptr;
}

// The directory as this run leaves it, its package unpacked and its setup
// program started: the clean-up finds this run's own package by what it
// is. Taken last, as some systems give a creation time that moves with
// what is added (Windows' own stays; there the file id alone tells).
void RememberAsThisRunsOwn() {
  platform::Os& os = platform::GetOs();
  InstallerState& state = gInstallerState;
  platform::Dir root;
  platform::DirectoryInfo info;
  state.madeExtractDirectory =
      os.OpenDirectory(kExtractDirectory, &root) == 0 && os.QueryDirectory(root, &info) == 0;
  if (state.madeExtractDirectory) {
    state.extractDirectoryVolume = info.volume;
    state.extractDirectoryId = info.id;
    state.extractDirectoryCreated = info.created;
  }
  os.CloseDirectory(root);
}

}  // namespace

bool ClaimExtractDirectory() {
  platform::Os& os = platform::GetOs();
  if (StartedInExtractDirectory()) {
    // The claim would remove the start directory, "data.sec" with it.
    platform::GetToolkit().ShowMessage(kStartedThereMessage);
    return false;
  }
  if (os.LockInstall() != 0) {
    platform::GetToolkit().ShowMessage(kAnotherInstallMessage);
    return false;
  }
  const char* why = RemoveExtractDirectory(false);
  // Made afresh, with its private protection: a directory someone made
  // in the meantime is not this run's.
  if (why == nullptr && os.MakePrivateDirectory(kExtractDirectory) != 0) why = kNotOursMessage;
  if (why == nullptr) return true;
  // Told once the claim is given up: nobody waits on an open message box.
  os.UnlockInstall();
  ShowAboutExtractDirectory(why);
  return false;
}

// Out of "c:\ZUV_tmp", for the start directory, or "c:\" without one: a
// process's current directory is in use, and Windows removes none.
void LeaveExtractDirectory() {
  platform::Os& os = platform::GetOs();
  const char* start = gInstallerState.startDirectory;
  if (start[0] == '\0' || os.ChangeDirectory(start) != 0) os.ChangeDirectory(kDriveRoot);
}

void ReleaseExtractDirectory() {
  // The setup program has taken "c:\ZUV_tmp" as its current directory;
  // the installer's own would keep the tree in use after it has ended.
  LeaveExtractDirectory();
  RememberAsThisRunsOwn();
  platform::GetOs().UnlockInstall();
}

void GiveUpExtractDirectory() {
  LeaveExtractDirectory();
  RemoveExtractDirectory(true);
  platform::GetOs().UnlockInstall();
}

void CleanUpTempDir() {
  platform::Os& os = platform::GetOs();
  if (StartedInExtractDirectory() || os.LockInstall() != 0) return;
  os.ChangeDirectory(kDriveRoot);
  RemoveExtractDirectory(false);
  os.UnlockInstall();
}
