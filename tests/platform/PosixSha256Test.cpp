// libcrypto without SHA-256 (a configuration that activates only its null
// provider) fails as it would out of memory: Sha256Start says so, and a
// caller that goes on regardless is stopped before any digest comes out.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "platform/Sha256.h"

namespace {

TEST(PosixSha256DeathTest, WithoutSha256StartFailsAndACallerGoingOnIsStopped) {
  // A fresh process: libcrypto reads its configuration once, at first use.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string config = testing::TempDir() + "sha256-null-provider.cnf";
  FILE* file = fopen(config.c_str(), "w");
  ASSERT_NE(nullptr, file);
  fputs("openssl_conf = init\n[init]\nproviders = providers\n[providers]\nnull = null\n[null]\nactivate = 1\n", file);
  fclose(file);
  EXPECT_EXIT(
      {
        setenv("OPENSSL_CONF", config.c_str(), 1);
        platform::Sha256 hash;
        fprintf(stderr, "started: %d\n", platform::Sha256Start(&hash) ? 1 : 0);
        platform::Sha256Add(&hash, "abc", 3);
      },
      testing::KilledBySignal(SIGABRT), "started: 0\nSHA-256: Sha256Start failed");
  remove(config.c_str());
}

}  // namespace
