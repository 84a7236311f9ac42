#!/usr/bin/python3
"""Reads the program's CIF export back with gemmi: the export keeps what the
opened file said.

Each file is opened and exported by the program (`ovrender FILE out.cif`):
  - a PDB crystal whose atom names repeat in every residue
    (tests/data/import/names/1yjp.pdb): gemmi reads the export as a
    small-molecule CIF; its labels, the loop's key, are unique; there is a
    row per atom of the PDB file as gemmi reads it, in file order, named
    after the atom ("CA", then "CA_2", "CA_3", ...), with gemmi's element and
    fractional position;
  - a PDB crystal with ANISOU records on repeated names: the aniso loop names
    the rows of the site loop, each with the U11 of its own atom;
  - cell lengths with su (Pb1Ti0.35Zr0.65O3-PZT-cub.cif, "4.09836(3)"), and
    a CIF whose coordinates carry su to different decimals: every value with
    su is written as the file wrote it, and a value without su gets none;
  - disorder assemblies and groups (tests/data/bonds/disorder_assemblies.cif):
    the export groups the rows as the file did, and opened again it draws
    the file's 4 bonds (C0-C1, C0-C2, C1-N3, C1-N4, counted by hand).
"""

import argparse
import os
import subprocess
import sys
import tempfile
from collections import Counter

import gemmi

ANISOU_PDB = """\
CRYST1   10.000   10.000   10.000  90.00  90.00  90.00 P 1           1
ATOM      1  CA  GLY A   1       1.000   1.000   1.000  1.00  0.00           C
ANISOU    1  CA  GLY A   1      100    150    200      0      0      0       C
ATOM      2  CA  GLY A   2       4.000   1.000   1.000  1.00  0.00           C
ANISOU    2  CA  GLY A   2      300    350    400      0      0      0       C
ATOM      3 CA_2 GLY A   3       7.000   1.000   1.000  1.00  0.00           C
ANISOU    3 CA_2 GLY A   3      500    550    600      0      0      0       C
END
"""

SU_CIF = """\
data_su
_cell_length_a 5.4307(2)
_cell_length_b 6.1
_cell_length_c 7.123(15)
_cell_angle_alpha 90
_cell_angle_beta 101.25(3)
_cell_angle_gamma 90
loop_
_space_group_symop_operation_xyz
'x,y,z'
loop_
_atom_site_label
_atom_site_type_symbol
_atom_site_fract_x
_atom_site_fract_y
_atom_site_fract_z
Fe1 Fe 0.12345(6) 0.25(1) 0.5
O1 O 0.3000(12) 0.41 0.0712(3)
"""


