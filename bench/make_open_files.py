#!/usr/bin/python3
"""Writes the large files whose opens bench_LargeOpenBench and
bench/open_vs_peers.sh measure, into the folder given (default: the
temporary folder):

  water-98304.data  a box of 32,768 SPC/E waters (98,304 atoms), LAMMPS data
                    of atom style full with its bonds and angles: a base box
                    of 1,024 waters tiled 4 x 4 x 2 (the base box is built
                    here on a jittered grid; `--spce FILE` tiles a LAMMPS
                    data file of that form instead, such as lammps' data.spce);
  water-98304.gro   the same atoms as a GROMACS coordinate file;
  zsm5-3x3x4.cif    ZSM-5 (libavogadro-data's zeolites/ZSM-5.cif) expanded
                    3 x 3 x 4 to P 1 with gemmi: every atom of the cell once;
  cu-100000.dump    one frame of a LAMMPS dump (id type element x y z):
                    100,000 Cu atoms on an fcc
                    lattice (a = 3.615 A), 25 x 25 x 40 cells;
  protein-80000.pdb a protein (pymol-data's data/tut/1hpv.pdb) tiled side
                    by side to 80,000 atoms, each copy with its CONECT lines;
  protein-80000.cif the same atoms as mmCIF, as gemmi writes it;
and large disordered crystals expanded the same way to P 1:
  burk1-46080.cif, burk1-101376.cif      burkeite (gdis-data's burk1.cif,
                    half-occupied sulfate and carbonate sites), 10 x 6 x 8
                    and 12 x 8 x 11 cells of the 96 sites gemmi places;
  sulfur-beta-49152.cif, sulfur-beta-98304.cif  beta-sulfur with its two
                    ring orientations (libavogadro-data's
                    elements/S8-Sulfur-beta.cif), 8 x 8 x 12 and 8 x 12 x 16;
  zsm5-4x4x6.cif    ZSM-5 4 x 4 x 6 (67,200 sites).

With `--small` it writes the same kinds of file at their smallest instead,
for a run of each open in seconds: water-3072.data and water-3072.gro (the
base box alone), zsm5-1x1x1.cif (one cell in P 1), cu-500.dump
(5 x 5 x 5 cells), protein-1631.pdb and protein-1631.cif (one copy of the
protein).

Needs gemmi and numpy (Debian's python3-gemmi, python3-numpy), the protein
pymol-data, burkeite gdis-data.
"""
import argparse
import math
import os
import sys
import tempfile

import numpy as np

ZSM5 = "/usr/share/avogadro2/crystals/zeolites/ZSM-5.cif"
BURKEITE = "/usr/share/gdis/models/burk1.cif"
SULFUR = "/usr/share/avogadro2/crystals/elements/S8-Sulfur-beta.cif"
PROTEIN = "/usr/share/pymol/data/tut/1hpv.pdb"
# Water tiles, ZSM-5 repeats, Cu cells and protein atoms of the large files
# and the small ones; the disordered crystals are written in the large set only.
LARGE = {"tiles": (4, 4, 2), "zsm5": (3, 3, 4), "cu": (25, 25, 40), "protein": 80000}
SMALL = {"tiles": (1, 1, 1), "zsm5": (1, 1, 1), "cu": (5, 5, 5), "protein": None}
# Each disordered crystal's P 1 files: (name, source, repeats).
CRYSTALS = [("burk1-46080.cif", BURKEITE, (10, 6, 8)), ("burk1-101376.cif", BURKEITE, (12, 8, 11)),
            ("sulfur-beta-49152.cif", SULFUR, (8, 8, 12)), ("sulfur-beta-98304.cif", SULFUR, (8, 12, 16)),
            ("zsm5-4x4x6.cif", ZSM5, (4, 4, 6))]


def base_waters(seed=7):
    """1,024 SPC/E waters (O-H 1 A, H-O-H 109.47 degrees) on an 8 x 8 x 16
    grid in a box of 3.1 A a water, each turned at random."""
    rng = np.random.default_rng(seed)
    grid = (8, 8, 16)
    spacing = 3.1
    box = np.array(grid, float) * spacing
    half = math.radians(109.47) / 2
    local = np.array([[0.0, 0.0, 0.0], [math.sin(half), math.cos(half), 0.0], [-math.sin(half), math.cos(half), 0.0]])
    atoms = []  # (molecule, type, charge, x, y, z)
    mol = 0
    for i in range(grid[0]):
        for j in range(grid[1]):
            for k in range(grid[2]):
                mol += 1
                q, _ = np.linalg.qr(rng.normal(size=(3, 3)))
                centre = (np.array([i, j, k]) + 0.5 + rng.uniform(-0.1, 0.1, 3)) * spacing
                for n, p in enumerate(local @ q.T + centre):
                    atoms.append((mol, 1 if n == 0 else 2, -0.8476 if n == 0 else 0.4238, *p))
    return box, atoms


