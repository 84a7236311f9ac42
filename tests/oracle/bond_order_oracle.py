#!/usr/bin/python3
"""Checks that the bond paths find the same bonds whatever the order of the sites.

Caffeine (3-D coordinates from Open Babel), acetone (from ASE's molecule
table, with and without its hydrogens) and a P 1 crystal of C, N and O sites
are each written in their own order and in random permutations of it. The
gtest BondOrderDump.* of <build-dir>/tests/test_model builds every one as a
file's structure is built and writes its bonds, its coordination numbers, the
bonding editor's neighbour counts and the Distance Explorer's distances.
Independently, numpy counts every pair (every periodic image for the
crystal) and the two must agree for every order. A distance within 2e-3 A of
a limit would make the comparison depend on rounding and fails the run.
"""

import argparse
import os
import random
import subprocess
import sys
import tempfile

import numpy as np

MARGIN = 2e-3           # no distance this close to a limit (A)
SELF_SQ = 0.001         # an image of the site itself closer than this is skipped
PERMUTATIONS = 4


def caffeine():
    from openbabel import openbabel, pybel
    mol = pybel.readstring('smi', 'Cn1cnc2c1c(=O)n(C)c(=O)n2C')
    mol.addh()
    openbabel.OBBuilder().Build(mol.OBMol)  # ideal geometry, no force-field search
    return [(pybel.ob.GetSymbol(a.atomicnum), np.array(a.coords)) for a in mol.atoms]


def acetone(hydrogens):
    from ase.build import molecule
    m = molecule('CH3COCH3')
    return [(s, p) for s, p in zip(m.get_chemical_symbols(), m.positions) if hydrogens or s != 'H']


def cell_matrix(cell):
    a, b, c, al, be, ga = cell
    al, be, ga = np.radians([al, be, ga])
    ax = np.array([a, 0, 0])
    bx = np.array([b * np.cos(ga), b * np.sin(ga), 0])
    cx = c * np.cos(be)
    cy = c * (np.cos(al) - np.cos(be) * np.cos(ga)) / np.sin(ga)
    cz = np.sqrt(c * c - cx * cx - cy * cy)
    return np.array([ax, bx, [cx, cy, cz]])


class Structure:
    def __init__(self, title, molecule, sites, bonds, cell=None, rng=None):
        self.title, self.molecule, self.sites, self.bonds = title, molecule, sites, bonds
        self.cell = cell or [10, 10, 10, 90, 90, 90]
        self.range = rng or [0, 1, 0, 1, 0, 1]

    def spec_matches(self, e1, e2):
        return [k for k, (a, b, lo, hi) in enumerate(self.bonds) if {a, b} == {e1, e2}]

    def write(self, f):
        f.write('structure %s\n' % self.title)
        if self.molecule:
            f.write('molecule\n')
        f.write('cell %s\nrange %s\n' % (' '.join(map(str, self.cell)), ' '.join(map(str, self.range))))
        for label, el, p in self.sites:
            f.write('site %s %s %.6f %.6f %.6f\n' % (label, el, p[0], p[1], p[2]))
        for a, b, lo, hi in self.bonds:
            f.write('bond %s %s %g %g\n' % (a, b, lo, hi))
        f.write('end\n')


def limits(s):
    out = {hi for _, _, _, hi in s.bonds} | {lo for _, _, lo, _ in s.bonds if lo > 0}
    return sorted(out)


