// The provider's side of the package archive: writing a well-formed
// "data.sec" from a directory tree, and checking an archive against every
// rule of the format and the reader's name policy. This parser is separate
// from the installer's reader on purpose: it checks what the reader merely
// relies on, and what Windows would make of the names.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tools/secpack/CodePage.h"

namespace secpack {

// How names are stored: in the customer's Windows code page, or, without
// one, in printable ASCII only, which every code page spells alike.
struct NameRules {
  const CodePageTable* codePage = nullptr;
};

struct FileEntry {
  std::string name;     // archive name, '\' separators
  std::string content;
};

// The bytes of an archive with this table and these files, in this order.
// Names are stored as given (at most 255 bytes are kept); nothing is
// checked, so tests can build archives the reader must refuse.
std::string EncodeArchive(const std::vector<std::string>& directories,
                          const std::vector<FileEntry>& files);

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

// What "secpack create" packs: the directories, parents first, and the
// files, both in name order, with archive names and native sources.
struct TreePlan {
  std::vector<std::string> directories;
  std::vector<std::string> fileNames;
  std::vector<std::string> fileSources;
  std::vector<int64_t> fileSizes;
};

// Plans the archive of the tree below root; skip (if not empty) is a native
// path left out (the archive being written). False, with the reason, when
// the tree holds something the reader would refuse, Windows would not
// store as named, or the format cannot store. The tree's names are UTF-8;
// the archive's are converted to the rules' code page.
bool PlanTree(const std::string& root, const std::string& skip, TreePlan* plan,
              std::string* reason, const NameRules& rules = NameRules());

// What "secpack create" leaves out of the tree, and whom it tells how far
// it has got.
struct PackOptions {
  // Entries left out, with all they hold, by their own name: '*' matches
  // any run of characters, '?' any one byte, the rest compares without
  // ASCII case, as Windows compares names; a trailing '/' matches
  // directories only ("__MACOSX/", "._*").
  std::vector<std::string> exclude;
  // Called as the archive grows: its bytes and the files packed so far.
  std::function<void(uint64_t bytes, size_t files)> progress;
};

// Whether pattern, as PackOptions::exclude holds them, leaves out the entry
// name of that kind.
bool ExcludedBy(const std::string& pattern, const std::string& name, bool directory);

struct LeftOut {
  std::string name;     // in the tree's characters, '\' separators and after a directory's
  std::string pattern;  // the one that matched
};

struct CreateCounts {
  size_t directories = 0;
  size_t files = 0;
  std::vector<LeftOut> leftOut;  // in name order
};

// Packs the tree below root into the archive out, in the order PlanTree
// gives, streaming: one directory's names at a time and the table's names
// are all it keeps, whatever the number of files. Written through a
// temporary file that takes out's place only when complete; out itself and
// that file are left out of the tree. The tree's names are checked before
// anything is written. False, with the reason, as PlanTree, or when a file
// changes or cannot be read while it is packed. What options exclude is
// neither checked nor packed, and is listed in counts.
bool CreateArchive(const std::string& out, const std::string& root, CreateCounts* counts,
                   std::string* reason, const NameRules& rules = NameRules(),
                   const PackOptions& options = PackOptions());

}  // namespace secpack
