# Each library publishes its own folder, and only that, to whoever links it:
# a file includes "layer/name.h" and finds only the layers its library
# depends on, so an include the wrong way across the layers fails to build.
# The folder is reached through a link named after the layer in a directory
# of the library's own.
function(morvex_publish_layer target layer)
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  get_filename_component(parent ${root}/${layer} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${layer} SYMBOLIC)
  get_target_property(kind ${target} TYPE)
  if(kind STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
