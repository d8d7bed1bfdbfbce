// What a host tool on Windows needs to know of a name before it reads
// through it: whether it is a link of any kind. The C++ library's
// filesystem of this toolchain reports no link on Windows at all.
#pragma once

namespace platform {

// Whether path (UTF-16) names a reparse point (a symbolic link, a junction,
// a mount point), the name itself, not what it leads to. False when it
// cannot be asked.
bool IsReparsePoint(const wchar_t* path);

}  // namespace platform
