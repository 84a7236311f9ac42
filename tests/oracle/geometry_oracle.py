#!/usr/bin/python3
"""Checks the expected values of the geometry and ellipsoid tests against
independent calculations.

The C++ tests tests/model/GeometryTest.cpp and tests/model/EllipsoidMathsTest.cpp
hold their expected numbers as constants between the markers
"// oracle:begin NAME" and "// oracle:end NAME". This script recomputes every
block:

  cells      python3-gemmi UnitCell: reciprocal() lengths and angles, volume,
             calculate_d for a list of Miller indices, for triclinic,
             monoclinic (b and c unique), hexagonal and rhombohedral cells;
  esd        the esd of a distance by first-order propagation with numerical
             derivatives of d itself (numpy central differences), not the
             analytic derivatives of d² that the engine uses;
  ellipsoid  python3-gemmi: the Cartesian tensor U.transformed_by(O N) with O
             the orthogonalisation matrix and N = diag(a*, b*, c*), its
             eigenvalues (calculate_eigenvalues), and the beta tensor
             2 pi² a*_i a*_j U_ij.

and fails when a committed constant differs from the recomputed one by more
than 1e-7 relative. The cell parameters are first rounded to single
precision, as the engine stores them.

    /usr/bin/python3 tests/oracle/geometry_oracle.py --source-dir .          # check
    /usr/bin/python3 tests/oracle/geometry_oracle.py --source-dir . --print  # print the blocks
"""

import argparse
import math
import os
import re
import sys

import gemmi
import numpy as np

# name, a, b, c, alpha, beta, gamma
CELLS = [
    ("triclinic", 5.0, 6.0, 7.0, 80.0, 95.0, 100.0),
    ("triclinic2", 7.342, 9.187, 11.002, 103.45, 94.21, 111.82),
    ("monoclinicB", 8.561, 12.996, 7.192, 90.0, 116.16, 90.0),
    ("monoclinicC", 5.43, 7.91, 9.02, 90.0, 90.0, 104.5),
    ("hexagonal", 4.9134, 4.9134, 5.4052, 90.0, 90.0, 120.0),
    ("rhombohedral", 5.0, 5.0, 5.0, 70.0, 70.0, 70.0),
]
HKL = [(1, 0, 0), (0, 1, 0), (0, 0, 1), (1, 1, 1), (1, -2, 3), (2, 1, -1), (0, 1, 1), (3, 0, -2)]

# The esd case: cell 0 with esds, two sites' coordinate esds, a difference.
ESD_CELL_ESDS = (0.001, 0.002, 0.0015, 0.02, 0.03, 0.01)  # a, b, c (A), angles (degrees)
ESD_SITE1 = (0.0002, 0.0003, 0.0001)
ESD_SITE2 = (0.0004, 0.0002, 0.0003)
ESD_DELTA = (0.31, -0.22, 0.15)

# The ellipsoid cases: cell index and U11, U22, U33, U12, U13, U23 (A²).
ELLIPSOIDS = [
    (0, (0.020, 0.030, 0.025, 0.004, -0.003, 0.005)),
    (2, (0.012, 0.018, 0.031, 0.0, 0.006, 0.0)),
    (4, (0.015, 0.015, 0.022, 0.0075, 0.0, 0.0)),
]


def f32(x):
    return float(np.float32(x))


def cell_of(row):
    return gemmi.UnitCell(*[f32(v) for v in row[1:]])


def fmt(x):
    return "%.9g" % x


def block_cells():
    lines = []
    for row in CELLS:
        cell = cell_of(row)
        r = cell.reciprocal()
        values = [r.a, r.b, r.c, r.alpha, r.beta, r.gamma, cell.volume]
        values += [cell.calculate_d(list(hkl)) for hkl in HKL]
        lines.append("    {%s}, // %s" % (", ".join(fmt(v) for v in values), row[0]))
    return lines


def distance(p):
    a, b, c, al, be, ga, dx, dy, dz = p
    X, Y, Z = a * dx, b * dy, c * dz
    ca, cb, cg = (math.cos(math.radians(t)) for t in (al, be, ga))
    return math.sqrt(X * X + Y * Y + Z * Z + 2 * X * Y * cg + 2 * X * Z * cb + 2 * Y * Z * ca)


