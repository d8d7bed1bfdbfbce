// The Win32 backend: the product's own file system, the package's digest,
// the install lock, process launch, device open, sleep and standard
// output, on the ANSI Win32 calls. Its operations live by concern:
// Win32Files.cpp (files, the package's copy and digest, directories by
// their paths), Win32HeldDirectory.cpp (held directories and their
// entries: the tree walks' operations), Win32Process.cpp (the claim, what
// another process holds, launch, the device) and Win32Os.cpp (the
// backend itself, its error numbers, sleep and output).
#pragma once

#include "platform/Os.h"

namespace platform {

class Win32Os final : public Os {
 public:
  PLATFORM_OS_OVERRIDES

 private:
  // Deletes the entry name of dir through a handle to the entry itself;
  // options: whether it must be a file or a directory.
  int DeleteAt(Dir dir, const char* name, unsigned long options);
  // The machine-wide lock's mutex name; nullptr when there is none to use.
  const char* LockName();

  void* installLock_ = nullptr;  // the mutex, while held
  void* lockNamespace_ = nullptr;  // the private namespace it lives in, once opened
};

// The one Win32 backend of the process.
Win32Os& TheWin32Os();

}  // namespace platform
