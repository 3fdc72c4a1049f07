#!/usr/bin/env bash
# The main job: builds everything and runs the plugin end to end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
echo "== kelvro-sim: examples/engraving.nc through the plugin on the simulated controller =="
"$root/build/native/tools/kelvro-sim" run "$root/examples/engraving.nc" \
  --plot "$root/build/engraving.png"
host="$root/build/win32/win32/kelvro-host.exe"
echo "== kelvro_drv.dll in the stand-in host under Wine, no controller attached =="
"$root/scripts/wine-run.sh" "$host" --seconds 2 2>/dev/null | python3 -m json.tool
echo "== kelvro_drv.dll under Wine, talking to the simulated controller through stand-in WinUSB =="
WINEDLLOVERRIDES="winusb,setupapi=n" "$root/scripts/wine-run.sh" "$host" --seconds 2 2>/dev/null |
  python3 -m json.tool
