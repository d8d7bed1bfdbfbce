#include "tests/app/InstallerTestSupport.h"

#include <algorithm>
#include <filesystem>

InstallerTest::InstallerTest() {
  gInstallerState = InstallerState{};
  Form1 = TForm1{};
  testing_support::ForceRemoveTree(ExtractDirectory());
  toolkit.timeline = &drive.os();
  previousToolkit_ = platform::SetToolkit(&toolkit);
}

InstallerTest::~InstallerTest() {
  platform::SetToolkit(previousToolkit_);
  testing_support::ForceRemoveTree(ExtractDirectory());
}

std::string InstallerTest::ExtractDirectory() const {
#ifdef _WIN32
  return "c:\\ZUV_tmp";
#else
  return drive.Native("ZUV_tmp");
#endif
}

std::vector<std::string> InstallerTest::ExtractedTree() const {
  std::vector<std::string> tree;
  const std::filesystem::path root = ExtractDirectory();
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(root, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    std::string name = it->path().lexically_relative(root).string();
    std::replace(name.begin(), name.end(), '/', '\\');
    tree.push_back(it->is_directory() ? name : name + "=" + std::to_string(it->file_size()));
  }
  std::sort(tree.begin(), tree.end());
  return tree;
}

void InstallerTest::CreateForm1() {
  ASSERT_TRUE(toolkit.CreateForm(kForm1Description, &Form1));
  toolkit.events.clear();  // the tests look at what follows
}

void InstallerTest::StartIn(const std::string& relative) {
  drive.MakeDirectories(relative);
  std::filesystem::current_path(drive.Native(relative));
}

std::vector<std::string> InstallerTest::Timeline(const std::vector<platform::Op>& ops) {
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
