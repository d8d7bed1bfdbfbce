// Whether a name that a directory enumeration yielded, asked for by itself
// from that directory, reaches that entry and only that entry. Windows
// drops trailing dots and spaces (so "..." or ".. " names the directory or
// its parent), and separators, drive colons or wildcards only appear in a
// name that is not the entry's own (a lossy code-page conversion, or a
// POSIX name the path mapping would split). "." and ".." are not plain.
#pragma once

#include <string.h>

namespace platform {

inline bool IsPlainEntryName(const char* name) {
  const size_t length = strlen(name);
  if (length == 0 || name[length - 1] == '.' || name[length - 1] == ' ') return false;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || strchr("\\/:*?\"<>|", c) != nullptr) return false;
  }
  return true;
}

}  // namespace platform
