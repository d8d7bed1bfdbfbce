// Links made from the host's side under Wine: a Unix link inside the
// prefix's drive, which Win32 sees as a directory with a reparse point
// (Wine's own CreateSymbolicLinkA makes nothing). Host programs are started
// through Wine's drive Z:, and the result is waited for by its effect.
#include <windows.h>

#include <filesystem>

#include "tests/support/HostLinks.h"

namespace fs = std::filesystem;

namespace testing_support {
namespace {

// Under Wine, the host's side of a Windows path.
std::string UnixPath(const std::string& windowsPath) {
  using UnixName = char*(__cdecl*)(const wchar_t*);
  const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
  if (unixName == nullptr) return "";
  char* name = unixName(fs::absolute(windowsPath).wstring().c_str());
  const std::string result = name != nullptr ? name : "";
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

// Starts a host program and waits until done() holds (the handle of a Unix
// process is not waitable), for at most five seconds.
template <typename Done>
bool RunOnHost(std::string command, Done done) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  // For a host program Wine gives no process handle and leaves garbage in
  // hThread: closing that would close some other handle of this process.
  if (process.hProcess != nullptr) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  for (int i = 0; i < 250 && !done(); ++i) ::Sleep(20);
  return done();
}

bool IsLink(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

bool MakeDirectoryLink(const std::string& linkPath, const std::string& targetPath) {
  const std::string unixTarget = UnixPath(targetPath);
  const std::string unixParent = UnixPath(fs::path(linkPath).parent_path().string());
  if (unixTarget.empty() || unixParent.empty()) return false;
  return RunOnHost("z:\\bin\\ln -s \"" + unixTarget + "\" \"" + unixParent + "/" +
                       fs::path(linkPath).filename().string() + "\"",
                   [&] { return IsLink(linkPath); });
}

bool SwapForLink(const TestDrive& drive, const std::string& relative, const std::string& movedTo,
                 const std::string& target) {
  const std::string from = UnixPath(drive.Native(relative));
  const std::string to = UnixPath(drive.Native(movedTo));
  const std::string link = UnixPath(drive.Native(target));
  if (from.empty() || to.empty() || link.empty()) return false;
  return RunOnHost("z:\\bin\\sh -c \"mv '" + from + "' '" + to + "' && ln -s '" + link + "' '" +
                       from + "'\"",
                   [&] { return IsLink(drive.Native(relative)); });
}

void RemoveFromHost(const std::string& path) {
  // Nothing to wait for when it is gone already: a host rm started anyway
  // would run late and delete what the next test makes there.
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  const std::string unixPath = UnixPath(path);
  if (!unixPath.empty()) {
    RunOnHost("z:\\bin\\rm -rf \"" + unixPath + "\"",
              [&] { return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES; });
  }
}

}  // namespace testing_support
