// Checking an archive against every rule of the format and of the names.
// This parser is separate from the installer's reader on purpose: it
// checks what the reader merely relies on, and what Windows would make of
// the names.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <fstream>
#include <string>
#include <vector>

#include "tools/secpack/NameRules.h"

namespace secpack {

struct ListedFile {
  std::string name;
  int64_t size;
  int64_t offset;  // of the content
};

struct Listing {
  std::vector<std::string> directories;
  std::vector<ListedFile> files;
  // The program the installer starts: "Setup.exe" at the top, found in any
  // case as Windows would ("" when there is none), and what it is
  // ("Windows executable, x86", or why it is not one).
  std::string setupProgram;
  std::string setupKind;
  bool setupIsExecutable = false;
};

// An archive's bytes, read where the checker asks.
class ArchiveSource {
 public:
  virtual ~ArchiveSource() = default;
  virtual uint64_t Size() const = 0;
  // Exactly size bytes at offset; false when they cannot be read.
  virtual bool ReadAt(uint64_t offset, void* into, size_t size) = 0;
};

// An archive file, read a block at a time: what is held does not grow with
// the archive, whose contents are never read.
class ArchiveFile : public ArchiveSource {
 public:
  static constexpr size_t kBlockSize = 64 * 1024;
  explicit ArchiveFile(const std::string& path);
  // False, with the reason in error(), when it could not be opened.
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* into, size_t size) override;

 private:
  bool Fill(uint64_t offset, char* into, size_t size);
  std::ifstream in_;
  bool ok_ = false;
  std::string error_;
  uint64_t size_ = 0;
  std::vector<char> block_;
  uint64_t blockStart_ = 0;
  size_t blockLength_ = 0;
};

// True when the archive keeps every rule; otherwise false and the first
// broken rule in reason. The listing holds what was read up to there.
bool VerifyArchive(ArchiveSource& source, const NameRules& rules, Listing* listing,
                   std::string* reason);
bool VerifyArchive(const unsigned char* data, size_t size, Listing* listing,
                   std::string* reason, const NameRules& rules = NameRules());

}  // namespace secpack
