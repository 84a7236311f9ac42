#!/usr/bin/python3
"""Writes the example structures of resources/examples in the program's own
keyword text format (".ovtx").

Each crystal is typed in below from its published cell constants and atomic
coordinates (the source stands in the file's notes). Its symmetry cards come
from gemmi: the operators of the space group without the centring
translations, which the LATC card supplies. The molecules are built here
from published bond lengths and ideal angles.

Rerun from the top folder with:  /usr/bin/python3 tools/make_examples.py
"""

import math
import os

import gemmi

CRYSTALS = [
    dict(name="NaCl", title="Halite (rock salt), NaCl",
         source="H. E. Swanson, E. Tatge (1953), Standard X-ray diffraction powder patterns, "
                "NBS Circular 539, vol. 2, p. 41: a = 5.6402 A at 26 C.",
         cell=(5.6402, 5.6402, 5.6402, 90, 90, 90), group="F m -3 m",
         sites=[("Na", "Na1", (0, 0, 0)), ("Cl", "Cl1", (0.5, 0.5, 0.5))],
         bonds=[("Na", "Cl", 3.0)]),
    dict(name="Rutile", title="Rutile, TiO2",
         source="J. K. Burdett, T. Hughbanks, G. J. Miller, J. W. Richardson, J. V. Smith (1987), "
                "J. Am. Chem. Soc. 109, 3639-3646: a = 4.5937, c = 2.9587 A, x(O) = 0.30478.",
         cell=(4.5937, 4.5937, 2.9587, 90, 90, 90), group="P 42/m n m",
         sites=[("Ti", "Ti1", (0, 0, 0)), ("O", "O1", (0.30478, 0.30478, 0))],
         bonds=[("Ti", "O", 2.1)]),
    dict(name="Quartz", title="Alpha-quartz, SiO2",
         source="K. L. Levien, C. T. Prewitt, D. J. Weidner (1980), Am. Mineral. 65, 920-930: "
                "a = 4.9160, c = 5.4054 A, Si (0.4697, 0, 0), O (0.4135, 0.2669, 0.1191); "
                "here in P 32 2 1 with the origin moved by z + 2/3 to the standard one.",
         cell=(4.9160, 4.9160, 5.4054, 90, 90, 120), group="P 32 2 1",
         sites=[("Si", "Si1", (0.4697, 0, 0.6666667)), ("O", "O1", (0.4135, 0.2669, 0.7857667))],
         bonds=[("Si", "O", 1.8)]),
    dict(name="Calcite", title="Calcite, CaCO3 (hexagonal axes)",
         source="H. Effenberger, K. Mereiter, J. Zemann (1981), Z. Kristallogr. 156, 233-243: "
                "a = 4.9896, c = 17.0610 A, x(O) = 0.2578.",
         cell=(4.9896, 4.9896, 17.0610, 90, 90, 120), group="R -3 c:H",
         sites=[("Ca", "Ca1", (0, 0, 0)), ("C", "C1", (0, 0, 0.25)), ("O", "O1", (0.2578, 0, 0.25))],
         bonds=[("C", "O", 1.4), ("Ca", "O", 2.5)]),
    dict(name="Spinel", title="Spinel, MgAl2O4",
         source="L. W. Finger, R. M. Hazen, A. M. Hofmeister (1986), Phys. Chem. Minerals 13, "
                "215-220: a = 8.0832 A, u(O) = 0.2624 with the origin at -3m (origin choice 2).",
         cell=(8.0832, 8.0832, 8.0832, 90, 90, 90), group="F d -3 m:2",
         sites=[("Mg", "Mg1", (0.125, 0.125, 0.125)), ("Al", "Al1", (0.5, 0.5, 0.5)),
                ("O", "O1", (0.2624, 0.2624, 0.2624))],
         bonds=[("Mg", "O", 2.1), ("Al", "O", 2.1)]),
    dict(name="Pyrope", title="Pyrope garnet, Mg3Al2Si3O12",
         source="T. Armbruster, C. A. Geiger, G. A. Lager (1992), Am. Mineral. 77, 512-521: "
                "a = 11.459 A, O (0.03284, 0.05014, 0.65330).",
         cell=(11.459, 11.459, 11.459, 90, 90, 90), group="I a -3 d",
         sites=[("Mg", "Mg1", (0.125, 0, 0.25)), ("Al", "Al1", (0, 0, 0)), ("Si", "Si1", (0.375, 0, 0.25)),
                ("O", "O1", (0.03284, 0.05014, 0.65330))],
         bonds=[("Si", "O", 1.8), ("Al", "O", 2.0), ("Mg", "O", 2.4)]),
]

LETTER = {"P": "P", "A": "A", "B": "B", "C": "C", "I": "I", "F": "F", "R": "R", "H": "R"}


def fmt(v):
    return "%f" % v


def card(op):
    # gemmi writes "x,y+1/2,-z"; the reader takes comma-separated operators.
    return op.triplet()


