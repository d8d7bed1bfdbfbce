// What only the Win32 backend can show: the protection of the directories
// it makes private, the archive held against writers, the device probe's
// exact call and the lock's private namespace (the last two played through
// the backend's system-call table). Wine keeps no descriptors on its files (it derives one
// from the Unix mode), so the descriptor is checked as the backend builds
// it, before Windows would apply it.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <cstddef>
#include <cstring>
#include <set>
#include <string>

#include "platform/Win32Os.h"
#include "platform/win32/Win32Calls.h"
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

namespace {

using platform::Win32Call;

// Replaces one entry of the backend's system-call table for a scope.
class Replaced {
 public:
  template <typename Fn>
  Replaced(Win32Call call, Fn replacement)
      : slot_(&platform::SystemCalls()[call]), saved_(*slot_) {
    *slot_ = reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(replacement));
  }
  // As a system that lacks the call.
  Replaced(Win32Call call, std::nullptr_t) : slot_(&platform::SystemCalls()[call]), saved_(*slot_) {
    *slot_ = nullptr;
  }
  ~Replaced() { *slot_ = saved_; }
  Replaced(const Replaced&) = delete;
  Replaced& operator=(const Replaced&) = delete;

 private:
  FARPROC* slot_;
  FARPROC saved_;
};

// The archive is read through a handle that shares reading only: while the
// installer holds it, nobody can open it for writing (or delete it), so
// what it checked is what it unpacks.
TEST(Win32Archive, WhileHeldForReadingNobodyCanWriteIt) {
  testing_support::TestDrive drive;
  drive.WriteFile("data.sec", "archive");
  const std::string path = drive.Path("data.sec");
  platform::File held = platform::TheWin32Os().OpenRead(path.c_str());
  ASSERT_NE(nullptr, held);
  const DWORD everyone = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, everyone, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  platform::TheWin32Os().Close(held);
  writer = CreateFileA(path.c_str(), GENERIC_WRITE, everyone, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, writer);  // the control: the file itself is writable
  CloseHandle(writer);
}

// The probe's exact call: no access, no sharing, no security attributes,
// OPEN_EXISTING, FILE_ATTRIBUTE_SYSTEM, no template; the handle is closed.
struct {
  std::string name;
  DWORD access, share, disposition, flags;
  bool security, templateFile;
  HANDLE handle;
} gProbe;
HANDLE WINAPI RecordCreateFile(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE templateFile) {
  gProbe = {name, access, share, disposition, flags, security != nullptr, templateFile != nullptr,
            CreateFileA("NUL", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)};
  return gProbe.handle;
}

TEST(Win32Device, ProbeOpensTheNameWithNoAccessNoSharingAndTheSystemAttribute) {
  platform::Win32Os os;
  Replaced createFile(platform::kCreateFileA, RecordCreateFile);
  EXPECT_EQ(1, os.OpenDevice("\\\\.\\ADSLUSB"));
  EXPECT_EQ("\\\\.\\ADSLUSB", gProbe.name);
  EXPECT_EQ(0u, gProbe.access);
  EXPECT_EQ(0u, gProbe.share);
  EXPECT_FALSE(gProbe.security);
  EXPECT_EQ(static_cast<DWORD>(OPEN_EXISTING), gProbe.disposition);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_SYSTEM), gProbe.flags);
  EXPECT_FALSE(gProbe.templateFile);
  DWORD handleFlags;
  EXPECT_FALSE(GetHandleInformation(gProbe.handle, &handleFlags));  // closed already
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
HANDLE WINAPI FakeCreateMutex(LPSECURITY_ATTRIBUTES security, BOOL owned, LPCSTR name) {
  gNamespace.mutexName = name;
  const std::string real = "Local\\namespace-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::string(name).substr(std::string(name).find('\\') + 1);
  return CreateMutexA(security, owned, real.c_str());
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
    EXPECT_EQ(-1, os.LockInstall());
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
