// The tree secpack create packs, walked in archive order with every name
// judged as the installer and Windows would take it.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tools/secpack/HostFiles.h"
#include "tools/secpack/NameRules.h"

namespace secpack {

// Whether pattern leaves out the entry name of that kind: '*' matches any
// run of characters, '?' any one byte, the rest compares without ASCII case,
// as Windows compares names; a trailing '/' matches directories only
// ("__MACOSX/", "._*").
bool ExcludedBy(const std::string& pattern, const std::string& name, bool directory);

// An entry the walk left out, with all it holds.
struct LeftOut {
  std::string name;     // in the tree's characters, '\' separators and after a directory's
  std::string pattern;  // the one that matched
};

// The tree below a root in archive order, one directory in memory at a
// time: the files come in the order of their archive names, as a sort of
// all of them would put them, and the directories are kept (names only)
// for the table, which follows the files. A directory's entries are
// ordered by name, a sub-directory's by its name and a backslash, which is
// where all that lies below it sorts among its siblings.
class TreeWalk {
 public:
  // A file as the walk meets it: its archive name, the directory it is in
  // (held, to open it from, and as a path) and its own name there (UTF-8).
  struct Found {
    const std::string& name;
    const HeldDirectory& held;
    const std::filesystem::path& directory;
    const std::string& nativeName;
    std::filesystem::path Path() const { return directory / std::filesystem::u8path(nativeName); }
  };
  // For each file; false stops the walk (the visitor sets the reason).
  using FileVisitor = std::function<bool(const Found&)>;

  // skipped: native paths left out, wherever they lie in the tree;
  // exclude: patterns (ExcludedBy) of names left out, before any rule is
  // applied to them, and listed (leftOut).
  TreeWalk(std::vector<std::filesystem::path> skipped, const NameRules& rules,
           std::vector<std::string> exclude, FileVisitor onFile)
      : skipped_(std::move(skipped)), rules_(rules), exclude_(std::move(exclude)),
        onFile_(std::move(onFile)) {}

  // False, with the reason, when root is not a directory, or the tree
  // holds something the reader would refuse, Windows would not store as
  // named or the format cannot store, or cannot be read. The tree's names
  // are UTF-8; the archive's are converted to the rules' code page.
  bool Walk(const std::string& root, std::string* reason);
  // Every directory met, parents first: the archive's table.
  const std::vector<std::string>& directories() const { return directories_; }
  // What exclude left out, in name order.
  const std::vector<LeftOut>& leftOut() const { return leftOut_; }

 private:
  struct Child {
    std::string name;         // native name
    std::string archiveName;  // in the archive's code page
    std::filesystem::file_type type;
  };

  bool Refuse(const std::string& why);
  // prefix: the directory's archive name and a backslash ("" at the top);
  // shownPrefix: the same in the tree's own characters, for messages.
  bool WalkDirectory(const std::filesystem::path& directory, const std::string& prefix,
                     const std::string& shownPrefix);
  // Its entries as children, without what is skipped or excluded; false
  // when it cannot be read.
  bool ListChildren(const HeldDirectory& held, const std::filesystem::path& directory,
                    const std::string& shownPrefix, std::vector<Child>* children);
  // Each child's name in the archive's code page; false, refused, when one
  // has none.
  bool ConvertNames(std::vector<Child>* children, const std::string& shownPrefix);

  std::vector<std::filesystem::path> skipped_;
  NameRules rules_;
  std::vector<std::string> exclude_;
  FileVisitor onFile_;
  std::string* reason_ = nullptr;
  std::vector<std::string> directories_;
  std::vector<LeftOut> leftOut_;
};

}  // namespace secpack
