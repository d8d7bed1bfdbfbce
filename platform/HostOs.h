// The real backend of the system this process runs on, for a host program
// that works on the machine's own files: the Win32 one, or natively the
// POSIX one with "/" as the drive root, so that absolute native paths map
// onto themselves. Defined once per system (win32/Win32HostOs.cpp,
// posix/PosixHostOs.cpp), the one chosen by the build.
#pragma once

#include "platform/Os.h"

namespace platform {

Os& HostOs();

}  // namespace platform
