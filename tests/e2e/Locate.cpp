// Where a button of a window is on the screen, for the scripts that click
// it as a user would: locate "WINDOW TITLE" "BUTTON TEXT" prints the
// button's centre in screen coordinates ("X Y"), taken from the window
// itself, whatever its frame, its place or the DPI. Exit 1 while there is
// no visible window of that title with that button, or while it would not
// take a click yet: something of it is still to be painted, or its thread
// does not answer (the scripts wait for this rather than for a time).
#include <windows.h>

#include <stdio.h>

#include "tests/support/Win32Windows.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: locate WINDOW-TITLE BUTTON-TEXT\n");
    return 2;
  }
  // Hidden windows of the title may be there too: an earlier installer at work.
  HWND window = testing_support::TopLevelWindow(nullptr, argv[1],
                                                [](HWND found) { return IsWindowVisible(found) != FALSE; });
  HWND button = window != nullptr ? FindWindowExA(window, nullptr, "Button", argv[2]) : nullptr;
  RECT rect;
  if (button == nullptr || !GetWindowRect(button, &rect)) return 1;
  if (GetUpdateRect(window, nullptr, FALSE) || GetUpdateRect(button, nullptr, FALSE)) return 1;
  // Answered once it is back in its message loop, after the painting.
  DWORD_PTR result;
  if (SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &result) == 0) return 1;
  printf("%ld %ld\n", (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  return 0;
}
