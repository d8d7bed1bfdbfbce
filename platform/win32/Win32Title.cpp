#include "platform/win32/Win32Title.h"

#include <windows.h>

#include "platform/Title.h"
#include "platform/win32/Win32Calls.h"

namespace platform {

void ApplicationTitle(char* title, size_t size) {
  if (size == 0) return;
  char module[MAX_PATH + 1];
  const DWORD length = osGetModuleFileNameA(nullptr, module, MAX_PATH);
  module[length < MAX_PATH ? length : MAX_PATH] = '\0';
  ApplicationTitleOf(module, title, size, [](char* text) { osCharLowerA(text); });
}

}  // namespace platform
