// The POSIX backend: runs the installer's file handling natively, for the
// provider's tool, the tests and the fuzzers. Its operations live by
// concern, as the Win32 backend's do: PosixFiles.cpp (files, directories
// by their paths, the mapping of paths), PosixHeldDirectory.cpp (held
// directories and their entries), PosixProcess.cpp (what is in use, the
// claim, launch, the device) and PosixOs.cpp (the backend itself, sleep
// and output).
//
// Windows paths are mapped onto a directory that stands for drive "c:\"
// (the drive root, chosen by whoever creates the backend). "c:\a\b" and
// "\a\b" become <root>/a/b, relative names are taken relative to the
// current directory, backslashes become slashes, and names are otherwise
// used unchanged. Other drives, UNC and "\\?\" paths do not exist here.
// Device names "\\.\NAME" stand for <root>/dev/NAME.
//
// Windows semantics are kept where the logic depends on them: a file
// without write permission can be neither truncated nor deleted (not even
// by root), removing a link to a directory removes the link, and the
// attributes of a link describe the link.
#pragma once

#include <stddef.h>

#include "platform/Os.h"

namespace platform {

class PosixOs final : public Os {
 public:
  // driveRoot: an existing directory, given as a POSIX path.
  explicit PosixOs(const char* driveRoot);

  // Maps a Windows path to the POSIX path it stands for. False when the
  // path has no counterpart here or does not fit.
  bool MapPath(const char* windowsPath, char* out, size_t size) const;
  const char* DriveRoot() const { return root_[0] != '\0' ? root_ : "/"; }

  PLATFORM_OS_OVERRIDES

 private:
  // The file open as fd, taken over; ENOMEM (fd closed) when out of memory.
  int Keep(int fd, bool readAhead, File* file);
  // Closes fd, opened but not to be used; returns error.
  static int Refuse(int fd, int error);
  // MapPath, with why it cannot: 0, ENAMETOOLONG or ENOENT.
  int Map(const char* windowsPath, char* out, size_t size);
  // A held directory for the descriptor fd (taken over), or the error of
  // the open that gave fd (-1: errno says).
  int Hold(int fd, Dir* dir);
  // The entry name relative to the directory descriptor at (or AT_FDCWD),
  // link reported, never followed.
  int StatEntry(int at, const char* name, Attributes* attributes);
  // dir: the held directory whose descriptor at is, or nullptr for a path.
  int RemoveDirectoryEntry(Dir dir, int at, const char* name);
  // The deletion of an entry of a held directory takes what GetAttributesAt
  // last found for that same entry: the walk deletes what it has just asked
  // about, and a second query per file would cost a tenth of the removal.
  // The deletion acts through the same descriptor either way.
  bool Recall(Dir dir, const char* name, Attributes* attributes);

  char root_[4096];  // without trailing slash; "" is "/"
};

}  // namespace platform
