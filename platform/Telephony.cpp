#include "platform/Telephony.h"

#include "platform/ServiceSlot.h"
#include "platform/StandIns.h"

namespace platform {
namespace {

// The stand-in (StandIns.h): no telephony service at all.
class NoTelephony final : public Telephony {
 public:
  int32_t LineInitialize(LineApp*, const void*, LineCallbackFn, const char*, uint32_t*) override {
    return kLineErrOperationFailed;
  }
  int32_t LineNegotiateAPIVersion(LineApp, uint32_t, uint32_t, uint32_t, uint32_t*,
                                  ExtensionId*) override {
    return kLineErrOperationFailed;
  }
  int32_t LineGetDevCaps(LineApp, uint32_t, uint32_t, uint32_t, void*) override {
    return kLineErrOperationFailed;
  }
  int32_t LineOpen(LineApp, uint32_t, Line*, uint32_t, uint32_t, uintptr_t, uint32_t, uint32_t,
                   const void*) override {
    return kLineErrOperationFailed;
  }
  int32_t LineGetStatusMessages(Line, uint32_t*, uint32_t*) override {
    return kLineErrOperationFailed;
  }
  int32_t LineSetStatusMessages(Line, uint32_t, uint32_t) override {
    return kLineErrOperationFailed;
  }
  int SetEvent(Event) override { return 0; }
  void* AllocateZeroed(uint32_t) override { return nullptr; }
  void Release(void*) override {}
};

NoTelephony gNoTelephony;
ServiceSlot<Telephony> gTelephony;

}  // namespace

void InstallStandInTelephony() {
  if (gTelephony.Empty()) gTelephony.Set(&gNoTelephony);
}

Telephony& GetTelephony() { return gTelephony.Get(); }
Telephony* SetTelephony(Telephony* telephony) { return gTelephony.Set(telephony); }

}  // namespace platform
