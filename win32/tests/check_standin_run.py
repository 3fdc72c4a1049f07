#!/usr/bin/env python3
"""Runs kelvro-host.exe with the real kelvro_drv.dll against the simulated controller under
Wine: the winusb.dll and setupapi.dll stand-ins built next to the host are copied with it into
a fresh folder and loaded with WINEDLLOVERRIDES="winusb,setupapi=n". Checks what the host saw
and what the controller received (its trace, streamed to a file by the winusb.dll stand-in).

Usage: check_standin_run.py WINE_RUN HOST_EXE SCENARIO
Scenarios: healthy, old-firmware, winusb-missing, no-device, write-failure, config-dialog,
firmware-update, firmware-update-fault, firmware-update-stale-owner, firmware-real-controller,
status-window.
The scenarios firmware-update and firmware-update-fault run on a display of their own and put
screenshots of the update dialog into $KELVRO_GALLERY (default build/gallery)."""
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading

NOT_FOUND = "Motion controller not found!\nPlease make sure that device is connected."
UPDATE_QUESTION = ("KELVRO firmware must be updated to work properly with this plugin "
                   "version.\n\nDo you want to update firmware now?")
NO_FIRMWARE_CARRIED = (
    "KELVRO firmware must be updated to work properly with this plugin version, but this "
    "build of the plugin carries no controller firmware (its update image is a test image), "
    "so it does not update a real controller.\n\nPlease use a plugin release that carries the "
    "controller firmware.")
WRITE_ERROR = "Error writing to device!"
OVERRIDES = "winusb,setupapi=n"

# The machine kelvro-host.exe describes: axes X, Y, Z with 1000 steps per unit, 50 units/s,
# soft limits -1000..1000 units.
HOST_AXES = 3
HOST_STEPS = 1000.0
HOST_VELOCITY = 50.0
HOST_SOFT_MIN = -1000.0
HOST_SOFT_MAX = 1000.0


def windows_path(path):
    # Wine maps the Unix root to drive Z:.
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def prepare_folder(host, folder, standins):
    source = os.path.dirname(os.path.abspath(host))
    names = ["kelvro-host.exe", "kelvro_drv.dll"] + standins
    for name in names:
        shutil.copy2(os.path.join(source, name), os.path.join(folder, name))
    return os.path.join(folder, "kelvro-host.exe")


def run_host(wine_run, host, args, env_extra):
    env = {k: v for k, v in os.environ.items() if not k.startswith("KELVRO_SIM_")}
    env.update(env_extra)
    result = subprocess.run([wine_run, host] + args, capture_output=True, text=True, env=env,
                            timeout=120)
    lines = [l for l in result.stdout.splitlines() if l.startswith("{")]
    if result.returncode != 0 or not lines:
        print("host failed:", result.returncode, result.stdout, result.stderr[-2000:])
        sys.exit(1)
    return json.loads(lines[-1])


def read_trace(path):
    """Returns (entries, summaries) from the JSON lines the stand-in wrote."""
    entries, summaries = [], []
    if not os.path.exists(path):
        return entries, summaries
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line:
                continue
            record = json.loads(line)
            (summaries if record.get("summary") else entries).append(record)
    return entries, summaries


def expect(condition, what, seen):
    if not condition:
        print("FAILED:", what)
        print(json.dumps(seen, indent=2))
        sys.exit(1)
    print("ok:", what)


def first_index(entries, name):
    for i, e in enumerate(entries):
        if e.get("name") == name:
            return i
    return -1


def int32_le(payload_hex, offset):
    return struct.unpack_from("<i", bytes.fromhex(payload_hex), offset)[0]


def check_motion_config(payload_hex, seen):
    """Axis blocks of 34 bytes: steps, velocity x steps x 4096, acceleration, soft min, soft
    max (all truncated). Expected values are worked out from the host's machine here."""
    for axis in range(HOST_AXES):
        base = 34 * axis
        expect(int32_le(payload_hex, base) == int(HOST_STEPS), "axis %d steps" % axis, seen)
        expect(int32_le(payload_hex, base + 4) == int(HOST_VELOCITY * HOST_STEPS * 4096),
               "axis %d velocity" % axis, seen)
        expect(int32_le(payload_hex, base + 12) == int(HOST_SOFT_MIN * HOST_STEPS),
               "axis %d soft minimum" % axis, seen)
        expect(int32_le(payload_hex, base + 16) == int(HOST_SOFT_MAX * HOST_STEPS),
               "axis %d soft maximum" % axis, seen)


