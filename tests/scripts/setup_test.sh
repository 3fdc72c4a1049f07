#!/usr/bin/env bash
# The set-up logic against a stub apt-get: a package index that fails partly, a resolver
# that only succeeds with the main suite as the target release, an install that always
# fails, and one where only the Windows-side toolchain is broken.
# Usage: setup_test.sh SOURCE_DIR
set -u
src=$1
passed=0
failed=0

# A sandbox: a copy of setup.sh (so its notes land in the sandbox's build/) and stubs of
# apt-get, dpkg and dpkg-query that keep the "installed" packages in a file.
make_sandbox() {
  local box
  box=$(mktemp -d)
  mkdir -p "$box/scripts" "$box/bin"
  cp "$src/scripts/setup.sh" "$box/scripts/"
  : > "$box/installed"
  : > "$box/calls"
  cat > "$box/bin/dpkg-query" <<'STUB'
#!/usr/bin/env bash
pkg=${!#}
grep -qxF "$pkg" "$STUB_DIR/installed" && { printf 'install ok installed'; exit 0; }
exit 1
STUB
  cat > "$box/bin/dpkg" <<'STUB'
#!/usr/bin/env bash
case $1 in
  --print-foreign-architectures) printf 'i386\n' ;;
  *) echo "dpkg $*" >> "$STUB_DIR/calls" ;;
esac
STUB
  cat > "$box/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "apt-get $*" >> "$STUB_DIR/calls"
if [ "$1" = update ]; then
  if [ "$STUB_MODE" != clean ]; then
    echo "Err:6 http://deb.debian.org/debian-security bookworm-security/main i386 Packages"
    echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?" >&2
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
    exit 100
  fi
  exit 0
fi
targeted=0
pkgs=()
for a in "$@"; do
  case $a in
    -t) targeted=1 ;;
    -*|install|bookworm) ;;
    *) pkgs+=("$a") ;;
  esac
done
resolver_failure() {
  echo "Some packages could not be installed. This may mean that you have"
  echo "The following packages have unmet dependencies:"
  echo " wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed"
  echo " libwine:i386 : Depends: libssl3:i386 (>= 3.0.0) but it is not going to be installed"
  echo "E: Unable to correct problems, you have held broken packages." >&2
  exit 100
}
case $STUB_MODE in
  partial) [ $targeted = 1 ] || resolver_failure ;;
  broken) resolver_failure ;;
  windows-broken) printf '%s\n' "${pkgs[@]}" | grep -qx 'wine32:i386' && resolver_failure ;;
esac
printf '%s\n' "${pkgs[@]}" >> "$STUB_DIR/installed"
exit 0
STUB
  chmod +x "$box/bin/"*
  printf '%s' "$box"
}

# run_setup BOX MODE: runs the sandboxed setup; leaves its output in BOX/out, status in BOX/rc.
run_setup() {
  STUB_DIR=$1 STUB_MODE=$2 KELVRO_APT_PAUSE=0 PATH="$1/bin:$PATH" \
    bash "$1/scripts/setup.sh" > "$1/out" 2>&1
  echo $? > "$1/rc"
}

expect() {
  local name=$1 ok=$2 box=$3
  if [ "$ok" = 1 ]; then
    echo "ok   $name"; passed=$((passed + 1))
  else
    echo "FAIL $name"; sed 's/^/     | /' "$box/out"; failed=$((failed + 1))
  fi
}

# 1. Partly failed update, resolver failure, success with -t: exit 0, everything installed,
#    the update retried, the failed index only a warning.
box=$(make_sandbox)
run_setup "$box" partial
expect partial-index-exit-0 "$([ "$(cat "$box/rc")" = 0 ] && echo 1)" "$box"
expect partial-index-retried "$([ "$(grep -c '^apt-get update' "$box/calls")" = 3 ] && echo 1)" "$box"
expect partial-index-warns "$(grep -q 'warning: the package index could not be refreshed' "$box/out" && echo 1)" "$box"
expect partial-index-target-release "$(grep -q '^apt-get install .*-t bookworm' "$box/calls" && echo 1)" "$box"
all=1
for p in cmake libpugixml-dev g++-mingw-w64-i686-posix wine32:i386 xvfb fonts-wine; do
  grep -qxF "$p" "$box/installed" || all=0
done
expect partial-index-all-installed "$([ $all = 1 ] && echo 1)" "$box"
expect partial-index-no-note "$([ ! -e "$box/build/windows-toolchain.missing" ] && echo 1)" "$box"
# A second run finds everything installed and calls apt-get no more.
: > "$box/calls"
run_setup "$box" broken
expect second-run-idempotent "$([ "$(cat "$box/rc")" = 0 ] && [ ! -s "$box/calls" ] && echo 1)" "$box"
rm -rf "$box"

# 2. Every install fails: non-zero, one paragraph naming the packages and apt's reason.
box=$(make_sandbox)
run_setup "$box" broken
expect broken-exit-1 "$([ "$(cat "$box/rc")" = 1 ] && echo 1)" "$box"
expect broken-names-packages "$(grep -q '^setup: could not install the native build tools (cmake .*libpugixml-dev.*). apt-get said: .*held broken packages' "$box/out" && echo 1)" "$box"
expect broken-gives-dependency "$(grep -q 'wine32:i386 : Depends: libwine:i386' "$box/out" && echo 1)" "$box"
rm -rf "$box"

# 3. Only the Windows-side toolchain fails: exit 3, native installed, the note kept.
box=$(make_sandbox)
run_setup "$box" windows-broken
expect windows-broken-exit-3 "$([ "$(cat "$box/rc")" = 3 ] && echo 1)" "$box"
expect windows-broken-native-installed "$(grep -qxF libpugixml-dev "$box/installed" && ! grep -qxF 'wine32:i386' "$box/installed" && echo 1)" "$box"
expect windows-broken-note "$(grep -q '^setup: could not install the Windows-side toolchain (g++-mingw-w64-i686-posix .*wine32:i386.*)' "$box/build/windows-toolchain.missing" 2>/dev/null && echo 1)" "$box"
rm -rf "$box"

# 4. A clean index is fetched once.
box=$(make_sandbox)
run_setup "$box" clean
expect clean-index-once "$([ "$(cat "$box/rc")" = 0 ] && [ "$(grep -c '^apt-get update' "$box/calls")" = 1 ] && echo 1)" "$box"
rm -rf "$box"

echo "setup test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
