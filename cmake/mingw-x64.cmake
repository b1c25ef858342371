# Cross-compiling for 64-bit Windows with mingw-w64 (posix thread model, so
# std::thread and std::mutex exist; the runtime is linked statically).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(BREVLIN_TRIPLE x86_64-w64-mingw32)
set(BREVLIN_ARCH x64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
