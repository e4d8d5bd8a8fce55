# Cross build for 32-bit Windows on x86 with Debian's mingw-w64 compilers
# (g++-mingw-w64-i686). The programs run under wine: CTest and test discovery
# go through CMAKE_CROSSCOMPILING_EMULATOR.
#
#   cmake -S . -B build/windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake -DTREL_BUILD_TOOLS=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(TREL_MINGW_PREFIX i686-w64-mingw32)

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

find_program(TREL_WINE NAMES wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TREL_WINE})
