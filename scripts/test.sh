#!/usr/bin/env bash
# Installs what is missing, builds both trees and runs every test: the native suite
# (unit and scenario tests, the fault matrix), the same suite again built with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer, short fuzzing runs of every fuzz target in
# that tree, and the Windows-side suite of the real DLL under Wine (32-bit Wine, or the
# 64-bit build under 64-bit Wine where the kernel runs no 32-bit programs). Ends with one
# line: "N passed, M failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# setup.sh exits 3 when only the Windows-side toolchain could not be installed: the native
# suite still runs, and the run fails saying why the rest could not.
"$root/scripts/setup.sh"
setup_status=$?
case $setup_status in
  0) "$root/scripts/build.sh" || exit 1 ;;
  3) "$root/scripts/build.sh" --native-only || exit 1 ;;
  *) exit 1 ;;
esac

passed=0
failed=0
# Runs one ctest tree and adds its counts to the totals.
run_ctest() {
  local log
  log=$(mktemp)
  ctest --test-dir "$1" --output-on-failure "${@:2}" 2>&1 | tee "$log"
  local line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))
  else
    bad=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<< "$line")
    total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<< "$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  fi
  rm -f "$log"
}

run_ctest "$root/build/native" -j"$(nproc)"
if "$root/scripts/sanitize.sh" --build; then
  . "$root/scripts/sanitizer-options.sh"
  run_ctest "$root/build/sanitize" -j"$(nproc)"
else
  echo "tests: the sanitizer tree did not build"
  failed=$((failed + 1))
fi
if "$root/scripts/fuzz.sh"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
. "$root/scripts/wine-arch.sh"
if [ "$setup_status" -eq 0 ] && runs_32bit_programs; then
  run_ctest "$root/build/win32"
elif [ "$setup_status" -eq 0 ]; then
  # No 32-bit Wine on this kernel: the 32-bit DLL's static checks run on the DLL itself, the
  # rest of the Windows-side suite on the 64-bit build of the same sources.
  echo "tests: this kernel runs no 32-bit programs; the Windows-side suite runs on the 64-bit build (build/win64) under 64-bit Wine"
  run_ctest "$root/build/win32" -R '^dll_exports_and_imports$'
  run_ctest "$root/build/win64"
else
  echo "tests: the Windows-side tests could not run: $(sed 's/^setup: //' "$root/build/windows-toolchain.missing" 2>/dev/null || echo 'the Windows-side toolchain is missing.')"
  failed=$((failed + 1))
fi

echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
