#include "platform/win32/Win32Telephony.h"

#include <stddef.h>
#include <string.h>
#include <windows.h>
#include <tapi.h>

#include "platform/win32/Win32Calls.h"
#include "platform/win32/Win32TelephonyInternal.h"

namespace platform {

// The portable view of the capabilities block must match the system's.
static_assert(offsetof(LINEDEVCAPS, dwTotalSize) == kDevCapsTotalSizeOffset, "dwTotalSize");
static_assert(offsetof(LINEDEVCAPS, dwNeededSize) == kDevCapsNeededSizeOffset, "dwNeededSize");
static_assert(offsetof(LINEDEVCAPS, dwBearerModes) == kDevCapsBearerModesOffset, "dwBearerModes");
// TAPI 1.4's LINEDEVCAPS ends where 2.0 added dwSettableDevStatus.
static_assert(offsetof(LINEDEVCAPS, dwSettableDevStatus) == kLineDevCapsFixedSize, "1.4 size");
static_assert(sizeof(ExtensionId) == sizeof(LINEEXTENSIONID), "extension id");
static_assert(sizeof(LineApp) == sizeof(HLINEAPP) && sizeof(Line) == sizeof(HLINE), "handles");
static_assert(sizeof(uint32_t) == sizeof(DWORD), "words");

namespace {

using LineInitializeFn = LONG(WINAPI*)(LPHLINEAPP, HINSTANCE, LINECALLBACK, LPCSTR, LPDWORD);
using LineNegotiateAPIVersionFn = LONG(WINAPI*)(HLINEAPP, DWORD, DWORD, DWORD, LPDWORD,
                                                LPLINEEXTENSIONID);
using LineGetDevCapsFn = LONG(WINAPI*)(HLINEAPP, DWORD, DWORD, DWORD, LPLINEDEVCAPS);
using LineOpenFn = LONG(WINAPI*)(HLINEAPP, DWORD, LPHLINE, DWORD, DWORD, DWORD_PTR, DWORD, DWORD,
                                 LPLINECALLPARAMS);
using LineGetStatusMessagesFn = LONG(WINAPI*)(HLINE, LPDWORD, LPDWORD);
using LineSetStatusMessagesFn = LONG(WINAPI*)(HLINE, DWORD, DWORD);

struct TapiEntries {
  LineInitializeFn lineInitialize;
  LineNegotiateAPIVersionFn lineNegotiateAPIVersion;
  LineGetDevCapsFn lineGetDevCaps;
  LineOpenFn lineOpen;
  LineGetStatusMessagesFn lineGetStatusMessages;
  LineSetStatusMessagesFn lineSetStatusMessages;
};

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn* entry) {
  // Through void(*)() so the compiler accepts the change of signature.
  *entry = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(osGetProcAddress(module, name)));
  return *entry != nullptr;
}

LineCallbackFn gCallback;

