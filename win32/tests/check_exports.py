#!/usr/bin/env python3
"""Checks the DLL's export table (exactly the 21 entry points, undecorated), that it imports
Windows system DLLs only (no MinGW runtime DLLs to ship) and that it is built for the
expected machine. Usage: check_exports.py DLL OBJDUMP FORMAT (pei-i386 for the plugin)."""
import subprocess
import sys

EXPECTED = sorted("""InitControl SetGetMenuRange SetDoButton SetSetDRO SetGetDRO SetGetLED
SetSetLED SetCode SetProName PostInitControl Config StopPlug Update Notify DoDwell Reset
JogOn JogOff Purge Probe Home""".split())
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "user32.dll", "gdi32.dll", "comctl32.dll",
               "comdlg32.dll", "ole32.dll", "oleaut32.dll", "setupapi.dll", "version.dll",
               "advapi32.dll", "shell32.dll", "shlwapi.dll", "uxtheme.dll", "olepro32.dll"}


def main():
    dll, objdump, expected_format = sys.argv[1:4]
    dump = subprocess.run([objdump, "-p", dll], check=True, capture_output=True,
                          text=True).stdout
    exports, imports, in_exports = [], [], False
    for line in dump.splitlines():
        if line.startswith("[Ordinal/Name Pointer] Table"):
            in_exports = True
            continue
        if in_exports:
            stripped = line.strip()
            if stripped.startswith("[") and "]" in stripped:
                exports.append(stripped.split("]", 1)[1].strip())
            elif stripped == "" and exports:
                in_exports = False
        if line.strip().startswith("DLL Name:"):
            imports.append(line.split(":", 1)[1].strip().lower())
    ok = True
    if ("file format " + expected_format) not in dump:
        print("not a", expected_format, "file")
        ok = False
    if sorted(exports) != EXPECTED:
        print("exports differ:", sorted(set(exports) ^ set(EXPECTED)))
        ok = False
    foreign = [d for d in imports if d not in SYSTEM_DLLS]
    if foreign:
        print("imports non-system DLLs:", foreign)
        ok = False
    print("exports:", len(exports), "imports:", ", ".join(imports))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
