# The 64-bit Windows build, tested under 64-bit Wine.
set(TOLVAREN_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
