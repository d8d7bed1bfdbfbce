#include "tests/support/Files.h"

#include <stdio.h>

#include "platform/Sha256.h"

namespace testing_support {

std::string BytePattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed * 7 + i / 251) & 0xff);
  return bytes;
}

void PatchLe32(std::string* bytes, size_t offset, int32_t value) {
  const uint32_t bits = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) (*bytes)[offset + i] = static_cast<char>((bits >> (8 * i)) & 0xff);
}

bool ReadAll(const std::string& path, std::string* content) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char buffer[65536];
  size_t got;
  content->clear();
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) content->append(buffer, got);
  fclose(file);
  return true;
}

std::string ReadAll(const std::string& path) {
  std::string content;
  return ReadAll(path, &content) ? content : std::string();
}

std::string Sha256Of(const std::string& bytes) {
  platform::Sha256 hash;
  platform::Sha256Start(&hash);
  platform::Sha256Add(&hash, bytes.data(), bytes.size());
  unsigned char digest[platform::kSha256Size];
  platform::Sha256Finish(&hash, digest);
  return std::string(reinterpret_cast<char*>(digest), sizeof digest);
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

}  // namespace testing_support
