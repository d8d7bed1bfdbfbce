// The windowing toolkit: the application object with its message loop, the
// installer's one window with its controls and timer, and the exception
// display. Beside Os.h and like it: one portable interface, a plain Win32
// backend (win32/Win32Toolkit.cpp, Win32ToolkitMessages.cpp, Win32Fonts.cpp)
// and a headless one for tests (testing/HeadlessToolkit.h). No OS type
// crosses this header.
//
// The toolkit's exception is not a C++ exception (the product is built
// without them): a toolkit call that fails raises it by recording its
// message and returning false. So a bool result here is whether the call
// went through, and the reason travels as the exception's message, not as
// the OS seam's error numbers (Os.h). The caller gives up at once, as unwinding
// would, and the toolkit shows the message with the exception display as
// soon as the event handler that made the call returns; the loop goes on.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace platform {

struct FontDescription {
  const char* face;
  int32_t height;  // negative: character height in pixels at 96 DPI
  bool bold;
};

enum class ControlKind { kBevel, kLabel, kButton };

// Positions and sizes in pixels at 96 DPI, relative to the client area; the
// toolkit scales them to the monitor's DPI. Controls keep their positions
// when the window is resized.
struct ControlDescription {
  ControlKind kind;
  int32_t left;
  int32_t top;
  int32_t width;   // a label is sized to its text; these are its size with
  int32_t height;  // the described font, used when the text cannot be measured.
                   // A label placed inside a bevel stays inside its inner edge.
  const char* caption;          // nullptr for a bevel
  const FontDescription* font;  // nullptr: the window's font
};

// A periodic timer of the window, not visible; it starts disabled.
struct TimerDescription {
  uint32_t interval;  // milliseconds
};

// A sizeable window with system menu, minimise and maximise boxes, the
// system's button-face background, centred on the screen when first shown.
// A bevel is a lowered frame; a button is a plain push button (neither
// default nor cancel) and the only control that takes the keyboard focus.
struct FormDescription {
  const char* className;
  const char* caption;
  int32_t width;   // outer size, frame included, at 96 DPI
  int32_t height;
  FontDescription font;
  const ControlDescription* controls;
  int controlCount;
  TimerDescription timer;
};

// The window's event handlers, called on the window thread.
class FormEvents {
 public:
  // Once, after the window and its controls exist, before it is first shown.
  virtual void OnCreate() = 0;
  // The user closes the window while it is shown; afterwards it closes and
  // the loop ends. Not called when the loop ends through Terminate.
  virtual void OnClose() = 0;
  // A button was clicked: its index in FormDescription::controls.
  virtual void OnClick(int control) = 0;
  virtual void OnTimer() = 0;

 protected:
  ~FormEvents() = default;
};

// How the window is first shown, from the show state the process was
// started with (a ShowWindow value): 3 maximised, 7 minimised, every other
// value, 2 and 6 included, normally.
enum class ShowCommand { kNormal, kMaximized, kMinimized };
ShowCommand ShowCommandFor(int startShowState);

// The exception display's text: the message, and a full stop after it when
// it is not empty and the byte value of its last character is above that
// of ".". Cut to fit size (which must be at least 1).
void ExceptionText(const char* message, char* text, size_t size);

// The toolkit's messages. The second is this toolkit's own: a window that
// cannot be made is raised like any other failure of the toolkit, so the
// exception display shows it, and the entry still returns 0.
inline constexpr const char* kNoTimerMessage = "Not enough timers available";
inline constexpr const char* kNoWindowMessage = "Cannot create the installer window";

class Toolkit {
 public:
  // The application object: registers what the window needs. Raises on failure.
  virtual bool Initialize() = 0;
  // Creates the main window from the description (runs events->OnCreate).
  // The description and events must outlive the toolkit. Raises on failure.
  virtual bool CreateForm(const FormDescription& form, FormEvents* events) = 0;
  // Shows the main window as ShowCommandFor the start show state says,
  // centred on the screen, and runs the message loop until the window is
  // closed or Terminate is reached.
  virtual void Run() = 0;
  // Queues the end of the loop behind the messages already waiting.
  virtual void Terminate() = 0;
  // Hides the window and with it the program's task-bar entry.
  virtual void HideForm() = 0;
  // Enabling raises kNoTimerMessage when the system has no timer left.
  virtual bool SetTimerEnabled(bool enabled) = 0;
  // The installer's own messages to the user: a modal box with no icon, one
  // OK button and the application title as caption, in front of everything
  // (the window may be hidden by then); returns when the user dismisses it.
  virtual void ShowMessage(const char* text) = 0;
  // The exception display: a modal box with the stop icon, the application
  // title as caption and ExceptionText(message) as text.
  virtual void ShowException(const char* message) = 0;

  // Shows the raised exception, if any, with the exception display and
  // clears it. True when there was one.
  bool HandleException();

 protected:
  ~Toolkit() = default;
  // message: a text that lives as long as the program.
  void Raise(const char* message) { raised_ = message; }

 private:
  const char* raised_ = nullptr;
};

// The process-wide toolkit, installed by the host program (or a test)
// before the logic runs. SetToolkit returns the previous one.
Toolkit& GetToolkit();
Toolkit* SetToolkit(Toolkit* toolkit);

}  // namespace platform