def block_esd():
    row = CELLS[0]
    p = np.array([f32(v) for v in row[1:]] + list(ESD_DELTA), dtype=float)
    sig = list(ESD_CELL_ESDS) + [math.hypot(s, t) for s, t in zip(ESD_SITE1, ESD_SITE2)]
    var = 0.0
    for i in range(9):
        h = 1e-6 * max(1.0, abs(p[i]))
        up, dn = p.copy(), p.copy()
        up[i] += h
        dn[i] -= h
        g = (distance(up) - distance(dn)) / (2 * h)
        var += (g * sig[i]) ** 2
    return ["    %s, %s, // d, esd" % (fmt(distance(p)), fmt(math.sqrt(var)))]


def block_ellipsoid():
    lines = []
    for index, u in ELLIPSOIDS:
        cell = cell_of(CELLS[index])
        r = cell.reciprocal()
        U = gemmi.SMat33d(*u)
        N = gemmi.Mat33([[r.a, 0, 0], [0, r.b, 0], [0, 0, r.c]])
        cart = U.transformed_by(cell.orth.mat.multiply(N))
        eig = sorted(cart.calculate_eigenvalues())
        stars = (r.a, r.b, r.c)
        full = [[u[0], u[3], u[4]], [u[3], u[1], u[5]], [u[4], u[5], u[2]]]
        beta = [2 * math.pi ** 2 * stars[i] * stars[j] * full[i][j] for i in range(3) for j in range(3)]
        values = eig + [beta[0], beta[4], beta[8], beta[1], beta[2], beta[5]]
        lines.append("    {%s}, // %s: eigenvalues, beta11 22 33 12 13 23" % (", ".join(fmt(v) for v in values),
                                                                             CELLS[index][0]))
    return lines


BLOCKS = {
    ("tests/model/GeometryTest.cpp", "cells"): block_cells,
    ("tests/model/GeometryTest.cpp", "esd"): block_esd,
    ("tests/model/EllipsoidMathsTest.cpp", "ellipsoid"): block_ellipsoid,
}

NUMBER = re.compile(r"[-+]?(?:\d+\.\d*|\.\d+|\d+)(?:[eE][-+]?\d+)?")


def numbers(lines):
    out = []
    for line in lines:
        body = line.split("//")[0].strip()
        # Only the rows of the initialiser: not the declaration or the "};".
        if body[:1] == "{" or body[:1].isdigit() or body[:1] in "-+.":
            out += [float(x) for x in NUMBER.findall(body)]
    return out


def committed(path, name):
    text = open(path).read()
    m = re.search(r"// oracle:begin %s\n(.*?)// oracle:end %s" % (name, name), text, re.S)
    if not m:
        return None
    return m.group(1).splitlines()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--source-dir", default=".")
    ap.add_argument("--build-dir", default=None)
    ap.add_argument("--print", action="store_true")
    args = ap.parse_args()
    failures = []
    for (rel, name), make in BLOCKS.items():
        fresh = make()
        if args.print:
            print("// %s: %s" % (rel, name))
            print("\n".join(fresh))
            continue
        old = committed(os.path.join(args.source_dir, rel), name)
        if old is None:
            failures.append("%s: block %s missing" % (rel, name))
            continue
        want, have = numbers(fresh), numbers(old)
        if len(want) != len(have):
            failures.append("%s: block %s holds %d numbers, expected %d" % (rel, name, len(have), len(want)))
            continue
        for k, (w, h) in enumerate(zip(want, have)):
            if abs(w - h) > 1e-7 * max(1.0, abs(w)):
                failures.append("%s: block %s number %d is %r, the oracle gives %r" % (rel, name, k, h, w))
    if args.print:
        return 0
    for f in failures:
        print("FAIL", f)
    if failures:
        return 1
    print("geometry oracle: %d blocks agree with python3-gemmi and numpy" % len(BLOCKS))
    return 0


if __name__ == "__main__":
    sys.exit(main())
