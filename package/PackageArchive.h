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
// The user's messages about the archive: its name, then one of these texts,
// in a buffer of kMessageSize bytes (the name is cut to fit). Pointers to
// literals rather than arrays, here and for the installer's other texts: a
// named array of 16 bytes or more is aligned to 16 in the 64-bit build,
// which Install.exe's budget feels.
inline constexpr int kMessageSize = 128;
inline constexpr const char* kNotFoundText = " file not found, please contact your ISP";
// Whatever refused it (cut short, a name that leaves the destination, a
// file that could not be written whole): most often a broken download.
inline constexpr const char* kDamagedText = " is damaged, please contact your ISP";
inline constexpr const char* kNotThePackageText =
    " is damaged or is not the package this installer was made for, please contact your ISP";

// The name under which a checked package is copied into its destination
// before it is unpacked from there (ExtractCheckedPackage). While the copy
// is open nobody else may open that name (natively it has none by then),
// so an archive that names it fails there, never writes over it.
inline constexpr char kCheckedCopyName[] = "DATASEC.TMP";

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
// archive is missing or refused or a file could not be fully written; the
// user is told which ("... file not found, ..." or "... is damaged, ...").
// Once the archive could be opened and checked, the current directory is
// left at the destination.
int ExtractPackage(const char* archiveName, const char* destination);

// How an extraction ended.
enum class Extraction { kDone, kArchiveMissing, kArchiveDamaged, kNotThePackage };

// ExtractPackage for the installer, into a destination that exists already
// and is its own, and without a word to the user: the caller tells them
// (TellExtraction) once it has let go of what it holds. With digest (the
// SHA-256, 32 bytes, of the one archive a release may unpack; nullptr:
// any) the archive is read once, copied into the destination as
// kCheckedCopyName while its digest is computed, and unpacked from that
// copy only when the digest matches; the copy goes when it is closed. So
// what is unpacked is what was checked, whatever a second read of the
// archive would give. Nothing is left for an archive that is not the
// package.
Extraction ExtractCheckedPackage(const char* archiveName, const char* destination,
                                 const unsigned char* digest);

// Tells the user, in one message box, why the extraction of archiveName
// did not succeed; nothing for kDone.
void TellExtraction(const char* archiveName, Extraction result);

// Creates the directories of the table, from the archive's read position to
// its end, relative to the current directory. 0, or -1 when a record is
// refused (nothing after it is created).
int CreateDirectoryTable(PackageArchive* archive);

// How Install.exe carries the SHA-256 of the package it was made for: this
// record, in its section data, whose 16-byte marker occurs nowhere else in
// the file, so that a tool (secpack verify --installer) finds the digest
// after it, there and only there.
#define PACKAGE_SEAL_MARKER "data.sec SHA256"
struct PackageSeal {
  char marker[16];  // PACKAGE_SEAL_MARKER and its zero
  unsigned char digest[32];
};

// Little-endian 32-bit signed integer at bytes[0..3].
int32_t ReadLe32(const unsigned char* bytes);
void WriteLe32(unsigned char* bytes, int32_t value);
