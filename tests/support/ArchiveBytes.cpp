#include "tests/support/ArchiveBytes.h"

#include <stdint.h>

// Written from the format alone, sharing no code with the reader or with
// secpack's writer: a fault in either then shows as a difference from
// these bytes instead of being repeated in every expected value.
namespace testing_support {
namespace {

constexpr size_t kNameField = 256;  // a name, or a directory record, with its zero

void PutLe32(std::string* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>((value >> shift) & 0xff));
}

void PutName(std::string* out, const std::string& name) {
  const std::string kept = name.substr(0, kNameField - 1);
  out->append(kept);
  out->append(kNameField - kept.size(), '\0');
}

}  // namespace

std::string EncodeArchive(const std::vector<std::string>& directories,
                          const std::vector<FileEntry>& files) {
  std::string section;
  for (const FileEntry& file : files) {
    PutName(&section, file.name);
    PutLe32(&section, static_cast<uint32_t>(file.content.size()));
    PutLe32(&section, 0);  // reserved
    section += file.content;
  }
  std::string out;
  PutLe32(&out, static_cast<uint32_t>(files.size()));
  PutLe32(&out, static_cast<uint32_t>(section.size()));
  out += section;
  for (const std::string& directory : directories) PutName(&out, directory);
  return out;
}

}  // namespace testing_support