def scenario_healthy(wine_run, host, tmp):
    trace = os.path.join(tmp, "trace.jsonl")
    seen = run_host(wine_run, host, ["--profile", windows_path(os.path.join(tmp, "p.xml")),
                                     "--seconds", "2"],
                    {"WINEDLLOVERRIDES": OVERRIDES, "KELVRO_SIM_TRACE": windows_path(trace)})
    entries, summaries = read_trace(trace)
    seen = dict(seen, trace=entries[:12], summary=summaries[-1:] if summaries else None)
    expect("USB controller connected." in seen["status_texts"], "status: connected", seen)
    expect(seen["message_boxes"] == [], "no message boxes", seen)
    expect("ERROR! Connection closed!" not in seen["status_texts"], "link was never lost", seen)
    expect(seen["estop"] == 0, "host not in E-stop", seen)

    control = first_index(entries, "GetFirmwareVersion")
    expect(control >= 0 and entries[control]["code"] == 0xE0, "control request 0xE0 served",
           seen)
    expect(entries[control]["payload"] == "01.22".encode().hex(), "version text 01.22", seen)
    motion = first_index(entries, "LoadMotionConfig")
    io = first_index(entries, "LoadIoConfig")
    expect(motion > control and io > motion, "firmware check, then motion config, then I/O map",
           seen)
    expect(len(bytes.fromhex(entries[motion]["payload"])) == 262, "LoadMotionConfig: 262 bytes",
           seen)
    expect(len(bytes.fromhex(entries[io]["payload"])) == 112, "LoadIoConfig: 112 bytes", seen)
    check_motion_config(entries[motion]["payload"], seen)
    # After Reset every state command is sent again on the first tick (ThcConfig only while
    # THC mode is on, which this machine does not use).
    for name in ("SetOutputs", "SetForcedInputs", "MpgConfig"):
        i = first_index(entries, name)
        expect(i > io and entries[i]["t_ms"] - entries[io]["t_ms"] < 500,
               "%s sent within the first ticks" % name, seen)
    expect(first_index(entries, "ThcConfig") < 0, "no ThcConfig with THC off", seen)
    bad = [e for e in entries if e.get("kind") in ("rejected", "fault", "phase_mismatch")]
    expect(not bad, "the controller refused nothing", seen)

    expect(summaries and summaries[-1]["final"], "final summary written at exit", seen)
    last = summaries[-1]
    expect(last["status_reads"] > 10, "status reads served (%d)" % last["status_reads"], seen)
    expect(last["reads_completed"] >= last["status_reads"] - 1,
           "served reads completed (%d of %d)" % (last["reads_completed"], last["status_reads"]),
           seen)
    expect(last["control_requests"] >= 1 and last["write_failures"] == 0,
           "control request counted, no write failure", seen)
    expect(last["initialized"] == 1 and last["freed"] == 1, "one open, released at StopPlug",
           seen)
    # StopPlug: current outputs once more, then the safe-state Stop.
    expect(entries[-1]["name"] == "Stop" and entries[-2]["name"] == "SetOutputs",
           "StopPlug ends with SetOutputs and Stop", seen)


def scenario_old_firmware(wine_run, host, tmp):
    trace = os.path.join(tmp, "trace.jsonl")
    seen = run_host(wine_run, host, ["--profile", windows_path(os.path.join(tmp, "p.xml")),
                                     "--seconds", "1", "--answer", "no"],
                    {"WINEDLLOVERRIDES": OVERRIDES, "KELVRO_SIM_TRACE": windows_path(trace),
                     "KELVRO_SIM_FIRMWARE": "01.20"})
    entries, summaries = read_trace(trace)
    seen = dict(seen, trace=entries, summary=summaries[-1:] if summaries else None)
    expect(seen["message_boxes"] == [UPDATE_QUESTION], "the update question, once", seen)
    expect("USB controller NOT connected." in seen["status_texts"], "status: NOT connected",
           seen)
    expect("USB controller connected." not in seen["status_texts"], "never connected", seen)
    expect(seen["estop"] == 1, "host left in E-stop", seen)
    control = first_index(entries, "GetFirmwareVersion")
    expect(control >= 0 and entries[control]["payload"] == "01.20".encode().hex(),
           "the controller reported 01.20", seen)
    expect(first_index(entries, "LoadMotionConfig") < 0, "no configuration sent", seen)
    expect(summaries and summaries[-1]["freed"] == summaries[-1]["initialized"] == 1,
           "the link was closed again", seen)
    expect(summaries[-1]["commands"] == 0 and summaries[-1]["status_reads"] == 0,
           "no command and no status read after the refusal", seen)


