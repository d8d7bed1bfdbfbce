// The stand-ins for the Win32 backend's table: the program's import address
// table for the imports, SystemCalls() for the looked-up calls.
#include <errno.h>
#include <stdint.h>

#include <type_traits>

#include "platform/win32/Win32Calls.h"
#include "tests/support/SystemCallFaults.h"
#include "tests/support/Win32Replaced.h"

namespace testing_support {

// ERROR_DISK_FULL as the backend reports it, and STATUS_DISK_FULL, NtOpenFile's failure.
const int kInjectedError = ENOSPC;

namespace {

using platform::Win32Call;

SystemCallFaults* gFaults = nullptr;
// The thread under test. The table is the whole program's, GoogleTest's
// own threads call through it too (its thread-local watcher waits and
// closes handles): their calls pass straight on, neither failed nor counted.
DWORD gOwner = 0;
// The sweeps' calls: the OS backend's, the first kFaultedCallCount of the table.
FARPROC* gSlots[platform::kFaultedCallCount];
FARPROC gSystem[platform::kFaultedCallCount];  // what the stand-ins replaced

template <typename Value>
intptr_t AsNumber(Value value) {
  if constexpr (std::is_pointer_v<Value>) {
    return reinterpret_cast<intptr_t>(value);
  } else {
    return static_cast<intptr_t>(value);
  }
}

template <typename First, typename... Rest>
intptr_t FirstOf(First first, Rest...) {
  return AsNumber(first);
}

// What a call gives back, counted before it is made: its first argument.
// These give it back even when made to fail (Windows has no failure for a
// handle it gave, nor for memory it handed out).
bool Gives(Win32Call call) {
  switch (call) {
    case platform::kCloseHandle:
    case platform::kLocalFree:
    case platform::kCryptDestroyHash:
    case platform::kCryptReleaseContext:
    case platform::kDeleteBoundaryDescriptor:
    case platform::kfree:
      return true;
    default:
      return false;
  }
}

// What a call got, from its result; the private namespace stays the
// process's for good, by design (Win32Os::LockName).
bool Got(Win32Call call, intptr_t result) {
  switch (call) {
    case platform::kCreateFileA:
      return result != AsNumber(INVALID_HANDLE_VALUE);
    case platform::kNtOpenFile:
      return result >= 0;
    case platform::kCreateMutexA:
    case platform::kCreateBoundaryDescriptorA:
    case platform::kCryptAcquireContextA:
    case platform::kCryptCreateHash:
    case platform::kConvertStringSecurityDescriptorToSecurityDescriptorA:
    case platform::kmalloc:
      return result != 0;
    default:
      return false;
  }
}

template <Win32Call call>
typename platform::Win32CallType<call>::Fn System() {
  return reinterpret_cast<typename platform::Win32CallType<call>::Fn>(
      reinterpret_cast<void (*)()>(gSystem[call]));
}

template <Win32Call call, typename Call>
auto Through(Call system) {
  if constexpr (std::is_void_v<decltype(system())>) {
    system();
  } else {
    const auto result = system();
    if (Got(call, AsNumber(result))) gFaults->Account(1);
    return result;
  }
}

#define STAND_IN_BODY(name, result, parameters, arguments, failure)                   \
  {                                                                                  \
    constexpr Win32Call call = platform::k##name;                                    \
    if (GetCurrentThreadId() != gOwner) return System<call>() arguments;             \
    if (Gives(call) && FirstOf arguments != 0) gFaults->Account(-1);                 \
    if (!std::is_void_v<result> && gFaults->Next(#name)) {                           \
      if (Gives(call)) System<call>() arguments;                                     \
      SetLastError(ERROR_DISK_FULL);                                                 \
      return failure;                                                                \
    }                                                                                \
    return Through<call>([&]() -> result { return System<call>() arguments; });     \
  }
#define STAND_IN(name, result, parameters, arguments, failure) \
  result WINAPI StandIn_##name parameters STAND_IN_BODY(name, result, parameters, arguments, failure)
#define C_STAND_IN(name, result, parameters, arguments, failure) \
  result __cdecl StandIn_##name parameters STAND_IN_BODY(name, result, parameters, arguments, failure)
PLATFORM_WIN32_LOOKED_UP_CALLS(STAND_IN)
PLATFORM_WIN32_OS_CALLS(STAND_IN)
PLATFORM_WIN32_C_CALLS(C_STAND_IN)
#undef C_STAND_IN
#undef STAND_IN
#undef STAND_IN_BODY

}  // namespace

SystemCallFaults::SystemCallFaults() {
  static const FARPROC kStandIns[] = {
#define STAND_IN_ENTRY(name, result, parameters, arguments, failure) \
  reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(StandIn_##name)),
      PLATFORM_WIN32_LOOKED_UP_CALLS(STAND_IN_ENTRY) PLATFORM_WIN32_OS_CALLS(STAND_IN_ENTRY)
      PLATFORM_WIN32_C_CALLS(STAND_IN_ENTRY)
#undef STAND_IN_ENTRY
  };
  gFaults = this;
  gOwner = GetCurrentThreadId();
  for (int call = 0; call < platform::kFaultedCallCount; ++call) {
    FARPROC* slot = SlotOf(static_cast<Win32Call>(call));
    if (slot == nullptr || *slot == nullptr) continue;  // a call the system lacks stays missing
    gSlots[call] = slot;
    gSystem[call] = *slot;
    WriteSlot(slot, kStandIns[call]);
  }
}

int64_t SystemCallFaults::OpenDescriptors() { return 0; }  // handles: the stand-ins count them

SystemCallFaults::~SystemCallFaults() {
  for (int call = 0; call < platform::kFaultedCallCount; ++call) {
    if (gSlots[call] != nullptr) WriteSlot(gSlots[call], gSystem[call]);
    gSlots[call] = nullptr;
  }
  gFaults = nullptr;
}

}  // namespace testing_support
