#!/usr/bin/env bash
# kelvro-sim as a person runs it: exit statuses, messages, summary and JSON file.
# Usage: cli_test.sh PATH/TO/kelvro-sim SOURCE_DIR
set -u
sim=$1
src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

# check NAME EXPECTED_STATUS PATTERN_IN_OUTPUT -- COMMAND...
check() {
  local name=$1 want=$2 pattern=$3
  shift 4
  "$@" > "$work/out" 2> "$work/err"
  local got=$?
  if [ "$got" != "$want" ]; then
    echo "FAIL $name: exit status $got, expected $want"; cat "$work/err"; failed=$((failed + 1)); return
  fi
  if ! grep -qF -- "$pattern" "$work/out" "$work/err"; then
    echo "FAIL $name: no \"$pattern\" in the output"; cat "$work/out" "$work/err"
    failed=$((failed + 1)); return
  fi
  echo "ok   $name"
  passed=$((passed + 1))
}

printf 'G21\nG5 X1\n' > "$work/unknown.nc"
printf 'G0 X10\nG1 X400 F100\n' > "$work/far.nc"
printf '<profile><Preferences>' > "$work/broken.xml"
default_before=$(md5sum < "$src/examples/machine.xml")

check usage-none 2 "Usage: kelvro-sim run PROGRAM" -- "$sim"
check usage-unknown-option 2 'unknown option "--fast"' -- "$sim" run x.nc --fast
check usage-plot-type 2 "must end in .png or .svg" -- "$sim" run x.nc --plot p.jpg
check usage-rate 2 "probability from 0 to 1" -- "$sim" run x.nc --lose-rate 2
check help 0 "--disconnect-at SECONDS" -- "$sim" --help
check missing-program 1 "kelvro-sim: part program \"$work/none.nc\" does not exist" -- \
  "$sim" run "$work/none.nc"
check unknown-word 1 "line 2: unknown word G5" -- "$sim" run "$work/unknown.nc"
check soft-limits 1 "line 2: move beyond the soft limits" -- "$sim" run "$work/far.nc"
check broken-profile 1 "is not valid XML" -- \
  "$sim" run "$src/examples/engraving.nc" --profile "$work/broken.xml"
check json-folder-missing 1 "does not exist" -- \
  "$sim" run "$src/examples/engraving.nc" --json "$work/no/s.json"
check engraving 0 "program executed to the end" -- \
  "$sim" run "$src/examples/engraving.nc" --json "$work/s.json"
check engraving-underruns 0 "underruns       0 (0 ms" -- "$sim" run "$src/examples/engraving.nc"
check disconnect 3 "kelvro-sim: the run stopped: the host is in E-stop" -- \
  "$sim" run "$src/examples/engraving.nc" --disconnect-at 2

if python3 - "$work/s.json" <<'PY'
import json, sys
s = json.load(open(sys.argv[1]))
for key, kind in [("sim_seconds", float), ("wall_seconds", float), ("lines", int),
                  ("segments", int), ("underruns", int), ("fill_min", int), ("fill_max", int),
                  ("status_texts", list), ("message_boxes", list)]:
    assert isinstance(s[key], (int, float) if kind is float else kind), key
for key in ("planned_final_steps", "executed_final_steps"):
    assert len(s[key]) == 6 and all(isinstance(v, int) for v in s[key]), key
assert s["planned_final_steps"] == s["executed_final_steps"]
assert s["underruns"] == 0 and s["completed"] is True
PY
then echo "ok   json-file"; passed=$((passed + 1)); else echo "FAIL json-file"; failed=$((failed + 1)); fi

if [ "$(md5sum < "$src/examples/machine.xml")" = "$default_before" ]; then
  echo "ok   default-profile-untouched"; passed=$((passed + 1))
else
  echo "FAIL default-profile-untouched"; failed=$((failed + 1))
fi

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
