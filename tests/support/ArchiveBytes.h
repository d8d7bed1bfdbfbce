// Archives made byte by byte, for tests and the benchmark: any table and
// any files, in the order given, names stored as they are, nothing checked,
// so that tests can build what the reader must refuse.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct FileEntry {
  std::string name;     // archive name, '\' separators
  std::string content;
};

// The bytes of an archive with this table and these files, in this order
// (at most 255 bytes of each name are kept).
std::string EncodeArchive(const std::vector<std::string>& directories,
                          const std::vector<FileEntry>& files);

}  // namespace testing_support
