#include "linemon/LineMonitor.h"

#include "app/InstallerState.h"

namespace {

constexpr char kAppName[] = "RMO CPL Icon";
constexpr uint32_t kApiVersion = 0x00010004;  // TAPI 1.4, both bounds
constexpr uint32_t kFirstCapsSize = 240;
// Larger needs are not believed: a modem's capabilities take a few hundred
// bytes, and the block is allocated at whatever size the service reports.
constexpr uint32_t kMaxCapsSize = 64 * 1024;
constexpr uint32_t kBearerModeData = 0x00000008;
constexpr uint32_t kPrivilegeMonitor = 0x00000002;
constexpr uint32_t kMediaModeDataModem = 0x00000010;
constexpr uint32_t kLineStateDevSpecific = 0x00020000;
constexpr uint32_t kLastLineMessage = 19;
constexpr uint32_t kLineReply = 12;

static_assert(kFirstCapsSize >= platform::kLineDevCapsFixedSize,
              "the first read must hold the fixed part, dwNeededSize included");

}  // namespace

int InitLineMonitor() {
  platform::Telephony& telephony = platform::GetTelephony();
  LineMonitor& monitor = gInstallerState.lineMonitor;

  // Some services report success without writing the count.
  uint32_t deviceCount = 0;
  if (telephony.LineInitialize(&monitor.lineApplication, nullptr, LineCallback, kAppName,
                               &deviceCount) != 0) {
    return 0;
  }
  monitor.deviceId = kNoLine;

  for (uint32_t index = 0; index < deviceCount; ++index) {
    platform::ExtensionId extensionId;
    if (telephony.LineNegotiateAPIVersion(monitor.lineApplication, index, kApiVersion,
                                          kApiVersion, &gInstallerState.apiVersion,
                                          &extensionId) != 0) {
      return 0;
    }
    uint32_t firstCaps[kFirstCapsSize / sizeof(uint32_t)] = {};
    platform::SetDevCapsField(firstCaps, platform::kDevCapsTotalSizeOffset, kFirstCapsSize);
    if (telephony.LineGetDevCaps(monitor.lineApplication, index, gInstallerState.apiVersion, 0,
                                 firstCaps) != 0) {
      return 0;
    }
    SelectDataLine(index, firstCaps);
  }

  if (monitor.deviceId == kNoLine) return 0;
  OpenDataLine(monitor.deviceId);  // a failed open makes the next call fail

  uint32_t lineStates = 0;
  uint32_t addressStates = 0;
  if (telephony.LineGetStatusMessages(monitor.line, &lineStates, &addressStates) != 0) return 0;
  if ((lineStates & kLineStateDevSpecific) != 0) return 1;
  return telephony.LineSetStatusMessages(monitor.line, lineStates | kLineStateDevSpecific,
                                         addressStates) == 0
             ? 1
             : 0;
}

void SelectDataLine(uint32_t deviceIndex, const void* firstCaps) {
  platform::Telephony& telephony = platform::GetTelephony();
  const uint32_t needed = platform::DevCapsField(firstCaps, platform::kDevCapsNeededSizeOffset);
  // A block smaller than the fixed part would be read past its end.
  if (needed < platform::kLineDevCapsFixedSize || needed > kMaxCapsSize) return;

  void* caps = telephony.AllocateZeroed(needed);
  if (caps == nullptr) return;
  platform::SetDevCapsField(caps, platform::kDevCapsTotalSizeOffset, needed);
  if (telephony.LineGetDevCaps(gInstallerState.lineMonitor.lineApplication, deviceIndex,
                               gInstallerState.apiVersion, 0, caps) == 0 &&
      (platform::DevCapsField(caps, platform::kDevCapsBearerModesOffset) & kBearerModeData) != 0) {
    gInstallerState.lineMonitor.deviceId = deviceIndex;  // the last data line wins
  }
  telephony.Release(caps);
}

int OpenDataLine(uint32_t deviceId) {
  LineMonitor& monitor = gInstallerState.lineMonitor;
  return platform::GetTelephony().LineOpen(monitor.lineApplication, deviceId, &monitor.line,
                                           gInstallerState.apiVersion, 0, 0, kPrivilegeMonitor,
                                           kMediaModeDataModem, nullptr) == 0
             ? 1
             : 0;
}

void LineCallback(uint32_t, uint32_t message, uintptr_t, uintptr_t, uintptr_t param2, uintptr_t) {
  if (message > kLastLineMessage) return;
  if (message == kLineReply && param2 == 0) {
    LineMonitor& monitor = gInstallerState.lineMonitor;
    platform::GetTelephony().SetEvent(monitor.completionEvent);
    monitor.pendingRequest = 0;
  }
}
