// secpack: builds, lists, checks and unpacks the installer's package
// archive "data.sec". For the provider who ships the package.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "package/ExtractPackage.h"
#include "package/PackageSeal.h"
#include "platform/HostOs.h"
#include "platform/Sha256.h"
#include "tools/secpack/CarriedDigest.h"
#include "tools/secpack/CreateArchive.h"
#include "tools/secpack/VerifyArchive.h"
#include "platform/StandIns.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: secpack create [--code-page N] [--exclude PATTERN]... [--progress] OUT DIR\n"
    "                                               pack the tree below DIR into the archive OUT\n"
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
    "--exclude leaves out, and lists, each file or directory whose own name matches\n"
    "PATTERN: '*' any characters, '?' any one byte, case ignored as Windows ignores\n"
    "it, a trailing '/' for directories only (e.g. --exclude '._*' --exclude __MACOSX/).\n"
    "--progress says how far packing has got, on standard error every two seconds.\n"
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

// --exclude PATTERN: a name, not a path; false (with the reason) otherwise.
bool AddExclusion(const char* pattern, secpack::PackOptions* options) {
  std::string name = pattern;
  if (!name.empty() && name.back() == '/') name.pop_back();
  if (name.empty() || name.find_first_of("/\\") != std::string::npos) {
    fprintf(stderr, "secpack: --exclude '%s': a name or a pattern of one, with '/' only at its end\n", pattern);
    return false;
  }
  options->exclude.push_back(pattern);
  return true;
}

// --progress: a line on standard error every two seconds while packing.
void ReportProgress(secpack::PackOptions* options) {
  using Clock = std::chrono::steady_clock;
  options->progress = [last = Clock::now()](uint64_t bytes, size_t files) mutable {
    const Clock::time_point now = Clock::now();
    if (now - last < std::chrono::seconds(2)) return;
    last = now;
    fprintf(stderr, "secpack: packing: %llu MiB, %s so far\n", static_cast<unsigned long long>(bytes >> 20),
            Count(files, "file", "files").c_str());
  };
}

int Create(const char* out, const char* dir, const secpack::NameRules& rules,
           const secpack::PackOptions& options) {
  secpack::CreateCounts counts;
  std::string reason;
  if (!secpack::CreateArchive(out, dir, &counts, &reason, rules, options)) {
    fprintf(stderr, "secpack: %s\n", reason.c_str());
    return 1;
  }
  for (const secpack::LeftOut& left : counts.leftOut) {
    printf("left out: %s (--exclude %s)\n", left.name.c_str(), left.pattern.c_str());
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

// verify --installer: valid, and the package the installer was made for.
int VerifyFor(const char* installer, const char* archive, const secpack::NameRules& rules) {
  secpack::ArchiveFile program(installer);
  if (!program.ok()) {
    fprintf(stderr, "secpack: cannot read %s: %s\n", installer, program.error().c_str());
    return 1;
  }
  unsigned char digest[sizeof(PackageSeal::digest)];
  std::string why;
  const secpack::Carried carried = secpack::CarriedDigest(program, digest, &why);
  if (carried == secpack::Carried::kRefused) {
    fprintf(stderr, "secpack: %s: %s\n", installer, why.c_str());
    return 1;
  }
  if (carried == secpack::Carried::kNone) {
    fprintf(stderr, "secpack: %s carries no package digest: it unpacks any archive%s%s%s\n", installer,
            why.empty() ? "" : " (", why.c_str(), why.empty() ? "" : ")");
    return 1;
  }
  const int valid = ListOrVerify(archive, false, rules);
  if (valid != 0) return valid;
  std::string actual;
  if (!HexDigest(archive, &actual)) {
    fprintf(stderr, "secpack: cannot read %s\n", archive);
    return 1;
  }
  const std::string expected = ToHex(digest, sizeof digest);
  if (actual != expected) {
    fprintf(stderr, "secpack: %s is not the package %s was made for (SHA-256 %s, not %s)\n",
            archive, installer, actual.c_str(), expected.c_str());
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
  // No window: the reader's messages to the user go nowhere, its
  // diagnostics to standard output.
  platform::InstallStandIns();
  platform::SetOs(&platform::HostOs());
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
  const bool reads = command == "create" || command == "list" || command == "verify";
  secpack::NameRules rules;
  secpack::PackOptions pack;
  const char* installer = nullptr;
  int at = 2;  // options first, each of them only where it means something
  while (at < argc && strncmp(argv[at], "--", 2) == 0) {
    const std::string option = argv[at];
    const char* value = at + 1 < argc ? argv[at + 1] : nullptr;
    if (option == "--progress" && command == "create") {
      ReportProgress(&pack);
      ++at;
      continue;
    }
    if (value == nullptr) return Usage(stderr, 2);
    if (option == "--code-page" && reads) {
      if (!ParseCodePage(value, &rules)) return 2;
    } else if (option == "--exclude" && command == "create") {
      if (!AddExclusion(value, &pack)) return 2;
    } else if (option == "--installer" && command == "verify") {
      installer = value;
    } else {
      return Usage(stderr, 2);
    }
    at += 2;
  }
  const int operands = argc - at;
  if (command == "create" && operands == 2) return Create(argv[at], argv[at + 1], rules, pack);
  if (command == "list" && operands == 1) return ListOrVerify(argv[at], true, rules);
  if (command == "verify" && operands == 1) {
    return installer != nullptr ? VerifyFor(installer, argv[at], rules)
                                : ListOrVerify(argv[at], false, rules);
  }
  if (command == "digest" && argc == 3) return Digest(argv[2]);
  if (command == "extract" && argc == 4) return Extract(argv[2], argv[3]);
  return Usage(stderr, 2);
}
