# The Pico SDK and TinyUSB for the firmware-rp2040 preset, set up before
# project() as the SDK wants (its platform, board and CMake functions).
# firmware/fetch-sdk.sh fetches them once into TOLVAREN_PICO_CACHE; after
# that this is a no-op that only finds them.
set(TOLVAREN_PICO_CACHE "${CMAKE_SOURCE_DIR}/build/pico-sdk" CACHE PATH
    "Where firmware/fetch-sdk.sh keeps the Pico SDK and TinyUSB it fetched")
# The SDK's CMake files pass its folder and the build folder in lists and
# -Wl options, which a comma or a semicolon would cut apart.
foreach(folder TOLVAREN_PICO_CACHE CMAKE_BINARY_DIR)
  if(${folder} MATCHES "[,;]")
    message(FATAL_ERROR "The Pico SDK can't build with a path that has a comma or a semicolon, as "
                        "${${folder}} (${folder}) has: choose another folder")
  endif()
endforeach()
execute_process(COMMAND sh "${CMAKE_CURRENT_LIST_DIR}/fetch-sdk.sh" "${TOLVAREN_PICO_CACHE}"
                OUTPUT_VARIABLE fetched OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE fetch_result)
if(NOT fetch_result EQUAL 0)
  message(FATAL_ERROR "The Pico SDK could not be fetched (above). Run firmware/fetch-sdk.sh "
                      "${TOLVAREN_PICO_CACHE} to try again, then configure again.")
endif()
# Its last line is the SDK's folder; any before it say what it fetched.
string(FIND "${fetched}" "\n" last_break REVERSE)
math(EXPR sdk_start "${last_break} + 1")
string(SUBSTRING "${fetched}" ${sdk_start} -1 sdk)
if(last_break GREATER 0)
  string(SUBSTRING "${fetched}" 0 ${last_break} notes)
  message(STATUS "${notes}")
endif()

set(PICO_SDK_PATH "${sdk}")
get_filename_component(PICO_TINYUSB_PATH "${sdk}/lib/tinyusb" REALPATH)
set(PICO_PLATFORM rp2040)
# The Pico's board file: 2 MB of flash behind a W25Q080-style boot2, as on
# the RP2040-Zero too. No pin of the board's own (its LED) is used.
set(PICO_BOARD pico)
# No picotool (Debian 13's needs trixie's libc): firmware/make_uf2.py packs
# the UF2.
set(PICO_NO_PICOTOOL 1)
include("${PICO_SDK_PATH}/pico_sdk_init.cmake")
