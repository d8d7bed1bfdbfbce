// Real windows, read from outside their window procedure: by the tests of
// the window and of Install.exe as a program, and by the small programs
// that watch another program's windows. Everything here only reads, and
// every wait is bounded.
#pragma once

#include <windows.h>

#include <string>

namespace testing_support {

inline std::string WindowText(HWND window) {
  char text[256] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

inline std::string ClassOf(HWND window) {
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

inline DWORD ProcessOf(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

// The first top-level window, in Z order, of the class and with the title
// given (nullptr: any) for which wanted(window) holds; nullptr if none.
// Other programs of a Wine prefix have windows of the same class.
template <typename Wanted>
HWND TopLevelWindow(const char* windowClass, const char* title, Wanted wanted) {
  for (HWND window = FindWindowExA(nullptr, nullptr, windowClass, title); window != nullptr;
       window = FindWindowExA(nullptr, window, windowClass, title)) {
    if (wanted(window)) return window;
  }
  return nullptr;
}

// Polls done() every 20 ms until it holds, for at most timeout ms; true
// when it did.
template <typename Done>
bool WaitFor(Done done, DWORD timeout) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start >= timeout) return false;
    Sleep(20);
  }
  return true;
}

}  // namespace testing_support