def read_data(path):
    """The box, atoms (molecule, type, charge, x, y, z) of a LAMMPS data file
    of atom style full whose waters are O H H in id order."""
    lines = open(path).read().splitlines()
    lo = {}
    atoms = {}
    section = None
    for line in lines:
        words = line.split("#")[0].split()
        if len(words) == 4 and words[2].endswith("lo"):
            lo[words[2][0]] = (float(words[0]), float(words[1]))
            continue
        if len(words) == 1 and words[0][0].isalpha():
            section = words[0]
            continue
        if section == "Atoms" and len(words) >= 7:
            atoms[int(words[0])] = (int(words[1]), int(words[2]), float(words[3]), *map(float, words[4:7]))
    box = np.array([lo[a][1] - lo[a][0] for a in "xyz"])
    origin = np.array([lo[a][0] for a in "xyz"])
    ordered = [atoms[k] for k in sorted(atoms)]
    return box, [(m, t, q, *(np.array(p) - origin)) for m, t, q, *p in ordered]


def tile(box, atoms, tiles):
    per_mol = max(a[0] for a in atoms)
    out = []
    copy = 0
    for i in range(tiles[0]):
        for j in range(tiles[1]):
            for k in range(tiles[2]):
                shift = np.array([i, j, k]) * box
                out += [(m + copy * per_mol, t, q, x + shift[0], y + shift[1], z + shift[2]) for m, t, q, x, y, z in atoms]
                copy += 1
    return box * np.array(tiles), out


def write_data(path, box, atoms, tiles):
    waters = len(atoms) // 3
    with open(path, "w") as f:
        f.write("SPC/E water box tiled %d x %d x %d\n\n" % tiles)
        f.write("%d atoms\n%d bonds\n%d angles\n\n2 atom types\n1 bond types\n1 angle types\n\n" % (len(atoms), 2 * waters, waters))
        for a, length in zip("xyz", box):
            f.write("0.0 %.6f %slo %shi\n" % (length, a, a))
        f.write("\nMasses\n\n1 15.9994\n2 1.008\n\nAtoms # full\n\n")
        for n, (m, t, q, x, y, z) in enumerate(atoms, 1):
            f.write("%d %d %d %.4f %.5f %.5f %.5f\n" % (n, m, t, q, x, y, z))
        f.write("\nBonds\n\n")
        for w in range(waters):
            o = 3 * w + 1
            f.write("%d 1 %d %d\n%d 1 %d %d\n" % (2 * w + 1, o, o + 1, 2 * w + 2, o, o + 2))
        f.write("\nAngles\n\n")
        for w in range(waters):
            o = 3 * w + 1
            f.write("%d 1 %d %d %d\n" % (w + 1, o + 1, o, o + 2))


def write_gro(path, box, atoms, tiles):
    names = {0: "OW", 1: "HW1", 2: "HW2"}
    with open(path, "w") as f:
        f.write("SPC/E water box tiled %d x %d x %d\n%d\n" % (tiles + (len(atoms),)))
        for n, (m, t, q, x, y, z) in enumerate(atoms):
            f.write("%5d%-5s%5s%5d%8.3f%8.3f%8.3f\n" % (m % 100000, "SOL", names[n % 3], (n + 1) % 100000, x / 10, y / 10, z / 10))
        f.write("%10.5f%10.5f%10.5f\n" % tuple(box / 10))


def write_p1(path, source, repeat):
    """The sites gemmi places in a cell of the CIF `source`, repeated
    ra x rb x rc times in P 1."""
    import gemmi

    st = gemmi.read_small_structure(source)
    cell = st.cell
    sites = st.get_all_unit_cell_sites()
    ra, rb, rc = repeat
    name = os.path.splitext(os.path.basename(source))[0].replace("-", "_")
    with open(path, "w") as f:
        f.write("data_%s_%dx%dx%d\n" % ((name,) + tuple(repeat)))
        f.write("_cell_length_a %.5f\n_cell_length_b %.5f\n_cell_length_c %.5f\n" % (cell.a * ra, cell.b * rb, cell.c * rc))
        f.write("_cell_angle_alpha %.4f\n_cell_angle_beta %.4f\n_cell_angle_gamma %.4f\n" % (cell.alpha, cell.beta, cell.gamma))
        f.write("_symmetry_space_group_name_H-M 'P 1'\nloop_\n_symmetry_equiv_pos_as_xyz\n'x, y, z'\n")
        f.write("loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_occupancy\n"
                "_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n")
        n = 0
        for i in range(ra):
            for j in range(rb):
                for k in range(rc):
                    for s in sites:
                        n += 1
                        el = s.element.name
                        f.write("%s%d %s %.4f %.6f %.6f %.6f\n" % (el, n, el, s.occ, (s.fract.x + i) / ra,
                                                                (s.fract.y + j) / rb, (s.fract.z + k) / rc))


