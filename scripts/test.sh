#!/usr/bin/env bash
# Installs what is missing, builds both trees and runs every test: the native suite
# (unit, scenario) and the Windows-side suite under 32-bit Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
status=0
ctest --test-dir "$root/build/native" --output-on-failure -j"$(nproc)" || status=1
ctest --test-dir "$root/build/win32" --output-on-failure || status=1
exit $status
