// A window's text, for the tests that read the real window and its boxes.
#pragma once

#include <windows.h>

#include <string>

namespace testing_support {

inline std::string WindowText(HWND window) {
  char text[256] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

}  // namespace testing_support
