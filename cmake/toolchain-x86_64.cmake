# Cross-compiling the product for 64-bit Windows with MinGW-w64 (what runs here under wine64).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
