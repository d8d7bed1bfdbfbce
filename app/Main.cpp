// Install.exe: the installer on the Win32 backends.
#include "app/InstallerMain.h"
#include "platform/Win32Os.h"
#include "platform/Win32Telephony.h"
#include "platform/Win32Toolkit.h"

int main() {
  platform::RestrictDllSearchToSystem();
  platform::SetOs(&platform::TheWin32Os());
  platform::SetTelephony(&platform::TheWin32Telephony());
  platform::SetToolkit(&platform::TheWin32Toolkit());
  return InstallerMain();
}
