// Small helpers on bytes and files that every suite shares (the fuzz
// targets too: nothing here needs GoogleTest).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace testing_support {

// size bytes in a pattern that differs with seed and does not repeat
// within a 16 KiB chunk: a byte out of place or from another file shows.
std::string BytePattern(size_t size, unsigned seed);
// Overwrites the 32-bit little-endian field at offset.
void PatchLe32(std::string* bytes, size_t offset, int32_t value);
// The whole file; false when it cannot be read.
bool ReadAll(const std::string& path, std::string* content);
std::string ReadAll(const std::string& path);  // "" when it cannot be read
// The 32 bytes of the SHA-256 of bytes (platform/Sha256.h: the system's),
// and any bytes in lower-case hexadecimal.
std::string Sha256Of(const std::string& bytes);
std::string Hex(const std::string& bytes);

}  // namespace testing_support
