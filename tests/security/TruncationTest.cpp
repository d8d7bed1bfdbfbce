// An archive cut short at every byte offset of its headers, names and
// directory table, and inside its files' contents at their edges, around
// the copy's chunk boundary and every 47th byte (a cut anywhere inside a
// content is the same cut to the reader, and the test runs under Wine in
// every Windows pass): the reader never crashes, never writes bytes the
// archive did not hold where they belong, never writes a file twice, and
// fails wherever the cut breaks an entry.
//
// The only cuts that leave a well-formed shorter archive are at offset 0
// (an empty file: entry count and file-section length read as 0) and at the
// record boundaries of the directory table (fewer directories; files whose
// directory is gone then fail to open). A cut inside the 8-byte header
// leaves the missing high-order bytes zero: cuts 1 to 4 read three entries
// in an empty file section, so the destination is made before the first
// entry is found missing. Every other cut breaks a header, an entry or a
// record, and the archive is refused before anything is created.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "package/ExtractPackage.h"
#include "package/PackageArchive.h"
#include "tests/support/ArchiveBytes.h"
#include "tests/support/Bytes.h"
#include "tests/support/TestDrive.h"

using platform::Op;
using testing_support::BytePattern;
using testing_support::TestDrive;

namespace {

TEST(Truncation, EveryCutIsRefusedOrExtractsWholeFilesOnly) {
  const std::vector<std::string> directories = {"drivers", "drivers\\inf"};
  const std::vector<testing_support::FileEntry> files = {{"Setup.exe", BytePattern(17000, 1)},
                                                 {"drivers\\modem.sys", BytePattern(300, 2)},
                                                 {"drivers\\inf\\modem.inf", BytePattern(40, 3)}};
  const std::string archive = testing_support::EncodeArchive(directories, files);
  size_t tableStart = kArchiveHeaderSize;
  for (const testing_support::FileEntry& file : files) tableStart += kEntryHeaderSize + file.content.size();
  std::map<std::string, std::string> expected;
  for (const testing_support::FileEntry& file : files) expected[file.name] = file.content;

  TestDrive drive;
  const std::string destination = drive.Path("ZUV_tmp");
  std::set<size_t> succeeded;
  // Where each file's content lies, and the cuts inside it that are made.
  std::vector<std::pair<size_t, size_t>> contents;
  size_t at = kArchiveHeaderSize;
  for (const testing_support::FileEntry& file : files) {
    at += kEntryHeaderSize;
    contents.emplace_back(at, at + file.content.size());
    at += file.content.size();
  }
  auto made = [&](size_t cut) {
    for (const auto& [begin, end] : contents) {
      if (cut <= begin + 2 || cut + 2 >= end) continue;
      const size_t into = cut - begin;
      if (into % 47 != 0 && (into + 2 < kCopyChunk || into > kCopyChunk + 2)) return false;
    }
    return true;
  };
  for (size_t cut = 0; cut <= archive.size(); ++cut) {
    if (!made(cut)) continue;
    SCOPED_TRACE(cut);
    drive.Remove("ZUV_tmp");
    drive.WriteFile("data.sec", archive.substr(0, cut));
    drive.os().ClearLog();

    if (ExtractPackage("data.sec", destination.c_str()) == 0) succeeded.insert(cut);

    EXPECT_EQ(0, drive.os().OpenFiles());
    std::set<std::string> opened;
    for (const platform::Call& call : drive.os().CallsOf(Op::kOpenWrite)) {
      EXPECT_TRUE(opened.insert(call.path).second) << "written twice: " << call.path;
    }
    for (const std::string& entry : drive.Tree()) {
      ASSERT_TRUE(entry.rfind("data.sec=", 0) == 0 || entry.rfind("ZUV_tmp", 0) == 0) << entry;
    }
    for (const auto& [name, content] : expected) {
      std::string written;
      if (drive.ReadFile("ZUV_tmp\\" + name, &written)) {
        EXPECT_TRUE(written == content) << name;
      }
    }
    const bool boundary = cut >= tableStart && (cut - tableStart) % kRecordSize == 0;
    if (cut > 4 && !boundary) {
      EXPECT_FALSE(drive.Exists("ZUV_tmp"));
    }
  }
  EXPECT_EQ((std::set<size_t>{0, archive.size()}), succeeded);
}

}  // namespace
