# The part of the mingw-w64 toolchain files that both Windows targets share.
# The including file sets CMAKE_SYSTEM_PROCESSOR, TREL_MINGW_PREFIX (the
# compiler prefix) and TREL_WINE_NAMES (the wine loaders that can run its
# programs, best first).
set(CMAKE_SYSTEM_NAME Windows)

# The -posix variants use winpthreads, which std::thread and std::mutex need
# (GoogleTest uses them); the -win32 variants have neither.
set(CMAKE_C_COMPILER ${TREL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TREL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TREL_MINGW_PREFIX}-windres)
set(CMAKE_AR ${TREL_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${TREL_MINGW_PREFIX}-ranlib CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${TREL_MINGW_PREFIX}-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${TREL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's runtime goes into every DLL and program, so nothing beyond
# the system DLLs has to sit next to them: -static links libgcc, libstdc++ and
# winpthreads (which the -posix compilers otherwise load as
# libwinpthread-1.dll) statically. Our own DLLs are still linked through their
# import libraries, which CMake names by full path.
set(TREL_MINGW_STATIC_RUNTIME "-static-libgcc -static-libstdc++ -static")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${TREL_MINGW_STATIC_RUNTIME}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${TREL_MINGW_STATIC_RUNTIME}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${TREL_MINGW_STATIC_RUNTIME}")

# Without wine (a machine whose 32-bit wine cannot be installed) the programs
# still build and the DLLs' export tables are still checked; only running the
# test programs needs it.
find_program(TREL_WINE NAMES ${TREL_WINE_NAMES} PATHS /usr/lib/wine)
if(TREL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TREL_WINE})
endif()
