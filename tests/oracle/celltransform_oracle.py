#!/usr/bin/python3
"""Checks the cell transformations against python3-gemmi, -spglib and -ase.

The script runs the gtest CellTransformDump.* of <build-dir>/tests/test_model
on the real structures of tests/data/structures (not the random set). For
each structure it makes supercells (2 2 2, 3 1 2), applies every lattice
preset that validates and two general matrices, projects the cell onto the
planes (1 1 0), (1 1 1) and (-1 0 2) and shifts the origin, and writes the
new cell and every atom of its first cell. For each case this script checks:
  * the new cell is T G T^t of the old (G the metric tensor, T the matrix),
    and the atom count is det T times that of the old cell;
  * the atoms, modulo 1 within 1e-4, are gemmi's cell contents of the old
    cell re-expressed in the new basis (shifted, for the origin shift), and
    for a whole-number T also what ASE's make_supercell makes;
  * spglib finds the old space-group number in the new cell, and where the
    program logged a detected lattice, spglib's pure translations give the
    same letter by the program's rule (centrings I, A, B, C, F, R in this
    order; the one with most translations wins, the first on a tie).
It also makes the test write the displacement tensors of a triclinic cell
with a Uij site and a site carrying the coefficients of h_i h_j after three
matrices, and checks each against numpy: the tensor taken to Cartesian axes
(U_cart = A N U N A^t, A the lattice vectors as columns, N the reciprocal
lengths) and back in the new lattice T A (N' from that lattice).
Any mismatch fails the run.
"""

import argparse
import math
import os
import subprocess
import sys
import tempfile

import numpy as np
import gemmi
import spglib
from ase import Atoms
from ase.build import make_supercell
from ase.data import atomic_numbers
from ase.geometry import cellpar_to_cell

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import unitcell_oracle as uo  # noqa: E402  (the structure reader and gemmi's orbits)

TOL = 1e-4
CENTRINGS = [('I', [(.5, .5, .5)]), ('A', [(0, .5, .5)]), ('B', [(.5, 0, .5)]), ('C', [(.5, .5, 0)]),
             ('F', [(0, .5, .5), (.5, .5, 0), (.5, 0, .5)]), ('R', [(2 / 3, 1 / 3, 1 / 3), (1 / 3, 2 / 3, 2 / 3)])]


def read_dump(path):
    cases, problems = [], []
    cur = None
    with open(path) as f:
        for line in f:
            line = line.rstrip('\n')
            key, _, rest = line.partition(' ')
            if key == 'case':
                title, _, op = rest.partition(' | ')
                cur = {'title': title, 'op': op, 'atoms': []}
            elif key in ('skip',):
                continue
            elif key == 'error':
                problems.append(rest)
            elif key == 'matrix':
                cur['T'] = np.array([float(w) for w in rest.split()]).reshape(3, 3)
            elif key == 'origin':
                cur['origin'] = np.array([float(w) for w in rest.split()])
            elif key == 'cell':
                cur['cell'] = [float(w) for w in rest.split()]
            elif key == 'result':
                symbol, letter, count = [w.strip() for w in rest.split('|')]
                cur['symbol'], cur['letter'], cur['count'] = symbol, letter, int(count)
            elif key == 'atom':
                w = rest.split()
                cur['atoms'].append((w[0], np.array([float(v) for v in w[1:]])))
            elif key == 'end':
                cases.append(cur)
                cur = None
    return cases, problems


def metric(cell):
    a, b, c, al, be, ga = cell
    ca, cb, cg = (math.cos(math.radians(x)) for x in (al, be, ga))
    return np.array([[a * a, a * b * cg, a * c * cb], [a * b * cg, b * b, b * c * ca], [a * c * cb, b * c * ca, c * c]])


def contents(s):
    """gemmi's P 1 contents of the structure's cell: [(element, frac)]."""
    ops, _ = uo.gemmi_ops(s.oracle)
    out = []
    for label, element, xyz, occ in s.sites:
        for p in uo.orbit(ops, xyz, s.shift):
            out.append((element, np.array(p)))
    return out


def reexpress(atoms, T):
    """The atoms of the cell T makes, in its fractional coordinates."""
    Tt_inv = np.linalg.inv(T.T)
    corners = np.array([[i, j, k] for i in (0, 1) for j in (0, 1) for k in (0, 1)]) @ T
    lo, hi = np.floor(corners.min(0)).astype(int), np.ceil(corners.max(0)).astype(int)
    shifts = np.array([[a, b, c] for a in range(lo[0], hi[0] + 1) for b in range(lo[1], hi[1] + 1)
                       for c in range(lo[2], hi[2] + 1)])
    out = []
    for element, p in atoms:
        q = (p + shifts) @ Tt_inv.T
        for r in q[np.all((q > -TOL) & (q < 1 - TOL), axis=1)]:
            out.append((element, r))
    return out


