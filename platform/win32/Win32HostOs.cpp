#include "platform/HostOs.h"
#include "platform/Win32Os.h"

namespace platform {

Os& HostOs() { return TheWin32Os(); }

}  // namespace platform
