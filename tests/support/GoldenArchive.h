// tests/package/golden.sec: an archive checked in as bytes, against which
// both the reader and "secpack create" are held, so that neither can
// drift from the format together with the other. Entries in the order
// secpack packs them: files by archive name (a directory's name sorting
// as if followed by a backslash), then the table in name order.
#pragma once

#include <string>
#include <vector>

#include "tests/support/ArchiveBytes.h"

namespace testing_support {

struct ArchiveTree {
  std::vector<std::string> directories;
  std::vector<FileEntry> files;
};

// What golden.sec holds: a few directories (one of them empty), an empty
// file, a file of 40,000 bytes (three copy chunks) and a file whose name
// is 255 bytes in all, the longest a record holds.
const ArchiveTree& GoldenTree();
// golden.sec's bytes, "" when it cannot be read.
std::string GoldenArchiveBytes();

}  // namespace testing_support
