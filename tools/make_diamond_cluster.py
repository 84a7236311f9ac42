#!/usr/bin/python3
"""Writes a compact hydrogen-capped diamond cluster for the relaxation
benchmarks, as plain text and as an SD file.

The carbons are the diamond lattice sites (a = 3.567 A, C-C 1.5446 A) inside
the smallest sphere about a lattice site that holds at least the requested
number of atoms once capped; carbons left with fewer than two carbon
neighbours are dropped (repeatedly), and every remaining free tetrahedral
bond gets a hydrogen at 1.09 A along it.

Usage: make_diamond_cluster.py <atoms> <output stem>
writes <stem>.txt ("<atom count> <bond count>", then "<symbol> x y z" per
atom, then "i j" per bond, 0-based) and <stem>.sdf (V3000, which has no
999-atom limit). Rerun it to regenerate; nothing it writes is committed.
"""

import itertools
import math
import sys

A = 3.567
CH = 1.09
BASIS = [(0, 0, 0), (0, .5, .5), (.5, 0, .5), (.5, .5, 0)]
OFFSET = (.25, .25, .25)
# The four bond directions of a site of the first and of the second sublattice.
DIRS = [(1, 1, 1), (1, -1, -1), (-1, 1, -1), (-1, -1, 1)]


def lattice(radius):
    n = int(radius / A) + 2
    sites = {}
    for i, j, k in itertools.product(range(-n, n + 1), repeat=3):
        for b in BASIS:
            for sub, off in ((0, (0, 0, 0)), (1, OFFSET)):
                f = (i + b[0] + off[0], j + b[1] + off[1], k + b[2] + off[2])
                p = tuple(A * c for c in f)
                if math.dist(p, (0, 0, 0)) <= radius:
                    # Integer key in quarter cells.
                    sites[tuple(round(4 * c) for c in f)] = sub
    return sites


def neighbours(key, sub):
    sign = 1 if sub == 0 else -1
    return [tuple(key[t] + sign * d[t] for t in range(3)) for d in DIRS]


def cluster(radius):
    sites = lattice(radius)
    changed = True
    while changed:
        changed = False
        for key, sub in list(sites.items()):
            if sum(n in sites for n in neighbours(key, sub)) < 2:
                del sites[key]
                changed = True
    keys = sorted(sites)
    index = {k: i for i, k in enumerate(keys)}
    atoms = [("C", tuple(A * c / 4 for c in k)) for k in keys]
    bonds = []
    for k in keys:
        sub = sites[k]
        for n, d in zip(neighbours(k, sub), DIRS):
            if n in index:
                if index[k] < index[n]:
                    bonds.append((index[k], index[n]))
            else:
                sign = 1 if sub == 0 else -1
                unit = [sign * c / math.sqrt(3) for c in d]
                pos = tuple(p + CH * u for p, u in zip(atoms[index[k]][1], unit))
                atoms.append(("H", pos))
                bonds.append((index[k], len(atoms) - 1))
    return atoms, bonds


def main():
    target, stem = int(sys.argv[1]), sys.argv[2]
    radius = 3.0
    atoms, bonds = cluster(radius)
    while len(atoms) < target:
        radius += 0.1
        atoms, bonds = cluster(radius)
    with open(stem + ".txt", "w") as f:
        f.write("%d %d\n" % (len(atoms), len(bonds)))
        for s, p in atoms:
            f.write("%s %.5f %.5f %.5f\n" % (s, *p))
        for a, b in bonds:
            f.write("%d %d\n" % (a, b))
    with open(stem + ".sdf", "w") as f:
        f.write("diamond cluster\n  tools/make_diamond_cluster.py\n\n")
        f.write("  0  0  0     0  0            999 V3000\n")
        f.write("M  V30 BEGIN CTAB\nM  V30 COUNTS %d %d 0 0 0\nM  V30 BEGIN ATOM\n" % (len(atoms), len(bonds)))
        for i, (s, p) in enumerate(atoms):
            f.write("M  V30 %d %s %.5f %.5f %.5f 0\n" % (i + 1, s, *p))
        f.write("M  V30 END ATOM\nM  V30 BEGIN BOND\n")
        for i, (a, b) in enumerate(bonds):
            f.write("M  V30 %d 1 %d %d\n" % (i + 1, a + 1, b + 1))
        f.write("M  V30 END BOND\nM  V30 END CTAB\nM  END\n$$$$\n")
    print("%d atoms (%d C), %d bonds, radius %.1f A"
          % (len(atoms), sum(s == "C" for s, _ in atoms), len(bonds), radius))


if __name__ == "__main__":
    main()
