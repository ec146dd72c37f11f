# Cross build for 64-bit Windows with MinGW-w64 (Debian's g++-mingw-w64-x86-64-posix).
# The posix thread model gives std::thread and std::mutex; its long double is the same
# 80-bit extended type as on x86-64 Linux, so numbers come out identical on both systems.
# Everything is linked statically: the executables run without MinGW DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUELMAR_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUELMAR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUELMAR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUELMAR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUELMAR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# zlib (Debian's libz-mingw-w64-dev, the same release as the Linux build's) linked in statically.
set(ZLIB_USE_STATIC_LIBS ON)

# libgcc, libstdc++ and winpthread linked in; no DLL beside the program is needed.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs and discovery run through Wine when it is at hand.
find_program(QUELMAR_WINE NAMES wine64 wine PATHS /usr/lib/wine /usr/lib64/wine NO_CMAKE_FIND_ROOT_PATH)
if(QUELMAR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUELMAR_WINE})
endif()

# -O2 as in the native builds: g++ 12 at -O3 reports false -Wrestrict and
# -Wmaybe-uninitialized warnings from inside std::string.
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags for Release builds")
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags for Release builds")
