// Waits until a top-level window of a class exists: window_wait CLASS
// SECONDS exits 0 once it does, 1 when it did not come within SECONDS.
// Shows that a program checked for what it does not do got as far as its
// window.
#include <windows.h>

#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const DWORD limit = static_cast<DWORD>(atoi(argv[2])) * 1000;
  const DWORD start = GetTickCount();
  while (FindWindowA(argv[1], nullptr) == nullptr) {
    if (GetTickCount() - start >= limit) return 1;
    Sleep(50);
  }
  return 0;
}
