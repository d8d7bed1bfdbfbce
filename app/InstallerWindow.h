// The installer's one window and its handlers. The window is plain data
// (kInstallerWindowDescription); the toolkit draws it and calls the
// handlers through FormEvents.
#pragma once

#include <stdint.h>

#include "platform/Toolkit.h"

// The pause between launching the vendor's setup program and starting the
// device poll, and the poll's period.
inline constexpr uint32_t kSetupPause = 30000;
inline constexpr uint32_t kDevicePollInterval = 2000;

// The window's controls, each by its index in the description's controls.
enum WindowControl { kTitleFrame, kTitleLabel, kSetupNowButton, kWindowControlCount };

class InstallerWindow final : public platform::FormEvents {
 public:
  // The window's one timer, started by "Setup Now"; each tick polls for the
  // device.
  static constexpr platform::TimerDescription kDevicePoll = {kDevicePollInterval};

  // Records the start directory and starts the line monitor.
  void WindowCreated();
  void WindowClosed();
  // "Setup Now": the install sequence.
  void SetupNowClicked();
  // One tick of the device poll: ends the run once the driver's device opens.
  void PollDevice();

 private:
  void OnCreate() override { WindowCreated(); }
  void OnClose() override { WindowClosed(); }
  void OnClick(int control) override {
    if (control == kSetupNowButton) SetupNowClicked();
  }
  void OnTimer() override { PollDevice(); }
};

extern const platform::FormDescription kInstallerWindowDescription;

extern InstallerWindow gInstallerWindow;
