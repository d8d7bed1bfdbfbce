// Title of an application from its program file name: the name without its
// directory, cut at its first ".", every character after the first turned
// to lower case by the system's lower-case mapping (which knows the code
// page), the first unchanged. INSTALL.EXE gives "Install".
#pragma once

#include <stddef.h>

namespace platform {

// The name part: without directory, cut at the first ".", case unchanged.
void TitleFromFileName(const char* fileName, char* title, size_t size);

// The whole rule; lower stands for the system's mapping and is given the
// title from its second character on.
void ApplicationTitleOf(const char* fileName, char* title, size_t size, void (*lower)(char* text));

}  // namespace platform
