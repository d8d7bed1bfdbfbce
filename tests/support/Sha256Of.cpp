#include "tests/support/Sha256Of.h"

#include "platform/Sha256.h"

namespace testing_support {

std::string Sha256Of(const std::string& bytes) {
  platform::Sha256 hash;
  platform::Sha256Start(&hash);
  platform::Sha256Add(&hash, bytes.data(), bytes.size());
  unsigned char digest[platform::kSha256Size];
  platform::Sha256Finish(&hash, digest);
  return std::string(reinterpret_cast<char*>(digest), sizeof digest);
}

}  // namespace testing_support
