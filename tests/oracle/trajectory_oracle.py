#!/usr/bin/python3
"""Checks the trajectory readers against ASE, frame by frame.

ASE reads each file under tests/data/import/{lammpsdump,dlpolyhistory}
whole ('lammps-dump-text', 'dlp-history', every frame). Each frame is cut
out into a file of its own (a dump frame as it stands; a HISTORY frame
after the file's two header lines), which <build-dir>/bench/ovrender opens
and writes as a CIF. The cell, the number of atoms in the cell, the
elements and every atom's fractional position must agree.

ASE keeps a dump's Cartesian positions with the box origin as its cell
displacement, and scaled positions without it; a HISTORY's positions are
about the box centre. ASE takes a dump's elements from its element column
only: with a mass column instead, the element is the one whose standard
atomic mass (ase.data) is nearest, within the precision the mass is written
to (half a unit of its last decimal), at least 0.015 and at most 0.05.
"""

import argparse
import os
import sys
import tempfile

import numpy as np
import ase.io
from ase.data import atomic_masses, chemical_symbols

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from simulation_oracle import our_structure  # noqa: E402

FILES = [
    ("lammpsdump/triclinic.lammpstrj", "lammps-dump-text"),
    ("lammpsdump/dump.scaled", "lammps-dump-text"),
    ("lammpsdump/dump.meoh", "lammps-dump-text"),
    ("dlpolyhistory/HISTORY", "dlp-history"),
]


def dump_frames(lines):
    """Each frame's lines and its ATOMS columns."""
    starts = [k for k, line in enumerate(lines) if line.startswith("ITEM: TIMESTEP")]
    starts[0] = 0  # items before the first step belong to it
    frames = []
    for k, start in enumerate(starts):
        chunk = lines[start:starts[k + 1] if k + 1 < len(starts) else len(lines)]
        columns = next(line.split()[2:] for line in chunk if line.startswith("ITEM: ATOMS"))
        rows = chunk[[n for n, line in enumerate(chunk) if line.startswith("ITEM: ATOMS")][0] + 1:]
        frames.append((chunk, columns, rows))
    return frames


def mass_element(written):
    mantissa = written.lower().replace("d", "e").split("e")
    decimals = len(mantissa[0].partition(".")[2])
    exponent = int(mantissa[1]) if len(mantissa) > 1 else 0
    window = min(0.05, max(0.015, 0.5 * 10.0 ** (exponent - decimals)))
    mass = float(written)
    z = int(np.argmin(np.abs(atomic_masses[1:] - mass))) + 1
    return chemical_symbols[z] if abs(atomic_masses[z] - mass) <= window else "Xx"


def expected_dump(atoms, columns, rows):
    """Elements and fractional positions, in order of the atom IDs."""
    if "element" in columns:
        elements = atoms.get_chemical_symbols()
    else:
        table = sorted((int(r.split()[columns.index("id")]), r.split()[columns.index("mass")]) for r in rows)
        elements = [mass_element(m) for _, m in table]
    scaled = "x" not in columns and "xu" not in columns
    disp = np.zeros(3) if scaled else atoms.get_celldisp().reshape(3)
    return elements, np.linalg.solve(atoms.cell.array.T, (atoms.positions - disp).T).T


def expected_history(atoms):
    centre = 0.5 * atoms.cell.array.sum(axis=0)
    return atoms.get_chemical_symbols(), np.linalg.solve(atoms.cell.array.T, (atoms.positions + centre).T).T


def compare(build, path, elements, frac, cell, tmp):
    cell_atoms, ours, sites = our_structure(build, path, tmp)
    faults = []
    if cell_atoms != len(elements) or len(sites) != len(elements):
        faults.append(f"cell atoms {cell_atoms}, sites {len(sites)}; ASE {len(elements)}")
    if not np.allclose(ours, cell, atol=2e-4):
        faults.append(f"cell {ours}; ASE {list(cell)}")
    for k, (element, xyz) in enumerate(sites[:len(elements)]):
        d = xyz - frac[k]
        d -= np.round(d)
        if element != elements[k]:
            faults.append(f"atom {k + 1}: {element}; expected {elements[k]}")
        if np.abs(d).max() > 2e-4:
            faults.append(f"atom {k + 1}: at {xyz}; ASE {frac[k] % 1.0}")
    return faults


def check(build, source, rel, fmt):
    path = os.path.join(source, "tests", "data", "import", rel)
    with open(path) as f:
        lines = f.readlines()
    faults = []
    with tempfile.TemporaryDirectory() as tmp:
        # This ASE fails on a charge column ("q"): it reads the file with the
        # column renamed, which it then leaves alone.
        renamed = os.path.join(tmp, "ase.input")
        with open(renamed, "w") as f:
            f.writelines(l.replace(" q ", " charge ") if l.startswith("ITEM: ATOMS") else l for l in lines)
        images = ase.io.read(renamed, format=fmt, index=":")
        if fmt == "lammps-dump-text":
            frames = dump_frames(lines)
        else:
            starts = [k for k, line in enumerate(lines) if line.startswith("timestep")]
            frames = [(lines[:2] + lines[s:starts[k + 1] if k + 1 < len(starts) else len(lines)], None, None)
                      for k, s in enumerate(starts)]
        if len(frames) != len(images):
            return [f"{len(frames)} frames; ASE {len(images)}"]
        for k, ((chunk, columns, rows), atoms) in enumerate(zip(frames, images)):
            one = os.path.join(tmp, "dump.frame" if columns else "HISTORY")
            with open(one, "w") as f:
                f.writelines(chunk)
            elements, frac = expected_dump(atoms, columns, rows) if columns else expected_history(atoms)
            faults += [f"frame {k + 1}: {fault}" for fault in
                       compare(build, one, elements, frac, atoms.cell.cellpar(), tmp)]
    return faults


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--source-dir", required=True)
    args = parser.parse_args()
    failed = False
    for rel, fmt in FILES:
        faults = check(args.build_dir, args.source_dir, rel, fmt)
        print(("FAIL " if faults else "ok   ") + rel)
        for fault in faults[:10]:
            print("    " + fault)
        failed = failed or bool(faults)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
