// What a Windows program's headers (PE32 or PE32+) say about the file that
// holds them: the processor and kind of image, and where in the file the
// parts lie that the loader maps into memory, and those it never maps.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "tools/secpack/VerifyArchive.h"

namespace secpack {

// The bytes [begin, end) of the file.
struct FileRange {
  uint64_t begin = 0;
  uint64_t end = 0;
};

struct PeImage {
  // From the MZ and PE signatures and the file header.
  unsigned machine = 0;
  unsigned characteristics = 0;
  uint64_t peAt = 0;  // the "PE\0\0" signature, from the start of the program
  unsigned sectionCount = 0;
  unsigned optionalHeaderSize = 0;
  // From the optional header and the section table (ReadPeLayout only).
  uint64_t headersSize = 0;          // SizeOfHeaders: the headers and the section table
  std::vector<FileRange> sections;   // each section's raw data, as far as it is mapped
  FileRange certificates;            // the certificate table (empty when there is none)
};

// The MZ and PE signatures and the file header of the program of length
// bytes at offset in source; false, with why ("no MZ header", "no PE
// header"), when they are not there whole.
bool ReadPeFileHeader(ArchiveSource& source, uint64_t offset, uint64_t length, PeImage* image,
                      std::string* why);

// The whole of source as a program: also its optional header, its section
// table and where its sections' data and its certificate table lie, each
// inside the file; false, with why, when any of it is missing, cut short or
// points past the end.
bool ReadPeLayout(ArchiveSource& source, PeImage* image, std::string* why);

}  // namespace secpack
