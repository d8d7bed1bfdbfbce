// SHA-256 from libcrypto (EVP): its assembler, with the processor's SHA
// instructions where they exist, at the speed of `openssl dgst`.
#include <openssl/evp.h>
#include <stdio.h>
#include <stdlib.h>

#include "platform/Sha256.h"

namespace platform {
namespace {

EVP_MD_CTX* Context(const Sha256* hash) { return reinterpret_cast<EVP_MD_CTX*>(hash->system[0]); }

void Drop(Sha256* hash) {
  EVP_MD_CTX_free(Context(hash));
  hash->system[0] = 0;
}

// A caller went on without a hash (Sha256.h), or libcrypto failed where it
// cannot: no digest it could give is one to trust.
[[noreturn]] void Stop(const char* why) {
  fprintf(stderr, "SHA-256: %s\n", why);
  abort();
}

EVP_MD_CTX* Started(const Sha256* hash) {
  EVP_MD_CTX* context = Context(hash);
  if (context == nullptr) {
    Stop("Sha256Start failed (libcrypto out of memory, or configured without SHA-256) and its caller went on");
  }
  return context;
}

}  // namespace

Sha256::~Sha256() { Drop(this); }

bool Sha256Start(Sha256* hash) {
  Drop(hash);
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  if (context == nullptr) return false;
  hash->system[0] = reinterpret_cast<uintptr_t>(context);
  if (EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1) return true;
  Drop(hash);
  return false;
}

void Sha256Add(Sha256* hash, const void* data, size_t size) {
  if (EVP_DigestUpdate(Started(hash), data, size) != 1) Stop("libcrypto refused to add data");
}

void Sha256Finish(Sha256* hash, unsigned char* digest) {
  if (EVP_DigestFinal_ex(Started(hash), digest, nullptr) != 1) Stop("libcrypto refused to finish");
  Drop(hash);
}

}  // namespace platform
