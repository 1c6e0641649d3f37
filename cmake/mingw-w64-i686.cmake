# Cross-building for 32-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-i686).
set(TSM_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
