# The part of the MinGW-w64 toolchain files that is the same for both
# architectures; CAPMETER_MINGW_PREFIX names the compilers' target.
set(CMAKE_C_COMPILER ${CAPMETER_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CAPMETER_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${CAPMETER_MINGW_PREFIX}-windres)

# GCC 12 wrongly warns of overlapping copies inside the standard library's
# own string concatenation ("text" + std::string) where it inlines it; the
# warning is about the library's code, not ours.
set(CMAKE_CXX_FLAGS_INIT -Wno-restrict)

# Link the compiler's own runtime (C++ library, threads) into every program
# and library, so a built .exe or .dll runs without MinGW's DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)

# Look for headers and libraries in the target's tree only, for programs on
# the build machine only.
set(CMAKE_FIND_ROOT_PATH /usr/${CAPMETER_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
