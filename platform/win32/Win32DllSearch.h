// Where this process's DLLs may come from.
#pragma once

namespace platform {

// From here on, DLLs this process loads by name (its own loads and those
// of the system's DLLs) come from the system directory only, never from
// the program's folder (a downloads folder, where anyone may have put a
// DLL) or the current directory. The program's first act.
void RestrictDllSearchToSystem();

}  // namespace platform
