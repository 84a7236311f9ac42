#!/usr/bin/python3
"""Checks the unit cells the engine generates against python3-gemmi.

The structures are the text files of tests/data/structures: real structures
typed in from published data, and random general and special positions in
many space groups (random_groups.txt, written by --write-random). Each names
its space group twice: as the program's table names it (with the origin
choice), which the program uses, and as gemmi names it (the "oracle" line, a
gemmi name or "hall:<Hall symbol>"), which this script uses.

The script runs the gtest UnitCellDump.* of <build-dir>/tests/test_model,
which builds every structure (removal of symmetry-related sites, then cell
generation) and writes the atoms of each site. For every structure it then
checks, with gemmi's symmetry operations (and the centring translations):
  * the operator count equals gemmi's;
  * the sites kept are those that are no symmetry copy of an earlier site of
    the same element and occupancy;
  * each kept site has as many atoms as its orbit has distinct positions, and
    the fractional positions agree within 1e-4 modulo 1 (each atom with a
    different orbit position), all in [0, 1);
and that the random set covers at least 40 space groups, every crystal
system and every centring. Any mismatch, and any structure it could not
compare, fails the run.
"""

import argparse
import math
import os
import random
import subprocess
import sys
import tempfile

import gemmi

TOL = 1e-4            # positions agree within this, modulo 1
SEPARATION = 0.005    # random positions keep their images this far apart or together
OCC_TOL = 1e-4        # occupancies that agree


# ---------------------------------------------------------------------------
# Input files

class Structure:
    def __init__(self, title, source):
        self.title = title
        self.source = source
        self.cell = [10.0, 10.0, 10.0, 90.0, 90.0, 90.0]
        self.symbol = 'P 1'
        self.origin = 0
        self.shift = [0.0, 0.0, 0.0]
        self.oracle = None
        self.sites = []  # (label, element, [x, y, z], occupancy)


def read_structures(path):
    out = []
    cur = None
    with open(path) as f:
        for n, raw in enumerate(f, 1):
            line = raw.split('#', 1)[0].strip()
            if not line:
                continue
            key, _, rest = line.partition(' ')
            rest = rest.strip()
            words = rest.split()
            if key == 'structure':
                cur = Structure(rest, '%s:%d' % (os.path.basename(path), n))
                out.append(cur)
            elif cur is None:
                raise ValueError('%s line %d: outside a structure' % (path, n))
            elif key == 'cell':
                cur.cell = [float(w) for w in words]
            elif key == 'spacegroup':
                cur.symbol = rest
            elif key == 'origin':
                cur.origin = int(words[0])
            elif key == 'shift':
                cur.shift = [float(w) for w in words]
            elif key == 'oracle':
                cur.oracle = rest
            elif key == 'site':
                occ = float(words[5]) if len(words) > 5 else 1.0
                cur.sites.append((words[0], words[1], [float(w) for w in words[2:5]], occ))
            elif key == 'end':
                cur = None
            else:
                raise ValueError('%s line %d: unknown keyword %s' % (path, n, key))
    return out


def read_dump(path):
    """title -> ('error', text) or ('ok', group line, [(label, count, [xyz...])])."""
    out = {}
    cur = None
    with open(path) as f:
        for line in f:
            line = line.rstrip('\n')
            if line.startswith('error '):
                title, _, why = line[6:].rpartition(': ')
                out[title] = ('error', why)
            elif line.startswith('structure '):
                cur = [line[10:], None, []]
            elif line.startswith('group '):
                cur[1] = line[6:]
            elif line.startswith('site '):
                label, count = line[5:].rsplit(' ', 1)
                cur[2].append((label, int(count), []))
            elif line.startswith('atom '):
                cur[2][-1][2].append([float(w) for w in line[5:].split()])
            elif line == 'end':
                out[cur[0]] = ('ok', cur[1], cur[2])
                cur = None
    return out


# ---------------------------------------------------------------------------
# Symmetry from gemmi

