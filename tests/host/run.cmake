# The install as README describes it, checked step by step (STEP):
#   install   installs the build tree into a fresh prefix with --prefix
#   package   builds the host project against it with find_package(trel), runs it
#   pkgconfig builds README's host example with pkg-config, runs it (and under
#             valgrind when it is installed)
#   render    runs the installed trel-render
# Nothing reaches the programs through the environment: the installed files
# must find each other by themselves.
foreach(var BUILD SOURCE WORK GENERATOR STEP VERSION)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run.cmake needs -D${var}=...")
  endif()
endforeach()

foreach(var LD_LIBRARY_PATH PKG_CONFIG_PATH CMAKE_PREFIX_PATH CPATH LIBRARY_PATH)
  unset(ENV{${var}})
endforeach()
set(prefix ${WORK}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err
                  WORKING_DIRECTORY ${WORK})
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

if(STEP STREQUAL "install")
  file(REMOVE_RECURSE ${WORK})
  file(MAKE_DIRECTORY ${WORK})
  run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})
  # The pkg-config file must not hold the prefix the build was configured
  # with, which is not where the files went.
  file(READ ${prefix}/lib/pkgconfig/trel.pc pc)
  file(STRINGS ${BUILD}/CMakeCache.txt configured REGEX "^CMAKE_INSTALL_PREFIX:")
  string(REGEX REPLACE "^[^=]*=" "" configured "${configured}")
  string(FIND "${pc}" "${configured}/" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "trel.pc names the configured prefix ${configured}:\n${pc}")
  endif()

elseif(STEP STREQUAL "package")
  run(${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/host -G ${GENERATOR} -DCMAKE_PREFIX_PATH=${prefix}
      -DVERSION=${VERSION})
  run(${CMAKE_COMMAND} --build ${WORK}/host)
  run(${WORK}/host/host)
  message(STATUS "${output}")

elseif(STEP STREQUAL "pkgconfig")
  # README's host example, exactly as printed there.
  file(READ ${README} readme)
  string(FIND "${readme}" "## A host in ten lines" section)
  if(section EQUAL -1)
    message(FATAL_ERROR "README.md has no section 'A host in ten lines'")
  endif()
  string(SUBSTRING "${readme}" ${section} -1 readme)
  string(FIND "${readme}" "```cpp\n" start)
  math(EXPR start "${start} + 7")
  string(SUBSTRING "${readme}" ${start} -1 readme)
  string(FIND "${readme}" "```" stop)
  string(SUBSTRING "${readme}" 0 ${stop} example)
  file(WRITE ${WORK}/app.cpp "${example}")

  find_program(PKG_CONFIG NAMES pkg-config pkgconf REQUIRED)
  set(pc ${prefix}/lib/pkgconfig/trel.pc)
  run(${PKG_CONFIG} --modversion ${pc})
  string(STRIP "${output}" version)
  if(NOT version STREQUAL VERSION)
    message(FATAL_ERROR "pkg-config reports version '${version}'")
  endif()
  run(${PKG_CONFIG} --cflags --libs ${pc})
  separate_arguments(flags UNIX_COMMAND "${output}")
  run(${PKG_CONFIG} --variable=libdir ${pc})
  string(STRIP "${output}" libdir)
  run(${CXX} -std=c++20 app.cpp ${flags} -Wl,-rpath,${libdir} -o app)
  run(${WORK}/app)
  find_program(VALGRIND valgrind)
  if(VALGRIND)
    run(${VALGRIND} --quiet --error-exitcode=1 ${WORK}/app)
  endif()

elseif(STEP STREQUAL "render")
  file(REMOVE ${WORK}/bunny.png)
  run(${prefix}/bin/trel-render -o bunny.png --size 200x150)
  file(READ ${WORK}/bunny.png head LIMIT 8 HEX)
  if(NOT head STREQUAL "89504e470d0a1a0a")
    message(FATAL_ERROR "the installed trel-render wrote no PNG (${head})")
  endif()
  file(SIZE ${WORK}/bunny.png size)
  if(size LESS 2000)
    message(FATAL_ERROR "the installed trel-render's picture is only ${size} bytes")
  endif()

else()
  message(FATAL_ERROR "unknown STEP ${STEP}")
endif()
