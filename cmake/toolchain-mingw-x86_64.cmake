# Cross build for 64-bit Windows on x86-64 with Debian's mingw-w64 compilers
# (g++-mingw-w64-x86-64). The programs run under wine64, which needs no 32-bit
# programs on the machine.
#
#   cmake -S . -B build/windows64 -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake -DTREL_BUILD_TOOLS=OFF
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TREL_MINGW_PREFIX x86_64-w64-mingw32)
# The wine wrapper in PATH prefers the 32-bit loader whenever it is installed,
# even where it cannot start: name the 64-bit loader itself.
set(TREL_WINE_NAMES wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
