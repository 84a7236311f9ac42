#!/usr/bin/python3
"""Checks how far apart the relaxation leaves molecules that share a window.

All-trans n-hexane chains (standard geometry: C-C 1.53 A, C-C-C 112 deg,
C-H 1.09 A, H-C-H 107 deg) stand parallel, 4.5 A apart: a dimer stacked
face to face across the zig-zag plane, and a 2 x 2 bundle (side by side in
the zig-zag plane and face to face). The gtest RelaxDump.* of
<build-dir>/tests/test_relax puts each in a structure window and gives it the
Relax Molecule command (the whole run the command makes); Open Babel's
`obminimize -ff UFF` minimises the same atoms. Every chain's distance to its
nearest neighbour chain (between carbon centroids), averaged over the
chains, must agree within 0.3 A. Molecules only meet through the
Lennard-Jones term, so they neither fly apart nor collapse.
"""

import argparse
import math
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from relax_oracle import molecule_text, run_dump  # noqa: E402

from openbabel import openbabel as ob  # noqa: E402

SPACING = 4.5       # A, the starting distance between neighbouring chains
SPACING_TOL = 0.3   # A
OB_STEPS = 50000


def hexane():
    """Symbols, coordinates and bonds of all-trans n-hexane along x, its
    carbon zig-zag in the xy plane."""
    half = math.radians(56.0)                   # half the C-C-C angle
    step, offset = 1.53 * math.sin(half), 1.53 * math.cos(half) / 2
    carbons = [(k * step, offset if k % 2 else -offset, 0.0) for k in range(6)]
    symbols, coords, bonds = ["C"] * 6, list(carbons), [(k, k + 1) for k in range(5)]
    tilt = math.radians(53.5)                   # half the H-C-H angle
    for k, (x, y, _) in enumerate(carbons):
        out = 1.0 if k % 2 else -1.0            # away from the chain
        hydrogens = [(x, y + out * 1.09 * math.cos(tilt), s * 1.09 * math.sin(tilt)) for s in (1, -1)]
        if k in (0, 5):
            # The third methyl hydrogen where the next carbon would stand.
            nx, ny = x + (-step if k == 0 else step), -y
            d = math.hypot(nx - x, ny - y)
            hydrogens.append((x + 1.09 * (nx - x) / d, y + 1.09 * (ny - y) / d, 0.0))
        for h in hydrogens:
            symbols.append("H")
            coords.append(h)
            bonds.append((k, len(coords) - 1))
    return symbols, coords, bonds


def bundle(offsets):
    """One hexane per (dy, dz) offset."""
    symbols, coords, bonds = [], [], []
    one = hexane()
    for dy, dz in offsets:
        base = len(coords)
        symbols += one[0]
        coords += [(x, y + dy, z + dz) for x, y, z in one[1]]
        bonds += [(a + base, b + base) for a, b in one[2]]
    return symbols, coords, bonds


def obminimize(symbols, coords, bonds):
    mol = ob.OBMol()
    for s, c in zip(symbols, coords):
        atom = mol.NewAtom()
        atom.SetAtomicNum(ob.GetAtomicNum(s))
        atom.SetVector(*c)
    for a, b in bonds:
        mol.AddBond(a + 1, b + 1, 1)
    conv = ob.OBConversion()
    conv.SetInAndOutFormats("sdf", "sdf")
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "start.sdf")
        conv.WriteFile(mol, src)
        out = subprocess.run(["obminimize", "-ff", "UFF", "-n", str(OB_STEPS), "-osdf", src],
                             check=True, capture_output=True, text=True).stdout
    done = ob.OBMol()
    conv.ReadString(done, out)
    return [(a.GetX(), a.GetY(), a.GetZ()) for a in ob.OBMolAtomIter(done)]


def nearest_chain_spacing(symbols, coords, chains):
    per = len(coords) // chains
    centroids = []
    for c in range(chains):
        carbons = [coords[i] for i in range(c * per, (c + 1) * per) if symbols[i] == "C"]
        centroids.append([sum(p[k] for p in carbons) / len(carbons) for k in range(3)])
    nearest = [min(math.dist(centroids[i], centroids[j]) for j in range(chains) if j != i) for i in range(chains)]
    return sum(nearest) / chains


CASES = {
    "hexane_dimer": [(0.0, 0.0), (0.0, SPACING)],
    "hexane_bundle": [(0.0, 0.0), (0.0, SPACING), (SPACING, 0.0), (SPACING, SPACING)],
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--source-dir", required=True)
    args = parser.parse_args()
    ob.obErrorLog.SetOutputLevel(0)
    parts = {name: bundle(offsets) for name, offsets in CASES.items()}
    lines = []
    for name, part in parts.items():
        lines += molecule_text(name, *part) + ["command"]
    _, ours = run_dump(args.build_dir, lines)
    failures = 0
    for name, (symbols, coords, bonds) in parts.items():
        chains = len(CASES[name])
        mine = nearest_chain_spacing(symbols, ours[name]["atoms"], chains)
        theirs = nearest_chain_spacing(symbols, obminimize(symbols, coords, bonds), chains)
        ok = abs(mine - theirs) <= SPACING_TOL
        print("%-14s started %.2f A apart: relaxed %.3f A, obminimize UFF %.3f A  %s"
              % (name, SPACING, mine, theirs, "ok" if ok else "OFF"))
        failures += not ok
    if failures:
        print("%d failure(s)" % failures)
        return 1
    print("all spacing checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
