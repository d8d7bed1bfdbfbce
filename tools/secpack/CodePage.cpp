#include "tools/secpack/CodePage.h"

#include <stdio.h>

namespace secpack {
namespace {

// The next character of UTF-8 text at *at, or -1 when the bytes there are
// not UTF-8 (overlong forms and surrogates included).
long NextCharacter(const std::string& text, size_t* at) {
  const unsigned char lead = static_cast<unsigned char>(text[*at]);
  int more;
  unsigned long value;
  if (lead < 0x80) {
    ++*at;
    return lead;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    more = 1, value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    more = 2, value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    more = 3, value = lead & 0x07;
  } else {
    return -1;
  }
  if (text.size() - *at <= static_cast<size_t>(more)) return -1;
  for (int i = 1; i <= more; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[*at + i]);
    if ((next & 0xC0) != 0x80) return -1;
    value = value << 6 | (next & 0x3F);
  }
  static const unsigned long kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[more] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return -1;
  }
  *at += more + 1;
  return static_cast<long>(value);
}

}  // namespace

const CodePageTable* FindCodePage(int number) {
  for (const CodePageTable& page : kCodePageTables) {
    if (page.number == number) return &page;
  }
  return nullptr;
}

std::string CodePageNumbers() {
  std::string numbers;
  for (const CodePageTable& page : kCodePageTables) {
    if (!numbers.empty()) numbers += ", ";
    numbers += std::to_string(page.number);
  }
  return numbers;
}

bool ConvertFromUtf8(const CodePageTable& page, const std::string& utf8, std::string* out,
                     std::string* why) {
  out->clear();
  for (size_t at = 0; at < utf8.size();) {
    const size_t start = at;
    const long character = NextCharacter(utf8, &at);
    if (character < 0) {
      *why = "not UTF-8";
      return false;
    }
    if (character < 0x80) {
      *out += static_cast<char>(character);
      continue;
    }
    int byte = 0x80;
    while (byte <= 0xFF && page.unicode[byte - 0x80] != character) ++byte;
    if (byte > 0xFF) {
      char code[24];
      snprintf(code, sizeof code, "U+%04lX", static_cast<unsigned long>(character));
      *why = "\"" + utf8.substr(start, at - start) + "\" (" + code + ") is not in code page " +
             std::to_string(page.number);
      return false;
    }
    *out += static_cast<char>(byte);
  }
  return true;
}

}  // namespace secpack
