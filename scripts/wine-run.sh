#!/usr/bin/env bash
# Runs a Windows program under 32-bit Wine in the project's own prefix, on a virtual
# display when none is set. Usage: wine-run.sh PROGRAM.exe [ARGS...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${KELVRO_WINEPREFIX:-$root/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
base_overrides="mscoree=;mshtml="
export WINEDLLOVERRIDES="${base_overrides}${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

# Create the prefix once (about 15 s); later runs reuse it.
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/.kelvro-ready" ]; then
    rm -rf "$WINEPREFIX"
    WINEDLLOVERRIDES="$base_overrides" wineboot -i > /dev/null 2>&1 || true
    wineserver -w || true
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    ln -sf /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f > /dev/null 2>&1 || true
    wineserver -w || true
    touch "$WINEPREFIX/.kelvro-ready"
  fi
) 9> "$WINEPREFIX.lock"

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" wine "$@"
fi
exec wine "$@"
