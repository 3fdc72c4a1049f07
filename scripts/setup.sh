#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (run as root). Idempotent: it only
# installs what is missing.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }

packages=(cmake make g++ googletest libgtest-dev libgmock-dev libbenchmark-dev
          libpugixml-dev python3 gnuplot-nox clang libclang-rt-14-dev
          g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
          wine wine32:i386 xvfb xauth fonts-wine)
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
for p in "${packages[@]}"; do have "$p" || need+=("$p"); done
if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${need[@]}"
fi
