// The POSIX backend: runs the installer's file handling natively, for the
// provider's tool, the tests and the fuzzers.
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
  // What GetAttributes found for a name (kept with the name, in known_,
  // for the one operation after it).
  struct KnownEntry {
    bool valid;
    unsigned mode;            // st_mode of the name itself
    bool targetIsDirectory;   // for a link: whether it leads to a directory
  };
  struct KnownName : KnownEntry {
    char path[4096];          // the native path it was found at
  };

  int Fail();  // records errno, returns -1
  bool Map(const char* windowsPath, char* out, size_t size);
  // Any operation but a deletion right after GetAttributes forgets its
  // answer: the file system may have changed since.
  void Forget();
  bool MapKeepingWhatIsKnown(const char* windowsPath, char* out, size_t size);
  // The kept answer for native, if it is the one kept; forgets it either way.
  bool Recall(const char* native, KnownEntry* entry);
  // The entry at native, link reported, never followed; false: errno says why.
  bool Look(const char* native, KnownEntry* entry);

  char root_[4096];  // without trailing slash; "" is "/"
  int lastError_ = 0;
  KnownName known_ = {};
};

}  // namespace platform
