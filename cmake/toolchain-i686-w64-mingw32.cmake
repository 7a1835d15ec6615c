# Cross build of the 32-bit Windows plug-in on a Linux machine:
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake
#
# The -posix thread model of the compiler is needed for std::mutex (and so
# for the test framework). The code-generation flags of the Windows build
# (SSE arithmetic, static runtime) live in SorvanTargets.cmake, so that they
# hold whichever toolchain file names the compiler.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(SORVAN_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${SORVAN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SORVAN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${SORVAN_MINGW_TRIPLET}-windres)

# Libraries and headers come from the cross toolchain only; programs (the
# build tools) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${SORVAN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs that are targets run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
