// remove_bench DRIVE: the installer's clean-up, CleanUpTempDir, on the
// POSIX backend with DRIVE standing for "c:\", so that it removes the tree
// DRIVE/ZUV_tmp. Exit 0 when the tree is gone.
#include <stdio.h>
#include <sys/stat.h>

#include <string>

#include "package/TempDir.h"
#include "platform/PosixOs.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fputs("usage: remove_bench DRIVE\n", stderr);
    return 2;
  }
  static platform::PosixOs os(argv[1]);
  platform::SetOs(&os);
  CleanUpTempDir();
  struct stat status;
  const std::string tree = std::string(argv[1]) + "/ZUV_tmp";
  if (lstat(tree.c_str(), &status) == 0) {
    fprintf(stderr, "remove_bench: %s is still there\n", tree.c_str());
    return 1;
  }
  return 0;
}
