# The 32-bit Windows build: the programs users get.
set(TOLVAREN_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
