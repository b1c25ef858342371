# Shared part of the two mingw-w64 toolchain files.
set(CMAKE_C_COMPILER ${BREVLIN_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BREVLIN_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${BREVLIN_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${BREVLIN_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(BREVLIN_WIDL ${BREVLIN_TRIPLE}-widl)
# A DLL or test program that needs libstdc++-6.dll, libgcc_s or
# libwinpthread-1.dll does not load on a clean Windows: link them in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
# Splits the shipped binaries' debug information into separate files.
set(BREVLIN_OBJCOPY ${BREVLIN_TRIPLE}-objcopy)
