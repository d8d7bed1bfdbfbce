#include "platform/win32/Win32Toolkit.h"

#include <string.h>
#include <windows.h>

#include "platform/EntryName.h"
#include "platform/win32/Win32MessageBox.h"
#include "platform/win32/Win32Title.h"

namespace platform {
namespace {

constexpr int kBaseDpi = 96;
constexpr int kMaxControls = 8;
constexpr int kFirstControlId = 100;
constexpr UINT_PTR kTimerId = 1;
constexpr UINT kDpiChanged = 0x02E0;  // WM_DPICHANGED
constexpr UINT kReplace = WM_APP + 1;  // puts the window back where it was shown

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);

// What MulDiv gives for the sizes of a window and its fonts (a product far
// below 2^31, a positive divisor), rounded half away from zero as it
// rounds, without an import of its own in a program that counts its bytes.
int MulDivRounded(int value, int by, int divisor) {
  const int product = value * by;
  return (product + (product < 0 ? -divisor : divisor) / 2) / divisor;
}

int Scale(int value, int dpi) { return MulDivRounded(value, dpi, kBaseDpi); }

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
  if (GetTextExtentPoint32A(dc, text, static_cast<int>(strlen(text)), &size) && size.cx > 0 && size.cy > 0) {
    *width = size.cx;
    *height = size.cy;
  }
  SelectObject(dc, previous);
  ReleaseDC(control, dc);
}

// What the font mapper made of a request.
struct RealisedFont {
  TEXTMETRICA metrics;
  char face[LF_FACESIZE];
};

bool Realise(HFONT font, RealisedFont* realised) {
  HDC dc = GetDC(nullptr);
  if (dc == nullptr) return false;
  HGDIOBJ previous = SelectObject(dc, font);
  const bool ok = GetTextMetricsA(dc, &realised->metrics) &&
                  GetTextFaceA(dc, sizeof realised->face, realised->face) > 0;
  SelectObject(dc, previous);
  ReleaseDC(nullptr, dc);
  return ok;
}

// The asked height (negative: of the characters, as the description gives
// it; positive: of the cell) to a pixel, and the asked weight class.
bool HasSizeAndWeight(const TEXTMETRICA& metrics, int height, bool bold) {
  const int realised = height < 0 ? metrics.tmHeight - metrics.tmInternalLeading : metrics.tmHeight;
  const int asked = height < 0 ? -height : height;
  return realised - asked <= 1 && asked - realised <= 1 && (metrics.tmWeight >= FW_BOLD) == bold;
}

bool IsOutline(const TEXTMETRICA& metrics) { return (metrics.tmPitchAndFamily & TMPF_TRUETYPE) != 0; }

// Through CreateFontIndirectA, which the narrowing below needs anyway:
// one import fewer than CreateFontA. The defaults are the zeros.
HFONT CreateFace(const char* face, int height, int width, bool bold) {
  LOGFONTA logical;
  memset(&logical, 0, sizeof logical);
  logical.lfHeight = height;
  logical.lfWidth = width;
  logical.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  logical.lfCharSet = DEFAULT_CHARSET;
  for (size_t i = 0; i + 1 < sizeof logical.lfFaceName && face[i] != '\0'; ++i) {
    logical.lfFaceName[i] = face[i];
  }
  return CreateFontIndirectA(&logical);
}

// Face names compare without case. The ones asked for are ASCII; a face the
// mapper put in their place may not be, and then simply is another face.
bool SameFace(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const char x = LowerAscii(*a);
    const char y = LowerAscii(*b);
    if (x != y) return false;
    if (x == '\0') return true;
  }
}

// "MS Sans Serif" is a bitmap face, as on Windows: it exists only at the
// sizes it was drawn for, and a mapper that lacks it picks some other,
// often wider, face. Its outline twin, which Windows has shipped since
// 2000, and after it the system's outline dialog face, scale to any size.
const char* OutlineTwin(const char* face) {
  return SameFace(face, "MS Sans Serif") ? "Microsoft Sans Serif" : nullptr;
}
constexpr char kDialogFace[] = "MS Shell Dlg 2";