def gemmi_ops(name):
    """All operations (centring included) as (rotation rows, translation)."""
    if name.startswith('hall:'):
        group = gemmi.symops_from_hall(name[5:])
    else:
        sg = gemmi.find_spacegroup_by_name(name)
        if sg is None:
            return None, None
        group = sg.operations()
    den = float(gemmi.Op.DEN)
    ops = []
    for op in group:
        rot = [[v / den for v in row] for row in op.rot]
        tran = [v / den for v in op.tran]
        ops.append((rot, tran))
    return ops, group


def apply(op, p, shift):
    rot, tran = op
    q = [p[j] + shift[j] for j in range(3)]
    return [sum(rot[i][j] * q[j] for j in range(3)) + tran[i] - shift[i] for i in range(3)]


def wrap(p):
    return [v - math.floor(v) for v in p]


def cdist(a, b):
    """Largest component difference modulo 1."""
    worst = 0.0
    for x, y in zip(a, b):
        d = abs(x - y) % 1.0
        worst = max(worst, min(d, 1.0 - d))
    return worst


def orbit(ops, p, shift):
    pts = []
    for op in ops:
        q = wrap(apply(op, p, shift))
        if not any(cdist(q, r) < TOL for r in pts):
            pts.append(q)
    return pts


# ---------------------------------------------------------------------------
# Checking

def check_structure(s, dumped, failures):
    """Answers (sites, atoms) compared; appends to failures."""
    where = '%s (%s)' % (s.title, s.source)
    if s.oracle is None:
        failures.append('%s: no oracle space group given' % where)
        return 0, 0
    ops, _ = gemmi_ops(s.oracle)
    if not ops:
        failures.append('%s: gemmi does not know %r' % (where, s.oracle))
        return 0, 0
    got = dumped.get(s.title)
    if got is None:
        failures.append('%s: not in the program output' % where)
        return 0, 0
    if got[0] == 'error':
        failures.append('%s: the program could not build it: %s' % (where, got[1]))
        return 0, 0
    _, group, sites = got
    n_ops = int(group.rsplit('|', 1)[1])
    if n_ops != len(ops):
        failures.append('%s: %d operators, gemmi %d (%s)' % (where, n_ops, len(ops), group))
        return 0, 0

    # Sites that stay: no image falls on an earlier kept site of the same kind.
    # With the identity alone the program leaves the sites as they are.
    kept = []
    for label, element, xyz, occ in s.sites:
        if len(ops) == 1:
            kept.append((label, element, xyz, occ))
            continue
        images = [wrap(apply(op, xyz, s.shift)) for op in ops]
        copy = any(e == element and abs(o - occ) <= OCC_TOL and
                   any(cdist(q, wrap(x)) < TOL for q in images)
                   for _, e, x, o in kept)
        if not copy:
            kept.append((label, element, xyz, occ))
    want = [k[0] for k in kept]
    have = [k[0] for k in sites]
    if want != have:
        failures.append('%s: sites kept %s, expected %s' % (where, have, want))
        return 0, 0

    n_atoms = 0
    for (label, _, xyz, _), (_, count, atoms) in zip(kept, sites):
        expected = orbit(ops, xyz, s.shift)
        if count != len(expected) or len(atoms) != len(expected):
            failures.append('%s: site %s has %d atoms (%d listed), gemmi %d' %
                            (where, label, count, len(atoms), len(expected)))
            continue
        free = list(expected)
        for a in atoms:
            if not all(0.0 <= v < 1.0 for v in a):
                failures.append('%s: site %s atom %s outside [0, 1)' % (where, label, a))
                break
            match = next((i for i, e in enumerate(free) if cdist(a, e) < TOL), None)
            if match is None:
                failures.append('%s: site %s atom %s is no image (or a repeated one)' % (where, label, a))
                break
            free.pop(match)
        n_atoms += len(atoms)
    return len(kept), n_atoms


# ---------------------------------------------------------------------------
# The random set

