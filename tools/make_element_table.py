#!/usr/bin/env python3
"""Generates EngineCode/model/ElementTable.cpp, the factory element table.

Run from the repository root:

    python3 tools/make_element_table.py

and commit the regenerated file. The table lists the 92 elements from H to U
in alphabetical order of symbol, each with a colour and a radius, followed by
blank rows up to 200; the notes text that goes with it names the sources.

Sources of the data typed in below:

- Ionic radii: R. D. Shannon, "Revised effective ionic radii and systematic
  studies of interatomic distances in halides and chalcogenides",
  Acta Cryst. A32 (1976) 751-767. For each element one effective ionic radius
  is taken: the ion and coordination number are given beside it (the usual
  oxidation state of the element in inorganic solids, six-fold coordination
  where the paper gives it; "HS" marks high spin).
- Covalent radii: B. Cordero, V. Gomez, A. E. Platero-Prats, M. Reves,
  J. Echeverria, E. Cremades, F. Barragan and S. Alvarez, "Covalent radii
  revisited", Dalton Trans. (2008) 2832-2838 (single-bond radii; C sp3,
  Mn, Fe and Co low spin as the paper's first value). They are used for the
  elements that Shannon does not list or lists only in states that make no
  sense for drawing (H, He, C, Ne, Ar, Kr, Xe, Rn).
- Colours: the widely used CPK-derived element colour scheme published by the
  Jmol project ("Jmol colors", jmol.sourceforge.net/jscolors), 8-bit RGB
  values; a channel c becomes c x 257 in 16 bits.
"""

import os
import sys

