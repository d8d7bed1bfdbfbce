// What only the Win32 backend can show: the protection of the directories
// it makes private, what its handle-relative walk does with names and
// holds that only Windows has, the archive held against writers, the device
// probe's exact call and the lock's private namespace (the last two played
// through the backend's system-call table). Wine keeps no descriptors on its
// files (it derives one from the Unix mode), so the descriptor is checked as
// the backend builds it, before Windows would apply it.
#include <errno.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <filesystem>
#include <string>
#include <vector>

#include "package/RemoveTree.h"
#include "platform/win32/Win32Os.h"
#include "platform/win32/Win32Calls.h"
#include "platform/win32/Win32PrivateDirectory.h"
#include "tests/support/TestDrive.h"
#include "tests/support/Win32Replaced.h"

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
  EXPECT_EQ(EEXIST, platform::TheWin32Os().MakePrivateDirectory(path.c_str()));
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

// The tree below path as the clean-up searches it: the root by its path,
// then everything below through the hold.
TreeUse UseOf(const std::string& path) {
  platform::Os& os = platform::GetOs();
  bool held;
  if (os.InUse(path.c_str(), &held) == 0 && held) return TreeUse::kBusy;
  platform::Dir root;
  const TreeUse use = os.OpenDirectory(path.c_str(), &root) == 0 ? FindTreeUse(root, path.c_str()) : TreeUse::kUnknown;
  os.CloseDirectory(root);
  return use;
}

// As Windows answers a probe of a read-only file, which Wine running as
// root does not: access denied to writing.
platform::Win32CallType<platform::kNtOpenFile>::Fn gNtOpenFile;  // the system's
NTSTATUS NTAPI RefuseWriting(HANDLE* handle, ACCESS_MASK access, OBJECT_ATTRIBUTES* object,
                             IO_STATUS_BLOCK* status, ULONG share, ULONG options) {
  if ((access & FILE_WRITE_DATA) != 0) return static_cast<NTSTATUS>(0xC0000022L);  // access denied
  return gNtOpenFile(handle, access, object, status, share, options);
}

// A file in a sub-folder that someone holds without delete sharing makes
// the tree busy, until it is let go; so does a sub-folder held so. A file
// the probe may not open for writing (a running program's may be
// read-only) is not known to be free.
TEST(Win32HeldDirectory, AnythingHeldWithoutDeleteSharingMakesTheTreeBusy) {
  testing_support::TestDrive drive;
  drive.MakeDirectories("tree/drivers/inner");
  drive.WriteFile("tree/Setup.exe", "x");
  drive.WriteFile("tree/drivers/modem.sys", "x");
  const std::string tree = drive.Path("tree");
  EXPECT_EQ(TreeUse::kFree, UseOf(tree));
  for (const char* held : {"tree\\drivers\\modem.sys", "tree\\drivers\\inner"}) {
    SCOPED_TRACE(held);
    HANDLE handle = CreateFileA(drive.Path(held).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle);
    EXPECT_EQ(TreeUse::kBusy, UseOf(tree));
    CloseHandle(handle);
    EXPECT_EQ(TreeUse::kFree, UseOf(tree));
  }
  {
    testing_support::Replaced open(platform::kNtOpenFile, RefuseWriting);
    gNtOpenFile = testing_support::Replaced::Original<platform::kNtOpenFile>(open);
    EXPECT_EQ(TreeUse::kUnknown, UseOf(tree));
  }
  EXPECT_EQ(0, drive.os().OpenDirectories());
}

// A directory the backend made private, and one the user made, read
// through their holds: the same object twice has the same identity, and
// neither lets anyone but SYSTEM, the Administrators and its owner change
// it (Wine reports every file as the user's, with an ACL from the mode).
TEST(Win32HeldDirectory, QueryTellsWhoseItIsAndWhoMayChangeIt) {
  testing_support::TestDrive drive;
  platform::Os& os = drive.backend();
  drive.MakeDirectories("made by the user");
  ASSERT_EQ(0, os.MakePrivateDirectory(drive.Path("private").c_str()));
  for (const char* name : {"private", "made by the user"}) {
    SCOPED_TRACE(name);
    platform::Dir first;
    platform::Dir second;
    ASSERT_EQ(0, os.OpenDirectory(drive.Path(name).c_str(), &first));
    ASSERT_EQ(0, os.OpenDirectory(drive.Path(name).c_str(), &second));
    platform::DirectoryInfo a;
    platform::DirectoryInfo b;
    ASSERT_EQ(0, os.QueryDirectory(first, &a));
    ASSERT_EQ(0, os.QueryDirectory(second, &b));
    EXPECT_EQ(a.volume, b.volume);
    EXPECT_EQ(a.id, b.id);
    EXPECT_FALSE(a.othersMayChange);
    EXPECT_GT(a.ownerSize, 8u);
    os.CloseDirectory(first);
    os.CloseDirectory(second);
  }
}

// The archive is read as the C library's fopen reads it: others may read
// and write it meanwhile, nobody may delete it. What a release checks is
// its own copy (DigestCopy), not the file it was read from.
TEST(Win32Archive, ReadIsSharedWithWritersAsTheCLibraryShares) {
  testing_support::TestDrive drive;
  drive.WriteFile("data.sec", "archive");
  const std::string path = drive.Path("data.sec");
  platform::File held;
  ASSERT_EQ(0, platform::TheWin32Os().OpenRead(path.c_str(), &held));
  const DWORD everyone = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, everyone, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, writer);
  CloseHandle(writer);
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  platform::TheWin32Os().Close(held);
}

using testing_support::Replaced;

