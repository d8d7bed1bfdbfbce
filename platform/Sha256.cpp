#include "platform/Sha256.h"

#include <string.h>

namespace platform {
namespace {

const uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t Rotate(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// Compresses count whole 64-byte blocks into state.
void Compress(uint32_t* state, const unsigned char* data, size_t count) {
  for (; count > 0; --count, data += 64) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
      const unsigned char* word = data + 4 * i;
      w[i] = static_cast<uint32_t>(word[0]) << 24 | static_cast<uint32_t>(word[1]) << 16 |
             static_cast<uint32_t>(word[2]) << 8 | word[3];
    }
    for (int i = 16; i < 64; ++i) {
      const uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
      const uint32_t s1 = Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25);
      const uint32_t t1 = h + s1 + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
      const uint32_t s0 = Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22);
      const uint32_t t2 = s0 + ((a & b) ^ (a & c) ^ (b & c));
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

}  // namespace

void Sha256Start(Sha256* hash) {
  static const uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  memcpy(hash->state, kInitial, sizeof kInitial);
  hash->length = 0;
}

void Sha256Add(Sha256* hash, const void* data, size_t size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  size_t used = static_cast<size_t>(hash->length % 64);
  hash->length += size;
  if (used > 0) {
    const size_t take = size < 64 - used ? size : 64 - used;
    memcpy(hash->block + used, bytes, take);
    bytes += take;
    size -= take;
    used += take;
    if (used < 64) return;
    Compress(hash->state, hash->block, 1);
  }
  // Whole blocks straight from the caller's buffer.
  Compress(hash->state, bytes, size / 64);
  memcpy(hash->block, bytes + size / 64 * 64, size % 64);
}

void Sha256Finish(Sha256* hash, unsigned char* digest) {
  const uint64_t bits = hash->length * 8;
  size_t used = static_cast<size_t>(hash->length % 64);
  hash->block[used++] = 0x80;
  if (used > 56) {
    memset(hash->block + used, 0, 64 - used);
    Compress(hash->state, hash->block, 1);
    used = 0;
  }
  memset(hash->block + used, 0, 56 - used);
  for (int i = 0; i < 8; ++i) hash->block[56 + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
  Compress(hash->state, hash->block, 1);
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 4; ++j) {
      digest[4 * i + j] = static_cast<unsigned char>(hash->state[i] >> (24 - 8 * j));
    }
  }
}

}  // namespace platform
