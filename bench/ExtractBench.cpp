// Extraction throughput of the installer's reader on the POSIX backend:
// extract_bench [megabytes] [runs]. A package of one large file and many
// small ones, extracted into a fresh drive per run; prints the best and the
// median time and the throughput of the best run.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "package/ExtractPackage.h"
#include "platform/posix/PosixOs.h"
#include "tests/support/ArchiveBytes.h"
#include "platform/StandIns.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  const int megabytes = argc > 1 ? atoi(argv[1]) : 64;
  const int runs = argc > 2 ? atoi(argv[2]) : 5;
  std::string pattern = (fs::temp_directory_path() / "extract-bench-XXXXXX").string();
  if (mkdtemp(&pattern[0]) == nullptr) return 1;
  const fs::path base = pattern;

  // Half the bytes in one driver-sized file, half in 4 KiB files.
  std::vector<testing_support::FileEntry> files;
  std::vector<std::string> directories = {"drivers", "docs"};
  const size_t total = static_cast<size_t>(megabytes) << 20;
  std::string big(total / 2, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 + (i >> 12));
  files.push_back({"drivers\\modem.sys", big});
  for (size_t i = 0; i < total / 2 / 4096; ++i) {
    files.push_back({"docs\\page" + std::to_string(i) + ".txt", big.substr(i * 4096 % (big.size() - 4096), 4096)});
  }
  const std::string archive = testing_support::EncodeArchive(directories, files);
  std::ofstream(base / "data.sec", std::ios::binary).write(archive.data(), static_cast<std::streamsize>(archive.size()));

  platform::PosixOs os(base.c_str());
  platform::InstallStandIns();
  platform::SetOs(&os);
  std::vector<double> seconds;
  for (int run = 0; run < runs; ++run) {
    fs::remove_all(base / "ZUV_tmp");
    if (chdir(base.c_str()) != 0) return 1;
    const auto start = std::chrono::steady_clock::now();
    const int result = ExtractPackage("data.sec", "c:\\ZUV_tmp");
    seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (result != 0) {
      fprintf(stderr, "extraction failed\n");
      return 1;
    }
  }
  std::sort(seconds.begin(), seconds.end());
  const double mib = static_cast<double>(archive.size()) / (1 << 20);
  printf("archive: %.1f MiB, %zu files; best %.3f s (%.0f MiB/s), median %.3f s over %d runs\n", mib,
         files.size(), seconds.front(), mib / seconds.front(), seconds[seconds.size() / 2], runs);
  if (chdir("/") != 0) return 1;
  fs::remove_all(base);
  return 0;
}
