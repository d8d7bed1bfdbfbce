// The package archive "data.sec": its layout, and the record of one open
// for reading.
//
// Layout (all integers 32-bit signed, little-endian; no compression,
// checksum, signature or version):
//
//   offset 0   entry count          number of file entries
//   offset 4   file-section length  bytes from offset 8 to the directory table
//   offset 8   file section         entry count file entries, back to back
//   then       directory table      256-byte directory records up to the end
//
//   file entry: name[256] (zero-terminated path relative to the destination),
//               content length, reserved (4 bytes, not interpreted), content.
//   directory record: 256 bytes, a zero-terminated relative directory path.
//
// Directories are listed parents first; all of them are created before the
// first file is written, and files are written in archive order.
#pragma once

#include <stdint.h>

#include "platform/Os.h"

inline constexpr int32_t kArchiveHeaderSize = 8;
inline constexpr int32_t kRecordSize = 256;           // names and directory records
inline constexpr int32_t kEntryHeaderSize = 264;      // name, content length, reserved
inline constexpr int32_t kContentLengthOffset = 256;

// An archive open for reading.
struct PackageArchive {
  const char* name;             // as given to ExtractPackage, for diagnostics
  platform::File file;
  int64_t size;                 // bytes in the archive file
  int32_t entryCount;
  int32_t fileSectionLength;
  int64_t fileSectionEnd;       // offset of the directory table
};

// Little-endian 32-bit signed integer at bytes[0..3].
int32_t ReadLe32(const unsigned char* bytes);
void WriteLe32(unsigned char* bytes, int32_t value);
