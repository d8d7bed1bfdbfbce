// The archive reader on the real backend of the build (POSIX natively,
// Win32 under Wine), seen through the recording double.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "package/ExtractPackage.h"
#include "package/PackageArchive.h"
#include "platform/testing/HeadlessToolkit.h"
#include "tests/support/ArchiveBytes.h"
#include "tests/support/Bytes.h"
#include "tests/support/Sweep.h"
#include "tests/support/TestDrive.h"

using platform::Op;
using testing_support::BytePattern;
using testing_support::EncodeArchive;
using testing_support::FileEntry;
using testing_support::PatchLe32;
using testing_support::TestDrive;

namespace {

using Names = std::vector<std::string>;

// Offset of the n-th (0-based) file entry of an archive built from these files.
size_t EntryOffset(const std::vector<FileEntry>& files, size_t n) {
  size_t offset = kArchiveHeaderSize;
  for (size_t i = 0; i < n; ++i) offset += kEntryHeaderSize + files[i].content.size();
  return offset;
}

class Extraction : public ::testing::Test {
 protected:
  ~Extraction() override { platform::SetToolkit(previousToolkit_); }
  // Writes the archive as "data.sec" and extracts it into "ZUV_tmp".
  int Extract(const std::string& archive) {
    drive.WriteFile("data.sec", archive);
    drive.backend().ChangeDirectory(drive.Path("").c_str());  // where the archive is
    drive.os().ClearLog();
    return ExtractPackage("data.sec", destination.c_str());
  }
  // Everything on the drive: the archive and what was extracted.
  Names Everything() { return drive.Tree(); }

