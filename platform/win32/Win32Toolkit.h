// The Win32 toolkit: plain window classes, a WndProc and a message loop.
//
// The program's task-bar entry belongs to a small, empty window captioned
// with the application title, which owns the installer window: so the task
// bar shows the title while the window shows its own caption. Minimising
// the window minimises that owner, which the system then shows as the
// task-bar button; restoring it brings the window back.
#pragma once

#include "platform/Toolkit.h"

namespace platform {

// The one Win32 toolkit of the process.
Toolkit& TheWin32Toolkit();

// Class name of the task-bar window (tests look it up).
inline constexpr const char* kTaskBarWindowClass = "InstallerApplication";

}  // namespace platform
