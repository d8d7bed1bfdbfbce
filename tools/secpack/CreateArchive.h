// Writing a well-formed "data.sec" from a directory tree.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "tools/secpack/NameRules.h"
#include "tools/secpack/TreeWalk.h"

namespace secpack {

// A name as the format stores it, in an entry's header or as a directory
// record: 256 bytes, zero-filled, of which at most 255 hold the name.
void FillRecord(unsigned char* record, const std::string& name);

// What "secpack create" leaves out of the tree, and whom it tells how far
// it has got.
struct PackOptions {
  std::vector<std::string> exclude;  // patterns of names (ExcludedBy, TreeWalk.h)
  // Called as the archive grows: its bytes and the files packed so far.
  std::function<void(uint64_t bytes, size_t files)> progress;
};

struct CreateCounts {
  size_t directories = 0;
  size_t files = 0;
  std::vector<LeftOut> leftOut;  // in name order
};

// Packs the tree below root into the archive out, in archive order
// (TreeWalk.h), streaming: one directory's names at a time and the table's
// names are all it keeps, whatever the number of files. Every name is
// judged before anything is written. Written through a temporary file that
// takes out's place only when complete; out itself and that file are left
// out of the tree. False, with the reason, when the tree holds something
// the reader would refuse, Windows would not store as named, or the format
// cannot store, or when a file changes or cannot be read while it is
// packed. What options exclude is neither judged nor packed, and is listed
// in counts.
bool CreateArchive(const std::string& out, const std::string& root, CreateCounts* counts,
                   std::string* reason, const NameRules& rules = NameRules(),
                   const PackOptions& options = PackOptions());

}  // namespace secpack
