// What only the Win32 backend can show: the protection of the directories
// it makes private, and what its handle-relative walk does with names and
// holds that only Windows has. Wine keeps no descriptors on its files (it
// derives one from the Unix mode), so the descriptor is checked as the
// backend builds it, before Windows would apply it.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <filesystem>
#include <string>
#include <vector>

#include "package/TempDir.h"
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

// A name the system's code page cannot spell exactly is listed as "?" and
// left: spelt by best fit, U+FF41 would be "a" and reach another entry.
TEST(Win32HeldDirectory, NamesWithoutAnExactSpellingAreLeftAlone) {
  testing_support::TestDrive drive;
  drive.MakeDirectories("tree");
  drive.WriteFile("tree/a", "x");
  const std::wstring tree = L"\\\\?\\" + std::filesystem::absolute(drive.Native("tree")).wstring();
  for (const wchar_t* name : {L"\uFF41", L"\u0416"}) {
    HANDLE file = CreateFileW((tree + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
  }
  EXPECT_EQ(0, RemoveTree(drive.Path("tree").c_str()));
  EXPECT_EQ(2u, drive.Tree("tree").size());
  EXPECT_FALSE(drive.Exists("tree\\a"));
  EXPECT_EQ(1u, drive.os().CallsOf(platform::Op::kRemoveFileAt).size());  // "a", once
  const std::string unusable = drive.Path("tree") + "\\?: name not usable, left in place\n";
  EXPECT_EQ(unusable + unusable, drive.os().Output());
}

// A file in a sub-folder that someone holds without delete sharing makes
// the tree busy, until it is let go; so does a sub-folder held so.
TEST(Win32HeldDirectory, AnythingHeldWithoutDeleteSharingMakesTheTreeBusy) {
  testing_support::TestDrive drive;
  drive.MakeDirectories("tree/drivers/inner");
  drive.WriteFile("tree/Setup.exe", "x");
  drive.WriteFile("tree/drivers/modem.sys", "x");
  const std::string tree = drive.Path("tree");
  EXPECT_FALSE(TreeInUse(tree.c_str()));
  for (const char* held : {"tree\\drivers\\modem.sys", "tree\\drivers\\inner"}) {
    SCOPED_TRACE(held);
    HANDLE handle = CreateFileA(drive.Path(held).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle);
    EXPECT_TRUE(TreeInUse(tree.c_str()));
    CloseHandle(handle);
    EXPECT_FALSE(TreeInUse(tree.c_str()));
  }
  EXPECT_EQ(0, drive.os().OpenDirectories());
}

}  // namespace
