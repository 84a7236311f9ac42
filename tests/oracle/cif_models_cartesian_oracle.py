#!/usr/bin/python3
"""Checks the mmCIF models and the Cartesian-only CIFs of tests/data/import/cif.

For each file the program opens (`ovrender FILE out.cif`, or `out.xyz` for a
molecule; of a file of several models, the first), it compares what the
program exported with an independent reader of the same file:
  - mmcif/*: gemmi's model 1, alternate locations removed as gemmi does
    (the first of each residue): the number of sites, their elements, their
    positions made fractional by gemmi's cell, and the anisotropic U of each
    atom that has one, turned by gemmi's matrices onto the crystal's axes;
    a file without a crystal (placeholder cell) exports the atoms' Cartesian
    positions;
  - cartesian/* without the file's own frame: the fractional positions ASE
    and Open Babel give (a along x, b in the x-y plane), or for a file
    without a cell the Cartesian positions both give;
  - cartesian/* with _atom_sites_Cartn_tran_matrix: the positions that
    matrix and vector give (numpy's inverse).
"""

import argparse
import glob
import os
import re
import subprocess
import sys
import tempfile

import ase.io
import gemmi
import numpy as np

TOL_FRACT = 1.5e-4  # the export writes four decimals
TOL_CART = 2e-5


def cif_sites(path):
    """Elements, fractional positions and {label index: U11 U22 U33 U12 U13 U23} of an exported CIF."""
    block = gemmi.cif.read(path).sole_block()
    t = block.find("_atom_site_", ["type_symbol", "fract_x", "fract_y", "fract_z"])
    elements = [r[0] for r in t]
    xyz = np.array([[gemmi.cif.as_number(r[k]) for k in (1, 2, 3)] for r in t])
    aniso = {}
    a = block.find("_atom_site_aniso_", ["U_11", "U_22", "U_33", "U_12", "U_13", "U_23"])
    for i, r in enumerate(a):
        if r[0] not in ("?", "."):
            aniso[i] = [gemmi.cif.as_number(v) for v in r]
    return elements, xyz, aniso


def xyz_atoms(path):
    lines = open(path).read().splitlines()
    n = int(lines[0])
    rows = [l.split() for l in lines[2:2 + n]]
    return [r[0] for r in rows], np.array([[float(v) for v in r[1:4]] for r in rows])


def wrapped_difference(a, b):
    d = np.asarray(a) - np.asarray(b)
    return np.abs(d - np.round(d)).max() if d.size else 0.0


def run(ovrender, path, out, env):
    r = subprocess.run([ovrender, path, out], capture_output=True, text=True, env=env)
    return r.returncode == 0, r.stderr.strip()[:300]


def check_mmcif(path, ovrender, tmp, env):
    st = gemmi.read_structure(path)
    st.remove_alternative_conformations()
    atoms = [a for c in st[0] for r in c for a in r]
    crystal = not (abs(st.cell.a - 1) < 1e-3 and abs(st.cell.b - 1) < 1e-3 and abs(st.cell.c - 1) < 1e-3)
    out = os.path.join(tmp, "out.cif" if crystal else "out.xyz")
    ok, why = run(ovrender, path, out, env)
    if not ok:
        return [f"ovrender failed: {why}"]
    problems = []
    names = [a.element.name for a in atoms]
    if crystal:
        elements, xyz, aniso = cif_sites(out)
        if len(elements) != len(atoms):
            return [f"{len(elements)} sites, gemmi {len(atoms)}"]
        frac = np.array([list(st.cell.fractionalize(a.pos).tolist()) for a in atoms])
        if [e.capitalize() for e in elements] != names:
            problems.append("the elements differ from gemmi's")
        d = wrapped_difference(xyz, frac)
        if d > TOL_FRACT:
            problems.append(f"positions differ from gemmi's by {d:.2e}")
        F = np.array(st.cell.frac.mat.tolist())
        n = np.linalg.norm(F, axis=1)
        expected = {i: a for i, a in enumerate(atoms) if a.aniso.nonzero()}
        if set(aniso) != set(expected):
            problems.append(f"tensors on sites {sorted(aniso)}, gemmi {sorted(expected)}")
        for i, a in expected.items():
            U = (F @ np.array(a.aniso.as_mat33().tolist()) @ F.T) / np.outer(n, n)
            want = [U[0, 0], U[1, 1], U[2, 2], U[0, 1], U[0, 2], U[1, 2]]
            if i in aniso and max(abs(x - y) for x, y in zip(aniso[i], want)) > TOL_FRACT:
                problems.append(f"the tensor of site {i + 1} is {aniso[i]}, gemmi's {want}")
    else:
        elements, cart = xyz_atoms(out)
        want = np.array([a.pos.tolist() for a in atoms])
        if elements != names or np.abs(cart - want).max() > TOL_CART:
            problems.append("the atoms differ from gemmi's")
    return problems


