// What only the Win32 backend can show: the protection of the directories
// it makes private. Wine keeps no descriptors on its files (it derives one
// from the Unix mode), so the descriptor is checked as the backend builds
// it, before Windows would apply it.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "platform/Win32Os.h"
#include "platform/win32/Win32Security.h"
#include "tests/support/TestDrive.h"

namespace {

std::string SidText(PSID sid) {
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return "?";
  std::string result = text;
  LocalFree(text);
  return result;
}

// Each ACE of an ACL as "type mask flags SID".
std::vector<std::string> Entries(PACL acl) {
  std::vector<std::string> entries;
  for (DWORD i = 0; acl != nullptr && i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(acl, i, &ace)) return {"?"};
    // Allowed and label ACEs share this layout: header, mask, SID.
    auto* entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    char head[64];
    wsprintfA(head, "%u %lx %x ", entry->Header.AceType, entry->Mask, entry->Header.AceFlags);
    entries.push_back(head + SidText(&entry->SidStart));
  }
  return entries;
}

// Owner Administrators; full control, inherited, for SYSTEM and the
// Administrators and nobody else (the user's unelevated programs carry the
// user's SID); nothing inherited from c:\; a High label with no-write-up,
// inherited, and no other SACL entry.
TEST(Win32PrivateDirectory, OnlySystemAndAdministratorsMayChangeItAndNothingBelowHigh) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
      platform::kPrivateDirectorySddl, SDDL_REVISION_1, &descriptor, nullptr));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  EXPECT_NE(0, control & SE_DACL_PROTECTED);

  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor, &owner, &defaulted));
  EXPECT_EQ("S-1-5-32-544", SidText(owner));
  PSID group = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorGroup(descriptor, &group, &defaulted));
  EXPECT_EQ(nullptr, group);

  BOOL present = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  const std::string allowed = "0 1f01ff 3 ";  // ACCESS_ALLOWED, FILE_ALL_ACCESS, OI|CI
  EXPECT_EQ((std::vector<std::string>{allowed + "S-1-5-18", allowed + "S-1-5-32-544"}), Entries(dacl));
  PACL sacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorSacl(descriptor, &present, &sacl, &defaulted));
  // SYSTEM_MANDATORY_LABEL, NO_WRITE_UP, OI|CI, the High level.
  EXPECT_EQ(std::vector<std::string>{"17 1 3 S-1-16-12288"}, Entries(sacl));
  LocalFree(descriptor);
}

TEST(Win32PrivateDirectory, IsMadeOnce) {
  testing_support::TestDrive drive;
  const std::string path = drive.Path("private");
  EXPECT_EQ(0, platform::TheWin32Os().MakePrivateDirectory(path.c_str()));
  EXPECT_EQ(-1, platform::TheWin32Os().MakePrivateDirectory(path.c_str()));  // exists
  EXPECT_TRUE(drive.Exists("private"));
}

}  // namespace

namespace {

// A query right after the enumeration yielded the name takes the
// attributes the enumeration brought; for another name, or after any
// other operation, it asks the file system again.
TEST(Win32Enumeration, AttributesComeFromTheEnumerationOnlyForTheNameJustYielded) {
  testing_support::TestDrive drive;
  platform::Os& os = drive.backend();
  drive.MakeDirectories("d");
  drive.WriteFile("d/a", "");
  drive.WriteFile("d/b", "");
  platform::Dir dir = os.OpenDirectory(drive.Path("d").c_str());
  ASSERT_NE(nullptr, dir);
  ASSERT_EQ(0, os.EnterDirectory(dir));
  char name[260];
  std::string first;
  while (os.NextEntry(dir, name, sizeof name) == 1) {
    if (name[0] != '.') {
      first = name;
      break;
    }
  }
  ASSERT_FALSE(first.empty());
  const std::string other = first == "a" ? "b" : "a";
  ASSERT_TRUE(SetFileAttributesA(other.c_str(), FILE_ATTRIBUTE_READONLY));
  platform::Attributes attributes;
  ASSERT_EQ(0, os.GetAttributes(other.c_str(), &attributes));
  EXPECT_TRUE(attributes.readOnly);  // not the name yielded
  ASSERT_EQ(0, os.GetAttributes(first.c_str(), &attributes));
  EXPECT_FALSE(attributes.readOnly);
  ASSERT_TRUE(SetFileAttributesA(first.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_EQ(0, os.GetAttributes(first.c_str(), &attributes));
  EXPECT_TRUE(attributes.readOnly);  // the enumeration's answer is used once only
  SetFileAttributesA("a", FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesA("b", FILE_ATTRIBUTE_NORMAL);
  os.CloseDirectory(dir);
}

}  // namespace
