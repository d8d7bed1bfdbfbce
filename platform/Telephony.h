// Telephony handles as the logic sees them: opaque. The telephony service
// interface itself lives beside them (see the line monitor).
#pragma once

#include <stdint.h>

namespace platform {

struct EventTag;
using Event = EventTag*;
using LineApp = uint32_t;   // telephony application handle
using Line = uint32_t;      // line handle

}  // namespace platform
