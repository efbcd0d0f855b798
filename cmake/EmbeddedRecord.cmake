# What the program's stored image record is made from, chosen from the
# cache variables MORVEX_IMAGE_FILE and MORVEX_PASS_PHRASE:
#
#   MORVEX_DEMO_IMAGE_PATH       where the build writes the demo firmware
#                                (always, for tests and the simulated unit)
#   MORVEX_EMBEDDED_PLAIN_IMAGE  the plain image the record holds: the file
#                                given, or the demo firmware
#   MORVEX_EMBEDDED_PASS_PHRASE  the pass phrase it is enciphered under
#                                (16 hexadecimal digits)
#
# src/image builds the record from these; tests compare against them.
# Included by the top-level CMakeLists.txt straight after the cache
# variables are declared, so that a wrong choice stops the configure before
# anything else is looked for.

# The demo pass phrase: the demo firmware's record is enciphered under it
# when MORVEX_PASS_PHRASE is empty. It is in the public sources, so it
# protects nothing; a real image must come with a pass phrase of its own.
set(MORVEX_DEMO_PASS_PHRASE "B83E05C7194DA26F")

if(MORVEX_PASS_PHRASE)
  set(MORVEX_EMBEDDED_PASS_PHRASE "${MORVEX_PASS_PHRASE}")
elseif(MORVEX_IMAGE_FILE)
  message(FATAL_ERROR "MORVEX_IMAGE_FILE is set but MORVEX_PASS_PHRASE is not: a real image needs its own "
                      "pass phrase (16 hexadecimal digits); the demo pass phrase is only for the demo firmware.")
else()
  set(MORVEX_EMBEDDED_PASS_PHRASE "${MORVEX_DEMO_PASS_PHRASE}")
endif()

if(NOT MORVEX_EMBEDDED_PASS_PHRASE MATCHES "^[0-9A-Fa-f]+$")
  message(FATAL_ERROR "MORVEX_PASS_PHRASE must be 16 hexadecimal digits")
endif()
string(LENGTH "${MORVEX_EMBEDDED_PASS_PHRASE}" _morvex_pass_phrase_length)
if(NOT _morvex_pass_phrase_length EQUAL 16)
  message(FATAL_ERROR "MORVEX_PASS_PHRASE must be 16 hexadecimal digits")
endif()
unset(_morvex_pass_phrase_length)

set(MORVEX_DEMO_IMAGE_PATH ${CMAKE_BINARY_DIR}/firmware/demo-4620.bin)
if(MORVEX_IMAGE_FILE)
  set(MORVEX_EMBEDDED_PLAIN_IMAGE ${MORVEX_IMAGE_FILE})
else()
  set(MORVEX_EMBEDDED_PLAIN_IMAGE ${MORVEX_DEMO_IMAGE_PATH})
endif()