  TestDrive drive;
  // Where the not-found message goes.
  platform::HeadlessToolkit toolkit;
  platform::Toolkit* previousToolkit_ = platform::SetToolkit(&toolkit);
  const std::string destination = drive.Path("ZUV_tmp");
};

TEST_F(Extraction, RecreatesTheTableThenTheFilesInArchiveOrder) {
  const std::vector<FileEntry> files = {
      {"Setup.exe", BytePattern(100, 1)}, {"drivers\\x.sys", BytePattern(3, 2)}, {"drivers\\inf\\x.inf", ""}};
  ASSERT_EQ(0, Extract(EncodeArchive({"drivers", "drivers\\inf", "empty"}, files)));

  EXPECT_EQ((Names{"Setup.exe=100", "drivers", "drivers\\inf", "drivers\\inf\\x.inf=0",
                   "drivers\\x.sys=3", "empty"}),
            drive.Tree("ZUV_tmp"));
  std::string content;
  ASSERT_TRUE(drive.ReadFile("ZUV_tmp\\Setup.exe", &content));
  EXPECT_EQ(files[0].content, content);
  // Left in the destination, every directory made before the first file.
  EXPECT_EQ(destination, drive.CurrentDirectory());
  std::vector<std::string> order;
  for (const platform::Call& call : drive.os().Calls()) {
    if (call.op == Op::kMakeDirectory || call.op == Op::kOpenWrite) order.push_back(call.path);
  }
  EXPECT_EQ((Names{"drivers", "drivers\\inf", "empty", "Setup.exe", "drivers\\x.sys",
                   "drivers\\inf\\x.inf"}),
            order);
  EXPECT_EQ(0, drive.os().OpenFiles());
  EXPECT_EQ("", drive.os().Output());
}

TEST_F(Extraction, EmptyArchivesCreateOnlyWhatTheTableLists) {
  // No entries, no table: just the destination.
  ASSERT_EQ(0, Extract(EncodeArchive({}, {})));
  EXPECT_EQ(Names{}, drive.Tree("ZUV_tmp"));
  // No entries, a table: its directories.
  ASSERT_EQ(0, Extract(EncodeArchive({"a", "a\\b"}, {})));
  EXPECT_EQ((Names{"a", "a\\b"}), drive.Tree("ZUV_tmp"));
}

TEST_F(Extraction, WithoutATableOnlyTopLevelFilesLand) {
  ASSERT_EQ(0, Extract(EncodeArchive({}, {{"top.txt", "x"}})));
  EXPECT_EQ(Names{"top.txt=1"}, drive.Tree("ZUV_tmp"));

  // A file in a directory nobody created cannot be opened: extraction stops.
  EXPECT_EQ(-1, Extract(EncodeArchive({}, {{"a.txt", "1"}, {"sub\\b.txt", "2"}, {"c.txt", "3"}})));
  EXPECT_EQ("open file sub\\b.txt fail\n", drive.os().Output());
  EXPECT_TRUE(drive.Exists("ZUV_tmp\\a.txt"));
  EXPECT_FALSE(drive.Exists("ZUV_tmp\\c.txt"));
  EXPECT_EQ(0, drive.os().OpenFiles());

  // Unless that directory already existed: then the file lands there.
  drive.MakeDirectories("ZUV_tmp/sub");
  ASSERT_EQ(0, Extract(EncodeArchive({}, {{"sub\\b.txt", "2"}})));
  EXPECT_EQ((Names{"a.txt=1", "sub", "sub\\b.txt=1", "top.txt=1"}), drive.Tree("ZUV_tmp"));
}

TEST_F(Extraction, CopiesInChunksOfAtMost16384Bytes) {
  const std::vector<FileEntry> files = {
      {"one", BytePattern(16384, 3)}, {"two", BytePattern(16385, 4)}, {"big", BytePattern(200001, 5)}};
  ASSERT_EQ(0, Extract(EncodeArchive({}, files)));
  std::map<std::string, std::vector<int64_t>> writes;
  for (const platform::Call& call : drive.os().CallsOf(Op::kWrite)) writes[call.path].push_back(call.value);
  EXPECT_EQ(std::vector<int64_t>{16384}, writes["one"]);
  EXPECT_EQ((std::vector<int64_t>{16384, 1}), writes["two"]);
  EXPECT_EQ(13u, writes["big"].size());
  EXPECT_EQ(200001 - 12 * 16384, writes["big"].back());
  for (const FileEntry& file : files) {
    std::string content;
    ASSERT_TRUE(drive.ReadFile("ZUV_tmp\\" + file.name, &content));
    EXPECT_TRUE(content == file.content) << file.name;
  }
}

TEST_F(Extraction, ASecondRunRewritesEveryFile) {
  ASSERT_EQ(0, Extract(EncodeArchive({"d"}, {{"d\\f", "a long first content"}})));
  ASSERT_EQ(0, Extract(EncodeArchive({"d"}, {{"d\\f", "short"}})));
  std::string content;
  ASSERT_TRUE(drive.ReadFile("ZUV_tmp\\d\\f", &content));
  EXPECT_EQ("short", content);
}

TEST_F(Extraction, AMissingArchiveIsReportedOnceAndCreatesNothing) {
  EXPECT_EQ(-1, ExtractPackage("data.sec", destination.c_str()));
  EXPECT_EQ(Names{"data.sec file not found, please contact your ISP"}, toolkit.messages);
  EXPECT_EQ(Names{}, Everything());
  EXPECT_EQ(0, drive.os().OpenFiles());
}

TEST_F(Extraction, TheNotFoundMessageNeverOverflowsItsBuffer) {
  const std::string longest(87, 'n');
  const std::string tooLong(300, 'n');
  EXPECT_EQ(-1, ExtractPackage(longest.c_str(), destination.c_str()));
  EXPECT_EQ(-1, ExtractPackage(tooLong.c_str(), destination.c_str()));
  ASSERT_EQ(2u, toolkit.messages.size());
  const std::string whole = longest + " file not found, please contact your ISP";
  EXPECT_EQ(127u, whole.size());
  EXPECT_EQ(whole, toolkit.messages[0]);
  EXPECT_EQ(whole, toolkit.messages[1]);  // the name cut to what fits
}

TEST_F(Extraction, AFailedChunkWriteIsAFailureNotASuccess) {
  drive.WriteFile("data.sec", EncodeArchive({}, {{"a", BytePattern(40000, 6)}, {"b", "after"}}));
  drive.os().FailCall(Op::kWrite, 2);
  EXPECT_EQ(-1, ExtractPackage("data.sec", destination.c_str()));
  // Every chunk is still attempted, and the later file still written.
  EXPECT_EQ("?\n", drive.os().Output());
  EXPECT_EQ(4u, drive.os().CallsOf(Op::kWrite).size());
  EXPECT_TRUE(drive.Exists("ZUV_tmp\\b"));
}

TEST_F(Extraction, ArchivesCutShortAreRefusedBeforeAnythingIsCreated) {
  const std::vector<FileEntry> files = {{"a", BytePattern(300, 7)}, {"b", BytePattern(20000, 8)}};
  const std::string whole = EncodeArchive({"d"}, files);
  // Inside the second header, inside its content, inside the table.
  for (size_t cut : {EntryOffset(files, 1) + 10, EntryOffset(files, 1) + 264 + 17000,
                     whole.size() - 100}) {
    SCOPED_TRACE(cut);
    EXPECT_EQ(-1, Extract(whole.substr(0, cut)));
    EXPECT_NE("", drive.os().Output());
    EXPECT_EQ(Names{"data.sec=" + std::to_string(cut)}, Everything());
  }
}

TEST_F(Extraction, AReadThatComesShortStopsWithoutStaleBytes) {
  const std::vector<FileEntry> files = {{"a", BytePattern(300, 9)}, {"b", BytePattern(40000, 10)}};
  drive.WriteFile("data.sec", EncodeArchive({}, files));

  // Reads: count, length, table, first header, "a", second header, then
  // the chunks of "b": fail the second chunk.
  drive.os().FailCall(Op::kRead, 8);
  EXPECT_EQ(-1, ExtractPackage("data.sec", destination.c_str()));
  EXPECT_EQ("data.sec: content of b cut short\n", drive.os().Output());
  std::string content;
  ASSERT_TRUE(drive.ReadFile("ZUV_tmp\\b", &content));
  EXPECT_EQ(files[1].content.substr(0, 16384), content);  // whole chunks only
  EXPECT_EQ(0, drive.os().OpenFiles());

  // A header read that fails does not reuse the previous header.
  drive.backend().ChangeDirectory(drive.Path("").c_str());
  drive.os().ClearLog();
  drive.os().ClearFaults();
  drive.os().FailCall(Op::kRead, 6);
  EXPECT_EQ(-1, ExtractPackage("data.sec", destination.c_str()));
  EXPECT_EQ("data.sec: header of entry 2 cut short\n", drive.os().Output());
  EXPECT_EQ(Names{"a"}, [&] {
    Names opened;
    for (const platform::Call& call : drive.os().CallsOf(Op::kOpenWrite)) opened.push_back(call.path);
    return opened;
  }());
}

// A table that was whole when its length was checked, and then shrank (a
// build without a digest reads data.sec itself, shared with writers): half
// a record is no directory, and the table no success.
TEST_F(Extraction, ADirectoryTableThatShrinksWhileReadIsRefused) {
  // The table lies past the first read-ahead block, so it is read after the cut.
  const std::string archive = EncodeArchive({"a", "b"}, {{"f", BytePattern(140000, 3)}});
  drive.os().betweenCalls = [&](uint64_t) {
    const auto& calls = drive.os().Calls();
    if (calls.empty() || calls.back().op != Op::kChangeDirectory) return;
    std::filesystem::resize_file(drive.Native("data.sec"), archive.size() - 100);
  };
  EXPECT_EQ(-1, Extract(archive));
  drive.os().betweenCalls = nullptr;
  EXPECT_FALSE(drive.Exists("ZUV_tmp\\b"));
  EXPECT_FALSE(drive.Exists("ZUV_tmp\\f"));
}

TEST_F(Extraction, AnEntryCountBeyondTheEntriesWritesNothingTwice) {
  const std::vector<FileEntry> files = {{"a", "first"}};
  for (const Names& table : {Names{}, Names{"d"}}) {
    std::string archive = EncodeArchive(table, files);
    PatchLe32(&archive, 0, 2);
    EXPECT_EQ(-1, Extract(archive));
    EXPECT_EQ(1u, drive.os().CallsOf(Op::kOpenWrite).size());
    EXPECT_EQ("data.sec: entry 2 lies past the end of the file section\n", drive.os().Output());
  }
}

TEST_F(Extraction, BrokenCountsAndLengthsAreRefusedAtTheirField) {
  const std::vector<FileEntry> files = {{"a", "first"}, {"b", "second"}};
  const std::string good = EncodeArchive({"d"}, files);
  struct Case {
    const char* what;
    size_t offset;
    int32_t value;
    const char* diagnostic;
    bool createsDestination;
  } cases[] = {
      {"negative count", 0, -1, "data.sec: negative entry count -1\n", false},
      {"negative section", 4, -264, "data.sec: negative file-section length -264\n", false},
      {"section past the end", 4, static_cast<int32_t>(good.size()),
       "data.sec: file section of ", false},
      {"negative content", EntryOffset(files, 1) + kContentLengthOffset, -6,
       "data.sec: b has a negative content length -6\n", true},
      {"content past the section", EntryOffset(files, 1) + kContentLengthOffset, 7,
       "data.sec: content of b runs past the end of the file section\n", true},
      {"huge content", EntryOffset(files, 0) + kContentLengthOffset, 0x7fffffff,
       "data.sec: content of a runs past the end of the file section\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string archive = good;
    PatchLe32(&archive, c.offset, c.value);
    EXPECT_EQ(-1, Extract(archive));
    EXPECT_EQ(0u, drive.os().Output().find(c.diagnostic)) << drive.os().Output();
    EXPECT_EQ(c.createsDestination, drive.Exists("ZUV_tmp"));
    for (const platform::Call& call : drive.os().CallsOf(Op::kSeek)) EXPECT_GE(call.value, 0);
    EXPECT_EQ(0, drive.os().OpenFiles());
    drive.Remove("ZUV_tmp");
  }
}

TEST_F(Extraction, NamesWithoutTheirZeroAreRefused) {
  std::string noZeroFile = EncodeArchive({}, {{"a", "x"}});
  noZeroFile.replace(kArchiveHeaderSize, kRecordSize, std::string(kRecordSize, 'f'));
  EXPECT_EQ(-1, Extract(noZeroFile));
  EXPECT_EQ("data.sec: file name has no terminating zero in its 256 bytes\n", drive.os().Output());
  EXPECT_EQ(Names{}, drive.Tree("ZUV_tmp"));

  std::string noZeroRecord = EncodeArchive({"d"}, {});
  noZeroRecord.replace(noZeroRecord.size() - kRecordSize, kRecordSize, std::string(kRecordSize, 'd'));
  EXPECT_EQ(-1, Extract(noZeroRecord));
  EXPECT_EQ("data.sec: directory has no terminating zero in its 256 bytes\n", drive.os().Output());
  EXPECT_EQ(Names{}, drive.Tree("ZUV_tmp"));
}

TEST_F(Extraction, ATrailingPartialDirectoryRecordRefusesTheArchive) {
  for (size_t extra : {1u, 100u, 255u}) {
    SCOPED_TRACE(extra);
    std::string archive = EncodeArchive({"d"}, {{"a", "x"}}) + std::string(extra, 'p');
    EXPECT_EQ(-1, Extract(archive));
    EXPECT_EQ("data.sec: directory table ends in a partial record of " + std::to_string(extra) +
                  " bytes\n",
              drive.os().Output());
    EXPECT_FALSE(drive.Exists("ZUV_tmp"));
  }
}

TEST_F(Extraction, NamesThatLeaveTheDestinationAreRefused) {
  const char* const refused[] = {
      "\\x",        "/x",          "c:x",         "c:\\x",     "\\\\server\\share\\x",
      "\\\\.\\x",   "\\\\?\\c:\\x", "..",          "..\\x",     "a\\..\\..\\x",
      "a/../../x",  "a\\..",       "x:stream",    "x::$DATA",  "...\\x",
      ".. \\x",     "a\\. .\\x",   "CON",         "nul.txt",   "a\\com1",
      "LPT9.log",   "aux ",        "conout$",   "COM0",      "lpt0.txt",
      "COM\xB9",    "a\\lpt\xB2.log", "Com\xB3 ",
      " \\x",       // a lone space: Windows strips it to nothing
  };
  drive.MakeDirectories("a");
  for (const char* name : refused) {
    SCOPED_TRACE(name);
    drive.Remove("ZUV_tmp");
    // As a file name.
    EXPECT_EQ(-1, Extract(EncodeArchive({}, {{"ok", "1"}, {name, "2"}})));
    EXPECT_NE(std::string::npos, drive.os().Output().find("refused")) << drive.os().Output();
    EXPECT_EQ(Names{"ok=1"}, drive.Tree("ZUV_tmp"));
    // As a directory record: refused before any file is written.
    EXPECT_EQ(-1, Extract(EncodeArchive({"sub", name}, {{"late", "3"}})));
    EXPECT_NE(std::string::npos, drive.os().Output().find("refused")) << drive.os().Output();
    EXPECT_FALSE(drive.Exists("ZUV_tmp\\late"));
    // Nothing anywhere but the archive, the destination and what was there.
    for (const std::string& entry : Everything()) {
      EXPECT_TRUE(entry == "a" || entry.rfind("data.sec", 0) == 0 || entry.rfind("ZUV_tmp", 0) == 0)
          << entry;
    }
  }
}

TEST_F(Extraction, PlainNamesGoToTheFileSystemUnchanged) {
  const Names directories = {"d.d", "d.d\\..x", "d.d\\..x\\x..y"};
  const std::vector<FileEntry> files = {
      {"d.d\\..x\\x..y\\f...g", "1"}, {"CONFIG.SYS", "2"}, {"com10", "3"}, {"d.d/slash", "4"}, {".\\dot", "5"},
      {"CONSOLE", "6"}, {"nul1", "7"}, {"a.con", "8"}, {"COM\xB4", "9"}};
  ASSERT_EQ(0, Extract(EncodeArchive(directories, files))) << drive.os().Output();
  Names opened;
  for (const platform::Call& call : drive.os().CallsOf(Op::kOpenWrite)) opened.push_back(call.path);
  EXPECT_EQ((Names{"d.d\\..x\\x..y\\f...g", "CONFIG.SYS", "com10", "d.d/slash", ".\\dot", "CONSOLE",
                   "nul1", "a.con", "COM\xB4"}),
            opened);
  EXPECT_TRUE(drive.Exists("ZUV_tmp\\d.d\\slash"));
}

TEST_F(Extraction, ADestinationThatCannotBeEnteredStopsEverything) {
  drive.WriteFile("data.sec", EncodeArchive({"d"}, {{"f", "x"}}));
  drive.os().FailCall(Op::kChangeDirectory, 1);
  EXPECT_EQ(-1, ExtractPackage("data.sec", destination.c_str()));
  EXPECT_EQ("data.sec: cannot enter the destination " + destination + "\n", drive.os().Output());
  EXPECT_EQ((Names{"ZUV_tmp", "data.sec=" + std::to_string(EncodeArchive({"d"}, {{"f", "x"}}).size())}),
            Everything());
  EXPECT_EQ(0, drive.os().OpenFiles());

  // Nor can an archive that cannot be read on, at the directory table.
  drive.os().ClearLog();
  drive.os().ClearFaults();
  drive.os().FailCall(Op::kSeek, 3);  // its size, its start, then the table
  EXPECT_EQ(-1, ExtractPackage("data.sec", destination.c_str()));
  EXPECT_EQ("data.sec: cannot read the archive\n", drive.os().Output());
  EXPECT_EQ((Names{"ZUV_tmp", "data.sec=" + std::to_string(EncodeArchive({"d"}, {{"f", "x"}}).size())}),
            Everything());
}

// Fails each platform call of one extraction in turn, until a run no fault
// reaches: nothing leaks, nothing lands outside the destination, and a
// success means every file is there, whole.
TEST(ExtractionFaults, EveryFailingCallIsHandled) {
  const std::vector<FileEntry> files = {
      {"Setup.exe", BytePattern(20000, 11)}, {"d\\x.sys", BytePattern(5, 12)}, {"d\\e\\empty", ""}};
  const std::string archive = EncodeArchive({"d", "d\\e"}, files);
  // 30: the platform calls of this extraction.
  testing_support::SweepPoints(30, 500, [&](uint64_t n) {
    TestDrive drive;
    drive.WriteFile("data.sec", archive);
    drive.os().FailCall(n);
    const int result = ExtractPackage("data.sec", drive.Path("ZUV_tmp").c_str());
    const bool completed = !drive.os().FaultFired();
    EXPECT_EQ(0, drive.os().OpenFiles());
    for (const std::string& entry : drive.Tree()) {
      EXPECT_TRUE(entry.rfind("data.sec", 0) == 0 || entry.rfind("ZUV_tmp", 0) == 0) << entry;
    }
    if (result == 0) {
      for (const FileEntry& file : files) {
        std::string content;
        EXPECT_TRUE(drive.ReadFile("ZUV_tmp\\" + file.name, &content) && content == file.content)
            << file.name << " after failing " << platform::OpName(drive.os().Calls()[n - 1].op);
      }
    }
    if (completed) {
      EXPECT_EQ(0, result);
    }
    return !completed;
  });
}

}  // namespace
