// secpack: builds, lists, checks and unpacks the installer's package
// archive "data.sec". For the provider who ships the package.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "package/PackageArchive.h"
#include "platform/Sha256.h"
#include "tools/secpack/SecFormat.h"

#ifdef _WIN32
#include "platform/win32/Win32Os.h"
#else
#include "platform/posix/PosixOs.h"
#endif

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: secpack create [--code-page N] OUT DIR  pack the tree below DIR into the archive OUT\n"
    "       secpack list [--code-page N] ARCHIVE    list its directories and files with their sizes\n"
    "       secpack verify [--code-page N] ARCHIVE  check it and name its setup program\n"
    "       secpack verify [--code-page N] --installer INSTALL_EXE ARCHIVE\n"
    "                                               also check that it is the package INSTALL_EXE was made for\n"
    "       secpack digest ARCHIVE                  print its SHA-256, as a release's Install.exe carries it\n"
    "       secpack extract ARCHIVE DEST            unpack it into DEST as the installer does\n"
    "       secpack --help | --version\n"
    "\n"
    "Names are stored as the installer hands them to Windows: in printable ASCII,\n"
    "or with --code-page N converted from UTF-8 to the customers' Windows code page\n"
    "N, one of %s. Names that differ only in case are refused.\n"
    "\n"
    "exit codes: 0 done (verify, list: the archive is valid); 1 refused, invalid or\n"
    "failed, with the reason on standard error; 2 wrong usage\n";

int Usage(FILE* to, int code) {
  fprintf(to, kUsage, secpack::CodePageNumbers().c_str());
  return code;
}

bool Load(const char* path, std::vector<unsigned char>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// "1 file", "2 files".
std::string Count(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// --code-page N into the rules; false (with the reason) when N is not a
// code page there is a table for.
bool ParseCodePage(const char* number, secpack::NameRules* rules) {
  char* end = nullptr;
  const long value = strtol(number, &end, 10);
  const bool whole = *end == '\0' && value > 0 && value < 65536;
  rules->codePage = whole ? secpack::FindCodePage(static_cast<int>(value)) : nullptr;
  if (rules->codePage == nullptr) {
    fprintf(stderr, "secpack: --code-page %s: not one of %s\n", number, secpack::CodePageNumbers().c_str());
  }
  return rules->codePage != nullptr;
}

int Create(const char* out, const char* dir, const secpack::NameRules& rules) {
  secpack::CreateCounts counts;
  std::string reason;
  if (!secpack::CreateArchive(out, dir, &counts, &reason, rules)) {
    fprintf(stderr, "secpack: %s\n", reason.c_str());
    return 1;
  }
  printf("%s: %s, %s\n", out, Count(counts.directories, "directory", "directories").c_str(),
         Count(counts.files, "file", "files").c_str());
  return 0;
}

int ListOrVerify(const char* path, bool list, const secpack::NameRules& rules) {
  secpack::ArchiveFile archive(path);
  if (!archive.ok()) {
    fprintf(stderr, "secpack: cannot read %s: %s\n", path, archive.error().c_str());
    return 1;
  }
  secpack::Listing listing;
  std::string reason;
  const bool valid = secpack::VerifyArchive(archive, rules, &listing, &reason);
  if (valid && list) {
    for (const std::string& directory : listing.directories) printf("%12s  %s\n", "<dir>", directory.c_str());
    for (const secpack::ListedFile& file : listing.files) {
      printf("%12lld  %s\n", static_cast<long long>(file.size), file.name.c_str());
    }
  }
  if (!valid) {
    fprintf(stderr, "secpack: %s: invalid: %s\n", path, reason.c_str());
    return 1;
  }
  if (list) return 0;
  printf("%s: valid, %s, %s\n", path, Count(listing.directories.size(), "directory", "directories").c_str(),
         Count(listing.files.size(), "file", "files").c_str());
  // The format does not need one, but the installer starts nothing else.
  if (listing.setupProgram.empty()) {
    puts("setup program: none: no Setup.exe at its top, so the installer would have nothing to start");
  } else {
    printf("setup program: %s, %s%s\n", listing.setupProgram.c_str(), listing.setupKind.c_str(),
           listing.setupIsExecutable ? "" : ": the installer could not start it");
  }
  return 0;
}

std::string ToHex(const unsigned char* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < size; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 15];
  }
  return hex;
}

// The file's SHA-256 in hexadecimal, read in pieces; false when it cannot be read.
bool HexDigest(const char* path, std::string* hex) {
  FILE* file = fopen(path, "rb");
  if (file == nullptr) return false;
  platform::Sha256 hash;
  platform::Sha256Start(&hash);
  std::vector<char> buffer(1 << 16);
  size_t got;
  while ((got = fread(buffer.data(), 1, buffer.size(), file)) > 0) platform::Sha256Add(&hash, buffer.data(), got);
  const bool read = ferror(file) == 0;
  fclose(file);
  unsigned char digest[platform::kSha256Size];
  platform::Sha256Finish(&hash, digest);
  *hex = ToHex(digest, sizeof digest);
  return read;
}

