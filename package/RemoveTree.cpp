#include <string.h>

#include "package/FixedNames.h"
#include "package/TempDir.h"
#include "package/Text.h"
#include "platform/Os.h"

using platform::GetOs;
using platform::PrintDiagnostic;

namespace {

// Where a level of the walk left the current directory.
enum class Position {
  kUnchanged,  // never entered the level's directory
  kInside,     // in the level's directory
  kLost,       // somewhere else: nothing may be done by bare name any more
};

bool IsDotName(const char* name) {
  return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

// Whether a bare name reaches the entry the enumeration yielded, and only
// that entry. Windows drops trailing dots and spaces (so "..." or ".. "
// names this directory or its parent), and separators, drive colons or
// wildcards only appear in a name that is not the entry's own (a lossy
// code-page conversion, or a POSIX name the path mapping would split).
bool IsPlainName(const char* name) {
  const size_t length = strlen(name);
  if (length == 0 || name[length - 1] == '.' || name[length - 1] == ' ') return false;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || strchr("\\/:*?\"<>|", c) != nullptr) return false;
  }
  return true;
}

int RemoveLevel(const char* path, Position* position);

// Removes one sub-directory entry of the current directory (the level at
// path). False when the walk lost its place.
bool RemoveSubdirectory(const char* path, const char* name) {
  platform::Os& os = GetOs();
  char child[kChildPathSize];
  if (!CopyText(child, sizeof child, path) || !AppendText(child, sizeof child, "\\") ||
      !AppendText(child, sizeof child, name)) {
    PrintDiagnostic("%s\\%s: path too long, left in place\n", path, name);
    return true;
  }
  Position childPosition;
  RemoveLevel(child, &childPosition);
  if (childPosition == Position::kLost) return false;
  // A child that was never entered leaves us where we are: stepping up
  // would put the rest of this level's bare names in the parent.
  if (childPosition == Position::kInside && os.ChangeDirectory("..") != 0) return false;
  os.RemoveEmptyDirectory(name);
  return true;
}

int RemoveLevel(const char* path, Position* position) {
  platform::Os& os = GetOs();
  *position = Position::kUnchanged;
  platform::Dir dir = os.OpenDirectory(path);
  if (dir == nullptr) return -1;
  if (os.ChangeDirectory(path) != 0) {
    // Everything below is done by bare name: not from another directory.
    os.CloseDirectory(dir);
    return -1;
  }
  *position = Position::kInside;

  int result = 0;
  char name[kEntryNameSize];
  while (os.NextEntry(dir, name, sizeof name) == 1) {
    const bool dotName = IsDotName(name);
    if (!dotName && !IsPlainName(name)) {
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
      if (!RemoveSubdirectory(path, name)) {
        *position = Position::kLost;
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

int RemoveTree(const char* path) {
  // A root that is itself a link would take the walk outside the tree.
  platform::Attributes attributes;
  if (GetOs().GetAttributes(path, &attributes) != 0 || attributes.link) return -1;
  Position position;
  return RemoveLevel(path, &position);
}

void CleanUpTempDir() {
  platform::Os& os = GetOs();
  RemoveTree(kExtractDirectory);
  // The walk leaves the current directory inside the tree.
  os.ChangeDirectory(kDriveRoot);
  os.RemoveEmptyDirectory(kExtractDirectory);
}
