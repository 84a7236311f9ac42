#!/usr/bin/python3
"""Checks how many distances the Distance Explorer keeps when a pair of sites
is searched from both ends, against python3-ase.

The gtest ExplorerDump.MirrorPairs of <build-dir>/tests/test_explorers
searches rock salt, rutile and a random triclinic cell from all sites at once
to every element between 0 and 3 A, removes the mirror distances as the
window does, and writes how many distances it keeps per pair of sites.

Independently, ASE builds each crystal (ase.spacegroup) and lists the
neighbours of one atom of every site (ase.neighborlist.neighbor_list). A
distance from site A to site B and one from B to A of the same length are
the same pair of atoms seen from either end, so for two different sites each
length counts as often as the end with more neighbours at that length sees
it; a site's distances to its own images all count.
"""

import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
from collections import Counter

import numpy as np
from ase import Atoms
from ase.geometry import cellpar_to_cell
from ase.neighborlist import neighbor_list
from ase.spacegroup import Spacegroup

MAXIMUM = 3.0
SYMPREC = 1e-3
SAME_LENGTH = 1e-4   # lengths closer than this are one length
CLEAR_MARGIN = 2e-3  # no length this close to the limit or to another length


def read_structures(path):
    out, cur = [], None
    with open(path) as f:
        for raw in f:
            words = raw.split('#', 1)[0].split()
            if not words:
                continue
            if words[0] == 'structure':
                cur = {'title': ' '.join(words[1:]), 'sites': [], 'number': 1}
                out.append(cur)
            elif words[0] == 'cell':
                cur['cell'] = [float(w) for w in words[1:7]]
            elif words[0] == 'oracle':
                cur['number'] = int(words[1])
            elif words[0] == 'site':
                cur['sites'].append((words[1], words[2], tuple(float(w) for w in words[3:6])))
    return out


def random_cell(rng):
    while True:
        cell = [rng.uniform(4.0, 6.0) for _ in range(3)] + [rng.uniform(75.0, 105.0) for _ in range(3)]
        sites = [('A%d' % k, element, tuple(rng.random() for _ in range(3)))
                 for k, element in enumerate(['Si', 'Si', 'O', 'O', 'O'], start=1)]
        s = {'title': 'random', 'cell': cell, 'sites': sites, 'number': 1}
        try:
            counts = expected_pairs(s)
        except ValueError:
            continue
        if counts is not None:
            return s, counts


def write_structure(f, s):
    f.write('structure %s\ncell %s\n' % (s['title'], ' '.join('%.6f' % v for v in s['cell'])))
    f.write('spacegroup %s\n' % Spacegroup(s['number']).symbol)
    for label, element, xyz in s['sites']:
        f.write('site %s %s %.6f %.6f %.6f\n' % (label, element, *xyz))
    f.write('end\n')


def lengths_from(atoms, kinds, centre, site):
    ii, jj, dd = neighbor_list('ijd', atoms, MAXIMUM + 0.5)
    mine = (ii == centre) & (np.array(kinds)[jj] == site) & (dd <= MAXIMUM + CLEAR_MARGIN)
    return sorted(dd[mine])


def grouped(lengths):
    """Counts per length, lengths closer than SAME_LENGTH taken as one."""
    groups = []
    for d in lengths:
        if groups and d - groups[-1][0] < SAME_LENGTH:
            groups[-1][1] += 1
        elif groups and d - groups[-1][0] < CLEAR_MARGIN:
            raise ValueError('two lengths too close to tell apart')
        else:
            groups.append([d, 1])
    return groups


def expected_pairs(s):
    sg = Spacegroup(s['number'])
    frac, kinds = sg.equivalent_sites([site[2] for site in s['sites']], symprec=SYMPREC)
    elements = [s['sites'][k][1] for k in kinds]
    atoms = Atoms(symbols=elements, scaled_positions=np.mod(frac, 1.0), cell=cellpar_to_cell(s['cell']), pbc=True)
    kinds = list(kinds)
    n = len(s['sites'])
    seen = {}
    for a in range(n):
        for b in range(n):
            lengths = lengths_from(atoms, kinds, kinds.index(a), b)
            if any(abs(d - MAXIMUM) < CLEAR_MARGIN for d in lengths):
                raise ValueError('a length at the limit')
            seen[a, b] = Counter({round(d, 3): c for d, c in grouped([d for d in lengths if d <= MAXIMUM])})
    counts = {}
    for a in range(n):
        for b in range(a, n):
            if a == b:
                total = sum(seen[a, a].values())
            else:
                keys = set(seen[a, b]) | set(seen[b, a])
                total = sum(max(seen[a, b][k], seen[b, a][k]) for k in keys)
            if total:
                counts[frozenset((s['sites'][a][0], s['sites'][b][0]))] = total
    return counts


def read_dump(path):
    out, cur = {}, None
    with open(path) as f:
        for line in f:
            words = line.split()
            if words[0] == 'structure':
                cur = {'pairs': {}}
                out[line[len('structure'):].strip()] = cur
            elif words[0] == 'found':
                cur['found'] = int(words[1])
            elif words[0] == 'pair':
                cur['pairs'][frozenset(words[1:3])] = int(words[3])
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--build-dir', required=True)
    ap.add_argument('--source-dir', required=True)
    args = ap.parse_args()
    bonds = os.path.join(args.source_dir, 'tests', 'data', 'bonds')
    structures = read_structures(os.path.join(bonds, 'nacl.txt')) + read_structures(os.path.join(bonds, 'rutile.txt'))
    expected = {s['title']: expected_pairs(s) for s in structures}
    random_structure, expected['random'] = random_cell(random.Random(45))
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        folder = os.path.join(tmp, 'in')
        os.mkdir(folder)
        for name in ('nacl.txt', 'rutile.txt'):
            shutil.copy(os.path.join(bonds, name), folder)
        with open(os.path.join(folder, 'random.txt'), 'w') as f:
            write_structure(f, random_structure)
        env = dict(os.environ, OV_EXPLORER_MIRROR_IN=folder, OV_EXPLORER_DUMP_OUT=tmp, QT_QPA_PLATFORM='offscreen')
        result = subprocess.run([os.path.join(args.build_dir, 'tests', 'test_explorers'),
                                 '--gtest_filter=ExplorerDump.MirrorPairs'], env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if result.returncode != 0 or 'SKIPPED' in result.stdout:
            sys.stdout.write(result.stdout)
            raise SystemExit('the engine dump failed')
        dump = read_dump(os.path.join(tmp, 'mirrors.txt'))
    for title, pairs in expected.items():
        got = dump.get(title)
        if got is None:
            failures.append('%s: missing from the dump' % title)
            continue
        if got['pairs'] != pairs or got['found'] != sum(pairs.values()):
            failures.append('%s: engine %d %s, ASE %d %s' % (title, got['found'], sorted(
                (sorted(k), v) for k, v in got['pairs'].items()), sum(pairs.values()),
                sorted((sorted(k), v) for k, v in pairs.items())))
    for f in failures:
        print('FAIL', f)
    if failures:
        return 1
    print('distance mirror oracle: %d structures keep as many distances as ASE counts' % len(expected))
    return 0


if __name__ == '__main__':
    sys.exit(main())
