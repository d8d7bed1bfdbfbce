// What only the Win32 backend can show: the protection of the directories
// it makes private. Wine keeps no descriptors on its files (it derives one
// from the Unix mode), so the descriptor is checked as the backend builds
// it, before Windows would apply it.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <set>
#include <string>

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

std::string CurrentUserSid() {
  HANDLE token;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  unsigned char buffer[512];
  DWORD length = 0;
  GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &length);
  CloseHandle(token);
  return SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

TEST(Win32PrivateDirectory, OnlySystemAdministratorsAndTheUserHaveAccess) {
  char sddl[256];
  ASSERT_TRUE(platform::PrivateDirectorySddl(sddl, sizeof sddl));
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                                   &descriptor, nullptr));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  EXPECT_NE(0, control & SE_DACL_PROTECTED);  // nothing inherited from c:\ .

  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl != nullptr);
  std::set<std::string> trustees;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, &ace));
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    ASSERT_EQ(ACCESS_ALLOWED_ACE_TYPE, allowed->Header.AceType);
    EXPECT_EQ(static_cast<DWORD>(FILE_ALL_ACCESS), allowed->Mask);
    EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, allowed->Header.AceFlags);
    trustees.insert(SidText(&allowed->SidStart));
  }
  LocalFree(descriptor);
  EXPECT_EQ((std::set<std::string>{"S-1-5-18", "S-1-5-32-544", CurrentUserSid()}), trustees);
}

TEST(Win32PrivateDirectory, IsMadeOnceAndNeverTooSmallABuffer) {
  testing_support::TestDrive drive;
  const std::string path = drive.Path("private");
  EXPECT_EQ(0, platform::TheWin32Os().MakePrivateDirectory(path.c_str()));
  EXPECT_EQ(-1, platform::TheWin32Os().MakePrivateDirectory(path.c_str()));  // exists
  EXPECT_TRUE(drive.Exists("private"));
  char small[40];
  EXPECT_FALSE(platform::PrivateDirectorySddl(small, sizeof small));
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