// The described face where the mapper realises it at the asked size and
// weight; otherwise its outline twin, then the dialog face, each taken only
// when what the mapper gives is an outline font of that size and weight.
// When none is, the dialog face as the mapper realises it.
HFONT ResolveFont(const char* face, int height, bool bold) {
  struct Candidate {
    const char* face;
    bool sameFace;  // the mapper must not have substituted another face
    bool outline;
  };
  const Candidate candidates[] = {
      {face, true, false}, {OutlineTwin(face), true, true}, {kDialogFace, false, true}};
  HFONT font = nullptr;
  for (const Candidate& candidate : candidates) {
    if (candidate.face == nullptr) continue;
    if (font != nullptr) DeleteObject(font);
    font = CreateFace(candidate.face, height, 0, bold);
    RealisedFont realised;
    if (font == nullptr || !Realise(font, &realised)) continue;
    if ((!candidate.sameFace || SameFace(realised.face, candidate.face)) &&
        (!candidate.outline || IsOutline(realised.metrics)) &&
        HasSizeAndWeight(realised.metrics, height, bold)) {
      break;
    }
  }
  return font;
}

// An outline font narrowed, its height kept, until text is at most limit
// pixels wide. The font itself when it fits or cannot be narrowed.
HFONT NarrowToFit(HWND control, HFONT font, const char* text, int limit) {
  int width = 0;
  int height = 0;
  MeasureText(control, font, text, &width, &height);
  RealisedFont realised;
  LOGFONTA logical;
  if (width <= limit || limit <= 0 || !Realise(font, &realised) || !IsOutline(realised.metrics) ||
      GetObjectA(font, sizeof logical, &logical) != sizeof logical) {
    return font;
  }
  // The average character width scales the glyphs across; the first guess
  // is proportional, and rounding may need a step or two more.
  logical.lfWidth = MulDivRounded(realised.metrics.tmAveCharWidth, limit, width);
  for (int step = 0; step < 8 && logical.lfWidth > 0; ++step, --logical.lfWidth) {
    HFONT narrowed = CreateFontIndirectA(&logical);
    if (narrowed == nullptr) break;
    MeasureText(control, narrowed, text, &width, &height);
    DeleteObject(font);
    font = narrowed;
    if (width <= limit) break;
  }
  return font;
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
  void ShowMessage(const char* text) override { ShowModalMessage(text, 0); }
  void ShowException(const char* message) override;

  LRESULT FormMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT TaskBarMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  bool Fail();
  bool RegisterWindowClass(const char* name, WNDPROC procedure);
  HFONT MakeFont(const FontDescription& font) const;
  void Layout(int dpi);
  int BevelInnerRight(int x, int y, int dpi) const;
  void DeleteFonts();
  HWND FocusControl() const;
  void ShowPlaced(int command);

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
  // Set while the window has just been shown and nothing has moved it yet.
  bool settling_ = false;
  RECT placed_ = {};
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
  return ResolveFont(font.face, Scale(font.height, dpi_), font.bold);
}

void Win32Toolkit::DeleteFonts() {
  for (HFONT& font : fonts_) {
    if (font != nullptr) DeleteObject(font);
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
      return right - GetSystemMetrics(SM_CXEDGE);
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
    SendMessageA(controls_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (control.kind == ControlKind::kLabel) MeasureText(controls_[i], font, control.caption, &width, &height);
    SetWindowPos(controls_[i], nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
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
      ShowPlaced(SW_SHOWNORMAL);
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

// A window manager may report an owned window, once it has framed it, at
// another place than where it is (icewm puts the client area of a window
// that is transient for another 19 px lower than it is drawn); the system
// takes the report as a move, and clicks then land off what is shown. The
// first move that comes from outside before the user has touched the window
// is that report: the window goes back to where it was shown, which the
// window manager then confirms. Later moves are the user's.
void Win32Toolkit::ShowPlaced(int command) {
  GetWindowRect(form_, &placed_);
  settling_ = true;
  ShowWindow(form_, command);
}

void Win32Toolkit::HideForm() {
  settling_ = false;
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
  if (form_ == nullptr || SetTimer(form_, kTimerId, description_->timer.interval, nullptr) == 0) {
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
    case WM_WINDOWPOSCHANGED: {
      const WINDOWPOS* position = reinterpret_cast<const WINDOWPOS*>(lParam);
      if (settling_ && (position->flags & SWP_NOMOVE) == 0 &&
          (position->x != placed_.left || position->y != placed_.top)) {
        settling_ = false;
        // Not from inside the report's own handling.
        PostMessageA(window, kReplace, 0, 0);
      }
      break;
    }
    case kReplace:
      SetWindowPos(window, nullptr, placed_.left, placed_.top, 0, 0,
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
        if (form_ != nullptr) ShowPlaced(SW_SHOW);
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
