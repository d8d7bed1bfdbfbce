// SHA-256 (FIPS 180-4), the system's own rather than one written here:
// libcrypto's EVP natively (posix/PosixSha256.cpp), CryptoAPI on Windows
// (win32/Win32Sha256.cpp); the build links the file of its system. For the
// POSIX backend's DigestFile, secpack and the tests. Install.exe asks the
// system itself (Win32Os::DigestFile) and links neither file.
//
// A hash holds the system's context from Sha256Start to Sha256Finish, or to
// its own end: one dropped unfinished (a read that failed) gives it back
// when it goes out of scope. It cannot be copied.
//
// The system's hash fails only when memory is exhausted (libcrypto also
// when its configuration, OPENSSL_CONF, leaves no provider of SHA-256).
// Sha256Start then returns false and the hash holds nothing: a caller that
// reports its failures gives up there, as product code must. A caller that
// goes on regardless ends the process (abort, the reason on standard error)
// at its next Sha256Add or Sha256Finish: the tools and the tests, which
// must never print or compare a digest of nothing, stop that way.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace platform {

inline constexpr size_t kSha256Size = 32;

struct Sha256 {
  Sha256() = default;
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // The system's state (libcrypto's context; CryptoAPI's provider and
  // hash), all zero while the hash holds none.
  uintptr_t system[2] = {};
};

// Starts afresh, also a hash already started; false when the system's hash
// cannot be had (above).
bool Sha256Start(Sha256* hash);
void Sha256Add(Sha256* hash, const void* data, size_t size);
// Writes the 32-byte digest; the hash must be started again before reuse.
void Sha256Finish(Sha256* hash, unsigned char* digest);

}  // namespace platform
