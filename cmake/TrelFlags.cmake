# WebAssembly SIMD: emscripten turns the SSE2 span code into wasm vector code,
# with the same results as on x86. Every browser and node of recent years runs
# it; TREL_WASM_SIMD=OFF builds the scalar forms for one that does not.
option(TREL_WASM_SIMD "Build for WebAssembly with its vector instructions (SIMD)" ON)

# Warnings and the floating-point settings that keep every picture identical on
# every platform: no contraction into fused multiply-adds, and SSE2 doubles
# rather than the x87 unit on 32-bit x86.
function(trel_set_flags target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -ffp-contract=off)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^([iI].86|[xX]86|AMD64|x86_64|amd64)$")
      target_compile_options(${target} PRIVATE -msse2 -mfpmath=sse)
    endif()
    if(EMSCRIPTEN AND TREL_WASM_SIMD)
      target_compile_options(${target} PRIVATE -msimd128 -msse2)
    endif()
  endif()
endfunction()

if(TREL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# ThreadSanitizer, for the tests that draw from several threads (the `tsan`
# preset). It cannot be combined with AddressSanitizer.
option(TREL_SANITIZE_THREAD "Build everything with ThreadSanitizer" OFF)
if(TREL_SANITIZE_THREAD)
  if(TREL_SANITIZE)
    message(FATAL_ERROR "TREL_SANITIZE_THREAD cannot be combined with TREL_SANITIZE")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
