#!/usr/bin/python3
"""Writes the damaged documents of this folder: a sound document with one
stored number replaced, found through the document's own file map.

Run from the source tree's root: tests/data/damaged/make_damaged.py
"""
import struct
from pathlib import Path

HERE = Path(__file__).resolve().parent
DEMO = HERE.parents[2] / "resources" / "Demo Files"


def sections(doc):
    map_offset, = struct.unpack_from("<I", doc, 8)
    count, = struct.unpack_from("<I", doc, map_offset + 8)
    found = {}
    for k in range(count):
        tag, offset, length = struct.unpack_from("<4sII", doc, map_offset + 12 + 12 * k)
        found[tag.decode()] = (offset + 8, length)  # payload start, length
    return found


def patch(source, name, tag, at, fmt, value, expect):
    doc = bytearray((DEMO / source).read_bytes())
    start, length = sections(doc)[tag]
    assert at + struct.calcsize(fmt) <= length
    old, = struct.unpack_from("<" + fmt, doc, start + at)
    assert expect(old), (name, old)  # the field is where we think it is
    struct.pack_into("<" + fmt, doc, start + at, value)
    (HERE / name).write_bytes(bytes(doc))
    print(f"{name}: {tag}+{at} {old} -> {value}")


# VIEW: view direction (3 f32), orientation (9 f32), range (6 f32), cells
# (3 i32), then the plot scale.
patch("Rutile.ovdf", "PlotScale170670.ovdf", "VIEW", 84, "f", 170670.0, lambda v: 2 < v < 500)
# SPHR: u32 count, then the first atom type's element (u16), style (u32), radius.
patch("Rutile.ovdf", "AtomRadius1000.ovdf", "SPHR", 10, "f", 1000.0, lambda v: 0 < v < 3)
# DISP: the minimum ball-and-stick radius follows the default atom style.
patch("Benzene.ovmf", "MinBallRadius1000.ovmf", "DISP", 133, "f", 1000.0, lambda v: 0 <= v < 3)
# DISP: the model type.
patch("Rutile.ovdf", "ModelType9.ovdf", "DISP", 125, "b", 9, lambda v: 1 <= v <= 6)
# CRYS: alpha, beta and gamma of 120 degrees each enclose no cell.
for at in (52, 56, 60):
    source = "Rutile.ovdf" if at == 52 else "../../tests/data/damaged/InvalidCell.ovdf"
    patch(source, "InvalidCell.ovdf", "CRYS", at, "f", 120.0, lambda v: 80 < v < 121)