# (symbol as the table names it, origin choice, gemmi name, cell kind)
RANDOM_GROUPS = [
    ('P 1', 0, 'P 1', 'tri'), ('P -1', 0, 'P -1', 'tri'), ('C -1', 0, 'hall:-C 1', 'tri'),
    ('F 1', 0, 'hall:F 1', 'tri'), ('I -1', 0, 'hall:-I 1', 'tri'), ('A 1', 0, 'hall:A 1', 'tri'),
    ('P 2', 0, 'P 1 2 1', 'monob'), ('P 21', 0, 'P 1 21 1', 'monob'), ('C 2', 0, 'C 1 2 1', 'monob'),
    ('P m', 0, 'P 1 m 1', 'monob'), ('P c', 0, 'P 1 c 1', 'monob'), ('C c', 0, 'C 1 c 1', 'monob'),
    ('P 2/m', 0, 'P 1 2/m 1', 'monob'), ('P 21/m', 0, 'P 1 21/m 1', 'monob'),
    ('C 2/m', 0, 'C 1 2/m 1', 'monob'), ('P 2/c', 0, 'P 1 2/c 1', 'monob'),
    ('P 21/c', 0, 'P 1 21/c 1', 'monob'), ('C 2/c', 0, 'C 1 2/c 1', 'monob'),
    ('P 21/n', 0, 'P 1 21/n 1', 'monob'), ('I 2/a', 0, 'I 1 2/a 1', 'monob'),
    ('A 2/m', 0, 'A 1 2/m 1', 'monob'), ('P 1 1 21/b', 0, 'P 1 1 21/b', 'monoc'),
    ('A 1 1 2/a', 0, 'A 1 1 2/a', 'monoc'), ('B 1 1 2/b', 0, 'B 1 1 2/b', 'monoc'),
    ('P 21/b 1 1', 0, 'P 21/b 1 1', 'monoa'), ('C 2/c 1 1', 0, 'C 2/c 1 1', 'monoa'),
    ('P 2 2 2', 0, 'P 2 2 2', 'orth'), ('P 2 2 21', 0, 'P 2 2 21', 'orth'),
    ('P 21 21 2', 0, 'P 21 21 2', 'orth'), ('P 21 21 21', 0, 'P 21 21 21', 'orth'),
    ('C 2 2 21', 0, 'C 2 2 21', 'orth'),
    # group 20 lists two settings under "B 2 21 2": origin choice 1 is the
    # a-cb setting of C 2 2 21, origin choice 2 the bca setting
    ('B 2 21 2', 1, 'hall:C 2c 2 (x,-z,y)', 'orth'), ('B 2 21 2', 2, 'B 2 21 2', 'orth'),
    ('C 2 2 2', 0, 'C 2 2 2', 'orth'), ('F 2 2 2', 0, 'F 2 2 2', 'orth'),
    ('I 2 2 2', 0, 'I 2 2 2', 'orth'), ('I 21 21 21', 0, 'I 21 21 21', 'orth'),
    ('P m m 2', 0, 'P m m 2', 'orth'), ('P n a 21', 0, 'P n a 21', 'orth'),
    ('A m a 2', 0, 'A m a 2', 'orth'), ('A b a 2', 0, 'A b a 2', 'orth'),
    ('F d d 2', 0, 'F d d 2', 'orth'), ('I b a 2', 0, 'I b a 2', 'orth'),
    ('P n n n', 1, 'P n n n:1', 'orth'), ('P n n n', 2, 'P n n n:2', 'orth'),
    ('P b a n', 2, 'P b a n:2', 'orth'), ('P m m n', 2, 'P m m n:2', 'orth'),
    ('P b c a', 0, 'P b c a', 'orth'), ('P c a b', 0, 'P c a b', 'orth'),
    ('P n m a', 0, 'P n m a', 'orth'), ('P b n m', 0, 'P b n m', 'orth'),
    ('C m c m', 0, 'C m c m', 'orth'), ('C m c a', 0, 'C m c a', 'orth'),
    ('C c c a', 2, 'C c c a:2', 'orth'), ('F m m m', 0, 'F m m m', 'orth'),
    ('F d d d', 1, 'F d d d:1', 'orth'), ('F d d d', 2, 'F d d d:2', 'orth'),
    ('I m m m', 0, 'I m m m', 'orth'), ('I b c a', 0, 'I b c a', 'orth'),
    ('I m m a', 0, 'I m m a', 'orth'),
    ('P 4', 0, 'P 4', 'tet'), ('P 41', 0, 'P 41', 'tet'), ('I 4', 0, 'I 4', 'tet'),
    ('I 41', 0, 'I 41', 'tet'), ('P -4', 0, 'P -4', 'tet'), ('I -4', 0, 'I -4', 'tet'),
    ('P 4/m', 0, 'P 4/m', 'tet'), ('P 42/n', 1, 'P 42/n:1', 'tet'), ('P 42/n', 2, 'P 42/n:2', 'tet'),
    ('I 41/a', 1, 'I 41/a:1', 'tet'), ('I 41/a', 2, 'I 41/a:2', 'tet'),
    ('P 4 21 2', 0, 'P 4 21 2', 'tet'), ('P 43 21 2', 0, 'P 43 21 2', 'tet'),
    ('I 41 2 2', 0, 'I 41 2 2', 'tet'), ('P 4 b m', 0, 'P 4 b m', 'tet'),
    ('I 4 c m', 0, 'I 4 c m', 'tet'), ('I 41 c d', 0, 'I 41 c d', 'tet'),
    ('P -4 21 m', 0, 'P -4 21 m', 'tet'), ('I -4 2 d', 0, 'I -4 2 d', 'tet'),
    ('P 4/m m m', 0, 'P 4/m m m', 'tet'), ('P 4/n b m', 2, 'P 4/n b m:2', 'tet'),
    ('P 42/m n m', 0, 'P 42/m n m', 'tet'), ('P 42/n c m', 1, 'P 42/n c m:1', 'tet'),
    ('I 4/m c m', 0, 'I 4/m c m', 'tet'), ('I 41/a m d', 1, 'I 41/a m d:1', 'tet'),
    ('I 41/a m d', 2, 'I 41/a m d:2', 'tet'), ('I 41/a c d', 2, 'I 41/a c d:2', 'tet'),
    ('P 3', 0, 'P 3', 'hex'), ('P 31', 0, 'P 31', 'hex'), ('R 3', 0, 'R 3:H', 'hex'),
    ('R 3', 0, 'R 3:R', 'rho'), ('P -3', 0, 'P -3', 'hex'), ('R -3', 0, 'R -3:H', 'hex'),
    ('R -3', 0, 'R -3:R', 'rho'), ('P 3 1 2', 0, 'P 3 1 2', 'hex'), ('P 32 2 1', 0, 'P 32 2 1', 'hex'),
    ('R 3 2', 0, 'R 3 2:H', 'hex'), ('P 3 m 1', 0, 'P 3 m 1', 'hex'), ('P 3 1 c', 0, 'P 3 1 c', 'hex'),
    ('R 3 m', 0, 'R 3 m:H', 'hex'), ('R 3 m', 0, 'R 3 m:R', 'rho'), ('R 3 c', 0, 'R 3 c:H', 'hex'),
    ('P -3 1 m', 0, 'P -3 1 m', 'hex'), ('P -3 c 1', 0, 'P -3 c 1', 'hex'),
    ('R -3 m', 0, 'R -3 m:H', 'hex'), ('R -3 m', 0, 'R -3 m:R', 'rho'), ('R -3 c', 0, 'R -3 c:R', 'rho'),
    ('P 6', 0, 'P 6', 'hex'), ('P 61', 0, 'P 61', 'hex'), ('P 65', 0, 'P 65', 'hex'),
    ('P 63', 0, 'P 63', 'hex'), ('P -6', 0, 'P -6', 'hex'), ('P 6/m', 0, 'P 6/m', 'hex'),
    ('P 63/m', 0, 'P 63/m', 'hex'), ('P 6 2 2', 0, 'P 6 2 2', 'hex'), ('P 64 2 2', 0, 'P 64 2 2', 'hex'),
    ('P 6 m m', 0, 'P 6 m m', 'hex'), ('P 63 c m', 0, 'P 63 c m', 'hex'), ('P -6 m 2', 0, 'P -6 m 2', 'hex'),
    ('P -6 2 c', 0, 'P -6 2 c', 'hex'), ('P 6/m m m', 0, 'P 6/m m m', 'hex'),
    ('P 63/m m c', 0, 'P 63/m m c', 'hex'),
    ('P 2 3', 0, 'P 2 3', 'cub'), ('F 2 3', 0, 'F 2 3', 'cub'), ('I 2 3', 0, 'I 2 3', 'cub'),
    ('P 21 3', 0, 'P 21 3', 'cub'), ('I 21 3', 0, 'I 21 3', 'cub'), ('P m -3', 0, 'P m -3', 'cub'),
    ('P n -3', 1, 'P n -3:1', 'cub'), ('P n -3', 2, 'P n -3:2', 'cub'), ('F m -3', 0, 'F m -3', 'cub'),
    ('F d -3', 2, 'F d -3:2', 'cub'), ('I m -3', 0, 'I m -3', 'cub'), ('P a -3', 0, 'P a -3', 'cub'),
    ('I a -3', 0, 'I a -3', 'cub'), ('P 4 3 2', 0, 'P 4 3 2', 'cub'), ('P 42 3 2', 0, 'P 42 3 2', 'cub'),
    ('F 41 3 2', 0, 'F 41 3 2', 'cub'), ('I 4 3 2', 0, 'I 4 3 2', 'cub'), ('P 43 3 2', 0, 'P 43 3 2', 'cub'),
    ('I 41 3 2', 0, 'I 41 3 2', 'cub'), ('P -4 3 m', 0, 'P -4 3 m', 'cub'), ('F -4 3 m', 0, 'F -4 3 m', 'cub'),
    ('I -4 3 d', 0, 'I -4 3 d', 'cub'), ('F -4 3 c', 0, 'F -4 3 c', 'cub'), ('P m -3 m', 0, 'P m -3 m', 'cub'),
    ('P n -3 n', 2, 'P n -3 n:2', 'cub'), ('P m -3 n', 0, 'P m -3 n', 'cub'),
    ('P n -3 m', 1, 'P n -3 m:1', 'cub'), ('F m -3 m', 0, 'F m -3 m', 'cub'),
    ('F m -3 c', 0, 'F m -3 c', 'cub'), ('F d -3 m', 1, 'F d -3 m:1', 'cub'),
    ('F d -3 m', 2, 'F d -3 m:2', 'cub'), ('F d -3 c', 2, 'F d -3 c:2', 'cub'),
    ('I m -3 m', 0, 'I m -3 m', 'cub'), ('I a -3 d', 0, 'I a -3 d', 'cub'),
]

