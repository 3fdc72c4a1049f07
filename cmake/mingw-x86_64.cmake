# Cross-building the Windows side for x86-64 with MinGW-w64 on Linux: the build the
# Windows-side suite runs on where the kernel runs no 32-bit programs.
set(KELVRO_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
