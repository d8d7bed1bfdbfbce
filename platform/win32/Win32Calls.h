// The system calls of the Win32 backend that go through a table of
// function pointers instead of straight to the import, so that a test can
// replace one entry at a time: to play a system the host is not (one with
// private namespaces, under Wine, which has none) or to see a call's exact
// arguments. Every entry is looked up by name in kernel32 when the table
// is first used; a function the system lacks stays nullptr, and its caller
// decides what runs without it. A new call is one more line of
// PLATFORM_WIN32_CALLS; the backend calls it as SystemCall<kName>()(...).
#pragma once

#include <windows.h>

namespace platform {

// X(name, result, parameters), in the order of the table.
#define PLATFORM_WIN32_CALLS(X)                                                               \
  X(CreateFileA, HANDLE,                                                                      \
    (LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition, \
     DWORD flags, HANDLE templateFile))                                                        \
  X(CreateMutexA, HANDLE, (LPSECURITY_ATTRIBUTES security, BOOL owned, LPCSTR name))          \
  /* From Windows Vista on; Wine 8 has them as stubs GetProcAddress does not find. */         \
  X(CreateBoundaryDescriptorA, HANDLE, (LPCSTR name, ULONG flags))                            \
  X(AddSIDToBoundaryDescriptor, BOOL, (HANDLE * boundary, PSID sid))                          \
  X(DeleteBoundaryDescriptor, VOID, (HANDLE boundary))                                        \
  X(CreatePrivateNamespaceA, HANDLE,                                                          \
    (LPSECURITY_ATTRIBUTES security, LPVOID boundary, LPCSTR alias))                           \
  X(OpenPrivateNamespaceA, HANDLE, (LPVOID boundary, LPCSTR alias))

enum Win32Call {
#define PLATFORM_WIN32_CALL_ID(name, result, parameters) k##name,
  PLATFORM_WIN32_CALLS(PLATFORM_WIN32_CALL_ID)
#undef PLATFORM_WIN32_CALL_ID
  kWin32CallCount
};

// Each call's type, as Win32CallType<kName>::Fn.
template <Win32Call call>
struct Win32CallType;
#define PLATFORM_WIN32_CALL_TYPE(name, result, parameters) \
  template <>                                               \
  struct Win32CallType<k##name> {                           \
    using Fn = result(WINAPI*) parameters;                  \
  };
PLATFORM_WIN32_CALLS(PLATFORM_WIN32_CALL_TYPE)
#undef PLATFORM_WIN32_CALL_TYPE

// The process's table, looked up on its first use; nullptr entries are
// missing from the system. A test replaces an entry after that first use
// and puts it back when it is done.
FARPROC* SystemCalls();

// The entry of one call, typed.
template <Win32Call call>
typename Win32CallType<call>::Fn SystemCall() {
  // Through void(*)() so the compiler accepts the change of signature.
  return reinterpret_cast<typename Win32CallType<call>::Fn>(
      reinterpret_cast<void (*)()>(SystemCalls()[call]));
}

}  // namespace platform
