#!/usr/bin/python3
"""Reads the program's movies back with ffprobe and ffmpeg.

The script runs the gtest MovieFileTest.OracleDump of
<build-dir>/tests/test_export, which writes Animation (32- and 24-bit),
Photo-JPEG and PNG movies of known frames, and the frames themselves as PNG,
and MovieCommandsTest.OracleDump, which records a QTVR object movie.
Then for each movie:
  - ffprobe gives the codec (qtrle, mjpeg, png), the size, the time base
    1/600, the frame count and the duration, and every packet is a key frame;
  - `ffmpeg -v error -i x.mov -f null -` prints nothing;
  - the Animation frames, decoded by ffmpeg, equal our frames exactly;
  - the object movie has the image stream and the streams tagged qtvr and
    obje, all of one duration.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

CODECS = {"rle32": "qtrle", "rle24": "qtrle", "jpeg": "mjpeg", "png": "png", "qtvr": "qtrle"}


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, check=False, **kw)


def rgb_bytes(path):
    r = run(["ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"])
    if r.returncode != 0:
        raise AssertionError(r.stderr.decode())
    return r.stdout


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--source-dir", required=True)
    args = ap.parse_args()
    for tool in ("ffprobe", "ffmpeg"):
        if not shutil.which(tool):
            print(f"{tool} missing: install it with scripts/deps")
            return 1
    failures = []
    with tempfile.TemporaryDirectory() as out:
        env = dict(os.environ, OV_MOVIE_DUMP_DIR=out, QT_QPA_PLATFORM="offscreen")
        r = run([os.path.join(args.build_dir, "tests", "test_export"),
                 "--gtest_filter=MovieFileTest.OracleDump:MovieCommandsTest.OracleDump"], env=env, text=True)
        if r.returncode != 0:
            print(r.stdout[-4000:], r.stderr[-4000:])
            return 1
        with open(os.path.join(out, "manifest.txt"), encoding="utf-8") as f:
            cases = [l.split() for l in f if l.strip()]
        if len(cases) != 5:
            failures.append(f"expected 5 movies, manifest lists {len(cases)}")
        for name, kind, width, height, frames, duration in cases:
            path = os.path.join(out, name)
            r = run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                     "-show_entries",
                     "stream=codec_name,width,height,time_base,nb_read_frames,duration_ts",
                     "-of", "default=noprint_wrappers=1", path], text=True)
            got = dict(l.split("=", 1) for l in r.stdout.split() if "=" in l)
            want = {"codec_name": CODECS[kind], "width": width, "height": height,
                    "time_base": "1/600", "nb_read_frames": frames,
                    "duration_ts": str(int(frames) * int(duration))}
            for k, v in want.items():
                if got.get(k) != v:
                    failures.append(f"{name}: {k} is {got.get(k)}, expected {v} ({r.stderr})")
            r = run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                     "packet=flags", "-of", "csv=p=0", path], text=True)
            flags = r.stdout.split()
            if len(flags) != int(frames) or not all(f.startswith("K") for f in flags):
                failures.append(f"{name}: packet flags {flags}")
            r = run(["ffmpeg", "-v", "error", "-i", path, "-f", "null", "-"], text=True)
            if r.returncode != 0 or r.stdout.strip() or r.stderr.strip():
                failures.append(f"{name}: ffmpeg decode reports {r.stderr.strip()!r}")
            if kind == "qtvr":
                # The image track and the VR and object tracks last as long.
                r = run(["ffprobe", "-v", "error", "-show_entries",
                         "stream=codec_type,codec_tag_string,duration_ts", "-of", "csv=p=0", path],
                        text=True)
                streams = [l.split(",") for l in r.stdout.splitlines() if l.strip()]
                tags = sorted(s[1] for s in streams)
                if tags != ["obje", "qtvr", "rle "] or len({s[2] for s in streams}) != 1:
                    failures.append(f"{name}: streams {streams}")
            if kind.startswith("rle"):
                decoded = rgb_bytes(path)
                size = int(width) * int(height) * 3
                for i in range(int(frames)):
                    src = rgb_bytes(os.path.join(out, f"{kind}_src{i}.png"))
                    if decoded[i * size:(i + 1) * size] != src:
                        failures.append(f"{name}: frame {i} differs from our image")
    for f in failures:
        print("FAIL", f)
    print(f"{len(cases)} movies checked, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
