#include "platform/win32/Win32Calls.h"

namespace platform {
namespace {

// Zero until first used: no constructor runs in Install.exe (Main.cpp).
// Every system has CreateFileA, so the table has been looked up once that
// entry is set.
FARPROC gCalls[kWin32CallCount];

// The names, in the table's order, one after the other.
const char kNames[] =
#define PLATFORM_WIN32_CALL_NAME(name, result, parameters) #name "\0"
    PLATFORM_WIN32_CALLS(PLATFORM_WIN32_CALL_NAME)
#undef PLATFORM_WIN32_CALL_NAME
    ;

}  // namespace

FARPROC* SystemCalls() {
  if (gCalls[kCreateFileA] == nullptr) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const char* name = kNames;
    for (FARPROC& entry : gCalls) {
      entry = GetProcAddress(kernel, name);
      while (*name++ != '\0') {
      }
    }
  }
  return gCalls;
}

}  // namespace platform