def same_contents(got, expected):
    """None when the two lists agree as multisets modulo 1, else a reason."""
    if len(got) != len(expected):
        return '%d atoms, expected %d' % (len(got), len(expected))
    for element in set(e for e, _ in expected):
        a = np.array([p for e, p in got if e == element])
        b = np.array([p for e, p in expected if e == element])
        if len(a) != len(b):
            return '%d %s atoms, expected %d' % (len(a), element, len(b))
        d = np.abs(a[:, None, :] - b[None, :, :]) % 1.0
        d = np.minimum(d, 1.0 - d).max(axis=2)
        used = np.zeros(len(b), bool)
        for i in range(len(a)):
            free = np.where(~used & (d[i] < TOL))[0]
            if len(free) == 0:
                return '%s atom at %s has no partner' % (element, np.round(a[i], 5))
            used[free[0]] = True
    return None


def letter_of(translations):
    best, count = 'P', 0
    for letter, ts in CENTRINGS:
        holds = all(any(np.all(np.minimum(np.abs(np.array(t) - u) % 1, 1 - np.abs(np.array(t) - u) % 1) < 1e-3)
                        for u in translations) for t in ts)
        if holds and len(ts) > count:
            best, count = letter, len(ts)
    return best


def check(case, s, number, failures):
    where = '%s | %s' % (case['title'], case['op'])
    old = contents(s)
    atoms = case['atoms']
    if 'origin' in case:
        expected = [(e, (p - case['origin']) % 1.0) for e, p in old]
        if not np.allclose(case['cell'], s.cell, atol=1e-3):
            failures.append('%s: the cell changed' % where)
    else:
        T = case['T']
        det = np.linalg.det(T)
        G = T @ metric(s.cell) @ T.T
        if not np.allclose(metric(case['cell']), G, rtol=1e-4, atol=1e-3):
            failures.append('%s: cell %s is not T G T^t' % (where, case['cell']))
        if len(atoms) != round(det * len(old)):
            failures.append('%s: %d atoms, det T x %d = %g' % (where, len(atoms), len(old), det * len(old)))
        expected = reexpress(old, T)
        if np.allclose(T, np.round(T)):
            lattice = cellpar_to_cell(s.cell)
            base = Atoms(symbols=[e for e, _ in old], scaled_positions=[p for _, p in old], cell=lattice, pbc=True)
            sup = make_supercell(base, np.round(T).astype(int))
            ase_atoms = list(zip(sup.get_chemical_symbols(), sup.get_scaled_positions(wrap=True)))
            check.ase += 1
            why = same_contents(atoms, ase_atoms)
            if why:
                failures.append('%s: against ASE make_supercell: %s' % (where, why))
    why = same_contents(atoms, expected)
    if why:
        failures.append('%s: against gemmi: %s' % (where, why))
    lattice = cellpar_to_cell(case['cell'])
    cell = (lattice, [p for _, p in atoms], [atomic_numbers[e] for e, _ in atoms])
    data = spglib.get_symmetry_dataset(cell, symprec=1e-3)
    found = data['number'] if data is not None else None
    if found != number:
        failures.append('%s: spglib finds group %s, expected %d' % (where, found, number))
    elif case['letter'] != '-':
        pure = [t for r, t in zip(data['rotations'], data['translations']) if np.array_equal(r, np.eye(3, dtype=int))]
        if letter_of(pure) != case['letter']:
            failures.append('%s: detected %s, spglib\'s translations give %s' % (where, case['letter'],
                                                                                letter_of(pure)))


check.ase = 0


def tensor(words):
    u11, u22, u33, u12, u13, u23 = (float(w) for w in words)
    return np.array([[u11, u12, u13], [u12, u22, u23], [u13, u23, u33]])


def read_tensor_dump(path):
    cases, cur = [], None
    with open(path) as f:
        for line in f:
            key, _, rest = line.strip().partition(' ')
            if key == 'matrix':
                cur = {'T': np.array([float(w) for w in rest.split()]).reshape(3, 3), 'made': []}
            elif key == 'before':
                parts = rest.split('|')
                cur['cell'] = [float(w) for w in parts[0].split()]
                cur['sites'] = {}
                for part, element in zip(parts[1:], ('O', 'Si')):
                    w = part.split()
                    cur['sites'][element] = (int(w[0]), tensor(w[1:]))
            elif key == 'tensor':
                w = rest.split()
                cur['made'].append((w[0], int(w[1]), tensor(w[2:])))
            elif key == 'end':
                cases.append(cur)
    return cases


