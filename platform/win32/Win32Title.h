// The application title of this process's program file (ApplicationTitleOf,
// with the system's lower-case mapping). Used as message-box caption and
// task-bar label.
#pragma once

#include <stddef.h>

namespace platform {

void ApplicationTitle(char* title, size_t size);

}  // namespace platform
