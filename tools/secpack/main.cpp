// secpack: builds, lists, checks and unpacks the installer's package
// archive "data.sec". For the provider who ships the package.
#include <stdio.h>
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
#include "platform/Win32Os.h"
#else
#include "platform/PosixOs.h"
#endif

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: secpack create OUT DIR        pack the tree below DIR into the archive OUT\n"
    "       secpack list ARCHIVE          list its directories and files with their sizes\n"
    "       secpack verify ARCHIVE        check it; exit 0 when valid, 1 when not\n"
    "       secpack verify --installer INSTALL_EXE ARCHIVE\n"
    "                                     also check that it is the package INSTALL_EXE was made for\n"
    "       secpack digest ARCHIVE        print its SHA-256, as a release's Install.exe carries it\n"
    "       secpack extract ARCHIVE DEST  unpack it into DEST as the installer does\n"
    "       secpack --help | --version\n";

int Usage() {
  fputs(kUsage, stderr);
  return 2;
}

bool Load(const char* path, std::vector<unsigned char>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

int Create(const char* out, const char* dir) {
  secpack::CreateCounts counts;
  std::string reason;
  if (!secpack::CreateArchive(out, dir, &counts, &reason)) {
    fprintf(stderr, "secpack: %s\n", reason.c_str());
    return 1;
  }
  printf("%s: %zu directories, %zu files\n", out, counts.directories, counts.files);
  return 0;
}

int ListOrVerify(const char* path, bool list) {
  std::vector<unsigned char> bytes;
  if (!Load(path, &bytes)) {
    fprintf(stderr, "secpack: cannot read %s\n", path);
    return 1;
  }
  secpack::Listing listing;
  std::string reason;
  const bool valid = secpack::VerifyArchive(bytes.data(), bytes.size(), &listing, &reason);
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
  if (!list) printf("%s: valid, %zu directories, %zu files\n", path, listing.directories.size(), listing.files.size());
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
int VerifyFor(const char* installer, const char* archive) {
  std::string carried;
  if (!CarriedDigest(installer, &carried)) {
    fprintf(stderr, "secpack: cannot read a package digest from %s\n", installer);
    return 1;
  }
  if (carried.empty()) {
    fprintf(stderr, "secpack: %s carries no package digest: it unpacks any archive\n", installer);
    return 1;
  }
  const int valid = ListOrVerify(archive, false);
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
    fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 2 && strcmp(argv[1], "--version") == 0) {
    puts("secpack " SECPACK_VERSION);
    return 0;
  }
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "create" && argc == 4) return Create(argv[2], argv[3]);
  if (command == "list" && argc == 3) return ListOrVerify(argv[2], true);
  if (command == "verify" && argc == 3) return ListOrVerify(argv[2], false);
  if (command == "verify" && argc == 5 && strcmp(argv[2], "--installer") == 0) {
    return VerifyFor(argv[3], argv[4]);
  }
  if (command == "digest" && argc == 3) return Digest(argv[2]);
  if (command == "extract" && argc == 4) return Extract(argv[2], argv[3]);
  return Usage();
}
