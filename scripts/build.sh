#!/usr/bin/env bash
# Builds the native tree (core, simulator, tests, tools, benchmarks) and, unless called with
# --native-only, the win32 tree (kelvro_drv.dll, kelvro-host.exe, Windows-side tests). Where
# the kernel runs no 32-bit programs, it also builds the same Windows side for x86-64 in
# build/win64, the tree the Windows-side suite then runs in under 64-bit Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wine-arch.sh"
jobs=$(nproc)
cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$root/build/native" -j"$jobs"
[ "${1:-}" = --native-only ] && exit 0
cmake -S "$root" -B "$root/build/win32" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" > /dev/null
cmake --build "$root/build/win32" -j"$jobs"
runs_32bit_programs && exit 0
cmake -S "$root" -B "$root/build/win64" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" > /dev/null
cmake --build "$root/build/win64" -j"$jobs"
