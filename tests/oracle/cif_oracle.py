#!/usr/bin/python3
"""Checks the atoms of the unit cell of every CIF in tests/data/import/cif.

For each file the program opens (`ovrender FILE out.cif`, the first structure
of a file of several), this script independently expands each atom site of
the same file by the FILE'S OWN symmetry operators through gemmi.Op (else its
Hall symbol's operators, else its Hermann-Mauguin symbol's), wraps every
position into [0, 1), and merges rows that stand at one position (a mixed
site counts once). Then it compares:
  - the number of atoms with the program's `cell atoms K`;
  - the positions and elements with the same expansion of the CIF the
    program exported from what it read (the round trip), all moved by one
    vector where the export names a group whose origin the file's operators
    moved;
  - the group spglib finds in the expanded cell with the group number the
    export names (when the program found a table setting).
gemmi's small-structure helper is not used: it ignores a file's operators.
"""

import argparse
import glob
import gzip
import math
import os
import re
import subprocess
import sys
import tempfile

import gemmi
import numpy as np
import spglib

TOL = 1e-3


def norm(tag):
    tag = tag.lower()
    return tag.replace(".", "_", 1)


def load(path):
    data = open(path, "rb").read()
    if data[:2] == b"\x1f\x8b":
        data = gzip.decompress(data)
    text = data.rstrip(b"\0").decode("utf-8", "replace")
    return gemmi.cif.read_string(text)


def table(block):
    """Every data name of the block in one spelling -> list of raw values."""
    out = {}
    for item in block:
        if item.pair is not None:
            out.setdefault(norm(item.pair[0]), [item.pair[1]])
        elif item.loop is not None:
            loop = item.loop
            for i, tag in enumerate(loop.tags):
                out.setdefault(norm(tag), [loop.val(r, i) for r in range(loop.length())])
    return out


def number(v):
    if v in ("?", "."):
        return None
    m = re.match(r"^[-+]?[0-9.]+(?:[eE][-+]?\d+)?", v.strip("'\""))
    return float(m.group(0)) if m else None


def first(t, *names):
    for n in names:
        if n in t and t[n] and t[n][0] not in ("?", "."):
            return gemmi.cif.as_string(t[n][0])
    return None


def operators(t, cell):
    ops = t.get("_space_group_symop_operation_xyz") or t.get("_symmetry_equiv_pos_as_xyz")
    if ops:
        return [gemmi.Op(gemmi.cif.as_string(o).replace(" ", "")) for o in ops]
    hall = first(t, "_space_group_name_hall", "_symmetry_space_group_name_hall")
    if hall:
        return list(gemmi.symops_from_hall(hall))
    hm = first(t, "_space_group_name_h-m_alt", "_symmetry_space_group_name_h-m")
    code = first(t, "_space_group_it_coordinate_system_code")
    name = re.sub(r"\s*\{[^}]*\}$", "", hm.split(":")[0].strip())
    suffix = hm.split(":")[1].strip() if ":" in hm else (code or "")
    # A database's setting letter: S is origin 1, Z origin 2; H and R name
    # the axes, which the cell shows.
    letter = re.match(r"^(\S+ .+) ([SZHR])$", name)
    if letter:
        name = letter.group(1)
        suffix = {"S": "1", "Z": "2"}.get(letter.group(2), suffix)
    sg = None
    if name.startswith("R"):
        rhombo = abs(cell[3] - 90) > 1e-3 and abs(cell[3] - cell[5]) < 1e-3
        sg = gemmi.find_spacegroup_by_name(name + (":R" if rhombo else ":H"))
    elif suffix in ("1", "2"):
        sg = gemmi.find_spacegroup_by_name(name + ":" + suffix)
    if sg is None:
        sg = gemmi.find_spacegroup_by_name(name)
        # Of a group with two origins, the one whose operators give the
        # sites' multiplicities the file states, else the first.
        alt = [gemmi.find_spacegroup_by_name(name + o) for o in (":1", ":2")]
        if alt[0] and alt[1]:
            fits = [o for o in alt if multiplicities_fit(t, list(o.operations()))]
            sg = fits[0] if len(fits) == 1 else alt[0]
    return list(sg.operations())


def multiplicities_fit(t, ops):
    given = t.get("_atom_site_symmetry_multiplicity")
    if not given:
        return False
    for m, x, y, z in zip(given, t["_atom_site_fract_x"], t["_atom_site_fract_y"], t["_atom_site_fract_z"]):
        xyz = [number(x), number(y), number(z)]
        if number(m) is None or None in xyz:
            continue
        images = []
        for op in ops:
            p = [v - math.floor(v) for v in op.apply_to_xyz(xyz)]
            if not any(max(abs((p[k] - q[k]) - round(p[k] - q[k])) for k in range(3)) < TOL for q in images):
                images.append(p)
        if len(images) != int(number(m)):
            return False
    return True


def element(label, symbol):
    for text in (symbol, label):
        if not text or text in ("?", "."):
            continue
        m = re.match(r"([A-Za-z]{1,2})", text)
        if not m:
            continue
        for cand in (m.group(1)[:2], m.group(1)[:1]):
            e = gemmi.Element(cand.capitalize())
            if e.atomic_number > 0:
                return e.name
    return "X"