def crystal_text(c):
    sg = gemmi.SpaceGroup(c["group"])
    ops = sg.operations()
    lines = ["TITL  " + c["title"], "NOTE", c["title"] + ". " + c["source"], "", "",
             "! Unit cell parameters",
             "CELL  " + " ".join(fmt(v) for v in c["cell"][:3]) + "  " + " ".join(fmt(v) for v in c["cell"][3:]),
             "", "! Lattice type", "LATC  " + LETTER[sg.centring_type()], "",
             "! Spacegroup symbol:  " + sg.hm,
             "! Total of %d general equivalent positions (excl. lattice operators)" % len(ops.sym_ops)]
    lines += ["SYMM  " + card(op) for op in ops.sym_ops]
    lines += ["", "! Plot range (min/max along x, y and z axes)", "XYZR  0.000000 1.000000 0.000000 1.000000 0.000000 1.000000",
              "", "! Bond specifications"]
    lines += ["BMAX  %-2s  %-2s  %.3f" % b for b in c["bonds"]]
    lines += ["", "! Asymmetric unit", "ATOM"]
    lines += ["%-2s  %-6s  %s" % (el, label, " ".join(fmt(v) for v in xyz)) for el, label, xyz in c["sites"]]
    return "\n".join(lines) + "\n"


def benzene():
    # Equilibrium structure: r(CC) = 1.3914 A, r(CH) = 1.0802 A.
    atoms = []
    for k in range(6):
        t = math.radians(60 * k)
        atoms.append(("C", "C%d" % (k + 1), (1.3914 * math.cos(t), 1.3914 * math.sin(t), 0.0)))
    for k in range(6):
        t = math.radians(60 * k)
        r = 1.3914 + 1.0802
        atoms.append(("H", "H%d" % (k + 1), (r * math.cos(t), r * math.sin(t), 0.0)))
    return atoms


def alkane(n):
    # All-trans n-alkane CnH(2n+2) from C-C 1.530 A, C-H 1.090 A and ideal
    # tetrahedral angles: the carbon zigzag lies in the xy plane along x.
    half = math.radians(109.4712206 / 2)
    dx, dy = 1.530 * math.sin(half), 1.530 * math.cos(half)
    carbons = [(i * dx, (i % 2) * dy, 0.0) for i in range(n)]
    atoms = [("C", "C%d" % (i + 1), p) for i, p in enumerate(carbons)]
    hydrogens = []
    for i, (x, y, z) in enumerate(carbons):
        toward = 1.0 if i % 2 == 0 else -1.0   # the bisector of the two neighbours, along y
        hy = y - toward * 1.090 * math.cos(half)
        hz = 1.090 * math.sin(half)
        hydrogens += [(x, hy, hz), (x, hy, -hz)]
        if i in (0, n - 1):
            # The third hydrogen of a methyl group stands where the next
            # carbon of a longer chain would.
            sx = -dx if i == 0 else dx
            sy = toward * dy
            norm = math.hypot(sx, sy)
            hydrogens.append((x + 1.090 * sx / norm, y + 1.090 * sy / norm, 0.0))
    atoms += [("H", "H%d" % (k + 1), p) for k, p in enumerate(hydrogens)]
    return atoms


def molecule_text(title, note, atoms, bonds):
    lines = ["MOLE  Orvalisphere molecule format", "TITL  " + title, "NOTE", note, "", "",
             "! Bond specifications"]
    lines += ["BMAX  %-2s  %-2s  %.3f" % b for b in bonds]
    lines += ["", "! Atoms in this molecule", "ATOM"]
    lines += ["%-2s  %-6s  %s" % (el, label, " ".join(fmt(v) for v in xyz)) for el, label, xyz in atoms]
    return "\n".join(lines) + "\n"


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "examples")
    os.makedirs(out, exist_ok=True)
    for c in CRYSTALS:
        with open(os.path.join(out, c["name"] + ".ovtx"), "w") as f:
            f.write(crystal_text(c))
    with open(os.path.join(out, "Benzene.ovtx"), "w") as f:
        f.write(molecule_text("Benzene, C6H6",
                              "Benzene, C6H6, with its equilibrium bond lengths r(CC) = 1.3914 A and "
                              "r(CH) = 1.0802 A: J. Gauss, J. F. Stanton (2000), J. Phys. Chem. A 104, 2865-2868.",
                              benzene(), [("C", "C", 1.6), ("C", "H", 1.2)]))
    with open(os.path.join(out, "Tetratriacontane.ovtx"), "w") as f:
        f.write(molecule_text("n-Tetratriacontane, C34H70",
                              "n-Tetratriacontane, C34H70 (104 atoms), all-trans, built from the standard bond "
                              "lengths C-C 1.530 A and C-H 1.090 A of F. H. Allen et al. (1987), J. Chem. Soc. "
                              "Perkin Trans. 2, S1-S19, and ideal tetrahedral angles.",
                              alkane(34), [("C", "C", 1.6), ("C", "H", 1.2)]))


if __name__ == "__main__":
    main()
