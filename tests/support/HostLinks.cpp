#include "tests/support/HostLinks.h"

#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace testing_support {
namespace {

#ifdef _WIN32
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
// process is not waitable).
template <typename Done>
bool RunOnHost(std::string command, Done done) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int i = 0; i < 250 && !done(); ++i) ::Sleep(20);
  return done();
}
#endif

}  // namespace

bool MakeDirectoryLink(const std::string& linkPath, const std::string& targetPath) {
#ifdef _WIN32
  const std::string unixTarget = UnixPath(targetPath);
  const std::string unixParent = UnixPath(fs::path(linkPath).parent_path().string());
  if (unixTarget.empty() || unixParent.empty()) return false;
  auto isLink = [&] {
    const DWORD attributes = GetFileAttributesA(linkPath.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  };
  return RunOnHost("z:\\bin\\ln -s \"" + unixTarget + "\" \"" + unixParent + "/" +
                       fs::path(linkPath).filename().string() + "\"",
                   isLink);
#else
  std::error_code error;
  fs::create_directory_symlink(targetPath, linkPath, error);
  return !error;
#endif
}

bool SwapForLink(const TestDrive& drive, const std::string& relative, const std::string& movedTo,
                 const std::string& target) {
#ifdef _WIN32
  const std::string from = UnixPath(drive.Native(relative));
  const std::string to = UnixPath(drive.Native(movedTo));
  const std::string link = UnixPath(drive.Native(target));
  if (from.empty() || to.empty() || link.empty()) return false;
  const std::string name = drive.Native(relative);
  return RunOnHost("z:\\bin\\sh -c \"mv '" + from + "' '" + to + "' && ln -s '" + link + "' '" +
                       from + "'\"",
                   [&] {
                     const DWORD attributes = GetFileAttributesA(name.c_str());
                     return attributes != INVALID_FILE_ATTRIBUTES &&
                            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
                   });
#else
  std::error_code error;
  fs::rename(drive.Native(relative), drive.Native(movedTo), error);
  if (!error) fs::create_directory_symlink(drive.Native(target), drive.Native(relative), error);
  return !error;
#endif
}

void RemoveFromHost(const std::string& path) {
#ifdef _WIN32
  const std::string unixPath = UnixPath(path);
  if (!unixPath.empty()) {
    RunOnHost("z:\\bin\\rm -rf \"" + unixPath + "\"",
              [&] { return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES; });
  }
#else
  ForceRemoveTree(path);
#endif
}

}  // namespace testing_support