def expect_not_found(seen):
    expect(seen["message_boxes"] == [NOT_FOUND], "one 'not found' message box", seen)
    expect("Error opening hardware!" in seen["status_texts"], "status: error opening", seen)
    expect(seen["estop"] == 1, "host left in E-stop", seen)
    expect(seen["timer_ticks"] >= 20, "the plugin kept running (%d ticks)" % seen["timer_ticks"],
           seen)


def scenario_winusb_missing(wine_run, host, tmp):
    # Same overrides, but no winusb.dll in the folder: LoadLibraryA("WinUsb.dll") fails.
    seen = run_host(wine_run, host, ["--profile", windows_path(os.path.join(tmp, "p.xml")),
                                     "--seconds", "1"], {"WINEDLLOVERRIDES": OVERRIDES})
    expect_not_found(seen)


def scenario_no_device(wine_run, host, tmp):
    trace = os.path.join(tmp, "trace.jsonl")
    seen = run_host(wine_run, host, ["--profile", windows_path(os.path.join(tmp, "p.xml")),
                                     "--seconds", "1"],
                    {"WINEDLLOVERRIDES": OVERRIDES, "KELVRO_SIM_NO_DEVICE": "1",
                     "KELVRO_SIM_TRACE": windows_path(trace)})
    expect_not_found(seen)
    # The stand-in writes a summary once anything has used it; WinUsb_Initialize would have.
    _, summaries = read_trace(trace)
    expect(not summaries or summaries[-1]["initialize_calls"] == 0,
           "discovery found nothing, WinUsb_Initialize never called", dict(seen, s=summaries))


def scenario_write_failure(wine_run, host, tmp):
    trace = os.path.join(tmp, "trace.jsonl")
    seen = run_host(wine_run, host, ["--profile", windows_path(os.path.join(tmp, "p.xml")),
                                     "--seconds", "1.5"],
                    {"WINEDLLOVERRIDES": OVERRIDES, "KELVRO_SIM_FAIL_WRITE_AFTER": "1",
                     "KELVRO_SIM_TRACE": windows_path(trace)})
    entries, summaries = read_trace(trace)
    seen = dict(seen, trace=entries, summary=summaries[-1:] if summaries else None)
    expect(seen["message_boxes"] == [WRITE_ERROR], "one 'Error writing to device!' box", seen)
    expect(first_index(entries, "WriteFailed") >= 0, "the first command write failed", seen)
    expect(first_index(entries, "LoadMotionConfig") < 0 and
           first_index(entries, "LoadIoConfig") < 0,
           "nothing more written on the closed link", seen)
    # Reset still marks the controller connected; the watchdog then declares the link lost.
    expect("ERROR! Connection closed!" in seen["status_texts"], "the watchdog closed the link",
           seen)
    expect(seen["estop"] == 1, "host left in E-stop", seen)
    expect(summaries and summaries[-1]["freed"] == summaries[-1]["initialized"] == 1,
           "the interface was released", seen)


def uint8_at(payload_hex, offset):
    return bytes.fromhex(payload_hex)[offset]


def uint16_le(payload_hex, offset):
    return struct.unpack_from("<H", bytes.fromhex(payload_hex), offset)[0]


def uint32_le(payload_hex, offset):
    return struct.unpack_from("<I", bytes.fromhex(payload_hex), offset)[0]


# Offsets in the 262-byte motion configuration.
PWM_FREQUENCY_AT = 240  # 32 bits
HOME_RETRACT_AT = 256   # 8 bits
# The I/O map's debounce table: one 16-bit word per input pin from byte 80.
PIN7_DEBOUNCE_AT = 80 + 2 * 6


