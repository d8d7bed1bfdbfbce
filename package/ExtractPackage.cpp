#include <stdlib.h>
#include <string.h>

#include "package/BoundedText.h"
#include "package/ExtractPackage.h"
#include "platform/EntryName.h"
#include "platform/Sha256.h"
#include "platform/Toolkit.h"

using platform::GetOs;
using platform::PrintDiagnostic;
using platform::SeekFrom;

int32_t ReadLe32(const unsigned char* bytes) {
  const uint32_t value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                         static_cast<uint32_t>(bytes[2]) << 16 |
                         static_cast<uint32_t>(bytes[3]) << 24;
  return static_cast<int32_t>(value);
}

void WriteLe32(unsigned char* bytes, int32_t value) {
  const uint32_t bits = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
}

namespace {

// Whether exactly size bytes could be read.
bool ReadExactly(platform::File file, void* buffer, int32_t size) {
  int32_t got;
  return GetOs().Read(file, buffer, size, &got) == 0 && got == size;
}

// A message about the archive: its name, cut to what the 128-byte buffer
// holds beside the text (87 characters beside the not-found one), then the
// text.
void ShowMessageAbout(const char* archiveName, const char* text) {
  char message[kMessageSize];
  message[0] = '\0';
  AppendTextN(message, sizeof message, archiveName, sizeof message - 1 - strlen(text));
  AppendText(message, sizeof message, text);
  platform::GetToolkit().ShowMessage(message);
}

// The whole-archive shape, checked before anything is created.
bool CheckShape(const PackageArchive& archive, int64_t headerEnd) {
  if (archive.entryCount < 0) {
    PrintDiagnostic("%s: negative entry count %d\n", archive.name, archive.entryCount);
    return false;
  }
  if (archive.fileSectionLength < 0) {
    PrintDiagnostic("%s: negative file-section length %d\n", archive.name,
                    archive.fileSectionLength);
    return false;
  }
  if (headerEnd + archive.fileSectionLength > archive.size) {
    PrintDiagnostic("%s: file section of %d bytes runs past the end of the archive\n",
                    archive.name, archive.fileSectionLength);
    return false;
  }
  // A trailing partial directory record is refused outright: the bytes it
  // lacks are not in the archive, and a directory made from half a name
  // is not what the package meant.
  const int64_t tableLength = archive.size - (headerEnd + archive.fileSectionLength);
  if (tableLength % kRecordSize != 0) {
    PrintDiagnostic("%s: directory table ends in a partial record of %d bytes\n", archive.name,
                    static_cast<int>(tableLength % kRecordSize));
    return false;
  }
  return true;
}

// Checks a 256-byte name field: zero-terminated within it, and a name the
// destination can hold.
bool CheckNameField(const PackageArchive& archive, const char* field, const char* what) {
  if (memchr(field, '\0', kRecordSize) == nullptr) {
    PrintDiagnostic("%s: %s has no terminating zero in its %d bytes\n", archive.name, what,
                    kRecordSize);
    return false;
  }
  const char* reason = platform::CheckEntryName(field);
  if (reason != nullptr) {
    PrintDiagnostic("%s: %s \"%s\" refused: %s\n", archive.name, what, field, reason);
    return false;
  }
  return true;
}

// Copies one entry's content into a new file. -1 when the archive ends
// early (what was copied so far stays); sets *writeFailed when a chunk
// could not be written whole.
int CopyEntry(PackageArchive* archive, const char* name, int32_t contentLength, char* buffer,
              bool* writeFailed) {
  platform::Os& os = GetOs();
  platform::File output;
  if (os.OpenWrite(name, &output) != 0) {
    PrintDiagnostic("open file %s fail\n", name);
    return -1;
  }
  int32_t remaining = contentLength;
  while (remaining > 0) {
    const int32_t n = remaining < kCopyChunk ? remaining : kCopyChunk;
    if (!ReadExactly(archive->file, buffer, n)) {
      PrintDiagnostic("%s: content of %s cut short\n", archive->name, name);
      os.Close(output);
      return -1;
    }
    if (os.Write(output, buffer, n) != 0) {
      // One bare "?" line for each chunk not written whole: only a parent
      // that redirected the installer's output reads it, as the mark of a
      // write that came short. The user hears of it as a damaged package:
      // the extraction goes on and fails at its end.
      PrintDiagnostic("?\n");
      *writeFailed = true;
    }
    remaining -= n;
  }
  os.Close(output);
  return 0;
}

// Extracts the file entries in archive order. 0, or -1 at the first entry
// that is refused, cut short or cannot be opened.
int ExtractFiles(PackageArchive* archive, char* buffer, bool* writeFailed) {
  int64_t position = kArchiveHeaderSize;
  for (int32_t entry = 0; entry < archive->entryCount; ++entry) {
    unsigned char header[kEntryHeaderSize];
    if (position + kEntryHeaderSize > archive->fileSectionEnd) {
      PrintDiagnostic("%s: entry %d lies past the end of the file section\n", archive->name,
                      entry + 1);
      return -1;
    }
    if (!ReadExactly(archive->file, header, kEntryHeaderSize)) {
      PrintDiagnostic("%s: header of entry %d cut short\n", archive->name, entry + 1);
      return -1;
    }
    const char* name = reinterpret_cast<const char*>(header);
    if (!CheckNameField(*archive, name, "file name")) return -1;
    const int32_t contentLength = ReadLe32(header + kContentLengthOffset);
    if (contentLength < 0) {
      PrintDiagnostic("%s: %s has a negative content length %d\n", archive->name, name,
                      contentLength);
      return -1;
    }
    position += kEntryHeaderSize;
    if (position + contentLength > archive->fileSectionEnd) {
      PrintDiagnostic("%s: content of %s runs past the end of the file section\n", archive->name,
                      name);
      return -1;
    }
    if (CopyEntry(archive, name, contentLength, buffer, writeFailed) != 0) return -1;
    position += contentLength;
  }
  return 0;
}

// makeDestination: ExtractPackage's own, made once the archive's shape is
// known to be sound; the installer's already exists.
int Extract(PackageArchive* archive, const char* destination, bool makeDestination, char* buffer) {
  platform::Os& os = GetOs();
  if (os.Seek(archive->file, 0, SeekFrom::kEnd, &archive->size) != 0 ||
      os.Seek(archive->file, 0, SeekFrom::kStart, nullptr) != 0) {
    PrintDiagnostic("%s: cannot read the archive\n", archive->name);
    return -1;
  }

  // A header cut short leaves the missing high-order bytes zero.
  unsigned char count[4] = {0, 0, 0, 0};
  unsigned char length[4] = {0, 0, 0, 0};
  int32_t countBytes;
  int32_t lengthBytes;
  os.Read(archive->file, count, 4, &countBytes);  // a failure reads nothing
  os.Read(archive->file, length, 4, &lengthBytes);
  archive->entryCount = ReadLe32(count);
  archive->fileSectionLength = ReadLe32(length);
  const int64_t headerEnd = countBytes + lengthBytes;
  if (!CheckShape(*archive, headerEnd)) return -1;
  archive->fileSectionEnd = headerEnd + archive->fileSectionLength;

  // Only the installer itself may write into a directory it creates.
  if (makeDestination) os.MakePrivateDirectory(destination);
  if (os.ChangeDirectory(destination) != 0) {
    // Everything below works on names relative to the current directory:
    // going on would unpack into whatever directory that is.
    PrintDiagnostic("%s: cannot enter the destination %s\n", archive->name, destination);
    return -1;
  }

  // The directory table first, so that every directory exists before the
  // first file is written.
  if (os.Seek(archive->file, archive->fileSectionLength, SeekFrom::kCurrent, nullptr) != 0) {
    PrintDiagnostic("%s: cannot read the archive\n", archive->name);
    return -1;
  }
  if (CreateDirectoryTable(archive) != 0) return -1;
  if (os.Seek(archive->file, kArchiveHeaderSize, SeekFrom::kStart, nullptr) != 0) {
    PrintDiagnostic("%s: cannot read the archive\n", archive->name);
    return -1;
  }
  bool writeFailed = false;
  if (ExtractFiles(archive, buffer, &writeFailed) != 0) return -1;
  // Every chunk was attempted, but a file that was not written whole is a
  // failed extraction, not a success.
  return writeFailed ? -1 : 0;
}

}  // namespace