def expected(s):
    """What every path must find, by numpy over all pairs (and images)."""
    labels = [l for l, _, _ in s.sites]
    els = [e for _, e, _ in s.sites]
    n = len(s.sites)
    longest = max(hi for _, _, _, hi in s.bonds)
    if s.molecule:
        xyz = np.array([p for _, _, p in s.sites])
        shifts = [np.zeros(3)]
        M = np.eye(3)
        frac = xyz
    else:
        M = cell_matrix(s.cell)
        frac = np.array([p for _, _, p in s.sites])
        shifts = [np.array([i, j, k]) for i in range(-2, 3) for j in range(-2, 3) for k in range(-2, 3)]
    # Every (i, j, image) contact with its distance.
    contacts = []
    for i in range(n):
        for j in range(n):
            for t in shifts:
                d = float(np.linalg.norm((frac[j] + t - frac[i]) @ M))
                if i == j and d * d < SELF_SQ:
                    continue
                for lim in limits(s) + [longest]:
                    if abs(d - lim) < MARGIN:
                        raise SystemExit('%s: a distance of %.4f lies at a limit' % (s.title, d))
                contacts.append((i, j, d))
    within = lambda k, d: s.bonds[k][2] <= d <= s.bonds[k][3]

    # Coordination: the neighbours within every specification naming the
    # site's element (a molecule: its bond count, the same thing).
    coordination = {}
    for i in range(n):
        count = 0
        for k, (a, b, lo, hi) in enumerate(s.bonds):
            for (ii, j, d) in contacts:
                if ii != i or not within(k, d):
                    continue
                if (els[i] == a and els[j] == b) or (a != b and els[i] == b and els[j] == a):
                    count += 1
        coordination[labels[i]] = count

    # Bonds among the atoms in the plot range.
    bonds = set()
    if s.molecule:
        for (i, j, d) in contacts:
            if i < j and any(within(k, d) for k in s.spec_matches(els[i], els[j])):
                bonds.add(frozenset([(labels[i], 0, 0, 0), (labels[j], 0, 0, 0)]))
    else:
        r = s.range
        atoms = []
        for i in range(n):
            for t in [np.array([a, b, c]) for a in range(2) for b in range(2) for c in range(2)]:
                p = frac[i] + t
                if all(r[2 * x] <= p[x] <= r[2 * x + 1] for x in range(3)):
                    atoms.append((i, p))
        for x, (i, p) in enumerate(atoms):
            for (j, q) in atoms[x + 1:]:
                d = float(np.linalg.norm((q - p) @ M))
                if any(within(k, d) for k in s.spec_matches(els[i], els[j])):
                    bonds.add(frozenset([(labels[i],) + tuple(round(float(v), 3) for v in p),
                                         (labels[j],) + tuple(round(float(v), 3) for v in q)]))

    # The bonding editor's counts per specification.
    diag = []
    for k, (a, b, lo, hi) in enumerate(s.bonds):
        around = lambda centre, other: [sum(1 for (ii, j, d) in contacts
                                            if ii == i and els[j] == other and within(k, d))
                                        for i in range(n) if els[i] == centre]
        if a not in els or b not in els:
            # Refused: a molecule's counts are left alone, a crystal's reset.
            diag.append((0, -1, -1, -1, -1) if s.molecule else (0, 9999, 0, 9999, 0))
            continue
        ab = around(a, b)
        ba = ab if a == b else around(b, a)
        diag.append((1, min(ab), max(ab), min(ba), max(ba)))

    # The Distance Explorer: every site to every atom within 0 .. longest.
    dex = sorted((labels[i], labels[j], d) for (i, j, d) in contacts if d <= longest)
    return bonds, coordination, diag, dex


def read_dump(path):
    out, cur = {}, None
    for line in open(path):
        w = line.split()
        if not w:
            continue
        if w[0] == 'error':
            out[' '.join(w[1:])] = None
        elif w[0] == 'structure':
            cur = {'bonds': [], 'site': {}, 'diag': [], 'dex': []}
            out[' '.join(w[1:])] = cur
        elif w[0] == 'bond':
            a = (w[1],) + tuple(round(float(v), 3) for v in w[2:5])
            b = (w[5],) + tuple(round(float(v), 3) for v in w[6:9])
            cur['bonds'].append(frozenset([a, b]))
        elif w[0] == 'site':
            cur['site'][w[1]] = int(w[2])
        elif w[0] == 'diag':
            cur['diag'].append(tuple(int(v) for v in w[2:7]))
        elif w[0] == 'dex':
            cur['dex'].append((w[1], w[2], float(w[3])))
    return out


