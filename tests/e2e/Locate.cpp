// Where a button of a window is on the screen, for the scripts that click
// it as a user would: locate "WINDOW TITLE" "BUTTON TEXT" prints the
// button's centre in screen coordinates ("X Y"), taken from the window
// itself, whatever its frame, its place or the DPI. Exit 1 when not found.
#include <windows.h>

#include <stdio.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: locate WINDOW-TITLE BUTTON-TEXT\n");
    return 2;
  }
  HWND window = FindWindowA(nullptr, argv[1]);
  HWND button = window != nullptr ? FindWindowExA(window, nullptr, "Button", argv[2]) : nullptr;
  RECT rect;
  if (button == nullptr || !GetWindowRect(button, &rect)) return 1;
  printf("%ld %ld\n", (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  return 0;
}
