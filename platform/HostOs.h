// The process's real backend, as the build chose it (platform/CMakeLists.txt):
// Win32 on Windows, elsewhere POSIX with "/" as the drive root, so that a
// native absolute path maps onto itself. For the tools and tests that act on
// the host's own files; Install.exe installs its backend itself.
#pragma once

#include "platform/Os.h"

namespace platform {

Os& HostOs();

}  // namespace platform
