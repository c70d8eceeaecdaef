# Cross build for 32-bit Windows (x86), the product's own architecture.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ORBEK_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
