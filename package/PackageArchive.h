// The package archive "data.sec" and its extraction.
//
// Layout (all integers 32-bit signed, little-endian; no compression,
// checksum, signature or version):
//
//   offset 0   entry count          number of file entries
//   offset 4   file-section length  bytes from offset 8 to the directory table
//   offset 8   file section         entry count file entries, back to back
//   then       directory table      256-byte directory records up to the end
//
//   file entry: name[256] (zero-terminated path relative to the destination),
//               content length, reserved (4 bytes, not interpreted), content.
//   directory record: 256 bytes, a zero-terminated relative directory path.
//
// Directories are listed parents first; all of them are created before the
// first file is written, and files are written in archive order.
#pragma once

#include <stdint.h>

#include "platform/Os.h"

inline constexpr int32_t kCopyChunk = 16384;          // largest piece copied at once
inline constexpr int32_t kCopyBufferSize = kCopyChunk + 1;
inline constexpr int32_t kArchiveHeaderSize = 8;
inline constexpr int32_t kRecordSize = 256;           // names and directory records
inline constexpr int32_t kEntryHeaderSize = 264;      // name, content length, reserved
inline constexpr int32_t kContentLengthOffset = 256;
inline constexpr int kNotFoundMessageSize = 128;
inline constexpr char kNotFoundTemplate[] = " file not found, please contact your ISP";
// Follows the archive's name when it is not the one the installer was made for.
inline constexpr char kNotThePackageText[] =
    " is not the package this installer was made for, please contact your ISP";

// An archive open for reading.
struct PackageArchive {
  const char* name;             // as given to ExtractPackage, for diagnostics
  platform::File file;
  int64_t size;                 // bytes in the archive file
  int32_t entryCount;
  int32_t fileSectionLength;
  int64_t fileSectionEnd;       // offset of the directory table
};

// Unpacks the archive (a path relative to the current directory) into the
// destination directory, creating it if needed. 0 on success, -1 when the
// archive is missing or refused or a file could not be fully written. Once
// the archive could be opened and checked, the current directory is left
// at the destination.
int ExtractPackage(const char* archiveName, const char* destination);

// ExtractPackageMatching's result for an archive that is not the package.
inline constexpr int kNotThePackage = -2;

// ExtractPackage for an installer that carries its package's SHA-256
// (digest, 32 bytes; nullptr: none, and it is ExtractPackage). The archive
// is opened once, without write sharing, read whole for its digest, and
// only when that matches unpacked from the same open file. Otherwise the
// user is told "<archive> is not the package this installer was made for,
// please contact your ISP", nothing is created, and the result is
// kNotThePackage; the current directory is left where it was.
int ExtractPackageMatching(const char* archiveName, const char* destination,
                           const unsigned char* digest);

// Creates the directories of the table, from the archive's read position to
// its end, relative to the current directory. 0, or -1 when a record is
// refused (nothing after it is created).
int CreateDirectoryTable(PackageArchive* archive);

// How Install.exe carries the SHA-256 of the package it was made for: this
// record, whose 16-byte marker occurs nowhere else in the file, so that a
// tool (secpack verify --installer) finds the digest after it.
#define PACKAGE_SEAL_MARKER "data.sec SHA256"
struct PackageSeal {
  char marker[16];  // PACKAGE_SEAL_MARKER and its zero
  unsigned char digest[32];
};

// Little-endian 32-bit signed integer at bytes[0..3].
int32_t ReadLe32(const unsigned char* bytes);
void WriteLe32(unsigned char* bytes, int32_t value);
