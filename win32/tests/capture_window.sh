#!/usr/bin/env bash
# Captures the window with the given title on $DISPLAY into a PNG file (ImageMagick
# `import -window` on the id that `xdotool search --name` finds). Waits up to TIMEOUT
# seconds (default 10) for the window to appear. Prints the file name.
# Usage: capture_window.sh TITLE OUT.png [TIMEOUT]
set -euo pipefail
title=$1
out=$2
timeout=${3:-10}
end=$((SECONDS + timeout))
id=""
while [ -z "$id" ]; do
  id=$(xdotool search --name "^${title}\$" 2>/dev/null | head -n 1 || true)
  if [ -z "$id" ]; then
    if [ "$SECONDS" -ge "$end" ]; then
      echo "capture_window: no window named '$title' on $DISPLAY" >&2
      exit 1
    fi
    sleep 0.1
  fi
done
mkdir -p "$(dirname "$out")"
import -window "$id" "$out"
echo "$out"
