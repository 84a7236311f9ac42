#!/usr/bin/python3
"""Checks whole structure builds against python3-gemmi and python3-ase.

For every structure of tests/data/structures (real structures typed in from
published data and the random set of general and special positions), this
script chooses a plot range and bond specifications, has the program build
the structure from its cell, space group and sites (the gtest
BuildPipelineDump.* of <build-dir>/tests/test_model, which runs the whole
build: symmetry copies removed, cell generated, coordination numbers, plot
range, bonds, polyhedra) and checks what came out:
  * the stored range is the requested one moved by whole cells;
  * one site is kept per class of symmetry-equivalent sites;
  * the plotted atoms are exactly gemmi's cell contents tiled over the range,
    an atom counting when every coordinate lies within the range, ends
    included (atoms within EDGE of a range end may go either way);
  * each site's coordination number is the number of neighbours ase's
    periodic neighbor_list finds within the bond specifications;
  * the bonds are exactly the pairs of plotted atoms that ase's neighbor_list
    finds within the specifications (pairs within LENGTH_TOL of a limit may
    go either way);
  * an atom has a polyhedron exactly when it has at least 3 bonds and at
    least its site's coordination number; its vertices are its bonded atoms
    (and the atom itself for a pyramid), and when the centre lies well
    inside the convex hull of its ligands, its vertices are the hull's
    corners and its faces the hull's facets (coplanar triangles merged).
Any mismatch, and any structure it could not compare, fails the run.

The bond specifications are made per structure from the structure itself:
for every pair of different elements (or the one element with itself) the
shortest distance d between them, with limits 0.5 d to 1.15 d. They depend
on the structure files alone, so they are kept in pipeline_bonding.json
beside this script; --write-specs remakes that file after the structures
change, and a structure it does not list has its specifications made here.
"""

import argparse
import itertools
import json
import math
import os
import subprocess
import sys
import tempfile

import numpy as np
from ase import Atoms
from ase.data import atomic_numbers, covalent_radii
from ase.neighborlist import neighbor_list

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import unitcell_oracle as uc  # noqa: E402  (structure files and gemmi symmetry)

POS_TOL = 1e-4        # fractional positions agree within this
EDGE = 2e-5           # atoms this close to a range end may be in or out
LENGTH_TOL = 1e-3     # bonds this close to a limit (Angstrom) may be made or not
OCC_TOL = 1e-4        # occupancies that agree
SELF_DIST_SQ = 0.001  # an image of the site itself closer than this is the site
SPEC_MIN = 0.5        # specification limits as fractions of the shortest distance
SPEC_MAX = 1.15
SPEC_CAP = 4.5        # pairs farther apart than this get no specification
SAME_PARTNER = 0.8    # two places of one partner lie closer than this x their covalent radii's sum
OCC_SLACK = 0.01
COPLANAR = 0.05       # hull: points this close to a facet's plane lie in it
HULL_MARGIN = 0.03    # hull facets are compared only when no point lies near the coplanar limit
CENTRE_MARGIN = 0.15  # ... and the centre lies at least this far inside every facet
OVERLAP_SQ = 0.01     # ligands closer than the root of this (Angstrom) overlap

SPECS_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'pipeline_bonding.json')

# Plot ranges for the random set, in turn; the real structures use 0 to 1.
RANGES = [
    (0.0, 1.0, 0.0, 1.0, 0.0, 1.0),
    (-0.23, 0.77, 0.11, 1.37, -0.39, 0.61),
    (0.21, 1.66, -1.13, 0.29, 0.0, 0.999),
    (-1.27, 0.31, 0.07, 0.93, 0.43, 2.18),
]


# ---------------------------------------------------------------------------
# Geometry

def cell_matrix(cell):
    """Rows a, b, c in Cartesian coordinates."""
    a, b, c, al, be, ga = cell
    al, be, ga = (math.radians(v) for v in (al, be, ga))
    ax = np.array([a, 0.0, 0.0])
    bx = np.array([b * math.cos(ga), b * math.sin(ga), 0.0])
    cx = c * math.cos(be)
    cy = c * (math.cos(al) - math.cos(be) * math.cos(ga)) / math.sin(ga)
    cz = math.sqrt(max(c * c - cx * cx - cy * cy, 0.0))
    return np.array([ax, bx, [cx, cy, cz]])


