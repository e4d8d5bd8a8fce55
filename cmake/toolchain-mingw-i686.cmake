# Cross build for 32-bit Windows on x86 with Debian's mingw-w64 compilers
# (g++-mingw-w64-i686). The programs run under wine: CTest goes through
# CMAKE_CROSSCOMPILING_EMULATOR.
#
#   cmake -S . -B build/windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake -DTREL_BUILD_TOOLS=OFF
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TREL_MINGW_PREFIX i686-w64-mingw32)
set(TREL_WINE_NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
