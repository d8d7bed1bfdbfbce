// The system calls of the Win32 OS backend, in one table, so that a test
// can replace one entry at a time and put it back: to fail the call and
// see the backend's own failure path run, to play a system the host is not
// (one with private namespaces, under Wine, which has none), or to see a
// call's exact arguments.
//
// Most of them are imports: the backend calls them as plain functions,
// which the compiler makes "call [slot]" through the program's import
// address table, the table of pointers the loader fills. That table costs
// no byte of ours, and a test replaces an entry of it in its own program
// (tests/support/Win32Replaced.h). The few that not every system has, or
// that only ntdll exports, are looked up by name at first use into
// SystemCalls(); a function the system lacks stays nullptr there, and its
// caller decides what runs without it; the backend calls one as
// SystemCall<kName>()(...). A new call is one more line of a list below.
#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <winternl.h>

#include <stddef.h>

namespace platform {

// X(name, result, parameters, the parameters' names as passed on, what it
// returns when it fails; GetLastError says why, the Nt calls return the
// status itself).
//
// Looked up: ntdll's first, then kernel32's.
#define PLATFORM_WIN32_LOOKED_UP_CALLS(X)                                                       \
  X(NtOpenFile, NTSTATUS,                                                                     \
    (HANDLE * handle, ACCESS_MASK access, OBJECT_ATTRIBUTES * object, IO_STATUS_BLOCK * status, \
     ULONG share, ULONG options),                                                             \
    (handle, access, object, status, share, options), static_cast<NTSTATUS>(0xC000007FL))     \
  X(RtlNtStatusToDosError, ULONG, (NTSTATUS status), (status), ERROR_MR_MID_NOT_FOUND)        \
  X(NtQuerySecurityObject, NTSTATUS,                                                          \
    (HANDLE object, SECURITY_INFORMATION which, PSECURITY_DESCRIPTOR descriptor, ULONG size,  \
     PULONG needed),                                                                          \
    (object, which, descriptor, size, needed), static_cast<NTSTATUS>(0xC000007FL))            \
  /* From Windows Vista on; Wine 8 has them as stubs GetProcAddress does not find. */         \
  X(CreateBoundaryDescriptorA, HANDLE, (LPCSTR name, ULONG flags), (name, flags), nullptr)    \
  X(AddSIDToBoundaryDescriptor, BOOL, (HANDLE * boundary, PSID sid), (boundary, sid), FALSE)   \
  X(DeleteBoundaryDescriptor, VOID, (HANDLE boundary), (boundary), void())                    \
  X(CreatePrivateNamespaceA, HANDLE,                                                          \
    (LPSECURITY_ATTRIBUTES security, LPVOID boundary, LPCSTR alias), (security, boundary, alias), \
    nullptr)                                                                                  \
  X(OpenPrivateNamespaceA, HANDLE, (LPVOID boundary, LPCSTR alias), (boundary, alias), nullptr)

// Imported from kernel32 and advapi32.
#define PLATFORM_WIN32_IMPORTED_CALLS(X)                                                        \
  X(CreateFileA, HANDLE,                                                                      \
    (LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition, \
     DWORD flags, HANDLE templateFile),                                                        \
    (name, access, share, security, disposition, flags, templateFile), INVALID_HANDLE_VALUE)   \
  X(CloseHandle, BOOL, (HANDLE object), (object), FALSE)                                      \
  X(ReadFile, BOOL, (HANDLE file, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED overlapped), \
    (file, buffer, size, got, overlapped), FALSE)                                             \
  X(WriteFile, BOOL,                                                                          \
    (HANDLE file, LPCVOID data, DWORD size, LPDWORD put, LPOVERLAPPED overlapped),             \
    (file, data, size, put, overlapped), FALSE)                                               \
  X(SetFilePointerEx, BOOL,                                                                   \
    (HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER position, DWORD method),             \
    (file, distance, position, method), FALSE)                                                \
  X(GetFileSizeEx, BOOL, (HANDLE file, PLARGE_INTEGER size), (file, size), FALSE)             \
  X(GetFileInformationByHandle, BOOL, (HANDLE file, LPBY_HANDLE_FILE_INFORMATION information), \
    (file, information), FALSE)                                                               \
  X(GetFileInformationByHandleEx, BOOL,                                                       \
    (HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information, DWORD size),            \
    (file, kind, information, size), FALSE)                                                   \
  X(SetFileInformationByHandle, BOOL,                                                         \
    (HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information, DWORD size),            \
    (file, kind, information, size), FALSE)                                                   \
  X(GetFileAttributesA, DWORD, (LPCSTR name), (name), INVALID_FILE_ATTRIBUTES)                \
  X(GetFullPathNameA, DWORD, (LPCSTR name, DWORD size, LPSTR full, LPSTR * part),             \
    (name, size, full, part), 0)                                                              \
  X(CreateDirectoryA, BOOL, (LPCSTR name, LPSECURITY_ATTRIBUTES security), (name, security), FALSE) \
  X(RemoveDirectoryA, BOOL, (LPCSTR name), (name), FALSE)                                     \
  X(SetCurrentDirectoryA, BOOL, (LPCSTR name), (name), FALSE)                                 \
  X(GetCurrentDirectoryA, DWORD, (DWORD size, LPSTR buffer), (size, buffer), 0)               \
  X(MultiByteToWideChar, int,                                                                 \
    (UINT codePage, DWORD flags, LPCCH text, int length, LPWSTR wide, int wideSize),          \
    (codePage, flags, text, length, wide, wideSize), 0)                                       \
  X(WideCharToMultiByte, int,                                                                 \
    (UINT codePage, DWORD flags, LPCWCH wide, int wideLength, LPSTR text, int size,           \
     LPCCH substitute, LPBOOL substituted),                                                   \
    (codePage, flags, wide, wideLength, text, size, substitute, substituted), 0)             \
  X(ConvertStringSecurityDescriptorToSecurityDescriptorA, BOOL,                               \
    (LPCSTR sddl, DWORD revision, PSECURITY_DESCRIPTOR * descriptor, PULONG size),            \
    (sddl, revision, descriptor, size), FALSE)                                                \
  X(LocalFree, HLOCAL, (HLOCAL memory), (memory), memory)                                     \
  X(CryptAcquireContextA, BOOL,                                                               \
    (HCRYPTPROV * provider, LPCSTR container, LPCSTR name, DWORD type, DWORD flags),          \
    (provider, container, name, type, flags), FALSE)                                          \
  X(CryptCreateHash, BOOL,                                                                    \
    (HCRYPTPROV provider, ALG_ID algorithm, HCRYPTKEY key, DWORD flags, HCRYPTHASH * hash),   \
    (provider, algorithm, key, flags, hash), FALSE)                                           \
  X(CryptHashData, BOOL, (HCRYPTHASH hash, const BYTE* data, DWORD size, DWORD flags),       \
    (hash, data, size, flags), FALSE)                                                         \
  X(CryptGetHashParam, BOOL,                                                                  \
    (HCRYPTHASH hash, DWORD parameter, BYTE * value, DWORD * size, DWORD flags),              \
    (hash, parameter, value, size, flags), FALSE)                                             \
  X(CryptDestroyHash, BOOL, (HCRYPTHASH hash), (hash), FALSE)                                 \
  X(CryptReleaseContext, BOOL, (HCRYPTPROV provider, DWORD flags), (provider, flags), FALSE)  \
  X(CreateMutexA, HANDLE, (LPSECURITY_ATTRIBUTES security, BOOL owned, LPCSTR name),          \
    (security, owned, name), nullptr)                                                         \
  X(WaitForSingleObject, DWORD, (HANDLE object, DWORD milliseconds), (object, milliseconds),  \
    WAIT_FAILED)                                                                              \
  X(ReleaseMutex, BOOL, (HANDLE mutex), (mutex), FALSE)                                       \
  X(WinExec, UINT, (LPCSTR commandLine, UINT show), (commandLine, show), 0)                   \
  X(Sleep, VOID, (DWORD milliseconds), (milliseconds), void())                                \
  X(GetStdHandle, HANDLE, (DWORD which), (which), INVALID_HANDLE_VALUE)

// Imported from the C library (msvcrt), in its calling convention.
#define PLATFORM_WIN32_C_CALLS(X)                         \
  X(malloc, void*, (size_t size), (size), nullptr)        \
  X(free, void, (void* block), (block), void())

#define PLATFORM_WIN32_CALLS(X) \
  PLATFORM_WIN32_LOOKED_UP_CALLS(X) PLATFORM_WIN32_IMPORTED_CALLS(X) PLATFORM_WIN32_C_CALLS(X)

enum Win32Call {
#define PLATFORM_WIN32_CALL_ID(name, result, parameters, arguments, failure) k##name,
  PLATFORM_WIN32_CALLS(PLATFORM_WIN32_CALL_ID)
#undef PLATFORM_WIN32_CALL_ID
  kWin32CallCount,
  kFirstKernel32Call = kCreateBoundaryDescriptorA,  // the looked-up ones from here
  kLookedUpCallCount = kCreateFileA,
};

// Each call's type, as Win32CallType<kName>::Fn.
template <Win32Call call>
struct Win32CallType;
#define PLATFORM_WIN32_CALL_TYPE(name, result, parameters, arguments, failure) \
  template <>                                                                  \
  struct Win32CallType<k##name> {                                              \
    using Fn = result(WINAPI*) parameters;                                     \
  };
