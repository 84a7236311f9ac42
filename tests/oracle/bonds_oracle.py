#!/usr/bin/python3
"""Checks the engine's bonds and coordination numbers against python3-ase.

The structures are the text files of tests/data/bonds: real crystals typed in
from published data, each with a plot range, a view direction and bond
specifications (element pair, minimum and maximum length). The "oracle" line
gives the International Tables number ASE builds the cell from.

The script runs the gtest BondSearchDump.* of <build-dir>/tests/test_model,
which generates each crystal over its range, makes the bonds and counts the
coordination numbers, and writes them. Independently of the engine it then
builds the same crystal with ASE (ase.spacegroup) and checks:
  * coordination numbers: for every site, the neighbours in the periodic
    crystal (ase.neighborlist.neighbor_list) that lie within the limits of
    every specification naming the site's element, and the found and
    found-nothing flags;
  * bonds: the atoms inside the plot range are the same set (fractional
    positions within 1e-4), and the bonded pairs among them, found by
    neighbor_list on the finite set of atoms in range, are exactly the
    engine's; atoms outside the range have no bonds and every bond stands in
    both atoms' lists.
A distance within 1e-3 A of a limit, or an atom within 1e-5 of a range
boundary, would make the comparison depend on rounding and fails the run, as
does any mismatch and any structure that finds no bonds.
"""

import argparse
import os
import subprocess
import sys
import tempfile

import numpy as np
from ase import Atoms
from ase.geometry import cellpar_to_cell
from ase.neighborlist import neighbor_list
from ase.spacegroup import Spacegroup

POS_TOL = 1e-4          # fractional positions that agree
LIMIT_MARGIN = 1e-3     # no distance may lie this close to a limit (A)
BOUNDARY_MARGIN = 1e-5  # no atom may lie this close to a range boundary
SYMPREC = 1e-3          # ASE's tolerance for merging equivalent positions


class Structure:
    def __init__(self, title, source):
        self.title = title
        self.source = source
        self.cell = None
        self.number = None
        self.sites = []   # (label, element, (x, y, z))
        self.range = None
        self.bonds = []   # (A, B, min, max)


def read_structures(path):
    out = []
    cur = None
    with open(path) as f:
        for n, raw in enumerate(f, 1):
            line = raw.split('#', 1)[0].strip()
            if not line:
                continue
            words = line.split()
            key = words[0]
            if key == 'structure':
                cur = Structure(line[len(key):].strip(), '%s:%d' % (os.path.basename(path), n))
                out.append(cur)
            elif cur is None:
                raise ValueError('%s line %d: outside a structure' % (path, n))
            elif key == 'cell':
                cur.cell = [float(w) for w in words[1:7]]
            elif key == 'oracle':
                cur.number = int(words[1])
            elif key == 'site':
                cur.sites.append((words[1], words[2], tuple(float(w) for w in words[3:6])))
            elif key == 'range':
                cur.range = [float(w) for w in words[1:7]]
            elif key == 'bond':
                cur.bonds.append((words[1], words[2], float(words[3]), float(words[4])))
            elif key == 'end':
                cur = None
    return out


def read_dump(path):
    out = {}
    cur = None
    with open(path) as f:
        for line in f:
            words = line.split()
            if not words:
                continue
            if words[0] == 'error':
                out[line[6:].split(':', 1)[0]] = ('error', line.strip())
            elif words[0] == 'structure':
                cur = {'sites': {}, 'atoms': []}
                out[line[len('structure'):].strip()] = cur
            elif words[0] == 'coordination':
                cur['found'] = words[1] == '1'
                cur['nothing'] = words[2] == '1'
            elif words[0] == 'site':
                cur['sites'][words[1]] = (words[2], int(words[3]))
            elif words[0] == 'atom':
                cur['atoms'].append((words[1], np.array([float(w) for w in words[2:5]]),
                                     words[5] == '1', [int(w) for w in words[6:]]))
    return out


