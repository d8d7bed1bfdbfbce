// secpack: builds, lists, checks and unpacks the installer's package
// archive "data.sec". For the provider who ships the package.
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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
    "usage: secpack create OUT DIR        pack the tree below DIR into the archive OUT\n"
    "       secpack list ARCHIVE          list its directories and files with their sizes\n"
    "       secpack verify ARCHIVE        check it; exit 0 when valid, 1 when not\n"
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
  if (command == "extract" && argc == 4) return Extract(argv[2], argv[3]);
  return Usage();
}
