# Cross build of the same sources as a 64-bit Windows program with MinGW-w64
# (Debian's g++-mingw-w64-x86-64): for machines that cannot run 32-bit x86
# code, where Wine runs only 64-bit programs.
set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
