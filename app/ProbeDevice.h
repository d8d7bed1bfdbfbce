// The driver's presence test: can its device be opened by name?
#pragma once

// 1 when the device opens (it is closed again at once), 0 when it does not.
int ProbeDevice(const char* name);