def compare(s, got, failures):
    bonds, coordination, diag, dex = expected(s)
    if got is None:
        failures.append('%s: not built' % s.title)
        return
    if len(got['bonds']) != len(set(got['bonds'])) or set(got['bonds']) != bonds:
        failures.append('%s: %d bonds, expected %d (missing %d, extra %d)' % (
            s.title, len(got['bonds']), len(bonds), len(bonds - set(got['bonds'])), len(set(got['bonds']) - bonds)))
    if got['site'] != coordination:
        failures.append('%s: coordination %s, expected %s' % (s.title, got['site'], coordination))
    if got['diag'] != diag:
        failures.append('%s: bonding editor counts %s, expected %s' % (s.title, got['diag'], diag))
    mine = sorted(got['dex'])
    if len(mine) != len(dex) or any(a[:2] != b[:2] or abs(a[2] - b[2]) > 1e-3 for a, b in zip(mine, dex)):
        failures.append('%s: %d Distance Explorer distances, expected %d' % (s.title, len(mine), len(dex)))


def structures():
    rnd = random.Random(20261208)
    base = []
    organic = [('C', 'C', 0, 1.65), ('C', 'N', 0, 1.6), ('C', 'O', 0, 1.5), ('C', 'H', 0, 1.2)]
    for title, atoms in (('caffeine', caffeine()), ('acetone', acetone(True)),
                         ('acetone without hydrogens', acetone(False))):
        sites = [('%s%d' % (e, k + 1), e, p) for k, (e, p) in enumerate(atoms)]
        base.append(Structure(title, True, sites, organic))
    # A P 1 crystal whose elements alternate; positions on a 0.001 grid.
    els = ['C', 'O', 'C', 'N', 'O', 'C', 'N', 'C']
    sites = [('%s%d' % (e, k + 1), e, np.array([round(rnd.uniform(0.05, 0.95), 3) for _ in range(3)]))
             for k, e in enumerate(els)]
    base.append(Structure('crystal', False, sites,
                          [('C', 'O', 0, 2.2), ('C', 'C', 0, 2.4), ('N', 'O', 1.0, 2.3), ('C', 'N', 0, 2.1)],
                          cell=[4.1, 4.6, 5.2, 88, 95, 102], rng=[0, 1.5, 0, 1.5, 0, 1.5]))
    out = []
    for s in base:
        out.append(s)
        for p in range(PERMUTATIONS):
            order = list(s.sites)
            rnd.shuffle(order)
            out.append(Structure('%s permutation %d' % (s.title, p + 1), s.molecule, order, s.bonds, s.cell,
                                 s.range))
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--build-dir', required=True)
    parser.add_argument('--source-dir', required=True)
    args = parser.parse_args()
    cases = structures()
    with tempfile.TemporaryDirectory() as tmp:
        in_path, out_path = os.path.join(tmp, 'in.txt'), os.path.join(tmp, 'out.txt')
        with open(in_path, 'w') as f:
            for s in cases:
                s.write(f)
        env = dict(os.environ, OV_BOND_ORDER_IN=in_path, OV_BOND_ORDER_OUT=out_path, QT_QPA_PLATFORM='offscreen')
        result = subprocess.run([os.path.join(args.build_dir, 'tests', 'test_model'),
                                 '--gtest_filter=BondOrderDump.*'], env=env, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True)
        if result.returncode != 0 or 'SKIPPED' in result.stdout:
            sys.stdout.write(result.stdout)
            raise SystemExit('the engine dump failed')
        dump = read_dump(out_path)
    failures = []
    for s in cases:
        compare(s, dump.get(s.title), failures)
    caffeine_bonds = len(expected(cases[0])[0])
    if caffeine_bonds != 25:
        failures.append('caffeine: the oracle finds %d bonds, not 25' % caffeine_bonds)
    for f in failures:
        print('FAIL', f)
    if failures:
        print('%d failure(s)' % len(failures))
        return 1
    print('bond order oracle: %d structures in %d orders agree with numpy' % (len(cases) // (PERMUTATIONS + 1),
                                                                           PERMUTATIONS + 1))
    return 0


if __name__ == '__main__':
    sys.exit(main())
