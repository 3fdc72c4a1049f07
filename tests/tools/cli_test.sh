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
printf '%%\nO1000\nN10 G21 G90\nN20 G41 D1 X5\n' > "$work/cutter.nc"
printf 'G0 X1\nM98 P100\nM30\n' > "$work/nosub.nc"
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
check refused-g41 1 "line 4: G41 cutter radius compensation is not simulated" -- \
  "$sim" run "$work/cutter.nc"
check refused-m98 1 "line 2: M98 P100: there is no O100 in this file" -- "$sim" run "$work/nosub.nc"
check usage-work-offset 2 "option --work-offset needs X,Y,Z" -- "$sim" run x.nc --work-offset 1,2
check usage-tool 2 "option --tool needs N:LENGTH" -- "$sim" run x.nc --tool 1
check cam-post 0 "tool change to T2 (program stopped and resumed)" -- \
  "$sim" run "$src/examples/cam_post.nc" --json "$work/cam.json"
check packed-words 0 "program executed to the end" -- "$sim" run "$src/examples/packed.nc"
check work-offset-option 1 "line 2: move beyond the soft limits: X would reach 400" -- \
  "$sim" run "$work/far.nc" --work-offset 0,0,0
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

if python3 - "$work/cam.json" <<'PY'
import json, sys
s = json.load(open(sys.argv[1]))
assert s["tool_changes"] == [1, 2], s["tool_changes"]
assert s["pauses"] == 0 and s["work_offsets_used"] == ["G54"], s
assert s["coolant_actions"] == 4 and s["notes"] == [] and s["underruns"] == 0, s
PY
then echo "ok   json-new-fields"; passed=$((passed + 1)); else echo "FAIL json-new-fields"; failed=$((failed + 1)); fi

# Z correction: a point file checked before cutting, and a run that follows it.
printf 'X,Y,Z\n0,0,0\n' > "$work/header.zmap"
check zmap-statistics 0 "Xpoints: 20, Ypoints: 15" -- "$sim" zmap "$src/examples/board_20x15.zmap"
check zmap-status 0 "Z file loaded. Maximum correction: -0.142700" -- \
  "$sim" zmap "$src/examples/board_20x15.zmap"
check zmap-normal-none 0 "Maximum correction: 0.095800" -- \
  "$sim" zmap "$src/examples/board_20x15.zmap" --znormal 0
check zmap-refused 1 "Z correction data must have at least 4 points." -- "$sim" zmap "$work/header.zmap"
check zmap-missing 1 "cannot read the point file" -- "$sim" zmap "$work/none.zmap"
check zmap-usage 2 "option --znormal needs a whole number from 0 to 3" -- \
  "$sim" zmap "$src/examples/board_20x15.zmap" --znormal 4
check zmap-render 0 "picture: $work/board.png (560 x 150)" -- \
  "$sim" zmap "$src/examples/board_20x15.zmap" --render 440x150 --palette greyscale \
  --out "$work/board.png"
