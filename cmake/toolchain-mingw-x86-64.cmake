# Cross build for 64-bit Windows: the same sources as the product, for running under Wine (this
# machine's Wine runs 64-bit programs only).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ORBEK_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
