// The Win32 backend: the product's own file system, process launch, device
// open, sleep, message box and standard output, on the ANSI Win32 calls.
#pragma once

#include "platform/Os.h"

namespace platform {

class Win32Os final : public Os {
 public:
  PLATFORM_OS_OVERRIDES

 private:
  int Fail();  // records the last Win32 error as an errno value, returns -1
  // Any operation but a query right after NextEntry forgets the entry the
  // enumeration just yielded: the file system may have changed since.
  void Forget();
  // The machine-wide lock's mutex name; nullptr when there is none to use.
  const char* LockName();

  int lastError_ = 0;
  void* installLock_ = nullptr;  // the mutex, while held
  void* lockNamespace_ = nullptr;  // the private namespace it lives in, once opened
  // The directory last entered, while it is the current one for sure.
  const void* entered_ = nullptr;
  // The enumeration, held and current, whose last name was just yielded.
  const void* yielded_ = nullptr;
};

// The one Win32 backend of the process.
Win32Os& TheWin32Os();

// From here on, DLLs this process loads by name (its own loads and those
// of the system's DLLs) come from the system directory only, never from
// the program's folder (a downloads folder, where anyone may have put a
// DLL) or the current directory. The program's first act.
void RestrictDllSearchToSystem();

}  // namespace platform
