// secpack: builds, lists, checks and unpacks the installer's package
// archive "data.sec". For the provider who ships the package.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <string>

#include "package/PackageArchive.h"
#include "tools/secpack/SecFormat.h"

#ifdef _WIN32
#include "platform/Win32Os.h"
#else
#include "platform/PosixOs.h"
#endif

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: secpack create [--code-page N] OUT DIR  pack the tree below DIR into the archive OUT\n"
    "       secpack list [--code-page N] ARCHIVE    list its directories and files with their sizes\n"
    "       secpack verify [--code-page N] ARCHIVE  check it and name its setup program\n"
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
  if (argc > 2 && strcmp(argv[2], "--code-page") == 0 && command != "extract") {
    if (argc < 4) return Usage(stderr, 2);
    if (!ParseCodePage(argv[3], &rules)) return 2;
    at = 4;
  }
  const int operands = argc - at;
  if (command == "create" && operands == 2) return Create(argv[at], argv[at + 1], rules);
  if (command == "list" && operands == 1) return ListOrVerify(argv[at], true, rules);
  if (command == "verify" && operands == 1) return ListOrVerify(argv[at], false, rules);
  if (command == "extract" && argc == 4) return Extract(argv[2], argv[3]);
  return Usage(stderr, 2);
}
