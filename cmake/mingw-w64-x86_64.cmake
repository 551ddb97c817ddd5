# The Windows programs (64-bit), cross-built on Debian with mingw-w64 and its POSIX thread
# model (std::thread over winpthread). The preset "windows" uses this file; see README.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CC_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CC_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CC_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${CC_MINGW_TRIPLET}-windres)

# Libraries and headers for Windows only (libz-mingw-w64-dev), programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${CC_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Each .exe runs alone: libstdc++, libgcc, winpthread and zlib are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(ZLIB_USE_STATIC_LIBS ON)
