// A test drive, the headless toolkit and a fresh installer window and
// InstallerState for each test of the installer's logic.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/InstallerState.h"
#include "app/InstallerWindow.h"
#include "platform/testing/HeadlessToolkit.h"
#include "tests/support/TestDrive.h"

// Also a plain object for the sweeps, which need a fresh one per run. Not
// copyable, as its drive is not.
class InstallerHarness {
 public:
  InstallerHarness();
  ~InstallerHarness();

  // The extraction directory "c:\ZUV_tmp" as a host path: inside the test
  // drive natively, the prefix's real one under Wine.
  std::string ExtractDirectory() const { return drive.ExtractDirectory(); }
  // A fresh window and InstallerState, as at the start of a run.
  static void ResetInstaller();
  // What it holds, as TestDrive::Tree lists it.
  std::vector<std::string> ExtractedTree() const;
  // Creates the window through the toolkit, which runs WindowCreated; the
  // toolkit's events start after it.
  void CreateInstallerWindow();
  // Makes a directory of the drive current, as a user starting the
  // installer there would.
  void StartIn(const std::string& relative);
  // The toolkit's events and the OS calls of the given kinds, in the order
  // they happened, as "Hide", "ChangeDirectory c:\x", "Sleep 30000", ...
  std::vector<std::string> Timeline(const std::vector<platform::Op>& ops);

  testing_support::TestDrive drive;
  platform::HeadlessToolkit toolkit;

 private:
  platform::Toolkit* previousToolkit_;
};

class InstallerTest : public ::testing::Test, public InstallerHarness {};
