#include <string.h>

#include "package/FixedNames.h"
#include "package/RemoveTree.h"
#include "package/Text.h"
#include "platform/EntryName.h"
#include "platform/Os.h"

using platform::GetOs;
using platform::PrintDiagnostic;

namespace {

bool IsDotName(const char* name) {
  return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

// The two walks over a tree: its removal, and the search for anything of
// it that another process holds. Both reach every entry through the held
// directory above it (the ...At operations of the seam) and never by a
// path: a directory of the tree renamed, swapped for a link or turned into
// a junction in place while the walk holds it changes nothing, since its
// entries are looked up in the object the walk holds. So the walk never
// changes the current directory below the root, and never goes back up by
// a name ("..", or the parent's path) that may since lead elsewhere.
enum class Walk { kRemove, kFindBusy };

// How a level ended: gone through; stopped by a failed attribute query
// (its parent carries on); or, in the search, something held was found
// (the whole search ends).
enum class Level { kDone, kStopped, kBusy };

Level WalkLevel(Walk walk, const char* path, platform::Dir dir);

// The sub-directory name of the held directory dir, known as path: its
// own level, then, in the removal, the now empty directory itself.
Level WalkSubdirectory(Walk walk, const char* path, platform::Dir dir, const char* name) {
  platform::Os& os = GetOs();
  const bool removing = walk == Walk::kRemove;
  char child[kChildPathSize];
  if (!CopyText(child, sizeof child, path) || !AppendText(child, sizeof child, "\\") ||
      !AppendText(child, sizeof child, name)) {
    // Left, in both walks: what the removal leaves needs no search.
    if (removing) PrintDiagnostic("%s\\%s: path too long, left in place\n", path, name);
    return Level::kDone;
  }
  // Asked before this walk holds it: its own hold would count too.
  if (!removing && os.InUseAt(dir, name) == 1) return Level::kBusy;
  Level level = Level::kDone;
  platform::Dir sub = os.OpenSubdirectory(dir, name);
  if (sub != nullptr) {
    level = WalkLevel(walk, child, sub);
    os.CloseDirectory(sub);
  }
  if (removing) os.RemoveEmptyDirectoryAt(dir, name);
  return level == Level::kBusy ? Level::kBusy : Level::kDone;
}

Level WalkLevel(Walk walk, const char* path, platform::Dir dir) {
  platform::Os& os = GetOs();
  const bool removing = walk == Walk::kRemove;
  char name[kEntryNameSize];
  while (os.NextEntry(dir, name, sizeof name) == 1) {
    const bool dotName = IsDotName(name);
    if (!dotName && !platform::IsPlainEntryName(name)) {
      if (removing) PrintDiagnostic("%s\\%s: name not usable, left in place\n", path, name);
      continue;
    }
    // "." and ".." are asked about before they are skipped, as every name
    // the listing yields is: a failed query of either stops the level with
    // its "stat fail" line like any other, which is the walk's documented
    // behaviour. Skipping them first would look tidier and change what a
    // failing walk does and prints.
    platform::Attributes attributes;
    if (os.GetAttributesAt(dir, name, &attributes) != 0) {
      if (removing) PrintDiagnostic("stat fail \"%s\" : %d\n", name, os.ErrorNumber());
      return Level::kStopped;
    }
    if (dotName) continue;
    if (attributes.directory && !attributes.link) {
      if (WalkSubdirectory(walk, path, dir, name) == Level::kBusy) return Level::kBusy;
    } else if (!removing) {
      if (os.InUseAt(dir, name) == 1) return Level::kBusy;
    } else if (attributes.directory) {
      // The link goes; what it points to is not part of the tree.
      os.RemoveEmptyDirectoryAt(dir, name);
    } else {
      os.RemoveFileAt(dir, name);  // a read-only file stays
    }
  }
  return Level::kDone;
}

}  // namespace

int RemoveTree(const char* path) {
  platform::Os& os = GetOs();
  platform::Dir root = os.OpenDirectory(path);
  if (root == nullptr) return -1;
  // Entered once, through the hold, where the walk is to leave the current
  // directory; below the root the walk needs no current directory at all.
  const Level level =
      os.EnterDirectory(root) == 0 ? WalkLevel(Walk::kRemove, path, root) : Level::kStopped;
  os.CloseDirectory(root);
  return level == Level::kDone ? 0 : -1;
}

bool TreeInUse(const char* path) {
  platform::Os& os = GetOs();
  // The root by its path, before this walk holds it.
  if (os.InUse(path) == 1) return true;
  platform::Dir root = os.OpenDirectory(path);
  if (root == nullptr) return false;
  const bool busy = WalkLevel(Walk::kFindBusy, path, root) == Level::kBusy;
  os.CloseDirectory(root);
  return busy;
}

void CleanUpTempDir() {
  platform::Os& os = GetOs();
  RemoveTree(kExtractDirectory);
  // The walk leaves the current directory at the tree's root.
  os.ChangeDirectory(kDriveRoot);
  os.RemoveEmptyDirectory(kExtractDirectory);
}
