#include "tests/support/ArchiveBytes.h"

#include "package/PackageArchive.h"
#include "tools/secpack/CreateArchive.h"

namespace testing_support {
namespace {

void PutLe32(std::string* out, int32_t value) {
  unsigned char bytes[4];
  WriteLe32(bytes, value);
  out->append(reinterpret_cast<const char*>(bytes), 4);
}

void PutRecord(std::string* out, const std::string& name) {
  unsigned char record[kRecordSize];
  secpack::FillRecord(record, name);
  out->append(reinterpret_cast<const char*>(record), sizeof record);
}

}  // namespace

std::string EncodeArchive(const std::vector<std::string>& directories,
                          const std::vector<FileEntry>& files) {
  std::string section;
  for (const FileEntry& file : files) {
    PutRecord(&section, file.name);
    PutLe32(&section, static_cast<int32_t>(file.content.size()));
    PutLe32(&section, 0);
    section += file.content;
  }
  std::string out;
  PutLe32(&out, static_cast<int32_t>(files.size()));
  PutLe32(&out, static_cast<int32_t>(section.size()));
  out += section;
  for (const std::string& directory : directories) PutRecord(&out, directory);
  return out;
}

}  // namespace testing_support
