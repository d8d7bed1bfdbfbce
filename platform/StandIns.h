// The stand-ins of the process-wide services: an OS whose every operation
// fails, no telephony service, and a toolkit that can create no window and
// shows nothing. Tools, tests and fuzzers install them first, so that a
// service they do not install themselves shows up as failures rather than
// as a crash (secpack extract has no window to show the reader's messages
// in). Install.exe installs all its backends before any logic runs, and
// carries no stand-in: no byte of them is linked into it.
#pragma once

namespace platform {

// Puts its stand-in into every slot that holds no backend yet.
void InstallStandIns();

// Each service's own part of it (Os.cpp, Telephony.cpp, Toolkit.cpp).
void InstallStandInOs();
void InstallStandInTelephony();
void InstallStandInToolkit();

}  // namespace platform
