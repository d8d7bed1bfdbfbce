// Test double for the telephony seam: a scripted telephony service. Tests
// describe its line devices (bearer modes, the capabilities size each
// reports as needed) and the line's status-message masks, pick the result
// of any call, and read back every call with its arguments. It also checks
// how its memory blocks are used: every block released once, no
// capabilities block claiming more bytes than were allocated for it.
#pragma once

#include <stdint.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/Telephony.h"
#include "platform/testing/FaultPlan.h"

namespace platform {

enum class TelOp {
  kLineInitialize,
  kLineNegotiateAPIVersion,
  kLineGetDevCaps,
  kLineOpen,
  kLineGetStatusMessages,
  kLineSetStatusMessages,
  kSetEvent,
  kAllocateZeroed,
  kRelease,
};
const char* TelOpName(TelOp op);

struct TelephonyCall {
  TelOp op;
  std::vector<uintptr_t> args;  // in the call's order; pointers as addresses
  std::string appName;          // LineInitialize
  uint32_t inValue;             // LineInitialize: *deviceCount on entry;
                                // LineGetDevCaps: dwTotalSize on entry
  int64_t result;               // the value returned (blocks as addresses)
};

struct ScriptedDevice {
  uint32_t bearerModes = 0;
  uint32_t neededSize = 400;    // reported as dwNeededSize
};

inline constexpr uint32_t kBearerModeVoice = 0x00000001;
inline constexpr uint32_t kBearerModeData = 0x00000008;

class ScriptedTelephony final : public Telephony {
 public:
  // The service.
  std::vector<ScriptedDevice> devices;
  bool writesDeviceCount = true;   // false: succeeds without writing it
  LineApp lineAppHandle = 0x5A;
  Line lineHandle = 0x6B;          // handed out by a successful LineOpen
  uint32_t lineStates = 0;         // what LineGetStatusMessages reports
  uint32_t addressStates = 0;

  // The Nth call (from 1) of op returns result instead of doing its work.
  // AllocateZeroed then gives nullptr and SetEvent 0, whatever result says.
  void FailCall(TelOp op, uint64_t n, int32_t result = kLineErrOperationFailed);
  void FailEvery(TelOp op, int32_t result = kLineErrOperationFailed);

  // What happened.
  const std::vector<TelephonyCall>& Calls() const { return calls_; }
  std::vector<TelephonyCall> CallsOf(TelOp op) const;
  std::vector<TelOp> Ops() const;
  LineCallbackFn registeredCallback() const { return callback_; }
  int OutstandingBlocks() const { return static_cast<int>(blocks_.size()); }
  // Misuse seen: released twice or unknown blocks, oversized claims.
  const std::vector<std::string>& Misuse() const { return misuse_; }

  ~ScriptedTelephony();

  int32_t LineInitialize(LineApp* lineApp, const void* instance, LineCallbackFn callback,
                         const char* appName, uint32_t* deviceCount) override;
  int32_t LineNegotiateAPIVersion(LineApp lineApp, uint32_t device, uint32_t lowVersion,
                                  uint32_t highVersion, uint32_t* apiVersion,
                                  ExtensionId* extensionId) override;
  int32_t LineGetDevCaps(LineApp lineApp, uint32_t device, uint32_t apiVersion,
                         uint32_t extVersion, void* caps) override;
  int32_t LineOpen(LineApp lineApp, uint32_t device, Line* line, uint32_t apiVersion,
                   uint32_t extVersion, uintptr_t callbackInstance, uint32_t privileges,
                   uint32_t mediaModes, const void* callParams) override;
  int32_t LineGetStatusMessages(Line line, uint32_t* lineStates,
                                uint32_t* addressStates) override;
  int32_t LineSetStatusMessages(Line line, uint32_t lineStates, uint32_t addressStates) override;
  int SetEvent(Event event) override;
  void* AllocateZeroed(uint32_t size) override;
  void Release(void* block) override;

 private:
  // Logs the call; true with *result set when the script makes it fail.
  bool Begin(TelOp op, std::vector<uintptr_t> args, int32_t* result);
  int32_t End(int32_t result);
  bool KnownDevice(LineApp lineApp, uint32_t device) const;

  std::vector<TelephonyCall> calls_;
  FaultPlan<TelOp> faults_;
  LineCallbackFn callback_ = nullptr;
  bool initialized_ = false;
  bool lineOpen_ = false;
  std::map<void*, uint32_t> blocks_;  // outstanding block -> size
  std::vector<std::string> misuse_;
};

}  // namespace platform
