#include "tools/secpack/CreateArchive.h"

#include <string.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "package/PackageArchive.h"
#include "tools/secpack/HostFiles.h"
#include "tools/secpack/TreeWalk.h"

namespace fs = std::filesystem;

namespace secpack {
namespace {

// The archive being written: through a buffer of a fixed size, whatever
// the tree; contents of large files go from file to file in the kernel
// where the system can.
class ArchiveSink {
 public:
  static constexpr size_t kBufferSize = 256 * 1024;
  // A large file goes from file to file in pieces of this size, so that
  // its progress is seen while it is copied.
  static constexpr int64_t kCopyPiece = 64 << 20;

  explicit ArchiveSink(const std::string& path) : output_(path), buffer_(kBufferSize) {}

  bool ok() const { return output_.ok(); }
  // Why writing failed: the system's word for it.
  const char* error() const { return output_.error(); }
  // Called with the bytes written so far, each time more reached the file.
  void OnWritten(std::function<void(uint64_t)> onWritten) { onWritten_ = std::move(onWritten); }

  void Put(const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0 && ok()) {
      const size_t n = std::min(size, buffer_.size() - used_);
      memcpy(&buffer_[used_], bytes, n);
      used_ += n;
      bytes += n;
      size -= n;
      if (used_ == buffer_.size()) Flush();
    }
  }

  // Appends exactly size bytes of the open source; false when it has fewer
  // or writing failed (ok() tells which).
  bool CopyFrom(SourceFile* source, int64_t size) {
    if (size >= static_cast<int64_t>(kBufferSize) && copyInKernel_) {
      Flush();
      for (int64_t done = 0; done < size;) {
        const int64_t piece = std::min(size - done, kCopyPiece);
        switch (ok() ? output_.CopyFrom(source, piece) : ArchiveOutput::Copy::kFailed) {
          case ArchiveOutput::Copy::kDone:
            done += piece;
            Written(static_cast<uint64_t>(piece));
            continue;
          case ArchiveOutput::Copy::kSourceShort:
          case ArchiveOutput::Copy::kFailed:
            return false;
          case ArchiveOutput::Copy::kNotHere:
            // Known before the first byte, and so for every file after.
            if (done > 0) return false;
            copyInKernel_ = false;
            break;
        }
        break;
      }
      if (copyInKernel_) return true;
    }
    int64_t remaining = size;
    while (ok() && remaining > 0) {
      if (used_ == buffer_.size()) Flush();
      const size_t room = std::min<int64_t>(remaining, static_cast<int64_t>(buffer_.size() - used_));
      const int64_t got = source->Read(&buffer_[used_], room);
      if (got <= 0) return false;
      used_ += static_cast<size_t>(got);
      remaining -= got;
    }
    return ok();
  }

  // Puts the header at the start, once everything else is written.
  bool Finish(int32_t count, int32_t sectionLength) {
    Flush();
    unsigned char header[kArchiveHeaderSize];
    WriteLe32(header, count);
    WriteLe32(header + 4, sectionLength);
    output_.WriteAtStart(header, sizeof header);
    return output_.Close();
  }

 private:
  void Flush() {
    if (used_ > 0 && output_.Write(buffer_.data(), used_)) Written(used_);
    used_ = 0;
  }

  void Written(uint64_t more) {
    written_ += more;
    if (onWritten_) onWritten_(written_);
  }

  ArchiveOutput output_;
  std::vector<char> buffer_;
  size_t used_ = 0;
  bool copyInKernel_ = true;
  uint64_t written_ = 0;
  std::function<void(uint64_t)> onWritten_;
};

const char kTooLarge[] = "files too large together for the format (2 GiB)";

}  // namespace

void FillRecord(unsigned char* record, const std::string& name) {
  memset(record, 0, kRecordSize);
  memcpy(record, name.data(), std::min<size_t>(name.size(), kRecordSize - 1));
}

bool CreateArchive(const std::string& out, const std::string& root, CreateCounts* counts,
                   std::string* reason, const NameRules& rules, const PackOptions& options) {
  *counts = CreateCounts();
  const std::string partial = out + ".partial";
  std::error_code error;
  // Neither the archive nor its unfinished copy is part of what it packs.
  const std::vector<fs::path> skipped = {fs::weakly_canonical(out, error),
                                         fs::weakly_canonical(partial, error)};
  // Every name judged before a byte is written: a refused tree leaves no
  // trace, and a provider learns of all that is wrong with its names
  // without waiting for the contents to be copied. Names only: the
  // enumeration tells the types, and nothing per file is asked.
  TreeWalk names(skipped, rules, options.exclude, [](const TreeWalk::Found&) { return true; });
  if (!names.Walk(root, reason)) return false;
  bool ok;
  {
    ArchiveSink sink(partial);
    if (!sink.ok()) {
      *reason = "cannot create " + partial + ": " + sink.error();
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
      SourceFile source;
      if (!found.held.Open(found.nativeName, &source)) {
        *reason = "file changed or unreadable while packing: " + found.Path().string();
        return false;
      }
      const int64_t size = source.size();
      if (size > INT32_MAX) {
        *reason = "file too large for the format (2 GiB): " + found.name;
        return false;
      }
      if (sectionLength + kEntryHeaderSize + size > INT32_MAX) {
        *reason = kTooLarge;
        return false;
      }
      unsigned char entry[kEntryHeaderSize];
      FillRecord(entry, found.name);
      WriteLe32(entry + kContentLengthOffset, static_cast<int32_t>(size));
      WriteLe32(entry + kContentLengthOffset + 4, 0);  // reserved
      sink.Put(entry, sizeof entry);
      if (!sink.CopyFrom(&source, size)) {
        *reason = sink.ok() ? "file changed or unreadable while packing: " + found.Path().string()
                            : "cannot write " + partial + ": " + sink.error();
        return false;
      }
      sectionLength += kEntryHeaderSize + size;
      ++fileCount;
      return true;
    });
    ok = walk.Walk(root, reason);
    if (ok) {
      unsigned char record[kRecordSize];
      for (const std::string& directory : walk.directories()) {
        FillRecord(record, directory);
        sink.Put(record, sizeof record);
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
