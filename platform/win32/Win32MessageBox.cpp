#include "platform/win32/Win32MessageBox.h"

#include <windows.h>

#include "platform/win32/Win32Title.h"
#include "platform/win32/Win32Calls.h"

namespace platform {

void ShowModalMessage(const char* text, unsigned icon) {
  char title[MAX_PATH];
  ApplicationTitle(title, sizeof title);
  // Task-modal: every window of the installer waits for it. It is often
  // shown while the installer's window is hidden, with another program's
  // window in front: the box brings itself to the foreground and stays on top.
  osMessageBoxA(nullptr, text, title, MB_OK | icon | MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST);
}

}  // namespace platform
