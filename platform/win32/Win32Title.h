// The application title: the program's file name without its directory, cut
// at the first ".", every character after the first in lower case.
// INSTALL.EXE gives "Install". Used as message-box caption and task-bar label.
#pragma once

#include <stddef.h>

namespace platform {

void ApplicationTitle(char* title, size_t size);

}  // namespace platform
