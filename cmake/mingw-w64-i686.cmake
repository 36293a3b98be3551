# Cross-compiles for 32-bit Windows with Debian's MinGW-w64 compilers (the
# posix thread model, which the C++ standard library's threads need).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(CAPMETER_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
