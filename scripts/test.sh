#!/usr/bin/env bash
# Installs what is missing, builds both trees and runs every test: the native suite
# (unit and scenario tests, the fault matrix), the same suite again built with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer, short fuzzing runs of every fuzz target in
# that tree, and the Windows-side suite of the real DLL under 32-bit Wine. Ends with one line:
# "N passed, M failed".
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
if [ "$setup_status" -eq 0 ]; then
  run_ctest "$root/build/win32"
else
  echo "tests: the Windows-side tests could not run: $(sed 's/^setup: //' "$root/build/windows-toolchain.missing" 2>/dev/null || echo 'the Windows-side toolchain is missing.')"
  failed=$((failed + 1))
fi

echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
