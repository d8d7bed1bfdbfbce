// Internals of the Win32 telephony backend that tests reach directly.
#pragma once

#include <windows.h>

namespace platform {

// Loads the DLL of that bare name from the system directory and nowhere
// else: with LOAD_LIBRARY_SEARCH_SYSTEM32 where the loader knows the flag,
// else by its full path in the system directory. nullptr when it cannot.
// Through osLoadLibraryExA, which a test replaces (Win32Calls.h).
HMODULE LoadSystemLibrary(const char* name);

// What the service calls: forwards to the callback given to LineInitialize.
void CALLBACK ForwardLineCallback(DWORD device, DWORD message, DWORD_PTR instance,
                                  DWORD_PTR param1, DWORD_PTR param2, DWORD_PTR param3);

}  // namespace platform
