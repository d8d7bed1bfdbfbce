#include "platform/testing/HeadlessToolkit.h"

#include <ctype.h>

#include "platform/Os.h"
#include "platform/Title.h"

namespace platform {

std::string HeadlessToolkit::Title() const {
  char title[kMaxPath];
  // The C library's mapping stands in for the system's: the same on ASCII.
  ApplicationTitleOf(programFile.c_str(), title, sizeof title, [](char* text) {
    for (; *text != '\0'; ++text) *text = static_cast<char>(tolower(static_cast<unsigned char>(*text)));
  });
  return title;
}

std::vector<std::string> HeadlessToolkit::What() const {
  std::vector<std::string> result;
  for (const Event& event : events) result.push_back(event.what);
  return result;
}

void HeadlessToolkit::Log(const std::string& what) {
  events.push_back(Event{what, timeline != nullptr ? timeline->CallCount() : 0});
}

bool HeadlessToolkit::Initialize() {
  Log("Initialize");
  return true;
}

bool HeadlessToolkit::CreateForm(const FormDescription& description, FormEvents* handlers) {
  Log("CreateForm");
  if (failCreate) {
    Raise(kNoWindowMessage);
    return false;
  }
  form = &description;
  events_ = handlers;
  timerInterval = description.timer.interval;
  events_->OnCreate();
  HandleException();
  return true;
}

void HeadlessToolkit::Run() {
  if (events_ == nullptr) return;
  static const char* const kShown[] = {"Show normal", "Show maximized", "Show minimized"};
  Log(kShown[static_cast<int>(ShowCommandFor(startShowState))]);
  visible = true;
  if (whileRunning) whileRunning(*this);
  Log(closed ? "Loop ended by close" : terminateRequested ? "Loop ended by terminate" : "Loop left running");
}

void HeadlessToolkit::Terminate() {
  Log("Terminate");
  terminateRequested = true;
}

void HeadlessToolkit::HideForm() {
  Log("Hide");
  visible = false;
}

bool HeadlessToolkit::SetTimerEnabled(bool enabled) {
  if (enabled && !timerEnabled) {
    if (timersLeft <= 0) {
      Log("Timer failed");
      Raise(kNoTimerMessage);
      return false;
    }
    --timersLeft;
  } else if (!enabled && timerEnabled) {
    ++timersLeft;
  }
  Log(enabled ? "Timer on" : "Timer off");
  timerEnabled = enabled;
  return true;
}

void HeadlessToolkit::ShowMessage(const char* text) {
  Log(std::string("ShowMessage ") + text);
  messages.push_back(text);
  if (whileMessageShown) whileMessageShown(text);
}

void HeadlessToolkit::ShowException(const char* message) {
  char text[512];
  ExceptionText(message, text, sizeof text);
  Log(std::string("Exception: ") + text);
  exceptionBoxes.push_back(Box{Title(), text});
}

bool HeadlessToolkit::Click(int control) {
  if (!visible || LoopEnded()) return false;
  DeliverQueuedClick(control);
  return true;
}

void HeadlessToolkit::DeliverQueuedClick(int control) {
  if (events_ == nullptr) return;
  events_->OnClick(control);
  HandleException();
}

bool HeadlessToolkit::Close() {
  if (!visible || LoopEnded()) return false;
  events_->OnClose();
  HandleException();
  Log("Closed");
  visible = false;
  closed = true;
  return true;
}

bool HeadlessToolkit::Tick() {
  if (!timerEnabled || LoopEnded()) return false;
  events_->OnTimer();
  HandleException();
  return true;
}

}  // namespace platform
