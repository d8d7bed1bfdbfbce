// Internals of the Win32 toolkit that its files share: the toolkit object,
// made and laid out in Win32Toolkit.cpp, whose windows' messages
// Win32ToolkitMessages.cpp handles.
#pragma once

#include <windows.h>

#include "platform/Toolkit.h"
#include "platform/win32/Win32MessageBox.h"

namespace platform {

constexpr int kBaseDpi = 96;
constexpr int kMaxControls = 8;
constexpr int kFirstControlId = 100;
constexpr UINT_PTR kTimerId = 1;
constexpr UINT kDpiChanged = 0x02E0;  // WM_DPICHANGED
constexpr UINT kReplace = WM_APP + 1;  // puts the window back where it was shown

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK TaskBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

class Win32Toolkit final : public Toolkit {
 public:
  bool Initialize() override;
  bool CreateForm(const FormDescription& form, FormEvents* events) override;
  void Run() override;
  void Terminate() override { osPostQuitMessage(0); }
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
};

// The process's one toolkit (TheWin32Toolkit).
extern Win32Toolkit gToolkit;

}  // namespace platform
