// The toolkit without a screen, for tests: it records what the program
// shows and lets a test act as the user (click, close) and as the system
// (timer ticks, a click that was queued before the window was hidden).
// Handlers run exactly as the real loop runs them: an exception they raise
// is shown with the exception display when they return.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/Toolkit.h"
#include "platform/testing/RecordingOs.h"

namespace platform {

class HeadlessToolkit final : public Toolkit {
 public:
  // One thing the program did to its window, and how many OS calls the
  // timeline (if set) had seen by then, to put both in one order.
  struct Event {
    std::string what;
    uint64_t osCalls;
  };

  // Set up by the test.
  int startShowState = 1;        // the show state the process was started with
  int timersLeft = 16;           // enabling the timer fails when none is left
  bool failCreate = false;
  // The program file; the application title comes from it by the real rule.
  std::string programFile = "C:\\Users\\me\\Downloads\\INSTALL.EXE";
  std::string Title() const;
  RecordingOs* timeline = nullptr;
  // What happens while Run's loop runs: the user's and the system's actions.
  std::function<void(HeadlessToolkit&)> whileRunning;

  // What the program did.
  std::vector<Event> events;     // "Initialize", "CreateForm", "Show normal", "Hide", ...
  const FormDescription* form = nullptr;
  bool visible = false;
  bool timerEnabled = false;
  uint32_t timerInterval = 0;
  bool terminateRequested = false;
  bool closed = false;
  struct Box {
    std::string caption;
    std::string text;
  };
  std::vector<Box> exceptionBoxes;  // shown by the exception display
  std::vector<std::string> messages;  // the texts of the installer's message boxes
  // Runs while a message is shown, as the box's nested loop would deliver
  // what was waiting (a queued click, say).
  std::function<void(const std::string& text)> whileMessageShown;
  std::vector<std::string> What() const;  // events without their times

  // The user: these work only on a shown window, and return false otherwise.
  bool Click(int control);
  bool Close();
  // The system.
  void DeliverQueuedClick(int control);  // whatever the window's state
  bool Tick();                           // only while the timer is enabled

  bool Initialize() override;
  bool CreateForm(const FormDescription& form, FormEvents* events) override;
  void Run() override;
  void Terminate() override;
  void HideForm() override;
  bool SetTimerEnabled(bool enabled) override;
  void ShowMessage(const char* text) override;
  void ShowException(const char* message) override;

 private:
  void Log(const std::string& what);
  bool LoopEnded() const { return closed || terminateRequested; }

  FormEvents* events_ = nullptr;
};

}  // namespace platform
