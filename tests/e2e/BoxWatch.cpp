// Reports the message boxes that other programs of this Wine prefix show,
// for the end-to-end tests: for MILLISECONDS it prints each new one as
// "caption|text" on its own line and dismisses it with OK.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

namespace {

const int kMaxBoxes = 16;
HWND seen[kMaxBoxes];
int seenCount = 0;

BOOL CALLBACK Match(HWND window, LPARAM found) {
  char name[16] = "";
  GetClassNameA(window, name, sizeof name);
  if (lstrcmpA(name, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
  for (int i = 0; i < seenCount; ++i) {
    if (seen[i] == window) return TRUE;
  }
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
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
    HWND box = nullptr;
    EnumWindows(Match, reinterpret_cast<LPARAM>(&box));
    if (box == nullptr) {
      Sleep(50);
      continue;
    }
    // Its text is set while it is being set up.
    char caption[256] = "", text[512] = "";
    for (int i = 0; i < 40 && text[0] == '\0'; ++i) {
      Sleep(50);
      GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    }
    GetWindowTextA(box, caption, sizeof caption);
    printf("%s|%s\n", caption, text);
    fflush(stdout);
    if (seenCount < kMaxBoxes) seen[seenCount++] = box;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  }
  return 0;
}
