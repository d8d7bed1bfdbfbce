// Waits until a top-level window of a class exists in the program IMAGE:
// window_wait CLASS SECONDS IMAGE exits 0 once it does, 1 when it did not
// come within SECONDS. Shows that a program checked for what it does not
// do got as far as its window; other programs of the prefix may have
// windows of the same class.
#include <windows.h>

#include <stdlib.h>

#include "tests/support/Win32Windows.h"

namespace {

bool RunsImage(HWND window, const char* image) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                               testing_support::ProcessOf(window));
  if (process == nullptr) return false;
  char name[MAX_PATH] = "";
  DWORD size = sizeof name;
  const BOOL named = QueryFullProcessImageNameA(process, 0, name, &size);
  CloseHandle(process);
  return named && lstrcmpiA(name, image) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const char* image = argv[3];
  const bool found = testing_support::WaitFor(
      [&] {
        return testing_support::TopLevelWindow(argv[1], nullptr, [&](HWND window) {
                 return RunsImage(window, image);
               }) != nullptr;
      },
      static_cast<DWORD>(atoi(argv[2])) * 1000);
  return found ? 0 : 1;
}