# Z, symbol, Shannon ionic radius (Angstrom) or None, the ion and coordination
# number it belongs to, Cordero covalent radius (Angstrom), colour (RGB hex).
ELEMENTS = [
    (1, "H", None, "", 0.31, "FFFFFF"),
    (2, "He", None, "", 0.28, "D9FFFF"),
    (3, "Li", 0.76, "Li+ VI", 1.28, "CC80FF"),
    (4, "Be", 0.45, "Be2+ VI", 0.96, "C2FF00"),
    (5, "B", 0.27, "B3+ VI", 0.84, "FFB5B5"),
    (6, "C", None, "", 0.76, "909090"),
    (7, "N", 1.46, "N3- IV", 0.71, "3050F8"),
    (8, "O", 1.40, "O2- VI", 0.66, "FF0D0D"),
    (9, "F", 1.33, "F- VI", 0.57, "90E050"),
    (10, "Ne", None, "", 0.58, "B3E3F5"),
    (11, "Na", 1.02, "Na+ VI", 1.66, "AB5CF2"),
    (12, "Mg", 0.72, "Mg2+ VI", 1.41, "8AFF00"),
    (13, "Al", 0.535, "Al3+ VI", 1.21, "BFA6A6"),
    (14, "Si", 0.40, "Si4+ VI", 1.11, "F0C8A0"),
    (15, "P", 0.38, "P5+ VI", 1.07, "FF8000"),
    (16, "S", 1.84, "S2- VI", 1.05, "FFFF30"),
    (17, "Cl", 1.81, "Cl- VI", 1.02, "1FF01F"),
    (18, "Ar", None, "", 1.06, "80D1E3"),
    (19, "K", 1.38, "K+ VI", 2.03, "8F40D4"),
    (20, "Ca", 1.00, "Ca2+ VI", 1.76, "3DFF00"),
    (21, "Sc", 0.745, "Sc3+ VI", 1.70, "E6E6E6"),
    (22, "Ti", 0.605, "Ti4+ VI", 1.60, "BFC2C7"),
    (23, "V", 0.54, "V5+ VI", 1.53, "A6A6AB"),
    (24, "Cr", 0.615, "Cr3+ VI", 1.39, "8A99C7"),
    (25, "Mn", 0.83, "Mn2+ VI HS", 1.39, "9C7AC7"),
    (26, "Fe", 0.78, "Fe2+ VI HS", 1.32, "E06633"),
    (27, "Co", 0.745, "Co2+ VI HS", 1.26, "F090A0"),
    (28, "Ni", 0.69, "Ni2+ VI", 1.24, "50D050"),
    (29, "Cu", 0.73, "Cu2+ VI", 1.32, "C88033"),
    (30, "Zn", 0.74, "Zn2+ VI", 1.22, "7D80B0"),
    (31, "Ga", 0.62, "Ga3+ VI", 1.22, "C28F8F"),
    (32, "Ge", 0.53, "Ge4+ VI", 1.20, "668F8F"),
    (33, "As", 0.46, "As5+ VI", 1.19, "BD80E3"),
    (34, "Se", 1.98, "Se2- VI", 1.20, "FFA100"),
    (35, "Br", 1.96, "Br- VI", 1.20, "A62929"),
    (36, "Kr", None, "", 1.16, "5CB8D1"),
    (37, "Rb", 1.52, "Rb+ VI", 2.20, "702EB0"),
    (38, "Sr", 1.18, "Sr2+ VI", 1.95, "00FF00"),
    (39, "Y", 0.90, "Y3+ VI", 1.90, "94FFFF"),
    (40, "Zr", 0.72, "Zr4+ VI", 1.75, "94E0E0"),
    (41, "Nb", 0.64, "Nb5+ VI", 1.64, "73C2C9"),
    (42, "Mo", 0.59, "Mo6+ VI", 1.54, "54B5B5"),
    (43, "Tc", 0.645, "Tc4+ VI", 1.47, "3B9E9E"),
    (44, "Ru", 0.62, "Ru4+ VI", 1.46, "248F8F"),
    (45, "Rh", 0.665, "Rh3+ VI", 1.42, "0A7D8C"),
    (46, "Pd", 0.86, "Pd2+ VI", 1.39, "006985"),
    (47, "Ag", 1.15, "Ag+ VI", 1.45, "C0C0C0"),
    (48, "Cd", 0.95, "Cd2+ VI", 1.44, "FFD98F"),
    (49, "In", 0.80, "In3+ VI", 1.42, "A67573"),
    (50, "Sn", 0.69, "Sn4+ VI", 1.39, "668080"),
    (51, "Sb", 0.60, "Sb5+ VI", 1.39, "9E63B5"),
    (52, "Te", 2.21, "Te2- VI", 1.38, "D47A00"),
    (53, "I", 2.20, "I- VI", 1.39, "940094"),
    (54, "Xe", None, "", 1.40, "429EB0"),
    (55, "Cs", 1.67, "Cs+ VI", 2.44, "57178F"),
    (56, "Ba", 1.35, "Ba2+ VI", 2.15, "00C900"),
    (57, "La", 1.032, "La3+ VI", 2.07, "70D4FF"),
    (58, "Ce", 1.01, "Ce3+ VI", 2.04, "FFFFC7"),
    (59, "Pr", 0.99, "Pr3+ VI", 2.03, "D9FFC7"),
    (60, "Nd", 0.983, "Nd3+ VI", 2.01, "C7FFC7"),
    (61, "Pm", 0.97, "Pm3+ VI", 1.99, "A3FFC7"),
    (62, "Sm", 0.958, "Sm3+ VI", 1.98, "8FFFC7"),
    (63, "Eu", 0.947, "Eu3+ VI", 1.98, "61FFC7"),
    (64, "Gd", 0.938, "Gd3+ VI", 1.96, "45FFC7"),
    (65, "Tb", 0.923, "Tb3+ VI", 1.94, "30FFC7"),
    (66, "Dy", 0.912, "Dy3+ VI", 1.92, "1FFFC7"),
    (67, "Ho", 0.901, "Ho3+ VI", 1.92, "00FF9C"),
    (68, "Er", 0.89, "Er3+ VI", 1.89, "00E675"),
    (69, "Tm", 0.88, "Tm3+ VI", 1.90, "00D452"),
    (70, "Yb", 0.868, "Yb3+ VI", 1.87, "00BF38"),
    (71, "Lu", 0.861, "Lu3+ VI", 1.87, "00AB24"),
    (72, "Hf", 0.71, "Hf4+ VI", 1.75, "4DC2FF"),
    (73, "Ta", 0.64, "Ta5+ VI", 1.70, "4DA6FF"),
    (74, "W", 0.60, "W6+ VI", 1.62, "2194D6"),
    (75, "Re", 0.63, "Re4+ VI", 1.51, "267DAB"),
    (76, "Os", 0.63, "Os4+ VI", 1.44, "266696"),
    (77, "Ir", 0.625, "Ir4+ VI", 1.41, "175487"),
    (78, "Pt", 0.625, "Pt4+ VI", 1.36, "D0D0E0"),
    (79, "Au", 0.85, "Au3+ VI", 1.36, "FFD123"),
    (80, "Hg", 1.02, "Hg2+ VI", 1.32, "B8B8D0"),
    (81, "Tl", 1.50, "Tl+ VI", 1.45, "A6544D"),
    (82, "Pb", 1.19, "Pb2+ VI", 1.46, "575961"),
    (83, "Bi", 1.03, "Bi3+ VI", 1.48, "9E4FB5"),
    (84, "Po", 0.94, "Po4+ VI", 1.40, "AB5C00"),
    (85, "At", 0.62, "At7+ VI", 1.50, "754F45"),
    (86, "Rn", None, "", 1.50, "428296"),
    (87, "Fr", 1.80, "Fr+ VI", 2.60, "420066"),
    (88, "Ra", 1.48, "Ra2+ VIII", 2.21, "007D00"),
    (89, "Ac", 1.12, "Ac3+ VI", 2.15, "70ABFA"),
    (90, "Th", 0.94, "Th4+ VI", 2.06, "00BAFF"),
    (91, "Pa", 0.78, "Pa5+ VI", 2.00, "00A1FF"),
    (92, "U", 0.89, "U4+ VI", 1.96, "008FFF"),
]