PLATFORM_WIN32_LOOKED_UP_CALLS(PLATFORM_WIN32_CALL_TYPE)
PLATFORM_WIN32_IMPORTED_CALLS(PLATFORM_WIN32_CALL_TYPE)
#undef PLATFORM_WIN32_CALL_TYPE
#define PLATFORM_WIN32_C_CALL_TYPE(name, result, parameters, arguments, failure) \
  template <>                                                                    \
  struct Win32CallType<k##name> {                                                \
    using Fn = result(__cdecl*) parameters;                                      \
  };
PLATFORM_WIN32_C_CALLS(PLATFORM_WIN32_C_CALL_TYPE)
#undef PLATFORM_WIN32_C_CALL_TYPE

// The looked-up entries (the first kLookedUpCallCount calls), looked up
// on first use; nullptr where the system lacks the call. A test replaces
// an entry after that first use and puts it back when it is done.
FARPROC* SystemCalls();

// The entry of one looked-up call, typed.
template <Win32Call call>
typename Win32CallType<call>::Fn SystemCall() {
  static_assert(call < kLookedUpCallCount, "imports are called by their names");
  // Through void(*)() so the compiler accepts the change of signature.
  return reinterpret_cast<typename Win32CallType<call>::Fn>(
      reinterpret_cast<void (*)()>(SystemCalls()[call]));
}

}  // namespace platform
