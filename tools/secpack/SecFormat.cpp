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
#include <utility>

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
  // and, natively, as a descriptor to open it from), its own name.
  struct Found {
    const std::string& name;
    const fs::path& directory;
    int directoryFd;  // -1 on Windows
    const std::string& nativeName;
    fs::path Path() const { return directory / nativeName; }
  };
  // onFile for each file; false stops the walk (reason set).
  using FileVisitor = std::function<bool(const Found&)>;

  TreeWalk(std::vector<fs::path> skipped, FileVisitor onFile)
      : skipped_(std::move(skipped)), onFile_(std::move(onFile)) {}

  // False, with the reason, when the tree holds something the reader would
  // refuse or the format cannot store, or cannot be read.
  bool Walk(const fs::path& base, std::string* reason) {
    reason_ = reason;
    directories_.clear();
    if (!WalkDirectory(base, "", "")) return false;
    // The table lists every directory before what it holds: name order.
    std::sort(directories_.begin(), directories_.end());
    return true;
  }
  const std::vector<std::string>& directories() const { return directories_; }

 private:
  struct Child {
    std::string key;   // name, and a backslash after a directory's
    std::string name;  // native name
    fs::file_type type;
  };

  bool Refuse(const std::string& why) {
    *reason_ = why;
    return false;
  }

  bool WalkDirectory(const fs::path& directory, const std::string& prefix,
                     const std::string& nativePrefix) {
    std::error_code error;
    std::vector<Child> children;
    // What to leave out here, if anything: compared by name alone.
    std::vector<std::string> skippedHere;
    for (const fs::path& skipped : skipped_) {
      if (skipped.parent_path() == directory) skippedHere.push_back(skipped.filename().string());
    }
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
      std::string name = it->path().filename().string();
      if (std::find(skippedHere.begin(), skippedHere.end(), name) != skippedHere.end()) continue;
      // The type the enumeration reports with the name (asked of the file
      // system only where it reports none); a link is a link.
      fs::file_type type = fs::file_type::unknown;
      if (it->is_symlink(error)) {
        type = fs::file_type::symlink;
      } else if (!error && it->is_directory(error)) {
        type = fs::file_type::directory;
      } else if (!error && it->is_regular_file(error)) {
        type = fs::file_type::regular;
      }
      if (error) break;
      std::string key = name;
      if (type == fs::file_type::directory) key += '\\';
      children.push_back(Child{std::move(key), std::move(name), type});
    }
    if (error) return Refuse("cannot read the tree: " + error.message());
    std::sort(children.begin(), children.end(),
              [](const Child& a, const Child& b) { return a.key < b.key; });
    // Files are opened by their bare names from here: no path to resolve
    // again for each of them.
    struct Hold {
      int fd = -1;
      ~Hold() {
#ifndef _WIN32
        if (fd >= 0) close(fd);
#endif
      }
    } hold;
#ifndef _WIN32
    hold.fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (hold.fd < 0) return Refuse("cannot read the tree: " + directory.string());
#endif
    for (const Child& child : children) {
      const std::string native = nativePrefix + child.name;
      if (child.name.find('\\') != std::string::npos) {
        return Refuse("name holds a backslash: " + native);
      }
      const std::string name = prefix + child.name;
      if (name.size() >= static_cast<size_t>(kRecordSize)) {
        return Refuse("name longer than 255 characters: " + name);
      }
      if (const char* why = CheckEntryName(name.c_str())) {
        return Refuse("name \"" + name + "\" refused: " + why);
      }
      if (const char* problem = WindowsNameProblem(name)) {
        return Refuse("name \"" + name + "\" " + problem);
      }
      if (child.type == fs::file_type::symlink) return Refuse("links cannot be packed: " + name);
      if (child.type == fs::file_type::directory) {
        directories_.push_back(name);
        if (!WalkDirectory(directory / child.name, name + '\\', native + '/')) return false;
      } else if (child.type == fs::file_type::regular) {
        if (!onFile_(Found{name, directory, hold.fd, child.name})) return false;
      } else {
        return Refuse("neither a file nor a directory: " + name);
      }
    }
    return true;
  }

  std::vector<fs::path> skipped_;
  FileVisitor onFile_;
  std::string* reason_ = nullptr;
  std::vector<std::string> directories_;
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
              std::string* reason) {
  *plan = TreePlan();
  fs::path base;
  if (!TreeBase(root, &base, reason)) return false;
  std::error_code error;
  std::vector<fs::path> skipped;
  if (!skip.empty()) skipped.push_back(fs::weakly_canonical(skip, error));
  int64_t sectionLength = 0;
  TreeWalk walk(skipped, [&](const TreeWalk::Found& found) {
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
        const ssize_t copied = copy_file_range(source, nullptr, fd_, nullptr,
                                               static_cast<size_t>(remaining), 0);
        if (copied > 0) {
          remaining -= copied;
        } else if (copied == 0) {
          return false;  // the file is shorter than it was
        } else if (errno != EINTR) {
          if (remaining != size || (errno != EXDEV && errno != EINVAL && errno != ENOSYS &&
                                    errno != EOPNOTSUPP)) {
            ok_ = false;
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
    ok_ = ok_ && fseek(file_, 0, SEEK_SET) == 0 && fwrite(header, 1, sizeof header, file_) == sizeof header;
#else
    ok_ = ok_ && pwrite(fd_, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header);
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
  void Flush() {
    size_t done = 0;
    while (ok_ && done < used_) {
#ifdef _WIN32
      const size_t put = fwrite(&buffer_[done], 1, used_ - done, file_);
      if (put == 0) ok_ = false;
#else
      const ssize_t put = write(fd_, &buffer_[done], used_ - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) ok_ = false;
#endif
      if (ok_) done += static_cast<size_t>(put);
    }
    used_ = 0;
  }

  bool Close() {
#ifdef _WIN32
    if (file_ != nullptr && fclose(file_) != 0) ok_ = false;
    file_ = nullptr;
#else
    if (fd_ >= 0 && close(fd_) != 0) ok_ = false;
    fd_ = -1;
#endif
    return ok_;
  }

  std::string path_;
  std::vector<char> buffer_;
  size_t used_ = 0;
  bool ok_ = false;
  bool copyInKernel_ = true;
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
                   std::string* reason) {
  *counts = CreateCounts();
  fs::path base;
  if (!TreeBase(root, &base, reason)) return false;
  const std::string partial = out + ".partial";
  std::error_code error;
  // Neither the archive nor its unfinished copy is part of what it packs.
  std::vector<fs::path> skipped = {fs::weakly_canonical(out, error),
                                   fs::weakly_canonical(partial, error)};
  bool ok;
  {
    ArchiveSink sink(partial);
    if (!sink.ok()) {
      *reason = "cannot create " + partial;
      return false;
    }
    const unsigned char placeholder[kArchiveHeaderSize] = {};
    sink.Put(placeholder, sizeof placeholder);
    int64_t sectionLength = 0;
    int32_t fileCount = 0;
    TreeWalk walk(skipped, [&](const TreeWalk::Found& found) {
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
                            : "cannot write " + partial;
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
        *reason = "cannot write " + partial;
        ok = false;
      }
      counts->directories = walk.directories().size();
      counts->files = static_cast<size_t>(fileCount);
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
