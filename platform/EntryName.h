// What Windows makes of a name, once, for every room that must know: the
// backends and the tree walk (a plain name of one level), the archive
// reader (a path that stays inside its destination) and secpack, which
// refuses more still (NameRules.cpp there says what and why).
#pragma once

#include <stddef.h>
#include <string.h>

namespace platform {

inline bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

// Windows compares names without case. Folding the ASCII letters alone
// is what the installer's own fixed names and secpack's patterns need.
inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// A byte no Windows name may hold: a control character, a separator, the
// drive and stream colon, a wildcard or a redirection character.
inline bool IsForbiddenInNames(unsigned char c) {
  return c < 0x20 || strchr("\\/:*?\"<>|", c) != nullptr;
}

// Windows drops trailing dots and spaces from each component ("x." names
// "x", "..." the directory itself).
inline bool EndsInDotOrSpace(const char* component, size_t length) {
  return length > 0 && (component[length - 1] == '.' || component[length - 1] == ' ');
}

// Whether a name that a directory enumeration yielded, asked for by itself
// from that directory, reaches that entry and only that entry. Separators,
// drive colons or wildcards only appear in a name that is not the entry's
// own (a lossy code-page conversion, or a POSIX name the path mapping
// would split). "." and ".." are not plain.
bool IsPlainEntryName(const char* name);

// Why an archive name (file or directory) may not be used, or nullptr when
// it is a plain path inside the destination. Refused: absolute, drive,
// UNC and device paths; ".." (and any component of dots and spaces only,
// which Windows may read as ".."); ":" (drives and NTFS streams); DOS
// device names (CON, NUL, COM1, ...), which open a device in any directory.
// Anything else goes to the file system as it is: what Windows cannot
// create there fails to open.
const char* CheckEntryName(const char* name);

}  // namespace platform
