#!/usr/bin/python3
"""Checks the numbers the measuring tools and the site report write to the
Log against independent calculations.

The script runs the gtest MeasureDump.* of <build-dir>/tests/test_structurewindow,
which clicks and hovers the tools over a molecule (resources/examples/Benzene.ovtx)
and a crystal with coordinate esds and anisotropic displacements
(tests/data/structures/rutile_adp.ovtx) and writes, for every measurement,
the Log text with the Cartesian and fractional coordinates it measured.
Then:

  distance   python3-ase Atoms.get_distance on the Cartesian coordinates;
  esd        first-order propagation of the coordinate esds of both atoms
             through numpy central differences of the distance in the cell
             (each atom's coordinates independent);
  angle      Atoms.get_angle;
  torsion    Atoms.get_dihedral, which runs 0 to 360: the logged angle,
             signed, must equal it modulo 360;
  axes       the principal-axis magnitudes of the site report equal the
             critical value times the square roots of the eigenvalues of
             the Cartesian displacement tensor (numpy.linalg.eigvalsh), in
             any order.

    /usr/bin/python3 tests/oracle/measure_oracle.py --build-dir build/test --source-dir .
"""

import argparse
import json
import math
import os
import re
import subprocess
import sys
import tempfile

import numpy as np
from ase import Atoms

NUMBER = r'(-?\d+\.\d+)'


def run_engine(build_dir, out_path):
    binary = os.path.join(build_dir, 'tests', 'test_structurewindow')
    env = dict(os.environ, OV_MEASURE_DUMP_OUT=out_path, QT_QPA_PLATFORM='offscreen')
    result = subprocess.run([binary, '--gtest_filter=MeasureDump.*'], env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0 or 'SKIPPED' in result.stdout:
        sys.stdout.write(result.stdout)
        raise SystemExit('the engine dump failed')


def orthogonalisation(cell):
    a, b, c, al, be, ga = cell
    al, be, ga = (math.radians(x) for x in (al, be, ga))
    v = math.sqrt(1 - math.cos(al) ** 2 - math.cos(be) ** 2 - math.cos(ga) ** 2
                  + 2 * math.cos(al) * math.cos(be) * math.cos(ga))
    return np.array([[a, b * math.cos(ga), c * math.cos(be)],
                     [0, b * math.sin(ga), c * (math.cos(al) - math.cos(be) * math.cos(ga)) / math.sin(ga)],
                     [0, 0, c * v / math.sin(ga)]])


def logged(pattern, text, what, failures):
    m = re.search(pattern, text)
    if not m:
        failures.append('%s: no line matching %r in %r' % (what, pattern, text))
        return None
    return [float(g) if g is not None else None for g in m.groups()]


def check_distance(case, cell, molecule, what, failures):
    got = logged(r'distance: ' + NUMBER + r'(?: \u00b1 ' + NUMBER + r')? \u00c5', case['log'], what, failures)
    if got is None:
        return
    want = Atoms('X2', positions=case['cart']).get_distance(0, 1)
    if abs(got[0] - want) > 2e-5:
        failures.append('%s: distance %.5f, ase %.6f' % (what, got[0], want))
    if molecule or len(got) < 2 or got[1] is None:
        return
    m = orthogonalisation(cell)
    x = np.array(case['frac'], dtype=float).ravel()
    sigma = np.array(case['esd'], dtype=float).ravel()

    def d(p):
        return np.linalg.norm(m @ (p[0:3] - p[3:6]))

    var = 0.0
    for i in range(6):
        h = np.zeros(6)
        h[i] = 1e-6
        var += ((d(x + h) - d(x - h)) / 2e-6 * sigma[i]) ** 2
    if abs(got[1] - math.sqrt(var)) > 1.5e-5:
        failures.append('%s: esd %.5f, propagated %.6f' % (what, got[1], math.sqrt(var)))


def check_angle(case, what, failures):
    got = logged(r'bond angle = ' + NUMBER + '\u00b0', case['log'], what, failures)
    if got is not None:
        want = Atoms('X3', positions=case['cart']).get_angle(0, 1, 2)
        if abs(got[0] - want) > 1.5e-3:
            failures.append('%s: angle %.3f, ase %.4f' % (what, got[0], want))


def check_torsion(case, what, failures):
    got = logged(r'torsion angle = ' + NUMBER + '\u00b0', case['log'], what, failures)
    if got is not None:
        want = Atoms('X4', positions=case['cart']).get_dihedral(0, 1, 2, 3)
        diff = (got[0] - want + 180.0) % 360.0 - 180.0
        if abs(diff) > 1.5e-3 or abs(got[0]) > 180.0:
            failures.append('%s: torsion %.3f, ase %.4f (0 to 360)' % (what, got[0], want))


def check_axes(case, cell, what, failures):
    got = [float(g) for g in re.findall(r'\(magnitude: ' + NUMBER + ' \u00c5\\)', case['log'])]
    if len(got) != 3:
        failures.append('%s: %d principal axes in %r' % (what, len(got), case['log']))
        return
    t = np.array(case['tensor'], dtype=float).reshape(3, 3)
    if case['type'] == 'B':
        t = t / (8 * math.pi ** 2)
    m = orthogonalisation(cell)
    n = np.diag(np.linalg.norm(np.linalg.inv(m), axis=1))  # a*, b*, c*
    u_cart = m @ n @ t @ n @ m.T
    want = sorted(case['critical'] * math.sqrt(e) for e in np.linalg.eigvalsh(u_cart))
    for g, w in zip(sorted(got), want):
        if abs(g - w) > 2e-5:
            failures.append('%s: axis magnitudes %s, numpy %s' % (what, sorted(got), want))
            break


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--build-dir', required=True)
    parser.add_argument('--source-dir', required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, 'measure.json')
        run_engine(args.build_dir, out)
        with open(out, encoding='utf-8') as f:
            structures = json.load(f)
    failures = []
    counts = {}
    for s in structures:
        for k, case in enumerate(s.get('cases', [])):
            what = '%s %s #%d' % (s['structure'], case['kind'], k)
            counts[case['kind']] = counts.get(case['kind'], 0) + 1
            if case['kind'] == 'distance':
                check_distance(case, s['cell'], s['molecule'], what, failures)
            elif case['kind'] == 'angle':
                check_angle(case, what, failures)
            elif case['kind'] == 'torsion':
                check_torsion(case, what, failures)
            elif case['kind'] == 'site':
                check_axes(case, s['cell'], what, failures)
    for kind in ('distance', 'angle', 'torsion', 'site'):
        if not counts.get(kind):
            failures.append('the dump holds no %s measurement' % kind)
    for line in failures:
        print('FAIL', line)
    print('%d measurements checked, %d failures' % (sum(counts.values()), len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
