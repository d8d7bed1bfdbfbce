// The Windows code pages a package's names can be stored in. The installer
// hands names to the narrow (code page) Windows functions unchanged, so a
// name is only what the vendor meant when its bytes are those of the
// customer's code page: names are written in UTF-8 on the provider's
// system and converted to one single-byte code page when packed.
#pragma once

#include <string>

#include "tools/secpack/CodePageTables.h"

namespace secpack {

// The table of code page number, or nullptr when it is not one of these.
const CodePageTable* FindCodePage(int number);
// The numbers of the code pages there are tables for, for messages.
std::string CodePageNumbers();

// The character of a byte from 0x80 up in the page (0: none, or a control
// character).
inline unsigned CharacterOf(const CodePageTable& page, unsigned char byte) {
  return byte < 0x80 ? byte : page.unicode[byte - 0x80];
}

// Converts UTF-8 text into the page's bytes. False, with why, when the
// text is not UTF-8 or holds a character the page does not have.
bool ConvertFromUtf8(const CodePageTable& page, const std::string& utf8, std::string* out,
                     std::string* why);

// The byte every byte equal to it without case maps to, as Windows
// compares names: the page's mapping, or ASCII letters' alone without one.
inline unsigned char FoldCase(const CodePageTable* page, unsigned char byte) {
  if (byte >= 'a' && byte <= 'z') return static_cast<unsigned char>(byte - 'a' + 'A');
  if (byte < 0x80 || page == nullptr) return byte;
  return static_cast<unsigned char>(page->fold[byte - 0x80]);
}

}  // namespace secpack
