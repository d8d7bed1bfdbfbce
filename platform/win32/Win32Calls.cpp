#include "platform/win32/Win32Calls.h"

namespace platform {
namespace {

// Zero until first used: no constructor runs in Install.exe (Main.cpp).
// Every system has NtOpenFile, so the table has been looked up once that
// entry is set.
FARPROC gCalls[kLookedUpCallCount];

// The names, in the table's order, one after the other.
const char kNames[] =
#define PLATFORM_WIN32_CALL_NAME(name, result, parameters, arguments, failure) #name "\0"
    PLATFORM_WIN32_LOOKED_UP_CALLS(PLATFORM_WIN32_CALL_NAME)
#undef PLATFORM_WIN32_CALL_NAME
    ;

}  // namespace

FARPROC* SystemCalls() {
  if (gCalls[kNtOpenFile] == nullptr) {
    const char* name = kNames;
    for (int call = 0; call < kLookedUpCallCount; ++call) {
      gCalls[call] =
          GetProcAddress(GetModuleHandleA(call < kFirstKernel32Call ? "ntdll.dll" : "kernel32.dll"), name);
      while (*name++ != '\0') {
      }
    }
  }
  return gCalls;
}

}  // namespace platform
