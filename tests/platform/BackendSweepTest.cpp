// The real backends under failing system calls: for each scenario, every
// system call it makes fails in turn (tests/support/SystemCallFaults.h),
// and the seam's contract must hold all the same: an operation that
// reports failure says why with an error number, the backend holds nothing
// it got once the scenario has let go of what it opened, and nothing but
// what the scenario names is made or removed. Natively on the POSIX
// backend, under Wine on the Win32 one.
#include <errno.h>
#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "package/RemoveTree.h"
#include "platform/testing/ForwardingOs.h"
#include "tests/support/Sha256Of.h"
#include "tests/support/SystemCallFaults.h"
#include "tests/support/Sweep.h"
#include "tests/support/TestDrive.h"

namespace {

using platform::Op;
using testing_support::SystemCallFaults;
using testing_support::TestDrive;

// Passes every operation on to the real backend with the run resumed
// around it, so that only the backend's own system calls are counted and
// failed; checks each one that reports failure.
class ContractOs final : public platform::ForwardingOs<ContractOs> {
 public:
  ContractOs(TestDrive* drive, SystemCallFaults* faults) : ForwardingOs(&drive->backend()), faults_(faults) {}

  void Print(const char*) override {}  // the walk's diagnostics are not this test's

 private:
  friend class ForwardingOs<ContractOs>;

  template <typename Call, typename Failure, typename Arguments>
  auto Pass(Op op, Call call, Failure, const Arguments&) {
    const bool firedBefore = faults_->Fired();
    faults_->Resume();
    if constexpr (std::is_void_v<decltype(call())>) {
      call();
      faults_->Pause();
    } else {
      const auto result = call();
      faults_->Pause();
      if (result != 0) {
        // An error number, positive: not the -1 or a count of another
        // convention, and EEXIST from no call of these scenarios.
        const int error = result;
        EXPECT_TRUE(error > 0 && error != EEXIST) << platform::OpName(op) << " failed with " << error;
        // The system's error, or what the backend says when a check it
        // makes of its own cannot be made.
        const bool failedHere = !firedBefore && faults_->Fired();
        EXPECT_TRUE(!failedHere || error == testing_support::kInjectedError || error == ENOMEM ||
                    error == ENOTDIR || error == ENOENT)
            << platform::OpName(op) << " failed when " << faults_->FailedCall() << " did, and gave "
            << error;
      }
      return result;
    }
  }

