#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/ExtractDirectory.h"
#include "package/RemoveTree.h"
#include "tests/support/HostLinks.h"
#include "tests/support/Sweep.h"
#include "tests/support/TestDrive.h"

namespace fs = std::filesystem;
using platform::Op;
using testing_support::ForceRemoveTree;
using testing_support::HostCleanup;
using testing_support::MakeDirectoryLink;
using testing_support::RemoveFromHost;
using testing_support::SwapForLink;
using testing_support::TestDrive;

namespace {

// Files at every level of a tree three directories deep, and a sibling
// directory, below base (relative to the drive).
void MakeThreeLevels(const TestDrive& drive, const std::string& base) {
  drive.MakeDirectories(base + "\\a\\b\\c");
  drive.MakeDirectories(base + "\\d");
  for (const char* level : {"", "\\a", "\\a\\b", "\\a\\b\\c", "\\d"}) {
    // "+f4" sorts before "." and "..", which the walk skips by name.
    for (const char* name : {"f1.txt", "f2.bin", "f3", "+f4"}) {
      drive.WriteFile(base + level + "\\" + name, "content");
    }
  }
}

// A tree whose root holds ten files and two plain sub-directories, and
// decoys with the root's names beside it: a walk that ends up one level
// too high deletes decoys.
void MakeTreeWithDecoys(const TestDrive& drive) {
  for (const char* prefix : {"ZUV_tmp\\", ""}) {
    drive.MakeDirectories(std::string(prefix) + "a");
    drive.MakeDirectories(std::string(prefix) + "b");
    for (int i = 0; i < 10; ++i) drive.WriteFile(prefix + std::string("f") + std::to_string(i), "x");
    drive.WriteFile(prefix + std::string("a\\in-a"), "x");
    drive.WriteFile(prefix + std::string("b\\in-b"), "x");
  }
}

// Everything on the drive outside the tree "ZUV_tmp".
std::vector<std::string> Outside(const std::vector<std::string>& tree) {
  return testing_support::Without(tree, "ZUV_tmp");
}

size_t CountOf(const platform::RecordingOs& os, Op op) { return os.CallsOf(op).size(); }

// The calls made after the first failed one.
std::vector<platform::Call> CallsAfterFailure(const platform::RecordingOs& os) {
  const auto& calls = os.Calls();
  auto failed = std::find_if(calls.begin(), calls.end(), [](const platform::Call& c) { return c.failed; });
  return failed == calls.end() ? std::vector<platform::Call>{}
                               : std::vector<platform::Call>(failed + 1, calls.end());
}

// Whether the walk opened or entered a path or name containing fragment.
bool WalkedInto(const platform::RecordingOs& os, const std::string& fragment) {
  for (const platform::Call& call : os.Calls()) {
    if ((call.op == Op::kOpenDirectory || call.op == Op::kOpenSubdirectory ||
         call.op == Op::kChangeDirectory) &&
        call.path.find(fragment) != std::string::npos) {
      return true;
    }
  }
  return false;
}

void MakeReadOnly(const TestDrive& drive, const std::string& relative) {
  fs::permissions(drive.Native(relative),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

// CleanUpTempDir works on the fixed "c:\ZUV_tmp"; on Windows that is the
// prefix's real one, so these tests hold a ctest resource lock.
class CleanUpTempDirTest : public ::testing::Test {
 protected:
  void SetUp() override { ForceRemoveTree(drive.ExtractDirectory()); }
  void TearDown() override { ForceRemoveTree(drive.ExtractDirectory()); }

  TestDrive drive;
  const std::string kTemp = drive.ExtractRelative();
};

TEST_F(CleanUpTempDirTest, RemovesThreeLevelsRootIncludedAndAgainHarmlessly) {
  MakeThreeLevels(drive, kTemp);
  drive.os().ClearLog();
  CleanUpTempDir();
  EXPECT_FALSE(drive.Exists(kTemp));
  EXPECT_EQ("c:\\", drive.CurrentDirectory());
  EXPECT_EQ("", drive.os().Output());
  EXPECT_EQ(0, drive.os().OpenDirectories());

  // The second call finds nothing and shows nothing.
  CleanUpTempDir();
  EXPECT_FALSE(drive.Exists(kTemp));
  EXPECT_EQ("c:\\", drive.CurrentDirectory());
  EXPECT_EQ("", drive.os().Output());
}

TEST_F(CleanUpTempDirTest, EmptyDirectoryIsRemovedMissingOneLeavesDriveRootCurrent) {
  drive.MakeDirectories(kTemp);
  drive.WriteFile("unrelated", "x");
  CleanUpTempDir();
  EXPECT_FALSE(drive.Exists(kTemp));
  EXPECT_EQ("c:\\", drive.CurrentDirectory());

  // Start from elsewhere, so that "c:\\" afterwards is the clean-up's doing.
  drive.MakeDirectories("elsewhere");
  ASSERT_EQ(0, drive.backend().ChangeDirectory(drive.Path("elsewhere").c_str()));
  const auto before = drive.Tree();
  drive.os().ClearLog();
  CleanUpTempDir();
  EXPECT_EQ("c:\\", drive.CurrentDirectory());
  EXPECT_EQ("", drive.os().Output());
  EXPECT_EQ(before, drive.Tree());
  EXPECT_EQ(0u, CountOf(drive.os(), Op::kRemoveFileAt));
}

// A read-only file cannot be deleted, not even by root on the POSIX
// backend: it and every directory above it stay, everything else goes.
TEST_F(CleanUpTempDirTest, ReadOnlyFileKeepsItselfAndItsDirectories) {
  MakeThreeLevels(drive, kTemp);
  const std::string kept = kTemp + "\\a\\b\\kept.txt";
  drive.WriteFile(kept, "keep");
  MakeReadOnly(drive, kept);
  CleanUpTempDir();
  EXPECT_EQ((std::vector<std::string>{"a", "a\\b", "a\\b\\kept.txt=4"}), drive.Tree(kTemp));
  EXPECT_EQ("c:\\", drive.CurrentDirectory());
}

class RemoveTreeTest : public ::testing::Test {
 protected:
  std::string Root() const { return drive.Path("ZUV_tmp"); }

  TestDrive drive;
  HostCleanup cleanup{drive};
};

TEST_F(RemoveTreeTest, LinksAreRemovedNeverFollowed) {
  drive.MakeDirectories("outside\\inner");
  for (const char* name : {"outside\\one", "outside\\two", "outside\\inner\\three"}) {
    drive.WriteFile(name, "precious");
  }
  MakeThreeLevels(drive, "ZUV_tmp");
  if (!MakeDirectoryLink(drive, "ZUV_tmp\\dirlink", "outside") ||
      !MakeDirectoryLink(drive, "ZUV_tmp\\a\\b\\deeplink", "outside\\inner")) {
    GTEST_SKIP() << "cannot make directory links here";
  }
  if (drive.host().makesFileLinks) {
    fs::create_symlink(drive.Native("outside/one"), drive.Native("ZUV_tmp/a/filelink"));
    fs::create_symlink(drive.Native("nowhere"), drive.Native("ZUV_tmp/a/dangling"));
  }
  const auto before = drive.Tree();

  EXPECT_EQ(0, RemoveTree(Root().c_str()));
  EXPECT_EQ(Outside(before), Outside(drive.Tree()));
  EXPECT_FALSE(WalkedInto(drive.os(), "link"));
  EXPECT_EQ(0, drive.os().OpenDirectories());
  // The link itself is removed; where the backend cannot remove a link
  // (Wine), the attempt on the link itself shows.
  bool removedLink = false;
  for (const auto& call : drive.os().CallsOf(Op::kRemoveEmptyDirectoryAt)) {
    removedLink = removedLink || call.path == "dirlink";
  }
  EXPECT_TRUE(removedLink);
  if (drive.host().removesLinks) {
    EXPECT_EQ(std::vector<std::string>{}, drive.Tree("ZUV_tmp"));
  }

  // A root that is itself a link is not walked at all.
  ASSERT_TRUE(MakeDirectoryLink(drive, "rootlink", "outside"));
  const auto withRootLink = drive.Tree();
  drive.os().ClearLog();
  EXPECT_EQ(-1, RemoveTree(drive.Path("rootlink").c_str()));
  EXPECT_EQ(withRootLink, drive.Tree());
  EXPECT_EQ(0u, CountOf(drive.os(), Op::kChangeDirectory));
  EXPECT_EQ(0, drive.os().OpenDirectories());
}

// A root that can be held but not entered, or where what became current
// cannot be shown to be the directory held: nothing is deleted, and the
// current directory is left where it was or at the root.
TEST_F(RemoveTreeTest, UnenterableRootIsLeftAndNothingElsewhereDeleted) {
  MakeTreeWithDecoys(drive);
  const auto before = drive.Tree();
  const std::string current = drive.CurrentDirectory();
  for (const Op op : {Op::kChangeDirectory, Op::kQueryDirectory}) {
    SCOPED_TRACE(platform::OpName(op));
    drive.os().ClearLog();
    drive.os().ClearFaults();
    drive.os().FailCall(op, op == Op::kQueryDirectory ? 2 : 1);  // the entered one's
    EXPECT_EQ(-1, RemoveTree(Root().c_str()));
    EXPECT_EQ(before, drive.Tree());
    EXPECT_EQ(0u, CountOf(drive.os(), Op::kRemoveFileAt));
    EXPECT_EQ(0u, CountOf(drive.os(), Op::kRemoveEmptyDirectoryAt));
    EXPECT_EQ(0, drive.os().OpenDirectories());
    const std::string now = drive.CurrentDirectory();
    EXPECT_TRUE(now == current || now == Root()) << now;
  }
}

// Once the root is held and entered, nothing is reached by a path any
// more: every open, query and deletion goes through a held directory, and
// the current directory is never changed again.
TEST_F(RemoveTreeTest, BelowTheHeldRootEverythingIsReachedThroughHeldDirectories) {
  MakeTreeWithDecoys(drive);
  MakeThreeLevels(drive, "ZUV_tmp\\deep");
  const auto before = drive.Tree();
  EXPECT_EQ(0, RemoveTree(Root().c_str()));
  const std::vector<Op> ops = drive.os().Ops();
  // Held, entered by its path, and what became current checked to be it.
  const std::vector<Op> entering = {Op::kOpenDirectory,  Op::kQueryDirectory, Op::kChangeDirectory,
                                    Op::kOpenDirectory,  Op::kQueryDirectory, Op::kCloseDirectory};
  ASSERT_GE(ops.size(), entering.size());
  EXPECT_EQ(entering, std::vector<Op>(ops.begin(), ops.begin() + entering.size()));
  for (size_t i = entering.size(); i < ops.size(); ++i) {
    const Op op = ops[i];
    EXPECT_TRUE(op == Op::kNextEntry || op == Op::kGetAttributesAt || op == Op::kOpenSubdirectory ||
                op == Op::kQueryDirectory ||
                op == Op::kRemoveFileAt || op == Op::kRemoveEmptyDirectoryAt ||
                op == Op::kCloseDirectory)
        << i << ": " << platform::OpName(op) << " " << drive.os().Calls()[i].path;
  }
  EXPECT_EQ(std::vector<std::string>{}, drive.Tree("ZUV_tmp"));
  EXPECT_EQ(Outside(before), Outside(drive.Tree()));
  EXPECT_EQ(Root(), drive.CurrentDirectory());
}

// A sub-directory that cannot be opened is left, and its parent goes on.
TEST_F(RemoveTreeTest, UnopenableDirectoryIsLeftAndParentCarriesOn) {
  MakeTreeWithDecoys(drive);
  const auto before = drive.Tree();
  drive.os().FailCall(Op::kOpenSubdirectory, 1);
  EXPECT_EQ(0, RemoveTree(Root().c_str()));
  const std::string name = drive.os().CallsOf(Op::kOpenSubdirectory)[0].path;
  EXPECT_EQ((std::vector<std::string>{name, name + "\\in-" + name + "=1"}), drive.Tree("ZUV_tmp"));
  EXPECT_EQ(Outside(before), Outside(drive.Tree()));
  size_t removedAfter = 0;
  for (const auto& call : CallsAfterFailure(drive.os())) removedAfter += call.op == Op::kRemoveFileAt;
  EXPECT_GT(removedAfter, 0u) << "the parent goes on with its next entry";
  EXPECT_EQ(Root(), drive.CurrentDirectory());
  EXPECT_EQ(0, drive.os().OpenDirectories());

  // One that cannot be opened but is empty (or became a link) goes.
  drive.Remove("ZUV_tmp");
  drive.MakeDirectories("ZUV_tmp\\empty");
  drive.os().ClearLog();
  drive.os().FailCall(Op::kOpenSubdirectory, 1);
  EXPECT_EQ(0, RemoveTree(Root().c_str()));
  EXPECT_EQ(std::vector<std::string>{}, drive.Tree("ZUV_tmp"));
}

TEST_F(RemoveTreeTest, AttributeFailureStopsItsLevelWithDiagnostic) {
  MakeTreeWithDecoys(drive);
  drive.os().FailCall(Op::kGetAttributesAt, 1);  // the first entry
  EXPECT_EQ(-1, RemoveTree(Root().c_str()));
  const std::string first = drive.os().CallsOf(Op::kNextEntry)[0].path;
  EXPECT_EQ("stat fail \"" + first + "\" : 5\n", drive.os().Output());  // EIO, as injected
  EXPECT_EQ(0u, CountOf(drive.os(), Op::kRemoveFileAt));
  EXPECT_EQ(Root(), drive.CurrentDirectory());
  EXPECT_EQ(0, drive.os().OpenDirectories());
}

// Whose tree it is decides how far the removal goes: a root that others
// may change is not emptied at all; below it, only directories of the
// root's owner are entered (in a tree of the Administrators, SYSTEM's
// too), and one of another owner stays with everything in it. Owners and
// ACLs are played through the double; the files are real.
TEST_F(RemoveTreeTest, OnlyWhatTheRootsOwnerCouldHaveEmptiedIsEmptied) {
  const platform::OwnerKind kAdmins = platform::OwnerKind::kAdministrators;
  const platform::OwnerKind kSystem = platform::OwnerKind::kSystem;
  const platform::OwnerKind kOther = platform::OwnerKind::kOther;
  const struct {
    const char* what;
    platform::OwnerKind root, sub;
    bool rootOpen;  // others may change the root
    std::vector<std::string> left;
  } cases[] = {
      {"the user's own tree", kOther, kOther, false, {}},
      {"others may change the root", kOther, kOther, true, {"a", "a\\in-a=1", "top=1"}},
      {"a sub-directory of another owner", kOther, kAdmins, false, {"a", "a\\in-a=1"}},
      {"SYSTEM's in the Administrators' tree", kAdmins, kSystem, false, {}},
      {"SYSTEM's in a user's tree", kOther, kSystem, false, {"a", "a\\in-a=1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    drive.MakeDirectories("ZUV_tmp\\a");
    drive.WriteFile("ZUV_tmp\\a\\in-a", "x");
    drive.WriteFile("ZUV_tmp\\top", "x");
    drive.os().directoryInfo = [&](const std::string& path, platform::DirectoryInfo* info) {
      const bool root = path == Root();
      info->ownerKind = root ? c.root : c.sub;
      info->owner[0] = static_cast<unsigned char>(info->ownerKind);  // owners differ as kinds do
      info->othersMayChange = root && c.rootOpen;
    };
    RemoveTree(Root().c_str());
    EXPECT_EQ(c.left, drive.Tree("ZUV_tmp"));
    drive.os().directoryInfo = nullptr;
    drive.Remove("ZUV_tmp");
  }
}

// The search for anything held fails closed: an entry whose attributes or
// in-use probe fail, or a listing that fails, is not known to be free; it
// does not end the search, which still finds a held entry after it.
TEST_F(RemoveTreeTest, TheSearchCountsWhatItCannotExamineAsHeld) {
  drive.MakeDirectories("ZUV_tmp\\d");
  drive.WriteFile("ZUV_tmp\\d\\f", "x");
  for (const char* name : {"f1", "f2", "f3"}) drive.WriteFile(std::string("ZUV_tmp\\") + name, "x");
  const std::vector<std::string> tree = drive.Tree("ZUV_tmp");
  const struct {
    Op op;
    uint64_t nth;
  } failures[] = {{Op::kGetAttributesAt, 3}, {Op::kInUseAt, 1}, {Op::kNextEntry, 1}};
  for (const auto& failure : failures) {
    for (bool held : {false, true}) {
      SCOPED_TRACE(std::string(platform::OpName(failure.op)) + (held ? ", then a held one" : ""));
      drive.os().ClearLog();
      drive.os().ClearFaults();
      drive.os().FailCall(failure.op, failure.nth);
      // Everything held but what failed: what comes after the failure is.
      drive.os().busy.clear();
      if (held) {
        for (const char* name : {"\\d", "\\d\\f", "\\f1", "\\f2", "\\f3"}) {
          drive.os().busy.insert(Root() + name);
        }
      }
      platform::Dir root;
      drive.os().OpenDirectory(Root().c_str(), &root);
      const bool listingFails = failure.op == Op::kNextEntry;
      const TreeUse use = FindTreeUse(root, Root().c_str());
      drive.os().CloseDirectory(root);
      EXPECT_EQ(held && !listingFails ? TreeUse::kBusy : TreeUse::kUnknown, use);
      EXPECT_EQ(tree, drive.Tree("ZUV_tmp"));
    }
  }
  drive.os().busy.clear();

  // A sub-directory whose own probe fails, or that cannot be opened, is
  // not known to be free either.
  drive.Remove("ZUV_tmp");
  drive.MakeDirectories("ZUV_tmp\\d");
  drive.WriteFile("ZUV_tmp\\d\\f", "x");
  for (const Op op : {Op::kInUseAt, Op::kOpenSubdirectory}) {
    SCOPED_TRACE(platform::OpName(op));
    drive.os().ClearLog();
    drive.os().ClearFaults();
    drive.os().FailCall(op, 1);
    platform::Dir root;
    drive.os().OpenDirectory(Root().c_str(), &root);
    EXPECT_EQ(TreeUse::kUnknown, FindTreeUse(root, Root().c_str()));
    drive.os().CloseDirectory(root);
  }
}

// Child paths of 255 characters fit the 256-byte buffer; one more does not,
// and that entry stays while the walk goes on.
TEST_F(RemoveTreeTest, ChildPathPast255CharactersIsLeftInPlace) {
  const std::string deep = "ZUV_tmp\\" + std::string(100, 'd');
  const size_t deepPathLength = drive.Path(deep).size();
  const std::string fits = std::string(254 - deepPathLength, 'n');
  const std::string tooLong = fits + "x";
  ASSERT_EQ(255u, drive.Path(deep + "\\" + fits).size());
  drive.MakeDirectories(deep + "\\" + fits);
  drive.MakeDirectories(deep + "\\" + tooLong);
  drive.WriteFile(deep + "\\" + fits + "\\f", "x");
  drive.WriteFile(deep + "\\" + tooLong + "\\f", "x");
  drive.WriteFile(deep + "\\sibling", "x");
  drive.WriteFile("ZUV_tmp\\top", "x");

  EXPECT_EQ(0, RemoveTree(Root().c_str()));
  const std::string kept = std::string(100, 'd');
  EXPECT_EQ((std::vector<std::string>{kept, kept + "\\" + tooLong, kept + "\\" + tooLong + "\\f=1"}),
            drive.Tree("ZUV_tmp"));
  EXPECT_EQ(drive.Path(deep) + "\\" + tooLong + ": path too long, left in place\n",
            drive.os().Output());
}

// Names a bare-name call would not reach as themselves: Windows drops
// trailing dots and spaces ("..." and ".. " name the directory or its
// parent), and a POSIX name with a backslash or a drive colon maps to
// another path.
TEST_F(RemoveTreeTest, NamesThatWouldReachElsewhereAreLeftInPlace) {
  MakeTreeWithDecoys(drive);
  drive.WriteFile("victim", "precious");
  drive.MakeDirectories("victimdir");
  drive.WriteFile("victimdir\\file", "precious");
  const std::vector<std::string> odd = drive.host().MakeNamesThatReachElsewhere(drive.Native("ZUV_tmp"));
  EXPECT_EQ(0, RemoveTree(Root().c_str()));
  // Not a listing of the whole drive: under Wine "..." lists itself.
  std::vector<std::string> decoys = {"victim", "victimdir\\file", "a\\in-a", "b\\in-b"};
  for (int i = 0; i < 10; ++i) decoys.push_back("f" + std::to_string(i));
  for (const std::string& decoy : decoys) EXPECT_TRUE(drive.Exists(decoy)) << decoy;
  EXPECT_FALSE(drive.Exists("ZUV_tmp\\a"));
  for (const std::string& name : odd) {
    EXPECT_NE(std::string::npos,
              drive.os().Output().find(Root() + "\\" + name + ": name not usable, left in place\n"))
        << name;
  }
  EXPECT_EQ(0, drive.os().OpenDirectories());
}

// Fails each call of one removal in turn, until a run completes without a
// fault: no crash, no enumeration left open, nothing outside the tree
// touched, and a clean second run still removes everything.
TEST(RemoveTreeFaults, EveryFailingCallIsSafe) {
  // The platform calls of this removal: 162 natively, 159 under Wine
  // (no link in the tree).
  testing_support::SweepPoints(155, 1000, [](uint64_t n) {
    TestDrive drive;
    MakeTreeWithDecoys(drive);
    MakeThreeLevels(drive, "ZUV_tmp\\deep");
    drive.MakeDirectories("outside");
    drive.WriteFile("outside\\one", "precious");
    // A link, where the clean run can remove it.
    if (drive.host().removesLinks) {
      EXPECT_TRUE(MakeDirectoryLink(drive, "ZUV_tmp\\deep\\a\\link", "outside"));
    }
    const auto before = drive.Tree();
    const std::string root = drive.Path("ZUV_tmp");
    drive.os().FailCall(n);
    RemoveTree(root.c_str());
    EXPECT_EQ(0, drive.os().OpenDirectories());
    EXPECT_EQ(Outside(before), Outside(drive.Tree()));
    const bool fired = drive.os().FaultFired();

    drive.os().ClearFaults();
    EXPECT_EQ(0, RemoveTree(root.c_str()));
    drive.backend().ChangeDirectory(drive.Path("").c_str());
    drive.backend().RemoveEmptyDirectory(root.c_str());
    EXPECT_FALSE(drive.Exists("ZUV_tmp"));
    return fired && !::testing::Test::HasFailure();
  });
}

// A planted tree two levels deep, and outside it a directory holding every
// name the tree holds: whatever a walk led astray deletes by bare name, it
// finds there.
const char* const kPlantedDirectories[] = {"a", "b", "a\\c"};
void MakePlantedTree(const TestDrive& drive, const std::string& base) {
  for (const std::string& root : {base, std::string("outside")}) {
    for (const char* directory : kPlantedDirectories) drive.MakeDirectories(root + "\\" + directory);
    for (const char* level : {"", "\\a", "\\b", "\\a\\c"}) {
      for (const char* name : {"f1", "f2", "a", "b", "c"}) {
        if (!drive.Exists(root + level + "\\" + name)) drive.WriteFile(root + level + "\\" + name, "x");
      }
    }
  }
}

// Whether the walk holds the directory known as openName: the root, or a
// sub-directory, once opened.
bool Held(const platform::RecordingOs& os, const std::string& openName) {
  for (const platform::Call& call : os.Calls()) {
    if ((call.op == Op::kOpenDirectory || call.op == Op::kOpenSubdirectory) && !call.failed &&
        call.path == openName) {
      return true;
    }
  }
  return false;
}

// Once the walk holds "a", everything in it is moved out and "a" becomes a
// link to a directory holding the same names: as near as a POSIX system
// comes to turning a held directory into a junction in place. A walk that
// looked entries up along the path would list and delete those; this one
// lists the held directory, now empty, and removes the link.
TEST_F(RemoveTreeTest, EntriesAreLookedUpInTheHeldDirectoryNotAlongItsPath) {
  if (!drive.host().swapsAfterEntryShown) GTEST_SKIP() << "the host cannot swap a held directory here";
  MakePlantedTree(drive, "ZUV_tmp");
  const auto outside = drive.Tree("outside");
  bool swapped = false;
  drive.os().betweenCalls = [&](uint64_t) {
    const auto& calls = drive.os().Calls();
    if (swapped || calls.empty() || calls.back().op != Op::kOpenSubdirectory ||
        calls.back().path != "a" || calls.back().failed) {
      return;
    }
    fs::create_directories(drive.Native("stash"));
    for (const auto& entry : fs::directory_iterator(drive.Native("ZUV_tmp/a"))) {
      fs::rename(entry.path(), fs::path(drive.Native("stash")) / entry.path().filename());
    }
    swapped = SwapForLink(drive, "ZUV_tmp\\a", "moved", "outside");
  };
  EXPECT_EQ(0, RemoveTree(Root().c_str()));
  drive.os().betweenCalls = nullptr;
  EXPECT_TRUE(swapped);
  EXPECT_EQ(outside, drive.Tree("outside"));
  EXPECT_FALSE(drive.Exists("ZUV_tmp\\a"));
}

// The fault sweep's adversarial twin: after the Nth platform call of the
// clean-up, one directory of the planted tree (each in turn, the root
// included) is swapped for a link to the outside directory, as a local user
// racing the elevated installer would. Nothing outside may change.
TEST_F(CleanUpTempDirTest, NoSwapLeadsTheWalkOutsideTheTree) {
  uint64_t swaps = 0;
  for (const std::string relative : {"", "\\a", "\\b", "\\a\\c"}) {
    const std::string swapped = kTemp + relative;
    const std::string openName = relative.empty() ? "c:\\ZUV_tmp" : relative.substr(relative.rfind('\\') + 1);
    SCOPED_TRACE(swapped);
    // The platform calls of the clean-up of the planted tree: 90. Where a
    // swap is shown only before the walk holds the directory (Wine), the
    // sweep ends there: after the first call for the root.
    testing_support::SweepPoints(drive.host().swapsAfterEntryShown ? 90 : 1, 400, [&](uint64_t n) {
      TestDrive run;
      HostCleanup cleanup{run};
      MakePlantedTree(run, kTemp);
      const auto outside = run.Tree("outside");
      const bool afterEntryToo = run.host().swapsAfterEntryShown;
      bool reached = false;
      bool pastEntry = false;
      run.os().betweenCalls = [&](uint64_t calls) {
        if (calls != n || reached) return;
        reached = true;
        pastEntry = Held(run.os(), openName);
        // Nothing to swap once the walk has removed the directory.
        if ((afterEntryToo || !pastEntry) && run.Exists(swapped)) {
          EXPECT_TRUE(SwapForLink(run, swapped, "moved", "outside"));
          ++swaps;
        }
      };
      CleanUpTempDir();
      run.os().betweenCalls = nullptr;
      EXPECT_EQ(outside, run.Tree("outside"));
      EXPECT_EQ(0, run.os().OpenDirectories());
      RemoveFromHost(run.ExtractDirectory());
      return reached && (afterEntryToo || !pastEntry) && !HasFailure();
    });
  }
  std::printf("%llu swaps\n", static_cast<unsigned long long>(swaps));
  EXPECT_GT(swaps, 40u);
}

}  // namespace
