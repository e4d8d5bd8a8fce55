# Checks that the layers point one way:
#
#   (tools, web, python) -> (scene, loader, encode) -> engine -> raster -> clip -> geom
#
# Every #include in the sources under src/, tools/, web/ and python/ is
# resolved the way the compiler finds it (beside the including file, then
# under src/, the loader's and encoders' folders, and include/), and the file
# it names must not belong to a higher layer than the includer. The loader and
# the encoders stand above the scene layer (they hand over its meshes and take
# its pictures), never the other way. The front ends share the top layer but
# never include one another's files. trel/trel.h counts as the engine layer,
# trel/scene.h as the scene layer and the geometry library's header as the
# geometry layer; standard and system headers are not looked at.
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

# Each layer's rank; the front ends all rank highest.
set(layers geom clip raster engine scene loader)
set(ranks 0 1 2 3 4 5)
set(frontends tools web python)
set(frontrank 6)
# The folders whose headers their users include by name alone.
set(exported src/loader src/encode)

# The rank of the layer `path` belongs to, or -1; `name` receives the layer's
# (or front end's) name.
function(layerof path out name)
  set(rank -1)
  set(layer "")
  if(path MATCHES "^${ROOT}/src/([a-z]+)/")
    set(layer "${CMAKE_MATCH_1}")
    if(layer STREQUAL "encode")
      set(layer loader)
    endif()
    list(FIND layers "${layer}" rank)
  elseif(path MATCHES "^${ROOT}/include/trel/scene\\.h$")
    set(rank 4)
    set(layer scene)
  elseif(path MATCHES "^${ROOT}/include/trel/")
    set(rank 3)
    set(layer engine)
  elseif(path MATCHES "^${ROOT}/include/quim/")
    set(rank 0)
    set(layer geom)
  elseif(path MATCHES "^${ROOT}/([a-z]+)/")
    list(FIND frontends "${CMAKE_MATCH_1}" found)
    if(found GREATER_EQUAL 0)
      set(rank ${frontrank})
      set(layer "${CMAKE_MATCH_1}")
    endif()
  endif()
  set(${out} ${rank} PARENT_SCOPE)
  set(${name} "${layer}" PARENT_SCOPE)
endfunction()

set(sources "")
foreach(top IN ITEMS src ${frontends})
  file(GLOB_RECURSE found LIST_DIRECTORIES false "${ROOT}/${top}/*.h" "${ROOT}/${top}/*.hpp"
       "${ROOT}/${top}/*.inl" "${ROOT}/${top}/*.cpp" "${ROOT}/${top}/*.cc")
  list(APPEND sources ${found})
endforeach()
list(FILTER sources EXCLUDE REGEX "/node_modules/")
list(SORT sources)
set(checked 0)
set(violations 0)
foreach(file IN LISTS sources)
  layerof("${file}" rank from)
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
    set(candidates "${ROOT}/src/${target}")
    foreach(folder IN LISTS exported)
      list(APPEND candidates "${ROOT}/${folder}/${target}")
    endforeach()
    list(APPEND candidates "${ROOT}/include/${target}")
    if(CMAKE_MATCH_1 STREQUAL "\"")
      list(PREPEND candidates "${dir}/${target}")
    endif()
    foreach(candidate IN LISTS candidates)
      if(EXISTS "${candidate}")
        get_filename_component(resolved "${candidate}" ABSOLUTE)
        layerof("${resolved}" included to)
        if(included GREATER_EQUAL 0)
          math(EXPR checked "${checked} + 1")
          # Up the layers, or across from one front end into another.
          if(included GREATER rank OR (included EQUAL frontrank AND NOT from STREQUAL to))
            file(RELATIVE_PATH toname "${ROOT}" "${resolved}")
            message(STATUS "${name} (${from}) includes ${toname} (${to})")
            math(EXPR violations "${violations} + 1")
          endif()
        endif()
        break()
      endif()
    endforeach()
  endforeach()
endforeach()

if(checked EQUAL 0)
  message(FATAL_ERROR "no include of a layer's file found under ${ROOT}: nothing was checked")
endif()
if(NOT violations EQUAL EXPECT)
  message(FATAL_ERROR "${violations} includes point up the layers (expected ${EXPECT}); "
                      "the layers are (tools, web, python) -> (scene, loader, encode) -> engine "
                      "-> raster -> clip -> geom, and front ends do not include one another")
endif()
message(STATUS "${checked} includes checked, ${violations} pointing up the layers")
