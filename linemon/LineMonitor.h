// The telephony line monitor's record (one instance, inside InstallerState).
#pragma once

#include <stdint.h>

#include "platform/Telephony.h"

struct LineMonitor {
  platform::Event completionEvent;   // never created in this program
  platform::LineApp lineApplication;
  platform::Line line;
  uint32_t deviceId;                 // 0 until registered, then kNoLine until chosen
  uint32_t pendingRequest;
};
