#include "tests/fuzz/FuzzDrive.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "package/ExtractPackage.h"
#include "platform/StandIns.h"
#include "platform/posix/PosixOs.h"

namespace fuzz_drive {
namespace {

std::string gBase;

// What cannot be removed stays; the walk goes on with the rest.
int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  chmod(path, 0700);
  remove(path);
  return 0;
}

void Empty(const std::string& path) {
  // Depth first, links not followed.
  nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void WalkBelow(const std::string& path, const std::string& name,
               const std::function<void(const std::string&, const std::string&, bool)>& visit) {
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return;
  while (const struct dirent* entry = readdir(dir)) {
    const std::string child = entry->d_name;
    if (child == "." || child == "..") continue;
    const std::string childPath = path + "/" + child;
    const std::string childName = name.empty() ? child : name + "/" + child;
    struct stat status;
    if (lstat(childPath.c_str(), &status) != 0) continue;
    const bool directory = S_ISDIR(status.st_mode);
    visit(childPath, childName, directory);
    if (directory) WalkBelow(childPath, childName, visit);
  }
  closedir(dir);
}

void RemoveBase() {
  Empty(gBase);
}

}  // namespace

void Die(const char* what, const std::string& name) {
  fprintf(stderr, "invariant broken: %s: %s\n", what, name.c_str());
  abort();
}

Drive::Drive() {
  if (gBase.empty()) {
    const char* shm = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(shm) + "/fuzz-drive-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) Die("mkdtemp", pattern);
    gBase = pattern;
    atexit(RemoveBase);  // libFuzzer ends its runs with exit()
  }
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) == nullptr) Die("getcwd", "");
  cwd_ = cwd;
  root_ = gBase + "/c";
  Empty(root_);
  if (mkdir(root_.c_str(), 0700) != 0) Die("mkdir", root_);
}

Drive::~Drive() {
  // Back to where the fuzzer was started: it reads and writes its corpus
  // by relative paths.
  if (chdir(cwd_.c_str()) != 0) Die("chdir", cwd_);
  Empty(root_);
}

void Drive::Write(const char* name, const uint8_t* data, size_t size) const {
  const std::string path = root_ + "/" + name;
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr || fwrite(data, 1, size, file) != size || fclose(file) != 0) Die("write", path);
}

void Drive::Walk(const std::function<void(const std::string&, const std::string&, bool)>& visit) const {
  WalkBelow(root_, "", visit);
}

int Drive::Extract(const uint8_t* data, size_t size) const {
  Write("data.sec", data, size);
  platform::PosixOs os(root_.c_str());
  platform::InstallStandIns();  // no window: the reader's messages go nowhere
  platform::Os* previous = platform::SetOs(&os);
  if (chdir(root_.c_str()) != 0) Die("chdir", root_);
  const int result = ExtractPackage("data.sec", "c:\\ZUV_tmp");
  platform::SetOs(previous);
  return result;
}

}  // namespace fuzz_drive
