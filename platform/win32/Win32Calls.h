// Every system call of the Win32 backends, in one table, so that a test
// can replace one entry at a time and put it back: to fail the call and
// see the backend's own failure path run, to play a system the host is not
// (one with private namespaces, under Wine, which has none), or to see a
// call's exact arguments. The backends make each call by the name the
// table gives it, os and the system's name (osCreateFileA), which says
// that the call can be replaced; tests/platform/check-win32-imports.sh
// fails when Install.exe or a backend imports a function that is not
// listed here.
//
// Most of them are imports: osName is an inline function that calls the
// import, which the compiler makes "call [slot]" through the program's
// import address table, the table of pointers the loader fills. That table
// costs no byte of ours, and a test replaces an entry of it in its own
// program (tests/support/Win32Replaced.h). The few that not every system
// has, or that only ntdll exports, are looked up by name at first use into
// SystemCalls(); a function the system lacks stays nullptr there, and its
// caller decides what runs without it (osName calls the entry, so it is
// asked about first: SystemCall<kName>() != nullptr). A new call is one
// more line of a list below.
//
// tapi32's line calls are not here: the telephony backend looks them up
// in the DLL it loads on first use, into a table of its own
// (Win32Telephony.cpp), which its tests replace as a whole.
#pragma once

#include <windows.h>
#include <sddl.h>
#include <wincrypt.h>
#include <winternl.h>

#include <stddef.h>
#include <stdlib.h>