class Checks:
    def __init__(self):
        self.failures = 0
        self.passed = 0

    def expect(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failures += 1
            print("FAIL " + what)


def export(ovrender, path, out, env):
    run = subprocess.run([ovrender, path, out], capture_output=True, text=True, env=env)
    if run.returncode != 0 or not os.path.exists(out):
        raise RuntimeError(f"ovrender {path} exited {run.returncode}: {run.stderr.strip()[:300]}")
    return gemmi.cif.read(out).sole_block()


def numbered(names):
    """The labels the export must give names repeated in file order."""
    seen = Counter()
    out = []
    for name in names:
        seen[name] += 1
        out.append(name if seen[name] == 1 else f"{name}_{seen[name]}")
    return out


def check_pdb_labels(checks, ovrender, source, tmp, env):
    pdb = os.path.join(source, "tests/data/import/names/1yjp.pdb")
    block = export(ovrender, pdb, os.path.join(tmp, "1yjp.cif"), env)
    st = gemmi.read_structure(pdb)
    atoms = [a for r in st[0].all() for a in [r.atom]]
    labels = list(block.find_values("_atom_site_label"))
    checks.expect(len(labels) == len(atoms) == 66, f"1yjp: {len(labels)} rows for gemmi's {len(atoms)} atoms")
    checks.expect(len(set(labels)) == len(labels), f"1yjp: {len(set(labels))} distinct labels in {len(labels)} rows")
    expected = numbered([a.name for a in atoms])
    checks.expect(labels == expected, f"1yjp: labels {labels[:8]}... expected {expected[:8]}...")
    small = gemmi.make_small_structure_from_block(block)
    by_label = {s.label: s for s in small.sites}
    for label, atom in zip(expected, atoms):
        site = by_label.get(label)
        if site is None:
            checks.expect(False, f"1yjp: no row {label}")
            continue
        frac = st.cell.fractionalize(atom.pos)
        off = max(abs(site.fract.x - frac.x), abs(site.fract.y - frac.y), abs(site.fract.z - frac.z))
        checks.expect(site.element.name == atom.element.name and off < 1e-3,
                      f"1yjp: {label} is {site.element.name} at {site.fract}, gemmi's atom {atom.element.name} at {frac}")


def check_aniso_labels(checks, ovrender, tmp, env):
    pdb = os.path.join(tmp, "aniso.pdb")
    with open(pdb, "w") as f:
        f.write(ANISOU_PDB)
    block = export(ovrender, pdb, os.path.join(tmp, "aniso.cif"), env)
    labels = list(block.find_values("_atom_site_label"))
    checks.expect(len(set(labels)) == len(labels) == 3, f"aniso: site labels {labels}")
    # The file's own CA_2 keeps its label; the second CA passes over it.
    checks.expect(labels == ["CA", "CA_3", "CA_2"], f"aniso: site labels {labels}")
    u11 = {row[0]: float(row[1]) for row in block.find("_atom_site_aniso_", ["label", "U_11"])}
    checks.expect(sorted(u11) == sorted(labels), f"aniso: aniso labels {sorted(u11)} for sites {sorted(labels)}")
    for label, u in zip(["CA", "CA_3", "CA_2"], [0.01, 0.03, 0.05]):
        checks.expect(abs(u11.get(label, -1) - u) < 1e-4, f"aniso: U11 of {label} {u11.get(label)}, the file's {u}")


def check_su(checks, ovrender, source, tmp, env):
    pzt = os.path.join(source, "tests/data/import/names/Pb1Ti0.35Zr0.65O3-PZT-cub.cif")
    given = gemmi.cif.read(pzt).sole_block()
    block = export(ovrender, pzt, os.path.join(tmp, "pzt.cif"), env)
    for tag in ("_cell_length_a", "_cell_length_b", "_cell_length_c"):
        checks.expect(block.find_value(tag) == given.find_value(tag) == "4.09836(3)",
                      f"PZT: {tag} {block.find_value(tag)}, the file's {given.find_value(tag)}")
    for tag in ("_cell_angle_alpha", "_cell_angle_beta", "_cell_angle_gamma"):
        checks.expect("(" not in block.find_value(tag), f"PZT: {tag} {block.find_value(tag)} claims an su")
    # U of the file's sites carry su, which the structure does not keep:
    # written without one rather than with a made-up one.
    for value in block.find_values("_atom_site_U_iso_or_equiv"):
        checks.expect("(" not in value, f"PZT: U {value} claims an su")

    path = os.path.join(tmp, "su.cif")
    with open(path, "w") as f:
        f.write(SU_CIF)
    given = gemmi.cif.read(path).sole_block()
    block = export(ovrender, path, os.path.join(tmp, "su_out.cif"), env)
    for tag in ("_cell_length_a", "_cell_length_c", "_cell_angle_beta"):
        checks.expect(block.find_value(tag) == given.find_value(tag),
                      f"su: {tag} {block.find_value(tag)}, the file's {given.find_value(tag)}")
    for tag in ("_cell_length_b", "_cell_angle_alpha"):
        checks.expect("(" not in block.find_value(tag) and gemmi.cif.as_number(block.find_value(tag)) ==
                      gemmi.cif.as_number(given.find_value(tag)), f"su: {tag} {block.find_value(tag)}")
    rows = {r[0]: list(r)[1:] for r in given.find("_atom_site_", ["label", "fract_x", "fract_y", "fract_z"])}
    for r in block.find("_atom_site_", ["label", "fract_x", "fract_y", "fract_z"]):
        for written, wanted in zip(list(r)[1:], rows.get(r[0], [])):
            if "(" in wanted:
                checks.expect(written == wanted, f"su: {r[0]} coordinate {written}, the file's {wanted}")
            else:
                checks.expect("(" not in written and abs(gemmi.cif.as_number(written) - float(wanted)) < 1e-4,
                              f"su: {r[0]} coordinate {written}, the file's {wanted}")


def check_disorder(checks, ovrender, source, tmp, env):
    path = os.path.join(source, "tests/data/bonds/disorder_assemblies.cif")
    given = gemmi.cif.read(path).sole_block()
    out = os.path.join(tmp, "disorder.cif")
    block = export(ovrender, path, out, env)
    tags = ["label", "disorder_assembly", "disorder_group"]
    want = {r[0]: (r[1], r[2]) for r in given.find("_atom_site_", tags)}
    got = {r[0]: (r[1], r[2]) for r in block.find("_atom_site_", tags)}
    checks.expect(sorted(got) == sorted(want), f"disorder: rows {sorted(got)}, the file's {sorted(want)}")
    # Codes may be renamed, but rows grouped alike stay grouped alike.
    pairs = {(want[k], got[k]) for k in want if k in got}
    checks.expect(len({w for w, _ in pairs}) == len({g for _, g in pairs}) == len(pairs),
                  f"disorder: grouping {sorted(pairs)}")
    checks.expect(all((w[1] in ".?") == (g[1] in ".?") for w, g in pairs), f"disorder: groups {sorted(pairs)}")
    run = subprocess.run([ovrender, out, os.path.join(tmp, "disorder_again.png"), "--size", "200x150"],
                         capture_output=True, text=True, env=env)
    checks.expect(run.returncode == 0 and "bonds 4 " in run.stdout,
                  f"disorder: the export opened again gives {(run.stdout + run.stderr).strip()[:200]}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--source-dir", required=True)
    args = ap.parse_args()
    ovrender = os.path.join(args.build_dir, "bench", "ovrender")
    if not os.path.exists(ovrender):
        print("SKIP: no ovrender (configure with OV_BUILD_BENCH=ON)")
        return 0
    checks = Checks()
    with tempfile.TemporaryDirectory() as tmp:
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8", XDG_CONFIG_HOME=tmp, XDG_CACHE_HOME=tmp)
        env.setdefault("XDG_RUNTIME_DIR", tmp)
        for check in (lambda: check_pdb_labels(checks, ovrender, args.source_dir, tmp, env),
                      lambda: check_aniso_labels(checks, ovrender, tmp, env),
                      lambda: check_su(checks, ovrender, args.source_dir, tmp, env),
                      lambda: check_disorder(checks, ovrender, args.source_dir, tmp, env)):
            try:
                check()
            except RuntimeError as e:
                checks.expect(False, str(e))
    print(f"{checks.passed} passed, {checks.failures} failed")
    return 1 if checks.failures else 0


if __name__ == "__main__":
    sys.exit(main())
