#!/usr/bin/python3
"""Counts the atoms of the cell of the real files in
tests/import/CellAtomsOfRealFilesTest.cpp, and of the files of
tests/import/PlacesModuloTheLatticeTest.cpp, with gemmi.

For each structure the sites are copied by hand from the file's own records;
gemmi expands them by the group with the origin passed explicitly, wraps
every position into [0, 1) and counts the distinct positions. The count must
equal the test's. Where the origin matters, the count in the other origin is
printed beside it (the count the program gave before it chose the origin).
"""

import argparse
import os
import sys

import gemmi

TOL = 1e-3

# (file, structure, group as gemmi names it, sites, expected count)
CASES = [
    ("gsas/cpd4.exp", 0, "R -3 c:H", [(0, 0, 0.35228), (0.3064, 0, 0.25)], 30),
    ("gsas/cpd4.exp", 1, "F d -3 m:2", [(0.125, 0.125, 0.125), (0.5, 0.5, 0.5), (0.2548, 0.2548, 0.2548)], 56),
    ("gsas/cpd4.exp", 2, "I 41/a m d:2", [(0, 0.75, 0.125), (0, 0.25, 0.375), (0, 0.066, 0.1951)], 24),
    # FE2 and AL3 at one position, AL4 and FE5 at another: one site each.
    ("gsas/GARNET.EXP", 0, "I a -3 d",
     [(0.125, 0, 0.25), (0, 0, 0), (0.375, 0, 0.25), (-0.029366, 0.053912, 0.150731)], 160),
    # The file's "I b 3".
    ("gsas/IB3.EXP", 0, "I a -3", [(0, 0, 0), (0.25, 0.25, 0.25), (0.058879, 0.140879, 0.3957)], 64),
    ("vesta/two_phase.vesta", 0, "P 1", [(0, 0, 0)], 1),
    ("topas/Trilithium_thorium_fluoride_1000073.str", 0, "C c c a:2",
     [(0.25, 0, 0.1889), (0.25, 0, 0.3718), (0.0632, 0.0995, 0.5772), (0.1496, 0.3125, 0.4212),
      (0, 0.4364, 0.25), (0.3153, 0.25, 0.25), (0.354, 0.186, 0.431), (0.067, 0.099, 0.419)], 96),
    ("atoms/spinel.inp", 0, "F d -3 m:2", [(0.125, 0.125, 0.125), (0.5, 0.5, 0.5), (0.262, 0.262, 0.262)], 56),
    # A database's setting letters: "F d -3 m Z" is origin 2, "S" origin 1.
    ("cif/spinel_Z.cif", 0, "F d -3 m:2", [(0.125, 0.125, 0.125), (0.5, 0.5, 0.5), (0.2624, 0.2624, 0.2624)], 56),
    ("cif/spinel_S.cif", 0, "F d -3 m:1", [(0, 0, 0), (0.625, 0.625, 0.625), (0.3874, 0.3874, 0.3874)], 56),
    ("cif/spinel_Z_ops.cif", 0, "F d -3 m:2", [(0.125, 0.125, 0.125), (0.5, 0.5, 0.5), (0.2624, 0.2624, 0.2624)], 56),
    # "R 3 c {rhombohedral axes}" with a hexagonal cell; "R -3 c H" with a
    # rhombohedral one: the cell's axes.
    # "I -4 2 d S", a database's letter for a group of one origin: with the
    # group's operators, and with the same moved by (0, 1/2, 1/4) (its sites
    # moved so here).
    ("cif/setting_letter_S.cif", 0, "I -4 2 d", [(0, 0, 0), (0, 0, 0.5), (0.1462, 0.0843, 0.1157)], 24),
    ("cif/setting_letter_S_shifted.cif", 0, "I -4 2 d",
     [(0, 0.5, 0.25), (0, 0.5, 0.75), (0.1462, 0.5843, 0.3657)], 24),
    ("cif/avogadro_linbo3.cif", 0, "R 3 c:H", [(0, 0, 0.2762), (0, 0, 0.0093), (0.0569, 0.3297, 0.0833)], 30),
    ("cif/corundum_rhombohedral.cif", 0, "R -3 c:R", [(0.35216, 0.35216, 0.35216), (0.55624, -0.05624, 0.25)], 10),
    # Fe and Mg at the origin (Mg written at 0.99999 1 0), Co and Ni at one
    # general position (Ni 0.00005 off), O: each place once.
    ("places/mixed_edge.ins", 0, "P -1",
     [(0, 0, 0), (0.99999, 1.0, 0), (0.2, 0.3, 0.4), (0.20005, 0.3, 0.39996), (0.3, 0.1, 0.7)], 5),
    # Every atom of the cell, those on the faces written on both, and the
    # inversion image of O1 written 0.00003 off.
    ("places/faces.car", 0, "P -1",
     [(0, 0, 0), (1, 0, 0), (0, 1, 1), (0.3, 0.1, 0.7), (0.70003, 0.89998, 0.3), (0.7, 0.9, 1.3)], 3),
]


def cell_count(group, sites):
    seen = []
    for site in sites:
        for op in gemmi.SpaceGroup(group).operations():
            p = [x % 1.0 for x in op.apply_to_xyz(list(site))]
            if not any(max(abs((p[k] - q[k]) - round(p[k] - q[k])) for k in range(3)) < TOL for q in seen):
                seen.append(p)
    return len(seen)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build-dir")
    ap.add_argument("--source-dir", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
    args = ap.parse_args()
    bad = 0
    for name, structure, group, sites, want in CASES:
        got = cell_count(group, sites)
        other = ""
        if group.endswith(":2"):
            other = "  (origin 1: %d)" % cell_count(group[:-1] + "1", sites)
        print("%-50s %d  %-14s %3d%s" % (name, structure, group, got, other))
        bad += got != want
    # H 3 and H 3 2 of the macromolecular files: gemmi reads the files.
    for name, want in (("pdb/hexagonal_h3.pdb", 36), ("cif/mmcif/hexagonal_h32.cif", 72)):
        st = gemmi.read_structure(os.path.join(args.source_dir, "tests", "data", "import", name))
        sites = [st.cell.fractionalize(a.pos).tolist() for a in st[0][0][0]]
        got = cell_count(gemmi.find_spacegroup_by_name(st.spacegroup_hm).xhm(), sites)
        print("%-50s %d  %-14s %3d" % (name, 0, st.spacegroup_hm, got))
        bad += got != want
    # The same mixed sites as a CIF, and quartz cut to four decimals (Si a
    # hair off its special position): gemmi reads them and expands them.
    for name, want in (("places/mixed_edge.cif", 5), ("places/quartz_cut.cif", 9)):
        small = gemmi.read_small_structure(os.path.join(args.source_dir, "tests", "data", "import", name))
        seen = []
        for site in small.get_all_unit_cell_sites():
            p = [x % 1.0 for x in site.fract.tolist()]
            if not any(max(abs((p[k] - q[k]) - round(p[k] - q[k])) for k in range(3)) < TOL for q in seen):
                seen.append(p)
        print("%-50s %d  %-14s %3d" % (name, 0, small.spacegroup_hm, len(seen)))
        bad += len(seen) != want
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
