// Bounded text copies into fixed buffers. Each returns false when the text
// did not fit; the buffer then holds as much as fits, always zero-terminated.
#pragma once

#include <stddef.h>

bool CopyText(char* buffer, size_t size, const char* text);
bool AppendText(char* buffer, size_t size, const char* text);
// Appends at most count characters of text.
bool AppendTextN(char* buffer, size_t size, const char* text, size_t count);
