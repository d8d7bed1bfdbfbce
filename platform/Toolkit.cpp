#include "platform/Toolkit.h"

#include "platform/ServiceSlot.h"
#include "platform/StandIns.h"

namespace platform {
namespace {

// The stand-in (StandIns.h): nothing can be created, so a missing
// SetToolkit shows up as the creation failure.
class NoToolkit final : public Toolkit {
 public:
  bool Initialize() override { return true; }
  bool CreateForm(const FormDescription&, FormEvents*) override {
    Raise(kNoWindowMessage);
    return false;
  }
  void Run() override {}
  void Terminate() override {}
  void HideForm() override {}
  bool SetTimerEnabled(bool) override { return false; }
  void ShowMessage(const char*) override {}
  void ShowException(const char*) override {}
};

NoToolkit gNoToolkit;
ServiceSlot<Toolkit> gToolkit;

}  // namespace

void InstallStandInToolkit() {
  if (gToolkit.Empty()) gToolkit.Set(&gNoToolkit);
}

ShowCommand ShowCommandFor(int startShowState) {
  switch (startShowState) {
    case 3:  // SW_SHOWMAXIMIZED
      return ShowCommand::kMaximized;
    case 7:  // SW_SHOWMINNOACTIVE
      return ShowCommand::kMinimized;
    default:
      return ShowCommand::kNormal;
  }
}

void ExceptionText(const char* message, char* text, size_t size) {
  if (size == 0) return;
  size_t length = 0;
  while (message[length] != '\0' && length + 1 < size) {
    text[length] = message[length];
    ++length;
  }
  // Compared as a byte value: characters above 127 get the full stop too.
  if (length > 0 && message[length] == '\0' && length + 1 < size &&
      static_cast<unsigned char>(text[length - 1]) > static_cast<unsigned char>('.')) {
    text[length++] = '.';
  }
  text[length] = '\0';
}

bool Toolkit::HandleException() {
  const char* message = raised_;
  if (message == nullptr) return false;
  raised_ = nullptr;
  ShowException(message);
  return true;
}

Toolkit& GetToolkit() { return gToolkit.Get(); }
Toolkit* SetToolkit(Toolkit* toolkit) { return gToolkit.Set(toolkit); }

}  // namespace platform
