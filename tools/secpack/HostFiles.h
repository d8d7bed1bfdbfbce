// The file access secpack create needs beyond the C++ library: a directory
// of the tree held while the walk is in it, the files opened through it,
// and the archive being written. Their system calls are in one file per
// system (HostFilesPosix.cpp, HostFilesWin32.cpp), chosen by the build.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <filesystem>
#include <string>
#include <vector>

namespace secpack {

struct DirectoryEntry {
  std::string name;
  // regular, directory or symlink as the listing tells it (asked of the
  // file system only where it tells none, never through a link); unknown
  // for anything else.
  std::filesystem::file_type type;
};

// A file of the tree, open for reading.
class SourceFile {
 public:
  SourceFile() = default;
  ~SourceFile();
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;

  int64_t size() const { return size_; }
  // Up to size bytes from where the last read ended: how many (0 at the
  // end), or -1 when it cannot be read.
  int64_t Read(void* into, size_t size);

 private:
  friend class HeldDirectory;
  friend class ArchiveOutput;
  // Takes the size of what was opened; false when it is not a regular file.
  bool Measure();
  int fd_ = -1;
  int64_t size_ = 0;
};

// A directory of the tree being packed, held while the walk is in it: its
// names are listed, and natively its files opened, through the hold rather
// than by a path resolved again for each of them.
class HeldDirectory {
 public:
  // Opens the directory itself, never a link in its place.
  explicit HeldDirectory(const std::filesystem::path& path);
  ~HeldDirectory();
  HeldDirectory(const HeldDirectory&) = delete;
  HeldDirectory& operator=(const HeldDirectory&) = delete;

  bool ok() const { return ok_; }
  // Its entries but "." and "..", in the file system's order; false, with
  // the system's reason, when it cannot be read.
  bool List(std::vector<DirectoryEntry>* entries, std::string* error) const;
  // Opens its entry name (as listed) for packing: the file itself, never a
  // link put in its place since the listing. False when that is not a
  // regular file that can be read.
  bool Open(const std::string& name, SourceFile* file) const;

 private:
  // The descriptor of its entry name opened for reading, or -1.
  int OpenEntry(const std::string& name) const;
  std::filesystem::path path_;
  int fd_ = -1;  // natively; -1 on Windows, where the hold is the path
  bool ok_ = false;
};

// The archive file being written, created or emptied when opened.
class ArchiveOutput {
 public:
  explicit ArchiveOutput(const std::string& path);
  ~ArchiveOutput();  // closes it, if Close did not
  ArchiveOutput(const ArchiveOutput&) = delete;
  ArchiveOutput& operator=(const ArchiveOutput&) = delete;

  // False once anything failed, from the opening on; error() says why.
  bool ok() const { return error_ == 0; }
  // The system's word for the first failure.
  const char* error() const;

  // Appends all of data.
  bool Write(const void* data, size_t size);
  // Overwrites the first bytes with data: the archive's header, known
  // last, after which nothing is appended.
  bool WriteAtStart(const void* data, size_t size);

  enum class Copy { kDone, kSourceShort, kFailed, kNotHere };
  // Appends size bytes of source, from where its reads had got to, without
  // passing them through this process where the system can: kDone; the
  // source had fewer (kSourceShort); writing failed (kFailed, error()
  // says why); or nothing was copied, as the system cannot here (kNotHere:
  // copy them through memory, and ask no more).
  Copy CopyFrom(SourceFile* source, int64_t size);

  bool Close();

 private:
  void Fail(int error);
  // One write of up to size bytes: how many were taken, or -1 (errno).
  int64_t WriteSome(const void* data, size_t size);
  int fd_ = -1;
  int error_ = 0;
};

}  // namespace secpack
