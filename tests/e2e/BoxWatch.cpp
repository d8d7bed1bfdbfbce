// Reports the message boxes that other programs of this Wine prefix show,
// for the end-to-end tests: for MILLISECONDS it prints each new one as
// "caption|text" on its own line and dismisses it with OK.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "tests/support/Win32Windows.h"

namespace {

const int kMaxBoxes = 16;
HWND seen[kMaxBoxes];
int seenCount = 0;

bool New(HWND box) {
  if (!IsWindowVisible(box)) return false;
  for (int i = 0; i < seenCount; ++i) {
    if (seen[i] == box) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: boxwatch MILLISECONDS\n");
    return 2;
  }
  const DWORD duration = static_cast<DWORD>(atol(argv[1]));
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < duration) {
    HWND box = testing_support::TopLevelWindow("#32770", nullptr, New);
    if (box == nullptr) {
      Sleep(50);
      continue;
    }
    // Its text is set while it is being set up.
    char caption[256] = "", text[512] = "";
    testing_support::WaitFor([&] { return GetDlgItemTextA(box, 0xFFFF, text, sizeof text) > 0; }, 2000);
    GetWindowTextA(box, caption, sizeof caption);
    printf("%s|%s\n", caption, text);
    fflush(stdout);
    if (seenCount < kMaxBoxes) seen[seenCount++] = box;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  }
  return 0;
}