namespace platform {

// X(name, result, parameters, the parameters' names as passed on, what it
// returns when it fails; GetLastError says why, the Nt calls return the
// status itself).
//
// Looked up: ntdll's first, then kernel32's, then user32's.
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
  X(OpenPrivateNamespaceA, HANDLE, (LPVOID boundary, LPCSTR alias), (boundary, alias), nullptr) \
  /* Vista, and 7 without KB2533623, lack it. */                                              \
  X(SetDefaultDllDirectories, BOOL, (DWORD directories), (directories), FALSE)                \
  /* From Windows 10 1607 on. */                                                              \
  X(GetDpiForWindow, UINT, (HWND window), (window), 0)

// Imported from kernel32 and advapi32 by the OS backend: the calls the
// backend sweeps fail (tests/support/SystemCallFaults.h).
#define PLATFORM_WIN32_OS_CALLS(X)                                                             \
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

// Imported from the C library (msvcrt), in its calling convention, by the
// OS backend: failed by the sweeps too.
#define PLATFORM_WIN32_C_CALLS(X)                         \
  X(malloc, void*, (size_t size), (size), nullptr)        \
  X(free, void, (void* block), (block), void())

// Imported from kernel32 by the other backends (the process's DLL search,
// its title, the telephony's library, event and memory, the toolkit's
// start-up) and by the lookup itself; and the last error, which no sweep
// fails: it is how the failure of the others is read.
#define PLATFORM_WIN32_PROCESS_CALLS(X)                                                         \
  X(GetLastError, DWORD, (), (), 0)                                                           \
  X(GetModuleHandleA, HMODULE, (LPCSTR name), (name), nullptr)                                \
  X(GetProcAddress, FARPROC, (HMODULE module, LPCSTR name), (module, name), nullptr)          \
  X(GetModuleFileNameA, DWORD, (HMODULE module, LPSTR name, DWORD size), (module, name, size), 0) \
  X(GetSystemDirectoryA, UINT, (LPSTR path, UINT size), (path, size), 0)                      \
  X(LoadLibraryExA, HMODULE, (LPCSTR name, HANDLE file, DWORD flags), (name, file, flags), nullptr) \
  X(FreeLibrary, BOOL, (HMODULE module), (module), FALSE)                                     \
  X(SetDllDirectoryA, BOOL, (LPCSTR path), (path), FALSE)                                     \
  X(SetEvent, BOOL, (HANDLE event), (event), FALSE)                                           \
  X(GlobalAlloc, HGLOBAL, (UINT flags, SIZE_T size), (flags, size), nullptr)                  \
  X(GlobalFree, HGLOBAL, (HGLOBAL memory), (memory), memory)                                  \
  X(GetStartupInfoA, VOID, (LPSTARTUPINFOA startup), (startup), void())                       \
  /* The host's links (Win32Links.h), for secpack and the tests. */                           \
  X(GetFileAttributesW, DWORD, (LPCWSTR name), (name), INVALID_FILE_ATTRIBUTES)

// Imported from user32 and gdi32 by the toolkit and the message box.
#define PLATFORM_WIN32_WINDOW_CALLS(X)                                                          \
  X(CharLowerA, LPSTR, (LPSTR text), (text), text)                                            \
  X(CreateWindowExA, HWND,                                                                    \
    (DWORD extendedStyle, LPCSTR className, LPCSTR caption, DWORD style, int x, int y, int width, \
     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID parameter),              \
    (extendedStyle, className, caption, style, x, y, width, height, parent, menu, instance,   \
     parameter),                                                                              \
    nullptr)                                                                                  \
  X(DefWindowProcA, LRESULT, (HWND window, UINT message, WPARAM wParam, LPARAM lParam),       \
    (window, message, wParam, lParam), 0)                                                     \
  X(DestroyWindow, BOOL, (HWND window), (window), FALSE)                                      \
  X(DispatchMessageA, LRESULT, (const MSG* message), (message), 0)                            \
  X(GetDC, HDC, (HWND window), (window), nullptr)                                             \
  X(GetMessageA, BOOL, (LPMSG message, HWND window, UINT first, UINT last),                   \
    (message, window, first, last), -1)                                                       \
  X(GetSystemMetrics, int, (int which), (which), 0)                                           \
  X(GetWindowRect, BOOL, (HWND window, LPRECT rect), (window, rect), FALSE)                   \
  X(InvalidateRect, BOOL, (HWND window, const RECT* rect, BOOL erase), (window, rect, erase), FALSE) \
  X(IsWindowEnabled, BOOL, (HWND window), (window), FALSE)                                    \
  X(IsWindowVisible, BOOL, (HWND window), (window), FALSE)                                    \
  X(KillTimer, BOOL, (HWND window, UINT_PTR id), (window, id), FALSE)                         \
  X(LoadCursorA, HCURSOR, (HINSTANCE instance, LPCSTR name), (instance, name), nullptr)       \
  X(LoadIconA, HICON, (HINSTANCE instance, LPCSTR name), (instance, name), nullptr)           \
  X(LoadImageA, HANDLE,                                                                       \
    (HINSTANCE instance, LPCSTR name, UINT type, int width, int height, UINT flags),          \
    (instance, name, type, width, height, flags), nullptr)                                    \
  X(MessageBoxA, int, (HWND owner, LPCSTR text, LPCSTR caption, UINT type),                   \
    (owner, text, caption, type), 0)                                                          \
  X(PostMessageA, BOOL, (HWND window, UINT message, WPARAM wParam, LPARAM lParam),            \
    (window, message, wParam, lParam), FALSE)                                                 \
  X(PostQuitMessage, VOID, (int code), (code), void())                                        \
  X(RegisterClassExA, ATOM, (const WNDCLASSEXA* windowClass), (windowClass), 0)               \
  X(ReleaseDC, int, (HWND window, HDC dc), (window, dc), 0)                                   \
  X(SendMessageA, LRESULT, (HWND window, UINT message, WPARAM wParam, LPARAM lParam),         \
    (window, message, wParam, lParam), 0)                                                     \
  X(SetActiveWindow, HWND, (HWND window), (window), nullptr)                                  \
  X(SetFocus, HWND, (HWND window), (window), nullptr)                                         \
  X(SetTimer, UINT_PTR, (HWND window, UINT_PTR id, UINT elapse, TIMERPROC procedure),         \
    (window, id, elapse, procedure), 0)                                                       \
  X(SetWindowPos, BOOL,                                                                       \
    (HWND window, HWND after, int x, int y, int width, int height, UINT flags),              \
    (window, after, x, y, width, height, flags), FALSE)                                       \
  X(ShowWindow, BOOL, (HWND window, int command), (window, command), FALSE)                   \
  X(TranslateMessage, BOOL, (const MSG* message), (message), FALSE)                           \
  X(CreateFontIndirectA, HFONT, (const LOGFONTA* font), (font), nullptr)                      \
  X(DeleteObject, BOOL, (HGDIOBJ object), (object), FALSE)                                    \
  X(GetDeviceCaps, int, (HDC dc, int index), (dc, index), 0)                                  \
  X(GetObjectA, int, (HANDLE object, int size, LPVOID into), (object, size, into), 0)         \
  X(GetStockObject, HGDIOBJ, (int which), (which), nullptr)                                   \
  X(GetTextExtentPoint32A, BOOL, (HDC dc, LPCSTR text, int length, LPSIZE size),              \
    (dc, text, length, size), FALSE)                                                          \
  X(GetTextFaceA, int, (HDC dc, int size, LPSTR face), (dc, size, face), 0)                   \
  X(GetTextMetricsA, BOOL, (HDC dc, LPTEXTMETRICA metrics), (dc, metrics), FALSE)             \
  X(SelectObject, HGDIOBJ, (HDC dc, HGDIOBJ object), (dc, object), nullptr)

// The whole table; the sweeps replace the calls up to kFaultedCallCount.
#define PLATFORM_WIN32_CALLS(X)                                                  \
  PLATFORM_WIN32_LOOKED_UP_CALLS(X) PLATFORM_WIN32_OS_CALLS(X) PLATFORM_WIN32_C_CALLS(X) \
  PLATFORM_WIN32_PROCESS_CALLS(X) PLATFORM_WIN32_WINDOW_CALLS(X)

// The C library's own functions that Install.exe takes from msvcrt (the
// logic's and the compiler's), and the standard error stream that the
// host's SHA-256 reports on: no system calls, but listed, so that a new
// import shows here too. X(name).
#define PLATFORM_WIN32_C_LIBRARY(X) \
  X(exit) X(memchr) X(memcmp) X(strchr) X(strcmp) X(strlen) X(__acrt_iob_func)

enum Win32Call {
#define PLATFORM_WIN32_CALL_ID(name, result, parameters, arguments, failure) k##name,
  PLATFORM_WIN32_CALLS(PLATFORM_WIN32_CALL_ID)
#undef PLATFORM_WIN32_CALL_ID
  kWin32CallCount,
  kFirstKernel32Call = kCreateBoundaryDescriptorA,  // the looked-up ones from here
  kFirstUser32Call = kGetDpiForWindow,
  kLookedUpCallCount = kCreateFileA,
  kFaultedCallCount = kGetLastError,  // the sweeps' calls end here
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
PLATFORM_WIN32_OS_CALLS(PLATFORM_WIN32_CALL_TYPE)
PLATFORM_WIN32_PROCESS_CALLS(PLATFORM_WIN32_CALL_TYPE)
PLATFORM_WIN32_WINDOW_CALLS(PLATFORM_WIN32_CALL_TYPE)
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
  static_assert(call < kLookedUpCallCount, "imports are called through their slots");
  // Through void(*)() so the compiler accepts the change of signature.
  return reinterpret_cast<typename Win32CallType<call>::Fn>(
      reinterpret_cast<void (*)()>(SystemCalls()[call]));
}

// The names the backends call them by: osName, inlined into the call of
// the import's slot or of the looked-up entry, no byte of its own.
#define PLATFORM_WIN32_LOOKED_UP_NAME(name, result, parameters, arguments, failure) \
  [[gnu::always_inline]] inline result os##name parameters { return SystemCall<k##name>() arguments; }
#define PLATFORM_WIN32_IMPORTED_NAME(name, result, parameters, arguments, failure) \
  [[gnu::always_inline]] inline result os##name parameters { return ::name arguments; }
PLATFORM_WIN32_LOOKED_UP_CALLS(PLATFORM_WIN32_LOOKED_UP_NAME)
PLATFORM_WIN32_OS_CALLS(PLATFORM_WIN32_IMPORTED_NAME)
PLATFORM_WIN32_C_CALLS(PLATFORM_WIN32_IMPORTED_NAME)
PLATFORM_WIN32_PROCESS_CALLS(PLATFORM_WIN32_IMPORTED_NAME)
PLATFORM_WIN32_WINDOW_CALLS(PLATFORM_WIN32_IMPORTED_NAME)
#undef PLATFORM_WIN32_IMPORTED_NAME
#undef PLATFORM_WIN32_LOOKED_UP_NAME

}  // namespace platform