int CreateDirectoryTable(PackageArchive* archive) {
  platform::Os& os = GetOs();
  char record[kRecordSize];
  for (;;) {
    int32_t got;
    if (os.Read(archive->file, record, kRecordSize, &got) != 0 || got == 0) return 0;
    // The table's length was checked to be whole records: only a file that
    // shrank meanwhile comes short, and half a name is never used.
    if (got < kRecordSize) return -1;
    if (!CheckNameField(*archive, record, "directory")) return -1;
    os.MakeDirectory(record);  // it may exist already
  }
}

Extraction ExtractInto(const char* archiveName, const char* destination,
                       const unsigned char* digest, bool makeDestination);

int ExtractPackage(const char* archiveName, const char* destination) {
  const Extraction result = ExtractInto(archiveName, destination, nullptr, true);
  TellExtraction(archiveName, result);
  return result == Extraction::kDone ? 0 : -1;
}

void TellExtraction(const char* archiveName, Extraction result) {
  if (result == Extraction::kArchiveMissing) ShowMessageAbout(archiveName, kNotFoundText);
  if (result == Extraction::kArchiveDamaged) ShowMessageAbout(archiveName, kDamagedText);
  if (result == Extraction::kNotThePackage) ShowMessageAbout(archiveName, kNotThePackageText);
}

Extraction ExtractCheckedPackage(const char* archiveName, const char* destination,
                                 const unsigned char* digest) {
  return ExtractInto(archiveName, destination, digest, false);
}

Extraction ExtractInto(const char* archiveName, const char* destination,
                       const unsigned char* digest, bool makeDestination) {
  platform::Os& os = GetOs();
  PackageArchive archive;
  memset(&archive, 0, sizeof archive);
  archive.name = archiveName;
  if (os.OpenRead(archiveName, &archive.file) != 0) return Extraction::kArchiveMissing;
  if (digest != nullptr) {
    // Read once, into a copy in the destination that nobody else may open
    // and that goes when it is closed; what is unpacked is that copy.
    unsigned char actual[platform::kSha256Size];
    platform::File copy = nullptr;
    const bool copied = os.ChangeDirectory(destination) == 0 &&
                        os.OpenScratch(kCheckedCopyName, &copy) == 0 &&
                        os.DigestCopy(archive.file, copy, actual) == 0;
    os.Close(archive.file);
    archive.file = copy;
    Extraction refused = Extraction::kDone;
    if (!copied) refused = Extraction::kArchiveDamaged;
    else if (memcmp(actual, digest, sizeof actual) != 0) refused = Extraction::kNotThePackage;
    if (refused != Extraction::kDone) {
      os.Close(copy);
      return refused;
    }
  }
  char* buffer = static_cast<char*>(malloc(kCopyBufferSize));
  int result = -1;
  if (buffer == nullptr) {
    PrintDiagnostic("%s: out of memory\n", archiveName);
  } else {
    result = Extract(&archive, destination, makeDestination, buffer);
  }
  os.Close(archive.file);
  free(buffer);
  return result == 0 ? Extraction::kDone : Extraction::kArchiveDamaged;
}
