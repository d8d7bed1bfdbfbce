#include "platform/Win32Toolkit.h"

#include <windows.h>

#include "platform/win32/Win32MessageBox.h"
#include "platform/win32/Win32Title.h"

namespace platform {
namespace {

constexpr int kBaseDpi = 96;
constexpr int kMaxControls = 8;
constexpr int kFirstControlId = 100;
constexpr UINT_PTR kTimerId = 1;
constexpr UINT kDpiChanged = 0x02E0;  // WM_DPICHANGED

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);

int Scale(int value, int dpi) { return MulDiv(value, dpi, kBaseDpi); }

int SystemDpi() {
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return kBaseDpi;
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kBaseDpi;
}

// Sizes a label to its text; leaves the size alone when it cannot be measured.
void MeasureText(HWND control, HFONT font, const char* text, int* width, int* height) {
  HDC dc = GetDC(control);
  if (dc == nullptr) return;
  HGDIOBJ previous = SelectObject(dc, font != nullptr ? font : GetStockObject(SYSTEM_FONT));
  SIZE size;
  if (GetTextExtentPoint32A(dc, text, lstrlenA(text), &size) && size.cx > 0 && size.cy > 0) {
    *width = size.cx;
    *height = size.cy;
  }
  SelectObject(dc, previous);
  ReleaseDC(control, dc);
}

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK TaskBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

class Win32Toolkit final : public Toolkit {
 public:
  bool Initialize() override;
  bool CreateForm(const FormDescription& form, FormEvents* events) override;
  void Run() override;
  void Terminate() override { PostQuitMessage(0); }
  void HideForm() override;
  bool SetTimerEnabled(bool enabled) override;
  void ShowException(const char* message) override;

  LRESULT FormMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT TaskBarMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  bool Fail();
  bool RegisterWindowClass(const char* name, WNDPROC procedure);
  HFONT MakeFont(const FontDescription& font) const;
  void Layout(int dpi);
  void DeleteFonts();
  HWND FocusControl() const;

  HINSTANCE instance_ = nullptr;
  HWND taskBar_ = nullptr;
  HWND form_ = nullptr;
  const FormDescription* description_ = nullptr;
  FormEvents* events_ = nullptr;
  HWND controls_[kMaxControls] = {};
  HFONT fonts_[kMaxControls + 1] = {};  // the window's, then each control's own
  int dpi_ = kBaseDpi;
  bool timerEnabled_ = false;
  bool running_ = false;
  bool hiddenByMinimise_ = false;
  GetDpiForWindowFunction getDpiForWindow_ = nullptr;
};

Win32Toolkit gToolkit;

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return gToolkit.FormMessage(window, message, wParam, lParam);
}

LRESULT CALLBACK TaskBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return gToolkit.TaskBarMessage(window, message, wParam, lParam);
}

bool Win32Toolkit::Fail() {
  Raise(kNoWindowMessage);
  return false;
}

