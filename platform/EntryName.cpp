#include "platform/EntryName.h"

namespace platform {
namespace {

char ToUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameUpper(const char* text, size_t length, const char* upper) {
  if (strlen(upper) != length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (ToUpper(text[i]) != upper[i]) return false;
  }
  return true;
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$, with or without an
// extension and trailing spaces or dots: Windows opens the device instead.
bool IsDeviceName(const char* component, size_t length) {
  size_t base = 0;
  while (base < length && component[base] != '.') ++base;
  while (base > 0 && component[base - 1] == ' ') --base;
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (SameUpper(component, base, device)) return true;
  }
  if (base != 4 || !(SameUpper(component, 3, "COM") || SameUpper(component, 3, "LPT"))) {
    return false;
  }
  // COM0 to COM9, and COM with a superscript one, two or three, as the
  // system code page spells them in one byte (code page 1252's ¹ ² ³).
  const unsigned char digit = static_cast<unsigned char>(component[3]);
  return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

// A component of dots and spaces only, other than ".": Windows strips
// trailing dots and spaces, so "..", "..." and ".. " all climb.
bool IsDotsComponent(const char* component, size_t length) {
  if (length == 1 && component[0] == '.') return false;
  for (size_t i = 0; i < length; ++i) {
    if (component[i] != '.' && component[i] != ' ') return false;
  }
  return true;
}

}  // namespace

bool IsPlainEntryName(const char* name) {
  const size_t length = strlen(name);
  if (length == 0 || EndsInDotOrSpace(name, length)) return false;
  for (size_t i = 0; i < length; ++i) {
    if (IsForbiddenInNames(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

const char* CheckEntryName(const char* name) {
  if (IsPathSeparator(name[0])) return "absolute path";
  if (strchr(name, ':') != nullptr) return "drive or stream name (\":\")";
  const char* component = name;
  for (;;) {
    size_t length = 0;
    while (component[length] != '\0' && !IsPathSeparator(component[length])) ++length;
    if (IsDotsComponent(component, length) && length > 0) return "\"..\" component";
    if (IsDeviceName(component, length)) return "device name";
    if (component[length] == '\0') break;
    component += length + 1;
  }
  return nullptr;
}

}  // namespace platform
