# Cross build for 64-bit Windows: the same sources as the product, for running under Wine (this
# machine's Wine runs 64-bit programs only).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ORBEK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ORBEK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORBEK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ORBEK_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ORBEK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
