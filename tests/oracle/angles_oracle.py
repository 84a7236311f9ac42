#!/usr/bin/python3
"""Checks the angle and d-spacing texts of the plot windows' test against
python3-gemmi.

tests/inspectors/PlotWindowsTest.cpp holds, between "// oracle:begin
calculate_angle" and "// oracle:end calculate_angle", rows of a cell, two
objects (kind 1 a lattice direction [u v w], kind 2 the normal of the plane
(h k l)) and the angle the window shows. A direction becomes gemmi's
UnitCell.orthogonalize of it, a plane normal the reciprocal vector
(fractionalization matrix transposed times h k l); the angle between the
two, printed "%.4f" with trailing zeros removed and a degree sign, must be
the committed text. The cell is first rounded to single precision, as the
program stores it. The rows between "// oracle:begin d_spacing" and
"// oracle:end d_spacing" give a cell, h k l and the Lattice Plane sheet's
text, which must be gemmi's UnitCell.calculate_d printed "%.4f \u00c5".

    /usr/bin/python3 tests/oracle/angles_oracle.py --source-dir .          # check
    /usr/bin/python3 tests/oracle/angles_oracle.py --source-dir . --print  # print the texts
"""

import argparse
import math
import os
import re
import sys

import gemmi
import numpy as np

ROW = re.compile(r'\{"(\w+)", \{([^}]*)\}, (\d), \{([^}]*)\}, (\d), \{([^}]*)\}, "([^"]*)"\}')


def f32(x):
    return float(np.float32(x))


def numbers(text):
    return [f32(t.strip().rstrip('f')) for t in text.split(',')]


def trim(value):
    text = '%.4f' % value
    if '.' in text:
        text = text.rstrip('0').rstrip('.')
    return text if text != '-0' else '0'


def vector(cell, kind, idx):
    if kind == 1:
        p = cell.orthogonalize(gemmi.Fractional(*idx))
        return np.array([p.x, p.y, p.z])
    frac = np.array(cell.frac.mat.tolist())
    return frac.T @ np.array(idx)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--source-dir', required=True)
    parser.add_argument('--build-dir')
    parser.add_argument('--print', action='store_true')
    args = parser.parse_args()
    path = os.path.join(args.source_dir, 'tests', 'inspectors', 'PlotWindowsTest.cpp')
    text = open(path, encoding='utf-8').read()
    block = text.split('// oracle:begin calculate_angle')[1].split('// oracle:end calculate_angle')[0]
    failures, rows = [], 0
    for m in ROW.finditer(block):
        rows += 1
        name, cell_text, k1, i1, k2, i2, shown = m.groups()
        cell = gemmi.UnitCell(*numbers(cell_text))
        u, v = vector(cell, int(k1), numbers(i1)), vector(cell, int(k2), numbers(i2))
        cosine = max(-1.0, min(1.0, float(u @ v / (np.linalg.norm(u) * np.linalg.norm(v)))))
        want = trim(math.degrees(math.acos(cosine))) + '\u00b0'
        if args.print:
            print(name, i1, i2, want)
        if want != shown:
            failures.append('%s %s ^ %s: the test shows %s, gemmi gives %s' % (name, i1, i2, shown, want))
    d_block = text.split('// oracle:begin d_spacing')[1].split('// oracle:end d_spacing')[0]
    for m in re.finditer(r'\{"(\w+)", \{([^}]*)\}, \{([^}]*)\}, "([^"]*)"\}', d_block):
        rows += 1
        name, cell_text, hkl, shown = m.groups()
        h, k, l = (int(round(v)) for v in numbers(hkl))
        want = '%.4f \u00c5' % gemmi.UnitCell(*numbers(cell_text)).calculate_d([h, k, l])
        if args.print:
            print(name, hkl, want)
        if want != shown:
            failures.append('%s (%s): the test shows %s, gemmi gives %s' % (name, hkl, shown, want))
    if rows == 0:
        failures.append('no rows between the oracle markers')
    for f in failures:
        print('FAIL', f)
    print('%d texts checked, %d failures' % (rows, len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
