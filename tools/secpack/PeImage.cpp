#include "tools/secpack/PeImage.h"

#include <string.h>

#include <algorithm>

#include "package/PackageArchive.h"

namespace secpack {
namespace {

// The headers' fields are unsigned; widened to 64 bits, no sum of two of
// them overflows.
uint64_t Le32(const unsigned char* bytes) { return static_cast<uint32_t>(ReadLe32(bytes)); }
unsigned Le16(const unsigned char* bytes) { return static_cast<unsigned>(bytes[0] | bytes[1] << 8); }

constexpr uint64_t kFileHeaderSize = 24;  // the signature and the file header
constexpr uint64_t kSectionEntrySize = 40;
// Where the data directories begin in the optional header: PE32, PE32+.
constexpr size_t kPe32Directories = 96;
constexpr size_t kPe32PlusDirectories = 112;
constexpr size_t kCertificateDirectory = 4;  // IMAGE_DIRECTORY_ENTRY_SECURITY
// As far as the optional header is read: through the certificate table's
// directory entry of PE32+.
constexpr size_t kOptionalRead = kPe32PlusDirectories + (kCertificateDirectory + 1) * 8;

std::string Bytes(uint64_t begin, uint64_t end) {
  return "bytes " + std::to_string(begin) + " to " + std::to_string(end);
}

}  // namespace

bool ReadPeFileHeader(ArchiveSource& source, uint64_t offset, uint64_t length, PeImage* image,
                      std::string* why) {
  unsigned char dos[64];
  if (length < sizeof dos || !source.ReadAt(offset, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') {
    *why = "no MZ header";
    return false;
  }
  const uint64_t peAt = Le32(dos + 0x3C);
  unsigned char pe[kFileHeaderSize];
  if (peAt > length - sizeof pe || !source.ReadAt(offset + peAt, pe, sizeof pe) ||
      memcmp(pe, "PE\0\0", 4) != 0) {
    *why = "no PE header";
    return false;
  }
  image->peAt = peAt;
  image->machine = Le16(pe + 4);
  image->sectionCount = Le16(pe + 6);
  image->optionalHeaderSize = Le16(pe + 20);
  image->characteristics = Le16(pe + 22);
  return true;
}

bool ReadPeLayout(ArchiveSource& source, PeImage* image, std::string* why) {
  *image = PeImage();
  const uint64_t size = source.Size();
  if (!ReadPeFileHeader(source, 0, size, image, why)) return false;
  const uint64_t optionalAt = image->peAt + kFileHeaderSize;
  unsigned char optional[kOptionalRead];
  const size_t read = std::min<size_t>(image->optionalHeaderSize, sizeof optional);
  if (read < 2 || !source.ReadAt(optionalAt, optional, read)) {
    *why = "no optional header";
    return false;
  }
  const unsigned magic = Le16(optional);
  const size_t directories = magic == 0x10B ? kPe32Directories : magic == 0x20B ? kPe32PlusDirectories : 0;
  if (directories == 0 || read < directories) {
    *why = "an optional header of neither PE32 nor PE32+";
    return false;
  }
  image->headersSize = Le32(optional + 60);
  if (image->headersSize > size) {
    *why = "headers of " + std::to_string(image->headersSize) + " bytes in a file of " + std::to_string(size);
    return false;
  }
  const uint64_t directoryCount = Le32(optional + directories - 4);
  const size_t certificate = directories + kCertificateDirectory * 8;
  if (directoryCount > kCertificateDirectory && read >= certificate + 8) {
    // Its address, alone of all directories, is a file offset.
    const uint64_t at = Le32(optional + certificate);
    const uint64_t length = Le32(optional + certificate + 4);
    if (length > 0 && at + length > size) {
      *why = "a certificate table at " + Bytes(at, at + length) + " of a file of " + std::to_string(size);
      return false;
    }
    if (length > 0) image->certificates = {at, at + length};
  }
  const uint64_t tableAt = optionalAt + image->optionalHeaderSize;
  if (tableAt + image->sectionCount * kSectionEntrySize > size) {
    *why = "a section table of " + std::to_string(image->sectionCount) + " sections past the end of the file";
    return false;
  }
  for (unsigned i = 0; i < image->sectionCount; ++i) {
    unsigned char entry[kSectionEntrySize];
    if (!source.ReadAt(tableAt + i * kSectionEntrySize, entry, sizeof entry)) {
      *why = "cannot read section " + std::to_string(i + 1) + "'s entry";
      return false;
    }
    const uint64_t mapped = Le32(entry + 8);  // VirtualSize
    const uint64_t length = Le32(entry + 16);
    const uint64_t at = Le32(entry + 20);
    if (length > 0 && at + length > size) {
      *why = "section " + std::to_string(i + 1) + "'s data at " + Bytes(at, at + length) + " of a file of " +
             std::to_string(size);
      return false;
    }
    // Past its virtual size a section's raw data is padding to the file
    // alignment: no part of the program lies there.
    image->sections.push_back({at, at + std::min(length, mapped)});
  }
  return true;
}

}  // namespace secpack
