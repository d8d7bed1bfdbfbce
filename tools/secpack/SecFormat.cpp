#include "tools/secpack/SecFormat.h"

#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "package/PackageArchive.h"

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

// The name's components joined by '\', empty and "." components dropped;
// with fold, ASCII letters in lower case, as Windows compares names.
std::string Normalize(const std::string& name, bool fold) {
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
      component += (fold && c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
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

// Why Windows would not store the name as given, or nullptr. It accepts no
// control characters or wildcards, and drops trailing dots and spaces from
// each component ("x." becomes "x", "a\." names "a" itself), so such a name
// unpacks differently, or not at all, on one system or another.
const char* WindowsNameProblem(const std::string& name) {
  for (unsigned char c : name) {
    if (c < 32 || strchr("<>\"|?*", c) != nullptr) return "holds a character Windows does not allow in names";
  }
  for (size_t end = 0; end <= name.size(); ++end) {
    if (end == name.size() || name[end] == '\\' || name[end] == '/') {
      if (end > 0 && (name[end - 1] == '.' || name[end - 1] == ' ')) {
        return "has a component ending in a dot or a space";
      }
    }
  }
  return nullptr;
}

bool CheckName(const unsigned char* field, const char* what, std::string* name,
               std::string* reason) {
  const void* zero = memchr(field, 0, kRecordSize);
  if (zero == nullptr) {
    *reason = std::string(what) + " has no terminating zero in its 256 bytes";
    return false;
  }
  name->assign(reinterpret_cast<const char*>(field));
  if (name->empty()) {
    *reason = std::string(what) + " is empty";
    return false;
  }
  if (const char* why = CheckEntryName(name->c_str())) {
    *reason = std::string(what) + " \"" + *name + "\" refused: " + why;
    return false;
  }
  if (const char* problem = WindowsNameProblem(*name)) {
    *reason = std::string(what) + " " + problem;
    return false;
  }
  return true;
}

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

bool VerifyArchive(const unsigned char* data, size_t size, Listing* listing,
                   std::string* reason) {
  *listing = Listing();
  if (size < static_cast<size_t>(kArchiveHeaderSize)) {
    *reason = "archive header cut short: " + std::to_string(size) + " of 8 bytes";
    return false;
  }
  const int32_t count = ReadLe32(data);
  const int32_t sectionLength = ReadLe32(data + 4);
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
  std::set<std::string> knownFolded;
  for (uint64_t at = sectionEnd; at < size; at += kRecordSize) {
    const std::string what = "directory record " + std::to_string((at - sectionEnd) / kRecordSize + 1);
    std::string name;
    if (!CheckName(data + at, what.c_str(), &name, reason)) return false;
    const std::string normalized = Normalize(name, false);
    const std::string parent = Parent(normalized);
    if (!parent.empty() && known.count(parent) == 0) {
      *reason = "directory \"" + name + "\" comes before its parent";
      return false;
    }
    known.insert(normalized);
    knownFolded.insert(Normalize(name, true));
    listing->directories.push_back(name);
  }

  // The file section: count entries that fill it exactly.
  std::set<std::string> files;
  uint64_t at = kArchiveHeaderSize;
  for (int32_t entry = 1; entry <= count; ++entry) {
    const std::string what = "file entry " + std::to_string(entry);
    if (at + kEntryHeaderSize > sectionEnd) {
      *reason = what + " lies past the end of the file section";
      return false;
    }
    std::string name;
    if (!CheckName(data + at, (what + " name").c_str(), &name, reason)) return false;
    if (name.back() == '\\' || name.back() == '/') {
      *reason = "file name \"" + name + "\" ends with a separator";
      return false;
    }
    const int32_t length = ReadLe32(data + at + kContentLengthOffset);
    if (length < 0) {
      *reason = "file \"" + name + "\" has a negative content length " + std::to_string(length);
      return false;
    }
    at += kEntryHeaderSize;
    if (at + static_cast<uint64_t>(length) > sectionEnd) {
      *reason = "content of \"" + name + "\" runs past the end of the file section";
      return false;
    }
    const std::string parent = Parent(Normalize(name, false));
    if (!parent.empty() && known.count(parent) == 0) {
      *reason = "directory of file \"" + name + "\" is not in the directory table";
      return false;
    }
    const std::string folded = Normalize(name, true);
    if (knownFolded.count(folded) != 0) {
      *reason = "file \"" + name + "\" is also a directory of the table";
      return false;
    }
    if (!files.insert(folded).second) {
      *reason = "file \"" + name + "\" is stored twice";
      return false;
    }
    listing->files.push_back(ListedFile{name, length, static_cast<int64_t>(at)});
    at += static_cast<uint64_t>(length);
  }
  if (at != sectionEnd) {
    *reason = "file section holds " + std::to_string(sectionEnd - at) +
              " bytes after its last entry";
    return false;
  }
  return true;
}

bool PlanTree(const std::string& root, const std::string& skip, TreePlan* plan,
              std::string* reason) {
  *plan = TreePlan();
  std::error_code error;
  const fs::path base = fs::canonical(root, error);
  if (error || !fs::is_directory(base)) {
    *reason = "not a directory: " + root;
    return false;
  }
  const fs::path skipped = skip.empty() ? fs::path() : fs::weakly_canonical(skip, error);
  struct Item {
    std::string name;
    fs::path source;
    bool directory;
    int64_t size;
  };
  std::vector<Item> items;
  int64_t sectionLength = 0;
  for (auto it = fs::recursive_directory_iterator(base, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (error) break;
    const fs::path& path = it->path();
    if (!skipped.empty() && path == skipped) continue;
    const std::string native = path.lexically_relative(base).generic_string();
    std::string name;
    for (char c : native) {
      if (c == '\\') {
        *reason = "name holds a backslash: " + native;
        return false;
      }
      name += c == '/' ? '\\' : c;
    }
    if (name.size() >= static_cast<size_t>(kRecordSize)) {
      *reason = "name longer than 255 characters: " + name;
      return false;
    }
    if (const char* why = CheckEntryName(name.c_str())) {
      *reason = "name \"" + name + "\" refused: " + why;
      return false;
    }
    if (const char* problem = WindowsNameProblem(name)) {
      *reason = "name \"" + name + "\" " + problem;
      return false;
    }
    const fs::file_status status = it->symlink_status();
    if (fs::is_symlink(status)) {
      *reason = "links cannot be packed: " + name;
      return false;
    }
    if (fs::is_directory(status)) {
      items.push_back(Item{name, path, true, 0});
    } else if (fs::is_regular_file(status)) {
      const uintmax_t size = fs::file_size(path, error);
      if (error || size > static_cast<uintmax_t>(INT32_MAX)) {
        *reason = "file too large for the format (2 GiB): " + name;
        return false;
      }
      sectionLength += kEntryHeaderSize + static_cast<int64_t>(size);
      if (sectionLength > INT32_MAX) {
        *reason = "files too large together for the format (2 GiB)";
        return false;
      }
      items.push_back(Item{name, path, false, static_cast<int64_t>(size)});
    } else {
      *reason = "neither a file nor a directory: " + name;
      return false;
    }
  }
  if (error) {
    *reason = "cannot read the tree: " + error.message();
    return false;
  }
  // Name order puts every directory right before what it holds.
  std::sort(items.begin(), items.end(),
            [](const Item& a, const Item& b) { return a.name < b.name; });
  for (const Item& item : items) {
    if (item.directory) {
      plan->directories.push_back(item.name);
    } else {
      plan->fileNames.push_back(item.name);
      plan->fileSources.push_back(item.source.string());
      plan->fileSizes.push_back(item.size);
    }
  }
  return true;
}

bool WriteArchive(const std::string& out, const TreePlan& plan, std::string* reason) {
  const std::string partial = out + ".partial";
  std::ofstream archive(partial, std::ios::binary | std::ios::trunc);
  if (!archive) {
    *reason = "cannot create " + partial;
    return false;
  }
  int64_t sectionLength = 0;
  for (int64_t size : plan.fileSizes) sectionLength += kEntryHeaderSize + size;
  std::string header;
  PutLe32(&header, static_cast<int32_t>(plan.fileNames.size()));
  PutLe32(&header, static_cast<int32_t>(sectionLength));
  archive.write(header.data(), static_cast<std::streamsize>(header.size()));

  std::vector<char> chunk(kCopyChunk);
  bool ok = true;
  for (size_t i = 0; ok && i < plan.fileNames.size(); ++i) {
    std::string entry;
    PutRecord(&entry, plan.fileNames[i]);
    PutLe32(&entry, static_cast<int32_t>(plan.fileSizes[i]));
    PutLe32(&entry, 0);
    archive.write(entry.data(), static_cast<std::streamsize>(entry.size()));
    std::ifstream source(plan.fileSources[i], std::ios::binary);
    int64_t remaining = plan.fileSizes[i];
    while (source && remaining > 0) {
      const std::streamsize n = static_cast<std::streamsize>(std::min<int64_t>(remaining, kCopyChunk));
      source.read(chunk.data(), n);
      if (source.gcount() != n) break;
      archive.write(chunk.data(), n);
      remaining -= n;
    }
    if (remaining != 0) {
      *reason = "file changed or unreadable while packing: " + plan.fileSources[i];
      ok = false;
    }
  }
  if (ok) {
    std::string table;
    for (const std::string& directory : plan.directories) PutRecord(&table, directory);
    archive.write(table.data(), static_cast<std::streamsize>(table.size()));
  }
  archive.close();
  if (ok && !archive) {
    *reason = "cannot write " + partial;
    ok = false;
  }
  std::error_code error;
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
