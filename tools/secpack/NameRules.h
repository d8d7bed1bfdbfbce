// How secpack judges a package's names: by the installer's own rule
// (platform/EntryName.h: nothing that leaves the destination or opens a
// device) and, stricter, by what the customer's Windows would store as
// named. The reader hands any other name to Windows, which refuses it or
// changes it while unpacking, on one system or another; the provider
// learns of it here instead. The verifier and the tree walk both ask here.
#pragma once

#include <string>

#include "tools/secpack/CodePage.h"

namespace secpack {

// How names are stored: in the customer's Windows code page, or, without
// one, in printable ASCII only, which every code page spells alike.
struct NameRules {
  const CodePageTable* codePage = nullptr;
};

// Why the archive path name ('\' or '/' separated) would be refused by the
// installer, or not be stored as named; "" when it would be.
std::string NameProblem(const std::string& name, const NameRules& rules);

// The name as Windows compares names: two are one when these are equal.
std::string Folded(const std::string& name, const NameRules& rules);

// The refusal of two names, of these kinds, that Windows takes for one.
std::string CaseCollision(const char* firstKind, const std::string& first, const char* secondKind,
                          const std::string& second);

// A stored name as a message shows it: bytes outside printable ASCII as
// \xNN, as the archive's code page need not be the terminal's.
std::string Shown(const std::string& name);

}  // namespace secpack