def site_classes(s, ops):
    """The kept sites: one per class of symmetry-equivalent sites of one kind,
    as (element, occupancy, orbit)."""
    classes = []
    for label, element, xyz, occ in s.sites:
        images = [uc.wrap(uc.apply(op, xyz, s.shift)) for op in ops]
        # With the identity alone the program keeps every site as it is.
        if len(ops) > 1 and any(e == element and abs(o - occ) <= OCC_TOL and any(uc.cdist(q, p) < uc.TOL for q in images)
               for e, o, orbit in classes for p in orbit):
            continue
        classes.append((element, occ, uc.orbit(ops, xyz, s.shift)))
    return classes


def cell_contents(classes):
    """Every atom of one cell: (element, occupancy, class index, position)."""
    out = []
    for k, (element, occ, orbit) in enumerate(classes):
        for p in orbit:
            out.append((element, occ, k, [v - math.floor(v) for v in p]))
    return out


def shortest_distances(contents, lattice, elements):
    """Shortest distance per unordered element pair over the periodic crystal."""
    atoms = Atoms(positions=[np.dot(p, lattice) for _, _, _, p in contents], cell=lattice, pbc=True)
    i, j, d = neighbor_list('ijd', atoms, SPEC_CAP + 0.5)
    best = {}
    for a, b, dist in zip(i, j, d):
        pair = tuple(sorted((contents[a][0], contents[b][0])))
        if dist > 1e-3 and dist < best.get(pair, 1e9):
            best[pair] = dist
    if len(elements) > 1:
        pairs = [p for p in itertools.combinations(sorted(elements), 2)]
    else:
        pairs = [(elements[0], elements[0])]
    specs = []
    for pair in pairs:
        d = best.get(pair)
        if d is not None and d <= SPEC_CAP:
            specs.append((pair[0], pair[1], round(SPEC_MIN * d, 4), round(SPEC_MAX * d, 4)))
    return specs


def normalise_range(r):
    """The range as the program stores it: each minimum moved into [0, 1)."""
    out = list(r)
    for axis in range(3):
        lo, hi = out[2 * axis], out[2 * axis + 1]
        if lo > hi:
            hi = lo + 0.1
        if lo < 0:
            shift = 1 - math.trunc(lo)
        elif lo >= 1:
            shift = -math.trunc(lo)
        else:
            shift = 0
        out[2 * axis], out[2 * axis + 1] = lo + shift, hi + shift
    return out


def edge_state(v, lo, hi):
    """1 inside, -1 outside, 0 within EDGE of an end."""
    if lo + EDGE <= v <= hi - EDGE:
        return 1
    if v < lo - EDGE or v > hi + EDGE:
        return -1
    return 0


def expected_atoms(contents, rng):
    """Atoms of the tiled cells in the range: (element, occ, class, position, sure)."""
    out = []
    for element, occ, k, p in contents:
        shifts = []
        for axis in range(3):
            lo, hi = rng[2 * axis], rng[2 * axis + 1]
            shifts.append(range(math.floor(lo - p[axis]) - 1, math.ceil(hi - p[axis]) + 2))
        for t in itertools.product(*shifts):
            q = [p[i] + t[i] for i in range(3)]
            states = [edge_state(q[i], rng[2 * i], rng[2 * i + 1]) for i in range(3)]
            if min(states) < 0:
                continue
            out.append((element, occ, k, q, min(states) == 1))
    return out


def spec_state(d, lo, hi):
    """1 bonded, -1 not, 0 within LENGTH_TOL of a limit."""
    if lo + LENGTH_TOL <= d <= hi - LENGTH_TOL:
        return 1
    if d < lo - LENGTH_TOL or d > hi + LENGTH_TOL:
        return -1
    return 0


def pair_specs(specs, ea, eb):
    return [(lo, hi) for a, b, lo, hi in specs if (a, b) in ((ea, eb), (eb, ea))]


def bond_state(d, specs, ea, eb):
    states = [spec_state(d, lo, hi) for lo, hi in pair_specs(specs, ea, eb)]
    return max(states) if states else -1


def distinct_points(points):
    """The points with those closer than OVERLAP to an earlier one left out."""
    out = []
    for p in points:
        if all(np.sum((p - q) ** 2) >= OVERLAP_SQ for q in out):
            out.append(p)
    return out


def spans_plane(points):
    """True when some three of the points are not collinear."""
    for a, b, c in itertools.combinations(points, 3):
        if np.linalg.norm(np.cross(b - a, c - a)) > 1e-6:
            return True
    return False


