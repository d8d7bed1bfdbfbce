// One module of Windows' name rules, three strictnesses: an entry name of
// one level (the backends and the tree removal), a path the installer's
// reader unpacks, and a name secpack packs, which must also be stored as
// named on every customer's Windows.
#include <gtest/gtest.h>

#include <string>

#include "platform/EntryName.h"
#include "tools/secpack/NameRules.h"

namespace {

TEST(NameRules, EachCallerKeepsItsOwnStrictness) {
  const struct {
    const char* name;
    bool plain;
    bool reader;
    bool secpack;
  } cases[] = {
      {"setup.exe", true, true, true},  {"a\\b", false, true, true},    {"a/b", false, true, true},
      {".\\dot", false, true, false},   {"x.", false, true, false},     {"space ", false, true, false},
      {"star*", false, true, false},    {"tab\t", false, true, false},  {"Donn\xE9""es", true, true, false},
      {"nul.txt", true, false, false},  {"a:b", false, false, false},   {"..", false, false, false},
      {"\\abs", false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.plain, platform::IsPlainEntryName(c.name));
    EXPECT_EQ(c.reader, platform::CheckEntryName(c.name) == nullptr);
    EXPECT_EQ(c.secpack, secpack::NameProblem(c.name, secpack::NameRules()).empty());
  }
}

}  // namespace
