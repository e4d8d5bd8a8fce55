# Cross build for WebAssembly (wasm32) with Debian's emscripten package. The
# programs are JavaScript loaders beside their .wasm files and run under node:
# CTest goes through CMAKE_CROSSCOMPILING_EMULATOR.
#
#   cmake --preset wasm        (or -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-emscripten.cmake)
#
# wasm32 is a 32-bit target: unsigned long and pointers are 32 bits, as on
# 32-bit Windows.
set(TREL_EMSCRIPTEN_ROOT /usr/share/emscripten CACHE PATH "Where emscripten is installed")

# Emscripten's own platform file calls the target "x86" unless told otherwise,
# which would make the flags take the SSE2 settings meant for 32-bit x86 (and
# with them the vector span filler, through SSE emulation). Name it for what
# it is.
set(EMSCRIPTEN_SYSTEM_PROCESSOR wasm32)

# The loader emscripten generates fetches the .wasm file with fetch() whenever
# that exists, and a node that has it (18 and later) then fails: a file path
# is no URL. Such a node runs the programs with its fetch switched off. (Set
# before emscripten's platform file, which otherwise names plain node.)
find_program(TREL_NODE NAMES node nodejs REQUIRED)
execute_process(COMMAND ${TREL_NODE} --no-experimental-fetch -e 0
                RESULT_VARIABLE trel_node_nofetch OUTPUT_QUIET ERROR_QUIET)
if(trel_node_nofetch EQUAL 0)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TREL_NODE} --no-experimental-fetch)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TREL_NODE})
endif()

include(${TREL_EMSCRIPTEN_ROOT}/cmake/Modules/Platform/Emscripten.cmake)

# The pictures are up to 4096 x 4096 pixels with depth: the heap has to grow
# past emscripten's fixed 16 MiB.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-sALLOW_MEMORY_GROWTH=1")

# Linking an optimised program runs emscripten's JavaScript tools under node,
# and they load acorn, which Debian installs under /usr/share/nodejs. Debian's
# own node searches there; a node from elsewhere does not, so the link step is
# told where to look.
set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)
set(CMAKE_C_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)