def hull_faces(points):
    """Facets of the convex hull as sets of point indices, coplanar points
    merged, with their planes (outward unit normal, offset); None when the
    points are flat or lie too close to the coplanar limit to decide."""
    n = len(points)
    pts = np.array(points)
    centroid = pts.mean(axis=0)
    faces = {}
    for i, j, k in itertools.combinations(range(n), 3):
        normal = np.cross(pts[j] - pts[i], pts[k] - pts[i])
        length = np.linalg.norm(normal)
        if length < 1e-6:
            continue
        normal /= length
        dist = (pts - pts[i]) @ normal
        near_face = np.all(dist <= COPLANAR + HULL_MARGIN) or np.all(dist >= -COPLANAR - HULL_MARGIN)
        if near_face and np.any((np.abs(dist) > COPLANAR - HULL_MARGIN) & (np.abs(dist) < COPLANAR + HULL_MARGIN)):
            return None, None  # too close to the coplanar limit to tell
        if not (np.all(dist <= COPLANAR) or np.all(dist >= -COPLANAR)):
            continue
        members = frozenset(int(m) for m in np.nonzero(np.abs(dist) <= COPLANAR)[0])
        if len(members) == n:
            return None, None  # flat
        if any(members <= f for f in faces):
            continue
        if normal @ (centroid - pts[i]) > 0:
            normal = -normal
        faces = {f: plane for f, plane in faces.items() if not f <= members}
        faces[members] = (normal, float(normal @ pts[i]))
    return list(faces), list(faces.values())


# ---------------------------------------------------------------------------
# The program's output

def read_dump(path):
    out = {}
    cur = None
    with open(path) as f:
        for raw in f:
            line = raw.rstrip('\n')
            if line.startswith('error '):
                title, _, why = line[6:].rpartition(': ')
                out[title] = ('error', why)
            elif line.startswith('structure '):
                cur = {'title': line[10:], 'sites': [], 'atoms': {}, 'bonds': set(), 'polys': {}, 'alerts': []}
            elif line.startswith('range '):
                cur['range'] = [float(w) for w in line.split()[1:]]
            elif line.startswith('site '):
                w = line.split()
                cur['sites'].append({'label': w[2], 'element': w[3], 'occ': float(w[4]), 'cn': int(w[5]),
                                     'xyz': [float(v) for v in w[6:9]]})
            elif line.startswith('atom '):
                w = line.split()
                cur['atoms'][int(w[1])] = (int(w[2]), [float(v) for v in w[3:6]])
            elif line.startswith('bond '):
                w = line.split()
                cur['bonds'].add((int(w[1]), int(w[2])))
            elif line.startswith('poly '):
                w = line.split()
                cur['polys'][int(w[1])] = (int(w[2]), sorted(int(v) for v in w[3:]))
            elif line.startswith('alert '):
                cur['alerts'].append(line[6:])
            elif line == 'end':
                out[cur['title']] = ('ok', cur)
                cur = None
    return out


# ---------------------------------------------------------------------------
# Checking

class Tally:
    def __init__(self):
        self.structures = self.atoms = self.bonds = self.polys = self.hulls = self.sites = 0