  SystemCallFaults* faults_;
};

// Runs scenario(os, drive, faults) once per system call it makes, failing
// that call, then once without a failure; the backend must hold nothing
// afterwards. calls: how many system calls the scenario is known to make
// at least, on either backend.
template <typename Scenario>
void Sweep(uint64_t calls, Scenario scenario) {
  SystemCallFaults faults;
  testing_support::SweepPoints(calls, 3000, [&](uint64_t n) {
    TestDrive drive;
    ContractOs os(&drive, &faults);
    faults.Start(n);
    scenario(os, drive, faults);
    EXPECT_EQ(0, faults.Held()) << faults.FailedCall() << " made to fail: something is left held";
    return faults.Fired();
  });
}

// Makes path with text, written in two pieces; false at the first failure.
bool WriteFile(platform::Os& os, const std::string& path, const std::string& text) {
  platform::File file;
  if (os.OpenWrite(path.c_str(), &file) != 0) return false;
  const int32_t size = static_cast<int32_t>(text.size());
  const bool written = os.Write(file, text.data(), 10) == 0 && os.Write(file, &text[10], size - 10) == 0;
  os.Close(file);
  return written;
}

// Open, write, read, seek, copy with its digest and close, as the
// extraction and the package's check do: a file made anew, then again over
// itself.
TEST(BackendSweep, Files) {
  const std::string text = "the content of the file, written in two pieces";
  const int32_t size = static_cast<int32_t>(text.size());
  // 26 system calls natively, 29 on Win32.
  Sweep(26, [&](platform::Os& os, TestDrive& drive, const SystemCallFaults& faults) {
    const std::string path = drive.Path("f");
    const std::string copyPath = drive.Path("g");
    std::string read(text.size() + 1, '\0');
    unsigned char digest[32] = {};
    bool done = WriteFile(os, path, text) && WriteFile(os, path, text);
    platform::File file = nullptr;
    platform::File copy = nullptr;
    int32_t got = 0;
    int64_t position = -1;
    done = done && os.OpenRead(path.c_str(), &file) == 0 && os.OpenWrite(copyPath.c_str(), &copy) == 0 &&
           os.Read(file, &read[0], 4, &got) == 0 && got == 4 &&
           os.Seek(file, 2, platform::SeekFrom::kCurrent, &position) == 0 && position == 6 &&
           os.Seek(file, -4, platform::SeekFrom::kEnd, &position) == 0 && position == size - 4 &&
           os.DigestCopy(file, copy, digest) == 0 &&
           os.Seek(file, 0, platform::SeekFrom::kStart, &position) == 0 && position == 0 &&
           os.Read(file, &read[0], size + 1, &got) == 0 && got == size;
    if (copy != nullptr) os.Close(copy);
    if (file != nullptr) os.Close(file);
    if (!faults.Fired()) {
      EXPECT_TRUE(done);
      EXPECT_EQ(text, read.substr(0, text.size()));
      EXPECT_EQ(testing_support::Sha256Of(text), std::string(reinterpret_cast<char*>(digest), sizeof digest));
      EXPECT_EQ((std::vector<std::string>{"f=" + std::to_string(size), "g=" + std::to_string(size)}),
                drive.Tree());
    }
    for (const std::string& entry : drive.Tree()) {
      EXPECT_TRUE(entry.rfind("f=", 0) == 0 || entry.rfind("g=", 0) == 0) << entry;
    }
  });
}

// Make, enter, list and remove directories, a private one among them:
// what stays is exactly what was made and not removed.
TEST(BackendSweep, Directories) {
  // 17 system calls natively, 27 on Win32.
  Sweep(17, [&](platform::Os& os, TestDrive& drive, const SystemCallFaults& faults) {
    const std::string plain = drive.Path("d");
    const std::string mine = drive.Path("p");
    const bool made = os.MakeDirectory(plain.c_str()) == 0;
    const bool madePrivate = os.MakePrivateDirectory(mine.c_str()) == 0;
    bool removed = false;
    bool removedPrivate = false;
    bool listedAgain = false;
    bool queried = false;
    std::string current = "?";
    platform::Attributes attributes = {};
    if (made) {
      char buffer[300];
      if (os.ChangeDirectory(plain.c_str()) == 0 && os.CurrentDirectory(buffer, sizeof buffer) == 0) {
        current = buffer;
      }
      os.GetAttributes(plain.c_str(), &attributes);
      platform::Dir dir;
      if (os.OpenDirectory(plain.c_str(), &dir) == 0) {
        char name[platform::kMaxPath];
        while (os.NextEntry(dir, name, sizeof name) == 0 && name[0] != '\0') {
        }
        platform::DirectoryInfo info;
        if (os.RewindDirectory(dir) == 0 && os.NextEntry(dir, name, sizeof name) == 0 && name[0] != '\0') {
          listedAgain = true;
        }
        if (os.QueryDirectory(dir, &info) == 0) queried = !info.othersMayChange;
        os.CloseDirectory(dir);
      }
      os.ChangeDirectory(drive.Path("").c_str());
      removed = os.RemoveEmptyDirectory(plain.c_str()) == 0;
    }
    if (madePrivate) removedPrivate = os.RemoveEmptyDirectory(mine.c_str()) == 0;
    std::vector<std::string> left;
    if (made && !removed) left.push_back("d");
    if (madePrivate && !removedPrivate) left.push_back("p");
    EXPECT_EQ(left, drive.Tree());
    if (!faults.Fired()) {
      EXPECT_TRUE(removed && removedPrivate && listedAgain && queried);
      EXPECT_EQ(plain, current);
      EXPECT_TRUE(attributes.directory);
    }
  });
}

// The search for anything held and the removal of a small tree, as the
// clean-up walks it: nothing outside it changes, whatever fails.
TEST(BackendSweep, WalkAndRemovalOfATree) {
  // 60 system calls natively, 170 on Win32.
  Sweep(60, [&](platform::Os& os, TestDrive& drive, const SystemCallFaults& faults) {
    drive.MakeDirectories("tree/a/b");
    drive.MakeDirectories("outside");
    for (const char* file : {"tree/f1", "tree/a/f2", "tree/a/b/f3", "outside/kept"}) drive.WriteFile(file, "x");
    const std::vector<std::string> outside = drive.Tree("outside");
    const std::string tree = drive.Path("tree");
    platform::Os* previous = platform::SetOs(&os);
    TreeUse use = TreeUse::kUnknown;
    bool held = true;
    platform::Dir root = nullptr;
    if (os.InUse(tree.c_str(), &held) == 0 && !held && os.OpenDirectory(tree.c_str(), &root) == 0) {
      use = FindTreeUse(root, tree.c_str());
    }
    os.CloseDirectory(root);
    const int removed = RemoveTree(tree.c_str());
    platform::SetOs(previous);
    // Nothing holds it: a query that fails cannot tell, and never says busy.
    EXPECT_NE(TreeUse::kBusy, use);
    EXPECT_EQ(outside, drive.Tree("outside"));
    if (!faults.Fired()) {
      EXPECT_EQ(TreeUse::kFree, use);
      EXPECT_EQ(0, removed);
      EXPECT_EQ(std::vector<std::string>{}, drive.Tree("tree"));
    }
  });
}

// A launch that cannot start and a device probe, present and absent.
TEST(BackendSweep, LaunchAndDeviceProbe) {
  // 4 system calls on either backend.
  Sweep(4, [&](platform::Os& os, TestDrive& drive, const SystemCallFaults& faults) {
    const std::string device = drive.host().PresentDevice();
    EXPECT_NE(0, os.Launch(drive.Path("missing.exe").c_str()));
    const int present = os.OpenDevice(device.c_str());
    EXPECT_NE(0, os.OpenDevice((device + "-not-there").c_str()));
    if (!faults.Fired()) {
      EXPECT_EQ(0, present);
    }
  });
}

}  // namespace
