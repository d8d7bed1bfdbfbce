// The telephony line monitor: at window creation it registers with the
// telephony service, picks the line device that carries data calls (the
// modem), opens it for monitoring and asks for its device-specific state
// messages. The line stays open for the life of the process.
#pragma once

#include <stdint.h>

#include "platform/Telephony.h"

// The monitor's record (one instance, inside InstallerState).
struct LineMonitor {
  // Signalled by a successful completion reply (LineCallback), which also
  // clears pendingRequest. The installer issues no asynchronous request and
  // creates no event: the handle stays empty and the signal does nothing.
  platform::Event completionEvent;
  platform::LineApp lineApplication;
  platform::Line line;
  uint32_t deviceId;                 // 0 until registered, then kNoLine until chosen
  uint32_t pendingRequest;
};

// No data line chosen. A data line at this very index is indistinguishable
// from it and so counts as none.
inline constexpr uint32_t kNoLine = 255;

// Registers, chooses the last data-capable line, opens it and turns on its
// device-specific state messages. 1 when all of that succeeded, else 0.
int InitLineMonitor();
// Reads the device's full capabilities (first: the fixed-size ones already
// read, giving the size needed) and chooses the device if it carries data.
void SelectDataLine(uint32_t deviceIndex, const void* firstCaps);
// Opens the line for monitoring data-modem calls: 1 on success, else 0.
int OpenDataLine(uint32_t deviceId);
// The telephony callback.
void LineCallback(uint32_t device, uint32_t message, uintptr_t instance, uintptr_t param1,
                  uintptr_t param2, uintptr_t param3);
