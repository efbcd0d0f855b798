# The Windows resources of the programs: the application icon (a multi-size
# .ico made from the SVG artwork at build time), the version record and the
# manifest, compiled by windres into each program.
#
#   morvex_windows_resources(<target> "<file description>")
# Does nothing on other systems.
if(NOT WIN32)
  function(morvex_windows_resources)
  endfunction()
  return()
endif()

enable_language(RC)
find_program(MORVEX_RSVG_CONVERT rsvg-convert REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(morvex_rc_dir ${CMAKE_BINARY_DIR}/windows)
set(morvex_rc_source ${CMAKE_CURRENT_LIST_DIR}/../packaging/windows)
set(MORVEX_RC_ICON ${morvex_rc_dir}/appicon.ico)
set(MORVEX_RC_MANIFEST ${morvex_rc_dir}/morvex.manifest)

# The sizes Explorer, the task bar and the Start menu ask for at 100 % to
# 200 %, and the 256-pixel tile of the large views.
set(morvex_icon_svg ${PROJECT_SOURCE_DIR}/src/app/artwork/appicon.svg)
add_custom_command(OUTPUT ${MORVEX_RC_ICON}
  COMMAND ${Python3_EXECUTABLE} ${morvex_rc_source}/make-ico.py ${morvex_icon_svg} ${MORVEX_RC_ICON}
          16 20 24 32 40 48 64 256
  DEPENDS ${morvex_icon_svg} ${morvex_rc_source}/make-ico.py
  VERBATIM)
add_custom_target(morvex_windows_icon DEPENDS ${MORVEX_RC_ICON})

# Versions in the record: four numbers, the missing ones 0.
set(morvex_rc_numbers ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} ${PROJECT_VERSION_PATCH} ${PROJECT_VERSION_TWEAK})
set(MORVEX_RC_VERSION_COMMAS "")
foreach(number IN LISTS morvex_rc_numbers)
  if(number STREQUAL "")
    set(number 0)
  endif()
  list(APPEND MORVEX_RC_VERSION_COMMAS ${number})
endforeach()
list(SUBLIST MORVEX_RC_VERSION_COMMAS 0 4 MORVEX_RC_VERSION_COMMAS)
list(JOIN MORVEX_RC_VERSION_COMMAS "." MORVEX_RC_VERSION_DOTS)
list(JOIN MORVEX_RC_VERSION_COMMAS "," MORVEX_RC_VERSION_COMMAS)
configure_file(${morvex_rc_source}/morvex.manifest ${MORVEX_RC_MANIFEST} @ONLY)

# A C string constant of the program's sources, so the record says what the
# windows say.
function(morvex_source_text out file name)
  file(STRINGS ${PROJECT_SOURCE_DIR}/${file} line REGEX "${name} = \"")
  string(REGEX REPLACE ".*${name} = \"([^\"]*)\".*" "\\1" text "${line}")
  if(text STREQUAL "" OR text STREQUAL line)
    message(FATAL_ERROR "No text ${name} in ${file}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
morvex_source_text(MORVEX_RC_COPYRIGHT src/app/about.h MakerNoticeText)
morvex_source_text(MORVEX_RC_PRODUCT src/app/flashapp.h ProgramTitle)
set(MORVEX_RC_COMPANY "Morvex Instruments")
# A quote inside a resource string is written twice.
string(REPLACE "\"" "\"\"" MORVEX_RC_IMAGE "${MORVEX_IMAGE_NAME}")

function(morvex_windows_resources target description)
  set(MORVEX_RC_NAME ${target})
  string(REPLACE "\"" "\"\"" MORVEX_RC_DESCRIPTION "${description}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${morvex_rc_source}/program.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${MORVEX_RC_ICON};${MORVEX_RC_MANIFEST}")
  add_dependencies(${target} morvex_windows_icon)
endfunction()
