# Checks the export table of one of the library's DLLs.
#   cmake -DOBJDUMP=... -DCXXFILT=... -DDLL=path/to/lib.dll -DLIBRARY=trel|quim -P exports.cmake
# Every name the library declares for hosts must be exported, and nothing else:
# no internal routine (namespace trel::detail, anonymous namespaces), nothing of
# the C++ runtime, nothing of the other library.
cmake_minimum_required(VERSION 3.25)

foreach(var OBJDUMP CXXFILT DLL LIBRARY)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "exports.cmake needs -D${var}=...")
  endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed: ${result}")
endif()

# The names sit in objdump's "[Ordinal/Name Pointer] Table", one per line as
# "\t[   7] name", up to the next empty line.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${DLL} has no export name table")
endif()
string(SUBSTRING "${dump}" ${start} -1 dump)
string(REPLACE "\n" ";" lines "${dump}")
set(mangled "")
foreach(line IN LISTS lines)
  if(line MATCHES "^\t\\[ *[0-9]+\\] (.+)$")
    string(APPEND mangled "${CMAKE_MATCH_1}\n")
  elseif(line STREQUAL "" AND NOT mangled STREQUAL "")
    break()
  endif()
endforeach()

# Windows names carry no leading underscore on C++ symbols: -n keeps the
# mingw c++filt from stripping one.
# One file per DLL and list, so that checks running side by side keep apart.
get_filename_component(dllname ${DLL} NAME_WE)
set(listfile ${CMAKE_CURRENT_BINARY_DIR}/${dllname}-as-${LIBRARY}-exports.txt)
file(WRITE ${listfile} "${mangled}")
execute_process(COMMAND ${CXXFILT} -n INPUT_FILE ${listfile} OUTPUT_VARIABLE demangled
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${CXXFILT} failed: ${result}")
endif()
string(REPLACE "\n" ";" exports "${demangled}")
list(REMOVE_ITEM exports "")
list(REMOVE_DUPLICATES exports) # complete and base object constructors demangle alike
list(LENGTH exports count)
message(STATUS "${DLL}: ${count} distinct exported names")

set(point "quim::point const&")
set(colour "unsigned long")
set(required "")
set(allowed "")
if(LIBRARY STREQUAL "trel")
  list(APPEND required
    "trel::version(int&, int&, int&)"
    "trel::version()"
    "trel::engine::engine()"
    "trel::engine::engine(trel::engine const&)"
    "trel::engine::operator=(trel::engine const&)"
    "trel::engine::begin()"
    "trel::engine::end()"
    "vtable for trel::engine")
  foreach(class engine2d engine2dxy engine3d)
    set(c "trel::${class}")
    list(APPEND required
      "${c}::${class}(int, int, void*)"
      "${c}::${class}(${c} const&)"
      "${c}::~${class}()"
      "${c}::operator=(${c} const&)"
      "${c}::width()"
      "${c}::height()"
      "${c}::depth()"
      "${c}::clear(${colour})"
      "${c}::dot(${point}, ${colour})"
      "${c}::line(quim::point const*, int, ${colour})"
      "${c}::line(${point}, ${point}, ${colour})"
      "${c}::tri(${point}, ${point}, quim::point const*, int, ${colour})"
      "${c}::tri(${point}, quim::point const*, int, ${colour})"
      "${c}::tri(${point}, ${point}, ${point}, ${colour})"
      "${c}::text(${point}, char const*, ${colour})"
      "${c}::orgx"
      "${c}::orgy"
      "${c}::rcptab"
      "${c}::rcpcount"
      "vtable for ${c}")
  endforeach()
  list(APPEND required
    "trel::engine2dxy::cutpoints(int*, int*, ${point}, ${point}, bool, bool)"
    "trel::engine2dxy::cutpoints(int*, int*, int*, ${point}, ${point}, bool, bool)")
  # Run-time type information of the exported classes comes with them.
  set(allowed "^typeinfo (name )?for trel::engine(2d|2dxy|3d)?$")
elseif(LIBRARY STREQUAL "quim")
  list(APPEND required
    "quim::vector::vector(double const&, double const&)"
    "quim::vector::vector(double const&, double const&, double const&)"
    "quim::vector::sangle(quim::vector const&) const"
    "quim::vector::angle(quim::vector const&) const"
    "quim::vector::normalize()"
    "quim::plane::plane(${point}, ${point}, ${point}, bool)")
  set(allowed "^typeinfo (name )?for quim::(vector|plane)$")
else()
  message(FATAL_ERROR "LIBRARY is trel or quim, not ${LIBRARY}")
endif()

set(missing "")
foreach(name IN LISTS required)
  list(FIND exports "${name}" at)
  if(at EQUAL -1)
    string(APPEND missing "  ${name}\n")
  endif()
endforeach()
set(unexpected "")
foreach(name IN LISTS exports)
  list(FIND required "${name}" at)
  if(at EQUAL -1 AND NOT name MATCHES "${allowed}")
    string(APPEND unexpected "  ${name}\n")
  endif()
endforeach()

if(NOT missing STREQUAL "" OR NOT unexpected STREQUAL "")
  message(FATAL_ERROR "${DLL}:\nmissing from the export table:\n${missing}"
                      "exported but not part of the interface:\n${unexpected}")
endif()
message(STATUS "${DLL}: exports exactly the interface of ${LIBRARY}")
