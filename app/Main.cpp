// Install.exe: the installer on the Win32 backends.
//
// The program is linked without the C runtime's start-up code
// (-nostartfiles, see app/CMakeLists.txt): it reads no arguments or
// environment, has no static constructors or destructors and no thread-local
// data, and writes its diagnostics through the OS backend rather than
// through buffered stdio, so none of what that code sets up is used, and
// leaving it out saves about a third of the file. InstallEntry is the PE
// entry point itself.
#include <stdlib.h>

#include "app/InstallerMain.h"
#include "app/InstallerState.h"
#include "app/PackageDigest.h"
#include "platform/win32/Win32DllSearch.h"
#include "platform/win32/Win32Os.h"
#include "platform/win32/Win32Telephony.h"
#include "platform/win32/Win32Toolkit.h"

// On x86 the loader calls it with a stack aligned to 4 bytes only, hence the
// realignment; on x86-64 the stack is already aligned as the ABI asks, and
// the realignment costs one instruction. It must not return (there is no
// caller to return to that ends the process): exit() ends it with the
// installer's code through ExitProcess, after the C library's own clean-up.
extern "C" __attribute__((force_align_arg_pointer, noreturn, used)) void InstallEntry() {
  platform::RestrictDllSearchToSystem();
  platform::SetOs(&platform::TheWin32Os());
  platform::SetTelephony(&platform::TheWin32Telephony());
  platform::SetToolkit(&platform::TheWin32Toolkit());
  gInstallerState.packageDigest = BuiltInPackageDigest();
  exit(InstallerMain());
}
