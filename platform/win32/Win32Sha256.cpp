// SHA-256 from CryptoAPI (advapi32, which every Windows has): the AES
// provider, the first to offer SHA-256, in a verify-only context that
// needs no key container. For secpack.exe and the tests; Install.exe
// hashes through Win32Os::DigestCopy.
#include <windows.h>
#include <wincrypt.h>
#include <stdio.h>
#include <stdlib.h>

#include "platform/Sha256.h"
#include "platform/win32/Win32Calls.h"

namespace platform {
namespace {

// system[0] is the provider, system[1] the hash.
void Drop(Sha256* hash) {
  if (hash->system[1] != 0) osCryptDestroyHash(hash->system[1]);
  if (hash->system[0] != 0) osCryptReleaseContext(hash->system[0], 0);
  hash->system[0] = hash->system[1] = 0;
}

// A caller went on without a hash (Sha256.h), or CryptoAPI failed where it
// cannot: no digest it could give is one to trust.
[[noreturn]] void Stop(const char* why) {
  fprintf(stderr, "SHA-256: %s (error %lu)\n", why, osGetLastError());
  abort();
}

HCRYPTHASH Started(const Sha256* hash) {
  if (hash->system[1] == 0) Stop("Sha256Start failed (CryptoAPI out of memory) and its caller went on");
  return hash->system[1];
}

}  // namespace

Sha256::~Sha256() { Drop(this); }

bool Sha256Start(Sha256* hash) {
  Drop(hash);
  HCRYPTPROV provider = 0;
  HCRYPTHASH started = 0;
  if (!osCryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return false;
  hash->system[0] = provider;
  if (!osCryptCreateHash(provider, CALG_SHA_256, 0, 0, &started)) {
    Drop(hash);
    return false;
  }
  hash->system[1] = started;
  return true;
}

void Sha256Add(Sha256* hash, const void* data, size_t size) {
  const HCRYPTHASH started = Started(hash);
  const BYTE* bytes = static_cast<const BYTE*>(data);
  // CryptHashData takes a DWORD's worth at a time.
  while (size > 0) {
    const DWORD piece = size < 0x40000000 ? static_cast<DWORD>(size) : 0x40000000;
    if (!osCryptHashData(started, bytes, piece, 0)) Stop("CryptoAPI refused to add data");
    bytes += piece;
    size -= piece;
  }
}

void Sha256Finish(Sha256* hash, unsigned char* digest) {
  DWORD size = kSha256Size;
  if (!osCryptGetHashParam(Started(hash), HP_HASHVAL, digest, &size, 0) || size != kSha256Size) {
    Stop("CryptoAPI refused to finish");
  }
  Drop(hash);
}

}  // namespace platform
