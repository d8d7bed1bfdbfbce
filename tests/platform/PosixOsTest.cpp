// The POSIX backend's own shortcuts: opening for writing without a query
// first, and a deletion taking the attributes just read. Each must answer
// exactly as the plain calls would.
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/support/TestDrive.h"

namespace {

using testing_support::TestDrive;

TEST(PosixOsFiles, OpenForWritingKeepsReadOnlyFilesAndFollowsLinksAsBefore) {
  TestDrive drive;
  platform::Os& os = drive.backend();
  drive.WriteFile("kept", "old");
  ASSERT_EQ(0, chmod(drive.Native("kept").c_str(), 0444));
  EXPECT_EQ(nullptr, os.OpenWrite("kept"));
  EXPECT_EQ(EACCES, os.ErrorNumber());
  drive.WriteFile("cut", "old");
  platform::File file = os.OpenWrite("cut");
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(2, os.Write(file, "ab", 2));
  os.Close(file);
  ASSERT_EQ(0, symlink("target", drive.Native("dangling").c_str()));
  file = os.OpenWrite("dangling");
  ASSERT_NE(nullptr, file);
  os.Close(file);
  std::string text;
  EXPECT_TRUE(drive.ReadFile("kept", &text) && text == "old");
  EXPECT_TRUE(drive.ReadFile("cut", &text) && text == "ab");
  EXPECT_TRUE(drive.Exists("target"));
  chmod(drive.Native("kept").c_str(), 0644);
}

// A deletion may take the attributes of the query right before it, for
// that name only: after anything else it asks again.
TEST(PosixOsAttributes, DeletionTakesOnlyTheAnswerJustGivenForItsName) {
  TestDrive drive;
  platform::Os& os = drive.backend();
  drive.WriteFile("a", "");
  drive.WriteFile("b", "");
  platform::Attributes attributes;
  ASSERT_EQ(0, os.GetAttributes("a", &attributes));
  ASSERT_EQ(0, chmod(drive.Native("b").c_str(), 0444));
  EXPECT_EQ(-1, os.RemoveFile("b"));  // not the name asked about
  ASSERT_EQ(0, os.GetAttributes("a", &attributes));
  EXPECT_FALSE(attributes.readOnly);
  os.MakeDirectory("d");
  ASSERT_EQ(0, chmod(drive.Native("a").c_str(), 0444));
  EXPECT_EQ(-1, os.RemoveFile("a"));  // the answer is stale by now
  EXPECT_TRUE(drive.Exists("a") && drive.Exists("b"));
  ASSERT_EQ(0, chmod(drive.Native("a").c_str(), 0644));
  ASSERT_EQ(0, os.GetAttributes("a", &attributes));
  EXPECT_EQ(0, os.RemoveFile("a"));
  EXPECT_FALSE(drive.Exists("a"));
  chmod(drive.Native("b").c_str(), 0644);
}

}  // namespace
