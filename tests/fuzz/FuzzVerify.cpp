// libFuzzer target for secpack's own checker, and a cross-check with the
// installer's reader: an archive the checker calls valid must extract
// completely, exactly as listed.
#include <stdint.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "package/ExtractPackage.h"
#include "platform/posix/PosixOs.h"
#include "tests/fuzz/FuzzDrive.h"
#include "tests/support/ReadAll.h"
#include "tools/secpack/VerifyArchive.h"
#include "platform/StandIns.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  secpack::Listing listing;
  std::string reason;
  if (!secpack::VerifyArchive(data, size, &listing, &reason)) return 0;

  fuzz_drive::Drive drive;
  drive.Write("data.sec", data, size);
  platform::PosixOs os(drive.Root().c_str());
  platform::InstallStandIns();  // no window: the reader's messages go nowhere
  platform::Os* previous = platform::SetOs(&os);
  if (chdir(drive.Root().c_str()) != 0) fuzz_drive::Die("chdir", drive.Root());
  const int result = ExtractPackage("data.sec", "c:\\ZUV_tmp");
  platform::SetOs(previous);
  if (result != 0) fuzz_drive::Die("valid archive not extracted", "data.sec");
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
