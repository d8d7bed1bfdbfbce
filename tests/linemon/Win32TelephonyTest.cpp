// The real telephony backend, run under Wine: its telephony service has no
// line devices, so the monitor must come to nothing, quietly.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/InstallerState.h"
#include "linemon/LineMonitor.h"
#include "platform/win32/Win32Telephony.h"
#include "platform/win32/Win32TelephonyInternal.h"
#include "tests/support/Win32Replaced.h"

namespace {

std::string SystemPath(const char* name) {
  char directory[MAX_PATH];
  const UINT length = GetSystemDirectoryA(directory, MAX_PATH);
  return std::string(directory, length) + "\\" + name;
}

bool SamePath(const std::string& a, const std::string& b) {
  return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

TEST(Win32Telephony, MonitorWithoutLineDevicesReturnsZeroAndLoadsTheSystemTapi) {
  gInstallerState = InstallerState{};
  platform::Telephony* previous = platform::SetTelephony(&platform::TheWin32Telephony());
  EXPECT_EQ(0, InitLineMonitor());
  platform::SetTelephony(previous);
  EXPECT_EQ(kNoLine, gInstallerState.lineMonitor.deviceId) << "registered, no line found";

  HMODULE tapi = GetModuleHandleA("tapi32.dll");
  ASSERT_NE(nullptr, tapi);
  char loaded[MAX_PATH];
  const DWORD length = GetModuleFileNameA(tapi, loaded, MAX_PATH);
  EXPECT_TRUE(SamePath(SystemPath("tapi32.dll"), std::string(loaded, length))) << loaded;
}

// A stand-in for LoadLibraryExA, in the call table's entry, that records
// its calls and, like a loader from before the search flags, can refuse
// LOAD_LIBRARY_SEARCH_SYSTEM32.
struct LoadCall {
  std::string name;
  DWORD flags;
};
std::vector<LoadCall> gLoads;
DWORD gRefusal;  // the error for LOAD_LIBRARY_SEARCH_SYSTEM32; 0: accept it
platform::Win32CallType<platform::kLoadLibraryExA>::Fn gLoad;  // the system's

HMODULE WINAPI ScriptedLoad(LPCSTR name, HANDLE file, DWORD flags) {
  gLoads.push_back({name, flags});
  if (gRefusal != 0 && (flags & LOAD_LIBRARY_SEARCH_SYSTEM32) != 0) {
    SetLastError(gRefusal);
    return nullptr;
  }
  return gLoad(name, file, flags);
}

TEST(Win32Telephony, LoadsFromTheSystemDirectoryOnly) {
  testing_support::Replaced load(platform::kLoadLibraryExA, ScriptedLoad);
  gLoad = testing_support::Replaced::Original<platform::kLoadLibraryExA>(load);
  gLoads.clear();
  gRefusal = 0;
  EXPECT_NE(nullptr, platform::LoadSystemLibrary("tapi32.dll"));
  ASSERT_EQ(1u, gLoads.size());
  EXPECT_EQ("tapi32.dll", gLoads[0].name);
  EXPECT_EQ(static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32), gLoads[0].flags);

  // A loader without the flag: the full path in the system directory.
  gLoads.clear();
  gRefusal = ERROR_INVALID_PARAMETER;
  EXPECT_NE(nullptr, platform::LoadSystemLibrary("tapi32.dll"));
  ASSERT_EQ(2u, gLoads.size());
  EXPECT_TRUE(SamePath(SystemPath("tapi32.dll"), gLoads[1].name)) << gLoads[1].name;
  EXPECT_EQ(static_cast<DWORD>(LOAD_WITH_ALTERED_SEARCH_PATH), gLoads[1].flags);

  // Any other failure is final: no second attempt by another route.
  gLoads.clear();
  gRefusal = ERROR_MOD_NOT_FOUND;
  EXPECT_EQ(nullptr, platform::LoadSystemLibrary("tapi32.dll"));
  EXPECT_EQ(1u, gLoads.size());

  // A name that cannot fit beside the system directory is not cut short.
  gLoads.clear();
  gRefusal = ERROR_INVALID_PARAMETER;
  const std::string longName(MAX_PATH, 'a');
  EXPECT_EQ(nullptr, platform::LoadSystemLibrary(longName.c_str()));
  EXPECT_EQ(1u, gLoads.size());
}

std::vector<uintptr_t> gForwarded;
void RecordCallback(uint32_t device, uint32_t message, uintptr_t instance, uintptr_t param1,
                    uintptr_t param2, uintptr_t param3) {
  gForwarded = {device, message, instance, param1, param2, param3};
}

TEST(Win32Telephony, ServiceCallbackReachesThePortableOne) {
  platform::LineApp app = 0;
  uint32_t count = 0;
  platform::TheWin32Telephony().LineInitialize(&app, nullptr, RecordCallback, "test", &count);
  platform::ForwardLineCallback(1, 12, 3, 4, 5, 6);
  EXPECT_EQ((std::vector<uintptr_t>{1, 12, 3, 4, 5, 6}), gForwarded);
}

}  // namespace