// The probe finds a device that exists and nothing else, and asks for no
// access: whoever holds the device, even without sharing it, does not
// change the answer (what the probe holds afterwards: BackendSweepTest).
TEST(Win32Device, FoundWhenItExistsWhoeverHoldsIt) {
  testing_support::TestDrive drive;
  drive.WriteFile("device", "");
  const std::string standIn = drive.Path("device");  // opened as a device name is
  platform::Win32Os os;
  EXPECT_EQ(0, os.OpenDevice("\\\\.\\NUL"));
  EXPECT_EQ(ENOENT, os.OpenDevice("\\\\.\\ADSLUSB-not-there"));
  EXPECT_EQ(ENOENT, os.OpenDevice(drive.Path("missing").c_str()));
  EXPECT_EQ(0, os.OpenDevice(standIn.c_str()));
  HANDLE holder = CreateFileA(standIn.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  EXPECT_EQ(0, os.OpenDevice(standIn.c_str()));
  CloseHandle(holder);
}

// A system with private namespaces, played through the table: what the
// lock asks of it, and a name in the global namespace that someone else
// took first (here an event) no longer blocks it.
struct NamespaceLog {
  std::string boundaryName;
  std::string boundarySid;
  std::string namespaceSddl;
  std::string alias;
  std::string opened;
  std::string mutexName;
  bool exists = false;  // CreatePrivateNamespaceA finds it made already
  int boundaries = 0;   // made and not yet deleted
} gNamespace;
char gBoundary;
char gNamespaceObject;

HANDLE WINAPI FakeCreateBoundaryDescriptor(LPCSTR name, ULONG) {
  gNamespace.boundaryName = name;
  ++gNamespace.boundaries;
  return &gBoundary;
}
BOOL WINAPI FakeAddSid(HANDLE* boundary, PSID sid) {
  gNamespace.boundarySid = *boundary == &gBoundary ? SidText(sid) : "?";
  return TRUE;
}
VOID WINAPI FakeDeleteBoundary(HANDLE boundary) {
  if (boundary == &gBoundary) --gNamespace.boundaries;
}
HANDLE WINAPI FakeCreateNamespace(LPSECURITY_ATTRIBUTES security, LPVOID, LPCSTR alias) {
  char* sddl = nullptr;
  if (security != nullptr &&
      ConvertSecurityDescriptorToStringSecurityDescriptorA(
          security->lpSecurityDescriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
    gNamespace.namespaceSddl = sddl;
    LocalFree(sddl);
  }
  gNamespace.alias = alias;
  SetLastError(gNamespace.exists ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return gNamespace.exists ? nullptr : &gNamespaceObject;
}
HANDLE WINAPI FakeOpenNamespace(LPVOID, LPCSTR alias) {
  gNamespace.opened = alias;
  return &gNamespaceObject;
}
// Objects "in" the namespace become real ones of a name of this process.
platform::Win32CallType<platform::kCreateMutexA>::Fn gCreateMutex;  // the system's
HANDLE WINAPI FakeCreateMutex(LPSECURITY_ATTRIBUTES security, BOOL owned, LPCSTR name) {
  gNamespace.mutexName = name;
  const std::string real = "Local\\namespace-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::string(name).substr(std::string(name).find('\\') + 1);
  return gCreateMutex(security, owned, real.c_str());
}

TEST(Win32InstallLock, LivesInTheAdministratorsPrivateNamespaceWhereNoSquatterReaches) {
  // Someone took the global name first, as another kind of object.
  HANDLE squatter = CreateEventA(nullptr, TRUE, FALSE, "Global\\UsbAdslModemInstaller.ZUV_tmp");
  ASSERT_NE(nullptr, squatter);
  {
    // Where the system has no private namespaces (Wine 8 itself), the
    // global name is the lock's, and the squatter blocks it.
    platform::Win32Os os;
    Replaced boundary(platform::kCreateBoundaryDescriptorA, nullptr);
    EXPECT_NE(0, os.LockInstall());
  }
  for (bool exists : {false, true}) {
    SCOPED_TRACE(exists ? "namespace made by another installer" : "namespace made here");
    gNamespace = NamespaceLog{};
    gNamespace.exists = exists;
    Replaced create(platform::kCreateBoundaryDescriptorA, FakeCreateBoundaryDescriptor);
    Replaced add(platform::kAddSIDToBoundaryDescriptor, FakeAddSid);
    Replaced remove(platform::kDeleteBoundaryDescriptor, FakeDeleteBoundary);
    Replaced make(platform::kCreatePrivateNamespaceA, FakeCreateNamespace);
    Replaced open(platform::kOpenPrivateNamespaceA, FakeOpenNamespace);
    Replaced mutex(platform::kCreateMutexA, FakeCreateMutex);
    gCreateMutex = Replaced::Original<platform::kCreateMutexA>(mutex);
    platform::Win32Os os;

    EXPECT_EQ(0, os.LockInstall());

    EXPECT_EQ("UsbAdslModemInstaller", gNamespace.boundaryName);
    EXPECT_EQ("S-1-5-32-544", gNamespace.boundarySid);  // the Administrators
    EXPECT_EQ(0, gNamespace.boundaries);                // deleted once used
    EXPECT_EQ("D:P(A;;GA;;;SY)(A;;GA;;;BA)", gNamespace.namespaceSddl);
    EXPECT_EQ("UsbAdslModemInstaller", gNamespace.alias);
    EXPECT_EQ(exists ? "UsbAdslModemInstaller" : "", gNamespace.opened);
    EXPECT_EQ("UsbAdslModemInstaller\\ZUV_tmp", gNamespace.mutexName);
    os.UnlockInstall();
    EXPECT_EQ(0, os.LockInstall());  // again, in the namespace already held
    os.UnlockInstall();
  }
  CloseHandle(squatter);
}

}  // namespace
