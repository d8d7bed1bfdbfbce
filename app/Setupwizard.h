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

class TForm1 final : public platform::FormEvents {
 public:
  // Form1's controls, each by its index in kForm1Description's controls.
  enum Control { Bevel1, Label1, Button1, ControlCount };
  // Form1's one timer, armed by Button1Click; it ticks OpenDriverTimerTimer.
  static constexpr platform::TimerDescription OpenDriverTimer = {kOpenDriverTimerInterval};

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
    if (control == Button1) Button1Click();
  }
  void OnTimer() override { OpenDriverTimerTimer(); }
};

// The control indexes for code outside the class.
enum Form1Control {
  kBevel1 = TForm1::Bevel1,
  kLabel1 = TForm1::Label1,
  kButton1 = TForm1::Button1,
  kForm1ControlCount = TForm1::ControlCount
};

extern const platform::FormDescription kForm1Description;

extern TForm1 Form1;
