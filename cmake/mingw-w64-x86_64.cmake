# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 compilers (the
# posix thread model, which the C++ standard library's threads need).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CAPMETER_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CAPMETER_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CAPMETER_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${CAPMETER_MINGW_PREFIX}-windres)

# Look for headers and libraries in the target's tree only, for programs on
# the build machine only.
set(CMAKE_FIND_ROOT_PATH /usr/${CAPMETER_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
