// The provider's side of the package archive: writing a well-formed
// "data.sec" from a directory tree, and checking an archive against every
// rule of the format and the reader's name policy. This parser is separate
// from the installer's reader on purpose: it reads the whole archive and
// checks what the reader merely relies on.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace secpack {

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
};

// True when the archive keeps every rule; otherwise false and the first
// broken rule in reason. The listing holds what was read up to there.
bool VerifyArchive(const unsigned char* data, size_t size, Listing* listing,
                   std::string* reason);

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
// the tree holds something the reader would refuse or cannot store.
bool PlanTree(const std::string& root, const std::string& skip, TreePlan* plan,
              std::string* reason);

struct CreateCounts {
  size_t directories = 0;
  size_t files = 0;
};

// Packs the tree below root into the archive out, in the order PlanTree
// gives, streaming: one directory's names at a time and the table's names
// are all it keeps, whatever the number of files. Written through a
// temporary file that takes out's place only when complete; out itself and
// that file are left out of the tree. False, with the reason, as PlanTree,
// or when a file changes or cannot be read while it is packed.
bool CreateArchive(const std::string& out, const std::string& root, CreateCounts* counts,
                   std::string* reason);

}  // namespace secpack
