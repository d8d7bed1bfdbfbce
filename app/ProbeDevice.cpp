#include "app/ProbeDevice.h"

#include "platform/Os.h"

int ProbeDevice(const char* name) { return platform::GetOs().OpenDevice(name) == 0 ? 1 : 0; }