if [ "$(head -c 8 "$work/board.png" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ]; then
  echo "ok   zmap-render-png"; passed=$((passed + 1))
else
  echo "FAIL zmap-render-png"; failed=$((failed + 1))
fi
check zmap-render-size 2 "option --render needs a size WxH" -- \
  "$sim" zmap "$src/examples/board_20x15.zmap" --render 0x10 --out "$work/x.png"
check zmap-render-palette 2 "option --palette needs greyscale or rainbow" -- \
  "$sim" zmap "$src/examples/board_20x15.zmap" --render 10x10 --palette jet --out "$work/x.png"
check zmap-render-no-out 2 "option --render needs --out FILE.png" -- \
  "$sim" zmap "$src/examples/board_20x15.zmap" --render 10x10
check zmap-render-folder 1 "does not exist" -- \
  "$sim" zmap "$src/examples/board_20x15.zmap" --render 10x10 --out "$work/none/x.png"
check run-zmap-refused 3 "the Z correction point file" -- \
  "$sim" run "$src/examples/engraving.nc" --zmap "$work/header.zmap"
check run-zmap 0 "where the program holds Z: within" -- "$sim" run "$src/examples/zmap_engraving.nc" \
  --zmap "$src/examples/board_20x15.zmap" --json "$work/zmap.json"
if python3 - "$work/zmap.json" <<'PY'
import json, sys
s = json.load(open(sys.argv[1]))
z = s["zcorr"]
assert (z["cols"], z["rows"]) == (20, 15), z
assert abs(z["max_correction"] + 0.1427) < 1e-9 and abs(z["norm_offset"] - 0.0958) < 1e-9, z
assert len(z["plane"]) == 4 and z["dev_above"] > 0 > z["dev_below"], z
assert z["max_hold_error_steps"] <= 1.0 and z["hold_segments"] > 100000, z
assert z["z_move_segments"] > 0, z
assert z["max_z_speed"] <= z["z_speed_limit"] + 1e-6, z
assert z["max_z_speed_change"] <= z["z_acceleration_limit"] + 2e-6, z
assert s["positions_match"] and s["underruns"] == 0, s
PY
then echo "ok   json-zcorr"; passed=$((passed + 1)); else echo "FAIL json-zcorr"; failed=$((failed + 1)); fi

mkdir -p "$work/thc"
check plasma-run 0 "4 torch starts, 4 ignitions" -- \
  "$sim" run "$src/examples/plasma.nc" --thc-log "$work/thc" --plot "$work/plasma.svg"
if [ "$(head -1 "$work/thc/thc_voltage.log")" = "$(printf 'flags\tth\tadc\tvolts\tzs')" ] &&
   grep -q "arc voltage" "$work/plasma.svg"; then
  echo "ok   plasma-log-and-plot"; passed=$((passed + 1))
else
  echo "FAIL plasma-log-and-plot"; failed=$((failed + 1))
fi
check laser-burn 0 "burn            $work/outline.png" -- \
  "$sim" run "$src/examples/laser_outline.nc" --burn "$work/outline.png" --burn-pixel 0.2
if [ "$(head -c 8 "$work/outline.png" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ]; then
  echo "ok   laser-burn-png"; passed=$((passed + 1))
else
  echo "FAIL laser-burn-png"; failed=$((failed + 1))
fi
check laser-burn-nothing 1 "no burn picture: the laser's beam was never on" -- \
  "$sim" run "$src/examples/engraving.nc" --burn "$work/none.png"
check firmware-updated 0 "result: updated, controller now reports firmware 01.22" -- \
  "$sim" run "$src/examples/engraving.nc" --controller-version 01.20 --json "$work/fw.json"
if python3 - "$work/fw.json" <<'PY'
import json, sys
f = json.load(open(sys.argv[1]))["firmware_update"]
assert f["result"] == "updated" and f["chunks"] == 365 and f["bytes"] == 93436, f
assert f["texts"][-1] == "Update completed successfully.", f
PY
then echo "ok   json-firmware"; passed=$((passed + 1)); else echo "FAIL json-firmware"; failed=$((failed + 1)); fi
check firmware-declined 3 "result: declined" -- \
  "$sim" run "$src/examples/engraving.nc" --controller-version 01.20 --update no
check firmware-fault 3 '"ERROR uploading!"' -- \
  "$sim" run "$src/examples/engraving.nc" --controller-version 01.20 --fw-fault chunk:3
check firmware-usage 2 "option --fw-fault needs erase, chunk:N, no-reply:N or never-returns" -- \
  "$sim" run x.nc --fw-fault chunk

if [ "$(md5sum < "$src/examples/machine.xml")" = "$default_before" ]; then
  echo "ok   default-profile-untouched"; passed=$((passed + 1))
else
  echo "FAIL default-profile-untouched"; failed=$((failed + 1))
fi

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
