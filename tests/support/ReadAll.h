// A host file's whole content, read through the C library (the fuzz
// targets use it too: nothing here needs GoogleTest).
#pragma once

#include <string>

namespace testing_support {

// The whole file; false when it cannot be read.
bool ReadAll(const std::string& path, std::string* content);
std::string ReadAll(const std::string& path);  // "" when it cannot be read

}  // namespace testing_support
