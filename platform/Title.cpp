#include "platform/Title.h"

namespace platform {

void TitleFromFileName(const char* fileName, char* title, size_t size) {
  if (size == 0) return;
  const char* name = fileName;
  for (const char* p = fileName; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
  }
  size_t length = 0;
  while (name[length] != '\0' && name[length] != '.' && length + 1 < size) {
    title[length] = name[length];
    ++length;
  }
  title[length] = '\0';
}

void ApplicationTitleOf(const char* fileName, char* title, size_t size, void (*lower)(char* text)) {
  TitleFromFileName(fileName, title, size);
  if (size > 0 && title[0] != '\0' && title[1] != '\0') lower(title + 1);
}

}  // namespace platform
