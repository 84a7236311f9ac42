#!/usr/bin/python3
"""Checks the simulation-box readers against ASE.

Each file under tests/data/import/{gromacs,lammps,dlpoly} is opened by
<build-dir>/bench/ovrender, which prints the atoms of the unit cell and
writes the structure as a CIF. ASE reads the same file on its own
(format 'gromacs', 'lammps-data' with the atom style, 'dlp4'). The cell
(a, b, c, alpha, beta, gamma), the number of atoms in the cell, the
elements and every atom's fractional position (ASE's Cartesian position
less its cell origin, through the inverse cell, wrapped into [0, 1)) must
agree.

Elements: for a .gro ASE takes the atom name's letters as they stand,
which makes an ion residue's "CA" carbon; such a name, the name of its
own residue, is calcium here. A LAMMPS data file names no element: the
element of each type is the one whose standard atomic mass (ase.data) is
nearest the type's mass, within 0.5. ASE keeps a data file's positions but
drops its box origin (xlo, ylo, zlo), which this script reads from the
header itself.
"""

import argparse
import os
import subprocess
import sys
import tempfile

import gemmi
import numpy as np
from ase.data import atomic_masses, chemical_symbols
import ase.io

FILES = [
    ("gromacs/triclinic.gro", "gromacs", {}),
    ("gromacs/spc216.gro", "gromacs", {}),
    ("lammps/full.data", "lammps-data", {"style": "full", "units": "real"}),
    ("lammps/atomic.data", "lammps-data", {"style": "atomic", "units": "real"}),
    ("lammps/data.water", "lammps-data", {"style": "full", "units": "real"}),
    ("lammps/data.FeOH3", "lammps-data", {"style": "charge", "units": "real"}),
    ("dlpoly/CONFIG", "dlp4", {}),
]


def expected_elements(atoms, fmt):
    symbols = atoms.get_chemical_symbols()
    if fmt == "gromacs":
        names = atoms.get_array("atomtypes")
        residues = atoms.get_array("residuenames")
        for k, (name, res) in enumerate(zip(names, residues)):
            if name == res and len(name) == 2:
                symbols[k] = name[0] + name[1].lower()
    if fmt == "lammps-data":
        symbols = []
        for m in atoms.get_masses():
            z = int(np.argmin(np.abs(atomic_masses[1:] - m))) + 1
            symbols.append(chemical_symbols[z] if abs(atomic_masses[z] - m) <= 0.5 else "Xx")
    return symbols


def box_origin(path, atoms, fmt):
    if fmt != "lammps-data":
        return atoms.get_celldisp().reshape(3)
    origin = np.zeros(3)
    with open(path) as f:
        for line in f:
            words = line.split("#")[0].split()
            if len(words) == 4 and words[2:] in (["xlo", "xhi"], ["ylo", "yhi"], ["zlo", "zhi"]):
                origin["xyz".index(words[2][0])] = float(words[0])
    return origin


def our_structure(build, path, tmp):
    cif = os.path.join(tmp, "out.cif")
    run = subprocess.run([os.path.join(build, "bench", "ovrender"), path, cif],
                         capture_output=True, text=True, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    if run.returncode != 0:
        raise RuntimeError("ovrender failed: " + run.stderr)
    cell_atoms = None
    for line in run.stdout.splitlines():
        if line.startswith("cell atoms"):
            cell_atoms = int(line.split()[2])
    block = gemmi.cif.read(cif).sole_block()
    cell = [float(block.find_value("_cell_" + k).split("(")[0])
            for k in ("length_a", "length_b", "length_c", "angle_alpha", "angle_beta", "angle_gamma")]
    table = block.find("_atom_site_", ["type_symbol", "fract_x", "fract_y", "fract_z"])
    sites = [(row[0], np.array([float(row[i]) for i in (1, 2, 3)])) for row in table]
    return cell_atoms, cell, sites


def check(build, source, rel, fmt, kwargs):
    path = os.path.join(source, "tests", "data", "import", rel)
    atoms = ase.io.read(path, format=fmt, **kwargs)
    faults = []
    with tempfile.TemporaryDirectory() as tmp:
        cell_atoms, cell, sites = our_structure(build, path, tmp)
    if cell_atoms != len(atoms) or len(sites) != len(atoms):
        faults.append(f"cell atoms {cell_atoms}, sites {len(sites)}; ASE {len(atoms)}")
    theirs = atoms.cell.cellpar()
    if not np.allclose(cell, theirs, atol=2e-4):
        faults.append(f"cell {cell}; ASE {list(theirs)}")
    frac = np.linalg.solve(atoms.cell.array.T, (atoms.positions - box_origin(path, atoms, fmt)).T).T % 1.0
    elements = expected_elements(atoms, fmt)
    for k, (element, xyz) in enumerate(sites[:len(atoms)]):
        d = xyz - frac[k]
        d -= np.round(d)
        if element != elements[k]:
            faults.append(f"atom {k + 1}: {element}; expected {elements[k]}")
        if np.abs(d).max() > 2e-4:
            faults.append(f"atom {k + 1}: at {xyz}; ASE {frac[k]}")
    return faults


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--source-dir", required=True)
    args = parser.parse_args()
    failed = False
    for rel, fmt, kwargs in FILES:
        faults = check(args.build_dir, args.source_dir, rel, fmt, kwargs)
        print(("FAIL " if faults else "ok   ") + rel)
        for f in faults[:10]:
            print("    " + f)
        failed = failed or bool(faults)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
