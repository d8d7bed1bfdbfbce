# Cross build of the 32-bit Windows program with MinGW-w64 (Debian's g++-mingw-w64-i686):
# the product, which runs on Windows Vista and later.
set(MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
