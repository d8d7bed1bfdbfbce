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

TEST_F(LineMonitorTest, OpensTheLastDataLineWithTheListedArguments) {
  Devices(5, {1, 3});
  tel.devices[3].neededSize = 612;
  tel.lineStates = 0x00000004;
  tel.addressStates = 0x00000007;
  EXPECT_EQ(1, InitLineMonitor());

  const uintptr_t app = tel.lineAppHandle;
  const uintptr_t line = tel.lineHandle;
  const TelephonyCall& init = tel.Calls()[0];
  EXPECT_EQ((std::vector<uintptr_t>{Address(&monitor().lineApplication), 0,
                                    Address(reinterpret_cast<const void*>(&LineCallback)),
                                    init.args[3], init.args[4]}),
            init.args);
  EXPECT_EQ("RMO CPL Icon", init.appName);

  const auto negotiations = tel.CallsOf(TelOp::kLineNegotiateAPIVersion);
  ASSERT_EQ(5u, negotiations.size());
  for (uint32_t i = 0; i < 5; ++i) {
    EXPECT_EQ((std::vector<uintptr_t>{app, i, kVersion14, kVersion14,
                                      Address(&gInstallerState.apiVersion),
                                      negotiations[i].args[5]}),
              negotiations[i].args);
    EXPECT_NE(0u, negotiations[i].args[5]) << "extension id record";
  }
  EXPECT_EQ(kVersion14, gInstallerState.apiVersion);

  // Per device: the 240-byte read, then the full one into a block of the
  // size it reported as needed.
  const auto caps = tel.CallsOf(TelOp::kLineGetDevCaps);
  ASSERT_EQ(10u, caps.size());
  for (uint32_t i = 0; i < 5; ++i) {
    const TelephonyCall& first = caps[2 * i];
    const TelephonyCall& full = caps[2 * i + 1];
    EXPECT_EQ((std::vector<uintptr_t>{app, i, kVersion14, 0, first.args[4]}), first.args);
    EXPECT_EQ(240u, first.inValue);
    EXPECT_EQ((std::vector<uintptr_t>{app, i, kVersion14, 0, full.args[4]}), full.args);
    EXPECT_EQ(tel.devices[i].neededSize, full.inValue);
  }
  const auto allocations = tel.CallsOf(TelOp::kAllocateZeroed);
  ASSERT_EQ(5u, allocations.size());
  EXPECT_EQ(612u, allocations[3].args[0]);
  EXPECT_EQ(5u, tel.CallsOf(TelOp::kRelease).size());

  const auto opens = tel.CallsOf(TelOp::kLineOpen);
  ASSERT_EQ(1u, opens.size());
  EXPECT_EQ((std::vector<uintptr_t>{app, 3, Address(&monitor().line), kVersion14, 0, 0,
                                    0x00000002, 0x00000010, 0}),
            opens[0].args);
  EXPECT_EQ(3u, monitor().deviceId);

  const auto gets = tel.CallsOf(TelOp::kLineGetStatusMessages);
  ASSERT_EQ(1u, gets.size());
  EXPECT_EQ(line, gets[0].args[0]);
  // Device-specific states added; the address mask passed back unchanged.
  const auto sets = tel.CallsOf(TelOp::kLineSetStatusMessages);
  ASSERT_EQ(1u, sets.size());
  EXPECT_EQ((std::vector<uintptr_t>{line, 0x00020004, 0x00000007}), sets[0].args);
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
