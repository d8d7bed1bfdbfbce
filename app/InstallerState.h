// All of the installer's own state: one process-wide record, zero-filled at
// start and never freed.
#pragma once

#include <stdint.h>

#include "linemon/LineMonitor.h"

inline constexpr int kPathBufferSize = 128;

struct InstallerState {
  char startDirectory[kPathBufferSize];  // current directory at window creation; "" if too long
  char launchPath[kPathBufferSize];      // the setup program started by "Setup Now"
  LineMonitor lineMonitor;
  uint32_t apiVersion;                   // negotiated telephony API version
};

extern InstallerState gInstallerState;
