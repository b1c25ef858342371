# Cross-compiling for 32-bit Windows with mingw-w64 (posix thread model,
# runtime linked statically).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(BREVLIN_TRIPLE i686-w64-mingw32)
set(BREVLIN_ARCH x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
