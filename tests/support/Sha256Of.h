// The SHA-256 of bytes held in memory, for the tests' expected digests.
#pragma once

#include <string>

namespace testing_support {

// The 32 bytes of the SHA-256 of bytes (platform/Sha256.h: the system's).
std::string Sha256Of(const std::string& bytes);

}  // namespace testing_support
