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
    the file's 4 bonds (C0-C1, C0-C2, C1-N3, C1-N4, counted by hand);
  - the setting: gemmi's read_small_structure takes the space group from the
    symbol the export states, not from its operators; the images of the
    sites under that group fill the cell. Per element, the distinct places
    must equal those of the source: for a CIF source the cell its own
    operators fill; for another format counts made by hand (the file's
    multiplicities, or the file's sites expanded by gemmi in the group with
    its origin stated, as tests/oracle/cell_atoms_oracle.py does). A source
    whose operators are a group's about another origin, or on other axes
    than its cell's, is named so too. Every
    atom goes out, one of occupancy 0 too (gsas_test.exp's H, GARNET.EXP's
    joined rows); the bundled pyrope's O keeps its coordinates to the last
    decimal;
  - the own text format (`ovrender FILE out.ovtx`): opened, exported and
    opened again three times, a structure keeps the bonds of its source each
    time.
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


AVOGADRO = "/usr/share/avogadro2/crystals"
GDIS = "/usr/share/gdis/models"
TOL = 1e-3

# (file, structure counted from 1, per-element cell counts or None to take
# them from the CIF source itself)
CIF_CASES = [
    (AVOGADRO + "/oxides/(MgAl2)O4-Spinel.cif", 1, None),       # F d -3 m :2, mixed sites
    (AVOGADRO + "/elements/S8-Sulfur-alpha.cif", 1, None),      # F d d d, origin 2
    # P m n m without operators: the file's own multiplicities.
    ("tests/data/import/cif/gdis_burk1.cif", 1, {"Na": 8, "C": 2, "S": 6, "O": 34}),
    ("tests/data/import/atoms/diamond.inp", 1, {"Mg": 8, "Al": 16, "O": 32}),
    ("tests/data/import/gsas/cpd4.exp", 2, {"Fe": 24, "O": 32}),
    ("tests/data/import/gsas/cpd4.exp", 3, {"Zr": 4, "Si": 4, "O": 16}),
    ("tests/data/import/topas/Trilithium_thorium_fluoride_1000073.str", 1, {"Th": 8, "F": 56, "Li": 32}),
    # Al, O1, O2 and H (occupancy 0) on the mirror of P b n m, 4 each.
    ("tests/data/import/gsas/gsas_test.exp", 1, {"Al": 4, "O": 8, "H": 4}),
    # FE2 with AL3 (occupancy 0) and AL4 with FE5 (occupancy 0) joined.
    ("tests/data/import/gsas/GARNET.EXP", 1, {"Y": 24, "Fe": 40, "Al": 40, "O": 96}),
    # Operators of a table group about another origin: P 6/m c c with its
    # mirror at z = 1/4, P 32 2 1 moved by 1/6 along c, I -4 2 d moved by
    # (0, 1/2, 1/4) (each worked out against gemmi's operators).
    (AVOGADRO + "/silicates/Be3Al2(SiO3)6-Beryl.cif", 1, None),
    (AVOGADRO + "/oxides/GeO2.cif", 1, None),
    (GDIS + "/adp1.cif", 1, None),
    (GDIS + "/adp2.cif", 1, None),
    # WIEN2k: P 32 2 1 moved by 1/6 along c, and R lattices whose operators
    # the files give on rhombohedral axes; every position of each atom
    # (MULT) counted by hand, three times on the hexagonal axes of an R
    # lattice.
    ("tests/data/import/wien2k/a-quartz.struct", 1, {"Si": 3, "O": 6}),
    ("tests/data/import/wien2k/al2o3.struct", 1, {"Al": 12, "O": 18}),
    ("tests/data/import/wien2k/b12.struct", 1, {"B": 36}),
    ("tests/data/import/wien2k/bi.struct", 1, {"Bi": 6}),
    ("tests/data/import/wien2k/coo.struct", 1, {"Co": 6, "O": 6}),
    ("tests/data/import/wien2k/cr2o3.struct", 1, {"Cr": 12, "O": 18}),
    ("tests/data/import/wien2k/fecl2.struct", 1, {"Fe": 6, "Cl": 12}),
]

# The bundled pyrope's O: its coordinates as the example gives them.
PYROPE_O = (0.03284, 0.05014, 0.65330)

# (file, bonds of the source where counted by hand, else None)
OVTX_CASES = [
    ("tests/data/import/cif/cctbx_thpp.cif", 62),
    ("tests/data/import/shelx/cctbx_sucrose_p1.res", None),
]


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


def run(ovrender, env, source, out, structure=1):
    """Opens the source (its structure-th) and writes the export: what
    ovrender prints."""
    cmd = [ovrender, source, out, "--size", "200x150"]
    if structure > 1:
        cmd += ["--structure", str(structure)]
    done = subprocess.run(cmd, capture_output=True, text=True, env=env)
    if done.returncode != 0 or not os.path.exists(out):
        raise RuntimeError(f"ovrender {source} exited {done.returncode}: {done.stderr.strip()[:300]}")
    return done.stdout


def export(ovrender, path, out, env):
    run(ovrender, env, path, out)
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


def element_of(site):
    return site.element.name if site.element.name != "X" else site.type_symbol


def distinct_places(images):
    """Per element, the distinct places (modulo the lattice) of the images,
    each rounded to the tolerance."""
    places = {}
    for element, p in images:
        places.setdefault(element, set()).add(tuple(round(x % 1.0 / TOL) % round(1 / TOL) for x in p))
    return places


