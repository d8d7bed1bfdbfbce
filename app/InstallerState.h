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
  // The SHA-256 (32 bytes) of the one "data.sec" this build may unpack, so
  // that a package swapped beside a release's program is refused; set by
  // the process entry before the window is made; nullptr: any archive.
  const unsigned char* packageDigest;
  bool installStarted;                   // "Setup Now" has run: it runs once
  // The directory "Setup Now" made as "c:\ZUV_tmp", as the object it is
  // (volume and id): this run's own package is in that one, whatever is
  // found at the name later.
  bool madeExtractDirectory;
  uint64_t extractDirectoryVolume;
  uint64_t extractDirectoryId;
  uint64_t extractDirectoryCreated;
};

extern InstallerState gInstallerState;
