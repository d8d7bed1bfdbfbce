#include "tools/secpack/SecFormat.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <unordered_map>
#include <utility>

#include "package/FixedNames.h"
#include "package/PackageArchive.h"
#include "tools/secpack/HeldDirectory.h"

namespace fs = std::filesystem;

namespace secpack {
namespace {

void PutLe32(std::string* out, int32_t value) {
  unsigned char bytes[4];
  WriteLe32(bytes, value);
  out->append(reinterpret_cast<const char*>(bytes), 4);
}

void PutRecord(std::string* out, const std::string& name) {
  std::string record(kRecordSize, '\0');
  memcpy(&record[0], name.data(), std::min<size_t>(name.size(), kRecordSize - 1));
  *out += record;
}

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
    if (c == '\\' || c == '/') {
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

// Orders names as Windows compares them: without case, by the code page's
// idea of it.
struct FoldedLess {
  const CodePageTable* page;
  bool operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [this](char x, char y) {
      return FoldCase(page, static_cast<unsigned char>(x)) < FoldCase(page, static_cast<unsigned char>(y));
    });
  }
};
using FoldedSet = std::set<std::string, FoldedLess>;

bool SameWithoutCase(const CodePageTable* page, const std::string& a, const std::string& b) {
  const FoldedLess less{page};
  return !less(a, b) && !less(b, a);
}

// Two names Windows takes for one: the second would overwrite the first,
// or land in it.
std::string CaseCollision(const char* firstKind, const std::string& first, const char* secondKind,
                          const std::string& second) {
  return std::string(firstKind) + " \"" + first + "\" and " + secondKind + " \"" + second +
         "\" differ only in case, refused: Windows takes them for one name";
}

const char kOutsideAscii[] =
    "a character outside printable ASCII: name the customers' Windows code page with "
    "--code-page N";

// Why Windows, or the customers' code page, would not take the name as
// stored, or "". Windows accepts no control characters or wildcards, and
// drops trailing dots and spaces from each component ("x." becomes "x",
// "a\." names "a" itself), so such a name unpacks differently, or not at
// all, on one system or another. A byte above ASCII is a character only
// in a code page: without one it means whatever the customer's is.
std::string WindowsNameProblem(const std::string& name, const NameRules& rules) {
  for (unsigned char c : name) {
    if (c < 32 || strchr("<>\"|?*", c) != nullptr) return "a character Windows does not allow in names";
  }
  for (unsigned char c : name) {
    if (c < 0x7F) continue;
    if (rules.codePage == nullptr || c == 0x7F) return kOutsideAscii;
    if (CharacterOf(*rules.codePage, c) == 0) {
      char byte[8];
      snprintf(byte, sizeof byte, "0x%02X", c);
      return std::string("byte ") + byte + " is not in code page " + std::to_string(rules.codePage->number);
    }
  }
  for (size_t end = 0; end <= name.size(); ++end) {
    if (end == name.size() || name[end] == '\\' || name[end] == '/') {
      if (end > 0 && (name[end - 1] == '.' || name[end - 1] == ' ')) {
        return "a component ending in a dot or a space, which Windows drops";
      }
    }
  }
  return "";
}

// A stored name as a message shows it: bytes outside printable ASCII as
// \xNN, as the archive's code page need not be the terminal's.
std::string Shown(const std::string& name) {
  std::string shown;
  for (unsigned char c : name) {
    if (c >= 0x20 && c < 0x7F) {
      shown += static_cast<char>(c);
    } else {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    }
  }
  return shown;
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
  std::string why;
  if (const char* entryProblem = CheckEntryName(name->c_str())) {
    why = entryProblem;
  } else {
    why = WindowsNameProblem(*name, rules);
  }
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
  unsigned char dos[64];
  if (length < static_cast<int64_t>(sizeof dos) || !source.ReadAt(offset, dos, sizeof dos) ||
      dos[0] != 'M' || dos[1] != 'Z') {
    *kind = "not a Windows executable (no MZ header)";
    return false;
  }
  const int32_t peAt = ReadLe32(dos + 0x3C);
  unsigned char pe[24];  // signature and file header
  if (peAt < 0 || peAt > length - static_cast<int64_t>(sizeof pe) ||
      !source.ReadAt(offset + static_cast<uint64_t>(peAt), pe, sizeof pe) || memcmp(pe, "PE\0\0", 4) != 0) {
    *kind = "not a Windows executable (no PE header)";
    return false;
  }
  const unsigned machine = pe[4] | pe[5] << 8;
  const unsigned characteristics = pe[22] | pe[23] << 8;
  if ((characteristics & 0x0002) == 0) {
    *kind = "not a Windows executable (not an executable image)";
    return false;
  }
  if ((characteristics & 0x2000) != 0) {
    *kind = "not a Windows executable (a DLL)";
    return false;
  }
  char name[48];
  switch (machine) {
    case 0x014C: snprintf(name, sizeof name, "x86"); break;
    case 0x8664: snprintf(name, sizeof name, "x64"); break;
    case 0xAA64: snprintf(name, sizeof name, "ARM64"); break;
    case 0x01C4: snprintf(name, sizeof name, "ARM"); break;
    default: snprintf(name, sizeof name, "machine 0x%04X", machine);
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
  FoldedSet knownFolded(FoldedLess{rules.codePage});
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
    const auto earlier = knownFolded.insert(normalized).first;
    if (*earlier != normalized) {
      *reason = CaseCollision("directory", Shown(*earlier), "directory", Shown(normalized));
      return false;
    }
    known.insert(normalized);
    listing->directories.push_back(name);
  }

  // The file section: count entries that fill it exactly. Contents are
  // skipped, never read: only the headers say whether the rules hold.
  FoldedSet files(FoldedLess{rules.codePage});
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
    if (name.back() == '\\' || name.back() == '/') {
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
    const auto directory = knownFolded.find(normalized);
    if (directory != knownFolded.end()) {
      *reason = *directory == normalized
                    ? "file \"" + Shown(name) + "\" is also a directory of the table"
                    : CaseCollision("directory", Shown(*directory), "file", Shown(normalized));
      return false;
    }
    const auto stored = files.insert(normalized);
    if (!stored.second) {
      *reason = *stored.first == normalized
                    ? "file \"" + Shown(name) + "\" is stored twice"
                    : CaseCollision("file", Shown(*stored.first), "file", Shown(normalized));
      return false;
    }
    if (SameWithoutCase(rules.codePage, normalized, kSetupProgram + 1)) {
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

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// '*' and '?' against the whole name; a '*' that fails is retried one byte
// further on, which is all the backtracking a pattern without brackets needs.
bool Matches(const char* pattern, const char* name) {
  const char* star = nullptr;
  const char* retry = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      retry = name;
    } else if (*pattern != '\0' && (*pattern == '?' || LowerAscii(*pattern) == LowerAscii(*name))) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++retry;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

}  // namespace

bool ExcludedBy(const std::string& pattern, const std::string& name, bool directory) {
  const bool directoriesOnly = !pattern.empty() && pattern.back() == '/';
  if (directoriesOnly && !directory) return false;
  return Matches(pattern.substr(0, pattern.size() - (directoriesOnly ? 1 : 0)).c_str(), name.c_str());
}

namespace {

// The tree below a root in archive order, one directory in memory at a
// time: the files come in the order of their archive names, as a sort of
// all of them would put them, and the directories are kept (names only)
// for the table, which follows the files. A directory's entries are
// ordered by name, a sub-directory's by its name and a backslash, which is
// where all that lies below it sorts among its siblings.
class TreeWalk {
 public:
  // A file as the walk meets it: its archive name, its directory (as a path
  // and, natively, as a descriptor to open it from), its own name (UTF-8).
  struct Found {
    const std::string& name;
    const fs::path& directory;
    int directoryFd;  // -1 on Windows
    const std::string& nativeName;
    fs::path Path() const { return directory / fs::u8path(nativeName); }
  };
  // onFile for each file; false stops the walk (reason set).
  using FileVisitor = std::function<bool(const Found&)>;

  TreeWalk(std::vector<fs::path> skipped, const NameRules& rules, std::vector<std::string> exclude,
           FileVisitor onFile)
      : skipped_(std::move(skipped)), rules_(rules), exclude_(std::move(exclude)), onFile_(std::move(onFile)) {}

  // False, with the reason, when the tree holds something the reader would
  // refuse, Windows would not store as named or the format cannot store, or
  // cannot be read.
  bool Walk(const fs::path& base, std::string* reason) {
    reason_ = reason;
    directories_.clear();
    leftOut_.clear();
    if (!WalkDirectory(base, "", "")) return false;
    // The table lists every directory before what it holds: name order.
    std::sort(directories_.begin(), directories_.end());
    // Met in the order the file system lists them; reported in one order.
    std::sort(leftOut_.begin(), leftOut_.end(),
              [](const LeftOut& a, const LeftOut& b) { return a.name < b.name; });
    return true;
  }
  const std::vector<std::string>& directories() const { return directories_; }
  const std::vector<LeftOut>& leftOut() const { return leftOut_; }

 private:
  struct Child {
    std::string name;         // native name
    std::string archiveName;  // in the archive's code page
    fs::file_type type;
  };

  // Archive order: by archive name, and a backslash after a directory's.
  static bool KeyLess(const Child& a, const Child& b) {
    const size_t common = std::min(a.archiveName.size(), b.archiveName.size());
    const int order = memcmp(a.archiveName.data(), b.archiveName.data(), common);
    if (order != 0) return order < 0;
    return KeyByte(a, common) < KeyByte(b, common);
  }
  // The key's byte at i, one past the name's end included; -1 after it.
  static int KeyByte(const Child& child, size_t i) {
    if (i < child.archiveName.size()) return static_cast<unsigned char>(child.archiveName[i]);
    return i == child.archiveName.size() && child.type == fs::file_type::directory ? '\\' : -1;
  }

  static const char* KindOf(const Child& child) {
    switch (child.type) {
      case fs::file_type::directory: return "directory";
      case fs::file_type::regular: return "file";
      case fs::file_type::symlink: return "link";
      default: return "entry";
    }
  }

  bool Refuse(const std::string& why) {
    *reason_ = why;
    return false;
  }

  // prefix: the directory's archive name and a backslash ("" at the top);
  // shownPrefix: the same in the tree's own characters, for messages.
  bool WalkDirectory(const fs::path& directory, const std::string& prefix,
                     const std::string& shownPrefix) {
    // Files are opened by their bare names from here: no path to resolve
    // again for each of them.
    const HeldDirectory held(directory);
    std::vector<DirectoryEntry> entries;
    std::string error;
    if (!held.ok()) return Refuse("cannot read the tree: " + directory.string());
    if (!held.List(&entries, &error)) {
      return Refuse("cannot read the tree: " + directory.string() + ": " + error);
    }
    // What to leave out here, if anything: compared by name alone.
    std::vector<std::string> skippedHere;
    for (const fs::path& skipped : skipped_) {
      if (skipped.parent_path() == directory) skippedHere.push_back(skipped.filename().string());
    }
    std::vector<Child> children;
    children.reserve(entries.size());
    for (DirectoryEntry& entry : entries) {
      if (std::find(skippedHere.begin(), skippedHere.end(), entry.name) != skippedHere.end()) continue;
      // Left out before any rule is applied: what is not packed cannot
      // break one.
      const bool isDirectory = entry.type == fs::file_type::directory;
      const auto pattern = std::find_if(exclude_.begin(), exclude_.end(), [&](const std::string& p) {
        return ExcludedBy(p, entry.name, isDirectory);
      });
      if (pattern != exclude_.end()) {
        leftOut_.push_back(LeftOut{shownPrefix + entry.name + (isDirectory ? "\\" : ""), *pattern});
        continue;
      }
      children.push_back(Child{std::move(entry.name), "", entry.type});
    }
    // Names in the archive's code page. Of several that cannot be, the
    // first in name order is reported, whatever order the file system
    // lists them in.
    const Child* unfit = nullptr;
    std::string unfitWhy;
    for (Child& child : children) {
      std::string why;
      if (child.name.find('\\') != std::string::npos) {
        why = "a backslash, which Windows reads as a separator";
      } else if (rules_.codePage == nullptr) {
        child.archiveName = child.name;
      } else {
        ConvertFromUtf8(*rules_.codePage, child.name, &child.archiveName, &why);
      }
      if (!why.empty() && (unfit == nullptr || child.name < unfit->name)) {
        unfit = &child;
        unfitWhy = why;
      }
    }
    if (unfit != nullptr) return Refuse("name \"" + shownPrefix + unfit->name + "\" refused: " + unfitWhy);
    std::sort(children.begin(), children.end(), KeyLess);
    // Two siblings Windows takes for one: whole paths that differ only in
    // case first differ in one directory, between two of its entries.
    std::unordered_map<std::string, const Child*> folded;
    folded.reserve(children.size());
    for (const Child& child : children) {
      std::string name = child.archiveName;
      for (char& c : name) c = static_cast<char>(FoldCase(rules_.codePage, static_cast<unsigned char>(c)));
      const auto earlier = folded.emplace(std::move(name), &child);
      if (!earlier.second) {
        const Child& first = *earlier.first->second;
        return Refuse(CaseCollision(KindOf(first), shownPrefix + first.name, KindOf(child),
                                    shownPrefix + child.name));
      }
    }
    for (const Child& child : children) {
      const std::string shown = shownPrefix + child.name;
      const std::string name = prefix + child.archiveName;
      if (name.size() >= static_cast<size_t>(kRecordSize)) {
        return Refuse("name longer than 255 characters: " + shown);
      }
      const char* entryProblem = CheckEntryName(name.c_str());
      const std::string why = entryProblem != nullptr ? entryProblem : WindowsNameProblem(name, rules_);
      if (!why.empty()) return Refuse("name \"" + shown + "\" refused: " + why);
      if (child.type == fs::file_type::symlink) return Refuse("links cannot be packed: " + shown);
      if (child.type == fs::file_type::directory) {
        directories_.push_back(name);
        if (!WalkDirectory(directory / fs::u8path(child.name), name + '\\', shown + '\\')) return false;
      } else if (child.type == fs::file_type::regular) {
        if (!onFile_(Found{name, directory, held.fd(), child.name})) return false;
      } else {
        return Refuse("neither a file nor a directory: " + shown);
      }
    }
    return true;
  }

  std::vector<fs::path> skipped_;
  NameRules rules_;
  std::vector<std::string> exclude_;
  FileVisitor onFile_;
  std::string* reason_ = nullptr;
  std::vector<std::string> directories_;
  std::vector<LeftOut> leftOut_;
};

bool TreeBase(const std::string& root, fs::path* base, std::string* reason) {
  std::error_code error;
  *base = fs::canonical(root, error);
  if (error || !fs::is_directory(*base)) {
    *reason = "not a directory: " + root;
    return false;
  }
  return true;
}

const char kTooLarge[] = "files too large together for the format (2 GiB)";

std::string FileTooLarge(const std::string& name) {
  return "file too large for the format (2 GiB): " + name;
}

}  // namespace

bool PlanTree(const std::string& root, const std::string& skip, TreePlan* plan,
              std::string* reason, const NameRules& rules) {
  *plan = TreePlan();
  fs::path base;
  if (!TreeBase(root, &base, reason)) return false;
  std::error_code error;
  std::vector<fs::path> skipped;
  if (!skip.empty()) skipped.push_back(fs::weakly_canonical(skip, error));
  int64_t sectionLength = 0;
  TreeWalk walk(skipped, rules, {}, [&](const TreeWalk::Found& found) {
    const std::string& name = found.name;
    const fs::path path = found.Path();
    const uintmax_t size = fs::file_size(path, error);
    if (error || size > static_cast<uintmax_t>(INT32_MAX)) {
      *reason = FileTooLarge(name);
      return false;
    }
    sectionLength += kEntryHeaderSize + static_cast<int64_t>(size);
    if (sectionLength > INT32_MAX) {
      *reason = kTooLarge;
      return false;
    }
    plan->fileNames.push_back(name);
    plan->fileSources.push_back(path.string());
    plan->fileSizes.push_back(static_cast<int64_t>(size));
    return true;
  });
  if (!walk.Walk(base, reason)) return false;
  plan->directories = walk.directories();
  return true;
}

namespace {

// The archive being written: through a buffer of a fixed size, whatever
// the tree; contents of large files go from file to file in the kernel
// where it can.
class ArchiveSink {
 public:
  static constexpr size_t kBufferSize = 256 * 1024;
  static constexpr int64_t kCopyPiece = 64 << 20;

  explicit ArchiveSink(const std::string& path) : path_(path), buffer_(kBufferSize) {
#ifdef _WIN32
    file_ = fopen(path.c_str(), "wb");
    ok_ = file_ != nullptr;
#else
    fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    ok_ = fd_ >= 0;
#endif
  }
  ~ArchiveSink() { Close(); }

  bool ok() const { return ok_; }
  // Why writing failed: the system's word for it.
  const char* error() const { return strerror(error_); }
  // Called with the bytes written so far, each time more reached the file.
  void OnWritten(std::function<void(uint64_t)> onWritten) { onWritten_ = std::move(onWritten); }

  void Put(const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0 && ok_) {
      const size_t n = std::min(size, buffer_.size() - used_);
      memcpy(&buffer_[used_], bytes, n);
      used_ += n;
      bytes += n;
      size -= n;
      if (used_ == buffer_.size()) Flush();
    }
  }

  // Appends exactly size bytes of the open source; false when it has fewer.
  bool CopyFrom(int source, int64_t size) {
#ifndef _WIN32
    if (size >= static_cast<int64_t>(kBufferSize) && ok_ && copyInKernel_) {
      Flush();
      int64_t remaining = size;
      while (ok_ && remaining > 0) {
        // In pieces, so that a large file's progress is seen while it is copied.
        const size_t piece = static_cast<size_t>(std::min<int64_t>(remaining, kCopyPiece));
        const ssize_t copied = copy_file_range(source, nullptr, fd_, nullptr, piece, 0);
        if (copied > 0) {
          remaining -= copied;
          Written(static_cast<uint64_t>(copied));
        } else if (copied == 0) {
          return false;  // the file is shorter than it was
        } else if (errno != EINTR) {
          if (remaining != size || (errno != EXDEV && errno != EINVAL && errno != ENOSYS &&
                                    errno != EOPNOTSUPP)) {
            Fail();
            return false;
          }
          copyInKernel_ = false;  // not between these file systems
          break;
        }
      }
      if (remaining == 0 || !ok_) return ok_;
    }
#endif
    int64_t remaining = size;
    while (ok_ && remaining > 0) {
      if (used_ == buffer_.size()) Flush();
      const size_t room = std::min<int64_t>(remaining, static_cast<int64_t>(buffer_.size() - used_));
      const int64_t got = ReadSource(source, &buffer_[used_], room);
      if (got <= 0) return false;
      used_ += static_cast<size_t>(got);
      remaining -= got;
    }
    return ok_;
  }

  // Puts the header at the start, once everything else is written.
  bool Finish(int32_t count, int32_t sectionLength) {
    Flush();
    unsigned char header[kArchiveHeaderSize];
    WriteLe32(header, count);
    WriteLe32(header + 4, sectionLength);
#ifdef _WIN32
    if (ok_ && (fseek(file_, 0, SEEK_SET) != 0 || fwrite(header, 1, sizeof header, file_) != sizeof header)) {
      Fail();
    }
#else
    if (ok_ && pwrite(fd_, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) Fail();
#endif
    return Close() && ok_;
  }

  static int64_t ReadSource(int source, char* into, size_t size) {
#ifdef _WIN32
    return _read(source, into, static_cast<unsigned>(size));
#else
    for (;;) {
      const ssize_t got = read(source, into, size);
      if (got >= 0 || errno != EINTR) return got;
    }
#endif
  }

 private:
  void Fail() {
    if (ok_) error_ = errno;
    ok_ = false;
  }

  void Flush() {
    size_t done = 0;
    while (ok_ && done < used_) {
#ifdef _WIN32
      const size_t put = fwrite(&buffer_[done], 1, used_ - done, file_);
      if (put == 0) Fail();
#else
      const ssize_t put = write(fd_, &buffer_[done], used_ - done);
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) Fail();
      if (put == 0) {
        errno = ENOSPC;
        Fail();
      }
#endif
      if (ok_) done += static_cast<size_t>(put);
    }
    used_ = 0;
    if (done > 0) Written(done);
  }

  void Written(uint64_t more) {
    written_ += more;
    if (onWritten_) onWritten_(written_);
  }

  bool Close() {
#ifdef _WIN32
    if (file_ != nullptr && fclose(file_) != 0) Fail();
    file_ = nullptr;
#else
    if (fd_ >= 0 && close(fd_) != 0) Fail();
    fd_ = -1;
#endif
    return ok_;
  }

  std::string path_;
  std::vector<char> buffer_;
  size_t used_ = 0;
  bool ok_ = false;
  int error_ = 0;
  bool copyInKernel_ = true;
  uint64_t written_ = 0;
  std::function<void(uint64_t)> onWritten_;
#ifdef _WIN32
  FILE* file_ = nullptr;
#else
  int fd_ = -1;
#endif
};

void CloseSource(int fd) {
#ifdef _WIN32
  if (fd >= 0) _close(fd);
#else
  if (fd >= 0) close(fd);
#endif
}

// Opens a file of the tree for packing: the file itself, never a link put
// in its place since the walk saw it. -1 when that is not a regular file.
int OpenSource(const TreeWalk::Found& found, int64_t* size) {
#ifdef _WIN32
  const int fd = _wopen(found.Path().c_str(), _O_RDONLY | _O_BINARY);
  struct _stati64 status;
  if (fd >= 0 && (_fstati64(fd, &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG)) {
#else
  const int fd = openat(found.directoryFd, found.nativeName.c_str(),
                        O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  struct stat status;
  if (fd >= 0 && (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))) {
#endif
    CloseSource(fd);
    return -1;
  }
  if (fd >= 0) *size = static_cast<int64_t>(status.st_size);
  return fd;
}

}  // namespace

bool CreateArchive(const std::string& out, const std::string& root, CreateCounts* counts,
                   std::string* reason, const NameRules& rules, const PackOptions& options) {
  *counts = CreateCounts();
  fs::path base;
  if (!TreeBase(root, &base, reason)) return false;
  const std::string partial = out + ".partial";
  std::error_code error;
  // Neither the archive nor its unfinished copy is part of what it packs.
  std::vector<fs::path> skipped = {fs::weakly_canonical(out, error),
                                   fs::weakly_canonical(partial, error)};
  // Every name judged before a byte is written: a refused tree leaves no
  // trace, and a provider learns of all that is wrong with its names
  // without waiting for the contents to be copied. Names only: the
  // enumeration tells the types, and nothing per file is asked.
  TreeWalk names(skipped, rules, options.exclude, [](const TreeWalk::Found&) { return true; });
  if (!names.Walk(base, reason)) return false;
  bool ok;
  {
    ArchiveSink sink(partial);
    if (!sink.ok()) {
      *reason = "cannot create " + partial + ": " + strerror(errno);
      return false;
    }
    int64_t sectionLength = 0;
    int32_t fileCount = 0;
    if (options.progress) {
      sink.OnWritten([&](uint64_t bytes) { options.progress(bytes, static_cast<size_t>(fileCount)); });
    }
    const unsigned char placeholder[kArchiveHeaderSize] = {};
    sink.Put(placeholder, sizeof placeholder);
    TreeWalk walk(skipped, rules, options.exclude, [&](const TreeWalk::Found& found) {
      const std::string& name = found.name;
      int64_t size = 0;
      const int source = OpenSource(found, &size);
      if (source < 0) {
        *reason = "file changed or unreadable while packing: " + found.Path().string();
        return false;
      }
      bool fits = size <= INT32_MAX;
      if (!fits) {
        *reason = FileTooLarge(name);
      } else if (sectionLength + kEntryHeaderSize + size > INT32_MAX) {
        *reason = kTooLarge;
        fits = false;
      }
      if (!fits) {
        CloseSource(source);
        return false;
      }
      unsigned char entry[kEntryHeaderSize] = {};
      memcpy(entry, name.data(), std::min<size_t>(name.size(), kRecordSize - 1));
      WriteLe32(entry + kContentLengthOffset, static_cast<int32_t>(size));
      sink.Put(entry, sizeof entry);
      const bool copied = sink.CopyFrom(source, size);
      CloseSource(source);
      if (!copied) {
        *reason = sink.ok() ? "file changed or unreadable while packing: " + found.Path().string()
                            : "cannot write " + partial + ": " + sink.error();
        return false;
      }
      sectionLength += kEntryHeaderSize + size;
      ++fileCount;
      return true;
    });
    ok = walk.Walk(base, reason);
    if (ok) {
      std::string record;
      for (const std::string& directory : walk.directories()) {
        record.assign(kRecordSize, '\0');
        memcpy(&record[0], directory.data(), std::min<size_t>(directory.size(), kRecordSize - 1));
        sink.Put(record.data(), record.size());
      }
      if (!sink.Finish(fileCount, static_cast<int32_t>(sectionLength))) {
        *reason = "cannot write " + partial + ": " + sink.error();
        ok = false;
      }
      counts->directories = walk.directories().size();
      counts->files = static_cast<size_t>(fileCount);
      counts->leftOut = walk.leftOut();
    }
  }
  if (ok) {
    fs::rename(partial, out, error);
    if (error) {
      *reason = "cannot replace " + out + ": " + error.message();
      ok = false;
    }
  }
  if (!ok) fs::remove(partial, error);
  return ok;
}

}  // namespace secpack
