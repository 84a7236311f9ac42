#!/usr/bin/python3
"""Checks a crystal typed into the structure editor against python3-gemmi.

Wurtzite (ZnO, P 63 m c) is typed with its positions to four places (0.3333,
0.6667); on OK the editor puts hexagonal positions on exact thirds, and the
build makes the cell. The gtest EditorApply.DumpWurtziteTypedToFourPlaces of
<build-dir>/tests/test_model writes the atoms of the built cell; this script
compares them with gemmi's cell contents (get_all_unit_cell_sites) of the
exact positions 1/3, 2/3: the same atoms of each element, each within 1e-6
modulo 1.
"""

import argparse
import os
import subprocess
import sys
import tempfile

import gemmi

TOL = 1e-6


def gemmi_sites():
    st = gemmi.SmallStructure()
    st.cell = gemmi.UnitCell(3.25, 3.25, 5.207, 90, 90, 120)
    st.spacegroup_hm = 'P 63 m c'
    for label, el, xyz in [('Zn1', 'Zn', (1 / 3, 2 / 3, 0)), ('O1', 'O', (1 / 3, 2 / 3, 0.382))]:
        site = gemmi.SmallStructure.Site()
        site.label = label
        site.type_symbol = el
        site.element = gemmi.Element(el)
        site.fract = gemmi.Fractional(*xyz)
        site.occ = 1.0
        st.add_site(site)
    st.setup_cell_images()
    out = []
    for s in st.get_all_unit_cell_sites():
        f = s.fract
        out.append((s.element.name, [v % 1.0 for v in (f.x, f.y, f.z)]))
    return out


def close(a, b):
    return all(min(abs(x - y) % 1.0, 1.0 - abs(x - y) % 1.0) <= TOL for x, y in zip(a, b))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--build-dir', required=True)
    parser.add_argument('--source-dir', required=True)
    args = parser.parse_args()
    exe = os.path.join(args.build_dir, 'tests', 'test_model')
    with tempfile.TemporaryDirectory() as tmp:
        dump = os.path.join(tmp, 'wurtzite.txt')
        env = dict(os.environ, OV_EDITOR_DUMP_OUT=dump, QT_QPA_PLATFORM='offscreen')
        run = subprocess.run([exe, '--gtest_filter=EditorApply.DumpWurtziteTypedToFourPlaces'], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if run.returncode != 0 or not os.path.exists(dump):
            print(run.stdout)
            print('FAIL: the editor dump did not run')
            return 1
        ours = []
        with open(dump) as f:
            for line in f:
                label, el, x, y, z = line.split()
                ours.append((el.strip(), [float(x), float(y), float(z)]))
    theirs = gemmi_sites()
    failures = []
    if len(ours) != len(theirs):
        failures.append('%d atoms built, gemmi has %d' % (len(ours), len(theirs)))
    unmatched = list(theirs)
    for el, xyz in ours:
        match = next((t for t in unmatched if t[0] == el and close(t[1], xyz)), None)
        if match is None:
            failures.append('%s at %s is not one of gemmi\'s positions' % (el, xyz))
        else:
            unmatched.remove(match)
    for el, xyz in unmatched:
        failures.append('gemmi\'s %s at %s was not built' % (el, xyz))
    for f in failures:
        print('FAIL:', f)
    if failures:
        return 1
    print('wurtzite typed to four places: %d atoms, all at gemmi\'s exact positions' % len(ours))
    return 0


if __name__ == '__main__':
    sys.exit(main())
