// Fails each platform call of one "Setup Now" in turn, until a run no fault
// reaches. Whatever fails: nothing leaks, nothing outside "c:\ZUV_tmp" is
// written or deleted, the setup program is launched only from a package
// unpacked whole, and the watch is armed after the pause unless the user
// was told that "c:\ZUV_tmp" cannot be had and the program ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/app/InstallerTestSupport.h"
#include "tools/secpack/SecFormat.h"

using platform::Op;

namespace {

const std::vector<secpack::FileEntry> kFiles = {
    {"Setup.exe", std::string(20000, 'S')}, {"drivers\\modem.sys", "driver"}, {"drivers\\inf\\modem.inf", ""}};

class InstallFaultSweep : public InstallerTest {
 public:
  void TestBody() override {}
  // One click with call n failed; false once no fault was reached.
  bool RunWithFault(uint64_t n) {
    StartIn("package");
    drive.WriteFile("package/data.sec", secpack::EncodeArchive({"drivers", "drivers\\inf"}, kFiles));
    drive.WriteFile("package/decoy.txt", "start directory");
    drive.WriteFile("decoy.txt", "drive root");
    // Left by an earlier run: removed first, which the sweep covers too.
    std::filesystem::create_directories(ExtractDirectory() + "/old");
    std::ofstream(ExtractDirectory() + "/old/Setup.exe") << "stale";
    const std::vector<std::string> before = Outside();
    CreateForm1();
    drive.os().ClearLog();
    drive.os().FailCall(n);

    Form1.Button1Click();

    EXPECT_EQ(0, drive.os().OpenFiles());
    EXPECT_EQ(0, drive.os().OpenDirectories());
    EXPECT_EQ(before, Outside()) << "something outside c:\\ZUV_tmp changed";
    const size_t launches = drive.os().CallsOf(Op::kLaunch).size();
    if (toolkit.terminateRequested) {
      // Refused at the claim: told once, nothing launched, nothing watched.
      EXPECT_EQ(1u, drive.os().Messages().size());
      EXPECT_EQ(0u, launches);
      EXPECT_FALSE(toolkit.timerEnabled);
      EXPECT_FALSE(drive.os().HoldsInstallLock());
    } else {
      EXPECT_EQ(1u, drive.os().CallsOf(Op::kSleep).size());
      EXPECT_TRUE(toolkit.timerEnabled);
    }
    EXPECT_LE(launches, 1u);
    if (launches == 1) {
      EXPECT_EQ((std::vector<std::string>{"Setup.exe=20000", "drivers", "drivers\\inf",
                                          "drivers\\inf\\modem.inf=0", "drivers\\modem.sys=6"}),
                ExtractedTree());
    }
    const bool reached = drive.os().FaultFired();
    if (!reached) {
      EXPECT_EQ(1u, launches);
    }
    return reached;
  }

 private:
  // The drive without the extraction directory (which is on it natively).
  std::vector<std::string> Outside() const {
    std::vector<std::string> tree = drive.Tree();
    tree.erase(std::remove_if(tree.begin(), tree.end(),
                              [](const std::string& entry) { return entry.rfind("ZUV_tmp", 0) == 0; }),
               tree.end());
    return tree;
  }
};

TEST(InstallFaults, EveryFailingCallOfSetupNowIsHandled) {
  uint64_t n = 1;
  for (; n < 400; ++n) {
    SCOPED_TRACE(n);
    InstallFaultSweep sweep;
    if (!sweep.RunWithFault(n)) break;
  }
  EXPECT_LT(n, 400u);
  printf("%llu calls failed in turn\n", static_cast<unsigned long long>(n - 1));
}

}  // namespace
