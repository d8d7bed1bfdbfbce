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
      // Every program of ours has loaded these three: ntdll and kernel32
      // are in every process, and user32 is imported by whatever makes a
      // window; one that has not loaded it finds nothing.
      const HMODULE module = osGetModuleHandleA(call < kFirstKernel32Call  ? "ntdll.dll"
                                                : call < kFirstUser32Call ? "kernel32.dll"
                                                                          : "user32.dll");
      gCalls[call] = module != nullptr ? osGetProcAddress(module, name) : nullptr;
      while (*name++ != '\0') {
      }
    }
  }
  return gCalls;
}

}  // namespace platform