TABLE_SIZE = 200
NOTES_SIZE = 1024

NOTES = (
    "Factory element table. Radii are effective ionic radii from R. D. Shannon, "
    "Acta Cryst. A32 (1976) 751-767, for the usual oxidation state of each element "
    "in six-fold coordination where available (N3- four-fold, Ra2+ eight-fold). "
    "H, He, C, Ne, Ar, Kr, Xe and Rn take covalent radii from B. Cordero et al., "
    "Dalton Trans. (2008) 2832-2838. Colours follow the CPK-derived element "
    "colour scheme of the Jmol project."
)


def element_code(symbol):
    first = ord(symbol[0])
    second = ord(symbol[1]) if len(symbol) > 1 else ord(" ")
    return (first << 8) | second


def channel16(hex2):
    return int(hex2, 16) * 257


def c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def check():
    if len(ELEMENTS) != 92:
        sys.exit("expected 92 elements")
    for i, row in enumerate(ELEMENTS):
        if row[0] != i + 1:
            sys.exit("elements out of order at Z=%d" % row[0])
        if row[2] is None and row[3]:
            sys.exit("ion given without a radius for " + row[1])
    if len(NOTES.encode("ascii")) >= NOTES_SIZE:
        sys.exit("notes too long")


def generate():
    check()
    rows = sorted(ELEMENTS, key=lambda r: r[1])
    out = []
    out.append("// Generated by tools/make_element_table.py; do not edit by hand.")
    out.append("// Radius: Shannon (1976) effective ionic radius, else Cordero et al.")
    out.append("// (2008) covalent radius; colour: CPK-derived scheme of the Jmol project.")
    out.append('#include "ElementTable.h"')
    out.append("")
    out.append("const std::array<ElementData, kMaxElementData> kFactoryElementData = {{")
    for z, symbol, ionic, ion, covalent, colour in rows:
        radius = ionic if ionic is not None else covalent
        source = ion if ionic is not None else "covalent"
        r, g, b = (channel16(colour[i:i + 2]) for i in (0, 2, 4))
        out.append("    {0x%04X, {%d, %d, %d}, %.3ff}, // %-2s Z=%-2d %s"
                   % (element_code(symbol), r, g, b, radius, symbol, z, source))
    for _ in range(TABLE_SIZE - len(rows)):
        out.append("    {0x2020, {0, 0, 0}, 0.0f},")
    out.append("}};")
    out.append("")
    out.append("const char kFactoryElementNotes[kElementNotesSize] =")
    words = NOTES.split(" ")
    line = ""
    for w in words:
        if len(line) + len(w) + 1 > 70:
            out.append("    " + c_string(line + " "))
            line = w
        else:
            line = w if not line else line + " " + w
    out.append("    " + c_string(line) + ";")
    out.append("")
    return "\n".join(out)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    path = os.path.join(root, "EngineCode", "model", "ElementTable.cpp")
    with open(path, "w", encoding="ascii") as f:
        f.write(generate())
    print("wrote " + path)


if __name__ == "__main__":
    main()
