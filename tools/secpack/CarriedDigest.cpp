#include "tools/secpack/CarriedDigest.h"

#include <algorithm>
#include <vector>

#include "tools/secpack/PeImage.h"

namespace secpack {
namespace {

const char kMarker[sizeof(PackageSeal::marker)] = PACKAGE_SEAL_MARKER;

// Where the marker starts in the file, the first two times at most; false
// when the file cannot be read.
bool FindMarkers(ArchiveSource& file, std::vector<uint64_t>* found) {
  std::vector<char> chunk(ArchiveFile::kBlockSize);
  const uint64_t size = file.Size();
  uint64_t at = 0;
  while (found->size() < 2) {
    const size_t length = static_cast<size_t>(std::min<uint64_t>(chunk.size(), size - at));
    if (!file.ReadAt(at, chunk.data(), length)) return false;
    const auto end = chunk.begin() + static_cast<std::ptrdiff_t>(length);
    for (auto it = std::search(chunk.begin(), end, kMarker, kMarker + sizeof kMarker); it != end;
         it = std::search(it + 1, end, kMarker, kMarker + sizeof kMarker)) {
      found->push_back(at + static_cast<uint64_t>(it - chunk.begin()));
    }
    if (at + length == size) break;
    // A marker cut by the chunk's end is found whole in the next one.
    at += length - (sizeof kMarker - 1);
  }
  return true;
}

bool Overlap(const FileRange& a, const FileRange& b) { return a.begin < b.end && b.begin < a.end; }

// Whether the seal lies whole in one section's mapped data and outside
// the headers and the certificate table (were a forged section to claim
// either).
bool InSectionData(const PeImage& image, const FileRange& seal) {
  if (Overlap(seal, {0, image.headersSize}) || Overlap(seal, image.certificates)) return false;
  return std::any_of(image.sections.begin(), image.sections.end(), [&](const FileRange& section) {
    return section.begin <= seal.begin && seal.end <= section.end;
  });
}

}  // namespace

Carried CarriedDigest(ArchiveSource& installer, unsigned char (&digest)[sizeof(PackageSeal::digest)],
                      std::string* why) {
  why->clear();
  PeImage image;
  std::string problem;
  if (!ReadPeLayout(installer, &image, &problem)) {
    *why = "not a Windows program: " + problem;
    return Carried::kRefused;
  }
  std::vector<uint64_t> markers;
  if (!FindMarkers(installer, &markers)) {
    *why = "cannot read it";
    return Carried::kRefused;
  }
  if (markers.empty()) return Carried::kNone;
  // Counted in the whole file: a second seal anywhere, even where the
  // program never reads it, is a sign of tampering, never of a build.
  if (markers.size() > 1) {
    *why = "the package seal's marker \"" PACKAGE_SEAL_MARKER "\" occurs more than once (at offsets " +
           std::to_string(markers[0]) + " and " + std::to_string(markers[1]) + "): no build makes that";
    return Carried::kRefused;
  }
  const FileRange seal{markers[0], markers[0] + sizeof(PackageSeal)};
  if (!InSectionData(image, seal)) {
    *why = "a package seal at offset " + std::to_string(seal.begin) +
           " lies outside the program's sections, where it never reads it";
    return Carried::kNone;
  }
  if (!installer.ReadAt(seal.begin + sizeof kMarker, digest, sizeof digest)) {
    *why = "cannot read it";
    return Carried::kRefused;
  }
  return Carried::kDigest;
}

}  // namespace secpack
