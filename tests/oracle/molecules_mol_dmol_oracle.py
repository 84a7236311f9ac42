#!/usr/bin/python3
"""Checks the MOL/SD and DMol readers and the DMol export against Open Babel
and ASE, never against the program's own output.

For every file of tests/data/import/mol and tests/data/import/dmol the
script runs bench/ovrender FILE out.png (the program's open path, first
structure) and compares:
  - MOL/SD: the atoms and the bonds with those Open Babel reads (pybel,
    first record); the elements, in order, through the DMol export;
  - DMol: the atoms (a molecule's) or the atoms of one cell (a crystal's)
    with those ASE reads; the cell and, for a crystal, the fractional
    positions modulo whole cells of the export against the file's own.
Then the DMol export of every example (ovrender EXAMPLE out.car) is read by
ASE and by Open Babel: every atom and element, a crystal's one cell with no
two atoms at one place, coordinates equal to the written precision.
"""

import argparse
import glob
import os
import re
import subprocess
import sys
import tempfile

import ase.io
import numpy as np
from openbabel import openbabel as ob
from openbabel import pybel

ob.obErrorLog.SetOutputLevel(0)
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def ovrender(build, path, out):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8")
    run = subprocess.run([os.path.join(build, "bench", "ovrender"), path, out], capture_output=True, text=True,
                         env=env, timeout=300)
    if run.returncode != 0:
        raise RuntimeError(f"ovrender {path}: {run.stderr[-2000:]}")
    counts = {}
    for key in ("atoms", "bonds", "cell atoms"):
        m = re.search(r"(?:^|\s)" + key + r" (\d+)", run.stdout, re.M)
        if m:
            counts[key] = int(m.group(1))
    return counts


def same_sites(frac_a, sym_a, frac_b, sym_b, tol=1e-4):
    """Every atom of a has one of b at its place modulo whole cells, with its element."""
    if len(frac_a) != len(frac_b):
        return False
    used = set()
    for u, s in zip(frac_a, sym_a):
        d = np.array(frac_b) - u
        d -= np.round(d)
        hit = [k for k in np.nonzero(np.all(np.abs(d) < tol, axis=1))[0] if sym_b[k] == s and k not in used]
        if not hit:
            return False
        used.add(hit[0])
    return True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--source-dir", required=True)
    args = ap.parse_args()
    data = os.path.join(args.source_dir, "tests", "data", "import")
    tmp = tempfile.mkdtemp(prefix="ovmoldmol-")
    png, car = os.path.join(tmp, "out.png"), os.path.join(tmp, "out.car")

    for path in sorted(glob.glob(os.path.join(data, "mol", "*"))):
        if path.endswith(".txt"):
            continue
        name = os.path.basename(path)
        fmt = "sdf" if path.endswith((".sdf", ".sd")) else "mol"
        mol = next(pybel.readfile(fmt, path))
        ours = ovrender(args.build_dir, path, png)
        check(ours.get("atoms") == len(mol.atoms), f"{name}: atoms {ours.get('atoms')} vs Open Babel {len(mol.atoms)}")
        check(ours.get("bonds") == mol.OBMol.NumBonds(),
              f"{name}: bonds {ours.get('bonds')} vs Open Babel {mol.OBMol.NumBonds()}")
        if any(a.atomicnum == 0 for a in mol.atoms):
            continue  # query atoms: ASE reads no placeholder element back
        ovrender(args.build_dir, path, car)
        back = ase.io.read(car, format="dmol-car")
        expected = [ob.GetSymbol(a.atomicnum) for a in mol.atoms]
        check(back.get_chemical_symbols() == expected, f"{name}: elements {back.get_chemical_symbols()} vs {expected}")
        check(np.allclose(back.positions, [a.coords for a in mol.atoms], atol=1e-4), f"{name}: positions")

    for path in sorted(glob.glob(os.path.join(data, "dmol", "*"))):
        if path.endswith(".txt"):
            continue
        name = os.path.basename(path)
        if open(path, errors="replace").read().count("\nend") > 2 and not path.endswith(".arc"):
            # An archive of several molecule blocks: ASE reads only the first
            # (the count is checked by hand in DMolReaderTest).
            continue
        theirs = ase.io.read(path, format="dmol-arc" if path.endswith(".arc") else "dmol-car", index=0)
        ours = ovrender(args.build_dir, path, png)
        periodic = all(theirs.pbc)
        n = ours.get("cell atoms") if periodic else ours.get("atoms")
        check(n == len(theirs), f"{name}: atoms {n} vs ASE {len(theirs)}")
        ovrender(args.build_dir, path, car)
        back = ase.io.read(car, format="dmol-car")
        check(sorted(back.get_chemical_symbols()) == sorted(theirs.get_chemical_symbols()), f"{name}: elements")
        if periodic:
            check(np.allclose(back.cell.cellpar(), theirs.cell.cellpar(), atol=1e-4), f"{name}: cell")
            check(same_sites(back.get_scaled_positions(wrap=False), back.get_chemical_symbols(),
                             theirs.get_scaled_positions(wrap=False), theirs.get_chemical_symbols()),
                  f"{name}: the exported cell holds other positions than the file")
        else:
            check(np.allclose(back.positions, theirs.positions, atol=1e-6), f"{name}: positions")

    for path in sorted(glob.glob(os.path.join(args.source_dir, "resources", "examples", "*.ovtx"))):
        name = os.path.basename(path)
        ours = ovrender(args.build_dir, path, car)
        back = ase.io.read(car, format="dmol-car")
        babel = next(pybel.readfile("car", car))
        periodic = all(back.pbc)
        n = ours.get("cell atoms") if periodic else ours.get("atoms")
        check(len(back) == n, f"{name}: ASE reads {len(back)} atoms of {n}")
        check(len(babel.atoms) == n, f"{name}: Open Babel reads {len(babel.atoms)} atoms of {n}")
        check([ob.GetSymbol(a.atomicnum) for a in babel.atoms] == back.get_chemical_symbols(),
              f"{name}: Open Babel's elements differ from ASE's")
        check(np.allclose([a.coords for a in babel.atoms], back.positions, atol=1e-9),
              f"{name}: Open Babel's coordinates differ from ASE's")
        if periodic and len(back) > 1:
            d = back.get_all_distances(mic=True)
            np.fill_diagonal(d, np.inf)
            check(d.min() > 0.5, f"{name}: two atoms {d.min():.3f} A apart in the periodic cell")

    if failures:
        print(f"{len(failures)} failure(s)")
        return 1
    print("molecules_mol_dmol oracle: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
