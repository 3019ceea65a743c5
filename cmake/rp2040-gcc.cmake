# The lamp's firmware: the RP2040's Cortex-M0+ with Debian's
# gcc-arm-none-eabi and newlib. The Pico SDK's own CMake files (added by
# firmware/pico_sdk.cmake) do the rest: its platform, linker script, boot2.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR cortex-m0plus)
set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
set(CMAKE_ASM_COMPILER arm-none-eabi-gcc)
set(CMAKE_OBJCOPY arm-none-eabi-objcopy CACHE FILEPATH "")
set(CMAKE_OBJDUMP arm-none-eabi-objdump CACHE FILEPATH "")
set(CMAKE_SIZE arm-none-eabi-size CACHE FILEPATH "")
foreach(language C CXX ASM)
  set(CMAKE_${language}_FLAGS_INIT "-mcpu=cortex-m0plus -mthumb")
endforeach()
# No build id: it would be the only note in the image that no source asked for.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--build-id=none")
# Nothing to run on the host: the compiler checks only compile.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
