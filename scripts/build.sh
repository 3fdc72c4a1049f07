#!/usr/bin/env bash
# Builds the native tree (core, simulator, tests, tools, benchmarks) and, unless called with
# --native-only, the win32 tree (kelvro_drv.dll, kelvro-host.exe, Windows-side tests).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$root/build/native" -j"$jobs"
[ "${1:-}" = --native-only ] && exit 0
cmake -S "$root" -B "$root/build/win32" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" > /dev/null
cmake --build "$root/build/win32" -j"$jobs"
