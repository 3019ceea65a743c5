# MinGW-w64 cross build for Windows, for the processor that the toolchain
# file including this one names in TOLVAREN_MINGW_PROCESSOR (x86_64, i686).
# The -posix compilers carry the thread support GoogleTest needs;
# everything links statically.
set(TOLVAREN_MINGW_TRIPLE ${TOLVAREN_MINGW_PROCESSOR}-w64-mingw32)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TOLVAREN_MINGW_PROCESSOR})
set(CMAKE_C_COMPILER ${TOLVAREN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOLVAREN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TOLVAREN_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOLVAREN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