def write_cu_dump(path, cells):
    a = 3.615
    basis = np.array([[0, 0, 0], [0.5, 0.5, 0], [0.5, 0, 0.5], [0, 0.5, 0.5]])
    grid = np.stack(np.meshgrid(*[np.arange(n) for n in cells], indexing="ij"), -1).reshape(-1, 1, 3)
    xyz = ((grid + basis[None]) * a).reshape(-1, 3)
    with open(path, "w") as f:
        f.write("ITEM: TIMESTEP\n0\nITEM: NUMBER OF ATOMS\n%d\nITEM: BOX BOUNDS pp pp pp\n" % len(xyz))
        for n in cells:
            f.write("0.0 %.6f\n" % (n * a))
        f.write("ITEM: ATOMS id type element x y z\n")
        f.writelines("%d 1 Cu %.5f %.5f %.5f\n" % (k + 1, x, y, z) for k, (x, y, z) in enumerate(xyz))


def write_tiled_pdb(path, source, count):
    """The ATOM/HETATM records of the PDB file `source` copied side by side
    along x (each copy 5 A beyond the last), renumbered, until `count` atoms
    (the last copy cut short; None: one copy), each copy with its CONECT
    records among the atoms it kept. Only columns 1-66 are kept: old files
    such as this one put a segment and a line number beyond them."""
    atoms = []
    conect = []
    for line in open(source):
        if line.startswith(("ATOM  ", "HETATM")):
            atoms.append(line.rstrip("\n").ljust(80))
        elif line.startswith("CONECT"):
            conect.append([int(line[c:c + 5]) for c in range(6, 31, 5) if line[c:c + 5].strip()])
    serials = {int(a[6:11]): k for k, a in enumerate(atoms)}
    xs = [float(a[30:38]) for a in atoms]
    width = max(xs) - min(xs) + 5.0
    count = count or len(atoms)
    out = []
    links = []
    copy = 0
    while len(out) < count:
        first = len(out)
        kept = atoms[:count - first]
        for k, a in enumerate(kept):
            x = float(a[30:38]) + copy * width
            out.append("%s%5d%s%8.3f%s" % (a[:6], first + k + 1, a[11:30], x, a[38:66]))
        for row in conect:
            ks = [serials[s] for s in row if s in serials]
            if len(ks) == len(row) and all(k < len(kept) for k in ks):
                links.append("CONECT" + "".join("%5d" % (first + k + 1) for k in ks))
        copy += 1
    with open(path, "w") as f:
        f.write("HEADER    PROTEIN TILED %d TIMES\n" % copy)
        f.writelines(a.rstrip() + "\n" for a in out)
        f.writelines(l + "\n" for l in links)
        f.write("END\n")


def write_mmcif(path, pdb):
    """The PDB file `pdb` as gemmi writes it in mmCIF."""
    import gemmi

    st = gemmi.read_structure(pdb)
    st.setup_entities()
    st.make_mmcif_document().write_file(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("folder", nargs="?", default=tempfile.gettempdir())
    parser.add_argument("--spce", help="a LAMMPS data file of waters (atom style full) to tile instead")
    parser.add_argument("--small", action="store_true", help="the smallest files of each kind")
    args = parser.parse_args()
    os.makedirs(args.folder, exist_ok=True)
    sizes = SMALL if args.small else LARGE
    box, atoms = read_data(args.spce) if args.spce else base_waters()
    box, atoms = tile(box, atoms, sizes["tiles"])
    water = os.path.join(args.folder, "water-%d" % len(atoms))
    write_data(water + ".data", box, atoms, sizes["tiles"])
    write_gro(water + ".gro", box, atoms, sizes["tiles"])
    write_p1(os.path.join(args.folder, "zsm5-%dx%dx%d.cif" % sizes["zsm5"]), ZSM5, sizes["zsm5"])
    cells = sizes["cu"]
    write_cu_dump(os.path.join(args.folder, "cu-%d.dump" % (4 * cells[0] * cells[1] * cells[2])), cells)
    protein = sizes["protein"]
    pdb = os.path.join(args.folder, "protein-%d.pdb" % (protein or 1631))
    write_tiled_pdb(pdb, PROTEIN, protein)
    write_mmcif(pdb[: -len(".pdb")] + ".cif", pdb)
    if not args.small:
        for name, source, repeat in CRYSTALS:
            write_p1(os.path.join(args.folder, name), source, repeat)
    return 0


if __name__ == "__main__":
    sys.exit(main())
