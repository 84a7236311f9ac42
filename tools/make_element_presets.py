#!/usr/bin/env python3
"""Generates the preset element tables in resources/Element Tables/.

Run from the repository root:

    python3 tools/make_element_presets.py

and commit the regenerated files. The radii and colours are those typed into
tools/make_element_table.py, which names their published sources:

- "Ionic Radii.txt": Shannon's effective ionic radii (Acta Cryst. A32 (1976)
  751-767), Cordero's covalent radii where Shannon gives none that suits.
- "Covalent Radii.txt": Cordero et al.'s single-bond covalent radii
  (Dalton Trans. (2008) 2832-2838) for every element.

Both use the Jmol element colours and list the elements by atomic number.
The files follow the element-table file format the program writes.
"""

import os

from make_element_table import ELEMENTS

HEADER = [
    "! Element table made for Orvalisphere",
    "! (Any notes must be preceded by the 'NOTE' card;",
    "! element data must be preceded by the 'ELMT' card.)",
]

COLOURS = ("Colours: the CPK-derived element colour scheme published by the Jmol "
           "project (jmol.sourceforge.net/jscolors).")

TABLES = {
    "Ionic Radii": (
        "Effective ionic radii in Angstrom from R. D. Shannon, \"Revised effective ionic radii and "
        "systematic studies of interatomic distances in halides and chalcogenides\", Acta Cryst. A32 "
        "(1976) 751-767: one radius per element, for its usual oxidation state in six-fold "
        "coordination where the paper gives it. Elements that Shannon does not list take the covalent "
        "radius of B. Cordero et al., \"Covalent radii revisited\", Dalton Trans. (2008) 2832-2838.",
        lambda e: e[2] if e[2] is not None else e[4]),
    "Covalent Radii": (
        "Single-bond covalent radii in Angstrom from B. Cordero, V. Gomez, A. E. Platero-Prats, "
        "M. Reves, J. Echeverria, E. Cremades, F. Barragan and S. Alvarez, \"Covalent radii revisited\", "
        "Dalton Trans. (2008) 2832-2838 (C sp3; Mn, Fe and Co low spin).",
        lambda e: e[4]),
}


def wrap(text, column=73):
    """Breaks at the first blank once `column` characters stand on a line."""
    lines, line = [], ""
    for ch in text:
        if ch == " " and len(line) >= column:
            lines.append(line)
            line = ""
        else:
            line += ch
    lines.append(line)
    return lines


def table_text(notes, radius):
    out = list(HEADER)
    out += ["", "NOTE"] + wrap(notes) + [""] + wrap(COLOURS)
    out += ["", "ELMT"]
    for element in sorted(ELEMENTS, key=lambda e: e[0]):
        symbol = element[1].ljust(2)
        rgb = element[5]
        r, g, b = (int(rgb[i:i + 2], 16) * 257 / 65535.0 for i in (0, 2, 4))
        out.append("%s    %5.2f    %10.5f%10.5f%10.5f" % (symbol, radius(element), r, g, b))
    return "\n".join(out) + "\n"


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    folder = os.path.join(root, "resources", "Element Tables")
    os.makedirs(folder, exist_ok=True)
    for name, (notes, radius) in TABLES.items():
        path = os.path.join(folder, name + ".txt")
        with open(path, "w", encoding="utf-8", newline="\n") as f:
            f.write(table_text(notes, radius))
        print("wrote " + path)


if __name__ == "__main__":
    main()