class Win32Telephony final : public Telephony {
 public:
  int32_t LineInitialize(LineApp* lineApp, const void* instance, LineCallbackFn callback,
                         const char* appName, uint32_t* deviceCount) override {
    if (!Load()) return LINEERR_NODRIVER;
    gCallback = callback;
    return tapi_.lineInitialize(reinterpret_cast<LPHLINEAPP>(lineApp),
                                static_cast<HINSTANCE>(const_cast<void*>(instance)),
                                callback != nullptr ? ForwardLineCallback : nullptr, appName,
                                reinterpret_cast<LPDWORD>(deviceCount));
  }
  int32_t LineNegotiateAPIVersion(LineApp lineApp, uint32_t device, uint32_t lowVersion,
                                  uint32_t highVersion, uint32_t* apiVersion,
                                  ExtensionId* extensionId) override {
    if (!loaded_) return LINEERR_UNINITIALIZED;
    return tapi_.lineNegotiateAPIVersion(lineApp, device, lowVersion, highVersion,
                                         reinterpret_cast<LPDWORD>(apiVersion),
                                         reinterpret_cast<LPLINEEXTENSIONID>(extensionId));
  }
  int32_t LineGetDevCaps(LineApp lineApp, uint32_t device, uint32_t apiVersion,
                         uint32_t extVersion, void* caps) override {
    if (!loaded_) return LINEERR_UNINITIALIZED;
    return tapi_.lineGetDevCaps(lineApp, device, apiVersion, extVersion,
                                static_cast<LPLINEDEVCAPS>(caps));
  }
  int32_t LineOpen(LineApp lineApp, uint32_t device, Line* line, uint32_t apiVersion,
                   uint32_t extVersion, uintptr_t callbackInstance, uint32_t privileges,
                   uint32_t mediaModes, const void* callParams) override {
    if (!loaded_) return LINEERR_UNINITIALIZED;
    return tapi_.lineOpen(lineApp, device, reinterpret_cast<LPHLINE>(line), apiVersion,
                          extVersion, callbackInstance, privileges, mediaModes,
                          static_cast<LPLINECALLPARAMS>(const_cast<void*>(callParams)));
  }
  int32_t LineGetStatusMessages(Line line, uint32_t* lineStates,
                                uint32_t* addressStates) override {
    if (!loaded_) return LINEERR_UNINITIALIZED;
    return tapi_.lineGetStatusMessages(line, reinterpret_cast<LPDWORD>(lineStates),
                                       reinterpret_cast<LPDWORD>(addressStates));
  }
  int32_t LineSetStatusMessages(Line line, uint32_t lineStates, uint32_t addressStates) override {
    if (!loaded_) return LINEERR_UNINITIALIZED;
    return tapi_.lineSetStatusMessages(line, lineStates, addressStates);
  }
  int SetEvent(Event event) override {
    return osSetEvent(reinterpret_cast<HANDLE>(event)) ? 1 : 0;
  }
  void* AllocateZeroed(uint32_t size) override {
    return reinterpret_cast<void*>(osGlobalAlloc(GPTR, size));
  }
  void Release(void* block) override {
    if (block != nullptr) osGlobalFree(reinterpret_cast<HGLOBAL>(block));
  }

 private:
  // Loads tapi32.dll once; it stays loaded, as the line it opens stays open.
  bool Load() {
    if (tried_) return loaded_;
    tried_ = true;
    HMODULE module = LoadSystemLibrary("tapi32.dll");
    if (module == nullptr) return false;
    TapiEntries entries;
    if (!Resolve(module, "lineInitialize", &entries.lineInitialize) ||
        !Resolve(module, "lineNegotiateAPIVersion", &entries.lineNegotiateAPIVersion) ||
        !Resolve(module, "lineGetDevCaps", &entries.lineGetDevCaps) ||
        !Resolve(module, "lineOpen", &entries.lineOpen) ||
        !Resolve(module, "lineGetStatusMessages", &entries.lineGetStatusMessages) ||
        !Resolve(module, "lineSetStatusMessages", &entries.lineSetStatusMessages)) {
      osFreeLibrary(module);
      return false;
    }
    tapi_ = entries;
    loaded_ = true;
    return true;
  }

  bool tried_ = false;
  bool loaded_ = false;
  TapiEntries tapi_ = {};
};

}  // namespace

Telephony& TheWin32Telephony() {
  static Win32Telephony telephony;
  return telephony;
}

// Not inlined into the telephony's first call, which would split it in two.
[[gnu::noinline]] HMODULE LoadSystemLibrary(const char* name) {
  HMODULE module = osLoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module != nullptr || osGetLastError() != ERROR_INVALID_PARAMETER) return module;

  // A loader from before the search flags: name the file in full, and let
  // its own dependencies be looked up beside it rather than beside us.
  char path[MAX_PATH];
  const UINT length = osGetSystemDirectoryA(path, sizeof path);
  const size_t nameLength = strlen(name);
  if (length == 0 || length >= sizeof path || nameLength >= sizeof path - length - 1) {
    return nullptr;
  }
  path[length] = '\\';
  memcpy(path + length + 1, name, nameLength + 1);
  return osLoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void CALLBACK ForwardLineCallback(DWORD device, DWORD message, DWORD_PTR instance,
                                  DWORD_PTR param1, DWORD_PTR param2, DWORD_PTR param3) {
  if (gCallback != nullptr) gCallback(device, message, instance, param1, param2, param3);
}

}  // namespace platform
