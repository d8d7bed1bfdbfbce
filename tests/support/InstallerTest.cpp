#include "tests/support/InstallerTest.h"

#include <algorithm>
#include <filesystem>

InstallerHarness::InstallerHarness() {
  ResetInstaller();
  testing_support::ForceRemoveTree(ExtractDirectory());
  toolkit.timeline = &drive.os();
  previousToolkit_ = platform::SetToolkit(&toolkit);
}

InstallerHarness::~InstallerHarness() {
  platform::SetToolkit(previousToolkit_);
  testing_support::ForceRemoveTree(ExtractDirectory());
}

void InstallerHarness::ResetInstaller() {
  gInstallerState = InstallerState{};
  gInstallerWindow = InstallerWindow{};
}

std::vector<std::string> InstallerHarness::ExtractedTree() const {
  return testing_support::ListTree(ExtractDirectory());
}

void InstallerHarness::CreateInstallerWindow() {
  ASSERT_TRUE(toolkit.CreateForm(kInstallerWindowDescription, &gInstallerWindow));
  toolkit.events.clear();  // the tests look at what follows
}

void InstallerHarness::StartIn(const std::string& relative) {
  drive.MakeDirectories(relative);
  std::filesystem::current_path(drive.Native(relative));
}

std::vector<std::string> InstallerHarness::Timeline(const std::vector<platform::Op>& ops) {
  std::vector<std::string> result;
  const std::vector<platform::Call>& calls = drive.os().Calls();
  size_t next = 0;
  auto addCallsUpTo = [&](size_t end) {
    for (; next < end && next < calls.size(); ++next) {
      const platform::Call& call = calls[next];
      if (std::find(ops.begin(), ops.end(), call.op) == ops.end()) continue;
      std::string text = platform::OpName(call.op);
      if (call.op == platform::Op::kSleep) text += " " + std::to_string(call.value);
      else if (!call.path.empty()) text += " " + call.path;
      result.push_back(text);
    }
  };
  for (const auto& event : toolkit.events) {
    addCallsUpTo(event.osCalls);
    result.push_back(event.what);
  }
  addCallsUpTo(calls.size());
  return result;
}
