#!/usr/bin/env python3
"""Checks the gallery of screenshots: every expected picture is there and ImageMagick reads
it as a PNG of a plausible size.

Usage: check_gallery.py IDENTIFY GALLERY_DIR"""
import os
import subprocess
import sys

TABS = ["general", "input_filter", "analog", "thc", "zcorr", "about"]
EXPECTED = (["page_" + t for t in TABS] + ["config_" + t for t in TABS] +
            ["probe_log_options", "config_run_general", "config_run_about",
             "page_input_filter_editing", "config_run_input_filter",
             "firmware_update_mid", "firmware_update_end", "firmware_update_failed",
             "thc_advanced", "page_thc_live", "page_thc_warning",
             "status_online", "status_offline",
             "zmap_rainbow", "zmap_greyscale",
             "curve_editor", "curve_editor_dragged", "curve_editor_suite"])


def main():
    identify, folder = sys.argv[1:3]
    failed = False
    for name in EXPECTED:
        path = os.path.join(folder, name + ".png")
        if not os.path.exists(path):
            print("missing:", path)
            failed = True
            continue
        result = subprocess.run([identify, "-format", "%m %w %h", path], capture_output=True,
                                text=True)
        fields = result.stdout.split()
        if result.returncode != 0 or len(fields) != 3 or fields[0] != "PNG":
            print("unreadable:", path, result.stdout, result.stderr)
            failed = True
            continue
        width, height = int(fields[1]), int(fields[2])
        if not (100 <= width <= 1280 and 100 <= height <= 1024):
            print("implausible size:", path, width, height)
            failed = True
            continue
        print("ok: %s %dx%d" % (name, width, height))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
