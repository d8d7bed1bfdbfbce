// Title of an application from its program file name: the name without its
// directory, cut at its first ".". Case is left to the caller, which knows
// the system's lower-case mapping.
#pragma once

#include <stddef.h>

namespace platform {

void TitleFromFileName(const char* fileName, char* title, size_t size);

}  // namespace platform
