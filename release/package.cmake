# Makes the release: OUT_DIR/tolvaren-VERSION-win32.zip of FILES and a
# README.txt in CRLF lines, and OUT_DIR/SHA256SUMS for the zip and each file
# in it. FILES include FIRMWARE, the lamp's UF2, which another tree builds.
# Run by the package target of a 32-bit build:
#   cmake -DSOURCE_DIR=... -DOUT_DIR=... -DVERSION=1.0.0 -DFILES=a.exe;b.exe
#         -DFIRMWARE=.../tolvaren-lamp.uf2 -DPYTHON=python3 -P package.cmake
# Every entry carries the time SOURCE_DATE_EPOCH gives (the environment's,
# else the commit's), so that the zip depends on the sources alone.
foreach(variable SOURCE_DIR OUT_DIR VERSION FILES FIRMWARE PYTHON)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "package.cmake: ${variable} is not given; build the package target instead")
  endif()
endforeach()
if(NOT EXISTS "${FIRMWARE}")
  message(FATAL_ERROR "package.cmake: the lamp's firmware ${FIRMWARE} is not built, and the release carries "
                      "it. Build it first: cmake --preset firmware-rp2040 && cmake --build --preset "
                      "firmware-rp2040 (or set TOLVAREN_FIRMWARE_UF2 to where it is)")
endif()

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C "${SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE git_result ERROR_QUIET)
  if(NOT git_result EQUAL 0)
    message(FATAL_ERROR "package.cmake: SOURCE_DATE_EPOCH is not set and ${SOURCE_DIR} is no git "
                        "checkout to take the commit's time from; set SOURCE_DATE_EPOCH to the "
                        "release's time in seconds since 1970")
  endif()
endif()
if(NOT epoch MATCHES "^[0-9]+$")
  message(FATAL_ERROR "package.cmake: SOURCE_DATE_EPOCH '${epoch}' is not a number of seconds")
endif()

set(stage "${OUT_DIR}/stage")
file(REMOVE_RECURSE "${stage}")
file(MAKE_DIRECTORY "${stage}")
set(RELEASE_VERSION "${VERSION}")
configure_file("${SOURCE_DIR}/release/README.txt.in" "${stage}/README.txt" @ONLY NEWLINE_STYLE CRLF)

set(zip_name "tolvaren-${VERSION}-win32.zip")
set(zip "${OUT_DIR}/${zip_name}")
set(entries ${FILES} "${stage}/README.txt")
execute_process(COMMAND "${PYTHON}" "${SOURCE_DIR}/release/make_zip.py" --epoch ${epoch} --out "${zip}"
                        ${entries}
                RESULT_VARIABLE zip_result)
if(NOT zip_result EQUAL 0)
  message(FATAL_ERROR "package.cmake: making ${zip} failed (above)")
endif()

file(SHA256 "${zip}" hash)
set(sums "${hash}  ${zip_name}\n")
foreach(entry ${entries})
  file(SHA256 "${entry}" hash)
  get_filename_component(name "${entry}" NAME)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE "${OUT_DIR}/SHA256SUMS" "${sums}")
file(REMOVE_RECURSE "${stage}")
message(STATUS "package: ${zip}")
