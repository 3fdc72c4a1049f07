#!/usr/bin/env python3
"""Runs kelvro-host.exe (which loads kelvro_drv.dll as the host would) under Wine and
checks what it reports. Usage: check_host_run.py WINE_RUN HOST_EXE SCENARIO"""
import json
import os
import subprocess
import sys
import tempfile

NOT_FOUND = "Motion controller not found!\nPlease make sure that device is connected."


def run_host(wine_run, host, args, env_extra):
    env = dict(os.environ)
    env.update(env_extra)
    result = subprocess.run([wine_run, host] + args, capture_output=True, text=True, env=env,
                            timeout=120)
    lines = [l for l in result.stdout.splitlines() if l.startswith("{")]
    if result.returncode != 0 or not lines:
        print("host failed:", result.returncode, result.stdout, result.stderr[-2000:])
        sys.exit(1)
    return json.loads(lines[-1])


def expect(condition, what, seen):
    if not condition:
        print("FAILED:", what)
        print(json.dumps(seen, indent=2))
        sys.exit(1)
    print("ok:", what)


def main():
    wine_run, host, scenario = sys.argv[1:4]
    with tempfile.TemporaryDirectory() as tmp:
        profile = os.path.join(tmp, "profile.xml")
        if scenario == "no-device":
            seen = run_host(wine_run, host, ["--profile", profile, "--seconds", "1.5"], {})
            expect(seen["display_name"] == "KELVRO plugin", "SetProName returns the name", seen)
            expect(seen["init_result"] == 1, "InitControl returns 1", seen)
            expect(seen["reset_result"] == 0xFFFF, "Reset returns 0xFFFF", seen)
            expect("USB controller plugin initialized." in seen["status_texts"],
                   "PostInitControl status text", seen)
            expect(seen["message_boxes"] == [NOT_FOUND], "one 'not found' message box", seen)
            expect("Error opening hardware!" in seen["status_texts"], "status text", seen)
            expect(seen["estop"] == 1, "host left in E-stop", seen)
            expect(seen["timer_ticks"] >= 20, "the 25 ms timer ran (%d ticks)" %
                   seen["timer_ticks"], seen)
            expect(os.path.exists(profile), "StopPlug saved the profile", seen)
            expect(seen["plugin_menu"] == ["KELVRO config... #5000", "KELVRO status... #5001"],
                   "plugin menu items appended", seen)
            expect(seen["general_config_id"] == 5002, "General Config... taken over", seen)
        else:
            print("unknown scenario", scenario)
            return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
