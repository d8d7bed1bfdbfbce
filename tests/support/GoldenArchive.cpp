#include "tests/support/GoldenArchive.h"

#include "tests/support/ReadAll.h"

namespace testing_support {

const ArchiveTree& GoldenTree() {
  static const ArchiveTree tree = [] {
    std::string modem(40000, '\0');
    for (size_t i = 0; i < modem.size(); ++i) modem[i] = static_cast<char>(i % 251);
    return ArchiveTree{{"docs", "drivers", "drivers\\x86", "drivers\\x86\\inf"},
                       {{"Setup.exe", "golden setup program\r\n"},
                        {"drivers\\empty.inf", ""},
                        {"drivers\\modem.sys", modem},
                        {"drivers\\x86\\inf\\" + std::string(235, 'n') + ".inf", "the longest name\r\n"}}};
  }();
  return tree;
}

std::string GoldenArchiveBytes() { return ReadAll(GOLDEN_ARCHIVE); }

}  // namespace testing_support
