#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into tests/fuzz/corpus/<target>/.

The seeds are the inputs the tests use, built here from the wire layout and the file
formats directly: status reports of every mode the controller reports, host profiles in
the shapes users have (one line, indented, other encodings), the shipped part programs and
point files, and packed firmware images sound and damaged. Run it again after changing a
format; fuzz.sh copies the corpus before fuzzing so the kept seeds never change by a run.
"""
import pathlib
import shutil
import struct

ROOT = pathlib.Path(__file__).resolve().parent.parent
OUT = ROOT / "tests" / "fuzz" / "corpus"


def status_report(mode=0, sequence=0, flags=0, inputs=0, positions=(0,) * 6, thc=0,
                  index=0, fill=0, stamp=0, enc=(0, 0), stop=0, homed=0, ring=0xFFFF, analog=0):
    """The 60 bytes of one status report, field by field at its offset."""
    b = bytearray(60)
    b[0] = 0x3C
    b[1], b[2], b[3] = mode, sequence, flags
    struct.pack_into("<HH", b, 4, inputs, 0)
    struct.pack_into("<6i", b, 8, *positions)
    struct.pack_into("<iI", b, 32, thc, index)
    struct.pack_into("<HI", b, 40, fill, stamp)
    struct.pack_into("<ii", b, 46, *enc)
    b[54], b[55] = stop, homed
    struct.pack_into("<HH", b, 56, ring, analog)
    return bytes(b)


def status_reports():
    # Modes: 0 IDLE, 1 JOG, 2 SEGM, 3 HOLD, 4 ESTOP, 5 SAFE, 6 RDOWN; sequences HOME0..4 = 1..5,
    # PROBE1 6, PROBE2 7, MPG 8.
    return {
        "idle": status_report(),
        "segm_streaming": status_report(mode=2, fill=600, positions=(1000, -2000, 300, 0, 0, 0),
                                        ring=12, stamp=123456),
        "hold": status_report(mode=3, fill=49),
        "estop_limit": status_report(mode=4, stop=2, inputs=0x0001),
        "home4_x": status_report(sequence=5, homed=0),
        "probe_hit": status_report(mode=2, sequence=6, inputs=0x0010, positions=(0, 0, -5123, 0, 0, 0)),
        "thc_arc_ok": status_report(mode=2, flags=0x0A, thc=-250, analog=2048, fill=900),
        "resync": status_report(mode=2, flags=0x01, fill=10),
        "jog_mpg": status_report(mode=1, sequence=8, enc=(400, -17), index=50000),
    }


def tick_inputs(reports):
    """Inputs of the tick target: a length byte (n % 64 + 1 bytes) before each report."""
    seq = [reports["idle"], reports["segm_streaming"], reports["segm_streaming"],
           reports["thc_arc_ok"], reports["probe_hit"], reports["estop_limit"]]
    out = {"stream": b"".join(bytes([59]) + r for r in seq)}
    out["short_then_good"] = bytes([9]) + reports["idle"][:10] + bytes([59]) + reports["idle"]
    out["home"] = b"".join(bytes([59]) + r for r in (reports["home4_x"],) * 3)
    out["wrong_marker"] = bytes([59]) + b"\x3D" + reports["idle"][1:]
    return out


HOST_ONE_LINE = (
    '<profile><Preferences><Motor0Active>1</Motor0Active><Steps0>320.</Steps0>'
    '<Vel0>16.67</Vel0><Acc0>120.</Acc0><M0Max>0</M0Max><M0Min>-593</M0Min>'
    '<Encoder7Cal></Encoder7Cal><SPINRATIO1>1.</SPINRATIO1><Units>0</Units></Preferences>'
    '<Mach3Mill><Dummy>1</Dummy></Mach3Mill><Control></Control>'
    '<kelvro_mach_drv><PWMFreq>10000</PWMFreq><IndexCnt>1</IndexCnt><LCurveCnt>2</LCurveCnt>'
    '<LCurveX0>0.</LCurveX0><LCurveY0>0.</LCurveY0><LCurveX1>100.</LCurveX1>'
    '<LCurveY1>100.</LCurveY1><THCSpeed>50.</THCSpeed></kelvro_mach_drv></profile>\r\n')


def profiles():
    indented = HOST_ONE_LINE.replace("><", ">\n  <")
    latin1 = ('<?xml version="1.0" encoding="ISO-8859-1"?>\n<profile><Preferences>'
              '<Name>Fr\xe4se M\xfcller</Name></Preferences><kelvro_mach_drv>'
              '<HomeRetract>10</HomeRetract></kelvro_mach_drv></profile>\n').encode("latin-1")
    return {
        "host_one_line.xml": HOST_ONE_LINE.encode(),
        "indented.xml": indented.encode(),
        "utf8_bom.xml": b"\xef\xbb\xbf" + HOST_ONE_LINE.encode(),
        "utf16le.xml": b"\xff\xfe" + HOST_ONE_LINE.encode("utf-16-le"),
        "latin1_declared.xml": latin1,
        "comments_cdata.xml": (b'<!-- host --><!DOCTYPE profile [<!ENTITY e "x">]><profile>'
                               b'<Preferences><![CDATA[<a>]]>&#65;&amp;</Preferences>'
                               b'<kelvro_mach_drv/></profile>'),
        "empty_root.xml": b"<profile/>",
    }


def zmaps():
    grid = "\n".join(f"{x} {y} {0.01 * x - 0.02 * y + (0.003 if (x + y) % 20 else 0)}"
                     for y in range(0, 30, 10) for x in range(0, 40, 10))
    return {
        "grid_4x3.zmap": grid.encode(),
        "commas_crlf.zmap": grid.replace(" ", ",").replace("\n", "\r\n").encode(),
        "unsorted.zmap": b"10 0 0.1\n0 0 0\n10 10 0.2\n0 10 0.05\n",
        "ragged.zmap": b"0 0 0\n10 0 0.1\n20 0 0.2\n0 10 0\n10 10 0.3\n",
    }


def crc16(data):
    """CRC-16, polynomial 0x1021, initial value 0, no reflection, no final XOR."""
    crc = 0
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else crc << 1
            crc &= 0xFFFF
    return crc


def pack(image):
    """A packed firmware image: the bytes, then their checksum, little-endian."""
    return image + struct.pack("<H", crc16(image))


def firmware_inputs():
    # First byte: how many reply bytes follow (bit 7 also asks the target to repack the image),
    # then the replies, then the packed image.
    image = bytes((i * 37) & 0xFF for i in range(300))
    sound = pack(image)
    damaged = bytearray(sound)
    damaged[5] ^= 0x40
    replies = b"o" * 8
    return {
        "sound": bytes([len(replies)]) + replies + sound,
        "damaged": bytes([len(replies)]) + replies + bytes(damaged),
        "repack": bytes([0x80 | 4]) + b"oooo" + image + b"\0\0",
        "bad_replies": bytes([6]) + b"oxo\0oo" + sound,
    }


def write(target, files):
    folder = OUT / target
    if folder.exists():
        shutil.rmtree(folder)
    folder.mkdir(parents=True)
    for name, data in files.items():
        (folder / name).write_bytes(data)


def curve_files():
    return {
        "three.crv": b"10 20\n50 60\n90 120\n",
        "saved.crv": b"0.000000 12.500000\r\n33.333333 47.250000\r\n100.000000 99.999999\r\n",
        "unordered.crv": b"0 10\n70 30\n40 50\n50 50\n100 90\n",
        "x_only_end.crv": b"-5 +7 25 1e1 80",
        "one_line.crv": b"40 50\n",
        "twenty_two.crv": b"".join(b"%d %d\n" % (i * 4, 100 - i * 3) for i in range(22)),
    }


def main():
    reports = status_reports()
    write("fuzz_status_decode", {k: v for k, v in reports.items()} | {"short": reports["idle"][:59]})
    write("fuzz_status_tick", tick_inputs(reports))
    write("fuzz_profile", profiles())
    write("fuzz_profile_dom", profiles())
    write("fuzz_gcode", {p.name: p.read_bytes() for p in sorted((ROOT / "examples").glob("*.nc"))})
    write("fuzz_zmap", zmaps() | {p.name: p.read_bytes()
                                  for p in sorted((ROOT / "examples").glob("*.zmap"))})
    write("fuzz_firmware_update", firmware_inputs())
    write("fuzz_curve_file", curve_files())


if __name__ == "__main__":
    main()
