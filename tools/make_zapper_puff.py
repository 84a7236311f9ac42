#!/usr/bin/python3
"""Writes resources/images/ToolbarPoof.png: the five frames of the zapper's
puff of smoke, side by side (48 x 48 pixels each), drawn here as a cluster of
soft grey discs that swells and fades.

Rerun from the top folder with:  /usr/bin/python3 tools/make_zapper_puff.py
"""

import math
import os
import struct
import zlib

FRAME = 48
FRAMES = 5
# Disc centres (relative to the frame centre, in units of the frame's half
# width) and relative radii: a small cloud.
BLOBS = [(0.0, 0.0, 1.0), (-0.35, -0.2, 0.7), (0.35, -0.15, 0.75),
         (-0.25, 0.3, 0.65), (0.3, 0.3, 0.6), (0.0, -0.4, 0.55)]


def pixel(x, y, frame):
    grow = 0.35 + 0.15 * frame           # the cloud swells
    fade = 1.0 - 0.18 * frame            # and thins out
    cx = cy = FRAME / 2.0
    half = FRAME / 2.0
    cover = 0.0
    for bx, by, br in BLOBS:
        dx = (x + 0.5 - (cx + bx * half * grow * 1.6)) / (half * grow * br)
        dy = (y + 0.5 - (cy + by * half * grow * 1.6)) / (half * grow * br)
        d = math.hypot(dx, dy)
        if d < 1.0:
            cover = max(cover, 1.0 - d * d)
    alpha = int(round(255 * min(1.0, cover * 1.6) * fade))
    shade = int(235 - 60 * (y / FRAME))  # lighter on top
    return (shade, shade, shade, alpha)


def main():
    width, height = FRAME * FRAMES, FRAME
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            rows.extend(pixel(x % FRAME, y, x // FRAME))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(rows), 9))
    png += chunk(b"IEND", b"")
    out = os.path.join(os.path.dirname(__file__), "..", "resources", "images", "ToolbarPoof.png")
    with open(out, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main()
