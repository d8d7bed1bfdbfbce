// Starts the line monitor through the real telephony backend and prints
// its result: what the installer does at window creation, without the
// window. With --plain-load it instead loads tapi32.dll by its bare name,
// the way a program open to DLL planting would (the planting check's
// control case).
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "linemon/LineMonitor.h"
#include "platform/win32/Win32Telephony.h"

int main(int argc, char** argv) {
  if (argc > 1 && strcmp(argv[1], "--plain-load") == 0) {
    HMODULE module = LoadLibraryA("tapi32.dll");
    printf("LoadLibraryA: %s\n", module != nullptr ? "loaded" : "failed");
    return 0;
  }
  platform::SetTelephony(&platform::TheWin32Telephony());
  printf("InitLineMonitor: %d\n", InitLineMonitor());
  return 0;
}
