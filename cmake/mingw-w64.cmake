# Cross build for 64-bit Windows with Debian's MinGW-w64:
#   cmake -S . -B build/mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DCMAKE_BUILD_TYPE=Release -DTOVALISK_BUILD_TESTS=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOVALISK_MINGW_PREFIX x86_64-w64-mingw32)
# The posix thread model: the conformance tests use std::thread, which the win32 model of this
# compiler lacks. The program links everything statically, so it stays one .exe either way.
set(CMAKE_C_COMPILER ${TOVALISK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOVALISK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOVALISK_MINGW_PREFIX}-windres)

# Headers and libraries come from the cross tree only; programs run on the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${TOVALISK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