def natural_spline(xs, ys):
    """The natural cubic spline through the points (ascending X), as a function."""
    n = len(xs)
    y2, u = [0.0] * n, [0.0] * n
    for i in range(1, n - 1):
        sig = (xs[i] - xs[i - 1]) / (xs[i + 1] - xs[i - 1])
        p = sig * y2[i - 1] + 2.0
        y2[i] = (sig - 1.0) / p
        d = (ys[i + 1] - ys[i]) / (xs[i + 1] - xs[i]) - (ys[i] - ys[i - 1]) / (xs[i] - xs[i - 1])
        u[i] = (6.0 * d / (xs[i + 1] - xs[i - 1]) - sig * u[i - 1]) / p
    for k in range(n - 2, -1, -1):
        y2[k] = y2[k] * y2[k + 1] + u[k]

    def at(x):
        if x >= xs[-1]:
            return ys[-1]
        k = max(i for i in range(n - 1) if xs[i] <= x) if x >= xs[0] else 0
        h = xs[k + 1] - xs[k]
        a, b = (xs[k + 1] - x) / h, (x - xs[k]) / h
        return a * ys[k] + b * ys[k + 1] + ((a ** 3 - a) * y2[k] + (b ** 3 - b) * y2[k + 1]) * h * h / 6
    return at


def profile_curve(path):
    """The laser curve and nominal feed the plugin stored in the profile."""
    import re
    text = open(path, encoding="utf-8", errors="replace").read()

    def value(key):
        m = re.search(r"<%s>([^<]*)</%s>" % (key, key), text)
        return float(m.group(1)) if m else None
    count = int(value("LCurveCnt") or 0)
    return ([value("LCurveX%d" % i) for i in range(count)],
            [value("LCurveY%d" % i) for i in range(count)], value("LMaxFeed"))


