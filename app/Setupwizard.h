// Module Setupwizard: the installer's one window, TForm1, and its handlers.
// The window is plain data (kForm1Description); the toolkit draws it and
// calls the handlers through FormEvents.
#pragma once

#include <stdint.h>

#include "platform/Toolkit.h"

// The pause between launching the vendor's setup program and arming the
// driver watch, and the watch's period.
inline constexpr uint32_t kSetupSettle = 30000;
inline constexpr uint32_t kOpenDriverTimerInterval = 2000;

// The controls of Form1, by their index in kForm1Description.
enum Form1Control { kBevel1, kLabel1, kButton1, kForm1ControlCount };

extern const platform::FormDescription kForm1Description;

class TForm1 final : public platform::FormEvents {
 public:
  // Records the start directory.
  void FormCreate();
  void FormClose();
  // "Setup Now": the install sequence.
  void Button1Click();
  void OpenDriverTimerTimer();

 private:
  void OnCreate() override { FormCreate(); }
  void OnClose() override { FormClose(); }
  void OnClick(int control) override {
    if (control == kButton1) Button1Click();
  }
  void OnTimer() override { OpenDriverTimerTimer(); }

  bool installStarted_ = false;
  // From unpacking until the clean-up: "c:\ZUV_tmp" holds this run's package.
  bool ownsExtractDirectory_ = false;
};

extern TForm1 Form1;
