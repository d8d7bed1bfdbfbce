// The protection of the directories the installer makes private.
#pragma once

#include <stddef.h>

namespace platform {

// The descriptor, in SDDL: full control for SYSTEM, the Administrators and
// the user running the installer, inherited by everything below, nobody
// else; "P" keeps out what the parent would pass on (c:\ lets every user
// create folders and files below it). False when it cannot be built.
bool PrivateDirectorySddl(char* sddl, size_t size);

}  // namespace platform
