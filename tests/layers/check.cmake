# Checks that the library's layers point one way: engine -> raster -> clip ->
# geometry. Every #include in the sources under src/ is resolved the way the
# compiler finds it (beside the including file, then under src/ and include/),
# and the file it names must not belong to a higher layer than the includer.
# The public header counts as the engine layer and the geometry library's
# header as the geometry layer; standard and system headers are not looked at.
#
#   cmake -DROOT=<source tree> [-DEXPECT=<violations>] -P check.cmake
#
# Without EXPECT the check passes only when there is no violation; with it,
# only when exactly that many are found (the check's own test, on a tree made
# to break the rule).
cmake_minimum_required(VERSION 3.25)

if(NOT DEFINED ROOT)
  message(FATAL_ERROR "ROOT must name the source tree")
endif()
if(NOT DEFINED EXPECT)
  set(EXPECT 0)
endif()
get_filename_component(ROOT "${ROOT}" ABSOLUTE)

set(layers geom clip raster engine)

# The rank of the layer `path` belongs to (0 geometry ... 3 engine), or -1.
function(layerof path out)
  set(rank -1)
  if(path MATCHES "^${ROOT}/src/([a-z]+)/")
    list(FIND layers "${CMAKE_MATCH_1}" rank)
  elseif(path MATCHES "^${ROOT}/include/trel/")
    set(rank 3)
  elseif(path MATCHES "^${ROOT}/include/quim/")
    set(rank 0)
  endif()
  set(${out} ${rank} PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE sources LIST_DIRECTORIES false "${ROOT}/src/*.h" "${ROOT}/src/*.hpp"
     "${ROOT}/src/*.inl" "${ROOT}/src/*.cpp" "${ROOT}/src/*.cc")
list(SORT sources)
set(checked 0)
set(violations 0)
foreach(file IN LISTS sources)
  layerof("${file}" rank)
  if(rank LESS 0)
    continue()
  endif()
  get_filename_component(dir "${file}" DIRECTORY)
  file(RELATIVE_PATH name "${ROOT}" "${file}")
  file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line IN LISTS includes)
    if(NOT line MATCHES "include[ \t]*([<\"])([^>\"]+)[>\"]")
      continue()
    endif()
    set(target "${CMAKE_MATCH_2}")
    if(CMAKE_MATCH_1 STREQUAL "\"")
      set(candidates "${dir}/${target}" "${ROOT}/src/${target}" "${ROOT}/include/${target}")
    else()
      set(candidates "${ROOT}/include/${target}")
    endif()
    foreach(candidate IN LISTS candidates)
      if(EXISTS "${candidate}")
        get_filename_component(resolved "${candidate}" ABSOLUTE)
        layerof("${resolved}" included)
        if(included GREATER_EQUAL 0)
          math(EXPR checked "${checked} + 1")
          if(included GREATER rank)
            list(GET layers ${rank} from)
            list(GET layers ${included} to)
            file(RELATIVE_PATH toname "${ROOT}" "${resolved}")
            message(STATUS "${name} (${from} layer) includes ${toname} (${to} layer)")
            math(EXPR violations "${violations} + 1")
          endif()
        endif()
        break()
      endif()
    endforeach()
  endforeach()
endforeach()

if(checked EQUAL 0)
  message(FATAL_ERROR "no include of a layer's file found under ${ROOT}/src: nothing was checked")
endif()
if(NOT violations EQUAL EXPECT)
  message(FATAL_ERROR "${violations} includes point up the layers (expected ${EXPECT}); "
                      "the layers are engine -> raster -> clip -> geom")
endif()
message(STATUS "${checked} includes checked, ${violations} pointing up the layers")