CELLS = {
    'tri': (5.1, 6.3, 7.2, 81.0, 95.0, 103.0),
    'monob': (5.5, 6.5, 7.5, 90.0, 104.0, 90.0),
    'monoc': (5.5, 6.5, 7.5, 90.0, 90.0, 104.0),
    'monoa': (5.5, 6.5, 7.5, 104.0, 90.0, 90.0),
    'orth': (5.0, 6.0, 7.0, 90.0, 90.0, 90.0),
    'tet': (6.0, 6.0, 8.0, 90.0, 90.0, 90.0),
    'hex': (6.0, 6.0, 9.0, 90.0, 90.0, 120.0),
    'rho': (6.0, 6.0, 6.0, 75.0, 75.0, 75.0),
    'cub': (9.0, 9.0, 9.0, 90.0, 90.0, 90.0),
}

# Special forms: fixed values and the free parameters x, y, z.
SPECIAL_FORMS = [
    '0 0 0', '1/2 1/2 1/2', '0 0 1/2', '0 1/2 0', '1/2 0 0', '1/4 1/4 1/4', '1/8 1/8 1/8',
    '3/8 3/8 3/8', '0 1/4 1/8', '1/4 0 1/2', '1/3 2/3 0', '1/3 2/3 1/4', '1/3 2/3 z', '0 0 z',
    'x x x', 'x 0 0', 'x x 0', 'x 0 1/4', 'x 1/4 z', 'x y 0', 'x y 1/2', 'x y 1/4', 'x -x z',
    'x 2x z', 'x x z', '0 y z', 'x 1/4 1/8', '1/4 y 1/8', '1/4 1/4 z', 'x 1/4 1/4', '1/2 y 0',
]


