// Byte strings the suites share: a pattern to fill files with, a patched
// field, and any bytes in hexadecimal.
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
// Any bytes in lower-case hexadecimal.
std::string Hex(const std::string& bytes);

}  // namespace testing_support
