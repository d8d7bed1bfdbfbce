// Waits until a top-level window of a class exists in the program IMAGE:
// window_wait CLASS SECONDS IMAGE exits 0 once it does, 1 when it did not
// come within SECONDS. Shows that a program checked for what it does not
// do got as far as its window; other programs of the prefix may have
// windows of the same class.
#include <windows.h>

#include <stdlib.h>

namespace {

struct Search {
  const char* windowClass;
  const char* image;
  bool found;
};

BOOL CALLBACK Match(HWND window, LPARAM data) {
  Search& search = *reinterpret_cast<Search*>(data);
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  if (lstrcmpA(name, search.windowClass) != 0) return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return TRUE;
  char image[MAX_PATH] = "";
  DWORD size = sizeof image;
  const BOOL named = QueryFullProcessImageNameA(process, 0, image, &size);
  CloseHandle(process);
  search.found = named && lstrcmpiA(image, search.image) == 0;
  return !search.found;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const DWORD limit = static_cast<DWORD>(atoi(argv[2])) * 1000;
  const DWORD start = GetTickCount();
  Search search = {argv[1], argv[3], false};
  for (;;) {
    EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
    if (search.found) return 0;
    if (GetTickCount() - start >= limit) return 1;
    Sleep(50);
  }
}
