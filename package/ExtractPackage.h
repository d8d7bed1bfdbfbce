// The extraction of the package archive (package/PackageArchive.h) into a
// destination directory, and what the user is told when it fails.
#pragma once

#include <stdint.h>

#include "package/PackageArchive.h"

inline constexpr int32_t kCopyChunk = 16384;          // largest piece copied at once
inline constexpr int32_t kCopyBufferSize = kCopyChunk + 1;
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
