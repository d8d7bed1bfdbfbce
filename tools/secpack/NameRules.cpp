#include "tools/secpack/NameRules.h"

#include <stdio.h>
#include <string.h>

#include "platform/EntryName.h"

namespace secpack {
namespace {

const char kOutsideAscii[] =
    "a character outside printable ASCII: name the customers' Windows code page with "
    "--code-page N";

// Why Windows, or the customers' code page, would not take the name as
// stored, or "". Windows accepts no control characters or wildcards, and
// drops trailing dots and spaces from each component ("x." becomes "x",
// "a\." names "a" itself), so such a name unpacks differently, or not at
// all, on one system or another. A byte above ASCII is a character only
// in a code page: without one it means whatever the customer's is.
std::string WindowsNameProblem(const std::string& name, const NameRules& rules) {
  for (char c : name) {
    if (!platform::IsPathSeparator(c) && platform::IsForbiddenInNames(static_cast<unsigned char>(c))) {
      return "a character Windows does not allow in names";
    }
  }
  for (unsigned char c : name) {
    if (c < 0x7F) continue;
    if (rules.codePage == nullptr || c == 0x7F) return kOutsideAscii;
    if (CharacterOf(*rules.codePage, c) == 0) {
      char byte[8];
      snprintf(byte, sizeof byte, "0x%02X", c);
      return std::string("byte ") + byte + " is not in code page " + std::to_string(rules.codePage->number);
    }
  }
  size_t start = 0;
  for (size_t end = 0; end <= name.size(); ++end) {
    if (end == name.size() || platform::IsPathSeparator(name[end])) {
      if (platform::EndsInDotOrSpace(name.data() + start, end - start)) {
        return "a component ending in a dot or a space, which Windows drops";
      }
      start = end + 1;
    }
  }
  return "";
}

}  // namespace

std::string NameProblem(const std::string& name, const NameRules& rules) {
  if (const char* refused = platform::CheckEntryName(name.c_str())) return refused;
  return WindowsNameProblem(name, rules);
}

std::string Folded(const std::string& name, const NameRules& rules) {
  std::string folded = name;
  for (char& c : folded) c = static_cast<char>(FoldCase(rules.codePage, static_cast<unsigned char>(c)));
  return folded;
}

std::string CaseCollision(const char* firstKind, const std::string& first, const char* secondKind,
                          const std::string& second) {
  return std::string(firstKind) + " \"" + first + "\" and " + secondKind + " \"" + second +
         "\" differ only in case, refused: Windows takes them for one name";
}

std::string Shown(const std::string& name) {
  std::string shown;
  for (unsigned char c : name) {
    if (c >= 0x20 && c < 0x7F) {
      shown += static_cast<char>(c);
    } else {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    }
  }
  return shown;
}

}  // namespace secpack
