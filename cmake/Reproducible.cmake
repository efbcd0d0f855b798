# The same commit gives the same programs, wherever the tree and the build
# folder lie.
#
# File names the compiler writes (__FILE__, debug information, the
# compilation folder) are made relative: the source tree becomes "." and the
# build folder "build". The build folder usually lies inside the source tree,
# so both maps match its files; GCC tries the maps from the last one given to
# the first and takes the first that matches, so the build folder's map comes
# last to win. (Clang chose differently in some versions; only GCC builds
# the released programs, Linux and mingw-w64 alike.)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options("-ffile-prefix-map=${CMAKE_SOURCE_DIR}=."
                      "-ffile-prefix-map=${CMAKE_BINARY_DIR}=build")
endif()
# The linker writes no time stamp into a Windows program's header (the C
# run-time and Qt DLLs carry fixed ones).
if(WIN32)
  add_link_options(-Wl,--no-insert-timestamp)
endif()
