#!/usr/bin/python3
"""Reads the program's CIF, PDB and distances-report exports back with
independent readers.

The script runs the gtest TextExportTest.OracleDump of
<build-dir>/tests/test_export, which builds every structure of
tests/data/structures (and the Benzene example) and writes for each its CIF
(with displacement parameters), PDB and distances report, the shown atoms
with their Cartesian coordinates and the displacement parameters it gave.
Then:
  - gemmi reads every CIF: the cell equals the data file's; the operator
    loop is a whole group (centring included) and it is the group the data
    file names; the unit cell gemmi fills from those operators holds our
    atoms per cell; U_iso and U_ij come back in their columns;
  - Open Babel reads every CIF: one atom per row, with its element;
  - gemmi reads every PDB: the shown atoms, elements from columns 77-78,
    coordinates to 1e-3 A;
  - Open Babel reads every PDB without perceiving bonds: the atoms, and the
    bonds of the CONECT records (Open Babel warns about the charge column);
  - gemmi reads a CIF whose labels are empty, blank-led or look like a
    comment or a reserved word, each label as one value;
  - the distances of the report, site by site, equal those of a search of
    our own over the unit cell that gemmi's operations of the data file's
    group fill from the sites the program kept, within 1e-4 A.
"""

import argparse
import glob
import math
import os
import subprocess
import sys
import tempfile

import gemmi
import numpy as np
from openbabel import openbabel as ob
from openbabel import pybel

ob.obErrorLog.SetOutputLevel(0)


def read_data_structures(folder):
    """title -> (cell, oracle symbol, [(label, element, xyz, occupancy)])"""
    out = {}
    for path in sorted(glob.glob(os.path.join(folder, "*.txt"))):
        title = None
        with open(path, encoding="utf-8") as f:
            for raw in f:
                line = raw.strip()
                if not line or line.startswith("#"):
                    continue
                key, _, rest = line.partition(" ")
                if key == "structure":
                    title, cell, oracle, sites = rest.strip(), None, None, []
                elif key == "cell":
                    cell = [float(v) for v in rest.split()]
                elif key == "oracle":
                    oracle = rest.strip()
                elif key == "site":
                    w = rest.split()
                    occ = float(w[5]) if len(w) > 5 else 1.0
                    sites.append((w[0], w[1], [float(v) for v in w[2:5]], occ))
                elif key == "end":
                    out[title] = (cell, oracle, sites)
    return out


def group_of(oracle):
    """The operations (centring included) of the group the data file names."""
    if oracle.startswith("hall:"):
        return gemmi.symops_from_hall(oracle[5:])
    return gemmi.find_spacegroup_by_name(oracle).operations()


def op_set(ops):
    return sorted(op.wrap().triplet() for op in ops)


def images_of(ops, xyz):
    images = []
    for op in ops:
        p = np.array(op.apply_to_xyz(xyz)) % 1.0
        if not any(np.all(np.abs(((p - q) + 0.5) % 1.0 - 0.5) < 1e-4) for q in images):
            images.append(p)
    return images


def neighbour_distances(cell, kept, label, xyz, r):
    unit = gemmi.UnitCell(*cell)
    frac = np.array(unit.fractionalization_matrix.tolist())
    orth = np.array(unit.orthogonalization_matrix.tolist())
    reach = [int(math.ceil(r * math.sqrt(sum(v * v for v in row)))) + 1 for row in frac]
    shifts = np.array([(a, b, c) for a in range(-reach[0], reach[0] + 1) for b in range(-reach[1], reach[1] + 1)
                       for c in range(-reach[2], reach[2] + 1)], dtype=float)
    p = np.array(xyz)
    found = []
    for other, _, _, _, images in kept:
        for q in images:
            d = np.linalg.norm((q + shifts - p) @ orth.T, axis=1)
            for v in d[d <= r + 1e-6]:
                if other == label and v < 0.01:
                    continue
                found.append(v)
    return sorted(found)


