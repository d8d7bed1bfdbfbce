// libFuzzer target: any input, unpacked as "data.sec" by the installer's
// reader on the POSIX backend into a fresh drive. Afterwards nothing may
// exist outside the destination, and every file inside must have been
// written from bytes of the input.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/fuzz/FuzzDrive.h"
#include "tests/support/ReadAll.h"

namespace {

const uint8_t* gInput;
size_t gInputSize;

void CheckFile(const std::string& path, const std::string& name) {
  std::string content;
  if (!testing_support::ReadAll(path, &content)) fuzz_drive::Die("unreadable file", name);
  if (!content.empty() &&
      memmem(gInput, gInputSize, content.data(), content.size()) == nullptr) {
    fuzz_drive::Die("file content not taken from the input", name);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_drive::Drive drive;
  drive.Extract(data, size);
  gInput = data;
  gInputSize = size;
  drive.Walk([](const std::string& path, const std::string& name, bool directory) {
    const bool inside = name == "ZUV_tmp" || name.rfind("ZUV_tmp/", 0) == 0;
    if (name == "data.sec") return;
    if (!inside) fuzz_drive::Die("created outside the destination", name);
    if (!directory) CheckFile(path, name);
  });
  return 0;
}
