// libFuzzer target for secpack's own checker, and a cross-check with the
// installer's reader: an archive the checker calls valid must extract
// completely, exactly as listed.
#include <stdint.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "tests/fuzz/FuzzDrive.h"
#include "tests/support/ReadAll.h"
#include "tools/secpack/VerifyArchive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  secpack::Listing listing;
  std::string reason;
  if (!secpack::VerifyArchive(data, size, &listing, &reason)) return 0;

  fuzz_drive::Drive drive;
  if (drive.Extract(data, size) != 0) fuzz_drive::Die("valid archive not extracted", "data.sec");
  for (const secpack::ListedFile& file : listing.files) {
    std::string native = drive.Root() + "/ZUV_tmp/";
    for (char c : file.name) native += c == '\\' ? '/' : c;
    std::string content;
    if (!testing_support::ReadAll(native, &content) || content.size() != static_cast<size_t>(file.size) ||
        memcmp(content.data(), data + file.offset, content.size()) != 0) {
      fuzz_drive::Die("file differs from the listing", file.name);
    }
  }
  return 0;
}
