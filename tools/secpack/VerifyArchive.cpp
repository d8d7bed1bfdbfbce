#include "tools/secpack/VerifyArchive.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <unordered_map>

#include "app/FixedNames.h"
#include "package/PackageArchive.h"
#include "platform/EntryName.h"
#include "tools/secpack/PeImage.h"

namespace fs = std::filesystem;

namespace secpack {
namespace {

// The name's components joined by '\', empty and "." components dropped:
// the path Windows makes of it.
std::string Normalize(const std::string& name) {
  std::string result;
  std::string component;
  auto flush = [&]() {
    if (!component.empty() && component != ".") {
      if (!result.empty()) result += '\\';
      result += component;
    }
    component.clear();
  };
  for (char c : name) {
    if (platform::IsPathSeparator(c)) {
      flush();
    } else {
      component += c;
    }
  }
  flush();
  return result;
}

// The directory part of a normalized name ("" when there is none).
std::string Parent(const std::string& normalized) {
  const size_t slash = normalized.rfind('\\');
  return slash == std::string::npos ? std::string() : normalized.substr(0, slash);
}

bool CheckName(const unsigned char* field, const std::string& what, const NameRules& rules,
               std::string* name, std::string* reason) {
  const void* zero = memchr(field, 0, kRecordSize);
  if (zero == nullptr) {
    *reason = what + " has no terminating zero in its 256 bytes";
    return false;
  }
  name->assign(reinterpret_cast<const char*>(field));
  if (name->empty()) {
    *reason = what + " is empty";
    return false;
  }
  const std::string why = NameProblem(*name, rules);
  if (!why.empty()) {
    *reason = what + " \"" + Shown(*name) + "\" refused: " + why;
    return false;
  }
  return true;
}

bool ReadAt(ArchiveSource& source, uint64_t at, void* into, size_t size, std::string* reason) {
  if (source.ReadAt(at, into, size)) return true;
  *reason = "cannot read the archive at offset " + std::to_string(at);
  return false;
}

// What the file of length bytes at offset is to Windows, in kind: a
// program for which processor (true), or why it is none. Its headers are
// all that is read.
bool ExecutableKind(ArchiveSource& source, uint64_t offset, int64_t length, std::string* kind) {
  PeImage image;
  std::string why;
  if (!ReadPeFileHeader(source, offset, static_cast<uint64_t>(std::max<int64_t>(length, 0)), &image, &why)) {
    *kind = "not a Windows executable (" + why + ")";
    return false;
  }
  if ((image.characteristics & 0x0002) == 0) {
    *kind = "not a Windows executable (not an executable image)";
    return false;
  }
  if ((image.characteristics & 0x2000) != 0) {
    *kind = "not a Windows executable (a DLL)";
    return false;
  }
  char name[48];
  switch (image.machine) {
    case 0x014C: snprintf(name, sizeof name, "x86"); break;
    case 0x8664: snprintf(name, sizeof name, "x64"); break;
    case 0xAA64: snprintf(name, sizeof name, "ARM64"); break;
    case 0x01C4: snprintf(name, sizeof name, "ARM"); break;
    default: snprintf(name, sizeof name, "machine 0x%04X", image.machine);
  }
  *kind = std::string("Windows executable, ") + name;
  return true;
}

class MemorySource : public ArchiveSource {
 public:
  MemorySource(const unsigned char* data, size_t size) : data_(data), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* into, size_t size) override {
    if (offset > size_ || size > size_ - offset) return false;
    memcpy(into, data_ + offset, size);
    return true;
  }

 private:
  const unsigned char* data_;
  size_t size_;
};

}  // namespace

ArchiveFile::ArchiveFile(const std::string& path) : in_(path, std::ios::binary) {
  std::error_code error;
  if (!in_ || !fs::is_regular_file(path, error)) {
    error_ = in_ ? "not a file" : strerror(errno);
    return;
  }
  in_.seekg(0, std::ios::end);
  const std::streamoff end = in_.tellg();
  if (!in_ || end < 0) {
    error_ = "cannot find its end";
    return;
  }
  size_ = static_cast<uint64_t>(end);
  block_.resize(kBlockSize);
  ok_ = true;
}

bool ArchiveFile::Fill(uint64_t offset, char* into, size_t size) {
  in_.clear();
  in_.seekg(static_cast<std::streamoff>(offset));
  in_.read(into, static_cast<std::streamsize>(size));
  return static_cast<size_t>(in_.gcount()) == size;
}

bool ArchiveFile::ReadAt(uint64_t offset, void* into, size_t size) {
  if (!ok_ || offset > size_ || size > size_ - offset) return false;
  if (offset < blockStart_ || offset + size > blockStart_ + blockLength_) {
    if (size > block_.size()) return Fill(offset, static_cast<char*>(into), size);
    // The archive is read forwards: a block from here on holds what comes
    // next, headers of small files and the table's records alike.
    blockStart_ = offset;
    blockLength_ = static_cast<size_t>(std::min<uint64_t>(block_.size(), size_ - offset));
    if (!Fill(offset, block_.data(), blockLength_)) {
      blockLength_ = 0;
      return false;
    }
  }
  memcpy(into, block_.data() + (offset - blockStart_), size);
  return true;
}

bool VerifyArchive(const unsigned char* data, size_t size, Listing* listing, std::string* reason,
                   const NameRules& rules) {
  MemorySource source(data, size);
  return VerifyArchive(source, rules, listing, reason);
}

