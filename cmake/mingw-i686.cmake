# Cross-building the 32-bit Windows DLL (the plugin users install) with MinGW-w64 on Linux.
set(KELVRO_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
