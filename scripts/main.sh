#!/usr/bin/env bash
# The main job: builds everything and runs the plugin end to end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# setup.sh exits 3 when only the Windows-side toolchain could not be installed: then the
# simulation still runs and the DLL part is skipped, saying why.
setup_status=0
"$root/scripts/setup.sh" || setup_status=$?
case $setup_status in
  0) "$root/scripts/build.sh" ;;
  3) "$root/scripts/build.sh" --native-only ;;
  *) exit 1 ;;
esac
echo "== kelvro-sim: examples/engraving.nc through the plugin on the simulated controller =="
"$root/build/native/tools/kelvro-sim" run "$root/examples/engraving.nc" \
  --plot "$root/build/engraving.png"
if [ "$setup_status" -ne 0 ]; then
  echo "== kelvro_drv.dll under Wine: skipped, because the Windows-side toolchain could not be installed:"
  sed 's/^setup: //' "$root/build/windows-toolchain.missing" 2>/dev/null || echo "(no reason recorded)"
  exit 0
fi
. "$root/scripts/wine-arch.sh"
host="$root/build/win32/win32/kelvro-host.exe"
if ! runs_32bit_programs; then
  echo "== This kernel runs no 32-bit programs, so 32-bit Wine cannot start here: the runs below"
  echo "   use the 64-bit build of the same sources (build/win64) under 64-bit Wine. The plugin"
  echo "   to install is build/win32/win32/kelvro_drv.dll (32-bit), built but not run here."
  host="$root/build/win64/win32/kelvro-host.exe"
fi
echo "== kelvro_drv.dll in the stand-in host under Wine, no controller attached =="
"$root/scripts/wine-run.sh" "$host" --seconds 2 2>/dev/null | python3 -m json.tool
echo "== kelvro_drv.dll under Wine, talking to the simulated controller through stand-in WinUSB =="
WINEDLLOVERRIDES="winusb,setupapi=n" "$root/scripts/wine-run.sh" "$host" --seconds 2 2>/dev/null |
  python3 -m json.tool