def check(s, plan, got, failures, tally):
    where = '%s (%s)' % (s.title, s.source)
    fail = lambda text: failures.append('%s: %s' % (where, text))
    classes, specs, requested, lattice = plan
    if got is None:
        return fail('not in the program output')
    if got[0] == 'error':
        return fail('the program could not build it: %s' % got[1])
    d = got[1]
    if d['alerts']:
        return fail('alerts: %s' % d['alerts'])

    # Range.
    rng = d['range']
    want = normalise_range(requested)
    for axis in range(3):
        moved = want[2 * axis] - requested[2 * axis]
        if (abs(rng[2 * axis] - want[2 * axis]) > 1e-5 or abs(rng[2 * axis + 1] - want[2 * axis + 1]) > 1e-5
                or abs(moved - round(moved)) > 1e-9):
            return fail('range stored as %s, expected %s' % (rng, want))

    # Sites: one per class.
    sites = d['sites']
    if len(sites) != len(classes):
        return fail('%d sites kept, %d classes of equivalent sites' % (len(sites), len(classes)))
    site_class = []
    for st in sites:
        k = next((k for k, (e, o, orbit) in enumerate(classes)
                  if k not in site_class and e == st['element'] and abs(o - st['occ']) <= OCC_TOL
                  and any(uc.cdist(uc.wrap(st['xyz']), p) < uc.TOL for p in orbit)), None)
        if k is None:
            return fail('site %s matches no class of its own' % st['label'])
        site_class.append(k)

    # Atoms in range.
    expected = expected_atoms(cell_contents(classes), rng)
    taken = np.zeros(len(expected), dtype=bool)
    by_class = {}
    for n, e in enumerate(expected):
        by_class.setdefault(e[2], []).append(n)
    by_class = {k: (np.array(ns), np.array([expected[n][3] for n in ns])) for k, ns in by_class.items()}
    atom_pos = {}
    for index, (site, xyz) in d['atoms'].items():
        if site >= len(sites):
            return fail('atom %d names site %d of %d' % (index, site, len(sites)))
        ns, qs = by_class.get(site_class[site], (np.zeros(0, dtype=int), np.zeros((0, 3))))
        close = np.nonzero((np.max(np.abs(qs - np.array(xyz)), axis=1) < POS_TOL) & ~taken[ns])[0] if len(ns) else []
        if len(close) == 0:
            return fail('plotted atom %d (%s at %s) is not in the range' % (index, sites[site]['label'], xyz))
        match = ns[close[0]]
        taken[match] = True
        atom_pos[index] = np.dot(expected[match][3], lattice)
    missing = [e for n, e in enumerate(expected) if e[4] and not taken[n]]
    if missing:
        e = missing[0]
        return fail('%d atoms of the range not plotted, e.g. %s at %s' % (len(missing), e[0], e[3]))
    tally.atoms += len(atom_pos)

    # Coordination numbers over the periodic crystal.
    contents = cell_contents(classes)
    pbc = Atoms(positions=[np.dot(p, lattice) for _, _, _, p in contents], cell=lattice, pbc=True)
    cutoff = max([hi for _, _, _, hi in specs], default=0.0) + 2 * LENGTH_TOL
    if cutoff > 0:
        ii, jj, dd = neighbor_list('ijd', pbc, cutoff)
    else:
        ii = jj = dd = np.zeros(0)
    # A partner counts once: two neighbours are places of one partner when
    # they cannot both be there, closer than SAME_PARTNER times their
    # covalent radii's sum (ase's table, Cordero et al.): two partly occupied
    # sites whose occupancies sum to at most 1, or two images of one site of
    # at most half occupancy.
    def radius(n):
        element = contents[n][0]
        return covalent_radii[atomic_numbers[element]] if element in atomic_numbers else 0.0

    # Images of one site of at most half occupancy are alternatives unless
    # an orientation the program infers keeps them together, which this
    # oracle does not work out: such pairs widen the range it accepts.
    def apart(b, c, same_site):
        (_, ob, kb, _), (_, oc, kc, _) = contents[b], contents[c]
        if kb == kc:
            return same_site and 0 < ob <= 0.5 + OCC_SLACK
        return 0 < ob < 1 and 0 < oc < 1 and ob + oc <= 1 + OCC_SLACK

    for st, k in zip(sites, site_class):
        own = next(n for n, c in enumerate(contents)
                   if c[2] == k and uc.cdist(c[3], uc.wrap(st['xyz'])) < uc.TOL)
        low = high = 0
        mine = np.nonzero(ii == own)[0] if len(ii) else []
        # Places of one partner, joined in chains: each chain after its first
        # place counts one less.
        places = [b for b, dist in zip(jj[mine] if len(mine) else [], dd[mine] if len(mine) else [])
                  if not (contents[b][2] == k and dist * dist < SELF_DIST_SQ)
                  and any(spec_state(dist, lo, hi) >= 0 for lo, hi in pair_specs(specs, st['element'], contents[b][0]))]
        def joined(same_site):
            chain = list(range(len(places)))

            def root(x):
                while chain[x] != x:
                    x = chain[x]
                return x
            count = 0
            for x, y in itertools.combinations(range(len(places)), 2):
                b, c = places[x], places[y]
                if apart(b, c, same_site) and pbc.get_distance(b, c, mic=True) < SAME_PARTNER * (radius(b) + radius(c)):
                    rx, ry = root(x), root(y)
                    if rx != ry:
                        chain[rx] = ry
                        count += 1
            return count
        low -= joined(True)
        high -= joined(False)
        for b, dist in zip(jj[mine] if len(mine) else [], dd[mine] if len(mine) else []):
            if contents[b][2] == k and dist * dist < SELF_DIST_SQ:
                continue
            for lo, hi in pair_specs(specs, st['element'], contents[b][0]):
                state = spec_state(dist, lo, hi)
                low += state == 1
                high += state >= 0
        # A pair of the same element under one specification counts once.
        if not (low <= st['cn'] <= high):
            return fail('site %s coordination %d, ase finds %d to %d' % (st['label'], st['cn'], low, high))
        tally.sites += 1

    # Bonds among the plotted atoms.
    index = sorted(atom_pos)
    bonded = {i: set() for i in index}
    for a, b in d['bonds']:
        if a not in atom_pos or b not in atom_pos:
            return fail('bond %d-%d with an atom that is not plotted' % (a, b))
        bonded[a].add(b)
        bonded[b].add(a)
    element = {i: sites[d['atoms'][i][0]]['element'] for i in index}
    if index and cutoff > 0:
        plotted = Atoms(positions=[atom_pos[i] for i in index], pbc=False)
        pi, pj, pd = neighbor_list('ijd', plotted, cutoff)
        found = set()
        for a, b, dist in zip(pi, pj, pd):
            if a >= b:
                continue
            ia, ib = index[a], index[b]
            state = bond_state(dist, specs, element[ia], element[ib])
            pair = (min(ia, ib), max(ia, ib))
            if state == 1 and pair not in d['bonds']:
                return fail('atoms %d and %d (%s-%s, %.4f A) are not bonded' % (ia, ib, element[ia], element[ib],
                                                                               dist))
            if state >= 0:
                found.add(pair)
        extra = d['bonds'] - found
        if extra:
            a, b = sorted(extra)[0]
            return fail('%d bonds no specification makes, e.g. %d-%d (%.4f A)' %
                        (len(extra), a, b, np.linalg.norm(atom_pos[a] - atom_pos[b])))
    tally.bonds += len(d['bonds'])

    # Polyhedra: a ligand bonded at several alternative places is one.
    def plotted_apart(a, b, same_site):
        sa, sb = sites[d['atoms'][a][0]], sites[d['atoms'][b][0]]
        if d['atoms'][a][0] == d['atoms'][b][0]:
            return same_site and 0 < sa['occ'] <= 0.5 + OCC_SLACK
        return 0 < sa['occ'] < 1 and 0 < sb['occ'] < 1 and sa['occ'] + sb['occ'] <= 1 + OCC_SLACK

    def partners(ligands, same_site):
        chain = list(range(len(ligands)))

        def root(x):
            while chain[x] != x:
                x = chain[x]
            return x
        count = len(ligands)
        for x, y in itertools.combinations(range(len(ligands)), 2):
            a, b = ligands[x], ligands[y]
            reach = SAME_PARTNER * sum(covalent_radii[atomic_numbers[sites[d['atoms'][j][0]]['element']]]
                                       if sites[d['atoms'][j][0]]['element'] in atomic_numbers else 0.0
                                       for j in (a, b))
            if plotted_apart(a, b, same_site) and np.linalg.norm(atom_pos[a] - atom_pos[b]) < reach:
                rx, ry = root(x), root(y)
                if rx != ry:
                    chain[rx] = ry
                    count -= 1
        return count

    for i in index:
        ligands = sorted(bonded[i])
        n = partners(ligands, False) if len(ligands) > 1 else len(ligands)
        if len(ligands) > 1 and partners(ligands, True) != n:
            continue  # whether images of one site are one ligand is not worked out here
        cn = sites[d['atoms'][i][0]]['cn']
        want_poly = n >= 3 and n >= cn
        have = d['polys'].get(i)
        if not want_poly:
            if have is not None:
                return fail('atom %d has a polyhedron with %d bonds (coordination %d)' % (i, n, cn))
            continue
        distinct = distinct_points([atom_pos[j] for j in ligands])
        if have is None:
            if not spans_plane(distinct):
                continue  # overlapping or collinear ligands make no face
            return fail('atom %d with %d of %d bonds has no polyhedron' % (i, n, cn))
        faces, vertices = have
        if not set(vertices) <= set(ligands) | {i}:
            return fail('polyhedron of atom %d has vertices %s beyond its ligands %s' % (i, vertices, ligands))
        tally.polys += 1
        if len(distinct) < len(ligands) or n < len(ligands):
            continue  # overlapping ligands, or one at several places: the program keeps one of each
        hull, planes = hull_faces([atom_pos[j] for j in ligands])
        if not hull:
            continue
        centre = atom_pos[i]
        if any(normal @ centre - offset > -CENTRE_MARGIN for normal, offset in planes):
            continue
        corners = sorted({ligands[m] for f in hull for m in f})
        if vertices != corners or faces != len(hull):
            return fail('polyhedron of atom %d: %d faces on %s, hull %d facets on %s' %
                        (i, faces, vertices, len(hull), corners))
        tally.hulls += 1
    tally.structures += 1


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--build-dir', required=True)
    ap.add_argument('--source-dir', default=os.path.join(os.path.dirname(__file__), '..', '..'))
    ap.add_argument('--write-specs', action='store_true',
                    help='remake the stored bond specifications and exit')
    args = ap.parse_args()

    data_dir = os.path.join(args.source_dir, 'tests', 'data', 'structures')
    structures = []
    for name in sorted(os.listdir(data_dir)):
        if name.endswith('.txt'):
            structures.extend(uc.read_structures(os.path.join(data_dir, name)))

    stored = {}
    if not args.write_specs and os.path.exists(SPECS_FILE):
        with open(SPECS_FILE) as f:
            stored = {title: [tuple(spec) for spec in specs] for title, specs in json.load(f).items()}
    made = {}

    failures = []
    plans = {}
    lines = []
    random_count = 0
    for s in structures:
        ops, _ = uc.gemmi_ops(s.oracle) if s.oracle else (None, None)
        if not ops:
            failures.append('%s (%s): gemmi does not know %r' % (s.title, s.source, s.oracle))
            continue
        lattice = cell_matrix(s.cell)
        classes = site_classes(s, ops)
        contents = cell_contents(classes)
        elements = sorted({e for e, _, _ in classes})
        specs = stored.get(s.title)
        if specs is None:
            specs = shortest_distances(contents, lattice, elements)
        made[s.title] = specs
        if s.source.startswith('random_groups'):
            requested = RANGES[random_count % len(RANGES)]
            random_count += 1
        else:
            requested = RANGES[0]
        plans[s.title] = (classes, specs, requested, lattice)
        lines.append('structure %s' % s.title)
        lines.append('cell %s' % ' '.join('%.9g' % v for v in s.cell))
        lines.append('spacegroup %s' % s.symbol)
        lines.append('origin %d' % s.origin)
        lines.append('shift %s' % ' '.join('%.9g' % v for v in s.shift))
        for label, element, xyz, occ in s.sites:
            lines.append('site %s %s %s %.9g' % (label, element, ' '.join('%.9g' % v for v in xyz), occ))
        lines.append('range %s' % ' '.join('%.9g' % v for v in requested))
        for a, b, lo, hi in specs:
            lines.append('bond %s %s %.9g %.9g' % (a, b, lo, hi))
        lines.append('end')

    if args.write_specs:
        with open(SPECS_FILE, 'w') as f:
            f.write('{\n' + ',\n'.join('%s: %s' % (json.dumps(t), json.dumps(made[t])) for t in sorted(made))
                    + '\n}\n')
        print('wrote the bond specifications of %d structures to %s' % (len(made), SPECS_FILE))
        return 1 if failures else 0

    exe = os.path.join(args.build_dir, 'tests', 'test_model')
    with tempfile.TemporaryDirectory() as tmp:
        source = os.path.join(tmp, 'structures.txt')
        out = os.path.join(tmp, 'built.txt')
        with open(source, 'w') as f:
            f.write('\n'.join(lines) + '\n')
        env = dict(os.environ, OV_PIPELINE_DUMP_IN=source, OV_PIPELINE_DUMP_OUT=out)
        run = subprocess.run([exe, '--gtest_filter=BuildPipelineDump.*'], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if run.returncode != 0 or not os.path.exists(out):
            print(run.stdout[-4000:])
            print('FAIL: %s exited with %d and wrote %s' % (exe, run.returncode,
                                                          'its output' if os.path.exists(out) else 'nothing'))
            return 1
        dumped = read_dump(out)

    tally = Tally()
    for s in structures:
        if s.title in plans:
            check(s, plans[s.title], dumped.get(s.title), failures, tally)
    for f in failures:
        print('FAIL:', f)
    print('pipeline oracle: %d of %d structures compared: %d sites, %d plotted atoms, %d bonds, %d polyhedra '
          '(%d against the ligands\' hull); %d failures' %
          (tally.structures, len(structures), tally.sites, tally.atoms, tally.bonds, tally.polys, tally.hulls,
           len(failures)))
    return 1 if failures or tally.structures != len(structures) else 0


if __name__ == '__main__':
    sys.exit(main())
