#include "package/BoundedText.h"

#include <string.h>

bool CopyText(char* buffer, size_t size, const char* text) {
  if (size == 0) return false;
  buffer[0] = '\0';
  return AppendText(buffer, size, text);
}

bool AppendText(char* buffer, size_t size, const char* text) {
  return AppendTextN(buffer, size, text, strlen(text));
}

bool AppendTextN(char* buffer, size_t size, const char* text, size_t count) {
  if (size == 0) return false;
  // By hand: the C library's strnlen would bring its unwind section along,
  // a whole file block of Install.exe.
  size_t length = 0;
  while (length < size && buffer[length] != '\0') ++length;
  if (length == size) {  // not terminated: never read or write past it
    buffer[size - 1] = '\0';
    return false;
  }
  size_t copied = 0;
  while (copied < count && text[copied] != '\0' && length + 1 < size) {
    buffer[length++] = text[copied++];
  }
  buffer[length] = '\0';
  return copied == count || text[copied] == '\0';
}