def report_blocks(text):
    """label -> (radius, [distances]) from the report's distance tables."""
    blocks, lines, k = {}, text.split("\n"), 0
    while k < len(lines):
        line = lines[k]
        if line.startswith("Found "):
            words = line.split()
            radius, label = float(words[4]), words[8]
            k += 4
            dist = []
            while lines[k].startswith("|") and "." in lines[k][:6]:
                dist.append(float(lines[k][22:30]))  # "|%4ld.  %-6s   %c%c   %8.4f"
                k += 1
            blocks[label] = (radius, dist)
        k += 1
    return blocks


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--source-dir", required=True)
    args = ap.parse_args()
    data = read_data_structures(os.path.join(args.source_dir, "tests/data/structures"))
    failures = []

    def fail(what):
        failures.append(what)

    with tempfile.TemporaryDirectory() as out:
        env = dict(os.environ, OV_EXPORT_DUMP_DIR=out, QT_QPA_PLATFORM="offscreen")
        run = subprocess.run([os.path.join(args.build_dir, "tests/test_export"),
                              "--gtest_filter=TextExportTest.OracleDump"], env=env, capture_output=True, text=True)
        if run.returncode != 0:
            print(run.stdout, run.stderr)
            return 1
        manifest = [line.rstrip("\n").split("\t") for line in open(os.path.join(out, "manifest.txt"))]
        checked = 0
        for stem, title, kind, per_cell, shown, bonds in manifest:
            base = os.path.join(out, stem)
            atoms = [line.split() for line in open(base + ".xyz")]
            # PDB through gemmi.
            st = gemmi.read_structure(base + ".pdb")
            pdb_atoms = [a for res in st[0][0] for a in res] if len(st) and len(st[0]) else []
            if len(pdb_atoms) != int(shown):
                fail(f"{title}: gemmi reads {len(pdb_atoms)} PDB atoms, {shown} shown")
            for a, (element, x, y, z) in zip(pdb_atoms, atoms):
                if a.element.name.upper() != element.upper():
                    fail(f"{title}: PDB element {a.element.name}, expected {element}")
                    break
                if max(abs(a.pos.x - float(x)), abs(a.pos.y - float(y)), abs(a.pos.z - float(z))) > 1e-3:
                    fail(f"{title}: PDB atom at {a.pos}, expected {x} {y} {z}")
                    break
            # PDB through Open Babel, bonds from CONECT only.
            mol = next(pybel.readfile("pdb", base + ".pdb", opt={"b": None}))
            if len(mol.atoms) != int(shown) or mol.OBMol.NumBonds() != int(bonds):
                fail(f"{title}: Open Babel reads {len(mol.atoms)} atoms and {mol.OBMol.NumBonds()} bonds, "
                     f"expected {shown} and {bonds}")
            if kind == "molecule":
                checked += 1
                continue

            cell, oracle, sites = data[title]
            block = gemmi.cif.read(base + ".cif").sole_block()
            small = gemmi.make_small_structure_from_block(block)
            got = [small.cell.a, small.cell.b, small.cell.c, small.cell.alpha, small.cell.beta, small.cell.gamma]
            if max(abs(g - w) for g, w in zip(got, cell)) > 1e-4:
                fail(f"{title}: CIF cell {got}, data file {cell}")
            triplets = [gemmi.cif.as_string(v) for v in block.find_values("_symmetry_equiv_pos_as_xyz")]
            ops = gemmi.GroupOps([gemmi.Op(t) for t in triplets])
            expected = group_of(oracle)
            if op_set(ops) != op_set(expected):
                fail(f"{title}: the CIF's {len(triplets)} operators are not the group {oracle}")
            elif len(triplets) != len(op_set(expected)):
                fail(f"{title}: {len(triplets)} operators for a group of {len(op_set(expected))}")
            # The unit cell the operations fill: gemmi's own filling for the
            # real structures (random sites near special positions fall
            # within gemmi's merging distance), the operations applied to
            # each row for all.
            filled = sum(len(images_of(ops, [site.fract.x, site.fract.y, site.fract.z])) for site in small.sites)
            found = gemmi.find_spacegroup_by_ops(ops)
            if found is not None and not title[0].isdigit() and not found.xhm().endswith((":1", ":2")):
                small.spacegroup_hm = found.xhm()
                if len(small.get_all_unit_cell_sites()) != filled:
                    fail(f"{title}: gemmi fills {len(small.get_all_unit_cell_sites())} atoms per cell, not {filled}")
            if filled != int(per_cell):
                fail(f"{title}: the operators fill {filled} atoms per cell, we have {per_cell}")
            adp = {w[0]: [float(v) for v in w[1:]] for w in (line.split() for line in open(base + ".adp"))}
            for site in small.sites:
                want = adp.get(site.label.replace("_", " "), adp.get(site.label))
                if want is None:
                    fail(f"{title}: unknown CIF label {site.label}")
                    continue
                kind_of, uiso, u = int(want[0]), want[1], want[2:]
                if kind_of == 1 and abs(site.u_iso - uiso) > 1e-4:
                    fail(f"{title}: {site.label} U_iso {site.u_iso}, expected {uiso}")
                if kind_of == 2:
                    a = site.aniso
                    got_u = [a.u11, a.u22, a.u33, a.u12, a.u13, a.u23]
                    if max(abs(g - w) for g, w in zip(got_u, u)) > 1e-4:
                        fail(f"{title}: {site.label} U_ij {got_u}, expected {u}")
            # CIF through Open Babel: one atom per row.
            mol = next(pybel.readfile("cif", base + ".cif"))
            rows = block.find("_atom_site_", ["label", "type_symbol"])
            ob_elements = sorted(ob.GetSymbol(a.atomicnum) for a in mol.atoms)
            cif_elements = sorted(rows.str(1).strip() for rows in rows)
            # Open Babel fills the cell itself when it knows the group.
            if ob_elements != cif_elements and (len(ob_elements) != int(per_cell) or
                                                set(ob_elements) != set(cif_elements)):
                fail(f"{title}: Open Babel reads {ob_elements}, the CIF has {cif_elements}")
            # The report's distances against our own search over the cell
            # the data file's group fills from the sites the program kept; a
            # distance at the very radius may fall either side of it.
            blocks = report_blocks(open(base + ".txt", encoding="latin-1").read())
            # The sites the program kept (the CIF's rows), at the data file's
            # full-precision coordinates.
            given = {label: xyz for label, _, xyz, _ in sites}
            rows = [(site.label, site.element.name, given.get(site.label, [site.fract.x, site.fract.y, site.fract.z]),
                     site.occ) for site in small.sites]
            kept = [(label, element, xyz, occ, images_of(expected, xyz)) for label, element, xyz, occ in rows]
            for label, element, xyz, occ, images in kept:
                if label not in blocks:
                    continue
                radius, dist = blocks[label]
                want = [d for d in neighbour_distances(cell, kept, label, xyz, radius) if d < radius - 1e-4]
                dist = [d for d in dist if d < radius - 1e-4]
                if len(want) != len(dist) or any(abs(a - b) > 1e-4 for a, b in zip(dist, want)):
                    fail(f"{title}: site {label} within {radius}: report {dist[:6]}..., search {want[:6]}...")
            checked += 1
        # Labels a bare value cannot hold: an empty one takes element and
        # site number, blanks become "_", and each reads back as one value.
        elements = [line.strip() for line in open(os.path.join(out, "labels.txt"))]
        given = ["", " O", "#1", "loop_"]
        want = [g.replace(" ", "_") if g else f"{e}{k + 1}" for k, (g, e) in enumerate(zip(given, elements))]
        try:
            small = gemmi.make_small_structure_from_block(gemmi.cif.read(os.path.join(out, "labels.cif")).sole_block())
            got = [site.label for site in small.sites][:4]
            if got != want:
                fail(f"CIF labels read back as {got}, expected {want}")
        except Exception as e:  # gemmi refuses the file
            fail(f"gemmi cannot read a CIF with unusual labels: {e}")
    for f in failures[:40]:
        print(f)
    print(f"{checked} structures checked, {len(failures)} differences")
    return 1 if failures or checked < 100 else 0


if __name__ == "__main__":
    sys.exit(main())
