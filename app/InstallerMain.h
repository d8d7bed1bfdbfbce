// The process entry, on whatever toolkit and OS backend the host installed.
#pragma once

// Runs the installer: creates its window, shows it, runs the message loop
// until the window is closed or the application terminated. Returns 0.
int InstallerMain();
