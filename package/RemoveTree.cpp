#include <string.h>

#include "package/RemoveTree.h"
#include "package/BoundedText.h"
#include "platform/EntryName.h"
#include "platform/Os.h"

using platform::GetOs;
using platform::PrintDiagnostic;

namespace {

// A directory the rule keeps the walk out of.
constexpr const char* kNotOwnersText = "%s: not only its owner's, left in place\n";

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
struct Walk {
  bool removing;
  platform::DirectoryInfo root;  // the removal's: whose tree it is
  TreeUse use;                   // the search's: the worst it found so far
};

// How a level ended: gone through; stopped early (its parent carries on);
// or, in the search, something held was found (the whole search ends).
enum class Level { kDone, kStopped, kBusy };

Level WalkLevel(Walk* walk, const char* path, platform::Dir dir);

// The search saw something it could not examine.
void CannotTell(Walk* walk) {
  if (walk->use == TreeUse::kFree) walk->use = TreeUse::kUnknown;
}

bool SameOwner(const platform::DirectoryInfo& a, const platform::DirectoryInfo& b) {
  return a.ownerSize == b.ownerSize && memcmp(a.owner, b.owner, a.ownerSize) == 0;
}

// Whether the removal may go into a sub-directory: one of the root's
// owner, who could have emptied it anyway; in a tree of the
// Administrators, SYSTEM's too.
bool MayEnter(const Walk& walk, platform::Dir sub) {
  platform::DirectoryInfo info;
  if (GetOs().QueryDirectory(sub, &info) != 0) return false;
  return SameOwner(info, walk.root) ||
         (walk.root.ownerKind == platform::OwnerKind::kAdministrators &&
          info.ownerKind == platform::OwnerKind::kSystem);
}

// The sub-directory name of the held directory dir, known as path: its
// own level, then, in the removal, the now empty directory itself.
Level WalkSubdirectory(Walk* walk, const char* path, platform::Dir dir, const char* name) {
  platform::Os& os = GetOs();
  char child[kChildPathSize];
  if (!CopyText(child, sizeof child, path) || !AppendText(child, sizeof child, "\\") ||
      !AppendText(child, sizeof child, name)) {
    if (walk->removing) PrintDiagnostic("%s\\%s: path too long, left in place\n", path, name);
    CannotTell(walk);
    return Level::kDone;
  }
  if (!walk->removing) {
    // Asked before this walk holds it: its own hold would count too.
    bool held;
    if (os.InUseAt(dir, name, &held) != 0) CannotTell(walk);
    if (held) return Level::kBusy;
  }
  platform::Dir sub;
  if (os.OpenSubdirectory(dir, name, &sub) != 0) {
    // Gone, a link by now, or closed to us: nothing of it is known.
    if (!walk->removing) CannotTell(walk);
    if (walk->removing) os.RemoveEmptyDirectoryAt(dir, name);
    return Level::kDone;
  }
  Level level = Level::kDone;
  const bool enter = !walk->removing || MayEnter(*walk, sub);
  if (enter) {
    level = WalkLevel(walk, child, sub);
  } else {
    PrintDiagnostic(kNotOwnersText, child);
  }
  os.CloseDirectory(sub);
  if (walk->removing && enter) os.RemoveEmptyDirectoryAt(dir, name);
  return level == Level::kBusy ? Level::kBusy : Level::kDone;
}

Level WalkLevel(Walk* walk, const char* path, platform::Dir dir) {
  platform::Os& os = GetOs();
  char name[kEntryNameSize];
  int listing;
  while ((listing = os.NextEntry(dir, name, sizeof name)) == 0 && name[0] != '\0') {
    const bool dotName = IsDotName(name);
    if (!dotName && !platform::IsPlainEntryName(name)) {
      if (walk->removing) PrintDiagnostic("%s\\%s: name not usable, left in place\n", path, name);
      CannotTell(walk);
      continue;
    }
    // "." and ".." are asked about before they are skipped, as every name
    // the listing yields is: a failed query of either stops the level with
    // its "stat fail" line like any other. Skipping them first would look
    // tidier and change what a failing walk does and prints.
    platform::Attributes attributes;
    if (const int error = os.GetAttributesAt(dir, name, &attributes)) {
      if (walk->removing) {
        PrintDiagnostic("stat fail \"%s\" : %d\n", name, error);
        return Level::kStopped;
      }
      // The search goes on: an entry listed after this one may be held.
      CannotTell(walk);
      continue;
    }
    if (dotName) continue;
    if (attributes.directory && !attributes.link) {
      if (WalkSubdirectory(walk, path, dir, name) == Level::kBusy) return Level::kBusy;
    } else if (!walk->removing) {
      bool held;
      if (os.InUseAt(dir, name, &held) != 0) CannotTell(walk);
      if (held) return Level::kBusy;
    } else if (attributes.directory) {
      // The link goes; what it points to is not part of the tree.
      os.RemoveEmptyDirectoryAt(dir, name);
    } else {
      os.RemoveFileAt(dir, name);  // a read-only file stays
    }
  }
  if (listing == 0) return Level::kDone;
  // A listing that failed has not ended: what it did not yield stays, and
  // the search cannot call the level free.
  if (walk->removing) PrintDiagnostic("%s: listing failed: %d\n", path, listing);
  CannotTell(walk);
  return Level::kStopped;
}

}  // namespace

int EmptyTree(platform::Dir root, const char* path) {
  Walk walk = {true, {}, TreeUse::kFree};
  // Not known to be changed by nobody else: not emptied.
  if (GetOs().QueryDirectory(root, &walk.root) != 0 || walk.root.othersMayChange) {
    PrintDiagnostic(kNotOwnersText, path);
    return -1;
  }
  return WalkLevel(&walk, path, root) == Level::kDone ? 0 : -1;
}

namespace {

// Makes the held root the current directory, where the walk is to leave
// it, and makes sure that what became current is the very directory held:
// one swapped in at its path meanwhile is not walked. Below the root the
// walk needs no current directory at all.
bool EnterRoot(platform::Dir root, const char* path) {
  platform::Os& os = GetOs();
  platform::DirectoryInfo held;
  platform::DirectoryInfo entered;
  if (os.QueryDirectory(root, &held) != 0 || os.ChangeDirectory(path) != 0) return false;
  platform::Dir current;
  const bool same = os.OpenDirectory(".", &current) == 0 && os.QueryDirectory(current, &entered) == 0 &&
                    entered.volume == held.volume && entered.id == held.id &&
                    entered.created == held.created;
  os.CloseDirectory(current);
  return same;
}

}  // namespace

int RemoveTree(const char* path) {
  platform::Os& os = GetOs();
  platform::Dir root;
  if (os.OpenDirectory(path, &root) != 0) return -1;
  const int result = EnterRoot(root, path) ? EmptyTree(root, path) : -1;
  os.CloseDirectory(root);
  return result;
}

TreeUse FindTreeUse(platform::Dir root, const char* path) {
  Walk walk = {false, {}, TreeUse::kFree};
  if (WalkLevel(&walk, path, root) == Level::kBusy) return TreeUse::kBusy;
  return walk.use;
}
