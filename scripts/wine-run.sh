#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own prefix, on a virtual display when
# none is set. Usage: wine-run.sh PROGRAM.exe [ARGS...]
# The program's own header picks the Wine: 32-bit Wine for a 32-bit program (the DLL and
# everything that loads it), 64-bit Wine for the 64-bit build of the same sources, which is
# what runs on a kernel that executes no 32-bit programs (see scripts/wine-arch.sh). Each
# kind has a prefix of its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wine-arch.sh"
case "$(pe_machine "$1")" in
  x86-64)
    loader=/usr/lib/wine/wine64
    export WINELOADER=$loader
    export WINESERVER=/usr/lib/wine/wineserver64
    export WINEPREFIX=${KELVRO_WINEPREFIX64:-$root/build/wineprefix64}
    ;;
  i386)
    loader=wine
    export WINEPREFIX=${KELVRO_WINEPREFIX:-$root/build/wineprefix}
    ;;
  *)
    echo "wine-run: $1 is not a Windows program" >&2
    exit 2
    ;;
esac
export WINEDEBUG=${WINEDEBUG:--all}
base_overrides="mscoree=;mshtml="
export WINEDLLOVERRIDES="${base_overrides}${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
server=${WINESERVER:-wineserver}

# Create the prefix once (about 15 s); later runs reuse it.
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/.kelvro-ready" ]; then
    rm -rf "$WINEPREFIX"
    WINEDLLOVERRIDES="$base_overrides" "$loader" wineboot -i > /dev/null 2>&1 || true
    "$server" -w || true
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    ln -sf /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f > /dev/null 2>&1 || true
    "$server" -w || true
    touch "$WINEPREFIX/.kelvro-ready"
  fi
) 9> "$WINEPREFIX.lock"

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$loader" "$@"
fi
exec "$loader" "$@"
