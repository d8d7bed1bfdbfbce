// A Windows security descriptor, read from its self-relative bytes: whose
// it is, and whether its DACL lets anyone beyond SYSTEM, the Administrators
// and the owner change the object. Plain bytes and no system call, so that
// the rule the tree removal rests on is tested natively on descriptors the
// tests spell out byte by byte; the Win32 backend reads the bytes from the
// system (QueryDirectory).
#pragma once

#include <stdint.h>

#include "platform/Os.h"

namespace platform {

// Fills info's owner, ownerSize, ownerKind and othersMayChange. False when
// the bytes are not a well-formed self-relative descriptor with an owner.
// What it cannot read it counts against the object: an ACE of a kind it
// does not know that may allow, a missing or null DACL.
bool ReadSecurityDescriptor(const unsigned char* bytes, uint32_t size, DirectoryInfo* info);

}  // namespace platform