def form_point(form, rng):
    x, y, z = (round(rng.uniform(0.05, 0.45), 4) for _ in range(3))
    out = []
    for part in form.split():
        if '/' in part:
            num, den = part.split('/')
            out.append(round(float(num) / float(den), 7))
        else:
            out.append({'0': 0.0, 'x': x, 'y': y, 'z': z, '-x': -x, '2x': 2 * x}[part])
    return out


def well_separated(ops, p):
    """Every two images are the same place or far apart."""
    images = [wrap(apply(op, p, [0, 0, 0])) for op in ops]
    for i in range(len(images)):
        for j in range(i + 1, len(images)):
            d = cdist(images[i], images[j])
            if 1e-6 < d < SEPARATION:
                return False
    return True


def is_general(ops, p):
    images = [wrap(apply(op, p, [0, 0, 0])) for op in ops]
    return all(cdist(images[0], q) >= SEPARATION for q in images[1:])


def write_random(path, seed):
    rng = random.Random(seed)
    lines = ['# Random general and special positions in many space groups, for',
             '# tests/oracle/unitcell_oracle.py. Written by that script with',
             '# --write-random %s --seed %d; do not edit by hand.' % (os.path.basename(path), seed),
             '# Per structure: a general site C1, two sites N1 and O1 on special',
             '# forms (general in some groups), and in every third structure a',
             '# symmetry copy C2 of C1 moved by whole cells, which the program',
             '# must remove; in every fifth, a copy C3 with another occupancy, which',
             '# stays.', '']
    for k, (symbol, origin, name, kind) in enumerate(RANDOM_GROUPS):
        ops, _ = gemmi_ops(name)
        if not ops:
            raise SystemExit('gemmi does not know %s' % name)
        while True:
            general = [round(rng.uniform(0.02, 0.98), 4) for _ in range(3)]
            if is_general(ops, general):
                break
        specials = []
        while len(specials) < 2:
            p = form_point(rng.choice(SPECIAL_FORMS), rng)
            if well_separated(ops, p):
                specials.append(p)
        lines.append('structure %03d %s%s' % (k, symbol, ' origin %d' % origin if origin else ''))
        lines.append('cell %s' % ' '.join('%g' % v for v in CELLS[kind]))
        lines.append('spacegroup %s' % symbol)
        lines.append('origin %d' % origin)
        lines.append('oracle %s' % name)
        fmt = lambda p: ' '.join('%.7g' % v for v in p)
        lines.append('site C1 C %s' % fmt(general))
        lines.append('site N1 N %s' % fmt(specials[0]))
        lines.append('site O1 O %s' % fmt(specials[1]))
        if k % 3 == 0:
            op = ops[rng.randrange(len(ops))]
            copy = [v + rng.choice((-1, 0, 1)) for v in apply(op, general, [0, 0, 0])]
            lines.append('site C2 C %s' % fmt([round(v, 7) for v in copy]))
        if k % 5 == 0:
            op = ops[rng.randrange(len(ops))]
            copy = wrap(apply(op, general, [0, 0, 0]))
            lines.append('site C3 C %s 0.5' % fmt([round(v, 7) for v in copy]))
        lines.append('end')
        lines.append('')
    # Two with an origin shift: the operators act about the shifted origin.
    for k, (symbol, name, shift) in enumerate((('P 21/c', 'P 1 21/c 1', (0.1, 0.2, 0.3)),
                                               ('F d -3 m', 'F d -3 m:1', (-0.125, -0.125, -0.125)))):
        ops, _ = gemmi_ops(name)
        lines.append('structure shift %d %s' % (k, symbol))
        lines.append('cell %s' % ' '.join('%g' % v for v in CELLS['monob' if k == 0 else 'cub']))
        lines.append('spacegroup %s' % symbol)
        lines.append('origin 0')
        lines.append('shift %g %g %g' % shift)
        lines.append('oracle %s' % name)
        lines.append('site C1 C 0.1234 0.3456 0.4321')
        lines.append('site N1 N 0 0 0')
        lines.append('site O1 O 0.125 0.125 0.125')
        lines.append('end')
        lines.append('')
    with open(path, 'w') as f:
        f.write('\n'.join(lines))


