#include "tests/support/ReadAll.h"

#include <stdio.h>

namespace testing_support {

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

}  // namespace testing_support