def expand(path):
    """(cell, atoms [[element set, xyz]], operator count) of the first structure."""
    for block in load(path):
        t = table(block)
        cell = [number(first(t, n) or "?") for n in
                ("_cell_length_a", "_cell_length_b", "_cell_length_c",
                 "_cell_angle_alpha", "_cell_angle_beta", "_cell_angle_gamma")]
        xs = t.get("_atom_site_fract_x")
        if None in cell or not xs:
            continue
        ops = operators(t, cell)
        n = len(xs)
        col = lambda name: t.get(name, ["?"] * n)
        rows = []
        for lab, sym, x, y, z, flag in zip(col("_atom_site_label"), col("_atom_site_type_symbol"), xs,
                                           col("_atom_site_fract_y"), col("_atom_site_fract_z"),
                                           col("_atom_site_calc_flag")):
            if flag.lower() == "dum" or None in (number(x), number(y), number(z)):
                continue
            rows.append((element(gemmi.cif.as_string(lab), gemmi.cif.as_string(sym)),
                         [number(x), number(y), number(z)]))
        atoms = []  # [set of elements, xyz]
        for el, xyz in rows:
            for op in ops:
                p = [v - math.floor(v) for v in op.apply_to_xyz(xyz)]
                for a in atoms:
                    d = [(p[k] - a[1][k]) - round(p[k] - a[1][k]) for k in range(3)]
                    if max(abs(v) for v in d) < TOL:
                        a[0].add(el)
                        break
                else:
                    atoms.append([{el}, p])
        return cell, atoms, len(ops)
    return None, [], 0


def spglib_number(cell, atoms):
    a, b, c, al, be, ga = cell
    al, be, ga = (math.radians(v) for v in (al, be, ga))
    v = math.sqrt(1 - math.cos(al) ** 2 - math.cos(be) ** 2 - math.cos(ga) ** 2
                  + 2 * math.cos(al) * math.cos(be) * math.cos(ga))
    lattice = [[a, 0, 0], [b * math.cos(ga), b * math.sin(ga), 0],
               [c * math.cos(be), c * (math.cos(al) - math.cos(be) * math.cos(ga)) / math.sin(ga),
                c * v / math.sin(ga)]]
    kinds = {}
    numbers = [kinds.setdefault(tuple(sorted(a[0])), len(kinds) + 1) for a in atoms]
    data = spglib.get_symmetry_dataset((lattice, [a[1] for a in atoms], numbers), symprec=1e-3)
    return data["number"], data["international"], len(data["rotations"])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--source-dir", required=True)
    args = ap.parse_args()
    ovrender = os.path.join(args.build_dir, "bench", "ovrender")
    if not os.path.exists(ovrender):
        print("SKIP: no ovrender (configure with OV_BUILD_BENCH=ON)")
        return 0
    files = sorted(glob.glob(os.path.join(args.source_dir, "tests/data/import/cif/*.cif*")))
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8")
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        env.setdefault("XDG_RUNTIME_DIR", tmp)
        for path in files:
            name = os.path.basename(path)
            if name.startswith("loop_missing"):
                continue
            out = os.path.join(tmp, "out.cif")
            run = subprocess.run([ovrender, path, out], capture_output=True, text=True, env=env)
            m = re.search(r"^cell atoms (\d+)$", run.stdout, re.M)
            cell, atoms, nops = expand(path)
            if run.returncode != 0 or not m:
                print(f"FAIL {name}: ovrender exited {run.returncode}: {run.stderr.strip()[:300]}")
                failures += 1
                continue
            ours = int(m.group(1))
            problems = []
            if ours != len(atoms):
                problems.append(f"cell atoms {ours}, the file's operators give {len(atoms)}")
            _, back, _ = expand(out)
            text = open(out).read()
            # Where the export names a group whose origin the file's
            # operators moved, it writes the group's operators and the
            # positions about the group's origin: the same atoms, all moved
            # by one vector (tried from the first atom to each of its kind).
            moves = [[0.0, 0.0, 0.0]]
            if atoms and "_space_group_name_H-M_alt" in text:
                moves += [[q[k] - atoms[0][1][k] for k in range(3)] for e, q in back if e == atoms[0][0]]
            unmatched = len(atoms)
            for v in moves:
                missing = 0
                for els, p in atoms:
                    if not any(els == e and max(abs((p[k] + v[k] - q[k]) - round(p[k] + v[k] - q[k]))
                                                for k in range(3)) < TOL for e, q in back):
                        missing += 1
                unmatched = min(unmatched, missing)
            if unmatched or len(back) != len(atoms):
                problems.append(f"the export expands to {len(back)} atoms, {unmatched} of the file's not among them")
            num, symbol, order = spglib_number(cell, atoms)
            written = re.search(r"_symmetry_Int_Tables_number\s+(\d+)", text)
            # Where the atoms have no more symmetry than the file states, the
            # group the program names must be the one spglib finds.
            if written and order == nops and int(written.group(1)) != num:
                problems.append(f"the export names group {written.group(1)}, spglib finds {num} ({symbol})")
            status = "FAIL" if problems else "ok"
            print(f"{status:4} {name}: {ours} atoms per cell; spglib {symbol} ({num})" +
                  ("; " + "; ".join(problems) if problems else ""))
            failures += bool(problems)
    print(f"{len(files) - 1 - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
