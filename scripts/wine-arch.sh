# Helpers for the Windows-side runs, sourced by the scripts that need them.
#
# The plugin is a 32-bit DLL and runs under 32-bit Wine. Some Linux kernels are built
# without 32-bit program support (or have it switched off at boot: "32-bit emulation
# disabled"); there 32-bit Wine cannot start at all, and the Windows-side suite runs on a
# 64-bit build of the same sources under 64-bit Wine instead.

# "i386", "x86-64" or "unknown": the machine a Windows program (PE file) is built for.
pe_machine() {
  local offset machine
  offset=$(od -An -tu4 -j60 -N4 "$1" 2> /dev/null | tr -d ' ')
  [ -n "$offset" ] || { echo unknown; return; }
  machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$1" 2> /dev/null | tr -d ' ')
  case "$machine" in
    014c) echo i386 ;;
    8664) echo x86-64 ;;
    *) echo unknown ;;
  esac
}

# True when this kernel runs 32-bit programs: 32-bit Wine's server starts.
runs_32bit_programs() {
  [ -x /usr/lib/wine/wineserver32 ] && /usr/lib/wine/wineserver32 --version > /dev/null 2>&1
}