def recip_lengths(lattice_rows):
    return np.linalg.norm(np.linalg.inv(lattice_rows.T), axis=1)


def as_uij(kind, t, n):
    """Uij of a tensor of type 2 (itself) or 3 (coefficients of h_i h_j)."""
    return t if kind == 2 else t / (2 * math.pi ** 2 * np.outer(n, n))


def from_uij(kind, u, n):
    return u if kind == 2 else u * 2 * math.pi ** 2 * np.outer(n, n)


def check_tensors(cases, failures):
    checked = 0
    for case in cases:
        rows = cellpar_to_cell(case['cell'])
        new_rows = case['T'] @ rows
        A, A2 = rows.T, new_rows.T
        n, n2 = recip_lengths(rows), recip_lengths(new_rows)
        for element, kind, got in case['made']:
            old_kind, old = case['sites'][element]
            cart = A @ np.diag(n) @ as_uij(old_kind, old, n) @ np.diag(n) @ A.T
            inv = np.linalg.inv(A2)
            u2 = np.diag(1 / n2) @ inv @ cart @ inv.T @ np.diag(1 / n2)
            expected = from_uij(kind, u2, n2)
            checked += 1
            if kind != old_kind or not np.allclose(got, expected, rtol=2e-4, atol=2e-6):
                failures.append('tensor of %s (type %d) after %s: %s, numpy %s' % (
                    element, old_kind, case['T'].tolist(), np.round(got, 6).tolist(),
                    np.round(expected, 6).tolist()))
    if checked < 6:
        failures.append('only %d displacement tensors checked' % checked)
    return checked


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--build-dir', required=True)
    ap.add_argument('--source-dir', default=os.path.join(os.path.dirname(__file__), '..', '..'))
    args = ap.parse_args()
    data_dir = os.path.join(args.source_dir, 'tests', 'data', 'structures')
    structures = {}
    for name in sorted(os.listdir(data_dir)):
        if name.endswith('.txt') and name != 'random_groups.txt':
            for s in uo.read_structures(os.path.join(data_dir, name)):
                structures[s.title] = s

    exe = os.path.join(args.build_dir, 'tests', 'test_model')
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, 'cells.txt')
        tensors = os.path.join(tmp, 'tensors.txt')
        env = dict(os.environ, OV_CELLTRANSFORM_DUMP_IN=data_dir, OV_CELLTRANSFORM_DUMP_OUT=out,
                   OV_CELLTRANSFORM_TENSOR_OUT=tensors)
        env.setdefault('QT_QPA_PLATFORM', 'offscreen')
        run = subprocess.run([exe, '--gtest_filter=CellTransformDump.*'], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if run.returncode != 0 or not os.path.exists(out):
            print(run.stdout[-4000:])
            print('FAIL: %s exited with %d' % (exe, run.returncode))
            return 1
        cases, problems = read_dump(out)
        tensor_cases = read_tensor_dump(tensors) if os.path.exists(tensors) else []

    failures = ['dump: %s' % p for p in problems]
    tensors_checked = check_tensors(tensor_cases, failures)
    seen = set()
    for case in cases:
        s = structures.get(case['title'])
        if s is None:
            failures.append('%s: not among the structures' % case['title'])
            continue
        seen.add(s.title)
        _, group = uo.gemmi_ops(s.oracle)
        check(case, s, gemmi.find_spacegroup_by_ops(group).number, failures)
    for title in structures:
        if title not in seen:
            failures.append('%s: no case written' % title)
    kinds = set(c['op'].split()[0] for c in cases)
    if kinds != {'supercell', 'preset', 'matrix', 'plane', 'origin'}:
        failures.append('operations covered: %s' % sorted(kinds))
    if failures:
        for f in failures[:60]:
            print('FAIL:', f)
        print('%d failures in %d cases' % (len(failures), len(cases)))
        return 1
    letters = ''.join(sorted(c['letter'] for c in cases if c['letter'] != '-'))
    print('OK: %d cases on %d structures (%d also against ASE); lattices detected: %s; %d tensors'
          % (len(cases), len(seen), check.ase, letters, tensors_checked))
    return 0


if __name__ == '__main__':
    sys.exit(main())
