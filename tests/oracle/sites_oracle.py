#!/usr/bin/python3
"""Checks the expected texts of the site tests against independent
calculations.

  hsl      tests/model/SiteAppearanceTest.cpp: each row {h, s, l, r, g, b}
           (16-bit channels) must equal Python's colorsys.hls_to_rgb of
           h/65535, l/65535, s/65535 (note colorsys's H-L-S order), rounded.
  density  tests/model/StructureReportsTest.cpp: the density report's lines
           for rock salt and rutile. python3-gemmi expands the sites over the
           space group (SmallStructure.get_all_unit_cell_sites), and gives the
           cell volume and the atomic weights; the script recomputes the
           density (kg/m3 and g/cm3), the atoms per cell, the cell volume and
           the atom and site densities and compares them with the numbers in
           the lines (relative 1e-3 for the density: the program's weight
           table keeps some older values, Ti 47.90 against gemmi's 47.867,
           and its unit factor is 1660.56; the printed precision for the
           rest).

    /usr/bin/python3 tests/oracle/sites_oracle.py --source-dir .          # check
    /usr/bin/python3 tests/oracle/sites_oracle.py --source-dir . --print  # print the hsl block
"""

import argparse
import colorsys
import os
import re
import sys

import gemmi

HSL_ROWS = [(0, 65535, 32000), (21845, 65535, 32000), (43690, 65535, 32000), (10923, 65535, 32000),
            (5000, 40000, 20000), (60000, 30000, 50000), (30000, 0, 12345), (32768, 65535, 65535)]

# The structures of the density lines, as the test builds them.
STRUCTURES = {
    "RockSalt": ((5.64, 5.64, 5.64, 90, 90, 90), "F m -3 m",
                 [("Cl1", "Cl", (0.5, 0.5, 0.5)), ("Na1", "Na", (0.0, 0.0, 0.0))]),
    "Rutile": ((4.5937, 4.5937, 2.9587, 90, 90, 90), "P 42/m n m",
               [("O1", "O", (0.30478, 0.30478, 0.0)), ("Ti1", "Ti", (0.0, 0.0, 0.0))]),
}

# 1 g/mol per cubic Angstrom in g/cm3.
AMU_PER_A3 = 1.66053906660


def block(path, name):
    text = open(path, encoding="utf-8").read()
    m = re.search(r"// oracle:begin %s\n(.*?)// oracle:end %s" % (name, name), text, re.S)
    if not m:
        raise SystemExit("%s: no block %s" % (path, name))
    return m.group(1)


def hsl_expected(h, s, l):
    r, g, b = colorsys.hls_to_rgb(h / 65535.0, l / 65535.0, s / 65535.0)
    return tuple(round(x * 65535) for x in (r, g, b))


def check_hsl(source):
    body = block(os.path.join(source, "tests/model/SiteAppearanceTest.cpp"), "hsl")
    rows = [tuple(int(v) for v in m.group(1).split(",")) for m in re.finditer(r"\{([\d,\s]+)\}", body)]
    errors = []
    if [r[:3] for r in rows] != HSL_ROWS:
        errors.append("hsl: the rows' inputs differ from the script's list")
    for row in rows:
        want = hsl_expected(*row[:3])
        if tuple(row[3:]) != want:
            errors.append("hsl %s: test has %s, colorsys gives %s" % (row[:3], row[3:], want))
    return errors


def gemmi_density(cell, group, sites):
    st = gemmi.SmallStructure()
    st.cell = gemmi.UnitCell(*cell)
    st.spacegroup_hm = group
    for label, symbol, xyz in sites:
        s = gemmi.SmallStructure.Site()
        s.label = label
        s.type_symbol = symbol
        s.element = gemmi.Element(symbol)
        s.fract = gemmi.Fractional(*xyz)
        s.occ = 1.0
        st.add_site(s)
    st.setup_cell_images()
    atoms = st.get_all_unit_cell_sites()
    v = st.cell.volume
    grams = sum(a.element.weight * a.occ for a in atoms) * AMU_PER_A3 / v
    return {"density": grams * 1000.0, "gcm3": grams, "atoms": len(atoms), "volume": v,
            "atom density": sum(a.occ for a in atoms) / v, "site density": len(atoms) / v}


def number(line):
    return float(re.search(r":\s*([-\d.]+)", line).group(1))


def check_density(source):
    body = block(os.path.join(source, "tests/model/StructureReportsTest.cpp"), "density")
    errors = []
    found = re.findall(r"const Lines k(\w+)Density = \{(.*?)\};", body, re.S)
    if sorted(name for name, _ in found) != sorted(STRUCTURES):
        errors.append("density: blocks %s, expected %s" % ([n for n, _ in found], sorted(STRUCTURES)))
    for name, lines in found:
        want = gemmi_density(*STRUCTURES[name])
        texts = re.findall(r'"((?:[^"\\]|\\.)*)"', lines)

        def line_with(key):
            hits = [t for t in texts if key in t]
            if len(hits) != 1:
                errors.append("%s: no single line with %r" % (name, key))
                return None
            return hits[0]

        def compare(key, value, tolerance, relative=False):
            if value is None:
                return
            expected = want[key]
            limit = tolerance * abs(expected) if relative else tolerance
            if abs(value - expected) > limit:
                errors.append("%s %s: test has %.6g, gemmi gives %.6g" % (name, key, value, expected))

        d = line_with("Calculated density:")
        if d:
            compare("density", number(d), 1e-3, True)
            compare("gcm3", float(re.search(r"\(([\d.]+) g/cm", d).group(1)), 1e-3, True)
        a = line_with("Atoms per unit cell:")
        compare("atoms", number(a) if a else None, 0)
        v = line_with("Unit cell volume:")
        compare("volume", number(v) if v else None, 2e-4)
        ad = line_with("Atom density:")
        compare("atom density", number(ad) if ad else None, 1e-4)
        sd = line_with("Site density:")
        compare("site density", number(sd) if sd else None, 1e-4)
    return errors


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source-dir", default=".")
    parser.add_argument("--build-dir", default=None)
    parser.add_argument("--print", action="store_true")
    args = parser.parse_args()
    if args.print:
        for h, s, l in HSL_ROWS:
            print("    {%d, %d, %d, %d, %d, %d}," % ((h, s, l) + hsl_expected(h, s, l)))
        return 0
    errors = check_hsl(args.source_dir) + check_density(args.source_dir)
    for e in errors:
        print(e)
    print("sites oracle: %s" % ("FAILED" if errors else "all blocks agree"))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
