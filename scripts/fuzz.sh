#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer in
# their own tree and runs each one for a short while (FUZZ_SECONDS, default 15).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-15}
cmake -S "$root" -B "$root/build/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKELVRO_FUZZ=ON -DKELVRO_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=undefined" > /dev/null
targets=(fuzz_status_tick fuzz_profile fuzz_gcode fuzz_zmap fuzz_firmware_update)
cmake --build "$root/build/fuzz" -j"$(nproc)" --target "${targets[@]}"
for t in "${targets[@]}"; do
  echo "== $t (${seconds}s)"
  corpus="$root/build/fuzz/corpus/$t"
  mkdir -p "$corpus"
  # Seeds: the shipped machine profile, part programs and point files.
  case $t in
    fuzz_profile) cp "$root"/examples/*.xml "$corpus"/ 2>/dev/null || true ;;
    fuzz_gcode) cp "$root"/examples/*.nc "$corpus"/ 2>/dev/null || true ;;
    fuzz_zmap) cp "$root"/examples/*.zmap "$corpus"/ 2>/dev/null || true ;;
  esac
  "$root/build/fuzz/tests/fuzz/$t" -max_total_time="$seconds" -print_final_stats=0 \
    -rss_limit_mb=4096 "$corpus" 2>&1 | tail -n 3
done
echo "fuzz: no crash in ${#targets[@]} targets"
