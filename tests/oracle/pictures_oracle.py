#!/usr/bin/python3
"""Reads the program's pictures and web page back with independent readers.

The script runs the gtest PictureTest.OracleDump of
<build-dir>/tests/test_export, which writes a plot through every picture
writer at 320 x 240 pixels and 144 dpi, raster PICTs of known pixels (rows
of 248, 252 and 1204 bytes, either side of the 250-byte threshold), a vector
PICT of the plot over a background picture (each of its pixel maps also
written as a picture of its own, with the pixels our opcode walker reads
from it) and a web page with its picture. Then:
  - ImageMagick's identify gives the size and resolution of each raster
    picture (PNG, JPEG, TIFF, BMP and PICT);
  - ImageMagick's convert turns each raster PICT, and each pixel map of the
    vector PICT, into exactly our pixels (ImageMagick skips the vector
    opcodes without drawing them, and misreads short text, so the vector
    picture as a whole is left to the walker);
  - xmllint reads the page as HTML; its IMG SRC, percent-decoded, names the
    picture written beside it, and identify gives the size the page states.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import urllib.parse


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, check=False, **kw)


def identify(path, fmt):
    r = run(["identify", "-format", fmt, path + "[0]"], text=True)
    if r.returncode != 0:
        raise AssertionError(f"identify failed on {path}: {r.stderr}")
    return r.stdout.split()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--source-dir", required=True)
    args = ap.parse_args()
    for tool in ("identify", "convert", "xmllint"):
        if not shutil.which(tool):
            print(f"{tool} missing: install it with scripts/deps")
            return 1
    failures = []
    with tempfile.TemporaryDirectory() as out:
        env = dict(os.environ, OV_PICTURE_DUMP_DIR=out, QT_QPA_PLATFORM="offscreen")
        r = run([os.path.join(args.build_dir, "tests", "test_export"),
                 "--gtest_filter=PictureTest.OracleDump"], env=env, text=True)
        if r.returncode != 0:
            print(r.stdout[-4000:], r.stderr[-4000:])
            return 1
        with open(os.path.join(out, "manifest.txt"), encoding="utf-8") as f:
            lines = [l.rstrip("\n").split(" ") for l in f if l.strip()]
        kinds = set()
        for words in lines:
            kind = words[0]
            kinds.add(kind)
            if kind == "raster":
                name, w, h, dpi = words[1], words[2], words[3], float(words[4])
                got = identify(os.path.join(out, name), "%w %h %x %U")
                units = got[3] if len(got) > 3 else ""
                res = float(got[2])
                if units == "PixelsPerCentimeter":
                    res *= 2.54
                if got[:2] != [w, h]:
                    failures.append(f"{name}: size {got[:2]}, expected {w} x {h}")
                # ImageMagick reports 72 for every PICT, whatever its header
                # says; the PICT's resolution is checked by the walker test.
                if not name.endswith(".pct") and abs(res - dpi) > 0.5:
                    failures.append(f"{name}: resolution {res} {units}, expected {dpi}")
            elif kind == "exact":
                stem, w, h = words[1], int(words[2]), int(words[3])
                got = identify(os.path.join(out, stem + ".pct"), "%w %h")
                if got != [str(w), str(h)]:
                    failures.append(f"{stem}.pct: size {got}")
                pixels = run(["convert", os.path.join(out, stem + ".pct"), "-depth", "8", "rgb:-"]).stdout
                with open(os.path.join(out, stem + ".rgb"), "rb") as f:
                    want = f.read()
                if pixels != want:
                    bad = next((i for i in range(min(len(pixels), len(want))) if pixels[i] != want[i]), None)
                    failures.append(f"{stem}.pct: pixels differ ({len(pixels)} vs {len(want)} bytes, first at {bad})")
            elif kind == "web":
                w, h = words[-2], words[-1]
                page_name = " ".join(words[1:-2])
                page = os.path.join(out, page_name)
                r = run(["xmllint", "--html", "--noout", page], text=True)
                if r.returncode != 0 or r.stderr.strip():
                    failures.append(f"xmllint: {r.stderr.strip()[:500]}")
                with open(page, encoding="utf-8") as f:
                    html = f.read()
                m = re.search(r'<IMG SRC="([^"]*)" WIDTH="(\d+)" HEIGHT="(\d+)"', html)
                if not m:
                    failures.append("no IMG element")
                    continue
                picture = os.path.join(out, urllib.parse.unquote(m.group(1)))
                if not os.path.exists(picture):
                    failures.append(f"IMG SRC {m.group(1)} names no written file")
                    continue
                got = identify(picture, "%w %h %x")
                if [m.group(2), m.group(3)] != [w, h] or got[:2] != [w, h]:
                    failures.append(f"web picture {got[:2]}, page says {m.group(2)} x {m.group(3)}, expected {w} x {h}")
                if abs(float(got[2]) - 72) > 0.5:
                    failures.append(f"web picture at {got[2]} dpi")
        for kind in ("raster", "exact", "web"):
            if kind not in kinds:
                failures.append(f"nothing of kind {kind} was written")
    for f in failures:
        print("FAIL:", f)
    print("pictures oracle:", "failed" if failures else "passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