bool VerifyArchive(ArchiveSource& source, const NameRules& rules, Listing* listing,
                   std::string* reason) {
  *listing = Listing();
  const uint64_t size = source.Size();
  unsigned char header[kArchiveHeaderSize];
  if (size < sizeof header) {
    *reason = "archive header cut short: " + std::to_string(size) + " of 8 bytes";
    return false;
  }
  if (!ReadAt(source, 0, header, sizeof header, reason)) return false;
  const int32_t count = ReadLe32(header);
  const int32_t sectionLength = ReadLe32(header + 4);
  if (count < 0) {
    *reason = "negative entry count " + std::to_string(count);
    return false;
  }
  if (sectionLength < 0) {
    *reason = "negative file-section length " + std::to_string(sectionLength);
    return false;
  }
  const uint64_t sectionEnd = kArchiveHeaderSize + static_cast<uint64_t>(sectionLength);
  if (sectionEnd > size) {
    *reason = "file section of " + std::to_string(sectionLength) +
              " bytes runs past the end of the archive";
    return false;
  }

  // The directory table: every record whole, every parent listed before it.
  const uint64_t tableLength = size - sectionEnd;
  if (tableLength % kRecordSize != 0) {
    *reason = "directory table ends in a partial record of " +
              std::to_string(tableLength % kRecordSize) + " bytes";
    return false;
  }
  // Parents must be named exactly as their records (case included, so the
  // package unpacks the same on a case-sensitive system); collisions are
  // judged as Windows sees names, without case.
  std::set<std::string> known;
  std::unordered_map<std::string, std::string> knownFolded;  // folded: as first listed
  unsigned char field[kEntryHeaderSize];
  for (uint64_t at = sectionEnd; at < size; at += kRecordSize) {
    const std::string what = "directory record " + std::to_string((at - sectionEnd) / kRecordSize + 1);
    std::string name;
    if (!ReadAt(source, at, field, kRecordSize, reason)) return false;
    if (!CheckName(field, what, rules, &name, reason)) return false;
    const std::string normalized = Normalize(name);
    const std::string parent = Parent(normalized);
    if (!parent.empty() && known.count(parent) == 0) {
      *reason = "directory \"" + Shown(name) + "\" comes before its parent";
      return false;
    }
    // The same directory listed again is harmless: it exists already.
    const std::string& earlier = knownFolded.emplace(Folded(normalized, rules), normalized).first->second;
    if (earlier != normalized) {
      *reason = CaseCollision("directory", Shown(earlier), "directory", Shown(normalized));
      return false;
    }
    known.insert(normalized);
    listing->directories.push_back(name);
  }

  // The file section: count entries that fill it exactly. Contents are
  // skipped, never read: only the headers say whether the rules hold.
  std::unordered_map<std::string, std::string> files;  // folded: as stored
  const std::string setupFolded = Folded(kSetupProgram + 1, rules);
  uint64_t setupAt = 0;
  int64_t setupLength = 0;
  uint64_t at = kArchiveHeaderSize;
  for (int32_t entry = 1; entry <= count; ++entry) {
    const std::string what = "file entry " + std::to_string(entry);
    if (at + kEntryHeaderSize > sectionEnd) {
      *reason = what + " lies past the end of the file section";
      return false;
    }
    std::string name;
    if (!ReadAt(source, at, field, kEntryHeaderSize, reason)) return false;
    if (!CheckName(field, what + " name", rules, &name, reason)) return false;
    if (platform::IsPathSeparator(name.back())) {
      *reason = "file name \"" + Shown(name) + "\" ends with a separator";
      return false;
    }
    const int32_t length = ReadLe32(field + kContentLengthOffset);
    if (length < 0) {
      *reason = "file \"" + Shown(name) + "\" has a negative content length " + std::to_string(length);
      return false;
    }
    at += kEntryHeaderSize;
    if (at + static_cast<uint64_t>(length) > sectionEnd) {
      *reason = "content of \"" + Shown(name) + "\" runs past the end of the file section";
      return false;
    }
    const std::string normalized = Normalize(name);
    const std::string parent = Parent(normalized);
    if (!parent.empty() && known.count(parent) == 0) {
      *reason = "directory of file \"" + Shown(name) + "\" is not in the directory table";
      return false;
    }
    const std::string folded = Folded(normalized, rules);
    const auto directory = knownFolded.find(folded);
    if (directory != knownFolded.end()) {
      *reason = directory->second == normalized
                    ? "file \"" + Shown(name) + "\" is also a directory of the table"
                    : CaseCollision("directory", Shown(directory->second), "file", Shown(normalized));
      return false;
    }
    const auto stored = files.emplace(folded, normalized);
    if (!stored.second) {
      *reason = stored.first->second == normalized
                    ? "file \"" + Shown(name) + "\" is stored twice"
                    : CaseCollision("file", Shown(stored.first->second), "file", Shown(normalized));
      return false;
    }
    if (folded == setupFolded) {
      listing->setupProgram = name;
      setupAt = at;
      setupLength = length;
    }
    listing->files.push_back(ListedFile{name, length, static_cast<int64_t>(at)});
    at += static_cast<uint64_t>(length);
  }
  if (at != sectionEnd) {
    *reason = "file section holds " + std::to_string(sectionEnd - at) +
              " bytes after its last entry";
    return false;
  }
  if (!listing->setupProgram.empty()) {
    listing->setupIsExecutable = ExecutableKind(source, setupAt, setupLength, &listing->setupKind);
  }
  return true;
}

}  // namespace secpack
