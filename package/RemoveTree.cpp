#include <string.h>

#include "package/FixedNames.h"
#include "package/TempDir.h"
#include "package/Text.h"
#include "platform/EntryName.h"
#include "platform/Os.h"

using platform::GetOs;
using platform::PrintDiagnostic;

namespace {

bool IsDotName(const char* name) {
  return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

// One level of the walk: the directory opened as openName (the root by
// its path, a sub-directory by its bare name in its parent, which is
// current), known as path. Every directory is held open while the walk is
// in it or below it, and entered through that hold, never by a name that
// may since lead elsewhere.
int RemoveLevel(const char* path, const char* openName);

// Removes one sub-directory entry of the level dir (path); the level is the
// current directory. False when the walk cannot be sure to be back in it.
bool RemoveSubdirectory(platform::Dir dir, const char* path, const char* name) {
  platform::Os& os = GetOs();
  char child[kChildPathSize];
  if (!CopyText(child, sizeof child, path) || !AppendText(child, sizeof child, "\\") ||
      !AppendText(child, sizeof child, name)) {
    PrintDiagnostic("%s\\%s: path too long, left in place\n", path, name);
    return true;
  }
  RemoveLevel(child, name);
  // Back up through the hold, wherever the child's walk ended: a step to
  // ".." would follow whatever has been put in the child's place.
  if (os.EnterDirectory(dir) != 0) return false;
  os.RemoveEmptyDirectory(name);
  return true;
}

int RemoveLevel(const char* path, const char* openName) {
  platform::Os& os = GetOs();
  platform::Dir dir = os.OpenDirectory(openName);
  if (dir == nullptr) return -1;
  if (os.EnterDirectory(dir) != 0) {
    // Everything below is done by bare name: not from another directory.
    os.CloseDirectory(dir);
    return -1;
  }

  int result = 0;
  char name[kEntryNameSize];
  while (os.NextEntry(dir, name, sizeof name) == 1) {
    const bool dotName = IsDotName(name);
    if (!dotName && !platform::IsPlainEntryName(name)) {
      PrintDiagnostic("%s\\%s: name not usable, left in place\n", path, name);
      continue;
    }
    platform::Attributes attributes;
    if (os.GetAttributes(name, &attributes) != 0) {
      PrintDiagnostic("stat fail \"%s\" : %d\n", name, os.ErrorNumber());
      result = -1;
      break;
    }
    if (dotName) continue;
    if (attributes.link) {
      // The link goes; what it points to is not part of the tree.
      if (attributes.directory) {
        os.RemoveEmptyDirectory(name);
      } else {
        os.RemoveFile(name);
      }
    } else if (attributes.directory) {
      if (!RemoveSubdirectory(dir, path, name)) {
        result = -1;
        break;
      }
    } else {
      os.RemoveFile(name);  // a read-only file stays
    }
  }
  os.CloseDirectory(dir);
  return result;
}

}  // namespace

int RemoveTree(const char* path) { return RemoveLevel(path, path); }

void CleanUpTempDir() {
  platform::Os& os = GetOs();
  RemoveTree(kExtractDirectory);
  // The walk leaves the current directory inside the tree.
  os.ChangeDirectory(kDriveRoot);
  os.RemoveEmptyDirectory(kExtractDirectory);
}
