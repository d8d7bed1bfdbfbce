#include <gtest/gtest.h>

#include "app/InstallerState.h"
#include "linemon/LineMonitor.h"
#include "platform/testing/ScriptedTelephony.h"

using platform::ScriptedDevice;
using platform::ScriptedTelephony;
using platform::TelephonyCall;
using platform::TelOp;
using platform::kBearerModeData;
using platform::kBearerModeVoice;

namespace {

constexpr uint32_t kVersion14 = 0x00010004;
constexpr uint32_t kDevSpecific = 0x00020000;

uintptr_t Address(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

// A fresh monitor state and a scripted service installed for one case;
// on the way out it checks that every block went back, once.
class Scripted {
 public:
  Scripted() : previous_(platform::SetTelephony(&tel)) { gInstallerState = InstallerState{}; }
  ~Scripted() {
    EXPECT_EQ(0, tel.OutstandingBlocks()) << "every capabilities block is released";
    for (const std::string& misuse : tel.Misuse()) ADD_FAILURE() << misuse;
    platform::SetTelephony(previous_);
  }

  // Devices 0..count-1, voice only except those listed as data lines.
  void Devices(uint32_t count, std::initializer_list<uint32_t> dataLines) {
    tel.devices.assign(count, ScriptedDevice{kBearerModeVoice, 400});
    for (uint32_t index : dataLines) tel.devices[index].bearerModes |= kBearerModeData;
  }
  std::vector<uint32_t> DevicesOf(TelOp op) const {
    std::vector<uint32_t> result;
    for (const TelephonyCall& call : tel.CallsOf(op)) result.push_back(call.args[1]);
    return result;
  }
  LineMonitor& monitor() { return gInstallerState.lineMonitor; }

  ScriptedTelephony tel;

 private:
  platform::Telephony* previous_;
};

class LineMonitorTest : public ::testing::Test, public Scripted {};

TEST_F(LineMonitorTest, NoDevicesRegistersAndOpensNothing) {
  EXPECT_EQ(0, InitLineMonitor());
  EXPECT_EQ(std::vector<TelOp>{TelOp::kLineInitialize}, tel.Ops());
  EXPECT_EQ(kNoLine, monitor().deviceId);
}

TEST_F(LineMonitorTest, DeviceCountIsPresetForServicesThatDoNotWriteIt) {
  Devices(2, {1});
  tel.writesDeviceCount = false;
  EXPECT_EQ(0, InitLineMonitor());
  EXPECT_EQ(0u, tel.Calls()[0].inValue);
  EXPECT_EQ(std::vector<TelOp>{TelOp::kLineInitialize}, tel.Ops());
}

TEST_F(LineMonitorTest, FailedRegistrationLeavesTheMonitorUntouched) {
  Devices(2, {1});
  tel.FailCall(TelOp::kLineInitialize, 1);
  EXPECT_EQ(0, InitLineMonitor());
  EXPECT_EQ(std::vector<TelOp>{TelOp::kLineInitialize}, tel.Ops());
  EXPECT_EQ(0u, monitor().deviceId);
}

// The last data-capable device is opened, for monitoring data calls, and
// its line also reports device-specific states from then on, its address
// states as they were. The scripted service speaks TAPI 1.4 only and
// refuses a block read past its size; the registration's name, the
// versions, the first read's size, the privilege and the media mode are
// the service's contract, and checked as such.
TEST(LineMonitor, OpensTheLastDataLineForMonitoring) {
  const struct {
    uint32_t devices;
    std::initializer_list<uint32_t> dataLines;
    uint32_t opened;
  } cases[] = {{5, {1, 3}, 3}, {1, {0}, 0}, {4, {0}, 0}, {3, {0, 1, 2}, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.opened);
    Scripted run;
    run.Devices(c.devices, c.dataLines);
    run.tel.devices[c.opened].neededSize = 612;
    run.tel.lineStates = 0x00000004;
    run.tel.addressStates = 0x00000007;
    EXPECT_EQ(1, InitLineMonitor());
    EXPECT_EQ(c.opened, run.monitor().deviceId);
    EXPECT_EQ(std::vector<uint32_t>{c.opened}, run.DevicesOf(TelOp::kLineOpen));
    EXPECT_EQ(kDevSpecific | 0x00000004, run.tel.lineStates);
    EXPECT_EQ(0x00000007u, run.tel.addressStates);
  }
  Scripted run;
  run.Devices(2, {1});
  EXPECT_EQ(1, InitLineMonitor());
  EXPECT_EQ("RMO CPL Icon", run.tel.Calls()[0].appName);
  EXPECT_EQ(&LineCallback, run.tel.registeredCallback());
  const TelephonyCall negotiation = run.tel.CallsOf(TelOp::kLineNegotiateAPIVersion)[0];
  EXPECT_EQ(kVersion14, negotiation.args[2]);
  EXPECT_EQ(kVersion14, negotiation.args[3]);
  EXPECT_EQ(240u, run.tel.CallsOf(TelOp::kLineGetDevCaps)[0].inValue);
  const TelephonyCall open = run.tel.CallsOf(TelOp::kLineOpen)[0];
  EXPECT_EQ(0x00000002u, open.args[6]);  // LINECALLPRIVILEGE_MONITOR
  EXPECT_EQ(0x00000010u, open.args[7]);  // LINEMEDIAMODE_DATAMODEM
}

TEST_F(LineMonitorTest, LineAlreadyReportingDeviceSpecificStatesIsLeftAlone) {
  Devices(2, {0});
  tel.lineStates = kDevSpecific | 0x00000004;
  EXPECT_EQ(1, InitLineMonitor());
  EXPECT_TRUE(tel.CallsOf(TelOp::kLineSetStatusMessages).empty());
  EXPECT_EQ(kDevSpecific | 0x00000004, tel.lineStates);
}

TEST_F(LineMonitorTest, DataLineAtIndex255CountsAsNoLine) {
  Devices(256, {10, 255});
  EXPECT_EQ(0, InitLineMonitor());
  EXPECT_EQ(256u, tel.CallsOf(TelOp::kLineNegotiateAPIVersion).size());
  EXPECT_TRUE(tel.CallsOf(TelOp::kLineOpen).empty());
  EXPECT_EQ(kNoLine, monitor().deviceId);
}

TEST(LineMonitor, AnyErrorOfItsOwnCallsEndsTheMonitorThere) {
  struct Case {
    const char* name;
    TelOp op;
    uint64_t nth;
    std::vector<uint32_t> negotiated;  // devices negotiated with
    bool opened;
  };
  const Case cases[] = {
      // The failure at device 1 hides the data line at 2.
      {"negotiation at device 1", TelOp::kLineNegotiateAPIVersion, 2, {0, 1}, false},
      {"first capabilities of device 1", TelOp::kLineGetDevCaps, 3, {0, 1}, false},
      {"reading the status messages", TelOp::kLineGetStatusMessages, 1, {0, 1, 2, 3}, true},
      {"setting the status messages", TelOp::kLineSetStatusMessages, 1, {0, 1, 2, 3}, true},
      // A failed open leaves the line empty; asking it for its messages fails.
      {"opening the line", TelOp::kLineOpen, 1, {0, 1, 2, 3}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scripted run;
    run.Devices(4, {2});
    run.tel.FailCall(c.op, c.nth);
    EXPECT_EQ(0, InitLineMonitor());
    EXPECT_EQ(c.negotiated, run.DevicesOf(TelOp::kLineNegotiateAPIVersion));
    EXPECT_EQ(c.opened, !run.tel.CallsOf(TelOp::kLineOpen).empty());
  }
}

TEST(LineMonitor, UntrustworthyCapabilitiesSkipOnlyThatDevice) {
  struct Case {
    const char* name;
    uint32_t neededSize;
    bool failAllocation;
    bool failFullRead;
    bool allocated;
  };
  const Case cases[] = {
      {"needed size 0", 0, false, false, false},
      {"needed size below the fixed part", 239, false, false, false},
      {"needed size absurdly large", 0xFFFFFFF0u, false, false, false},
      {"needed size just above the limit", 64 * 1024 + 1, false, false, false},
      {"block cannot be allocated", 400, true, false, true},
      {"full capabilities cannot be read", 400, false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scripted run;
    // Data lines at 1 and 3; device 3 is the doubtful one.
    run.Devices(5, {1, 3});
    run.tel.devices[3].neededSize = c.neededSize;
    if (c.failAllocation) run.tel.FailCall(TelOp::kAllocateZeroed, 4);
    if (c.failFullRead) run.tel.FailCall(TelOp::kLineGetDevCaps, 8);
    EXPECT_EQ(1, InitLineMonitor());
    EXPECT_EQ(1u, run.monitor().deviceId);
    EXPECT_EQ(5u, run.tel.CallsOf(TelOp::kLineNegotiateAPIVersion).size()) << "the search goes on";
    EXPECT_EQ(c.allocated ? 5u : 4u, run.tel.CallsOf(TelOp::kAllocateZeroed).size());
  }
}

TEST_F(LineMonitorTest, NeededSizesAtTheLimitsAreTrusted) {
  Devices(2, {0, 1});
  tel.devices[0].neededSize = 240;
  tel.devices[1].neededSize = 64 * 1024;
  EXPECT_EQ(1, InitLineMonitor());
  EXPECT_EQ(1u, monitor().deviceId);
}

TEST_F(LineMonitorTest, CallbackActsOnlyOnSuccessfulReplies) {
  int event;
  monitor().completionEvent = reinterpret_cast<platform::Event>(&event);
  monitor().pendingRequest = 77;

  LineCallback(0, 12, 0, 77, 0x80000048, 0);  // LINE_REPLY, failed
  LineCallback(0, 8, 0, kDevSpecific, 0, 0);   // LINE_LINEDEVSTATE
  LineCallback(0, 20, 0, 77, 0, 0);            // beyond the line messages
  EXPECT_EQ(77u, monitor().pendingRequest);
  EXPECT_TRUE(tel.Calls().empty());

  LineCallback(0, 12, 0, 12345, 0, 0);  // LINE_REPLY, success, whatever request
  EXPECT_EQ(0u, monitor().pendingRequest);
  const auto events = tel.CallsOf(TelOp::kSetEvent);
  ASSERT_EQ(1u, events.size());
  EXPECT_EQ(Address(&event), events[0].args[0]);
}

}  // namespace
