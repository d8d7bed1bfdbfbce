#include "platform/Format.h"

#include <stdint.h>

namespace platform {
namespace {

// Appends one character while there is room for it and the zero.
struct Output {
  char* out;
  size_t size;
  size_t length;
  void Put(char c) {
    if (length + 1 < size) out[length++] = c;
  }
  void Put(const char* text) {
    for (; *text != '\0'; ++text) Put(*text);
  }
  void PutNumber(uint32_t value, uint32_t base) {
    char digits[10];
    int count = 0;
    do {
      digits[count++] = "0123456789abcdef"[value % base];
      value /= base;
    } while (value != 0);
    while (count > 0) Put(digits[--count]);
  }
};

}  // namespace

size_t FormatText(char* out, size_t size, const char* format, va_list args) {
  Output text{out, size, 0};
  for (; *format != '\0'; ++format) {
    if (*format != '%') {
      text.Put(*format);
      continue;
    }
    switch (*++format) {
      case 's': {
        const char* value = va_arg(args, const char*);
        text.Put(value != nullptr ? value : "(null)");
        break;
      }
      case 'd': {
        const int value = va_arg(args, int);
        if (value < 0) text.Put('-');
        // Through unsigned arithmetic: the most negative int has no positive.
        text.PutNumber(value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value), 10);
        break;
      }
      case 'u': text.PutNumber(va_arg(args, unsigned), 10); break;
      case 'x': text.PutNumber(va_arg(args, unsigned), 16); break;
      case 'c': text.Put(static_cast<char>(va_arg(args, int))); break;
      case '%': text.Put('%'); break;
      case '\0':
        text.Put('%');
        --format;  // the loop stops at the zero
        break;
      default:
        text.Put('%');
        text.Put(*format);
        break;
    }
  }
  out[text.length] = '\0';
  return text.length;
}

}  // namespace platform