def check_laser_segments(entries, tmp, run, seen):
    """The edited curve reached the profile and the power of the segments that follow."""
    side = run["curve_side"]
    feed, duty = (side // 2) * 100 // side, (side // 5) * 100 / side
    expect(run["curve_readout"] == " Feed: %d %%\r\n Duty: %d %%" % (feed, int(duty)),
           "curve editor: the readout shows the dragged point", seen)
    xs, ys, max_feed = profile_curve(os.path.join(tmp, "p.xml"))
    # The profile keeps six decimals.
    expect(xs == [0.0, feed, 100.0] and ys[0] == 0.0 and abs(ys[1] - duty) < 1e-6 and
           ys[2] == 100.0, "the dragged point is the page's curve, stored in the profile",
           dict(seen, curve=[xs, ys]))
    curve = natural_spline([0.0, feed, 100.0], [0.0, duty, 100.0])
    moving = [e["payload"] for e in entries
              if e.get("name") == "Segment" and int32_le(e["payload"], 4) > 0]
    expect(len(moving) >= 100, "X segments streamed after the second Reset", seen)
    wrong = []
    for payload in moving:
        # Millionths of a step per ms at 1000 steps per unit: units per second.
        speed = int32_le(payload, 4) * 1e-6
        percent = speed * 60.0 * 100.0 / max_feed
        expected = int(min(curve(percent) * 2.55, 255.0))
        got = bytes.fromhex(payload)[51]
        if got != expected or got == int(percent * 2.55):
            wrong.append((percent, got, expected))
    expect(not wrong, "every moving segment's laser power from the edited curve, not the "
           "diagonal", dict(seen, wrong=wrong[:5]))


def scenario_config_dialog(wine_run, host, tmp):
    """The host opens the configuration dialog (Config) after the first Reset and plays the
    user in it; after OK it leaves the forced E-stop and resets again."""
    trace = os.path.join(tmp, "trace.jsonl")
    seen = run_host(wine_run, host, ["--profile", windows_path(os.path.join(tmp, "p.xml")),
                                     "--seconds", "1", "--config-run"],
                    {"WINEDLLOVERRIDES": OVERRIDES, "KELVRO_SIM_TRACE": windows_path(trace)})
    entries, summaries = read_trace(trace)
    motion = [e for e in entries if e.get("name") == "LoadMotionConfig"]
    io = [e for e in entries if e.get("name") == "LoadIoConfig"]
    seen = dict(seen, motion_configs=motion, io_configs=io)
    run = seen.get("config")
    expect(run is not None and run["finished"], "the script went through the dialog", seen)
    expect(seen["message_boxes"] == ["Please enter a positive integer."],
           "'-5' refused on the tab switch, with one message box", seen)
    expect(seen["message_box_owners"] == ["KELVRO configuration"],
           "the message box belongs to the configuration dialog", seen)
    expect(run["tab_after_refusal"] == 0, "the General setup tab stayed selected", seen)
    expect(run["focus_on_refused_field"], "the focus is on the refused field", seen)
    expect(run["about_plugin"] == "KELVRO Mach3 plugin: v01.18", "About: the plugin version",
           seen)
    expect(run["about_firmware"] == "Firmware: v01.22", "About: the controller's firmware", seen)
    expect(run["estop"] == 1 and run["stop_code"] == 8, "after OK: E-stop with stop code 8",
           seen)
    if os.environ.get("KELVRO_GALLERY"):
        expect(run["captures"] == 5, "the dialogs were captured five times into the gallery",
               seen)
    expect(run["curve_feed_text"] == "1000", "curve editor: the nominal feedrate shown", seen)
    check_laser_segments(entries, tmp, run, seen)
    expect(len(motion) == 2, "a motion configuration at each Reset", seen)
    before, after = motion[0]["payload"], motion[1]["payload"]
    expect(uint8_at(before, HOME_RETRACT_AT) == 10 and
           uint32_le(before, PWM_FREQUENCY_AT) == 10000,
           "first Reset: the defaults (retract 10, PWM 10000)", seen)
    expect(uint8_at(after, HOME_RETRACT_AT) == 42, "after the dialog: byte 256 = 42", seen)
    expect(uint32_le(after, PWM_FREQUENCY_AT) == 31000,
           "after the dialog: bytes 240..243 = 31000", seen)
    expect(run["pin_editor_text"] == "1234" and run["pin_editor_closed"],
           "Input filter: pin 7's time typed into the list's editor, entered", seen)
    expect(len(io) == 2, "an I/O map at each Reset", seen)
    expect(uint16_le(io[0]["payload"], PIN7_DEBOUNCE_AT) == 30,
           "first Reset: pin 7 debounced with the other inputs' time (30)", seen)
    expect(uint16_le(io[1]["payload"], PIN7_DEBOUNCE_AT) == 1234,
           "after the dialog: pin 7's debounce word (bytes 92, 93) = 1234", seen)
    expect("USB controller connected." in seen["status_texts"], "status: connected", seen)
    expect(seen["estop"] == 0, "running again after the second Reset", seen)
    bad = [e for e in entries if e.get("kind") in ("rejected", "fault", "phase_mismatch")]
    expect(not bad, "the controller refused nothing", seen)


HERE = os.path.dirname(os.path.abspath(__file__))
CAPTURE = os.path.join(HERE, "capture_window.sh")
DIALOG_TITLE = "Firmware update"
HEADING_AT_START = "Firmware update in progress, please wait..."
FLASH_WRITES = 366  # 365 chunks of the 93,434-byte image and the length word


def gallery_dir():
    root = os.path.dirname(os.path.dirname(HERE))
    return os.environ.get("KELVRO_GALLERY", os.path.join(root, "build", "gallery"))


class Display:
    """An Xvfb server of this test's own, so that its windows can be captured."""

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
             "-nolisten", "tcp"], pass_fds=(write_end,), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            self.name = ":" + f.readline().strip()
        return self

    def __exit__(self, *exc):
        self.server.terminate()
        self.server.wait(timeout=10)


def capture(display, out):
    env = dict(os.environ, DISPLAY=display)
    done = subprocess.run([CAPTURE, DIALOG_TITLE, out, "5"], env=env, capture_output=True,
                          text=True, timeout=30)
    if done.returncode != 0:
        print("capture failed:", done.stderr)
        return None
    return out


