# The firmware's rules that need no chip: what a report may be and what it
# shows on the pins, the sweep's steps, the suspend and resume state, the
# serial number's text. The firmware builds them for the RP2040; the native
# preset builds them for their unit tests (tests/unit).
add_library(tolvaren_lamp_rules STATIC
  ${CMAKE_CURRENT_LIST_DIR}/lamp_power.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lamp_report.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lamp_serial.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lamp_sweep.cpp)
tolvaren_program_code(tolvaren_lamp_rules)
