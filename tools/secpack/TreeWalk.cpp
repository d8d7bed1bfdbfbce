#include "tools/secpack/TreeWalk.h"

#include <string.h>

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "package/PackageArchive.h"
#include "platform/EntryName.h"

namespace fs = std::filesystem;

namespace secpack {
namespace {

// The key's byte at i, one past the name's end included (a backslash after
// a directory's name); -1 after it.
int KeyByte(const std::string& archiveName, fs::file_type type, size_t i) {
  if (i < archiveName.size()) return static_cast<unsigned char>(archiveName[i]);
  return i == archiveName.size() && type == fs::file_type::directory ? '\\' : -1;
}

const char* KindOf(fs::file_type type) {
  switch (type) {
    case fs::file_type::directory: return "directory";
    case fs::file_type::regular: return "file";
    case fs::file_type::symlink: return "link";
    default: return "entry";
  }
}

// '*' and '?' against the whole name; a '*' that fails is retried one byte
// further on, which is all the backtracking a pattern without brackets needs.
bool Matches(const char* pattern, const char* name) {
  const char* star = nullptr;
  const char* retry = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      retry = name;
    } else if (*pattern != '\0' && (*pattern == '?' || platform::LowerAscii(*pattern) == platform::LowerAscii(*name))) {
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

bool TreeWalk::Walk(const std::string& root, std::string* reason) {
  reason_ = reason;
  directories_.clear();
  leftOut_.clear();
  std::error_code error;
  const fs::path base = fs::canonical(root, error);
  if (error || !fs::is_directory(base)) return Refuse("not a directory: " + root);
  if (!WalkDirectory(base, "", "")) return false;
  // The table lists every directory before what it holds: name order.
  std::sort(directories_.begin(), directories_.end());
  // Met in the order the file system lists them; reported in one order.
  std::sort(leftOut_.begin(), leftOut_.end(),
            [](const LeftOut& a, const LeftOut& b) { return a.name < b.name; });
  return true;
}

bool TreeWalk::Refuse(const std::string& why) {
  *reason_ = why;
  return false;
}

bool TreeWalk::ListChildren(const HeldDirectory& held, const fs::path& directory,
                            const std::string& shownPrefix, std::vector<Child>* children) {
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
  children->reserve(entries.size());
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
    children->push_back(Child{std::move(entry.name), "", entry.type});
  }
  return true;
}

bool TreeWalk::ConvertNames(std::vector<Child>* children, const std::string& shownPrefix) {
  // Of several names that cannot be converted, the first in name order is
  // reported, whatever order the file system lists them in.
  const Child* unfit = nullptr;
  std::string unfitWhy;
  for (Child& child : *children) {
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
  return true;
}

bool TreeWalk::WalkDirectory(const fs::path& directory, const std::string& prefix,
                             const std::string& shownPrefix) {
  // Files are opened by their bare names from here: no path to resolve
  // again for each of them.
  const HeldDirectory held(directory);
  std::vector<Child> children;
  if (!ListChildren(held, directory, shownPrefix, &children) || !ConvertNames(&children, shownPrefix)) {
    return false;
  }
  // Archive order: by archive name, and a backslash after a directory's.
  std::sort(children.begin(), children.end(), [](const Child& a, const Child& b) {
    const size_t common = std::min(a.archiveName.size(), b.archiveName.size());
    const int order = memcmp(a.archiveName.data(), b.archiveName.data(), common);
    if (order != 0) return order < 0;
    return KeyByte(a.archiveName, a.type, common) < KeyByte(b.archiveName, b.type, common);
  });
  // Two siblings Windows takes for one: whole paths that differ only in
  // case first differ in one directory, between two of its entries.
  std::unordered_map<std::string, const Child*> folded;
  folded.reserve(children.size());
  for (const Child& child : children) {
    const auto earlier = folded.emplace(Folded(child.archiveName, rules_), &child);
    if (!earlier.second) {
      const Child& first = *earlier.first->second;
      return Refuse(CaseCollision(KindOf(first.type), shownPrefix + first.name, KindOf(child.type),
                                  shownPrefix + child.name));
    }
  }
  for (const Child& child : children) {
    const std::string shown = shownPrefix + child.name;
    const std::string name = prefix + child.archiveName;
    if (name.size() >= static_cast<size_t>(kRecordSize)) {
      return Refuse("name longer than 255 characters: " + shown);
    }
    const std::string why = NameProblem(name, rules_);
    if (!why.empty()) return Refuse("name \"" + shown + "\" refused: " + why);
    if (child.type == fs::file_type::symlink) return Refuse("links cannot be packed: " + shown);
    if (child.type == fs::file_type::directory) {
      directories_.push_back(name);
      if (!WalkDirectory(directory / fs::u8path(child.name), name + '\\', shown + '\\')) return false;
    } else if (child.type == fs::file_type::regular) {
      if (!onFile_(Found{name, held, directory, child.name})) return false;
    } else {
      return Refuse("neither a file nor a directory: " + shown);
    }
  }
  return true;
}

}  // namespace secpack