def run_host_watching_dialog(wine_run, host, args, env_extra, display, on_sample):
    """Runs the host while reading its dialog samples as they come; returns the report."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("KELVRO_SIM_")}
    env.update(env_extra)
    env["DISPLAY"] = display
    proc = subprocess.Popen([wine_run, host] + args, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, env=env)
    errors = []
    reader = threading.Thread(target=lambda: errors.append(proc.stderr.read()))
    reader.start()
    report = None
    for line in proc.stdout:
        if line.startswith("dialog-sample "):
            on_sample(json.loads(line[len("dialog-sample "):]))
        elif line.startswith("{"):
            report = json.loads(line)
    proc.wait(timeout=180)
    reader.join()
    if proc.returncode != 0 or report is None:
        print("host failed:", proc.returncode, "".join(errors)[-2000:])
        sys.exit(1)
    return report


def check_dialog_flow(dialog, verdict, step, seen):
    """OK disabled in every sample until the verdict; an early OK did not close it."""
    samples = dialog["samples"]
    expect(dialog["seen"] and samples, "the firmware dialog was shown", seen)
    first_ok = next((i for i, x in enumerate(samples) if x["ok_enabled"]), -1)
    expect(first_ok == len(samples) - 1, "OK enabled only in the last sample (%d of %d)"
           % (first_ok + 1, len(samples)), seen)
    expect(all(x["texts"]["1034"] == HEADING_AT_START for x in samples[:first_ok]),
           "heading unchanged while OK was disabled", seen)
    expect(samples[-1]["texts"]["1034"] == verdict and samples[-1]["texts"]["1033"] == step,
           "verdict '%s' / '%s' with OK enabled" % (verdict, step), seen)
    expect(0 <= dialog["early_ok_at"] < first_ok, "OK pressed early, while disabled", seen)
    expect(dialog["pressed_ok"] and dialog["closed"], "closed with OK after the end", seen)
    positions = [x["progress"] for x in samples]
    expect(positions == sorted(positions) and max(positions) <= 100,
           "progress only moves forward, never past 100", seen)


def run_update(wine_run, host, tmp, controller_env, hold_ms, shoot):
    """Answers the update question with yes on a display of its own; `shoot(sample, take)`
    decides per dialog sample which screenshot to take (take(name) captures the dialog into
    the gallery). Returns the host's report (with the trace's names) and the trace."""
    trace = os.path.join(tmp, "trace.jsonl")
    gallery = gallery_dir()
    os.makedirs(gallery, exist_ok=True)
    env = {"WINEDLLOVERRIDES": OVERRIDES, "KELVRO_SIM_TRACE": windows_path(trace),
           "KELVRO_SIM_FIRMWARE": "01.20"}
    env.update(controller_env)
    with Display() as display:
        seen = run_host_watching_dialog(
            wine_run, host, ["--profile", windows_path(os.path.join(tmp, "p.xml")),
                             "--seconds", "1", "--answer", "yes", "--firmware-hold-ms",
                             str(hold_ms)], env, display.name,
            lambda sample: shoot(sample, lambda name: capture(
                display.name, os.path.join(gallery, name))))
    entries, _ = read_trace(trace)
    report = dict(seen, trace_names=[e.get("name") for e in entries
                                     if e.get("name") != "FlashWrite"])
    return report, entries


def scenario_firmware_update(wine_run, host, tmp):
    shots = {}

    def shoot(sample, take):
        step = sample["texts"]["1033"]
        if "mid" not in shots and step.startswith("Uploading") and 30 <= sample["progress"] <= 60:
            shots["mid"] = (sample["progress"], take("firmware_update_mid.png"))
        if "end" not in shots and sample["ok_enabled"] and \
                sample["texts"]["1034"] != HEADING_AT_START:
            shots["end"] = (sample["progress"], take("firmware_update_end.png"))

    # Each flash command takes 12 ms, so that the upload lasts a few seconds.
    report, entries = run_update(wine_run, host, tmp, {"KELVRO_SIM_FLASH_REPLY_MS": "12"}, 2000,
                                 shoot)
    seen = report
    dialog = seen["firmware_dialog"]
    expect(seen["message_boxes"] == [UPDATE_QUESTION], "the update question, answered yes",
           report)
    check_dialog_flow(dialog, "Update completed successfully.", "Done.", report)
    steps = []
    for sample in dialog["samples"]:
        if not steps or steps[-1] != sample["texts"]["1033"]:
            steps.append(sample["texts"]["1033"])
    expect(steps[0].startswith("Uploading") and steps[-2:] == [
        "Updating FLASH, please wait...", "Done."], "steps: uploading, flashing, done", report)
    expect(all(s.endswith(" %\r\n") for s in steps[:-2]), "'Uploading %d %\\r\\n' texts",
           report)
    # The 100 % text shows only until the next flash reply (a few ms), which the sampling may
    # not catch on a loaded machine; the bar keeps the last chunk's position, so every sample
    # after the upload must show it full.
    after_upload = [x["progress"] for x in dialog["samples"]
                    if not x["texts"]["1033"].startswith("Uploading")]
    expect(after_upload and all(p == 100 for p in after_upload),
           "the upload reached 100 % (the bar stays full after it)", report)

    expect(sum(1 for e in entries if e.get("name") == "FlashErase") == 1, "one erase", report)
    writes = [e for e in entries if e.get("name") == "FlashWrite"]
    expect(len(writes) == FLASH_WRITES, "%d flash writes" % len(writes), report)
    expect(writes[-1]["payload"] == "0400000000000000" + struct.pack("<I", 93434).hex(),
           "the length word last", report)
    versions = [e for e in entries if e.get("name") == "GetFirmwareVersion"]
    motion = first_index(entries, "LoadMotionConfig")
    expect(versions[-1]["payload"] == "01.22".encode().hex() and motion > entries.index(
        versions[-1]), "reconnected to 01.22, then configured", report)
    expect(not [e for e in entries if e.get("kind") in ("rejected", "fault")],
           "the controller refused nothing", report)
    expect("USB controller connected." in seen["status_texts"], "status: connected", report)
    expect(seen["estop"] == 0, "host not in E-stop", report)

    expect("mid" in shots and shots["mid"][1], "screenshot during the upload", report)
    expect("end" in shots and shots["end"][1], "screenshot at the end", report)
    with open(shots["mid"][1], "rb") as a, open(shots["end"][1], "rb") as b:
        expect(a.read() != b.read(), "the two screenshots differ", report)
    print("screenshot during the upload (%d %%): %s" % shots["mid"])
    print("screenshot at the end: %s" % shots["end"][1])


def scenario_firmware_update_fault(wine_run, host, tmp):
    shots = {}

    def shoot(sample, take):
        if "end" not in shots and sample["ok_enabled"]:
            shots["end"] = take("firmware_update_failed.png")

    report, entries = run_update(wine_run, host, tmp, {"KELVRO_SIM_FLASH_FAULT": "chunk:100"},
                                 1000, shoot)
    seen = report
    check_dialog_flow(seen["firmware_dialog"], "Error! Updating firmware failed.",
                      "ERROR uploading!", report)
    writes = [e for e in entries if e.get("name") == "FlashWrite"]
    expect(len(writes) == 101, "stopped at the refused chunk 100 (%d writes)" % len(writes),
           report)
    expect(first_index(entries, "LoadMotionConfig") < 0, "no configuration sent", report)
    expect(seen["status_texts"][-1] == "Firmware NOT updated.", "status: NOT updated", report)
    expect(seen["estop"] == 1, "host left in E-stop", report)
    expect(shots.get("end"), "screenshot of the failure", report)
    print("screenshot of the failure: %s" % shots["end"])


def scenario_firmware_update_stale_owner(wine_run, host, tmp):
    """The host's main window handle names a window that no longer exists: the question and
    the update dialog appear without an owner and the update goes through."""
    trace = os.path.join(tmp, "trace.jsonl")
    seen = run_host(wine_run, host, ["--profile", windows_path(os.path.join(tmp, "p.xml")),
                                     "--seconds", "1", "--answer", "yes", "--stale-main-window"],
                    {"WINEDLLOVERRIDES": OVERRIDES, "KELVRO_SIM_TRACE": windows_path(trace),
                     "KELVRO_SIM_FIRMWARE": "01.20"})
    entries, _ = read_trace(trace)
    seen = dict(seen, trace_names=[e.get("name") for e in entries
                                   if e.get("name") != "FlashWrite"])
    expect(seen["message_boxes"] == [UPDATE_QUESTION], "the update question, answered yes", seen)
    expect(seen["message_box_owners"] == [""], "the question has no owner", seen)
    dialog = seen["firmware_dialog"]
    expect(dialog["seen"] and dialog["closed"], "the update dialog was shown and closed", seen)
    expect(dialog["samples"][-1]["texts"]["1034"] == "Update completed successfully.",
           "the update completed", seen)
    writes = [e for e in entries if e.get("name") == "FlashWrite"]
    expect(len(writes) == FLASH_WRITES, "%d flash writes" % len(writes), seen)
    expect(first_index(entries, "LoadMotionConfig") > first_index(entries, "FlashErase"),
           "configured after the update", seen)
    expect("USB controller connected." in seen["status_texts"], "status: connected", seen)
    expect(seen["estop"] == 0, "host not in E-stop", seen)


def scenario_firmware_real_controller(wine_run, host, tmp):
    """The stand-in reports the null device as the controller's path, so the plugin takes it
    for a real controller: this build carries the test image and must not offer it."""
    trace = os.path.join(tmp, "trace.jsonl")
    seen = run_host(wine_run, host, ["--profile", windows_path(os.path.join(tmp, "p.xml")),
                                     "--seconds", "1", "--answer", "yes"],
                    {"WINEDLLOVERRIDES": OVERRIDES, "KELVRO_SIM_TRACE": windows_path(trace),
                     "KELVRO_SIM_FIRMWARE": "01.20", "KELVRO_SIM_DEVICE_PATH": "\\\\.\\NUL"})
    entries, summaries = read_trace(trace)
    seen = dict(seen, trace=entries, summary=summaries[-1:] if summaries else None)
    control = first_index(entries, "GetFirmwareVersion")
    expect(control >= 0 and entries[control]["payload"] == "01.20".encode().hex(),
           "the controller reported 01.20", seen)
    expect(seen["message_boxes"] == [NO_FIRMWARE_CARRIED],
           "no update question: the build carries no controller firmware", seen)
    expect(not seen["firmware_dialog"]["seen"], "no update dialog", seen)
    expect(summaries and summaries[-1]["commands"] == 0,
           "nothing sent to the controller (no Stop, no flash command)", seen)
    expect(seen["status_texts"][-1] == "USB controller NOT connected.",
           "status: NOT connected, as after No", seen)
    expect(seen["estop"] == 1, "host left in E-stop", seen)
    expect(summaries[-1]["freed"] == summaries[-1]["initialized"] == 1,
           "the link was closed again", seen)


def scenario_status_window(wine_run, host, tmp):
    """The host opens the plugin's status window from the plugin's menu twice, jogs X with
    inputs and lines lit, unplugs the controller and stops the plugin; the window is captured
    online and offline into the gallery."""
    seen = run_host(wine_run, host, ["--profile", windows_path(os.path.join(tmp, "p.xml")),
                                     "--seconds", "0.2", "--status-run"],
                    {"WINEDLLOVERRIDES": OVERRIDES})
    run = seen.get("status")
    expect(run is not None, "the host drove the status window", seen)
    expect(run["windows_after_second_open"] == 1, "opened twice: one window", seen)
    expect(run["online_link"] == "Online, mode= JOG", "online during the jog, mode JOG", seen)
    expect(run["online_buffer"].startswith("Buffer: "), "the buffer line is shown", seen)
    expect(run["counter_x_online"] not in ("", "0"), "the X counter follows the jog", seen)
    expect(run["offline_link"] == "OFFLINE, press RESET", "offline after the unplug", seen)
    expect(run["offline_buffer"] == "", "offline: the buffer line is blank", seen)
    expect(run["counter_x_offline"] not in ("", "0"), "offline: the counters stay", seen)
    expect(run["gone_after_stop"], "StopPlug closed the window", seen)
    if os.environ.get("KELVRO_GALLERY"):
        expect(run["captures"] == 2, "the window was captured online and offline", seen)


SCENARIOS = {
    "status-window": (scenario_status_window, ["winusb.dll", "setupapi.dll"]),
    "healthy": (scenario_healthy, ["winusb.dll", "setupapi.dll"]),
    "old-firmware": (scenario_old_firmware, ["winusb.dll", "setupapi.dll"]),
    "winusb-missing": (scenario_winusb_missing, ["setupapi.dll"]),
    "no-device": (scenario_no_device, ["winusb.dll", "setupapi.dll"]),
    "write-failure": (scenario_write_failure, ["winusb.dll", "setupapi.dll"]),
    "config-dialog": (scenario_config_dialog, ["winusb.dll", "setupapi.dll"]),
    "firmware-update": (scenario_firmware_update, ["winusb.dll", "setupapi.dll"]),
    "firmware-update-fault": (scenario_firmware_update_fault, ["winusb.dll", "setupapi.dll"]),
    "firmware-update-stale-owner": (scenario_firmware_update_stale_owner,
                                    ["winusb.dll", "setupapi.dll"]),
    "firmware-real-controller": (scenario_firmware_real_controller,
                                 ["winusb.dll", "setupapi.dll"]),
}


def main():
    wine_run, host, scenario = sys.argv[1:4]
    if scenario not in SCENARIOS:
        print("unknown scenario", scenario)
        return 2
    run, standins = SCENARIOS[scenario]
    with tempfile.TemporaryDirectory() as tmp:
        run(wine_run, prepare_folder(host, tmp, standins), tmp)
    return 0


if __name__ == "__main__":
    sys.exit(main())
