#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (run as root). Idempotent: it only
# installs what is missing, and only from the Debian packages.
#
# Mirrors are sometimes mid-sync: one index of `apt-get update` fails, and apt can then no
# longer pair 32-bit libraries with their installed 64-bit twins. So a failed update is
# retried and then only warned about, and a failed install is tried again with the main
# suite as the target release.
#
# Exit status:
#   0  everything is installed;
#   3  the native toolchain is installed, the Windows-side one (MinGW, Wine, Xvfb)
#      is not: the reason is printed and kept in build/windows-toolchain.missing, so that
#      the callers can still build and run the native part and say why the rest was skipped;
#   1  the native toolchain could not be installed (the reason is printed).
#
# KELVRO_APT_ATTEMPTS (default 3) and KELVRO_APT_PAUSE (seconds, default 5) set the update
# retries; the set-up test uses them with a stub apt-get.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
missing_note="$root/build/windows-toolchain.missing"
attempts=${KELVRO_APT_ATTEMPTS:-3}
pause=${KELVRO_APT_PAUSE:-5}

native_packages=(cmake make g++ googletest libgtest-dev libgmock-dev libbenchmark-dev
                 libpugixml-dev libpng-dev python3 gnuplot-nox clang libclang-rt-14-dev)
# The x86-64 MinGW and 64-bit Wine run the Windows-side suite on a 64-bit build where the
# kernel runs no 32-bit programs (scripts/wine-arch.sh).
windows_packages=(g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
                  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
                  wine wine32:i386 wine64 xvfb xauth fonts-wine imagemagick xdotool)

have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }

# Prints the members of the named array that are not installed.
missing_of() {
  local -n list=$1
  local p
  for p in "${list[@]}"; do have "$p" || printf '%s\n' "$p"; done
}

main_suite() {
  local codename=""
  if [ -r /etc/os-release ]; then
    codename=$(. /etc/os-release && printf '%s' "${VERSION_CODENAME:-}")
  fi
  printf '%s' "${codename:-bookworm}"
}

# Refreshes the package index, a few times if an index fails; a partial failure is a
# warning: the install below may still succeed from what did arrive.
update_index() {
  local i log
  log=$(mktemp)
  for ((i = 1; i <= attempts; i++)); do
    if apt-get update -q > "$log" 2>&1 && ! grep -qE '^(E|W): (Failed to fetch|Some index files)' "$log"; then
      rm -f "$log"
      return 0
    fi
    if [ "$i" -lt "$attempts" ]; then
      echo "setup: apt-get update failed (attempt $i of $attempts), retrying in ${pause}s"
      sleep "$pause"
    fi
  done
  echo "setup: warning: the package index could not be refreshed completely; going on with what arrived:"
  grep -E '^(E|W):' "$log" | sed 's/^/setup:   /'
  rm -f "$log"
  return 0
}

# The reason for the last failed install, in one paragraph: apt's error lines and the
# dependency lines it could not satisfy.
last_reason=""
install_packages() {
  local log
  log=$(mktemp)
  export DEBIAN_FRONTEND=noninteractive
  if apt-get install -y -q --no-install-recommends "$@" > "$log" 2>&1; then
    rm -f "$log"
    return 0
  fi
  local suite
  suite=$(main_suite)
  echo "setup: the install failed; trying again with the main suite ($suite) as the target release"
  if apt-get install -y -q --no-install-recommends -t "$suite" "$@" > "$log" 2>&1; then
    rm -f "$log"
    return 0
  fi
  last_reason=$(grep -E '^(E:| [^ ].* : |  +(Depends|PreDepends|Conflicts|Breaks):)' "$log" |
                sed -E 's/^ +//' | tr '\n' ' ' | sed -E 's/ +/ /g; s/ $//')
  [ -n "$last_reason" ] || last_reason=$(tail -n 3 "$log" | tr '\n' ' ')
  rm -f "$log"
  return 1
}

# Says in one paragraph which packages could not be installed and why.
report_failure() {
  local what=$1
  shift
  echo "setup: could not install the $what ($*). apt-get said: $last_reason"
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi

mapfile -t need_native < <(missing_of native_packages)
mapfile -t need_windows < <(missing_of windows_packages)
need=("${need_native[@]}" "${need_windows[@]}")
mkdir -p "$root/build"
if [ ${#need[@]} -eq 0 ]; then
  rm -f "$missing_note"
  exit 0
fi

echo "setup: installing ${need[*]}"
update_index
if install_packages "${need[@]}"; then
  rm -f "$missing_note"
  exit 0
fi

# One step failed: find out which part cannot be installed, so that the native part can
# still be built when only the Windows-side toolchain is the trouble.
combined_reason=$last_reason
if [ ${#need_native[@]} -gt 0 ]; then
  if ! install_packages "${need_native[@]}"; then
    report_failure "native build tools" "${need_native[@]}"
    exit 1
  fi
fi
if [ ${#need_windows[@]} -eq 0 ] || install_packages "${need_windows[@]}"; then
  rm -f "$missing_note"
  exit 0
fi
[ -n "$last_reason" ] || last_reason=$combined_reason
report_failure "Windows-side toolchain" "${need_windows[@]}" | tee "$missing_note"
exit 3
