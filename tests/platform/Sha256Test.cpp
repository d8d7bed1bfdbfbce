// The system's SHA-256 (libcrypto natively, CryptoAPI under Wine) against
// the published FIPS 180 examples, each fed in pieces that straddle the
// 64-byte blocks the way the callers' reads do; and a hash's life: started
// again, dropped unfinished, used again after its end.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/Sha256.h"
#include "tests/support/Bytes.h"

namespace {

std::string Finished(platform::Sha256* hash) {
  unsigned char digest[platform::kSha256Size];
  platform::Sha256Finish(hash, digest);
  return testing_support::Hex(std::string(reinterpret_cast<char*>(digest), sizeof digest));
}

std::string Digest(const std::string& message, size_t piece) {
  platform::Sha256 hash;
  EXPECT_TRUE(platform::Sha256Start(&hash));
  for (size_t at = 0; at < message.size(); at += piece) {
    platform::Sha256Add(&hash, message.data() + at, std::min(piece, message.size() - at));
  }
  return Finished(&hash);
}

const char kAbc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const char kEmpty[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

TEST(Sha256, PublishedExamples) {
  const struct {
    std::string message;
    const char* digest;
  } examples[] = {
      {"", kEmpty},
      {"abc", kAbc},
      // 448 bits: the padding takes a second block.
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& example : examples) {
    for (size_t piece : {size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{128 * 1024}}) {
      if (example.message.size() > 1000 && piece == 1) continue;  // a minute natively, more under Wine
      EXPECT_EQ(example.digest, Digest(example.message, piece))
          << example.message.substr(0, 8) << "... in pieces of " << piece;
    }
  }
}

// What a hash holds goes with it: natively AddressSanitizer's leak check
// would see a context that stayed behind.
TEST(Sha256, StartedAgainDroppedOrFinishedItHoldsNothingOfBefore) {
  platform::Sha256 hash;
  ASSERT_TRUE(platform::Sha256Start(&hash));
  platform::Sha256Add(&hash, "junk", 4);
  ASSERT_TRUE(platform::Sha256Start(&hash));
  platform::Sha256Add(&hash, "abc", 3);
  EXPECT_EQ(kAbc, Finished(&hash));
  ASSERT_TRUE(platform::Sha256Start(&hash));
  EXPECT_EQ(kEmpty, Finished(&hash));
  platform::Sha256 dropped;
  ASSERT_TRUE(platform::Sha256Start(&dropped));
  platform::Sha256Add(&dropped, "abc", 3);
}

}  // namespace
