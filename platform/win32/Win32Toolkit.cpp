#include "platform/win32/Win32Toolkit.h"

#include <windows.h>

#include "platform/win32/Win32Calls.h"
#include "platform/win32/Win32Fonts.h"
#include "platform/win32/Win32Title.h"
#include "platform/win32/Win32ToolkitInternal.h"

namespace platform {
namespace {

int Scale(int value, int dpi) { return MulDivRounded(value, dpi, kBaseDpi); }

int SystemDpi() {
  HDC screen = osGetDC(nullptr);
  if (screen == nullptr) return kBaseDpi;
  const int dpi = osGetDeviceCaps(screen, LOGPIXELSY);
  osReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kBaseDpi;
}

}  // namespace

Win32Toolkit gToolkit;

bool Win32Toolkit::Fail() {
  Raise(kNoWindowMessage);
  return false;
}

bool Win32Toolkit::RegisterWindowClass(const char* name, WNDPROC procedure) {
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = instance_;
  windowClass.hIcon = osLoadIconA(instance_, "MAINICON");
  windowClass.hIconSm = static_cast<HICON>(
      osLoadImageA(instance_, "MAINICON", IMAGE_ICON, osGetSystemMetrics(SM_CXSMICON),
                 osGetSystemMetrics(SM_CYSMICON), 0));
  windowClass.hCursor = osLoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = name;
  // A test may run the installer twice in one process.
  return osRegisterClassExA(&windowClass) != 0 || osGetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool Win32Toolkit::Initialize() {
  instance_ = osGetModuleHandleA(nullptr);
  timerEnabled_ = false;
  hiddenByMinimise_ = false;
  if (!RegisterWindowClass(kTaskBarWindowClass, TaskBarProc)) return Fail();
  char title[MAX_PATH];
  ApplicationTitle(title, sizeof title);
  // No size: it only lends its caption and icon to the task-bar entry.
  taskBar_ = osCreateWindowExA(0, kTaskBarWindowClass, title,
                             WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                             osGetSystemMetrics(SM_CXSCREEN) / 2, osGetSystemMetrics(SM_CYSCREEN) / 2,
                             0, 0, nullptr, nullptr, instance_, nullptr);
  return taskBar_ != nullptr || Fail();
}

bool Win32Toolkit::CreateForm(const FormDescription& form, FormEvents* events) {
  if (form.controlCount < 0 || form.controlCount > kMaxControls) return Fail();
  if (!RegisterWindowClass(form.className, FormProc)) return Fail();
  description_ = &form;
  events_ = events;
  dpi_ = SystemDpi();
  form_ = osCreateWindowExA(0, form.className, form.caption, WS_OVERLAPPEDWINDOW,
                          0, 0, Scale(form.width, dpi_), Scale(form.height, dpi_), taskBar_,
                          nullptr, instance_, nullptr);
  if (form_ == nullptr) return Fail();
  for (int i = 0; i < form.controlCount; ++i) {
    const ControlDescription& control = form.controls[i];
    const char* windowClass = "STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    switch (control.kind) {
      case ControlKind::kBevel:
        style |= SS_ETCHEDFRAME;  // a lowered frame
        break;
      case ControlKind::kLabel:
        style |= SS_LEFT | SS_NOPREFIX;
        break;
      case ControlKind::kButton:
        windowClass = "BUTTON";
        style |= BS_PUSHBUTTON | WS_TABSTOP;
        break;
    }
    controls_[i] = osCreateWindowExA(
        0, windowClass, control.caption != nullptr ? control.caption : "", style, 0, 0, 0, 0,
        form_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + i)), instance_,
        nullptr);
    if (controls_[i] == nullptr) {
      osDestroyWindow(form_);
      return Fail();
    }
  }
  // Per-monitor DPI awareness: the window may sit on a monitor whose DPI
  // differs from the system's.
  const int dpi =
      SystemCall<kGetDpiForWindow>() != nullptr ? static_cast<int>(osGetDpiForWindow(form_)) : dpi_;
  if (dpi > 0 && dpi != dpi_) {
    osSetWindowPos(form_, nullptr, 0, 0, Scale(form.width, dpi), Scale(form.height, dpi),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  Layout(dpi > 0 ? dpi : dpi_);
  events_->OnCreate();
  HandleException();
  return true;
}

HFONT Win32Toolkit::MakeFont(const FontDescription& font) const {
  return ResolveFont(font.face, Scale(font.height, dpi_), font.bold);
}

void Win32Toolkit::DeleteFonts() {
  for (HFONT& font : fonts_) {
    if (font != nullptr) osDeleteObject(font);
    font = nullptr;
  }
}

// The inner right edge of the bevel that holds a point, or 0 when none does.
int Win32Toolkit::BevelInnerRight(int x, int y, int dpi) const {
  for (int i = 0; i < description_->controlCount; ++i) {
    const ControlDescription& bevel = description_->controls[i];
    if (bevel.kind != ControlKind::kBevel) continue;
    const int left = Scale(bevel.left, dpi);
    const int top = Scale(bevel.top, dpi);
    const int right = left + Scale(bevel.width, dpi);
    if (x >= left && x < right && y >= top && y < top + Scale(bevel.height, dpi)) {
      return right - osGetSystemMetrics(SM_CXEDGE);
    }
  }
  return 0;
}

// Places the controls and makes their fonts for a DPI.
void Win32Toolkit::Layout(int dpi) {
  dpi_ = dpi;
  HFONT previous[kMaxControls + 1];
  for (int i = 0; i <= kMaxControls; ++i) previous[i] = fonts_[i];
  fonts_[0] = MakeFont(description_->font);
  for (int i = 0; i < description_->controlCount; ++i) {
    const ControlDescription& control = description_->controls[i];
    const int left = Scale(control.left, dpi);
    const int top = Scale(control.top, dpi);
    int width = Scale(control.width, dpi);
    int height = Scale(control.height, dpi);
    fonts_[i + 1] = control.font != nullptr ? MakeFont(*control.font) : nullptr;
    if (control.kind == ControlKind::kLabel) {
      // A face wider than the described one would run past the bevel.
      const int innerRight = BevelInnerRight(left, top, dpi);
      if (innerRight > 0) {
        if (fonts_[i + 1] == nullptr) fonts_[i + 1] = MakeFont(description_->font);
        fonts_[i + 1] = NarrowToFit(controls_[i], fonts_[i + 1], control.caption, innerRight - left);
      }
    }
    HFONT font = fonts_[i + 1] != nullptr ? fonts_[i + 1] : fonts_[0];
    osSendMessageA(controls_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (control.kind == ControlKind::kLabel) MeasureText(controls_[i], font, control.caption, &width, &height);
    osSetWindowPos(controls_[i], nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  for (HFONT font : previous) {
    if (font != nullptr) osDeleteObject(font);
  }
  osInvalidateRect(form_, nullptr, TRUE);
}

HWND Win32Toolkit::FocusControl() const {
  for (int i = 0; i < description_->controlCount; ++i) {
    if (description_->controls[i].kind == ControlKind::kButton) return controls_[i];
  }
  return nullptr;
}

void Win32Toolkit::Run() {
  if (form_ == nullptr) return;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  osGetStartupInfoA(&startup);
  const int state = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : SW_SHOWNORMAL;

  // Centred on the screen; a maximised window is restored to there.
  RECT rect;
  osGetWindowRect(form_, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  osSetWindowPos(form_, nullptr, (osGetSystemMetrics(SM_CXSCREEN) - width) / 2,
               (osGetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  // The system may apply the launcher's show state to a process's first
  // ShowWindow whatever it asks for; the second call undoes that.
  osShowWindow(taskBar_, SW_SHOWNOACTIVATE);
  osShowWindow(taskBar_, SW_SHOWNOACTIVATE);
  switch (ShowCommandFor(state)) {
    case ShowCommand::kMaximized:
      osShowWindow(form_, SW_SHOWMAXIMIZED);
      break;
    case ShowCommand::kMinimized:
      // Minimising the owner hides the window, which comes back when the
      // task-bar entry is restored.
      osShowWindow(form_, SW_SHOWNOACTIVATE);
      osShowWindow(taskBar_, SW_SHOWMINNOACTIVE);
      break;
    case ShowCommand::kNormal:
      ShowPlaced(SW_SHOWNORMAL);
      break;
  }

  running_ = true;
  MSG message;
  while (osGetMessageA(&message, nullptr, 0, 0) > 0) {
    osTranslateMessage(&message);
    osDispatchMessageA(&message);
  }
  running_ = false;
  // Ended by Terminate: the window goes without its close handler.
  SetTimerEnabled(false);
  if (form_ != nullptr) osDestroyWindow(form_);
  if (taskBar_ != nullptr) osDestroyWindow(taskBar_);
  taskBar_ = nullptr;
  DeleteFonts();
}

void Win32Toolkit::HideForm() {
  settling_ = false;
  hiddenByMinimise_ = false;  // hidden for good
  if (form_ != nullptr) osShowWindow(form_, SW_HIDE);
  if (taskBar_ != nullptr) osShowWindow(taskBar_, SW_HIDE);
}

bool Win32Toolkit::SetTimerEnabled(bool enabled) {
  if (enabled == timerEnabled_) return true;
  if (!enabled) {
    if (form_ != nullptr) osKillTimer(form_, kTimerId);
    timerEnabled_ = false;
    return true;
  }
  if (form_ == nullptr || osSetTimer(form_, kTimerId, description_->timer.interval, nullptr) == 0) {
    Raise(kNoTimerMessage);
    return false;
  }
  timerEnabled_ = true;
  return true;
}

void Win32Toolkit::ShowException(const char* message) {
  char text[512];
  ExceptionText(message, text, sizeof text);
  ShowModalMessage(text, MB_ICONSTOP);
}

Toolkit& TheWin32Toolkit() { return gToolkit; }

}  // namespace platform