bool Win32Toolkit::RegisterWindowClass(const char* name, WNDPROC procedure) {
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = instance_;
  windowClass.hIcon = LoadIconA(instance_, "MAINICON");
  windowClass.hIconSm = static_cast<HICON>(
      LoadImageA(instance_, "MAINICON", IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                 GetSystemMetrics(SM_CYSMICON), 0));
  windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = name;
  // A test may run the installer twice in one process.
  return RegisterClassExA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool Win32Toolkit::Initialize() {
  instance_ = GetModuleHandleA(nullptr);
  timerEnabled_ = false;
  hiddenByMinimise_ = false;
  FARPROC lookup = GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow");
  getDpiForWindow_ = reinterpret_cast<GetDpiForWindowFunction>(reinterpret_cast<void*>(lookup));
  if (!RegisterWindowClass(kTaskBarWindowClass, TaskBarProc)) return Fail();
  char title[MAX_PATH];
  ApplicationTitle(title, sizeof title);
  // No size: it only lends its caption and icon to the task-bar entry.
  taskBar_ = CreateWindowExA(0, kTaskBarWindowClass, title,
                             WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                             GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2,
                             0, 0, nullptr, nullptr, instance_, nullptr);
  return taskBar_ != nullptr || Fail();
}

bool Win32Toolkit::CreateForm(const FormDescription& form, FormEvents* events) {
  if (form.controlCount < 0 || form.controlCount > kMaxControls) return Fail();
  if (!RegisterWindowClass(form.className, FormProc)) return Fail();
  description_ = &form;
  events_ = events;
  dpi_ = SystemDpi();
  form_ = CreateWindowExA(0, form.className, form.caption, WS_OVERLAPPEDWINDOW,
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
    controls_[i] = CreateWindowExA(
        0, windowClass, control.caption != nullptr ? control.caption : "", style, 0, 0, 0, 0,
        form_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + i)), instance_,
        nullptr);
    if (controls_[i] == nullptr) {
      DestroyWindow(form_);
      return Fail();
    }
  }
  // Per-monitor DPI awareness: the window may sit on a monitor whose DPI
  // differs from the system's.
  const int dpi = getDpiForWindow_ != nullptr ? static_cast<int>(getDpiForWindow_(form_)) : dpi_;
  if (dpi > 0 && dpi != dpi_) {
    SetWindowPos(form_, nullptr, 0, 0, Scale(form.width, dpi), Scale(form.height, dpi),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  Layout(dpi > 0 ? dpi : dpi_);
  events_->OnCreate();
  HandleException();
  return true;
}

HFONT Win32Toolkit::MakeFont(const FontDescription& font) const {
  return CreateFontA(Scale(font.height, dpi_), 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, FALSE,
                     FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                     DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, font.face);
}

void Win32Toolkit::DeleteFonts() {
  for (HFONT& font : fonts_) {
    if (font != nullptr) DeleteObject(font);
    font = nullptr;
  }
}

// Places the controls and makes their fonts for a DPI.
void Win32Toolkit::Layout(int dpi) {
  dpi_ = dpi;
  HFONT previous[kMaxControls + 1];
  for (int i = 0; i <= kMaxControls; ++i) previous[i] = fonts_[i];
  fonts_[0] = MakeFont(description_->font);
  for (int i = 0; i < description_->controlCount; ++i) {
    const ControlDescription& control = description_->controls[i];
    fonts_[i + 1] = control.font != nullptr ? MakeFont(*control.font) : nullptr;
    HFONT font = fonts_[i + 1] != nullptr ? fonts_[i + 1] : fonts_[0];
    SendMessageA(controls_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    int width = Scale(control.width, dpi);
    int height = Scale(control.height, dpi);
    if (control.kind == ControlKind::kLabel) MeasureText(controls_[i], font, control.caption, &width, &height);
    SetWindowPos(controls_[i], nullptr, Scale(control.left, dpi), Scale(control.top, dpi), width,
                 height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  for (HFONT font : previous) {
    if (font != nullptr) DeleteObject(font);
  }
  InvalidateRect(form_, nullptr, TRUE);
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
  GetStartupInfoA(&startup);
  const int state = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : SW_SHOWNORMAL;

  // Centred on the screen; a maximised window is restored to there.
  RECT rect;
  GetWindowRect(form_, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  SetWindowPos(form_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  // The system may apply the launcher's show state to a process's first
  // ShowWindow whatever it asks for; the second call undoes that.
  ShowWindow(taskBar_, SW_SHOWNOACTIVATE);
  ShowWindow(taskBar_, SW_SHOWNOACTIVATE);
  switch (ShowCommandFor(state)) {
    case ShowCommand::kMaximized:
      ShowWindow(form_, SW_SHOWMAXIMIZED);
      break;
    case ShowCommand::kMinimized:
      // Minimising the owner hides the window, which comes back when the
      // task-bar entry is restored.
      ShowWindow(form_, SW_SHOWNOACTIVATE);
      ShowWindow(taskBar_, SW_SHOWMINNOACTIVE);
      break;
    case ShowCommand::kNormal:
      ShowWindow(form_, SW_SHOWNORMAL);
      break;
  }

  running_ = true;
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  running_ = false;
  // Ended by Terminate: the window goes without its close handler.
  SetTimerEnabled(false);
  if (form_ != nullptr) DestroyWindow(form_);
  if (taskBar_ != nullptr) DestroyWindow(taskBar_);
  taskBar_ = nullptr;
  DeleteFonts();
}

void Win32Toolkit::HideForm() {
  hiddenByMinimise_ = false;  // hidden for good
  if (form_ != nullptr) ShowWindow(form_, SW_HIDE);
  if (taskBar_ != nullptr) ShowWindow(taskBar_, SW_HIDE);
}

bool Win32Toolkit::SetTimerEnabled(bool enabled) {
  if (enabled == timerEnabled_) return true;
  if (!enabled) {
    if (form_ != nullptr) KillTimer(form_, kTimerId);
    timerEnabled_ = false;
    return true;
  }
  if (form_ == nullptr || SetTimer(form_, kTimerId, description_->timerInterval, nullptr) == 0) {
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
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      if (running_) PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      if (window == form_) {
        form_ = nullptr;
        timerEnabled_ = false;
      }
      break;
    case WM_SETFOCUS: {
      HWND focus = FocusControl();
      if (focus != nullptr) SetFocus(focus);
      return 0;
    }
    case WM_SYSCOMMAND:
      // The task-bar entry is the owner's: minimising means minimising it.
      if ((wParam & 0xFFF0) == SC_MINIMIZE && taskBar_ != nullptr) {
        ShowWindow(taskBar_, SW_MINIMIZE);
        return 0;
      }
      break;
    case kDpiChanged: {
      Layout(HIWORD(wParam));
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT Win32Toolkit::TaskBarMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:  // the task-bar entry's close command closes the window
      if (form_ != nullptr) SendMessageA(form_, WM_CLOSE, 0, 0);
      return 0;
    case WM_SIZE:
      // Not every system hides owned windows with their minimised owner.
      if (wParam == SIZE_MINIMIZED && form_ != nullptr && IsWindowVisible(form_)) {
        hiddenByMinimise_ = true;
        ShowWindow(form_, SW_HIDE);
      } else if (wParam != SIZE_MINIMIZED && hiddenByMinimise_) {
        hiddenByMinimise_ = false;
        if (form_ != nullptr) ShowWindow(form_, SW_SHOW);
      }
      break;
    case WM_SETFOCUS:  // restored from the task bar: the window takes over
      if (form_ != nullptr && IsWindowVisible(form_) && IsWindowEnabled(form_)) {
        SetActiveWindow(form_);
      }
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

Toolkit& TheWin32Toolkit() { return gToolkit; }

}  // namespace platform
