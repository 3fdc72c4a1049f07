#!/usr/bin/env bash
# Builds the whole native tree with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer in build/sanitize: every test program and tool, and the libFuzzer
# targets (the same instrumented code serves both, so the tree is built once). With --build
# only builds; otherwise it then runs the whole native suite there. Any sanitizer report
# fails the test that triggered it: undefined behaviour aborts, leaks are reported at exit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tree="$root/build/sanitize"
cmake -S "$root" -B "$tree" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKELVRO_FUZZ=ON -DKELVRO_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" > /dev/null
cmake --build "$tree" -j"$(nproc)"
[ "${1:-}" = --build ] && exit 0
. "$root/scripts/sanitizer-options.sh"
ctest --test-dir "$tree" --output-on-failure -j"$(nproc)"
