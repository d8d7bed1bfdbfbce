// The Win32 toolkit's windows at work: their messages, the task-bar
// window that owns the installer window, and the move a window manager
// reports that the toolkit undoes.
#include <windows.h>

#include "platform/win32/Win32Calls.h"
#include "platform/win32/Win32ToolkitInternal.h"

namespace platform {

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return gToolkit.FormMessage(window, message, wParam, lParam);
}

LRESULT CALLBACK TaskBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return gToolkit.TaskBarMessage(window, message, wParam, lParam);
}

// A window manager may report an owned window, once it has framed it, at
// another place than where it is (icewm puts the client area of a window
// that is transient for another 19 px lower than it is drawn); the system
// takes the report as a move, and clicks then land off what is shown. The
// first move that comes from outside before the user has touched the window
// is that report: the window goes back to where it was shown, which the
// window manager then confirms. Later moves are the user's.
void Win32Toolkit::ShowPlaced(int command) {
  osGetWindowRect(form_, &placed_);
  settling_ = true;
  osShowWindow(form_, command);
}

LRESULT Win32Toolkit::FormMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      const int index = static_cast<int>(LOWORD(wParam)) - kFirstControlId;
      if (HIWORD(wParam) == BN_CLICKED && events_ != nullptr && index >= 0 &&
          index < description_->controlCount &&
          description_->controls[index].kind == ControlKind::kButton) {
        events_->OnClick(index);
        HandleException();
      }
      return 0;
    }
    case WM_TIMER:
      if (wParam == kTimerId && events_ != nullptr) {
        events_->OnTimer();
        HandleException();
      }
      return 0;
    case WM_CLOSE:
      if (events_ != nullptr) {
        events_->OnClose();
        HandleException();
      }
      osDestroyWindow(window);
      return 0;
    case WM_DESTROY:
      if (running_) osPostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      if (window == form_) {
        form_ = nullptr;
        timerEnabled_ = false;
      }
      break;
    case WM_SETFOCUS: {
      HWND focus = FocusControl();
      if (focus != nullptr) osSetFocus(focus);
      return 0;
    }
    case WM_SYSCOMMAND:
      // The task-bar entry is the owner's: minimising means minimising it.
      if ((wParam & 0xFFF0) == SC_MINIMIZE && taskBar_ != nullptr) {
        osShowWindow(taskBar_, SW_MINIMIZE);
        return 0;
      }
      break;
    case WM_WINDOWPOSCHANGED: {
      const WINDOWPOS* position = reinterpret_cast<const WINDOWPOS*>(lParam);
      if (settling_ && (position->flags & SWP_NOMOVE) == 0 &&
          (position->x != placed_.left || position->y != placed_.top)) {
        settling_ = false;
        // Not from inside the report's own handling.
        osPostMessageA(window, kReplace, 0, 0);
      }
      break;
    }
    case kReplace:
      osSetWindowPos(window, nullptr, placed_.left, placed_.top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    case WM_PARENTNOTIFY:  // a click in a control
    case WM_NCLBUTTONDOWN:
    case WM_ENTERSIZEMOVE:
      settling_ = false;
      break;
    case kDpiChanged: {
      settling_ = false;
      Layout(HIWORD(wParam));
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      osSetWindowPos(window, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    default:
      break;
  }
  return osDefWindowProcA(window, message, wParam, lParam);
}

LRESULT Win32Toolkit::TaskBarMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:  // the task-bar entry's close command closes the window
      if (form_ != nullptr) osSendMessageA(form_, WM_CLOSE, 0, 0);
      return 0;
    case WM_SIZE:
      // Not every system hides owned windows with their minimised owner.
      if (wParam == SIZE_MINIMIZED && form_ != nullptr && osIsWindowVisible(form_)) {
        hiddenByMinimise_ = true;
        osShowWindow(form_, SW_HIDE);
      } else if (wParam != SIZE_MINIMIZED && hiddenByMinimise_) {
        hiddenByMinimise_ = false;
        if (form_ != nullptr) ShowPlaced(SW_SHOW);
      }
      break;
    case WM_SETFOCUS:  // restored from the task bar: the window takes over
      if (form_ != nullptr && osIsWindowVisible(form_) && osIsWindowEnabled(form_)) {
        osSetActiveWindow(form_);
      }
      return 0;
    default:
      break;
  }
  return osDefWindowProcA(window, message, wParam, lParam);
}

}  // namespace platform
