// The Win32 telephony backend: the system's tapi32.dll, loaded on first use
// from the system directory only, never from the program's own directory.
#pragma once

#include "platform/Telephony.h"

namespace platform {

Telephony& TheWin32Telephony();

}  // namespace platform
