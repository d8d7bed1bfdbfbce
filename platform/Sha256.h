// SHA-256 (FIPS 180-4), for the places without the system's own: the
// POSIX backend's DigestFile and secpack. Install.exe takes the system's
// (Win32Os::DigestFile).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace platform {

inline constexpr size_t kSha256Size = 32;

struct Sha256 {
  uint32_t state[8];
  uint64_t length;          // bytes added so far
  unsigned char block[64];  // the partial block; length % 64 bytes of it used
};

void Sha256Start(Sha256* hash);
void Sha256Add(Sha256* hash, const void* data, size_t size);
// Writes the 32-byte digest; the hash must be started again before reuse.
void Sha256Finish(Sha256* hash, unsigned char* digest);

}  // namespace platform
