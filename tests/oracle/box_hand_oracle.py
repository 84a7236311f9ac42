#!/usr/bin/python3
"""Checks that a box of either hand opens as the file's atoms, not their mirror.

A chiral probe of four atoms (C at the corner, N, O and F along three
directions that are not in one plane) is written in every format that
gives a box by its vectors or bounds, once in a right-handed box and once
in a left-handed one (third vector down, or bounds running backwards).
Each file is opened by <build-dir>/bench/ovrender and written as a CIF;
gemmi reads the CIF back, turns the four sites into Cartesian positions
and the triple product (N - C) . ((O - C) x (F - C)) must have the sign,
and the size, of the same product over the Cartesian positions the file
itself gives (worked out here from the file's own numbers). Differences
are taken to the nearest lattice image, for an atom may be wrapped into
the cell. A box turned round says so in the Log, and only such a box.
"""

import argparse
import os
import subprocess
import sys
import tempfile

import gemmi
import numpy as np

# The probe in fractions of its box: well inside, so that every atom lies
# in the box whatever its hand.
PROBE = [("C", (0.30, 0.30, 0.30)), ("N", (0.45, 0.30, 0.30)), ("O", (0.30, 0.42, 0.30)),
         ("F", (0.33, 0.34, 0.48))]
MASSES = {"C": 12.011, "N": 14.007, "O": 15.999, "F": 18.998}

RIGHT = np.array([[10.0, 0.0, 0.0], [0.0, 11.0, 0.0], [1.0, 0.0, 12.0]])
LEFT = np.array([[10.0, 0.0, 0.0], [0.0, 11.0, 0.0], [1.0, 0.0, -12.0]])


def cartesian(box, origin=(0.0, 0.0, 0.0)):
    return [(e, np.array(origin) + np.array(f) @ box) for e, f in PROBE]


def rows(box):
    return "\n".join(" ".join(f"{v:.6f}" for v in row) for row in box)


def xyz_file(box):
    atoms = cartesian(box)
    lattice = " ".join(f"{v:g}" for v in box.reshape(9))
    text = f"4\nLattice=\"{lattice}\" Properties=species:S:1:pos:R:3 pbc=\"T T T\"\n"
    text += "".join(f"{e} {x[0]:.6f} {x[1]:.6f} {x[2]:.6f}\n" for e, x in atoms)
    return "probe.xyz", text, atoms


def dlpoly_origin(box):
    return -0.5 * box.sum(axis=0)


def config_file(box):
    atoms = cartesian(box, dlpoly_origin(box))
    text = "chiral probe\n0 3 4\n" + rows(box) + "\n"
    text += "".join(f"{e} {k + 1}\n{x[0]:.6f} {x[1]:.6f} {x[2]:.6f}\n" for k, (e, x) in enumerate(atoms))
    return "CONFIG", text, atoms


def history_file(box):
    atoms = cartesian(box, dlpoly_origin(box))
    text = "chiral probe\n0 3 4\ntimestep 0 4 0 3 0.001000\n" + rows(box) + "\n"
    text += "".join(f"{e} {k + 1} {MASSES[e]} 0.0\n{x[0]:.6f} {x[1]:.6f} {x[2]:.6f}\n"
                    for k, (e, x) in enumerate(atoms))
    return "HISTORY", text, atoms


def dump_file(bounds, scaled):
    """A dump whose bounds may run backwards: x from xlo to xhi, and so on."""
    box = np.diag([hi - lo for lo, hi in bounds])
    origin = [lo for lo, _ in bounds]
    atoms = cartesian(box, origin)
    text = "ITEM: TIMESTEP\n0\nITEM: NUMBER OF ATOMS\n4\nITEM: BOX BOUNDS pp pp pp\n"
    text += "".join(f"{lo:g} {hi:g}\n" for lo, hi in bounds)
    if scaled:
        text += "ITEM: ATOMS id element xs ys zs\n"
        text += "".join(f"{k + 1} {e} {f[0]:.6f} {f[1]:.6f} {f[2]:.6f}\n" for k, (e, f) in enumerate(PROBE))
    else:
        text += "ITEM: ATOMS id element x y z\n"
        text += "".join(f"{k + 1} {e} {x[0]:.6f} {x[1]:.6f} {x[2]:.6f}\n" for k, (e, x) in enumerate(atoms))
    return "dump.probe.lammpstrj", text, atoms


def poscar_file(box):
    text = "chiral probe\n1.0\n" + rows(box) + "\nC N O F\n1 1 1 1\nDirect\n"
    text += "".join(f"{f[0]:.6f} {f[1]:.6f} {f[2]:.6f}\n" for _, f in PROBE)
    return "POSCAR", text, cartesian(box)


CASES = [
    ("XYZ Lattice=, right-handed", xyz_file(RIGHT)),
    ("XYZ Lattice=, left-handed", xyz_file(LEFT)),
    ("DL_POLY CONFIG, right-handed", config_file(RIGHT)),
    ("DL_POLY CONFIG, third row down", config_file(LEFT)),
    ("DL_POLY HISTORY, third row down", history_file(LEFT)),
    ("LAMMPS dump, bounds forwards", dump_file([(0, 10), (0, 11), (0, 12)], False)),
    ("LAMMPS dump, x bounds backwards", dump_file([(10, 0), (0, 11), (0, 12)], False)),
    ("LAMMPS dump, z bounds backwards, scaled", dump_file([(0, 10), (0, 11), (12, 0)], True)),
    ("VASP, third vector down", poscar_file(LEFT)),
]


def triple(points):
    c, n, o, f = points
    return float(np.dot(n - c, np.cross(o - c, f - c)))


def nearest(d, cell):
    frac = np.array(cell.fractionalize(gemmi.Position(*d)).tolist())
    frac -= np.round(frac)
    return np.array(cell.orthogonalize(gemmi.Fractional(*frac)).tolist())


def opened(build, path, tmp):
    cif = os.path.join(tmp, "out.cif")
    run = subprocess.run([os.path.join(build, "bench", "ovrender"), path, cif], capture_output=True, text=True,
                         env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    if run.returncode != 0:
        raise RuntimeError("ovrender failed: " + run.stdout + run.stderr)
    st = gemmi.read_small_structure(cif)
    sites = {site.type_symbol: np.array(st.cell.orthogonalize(site.fract).tolist()) for site in st.sites}
    c = sites["C"]
    return [c] + [c + nearest(sites[e] - c, st.cell) for e in ("N", "O", "F")], "left-handed" in run.stdout + run.stderr


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--source-dir", required=True)
    args = parser.parse_args()
    failed = False
    for title, (name, text, atoms) in CASES:
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, name)
            with open(path, "w") as f:
                f.write(text)
            try:
                points, told = opened(args.build_dir, path, tmp)
                ours = triple(points)
                fault = None
            except (RuntimeError, KeyError) as e:
                ours, fault = None, str(e)
        theirs = triple([x for _, x in atoms])
        if fault is None and not abs(ours - theirs) <= 1e-3 * abs(theirs):
            fault = f"triple product {ours:.4f}, the file's {theirs:.4f}"
        elif fault is None and told != ("right-handed" not in title and "forwards" not in title):
            fault = "the Log " + ("tells of" if told else "says nothing of") + " a left-handed box"
        print(("FAIL " if fault else "ok   ") + title)
        if fault:
            print("    " + fault)
        failed = failed or fault is not None
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
