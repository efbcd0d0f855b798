# Configures the project in scratch build directories and checks how the
# pass phrase is chosen: a real image file without a pass phrase of its own
# stops the configure with a message saying so; a malformed pass phrase
# stops it with the format message; a real image with a well-formed pass
# phrase configures.
#
#   cmake -DSOURCE_DIR=<project> -DWORK_DIR=<scratch> -DGENERATOR=<generator>
#         -DCXX_COMPILER=<compiler> -P passphrase_configure.cmake

foreach(var SOURCE_DIR WORK_DIR GENERATOR CXX_COMPILER)
  if(NOT ${var})
    message(FATAL_ERROR "${var} is not given")
  endif()
endforeach()

# Any existing file stands in for the image: the configure does not read it.
set(image_file ${CMAKE_CURRENT_LIST_FILE})

# Configures into a fresh directory; sets <prefix>_result and <prefix>_output.
function(configure prefix)
  set(binary_dir ${WORK_DIR}/${prefix})
  file(REMOVE_RECURSE ${binary_dir})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${binary_dir} -G ${GENERATOR}
            -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DMORVEX_BUILD_TESTS=OFF -DMORVEX_BUILD_BENCH=OFF
            -DMORVEX_BUILD_APP=OFF -DMORVEX_FUZZ=OFF -DMORVEX_IMAGE_FILE=${image_file} ${ARGN}
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
  file(REMOVE_RECURSE ${binary_dir})
  set(${prefix}_result ${result} PARENT_SCOPE)
  set(${prefix}_output "${output}" PARENT_SCOPE)
endfunction()

set(failures "")
# The message is matched with its line breaks and indents taken out, as
# CMake wraps long messages.
function(squeeze text out)
  string(REGEX REPLACE "[ \t\r\n]+" " " text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(missing_message
    "MORVEX_IMAGE_FILE is set but MORVEX_PASS_PHRASE is not: a real image needs its own pass phrase (16 hexadecimal digits); the demo pass phrase is only for the demo firmware.")
set(format_message "MORVEX_PASS_PHRASE must be 16 hexadecimal digits")

configure(missing)
squeeze("${missing_output}" missing_text)
string(FIND "${missing_text}" "${missing_message}" at)
if(missing_result EQUAL 0)
  string(APPEND failures "\na real image without a pass phrase configured")
endif()
if(at EQUAL -1)
  string(APPEND failures "\na real image without a pass phrase did not say why:\n${missing_output}")
endif()

configure(malformed -DMORVEX_PASS_PHRASE=0123456789ABCDEG)
squeeze("${malformed_output}" malformed_text)
string(FIND "${malformed_text}" "${format_message}" at_format)
string(FIND "${malformed_text}" "MORVEX_PASS_PHRASE is not" at_missing)
if(malformed_result EQUAL 0 OR at_format EQUAL -1 OR NOT at_missing EQUAL -1)
  string(APPEND failures "\na malformed pass phrase was not refused for its format:\n${malformed_output}")
endif()

configure(given -DMORVEX_PASS_PHRASE=0123456789abcdef)
if(NOT given_result EQUAL 0)
  string(APPEND failures "\na real image with its own pass phrase did not configure:\n${given_output}")
endif()

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
message(STATUS "pass phrase choice at configure time: as expected")
