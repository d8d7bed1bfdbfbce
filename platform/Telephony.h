// The seam between the line monitor and the telephony service (TAPI 1.4
// line calls, event signalling and zero-filled memory blocks).
//
// The operations keep TAPI's names, argument order and results (0 on
// success, a negative LINEERR_ value on failure: already 0 or an error
// code, as the OS seam's are, in TAPI's own codes), with portable types, so
// the monitor reads like the API it drives and a backend forwards each call
// unchanged. Backends: Win32 (the product; tapi32.dll loaded from the system
// directory only) and the scripted double in testing/. No OS type ever
// crosses this header.
#pragma once

#include <stdint.h>
#include <string.h>

namespace platform {

struct EventTag;
using Event = EventTag*;    // nullptr: no event
using LineApp = uint32_t;   // telephony application handle
using Line = uint32_t;      // line handle

// The service's result codes the logic and the doubles use.
inline constexpr int32_t kLineErrOperationFailed = static_cast<int32_t>(0x80000048);
inline constexpr int32_t kLineErrStructureTooSmall = static_cast<int32_t>(0x8000004D);

// The line callback, TAPI's signature with portable types. The Win32
// backend adapts it to the calling convention the service calls.
using LineCallbackFn = void (*)(uint32_t device, uint32_t message, uintptr_t instance,
                                uintptr_t param1, uintptr_t param2, uintptr_t param3);

// The extension identifier lineNegotiateAPIVersion writes (four words).
struct ExtensionId {
  uint32_t id[4];
};

// Line-device capabilities travel as a raw block in the service's layout:
// a fixed part of kLineDevCapsFixedSize bytes (TAPI 1.4) followed by
// variable data. These read and write the fields the logic needs; the Win32
// backend checks the offsets against the system's LINEDEVCAPS.
inline constexpr uint32_t kLineDevCapsFixedSize = 240;
inline constexpr uint32_t kDevCapsTotalSizeOffset = 0;
inline constexpr uint32_t kDevCapsNeededSizeOffset = 4;
inline constexpr uint32_t kDevCapsBearerModesOffset = 52;

inline uint32_t DevCapsField(const void* caps, uint32_t offset) {
  uint32_t value;
  memcpy(&value, static_cast<const unsigned char*>(caps) + offset, sizeof value);
  return value;
}
inline void SetDevCapsField(void* caps, uint32_t offset, uint32_t value) {
  memcpy(static_cast<unsigned char*>(caps) + offset, &value, sizeof value);
}

class Telephony {
 public:
  virtual int32_t LineInitialize(LineApp* lineApp, const void* instance, LineCallbackFn callback,
                                 const char* appName, uint32_t* deviceCount) = 0;
  virtual int32_t LineNegotiateAPIVersion(LineApp lineApp, uint32_t device, uint32_t lowVersion,
                                          uint32_t highVersion, uint32_t* apiVersion,
                                          ExtensionId* extensionId) = 0;
  // caps: a block whose first word (dwTotalSize) gives its size.
  virtual int32_t LineGetDevCaps(LineApp lineApp, uint32_t device, uint32_t apiVersion,
                                 uint32_t extVersion, void* caps) = 0;
  virtual int32_t LineOpen(LineApp lineApp, uint32_t device, Line* line, uint32_t apiVersion,
                           uint32_t extVersion, uintptr_t callbackInstance, uint32_t privileges,
                           uint32_t mediaModes, const void* callParams) = 0;
  virtual int32_t LineGetStatusMessages(Line line, uint32_t* lineStates,
                                        uint32_t* addressStates) = 0;
  virtual int32_t LineSetStatusMessages(Line line, uint32_t lineStates,
                                        uint32_t addressStates) = 0;
  // 1 when the event was signalled, 0 when not (no such event).
  virtual int SetEvent(Event event) = 0;
  // A zero-filled block, or nullptr; Release takes what AllocateZeroed gave.
  virtual void* AllocateZeroed(uint32_t size) = 0;
  virtual void Release(void* block) = 0;

 protected:
  ~Telephony() = default;
};

// The process-wide backend, installed by the host (or its stand-in, with
// which every line call fails as if there were no telephony service:
// StandIns.h). SetTelephony returns the previous one.
Telephony& GetTelephony();
Telephony* SetTelephony(Telephony* telephony);

}  // namespace platform
