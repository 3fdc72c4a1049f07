#!/usr/bin/env python3
"""Runs kelvro-host.exe (which loads the real kelvro_drv.dll) under Wine on host profiles
shaped like the ones users publish (one line, a CRLF at the end, empty values as an open
and a close tag, thousands of keys, 150 KB) and checks that SetProName and StopPlug left
every byte outside the plugin's section as it was.
Usage: check_profile_bytes.py WINE_RUN HOST_EXE"""
import os
import subprocess
import sys
import tempfile

SECTION_OPEN = b"<kelvro_mach_drv>"
SECTION_CLOSE = b"</kelvro_mach_drv>"
STORED_SECTION = (b"<kelvro_mach_drv><LaserSync>1</LaserSync><PWMFreq>5000</PWMFreq>"
                  b"<HomeRetract></HomeRetract><THCnomvoltage>120</THCnomvoltage>"
                  b"</kelvro_mach_drv>")


def key(out, name, value):
    out += b"<" + name.encode() + b">" + value + b"</" + name.encode() + b">"


def host_profile(bom=b"", declaration=b"", accent=b"\xc3\xa4", section=b"",
                 min_bytes=150 * 1024):
    x = bytearray(bom + declaration + b"<profile><Preferences>")
    for n in range(7):
        m = str(n)
        key(x, "Motor%sActive" % m, b"1" if n < 3 else b"0")
        for k in ("StepPin", "StepPort", "StepNeg", "DirPin", "DirPort", "DirNeg"):
            key(x, "Motor" + m + k, str((n * 5 + len(k)) % 17).encode())
        key(x, "Steps" + m, b"320.")
        key(x, "Vel" + m, b"16.67")
        key(x, "Acc" + m, b"120.")
        key(x, "M%sMax" % m, b"0")
        key(x, "M%sMin" % m, b"-593")
        key(x, "M%sSoftRamp" % m, b"")
    for n in range(53):
        for k, v in (("Active", b"0"), ("Port", b"1"), ("Pin", b"11"), ("Neg", b"0"),
                     ("Emulated", b"0"), ("EmuKey", b"")):
            key(x, "Input%d%s" % (n, k), v)
    for n in range(31):
        for k in ("Active", "Port", "Pin", "Neg"):
            key(x, "Output%d%s" % (n, k), b"0")
    for n in range(8):
        for k in ("Active", "APort", "APin", "BPort", "BPin"):
            key(x, "Encoder%d%s" % (n, k), b"0")
        key(x, "Encoder%dCal" % n, b"")
    n = 0
    while len(x) < min_bytes * 3 // 4:
        values = (b"", str(n * 37 % 1000).encode(), b"Fr" + accent + b"se &amp; Drehbank")
        key(x, "Pref%d" % n, values[n % 3])
        n += 1
    x += b"</Preferences><Mach3Mill>"
    for n in range(300):
        key(x, "Screen%d" % n, b"1" if n % 3 else b"")
    x += b"</Mach3Mill>" + section + b"<Control>"
    n = 0
    while len(x) < min_bytes:
        key(x, "Ctrl%d" % n, str(n).encode() if n % 4 else b"")
        n += 1
    x += b"</Control><VideoPlugIn><Camera></Camera></VideoPlugIn><GCodeVar></GCodeVar>"
    x += b"</profile>\r\n"
    return bytes(x)


def key_text(xml, name):
    start = xml.find(SECTION_OPEN)
    end = xml.find(SECTION_CLOSE)
    inner = xml[start:end]
    at = inner.find(b"<" + name + b">")
    if at < 0:
        return None
    at += len(name) + 2
    return inner[at:inner.find(b"</" + name + b">", at)]


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b)) if len(a) != len(b) else -1


def check(name, original, saved, with_section):
    problems = []
    if with_section:
        head = original[:original.find(SECTION_OPEN) + len(SECTION_OPEN)]
        tail = original[original.find(SECTION_CLOSE):]
    else:
        head = original[:original.rfind(b"</profile>")]
        tail = original[len(head):]
    if not saved.startswith(head):
        problems.append("bytes before the plugin's section differ at offset %d" %
                        first_difference(saved, head))
    if not saved.endswith(tail):
        problems.append("bytes after the plugin's section differ")
    if not with_section:
        inserted = saved[len(head):len(saved) - len(tail)]
        if not (inserted.startswith(SECTION_OPEN) and inserted.endswith(SECTION_CLOSE)):
            problems.append("the new section is not appended as the root's last child")
    expected = {b"PWMFreq": b"5000" if with_section else b"10000",
                b"THCnomvoltage": b"120" if with_section else b"150",
                b"HomeRetract": b"10", b"MapEnc2": b"4", b"LMaxFeed": b"1000."}
    for k, v in expected.items():
        if key_text(saved, k) != v:
            problems.append("%s is %r, expected %r" % (k.decode(), key_text(saved, k), v))
    if saved.count(b"<Encoder7Cal></Encoder7Cal>") != 1 or not saved.endswith(b"\r\n"):
        problems.append("empty elements or the final CRLF changed")
    for p in problems:
        print("FAILED: %s: %s" % (name, p))
    if not problems:
        print("ok: %s: %d bytes, only the plugin's section changed" % (name, len(saved)))
    return not problems


def main():
    wine_run, host = sys.argv[1:3]
    shapes = [
        ("host_utf8", dict()),
        ("host_utf8_with_section", dict(section=STORED_SECTION)),
        ("latin1_with_section", dict(declaration=b'<?xml version="1.0" encoding="ISO-8859-1"?>',
                                     accent=b"\xe4", section=STORED_SECTION)),
        ("latin1", dict(declaration=b'<?xml version="1.0" encoding="ISO-8859-1"?>',
                        accent=b"\xe4")),
        ("utf8_bom", dict(bom=b"\xef\xbb\xbf")),
    ]
    ok = True
    for name, shape in shapes:
        with tempfile.TemporaryDirectory() as tmp:
            profile = os.path.join(tmp, "Mach3Mill.xml")
            original = host_profile(**shape)
            with open(profile, "wb") as f:
                f.write(original)
            result = subprocess.run([wine_run, host, "--profile", profile, "--seconds", "0.3"],
                                    capture_output=True, text=True, timeout=120)
            if result.returncode != 0:
                print("FAILED: %s: host exited %d: %s" % (name, result.returncode,
                                                           result.stderr[-2000:]))
                ok = False
                continue
            with open(profile, "rb") as f:
                saved = f.read()
            ok = check(name, original, saved, "section" in shape) and ok
            leftovers = sorted(os.listdir(tmp))
            if leftovers != ["Mach3Mill.xml"]:
                print("FAILED: %s: files left behind: %s" % (name, leftovers))
                ok = False
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