# ---------------------------------------------------------------------------

CENTRING = {'P', 'A', 'B', 'C', 'I', 'F', 'R'}


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--build-dir')
    ap.add_argument('--source-dir', default=os.path.join(os.path.dirname(__file__), '..', '..'))
    ap.add_argument('--write-random', metavar='FILE', help='write the random set and stop')
    ap.add_argument('--seed', type=int, default=2024)
    args = ap.parse_args()

    data_dir = os.path.join(args.source_dir, 'tests', 'data', 'structures')
    if args.write_random:
        write_random(args.write_random, args.seed)
        return 0
    if not args.build_dir:
        ap.error('--build-dir is required')

    structures = []
    for name in sorted(os.listdir(data_dir)):
        if name.endswith('.txt'):
            structures.extend(read_structures(os.path.join(data_dir, name)))
    titles = [s.title for s in structures]
    dup = {t for t in titles if titles.count(t) > 1}
    if dup:
        print('FAIL: titles used twice: %s' % sorted(dup))
        return 1

    exe = os.path.join(args.build_dir, 'tests', 'test_model')
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, 'cells.txt')
        env = dict(os.environ, OV_UNITCELL_DUMP_IN=data_dir, OV_UNITCELL_DUMP_OUT=out)
        run = subprocess.run([exe, '--gtest_filter=UnitCellDump.*'], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if run.returncode != 0 or not os.path.exists(out):
            print(run.stdout[-4000:])
            print('FAIL: %s exited with %d and wrote %s' % (exe, run.returncode,
                                                          'its output' if os.path.exists(out) else 'nothing'))
            return 1
        dumped = read_dump(out)

    failures = []
    n_sites = n_atoms = compared = 0
    random_numbers = set()
    systems = set()
    letters = set()
    for s in structures:
        sites, atoms = check_structure(s, dumped, failures)
        if sites:
            compared += 1
        n_sites += sites
        n_atoms += atoms
        if s.source.startswith('random_groups') and s.oracle and sites:
            _, group = gemmi_ops(s.oracle)
            sg = gemmi.find_spacegroup_by_ops(group)
            if sg is not None:
                random_numbers.add(sg.number)
                systems.add(sg.crystal_system_str())
            letters.add(s.symbol[0])
    missing = CENTRING - letters
    if len(random_numbers) < 40:
        failures.append('the random set covers only %d space groups' % len(random_numbers))
    if len(systems) < 7:
        failures.append('the random set covers only the crystal systems %s' % sorted(systems))
    if missing:
        failures.append('the random set has no %s lattice' % ', '.join(sorted(missing)))

    for f in failures:
        print('FAIL:', f)
    print('unitcell oracle: %d of %d structures compared (%d space groups, %d crystal systems in the '
          'random set), %d sites, %d atoms; %d failures' %
          (compared, len(structures), len(random_numbers), len(systems), n_sites, n_atoms, len(failures)))
    return 1 if failures or compared != len(structures) else 0


if __name__ == '__main__':
    sys.exit(main())
