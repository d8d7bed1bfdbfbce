// remove_bench DRIVE: the installer's clean-up, CleanUpTempDir, on the
// POSIX backend with DRIVE standing for "c:\", so that it removes the tree
// DRIVE/ZUV_tmp. Exit 0 when the tree is gone. Plain C library only, and
// linked without a shared C++ runtime: rm -rf, which it is measured
// against, does not load one either, and on a small tree loading it would
// cost more than the walk.
#include <stdio.h>
#include <sys/stat.h>

#include "app/ExtractDirectory.h"
#include "platform/posix/PosixOs.h"
#include "platform/StandIns.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fputs("usage: remove_bench DRIVE\n", stderr);
    return 2;
  }
  static platform::PosixOs os(argv[1]);
  platform::InstallStandIns();
  platform::SetOs(&os);
  CleanUpTempDir();
  char tree[4096];
  struct stat status;
  if (snprintf(tree, sizeof tree, "%s/ZUV_tmp", argv[1]) >= static_cast<int>(sizeof tree) ||
      lstat(tree, &status) == 0) {
    fprintf(stderr, "remove_bench: %s is still there\n", tree);
    return 1;
  }
  return 0;
}
