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
  platform::File file;
  EXPECT_EQ(EACCES, os.OpenWrite("kept", &file));
  EXPECT_EQ(nullptr, file);
  drive.WriteFile("cut", "old");
  ASSERT_EQ(0, os.OpenWrite("cut", &file));
  EXPECT_EQ(0, os.Write(file, "ab", 2));
  os.Close(file);
  ASSERT_EQ(0, symlink("target", drive.Native("dangling").c_str()));
  ASSERT_EQ(0, os.OpenWrite("dangling", &file));
  os.Close(file);
  std::string text;
  EXPECT_TRUE(drive.ReadFile("kept", &text) && text == "old");
  EXPECT_TRUE(drive.ReadFile("cut", &text) && text == "ab");
  EXPECT_TRUE(drive.Exists("target"));
  chmod(drive.Native("kept").c_str(), 0644);
}

// A deletion in a held directory takes the walk's answer for that very
// entry only, once; for another entry, or a second time, it asks again.
TEST(PosixOsAttributes, DeletionTakesOnlyTheAnswerJustGivenForItsEntry) {
  TestDrive drive;
  platform::Os& os = drive.backend();
  drive.MakeDirectories("d");
  drive.WriteFile("d/a", "");
  drive.WriteFile("d/b", "");
  platform::Dir dir;
  ASSERT_EQ(0, os.OpenDirectory("d", &dir));
  platform::Attributes attributes;
  ASSERT_EQ(0, os.GetAttributesAt(dir, "a", &attributes));
  ASSERT_EQ(0, chmod(drive.Native("d/b").c_str(), 0444));
  EXPECT_EQ(EACCES, os.RemoveFileAt(dir, "b"));  // not the entry asked about
  ASSERT_EQ(0, os.GetAttributesAt(dir, "a", &attributes));
  EXPECT_FALSE(attributes.readOnly);
  EXPECT_EQ(ENOTDIR, os.RemoveEmptyDirectoryAt(dir, "a"));  // a file, as asked: not a directory
  ASSERT_EQ(0, chmod(drive.Native("d/a").c_str(), 0444));
  EXPECT_EQ(EACCES, os.RemoveFileAt(dir, "a"));  // the answer was used up
  EXPECT_TRUE(drive.Exists("d/a") && drive.Exists("d/b"));
  os.CloseDirectory(dir);
  chmod(drive.Native("d/a").c_str(), 0644);
  chmod(drive.Native("d/b").c_str(), 0644);
}

// The POSIX reading of who may change a directory: its owner's uid, and
// whether group or others may write it; and a directory made anew after
// another was removed is not taken for it, whatever inode it got.
TEST(PosixOsDirectories, QueryReadsTheOwnerTheModeAndTheBirth) {
  TestDrive drive;
  platform::Os& os = drive.backend();
  platform::DirectoryInfo info[2];
  for (int i = 0; i < 2; ++i) {
    drive.MakeDirectories("d");
    ASSERT_EQ(0, chmod(drive.Native("d").c_str(), i == 0 ? 0755 : 0775));
    platform::Dir dir;
    ASSERT_EQ(0, os.OpenDirectory("d", &dir));
    ASSERT_EQ(0, os.QueryDirectory(dir, &info[i]));
    os.CloseDirectory(dir);
    drive.Remove("d");
  }
  const uid_t uid = getuid();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&uid), sizeof uid),
            std::string(reinterpret_cast<char*>(info[0].owner), info[0].ownerSize));
  EXPECT_EQ(uid == 0 ? platform::OwnerKind::kAdministrators : platform::OwnerKind::kOther, info[0].ownerKind);
  EXPECT_FALSE(info[0].othersMayChange);
  EXPECT_TRUE(info[1].othersMayChange);
  // Where the file system keeps a birth time (tmpfs and ext4 do).
  if (info[0].created != 0) {
    EXPECT_TRUE(info[0].id != info[1].id || info[0].created != info[1].created);
  }
}

}  // namespace
