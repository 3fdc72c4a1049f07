#!/usr/bin/env bash
# Runs every libFuzzer target of the sanitizer tree (scripts/sanitize.sh --build makes it)
# from its seed corpus in tests/fuzz/corpus, for FUZZ_SECONDS seconds each (default 15), or
# for FUZZ_RUNS inputs each when that is set. The kept corpus is copied first, so a run never
# changes the repository; what a run adds stays in build/sanitize/corpus/<target>. Prints
# each target's inputs and rate; fails on the first finding (the crash file is kept there).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tree="$root/build/sanitize"
seconds=${FUZZ_SECONDS:-15}
targets=(fuzz_status_decode fuzz_status_tick fuzz_profile fuzz_profile_dom fuzz_gcode fuzz_zmap
  fuzz_firmware_update fuzz_curve_file)
[ -n "${FUZZ_TARGETS:-}" ] && read -r -a targets <<< "$FUZZ_TARGETS"
"$root/scripts/sanitize.sh" --build > /dev/null
if [ -n "${FUZZ_RUNS:-}" ]; then limit=(-runs="$FUZZ_RUNS"); else limit=(-max_total_time="$seconds"); fi
for t in "${targets[@]}"; do
  corpus="$tree/corpus/$t"
  mkdir -p "$corpus" "$tree/findings"
  cp "$root/tests/fuzz/corpus/$t"/* "$corpus"/
  log="$tree/findings/$t.log"
  if ! "$tree/tests/fuzz/$t" "${limit[@]}" -print_final_stats=1 -rss_limit_mb=4096 \
      -artifact_prefix="$tree/findings/$t-" "$corpus" > "$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz: $t found a fault; its input is in $tree/findings/"
    exit 1
  fi
  runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log" | tail -n 1)
  rate=$(sed -nE 's/^stat::average_exec_per_sec: *([0-9]+)/\1/p' "$log" | tail -n 1)
  echo "fuzz: $t: ${runs:-?} inputs, ${rate:-?} per second, no finding"
done
echo "fuzz: no finding in ${#targets[@]} targets"