def run_engine(build_dir, data_dir, out_path):
    binary = os.path.join(build_dir, 'tests', 'test_model')
    env = dict(os.environ, OV_BONDS_DUMP_IN=data_dir, OV_BONDS_DUMP_OUT=out_path)
    result = subprocess.run([binary, '--gtest_filter=BondSearchDump.*'], env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0 or 'SKIPPED' in result.stdout:
        sys.stdout.write(result.stdout)
        raise SystemExit('the engine dump failed')


def matches(spec, e1, e2):
    a, b = spec[0], spec[1]
    return (a == e1 and b == e2) or (a == e2 and b == e1)


def check_margin(d, lo, hi, what, failures):
    if abs(d - hi) < LIMIT_MARGIN or abs(d - lo) < LIMIT_MARGIN:
        failures.append('%s: a distance of %.5f A lies at a limit (%g, %g); move the limit' % (what, d, lo, hi))


def check(s, got, failures):
    where = '%s (%s)' % (s.title, s.source)
    sg = Spacegroup(s.number)
    basis = [site[2] for site in s.sites]
    frac, kinds = sg.equivalent_sites(basis, symprec=SYMPREC)
    frac = np.mod(frac, 1.0)
    frac[frac > 1.0 - 1e-9] = 0.0
    elements = [s.sites[k][1] for k in kinds]
    present = set(site[1] for site in s.sites)
    cell = cellpar_to_cell(s.cell)
    cutoff = max(b[3] for b in s.bonds) + 0.05

    # ---- Coordination numbers, periodic.
    unit = Atoms(symbols=elements, scaled_positions=frac, cell=cell, pbc=True)
    ii, jj, dd = neighbor_list('ijd', unit, cutoff)
    contacts = [0] * len(s.bonds)
    for b, (label, element, _) in enumerate(s.sites):
        centre = list(kinds).index(b)
        mine = ii == centre
        expected = 0
        for k, spec in enumerate(s.bonds):
            if spec[0] not in present or spec[1] not in present:
                continue
            partners = []
            if element == spec[0]:
                partners.append(spec[1])
            if element == spec[1] and spec[0] != spec[1]:
                partners.append(spec[0])
            for partner in partners:
                for j, d in zip(jj[mine], dd[mine]):
                    if elements[j] != partner:
                        continue
                    check_margin(d, spec[2], spec[3], where + ' site ' + label, failures)
                    if spec[2] <= d <= spec[3]:
                        expected += 1
                        contacts[k] += 1
        if label not in got['sites']:
            failures.append('%s: site %s missing from the dump' % (where, label))
            continue
        if got['sites'][label][1] != expected:
            failures.append('%s: site %s coordination %d, ASE finds %d'
                            % (where, label, got['sites'][label][1], expected))
    found = any(c > 0 for c in contacts)
    nothing = any(c == 0 for c in contacts)
    if got['found'] != found or got['nothing'] != nothing:
        failures.append('%s: coordination flags found %s nothing %s, expected %s %s'
                        % (where, got['found'], got['nothing'], found, nothing))

    # ---- Atoms in the plot range, generated here from ASE's cell.
    r = s.range
    cells = [int(r[1]) + 1, int(r[3]) + 1, int(r[5]) + 1]
    mine_frac = []
    mine_el = []
    for f, el in zip(frac, elements):
        for ic in range(cells[2]):
            for ib in range(cells[1]):
                for ia in range(cells[0]):
                    p = f + np.array([ia, ib, ic])
                    for axis in range(3):
                        for bound in (r[2 * axis], r[2 * axis + 1]):
                            if abs(p[axis] - bound) < BOUNDARY_MARGIN:
                                failures.append('%s: an atom lies on a range boundary; move the range' % where)
                    if all(r[2 * a] <= p[a] <= r[2 * a + 1] for a in range(3)):
                        mine_frac.append(p)
                        mine_el.append(el)
    atoms = got['atoms']
    ours = [k for k, a in enumerate(atoms) if a[2]]
    if len(ours) != len(mine_frac):
        failures.append('%s: %d atoms in range, ASE cell gives %d' % (where, len(ours), len(mine_frac)))
        return
    to_ours = []
    taken = set()
    for p, el in zip(mine_frac, mine_el):
        hit = [k for k in ours if k not in taken and atoms[k][0] == el
               and np.max(np.abs(atoms[k][1] - p)) < POS_TOL]
        if len(hit) != 1:
            failures.append('%s: %s at %s matches %d engine atoms' % (where, el, p, len(hit)))
            return
        taken.add(hit[0])
        to_ours.append(hit[0])

    # ---- Bonds among the atoms in range.
    cluster = Atoms(symbols=mine_el, positions=np.array(mine_frac) @ cell, pbc=False)
    ii, jj, dd = neighbor_list('ijd', cluster, cutoff)
    expected = set()
    for i, j, d in zip(ii, jj, dd):
        if i >= j:
            continue
        for spec in s.bonds:
            if matches(spec, mine_el[i], mine_el[j]):
                check_margin(d, spec[2], spec[3], where + ' bond', failures)
                if spec[2] <= d <= spec[3]:
                    expected.add((min(to_ours[i], to_ours[j]), max(to_ours[i], to_ours[j])))
    pairs = set()
    for k, (el, p, inside, bonds) in enumerate(atoms):
        if bonds and not inside:
            failures.append('%s: atom %d outside the range has bonds' % (where, k))
        if len(set(bonds)) != len(bonds):
            failures.append('%s: atom %d lists a bond twice' % (where, k))
        for j in bonds:
            if j >= len(atoms) or k not in atoms[j][3]:
                failures.append('%s: bond %d-%d is not in both lists' % (where, k, j))
            pairs.add((min(k, j), max(k, j)))
    if not expected:
        failures.append('%s: no bonds to compare' % where)
    if pairs != expected:
        failures.append('%s: %d bonds, ASE finds %d; only ours %s; only ASE %s'
                        % (where, len(pairs), len(expected), sorted(pairs - expected)[:5],
                           sorted(expected - pairs)[:5]))
    counts = {}
    for a, b in expected:
        counts[a] = counts.get(a, 0) + 1
        counts[b] = counts.get(b, 0) + 1
    for k in ours:
        if len(atoms[k][3]) != counts.get(k, 0):
            failures.append('%s: atom %d has %d bonds, ASE %d' % (where, k, len(atoms[k][3]), counts.get(k, 0)))
    print('%-14s %4d atoms in range, %4d bonds, coordination %s' % (
        s.title, len(ours), len(pairs),
        ' '.join('%s:%d' % (label, got['sites'][label][1]) for label, _, _ in s.sites if label in got['sites'])))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--build-dir', required=True)
    parser.add_argument('--source-dir', required=True)
    args = parser.parse_args()
    data_dir = os.path.join(args.source_dir, 'tests', 'data', 'bonds')
    structures = []
    for name in sorted(os.listdir(data_dir)):
        if name.endswith('.txt'):
            structures.extend(read_structures(os.path.join(data_dir, name)))
    if len(structures) < 3:
        raise SystemExit('expected at least three structures in %s' % data_dir)
    with tempfile.TemporaryDirectory() as tmp:
        out_path = os.path.join(tmp, 'bonds.txt')
        run_engine(args.build_dir, data_dir, out_path)
        dump = read_dump(out_path)
    failures = []
    for s in structures:
        got = dump.get(s.title)
        if got is None:
            failures.append('%s: missing from the engine dump' % s.title)
        elif isinstance(got, tuple):
            failures.append(got[1])
        else:
            check(s, got, failures)
    if failures:
        for f in failures:
            print('FAIL', f)
        print('%d failure(s)' % len(failures))
        return 1
    print('bonds oracle: %d structures agree with ASE' % len(structures))
    return 0


if __name__ == '__main__':
    sys.exit(main())
