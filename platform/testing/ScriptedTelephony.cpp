#include "platform/testing/ScriptedTelephony.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>

namespace platform {
namespace {

constexpr int32_t kLineErrBadDeviceId = static_cast<int32_t>(0x80000002);
constexpr int32_t kLineErrIncompatibleApiVersion = static_cast<int32_t>(0x8000000C);
constexpr int32_t kLineErrIncompatibleExtVersion = static_cast<int32_t>(0x8000000D);
constexpr int32_t kLineErrInvalAppHandle = static_cast<int32_t>(0x80000015);
constexpr int32_t kLineErrInvalLineHandle = static_cast<int32_t>(0x8000002B);
constexpr int32_t kLineErrInvalPointer = static_cast<int32_t>(0x80000035);
constexpr uint32_t kServiceVersion = 0x00010004;  // the only version it speaks

uintptr_t Address(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

}  // namespace

const char* TelOpName(TelOp op) {
  switch (op) {
    case TelOp::kLineInitialize: return "LineInitialize";
    case TelOp::kLineNegotiateAPIVersion: return "LineNegotiateAPIVersion";
    case TelOp::kLineGetDevCaps: return "LineGetDevCaps";
    case TelOp::kLineOpen: return "LineOpen";
    case TelOp::kLineGetStatusMessages: return "LineGetStatusMessages";
    case TelOp::kLineSetStatusMessages: return "LineSetStatusMessages";
    case TelOp::kSetEvent: return "SetEvent";
    case TelOp::kAllocateZeroed: return "AllocateZeroed";
    case TelOp::kRelease: return "Release";
  }
  return "?";
}

ScriptedTelephony::~ScriptedTelephony() {
  for (auto& block : blocks_) free(block.first);
}

void ScriptedTelephony::FailCall(TelOp op, uint64_t n, int32_t result) {
  faults_.FailNthOf(op, n, result);
}

void ScriptedTelephony::FailEvery(TelOp op, int32_t result) { faults_.FailEvery(op, result); }

std::vector<TelephonyCall> ScriptedTelephony::CallsOf(TelOp op) const {
  return CallsOfOp(calls_, op);
}
std::vector<TelOp> ScriptedTelephony::Ops() const { return OpsOf(calls_); }

bool ScriptedTelephony::Begin(TelOp op, std::vector<uintptr_t> args, int32_t* result) {
  calls_.push_back(TelephonyCall{op, std::move(args), "", 0, 0});
  if (!faults_.Next(op, result)) return false;
  calls_.back().result = *result;
  return true;
}

int32_t ScriptedTelephony::End(int32_t result) {
  calls_.back().result = result;
  return result;
}

bool ScriptedTelephony::KnownDevice(LineApp lineApp, uint32_t device) const {
  return initialized_ && lineApp == lineAppHandle && device < devices.size();
}

int32_t ScriptedTelephony::LineInitialize(LineApp* lineApp, const void* instance,
                                          LineCallbackFn callback, const char* appName,
                                          uint32_t* deviceCount) {
  int32_t result;
  const bool failed = Begin(TelOp::kLineInitialize,
                            {Address(lineApp), Address(instance),
                             Address(reinterpret_cast<const void*>(callback)), Address(appName),
                             Address(deviceCount)},
                            &result);
  calls_.back().appName = appName != nullptr ? appName : "(null)";
  if (deviceCount != nullptr) calls_.back().inValue = *deviceCount;
  if (failed) return result;
  if (lineApp == nullptr || deviceCount == nullptr) return End(kLineErrInvalPointer);
  *lineApp = lineAppHandle;
  if (writesDeviceCount) *deviceCount = static_cast<uint32_t>(devices.size());
  callback_ = callback;
  initialized_ = true;
  return End(0);
}

int32_t ScriptedTelephony::LineNegotiateAPIVersion(LineApp lineApp, uint32_t device,
                                                   uint32_t lowVersion, uint32_t highVersion,
                                                   uint32_t* apiVersion,
                                                   ExtensionId* extensionId) {
  int32_t result;
  if (Begin(TelOp::kLineNegotiateAPIVersion,
            {lineApp, device, lowVersion, highVersion, Address(apiVersion), Address(extensionId)},
            &result)) {
    return result;
  }
  if (!initialized_ || lineApp != lineAppHandle) return End(kLineErrInvalAppHandle);
  if (device >= devices.size()) return End(kLineErrBadDeviceId);
  if (apiVersion == nullptr || extensionId == nullptr) return End(kLineErrInvalPointer);
  if (lowVersion > kServiceVersion || highVersion < kServiceVersion) {
    return End(kLineErrIncompatibleApiVersion);
  }
  *apiVersion = kServiceVersion;
  memset(extensionId, 0, sizeof *extensionId);
  return End(0);
}

int32_t ScriptedTelephony::LineGetDevCaps(LineApp lineApp, uint32_t device, uint32_t apiVersion,
                                          uint32_t extVersion, void* caps) {
  int32_t result;
  const bool failed = Begin(TelOp::kLineGetDevCaps,
                            {lineApp, device, apiVersion, extVersion, Address(caps)}, &result);
  const uint32_t total = caps != nullptr ? DevCapsField(caps, kDevCapsTotalSizeOffset) : 0;
  calls_.back().inValue = total;
  if (failed) return result;
  if (!KnownDevice(lineApp, device)) return End(kLineErrBadDeviceId);
  if (apiVersion != kServiceVersion) return End(kLineErrIncompatibleApiVersion);
  if (caps == nullptr) return End(kLineErrInvalPointer);
  auto block = blocks_.find(caps);
  if (block != blocks_.end() && total > block->second) {
    misuse_.push_back("capabilities block claims " + std::to_string(total) + " bytes of " +
                      std::to_string(block->second));
    return End(kLineErrInvalPointer);
  }
  if (total < kLineDevCapsFixedSize) return End(kLineErrStructureTooSmall);
  // The fixed part, with the fields the tests script; the variable part,
  // where it fits, as a recognisable pattern.
  const ScriptedDevice& scripted = devices[device];
  unsigned char* bytes = static_cast<unsigned char*>(caps);
  memset(bytes + 4, 0, kLineDevCapsFixedSize - 4);
  const uint32_t used = std::min(total, std::max(scripted.neededSize, kLineDevCapsFixedSize));
  memset(bytes + kLineDevCapsFixedSize, 0xCD, used - kLineDevCapsFixedSize);
  SetDevCapsField(caps, kDevCapsNeededSizeOffset, scripted.neededSize);
  SetDevCapsField(caps, 8, used);  // dwUsedSize
  SetDevCapsField(caps, kDevCapsBearerModesOffset, scripted.bearerModes);
  return End(0);
}

int32_t ScriptedTelephony::LineOpen(LineApp lineApp, uint32_t device, Line* line,
                                    uint32_t apiVersion, uint32_t extVersion,
                                    uintptr_t callbackInstance, uint32_t privileges,
                                    uint32_t mediaModes, const void* callParams) {
  int32_t result;
  if (Begin(TelOp::kLineOpen,
            {lineApp, device, Address(line), apiVersion, extVersion, callbackInstance, privileges,
             mediaModes, Address(callParams)},
            &result)) {
    return result;
  }
  if (!KnownDevice(lineApp, device)) return End(kLineErrBadDeviceId);
  if (line == nullptr) return End(kLineErrInvalPointer);
  // As TAPI: an extension version needs lineNegotiateExtVersion first.
  if (extVersion != 0) return End(kLineErrIncompatibleExtVersion);
  *line = lineHandle;
  lineOpen_ = true;
  return End(0);
}

int32_t ScriptedTelephony::LineGetStatusMessages(Line line, uint32_t* lineStatesOut,
                                                 uint32_t* addressStatesOut) {
  int32_t result;
  if (Begin(TelOp::kLineGetStatusMessages,
            {line, Address(lineStatesOut), Address(addressStatesOut)}, &result)) {
    return result;
  }
  if (!lineOpen_ || line != lineHandle) return End(kLineErrInvalLineHandle);
  if (lineStatesOut == nullptr || addressStatesOut == nullptr) return End(kLineErrInvalPointer);
  *lineStatesOut = lineStates;
  *addressStatesOut = addressStates;
  return End(0);
}

int32_t ScriptedTelephony::LineSetStatusMessages(Line line, uint32_t newLineStates,
                                                 uint32_t newAddressStates) {
  int32_t result;
  if (Begin(TelOp::kLineSetStatusMessages, {line, newLineStates, newAddressStates}, &result)) {
    return result;
  }
  if (!lineOpen_ || line != lineHandle) return End(kLineErrInvalLineHandle);
  lineStates = newLineStates;
  addressStates = newAddressStates;
  return End(0);
}

int ScriptedTelephony::SetEvent(Event event) {
  int32_t result;
  if (Begin(TelOp::kSetEvent, {Address(event)}, &result)) return End(0);
  return End(event != nullptr ? 1 : 0);  // no event was ever created: nothing to signal
}

void* ScriptedTelephony::AllocateZeroed(uint32_t size) {
  int32_t result;
  if (Begin(TelOp::kAllocateZeroed, {size}, &result)) {
    calls_.back().result = 0;
    return nullptr;
  }
  void* block = calloc(1, size != 0 ? size : 1);
  if (block == nullptr) return nullptr;
  blocks_[block] = size;
  calls_.back().result = static_cast<int64_t>(Address(block));
  return block;
}

void ScriptedTelephony::Release(void* block) {
  int32_t result;
  Begin(TelOp::kRelease, {Address(block)}, &result);
  auto it = blocks_.find(block);
  if (it == blocks_.end()) {
    misuse_.push_back("released a block it was not given (or twice)");
    return;
  }
  free(block);
  blocks_.erase(it);
}

}  // namespace platform
