// The checked-in archive tests/package/golden.sec, written from the format
// alone: the tests' own writer reproduces it, and the reader unpacks it to
// its tree ("secpack create" is held to the same bytes in
// tests/tools/SecpackCliTest.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "package/ExtractPackage.h"
#include "tests/support/GoldenArchive.h"
#include "tests/support/TestDrive.h"

namespace {

using testing_support::GoldenTree;

TEST(GoldenArchive, TheTestsWriterReproducesIt) {
  const std::string golden = testing_support::GoldenArchiveBytes();
  ASSERT_EQ(42128u, golden.size());
  EXPECT_TRUE(testing_support::EncodeArchive(GoldenTree().directories, GoldenTree().files) == golden);
}

TEST(GoldenArchive, TheReaderUnpacksItsTree) {
  testing_support::TestDrive drive;
  drive.WriteFile("data.sec", testing_support::GoldenArchiveBytes());
  ASSERT_EQ(0, ExtractPackage("data.sec", drive.Path("out").c_str())) << drive.os().Output();
  std::vector<std::string> expected = GoldenTree().directories;
  for (const testing_support::FileEntry& file : GoldenTree().files) {
    expected.push_back(file.name + "=" + std::to_string(file.content.size()));
    std::string content;
    EXPECT_TRUE(drive.ReadFile("out\\" + file.name, &content) && content == file.content) << file.name;
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, drive.Tree("out"));
}

}  // namespace