int Digest(const char* archive) {
  std::string hex;
  if (!HexDigest(archive, &hex)) {
    fprintf(stderr, "secpack: cannot read %s\n", archive);
    return 1;
  }
  printf("%s  %s\n", hex.c_str(), archive);
  return 0;
}

// The digest an Install.exe carries (package/PackageArchive.h: PackageSeal),
// in hexadecimal; "" when it carries none. False when it cannot be read or
// holds the marker more than once.
bool CarriedDigest(const char* installer, std::string* hex) {
  std::vector<unsigned char> bytes;
  if (!Load(installer, &bytes)) return false;
  static const char kMarker[sizeof(PackageSeal::marker)] = PACKAGE_SEAL_MARKER;
  const auto end = bytes.end() - std::min(bytes.size(), sizeof(PackageSeal::digest));
  const auto found = std::search(bytes.begin(), end, kMarker, kMarker + sizeof kMarker);
  hex->clear();
  if (found == end) return true;
  if (std::search(found + 1, end, kMarker, kMarker + sizeof kMarker) != end) return false;
  *hex = ToHex(&*found + sizeof kMarker, sizeof(PackageSeal::digest));
  return true;
}

// verify --installer: valid, and the package the installer was made for.
int VerifyFor(const char* installer, const char* archive, const secpack::NameRules& rules) {
  std::string carried;
  if (!CarriedDigest(installer, &carried)) {
    fprintf(stderr, "secpack: cannot read a package digest from %s\n", installer);
    return 1;
  }
  if (carried.empty()) {
    fprintf(stderr, "secpack: %s carries no package digest: it unpacks any archive\n", installer);
    return 1;
  }
  const int valid = ListOrVerify(archive, false, rules);
  if (valid != 0) return valid;
  std::string actual;
  if (!HexDigest(archive, &actual)) {
    fprintf(stderr, "secpack: cannot read %s\n", archive);
    return 1;
  }
  if (actual != carried) {
    fprintf(stderr, "secpack: %s is not the package %s was made for (SHA-256 %s, not %s)\n",
            archive, installer, actual.c_str(), carried.c_str());
    return 1;
  }
  printf("%s: the package %s was made for (SHA-256 %s)\n", archive, installer, actual.c_str());
  return 0;
}

int Extract(const char* archive, const char* dest) {
  std::error_code error;
  if (!fs::is_regular_file(archive, error)) {
    fprintf(stderr, "secpack: cannot read %s\n", archive);
    return 1;
  }
  fs::create_directories(dest, error);
  const std::string archivePath = fs::absolute(archive, error).string();
  const std::string destPath = fs::absolute(dest, error).string();
#ifdef _WIN32
  platform::SetOs(&platform::TheWin32Os());
#else
  // Native absolute paths map onto themselves with "/" as the drive root.
  static platform::PosixOs os("/");
  platform::SetOs(&os);
#endif
  const int result = ExtractPackage(archivePath.c_str(), destPath.c_str());
  fflush(stdout);
  if (result != 0) {
    fprintf(stderr, "secpack: extraction of %s failed\n", archive);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
    return Usage(stdout, 0);
  }
  if (argc == 2 && strcmp(argv[1], "--version") == 0) {
    puts("secpack " SECPACK_VERSION);
    return 0;
  }
  if (argc < 2) return Usage(stderr, 2);
  const std::string command = argv[1];
  secpack::NameRules rules;
  int at = 2;  // the first operand
  if (argc > 2 && strcmp(argv[2], "--code-page") == 0 && command != "extract" && command != "digest") {
    if (argc < 4) return Usage(stderr, 2);
    if (!ParseCodePage(argv[3], &rules)) return 2;
    at = 4;
  }
  const char* installer = nullptr;
  if (command == "verify" && argc > at + 1 && strcmp(argv[at], "--installer") == 0) {
    installer = argv[at + 1];
    at += 2;
  }
  const int operands = argc - at;
  if (command == "create" && operands == 2) return Create(argv[at], argv[at + 1], rules);
  if (command == "list" && operands == 1) return ListOrVerify(argv[at], true, rules);
  if (command == "verify" && operands == 1) {
    return installer != nullptr ? VerifyFor(installer, argv[at], rules)
                                : ListOrVerify(argv[at], false, rules);
  }
  if (command == "digest" && argc == 3) return Digest(argv[2]);
  if (command == "extract" && argc == 4) return Extract(argv[2], argv[3]);
  return Usage(stderr, 2);
}
