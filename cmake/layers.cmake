# The product's layers, lowest first: each folder may include and call only itself and the folders
# before it (host also its dialog templates' ids in resources/).
#   diag     the log and small helpers
#   ks       the KS device layer
#   engine   the playback engine
#   host     the plug-in's surface: entry points, settings store, dialogs, status window
# Included by the top CMakeLists.txt, it adds two checks to every build: the includes of each
# folder's files (this file run as a script), and a program per lower layer linked from all of that
# layer's objects and only the layers below it, so that a call up the layers fails to link even
# where no product program pulls the object that makes it.
set(QUELLOR_LAYERS diag ks engine host)
set(QUELLOR_LAYER_EXTRA_host resources)

if(CMAKE_SCRIPT_MODE_FILE)
  cmake_policy(VERSION 3.25)
  # cmake -DSOURCE_DIR=... -P layers.cmake: fails naming each include that reaches up.
  set(allowed "")
  set(wrong "")
  foreach(layer IN LISTS QUELLOR_LAYERS)
    list(APPEND allowed ${layer})
    file(GLOB files ${SOURCE_DIR}/${layer}/*.cpp ${SOURCE_DIR}/${layer}/*.h)
    foreach(file IN LISTS files)
      file(STRINGS ${file} includes REGEX "^#include \"[a-z_]+/")
      foreach(line IN LISTS includes)
        string(REGEX REPLACE "^#include \"([a-z_]+)/.*" "\\1" folder "${line}")
        if(NOT folder IN_LIST allowed AND NOT folder IN_LIST QUELLOR_LAYER_EXTRA_${layer})
          file(RELATIVE_PATH name ${SOURCE_DIR} ${file})
          list(APPEND wrong "${name}: ${line}")
        endif()
      endforeach()
    endforeach()
  endforeach()
  if(wrong)
    list(JOIN wrong "\n  " text)
    message(FATAL_ERROR "Includes up the layers (${QUELLOR_LAYERS}, lowest first):\n  ${text}")
  endif()
  return()
endif()

set(layer_sources "")
foreach(layer IN LISTS QUELLOR_LAYERS)
  file(GLOB files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${layer}/*.cpp ${CMAKE_SOURCE_DIR}/${layer}/*.h)
  list(APPEND layer_sources ${files})
endforeach()
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/layers/includes.checked
                   COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
                           -P ${CMAKE_CURRENT_LIST_FILE}
                   COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/layers/includes.checked
                   DEPENDS ${layer_sources} ${CMAKE_CURRENT_LIST_FILE} VERBATIM)
add_custom_target(layer_includes ALL DEPENDS ${CMAKE_BINARY_DIR}/layers/includes.checked)

# layer_<name>: every object of quellor_<name> with the layers below it, in a program of its own.
foreach(layer diag ks engine)
  add_executable(layer_${layer} ${CMAKE_SOURCE_DIR}/cmake/layer_main.cpp
                                $<TARGET_OBJECTS:quellor_${layer}>)
  target_link_libraries(layer_${layer} PRIVATE $<TARGET_PROPERTY:quellor_${layer},LINK_LIBRARIES>)
  set_target_properties(layer_${layer} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/layers)
  add_dependencies(layer_${layer} layer_includes)
endforeach()