def counts(places):
    return Counter({e: len(v) for e, v in places.items()})


def gemmi_cell(path):
    """The cell gemmi's reading fills: the group of the symbol it takes (the
    images expanded here, gemmi's own expansion merging images closer than
    half an Angstrom)."""
    st = gemmi.read_small_structure(path)
    group = st.find_spacegroup()
    ops = list(group.operations()) if group else [gemmi.Op("x,y,z")]
    images = [(element_of(s), op.apply_to_xyz(s.fract.tolist())) for s in st.sites for op in ops]
    return distinct_places(images), st.spacegroup_hm


def operators_cell(path):
    """The cell a CIF's own operators fill."""
    block = gemmi.cif.read(path).sole_block()
    ops = list(block.find_values("_symmetry_equiv_pos_as_xyz")) or list(
        block.find_values("_space_group_symop_operation_xyz"))
    group = [gemmi.Op(gemmi.cif.as_string(o)) for o in ops]
    st = gemmi.make_small_structure_from_block(block)
    return distinct_places((element_of(s), op.apply_to_xyz(s.fract.tolist())) for s in st.sites for op in group)


def check_cif(checks, ovrender, env, source_dir, tmp):
    for path, structure, want in CIF_CASES:
        source = path if os.path.isabs(path) else os.path.join(source_dir, path)
        name = f"{os.path.basename(source)}#{structure}"
        out = os.path.join(tmp, f"export_{len(os.listdir(tmp))}.cif")
        try:
            run(ovrender, env, source, out, structure)
        except RuntimeError as e:
            checks.expect(False, str(e))
            continue
        want = Counter(want) if want else counts(operators_cell(source))
        got, symbol = gemmi_cell(out)
        checks.expect(counts(got) == want, f"{name}: gemmi fills {dict(counts(got))} in '{symbol}', the source {dict(want)}")
        # The very places the export's own operators give.
        checks.expect(got == operators_cell(out), f"{name}: '{symbol}' puts the atoms elsewhere than the operators")


def check_pyrope(checks, ovrender, env, source_dir, tmp):
    out = os.path.join(tmp, "pyrope.cif")
    run(ovrender, env, os.path.join(source_dir, "resources", "examples", "Pyrope.ovtx"), out)
    st = gemmi.read_small_structure(out)
    oxygen = [s for s in st.sites if s.element.name == "O"]
    checks.expect(len(oxygen) == 1, f"pyrope: {len(oxygen)} O rows")
    for s in oxygen:
        got = s.fract.tolist()
        checks.expect(max(abs(a - b) for a, b in zip(got, PYROPE_O)) < 1e-7, f"pyrope: O at {got}, given {PYROPE_O}")


def bonds_of(stdout):
    for line in stdout.splitlines():
        words = line.split()
        if len(words) > 3 and words[0] == "atoms" and words[2] == "bonds":
            return int(words[3])
    return None


def check_ovtx(checks, ovrender, env, source_dir, tmp):
    for path, hand in OVTX_CASES:
        source = os.path.join(source_dir, path)
        name = os.path.basename(source)
        try:
            first = bonds_of(run(ovrender, env, source, os.path.join(tmp, name + ".0.ovtx")))
            if hand is not None:
                checks.expect(first == hand, f"{name}: the source opens with {first} bonds, {hand} counted by hand")
            for generation in range(1, 4):
                previous = os.path.join(tmp, f"{name}.{generation - 1}.ovtx")
                bonds = bonds_of(run(ovrender, env, previous, os.path.join(tmp, f"{name}.{generation}.ovtx")))
                checks.expect(bonds == first, f"{name}: export {generation} opens with {bonds} bonds, the source {first}")
        except RuntimeError as e:
            checks.expect(False, str(e))


def check_ovtx_occupancy(checks, ovrender, env, source_dir, tmp):
    # A site of occupancy 0 goes out to the own text format and back as given.
    source = os.path.join(source_dir, "tests/data/import/gsas/gsas_test.exp")
    try:
        run(ovrender, env, source, os.path.join(tmp, "zero.ovtx"))
        run(ovrender, env, os.path.join(tmp, "zero.ovtx"), os.path.join(tmp, "zero.cif"))
    except RuntimeError as e:
        checks.expect(False, str(e))
        return
    hydrogen = [s for s in gemmi.read_small_structure(os.path.join(tmp, "zero.cif")).sites if element_of(s) == "H"]
    checks.expect(len(hydrogen) > 0, "gsas_test.exp through .ovtx: no H site")
    for s in hydrogen:
        checks.expect(s.occ == 0.0, f"gsas_test.exp through .ovtx: H {s.label} has occupancy {s.occ}, given 0")


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
                      lambda: check_ovtx_occupancy(checks, ovrender, env, args.source_dir, tmp),
                      lambda: check_su(checks, ovrender, args.source_dir, tmp, env),
                      lambda: check_disorder(checks, ovrender, args.source_dir, tmp, env),
                      lambda: check_cif(checks, ovrender, env, args.source_dir, tmp),
                      lambda: check_pyrope(checks, ovrender, env, args.source_dir, tmp),
                      lambda: check_ovtx(checks, ovrender, env, args.source_dir, tmp)):
            try:
                check()
            except RuntimeError as e:
                checks.expect(False, str(e))
    print(f"{checks.passed} passed, {checks.failures} failed")
    return 1 if checks.failures else 0


if __name__ == "__main__":
    sys.exit(main())