def check_cartesian(path, ovrender, tmp, env):
    block = gemmi.cif.read(path).sole_block()
    matrix = block.find_value("_atom_sites_Cartn_tran_matrix_11")
    has_cell = block.find_value("_cell_length_a") is not None
    out = os.path.join(tmp, "out.cif" if has_cell else "out.xyz")
    ok, why = run(ovrender, path, out, env)
    if not ok:
        return [f"ovrender failed: {why}"]
    if not has_cell:
        elements, cart = xyz_atoms(out)
        problems = []
        a = ase.io.read(path)
        if elements != a.get_chemical_symbols() or np.abs(cart - a.positions).max() > TOL_CART:
            problems.append("the atoms differ from ASE's")
        ob = subprocess.run(["obabel", "-icif", path, "-oxyz"], capture_output=True, text=True).stdout.splitlines()
        obcart = np.array([[float(v) for v in l.split()[1:4]] for l in ob[2:2 + len(elements)]])
        if np.abs(cart - obcart).max() > TOL_CART:
            problems.append("the atoms differ from Open Babel's")
        return problems
    elements, xyz, _ = cif_sites(out)
    references = {}
    if matrix is not None:
        M = np.array([[gemmi.cif.as_number(block.find_value(f"_atom_sites_Cartn_tran_matrix_{i}{j}"))
                       for j in (1, 2, 3)] for i in (1, 2, 3)])
        v = np.array([gemmi.cif.as_number(block.find_value(f"_atom_sites_Cartn_tran_vector_{i}") or "0")
                      for i in (1, 2, 3)])
        t = block.find("_atom_site_", ["Cartn_x", "Cartn_y", "Cartn_z"])
        cart = np.array([[gemmi.cif.as_number(x) for x in r] for r in t])
        references["the file's matrix"] = (cart - v) @ np.linalg.inv(M).T
    else:
        references["ASE"] = ase.io.read(path).get_scaled_positions(wrap=False)
        ob = subprocess.run(["obabel", "-icif", path, "-ocif"], capture_output=True, text=True).stdout
        rows = re.findall(r"^\s*\S+\s+\S+\s+(-?[\d.]+)\s+(-?[\d.]+)\s+(-?[\d.]+)\s+[\d.]+\s*$", ob, re.M)
        references["Open Babel"] = np.array([[float(v) for v in r] for r in rows])
    problems = []
    for name, ref in references.items():
        if len(ref) != len(xyz):
            problems.append(f"{len(xyz)} sites, {name} {len(ref)}")
        elif wrapped_difference(xyz, ref) > TOL_FRACT:
            problems.append(f"positions differ from {name}'s by {wrapped_difference(xyz, ref):.2e}")
    return problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--source-dir", required=True)
    args = ap.parse_args()
    ovrender = os.path.join(args.build_dir, "bench", "ovrender")
    if not os.path.exists(ovrender):
        print("SKIP: no ovrender (configure with OV_BUILD_BENCH=ON)")
        return 0
    data = os.path.join(args.source_dir, "tests/data/import/cif")
    files = [(f, check_mmcif) for f in sorted(glob.glob(os.path.join(data, "mmcif/*.cif*")))]
    files += [(f, check_cartesian) for f in sorted(glob.glob(os.path.join(data, "cartesian/*.cif")))]
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8")
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        env.setdefault("XDG_RUNTIME_DIR", tmp)
        for path, check in files:
            problems = check(path, ovrender, tmp, env)
            print(f"{'FAIL' if problems else 'ok':4} {os.path.relpath(path, data)}" +
                  ("; " + "; ".join(problems) if problems else ""))
            failures += bool(problems)
    print(f"{len(files) - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
