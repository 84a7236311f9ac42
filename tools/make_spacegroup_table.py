#!/usr/bin/python3
"""Generates the space-group table EngineCode/model/SpaceGroupTable.cpp.

The program carries the 230 space groups with their extra settings, cell
choices and origin choices as constant data, so it needs no library at run
time. This script builds that data from the Hall symbols of Debian's
python3-gemmi (operators) and the symbols of python3-spglib (full
Hermann-Mauguin and Schoenflies symbols), puts the operators of every row in
the order of the International Tables and writes the C++ source.

How to rerun (from the top of the checkout; needs python3-gemmi and
python3-spglib from Debian, nothing else):

    /usr/bin/python3 tools/make_spacegroup_table.py

It rewrites EngineCode/model/SpaceGroupTable.cpp; commit the result. With
--check it only compares the generated text with the committed file and exits
non-zero when they differ.

Row layout. Rows are ordered by number; within one number the standard row
comes first, then the other settings, cell choices and origin choices, as
`row_plan` below lays them out (529 rows); the settings of `EXTRA_ROWS`
follow them, out of number order, so that no earlier row number changes; the
end row comes last. Setting codes:
0 standard; monoclinic 10 * axis + cell choice (axis 1 = a, 2 = b, 3 = c; cell
choice 0 for the primitive groups 3, 4, 6, 10 and 11); orthorhombic 101 abc,
102 ba-c, 103 a-cb, 104 bca, 105 -cba, 106 cab; 111 an R group on rhombohedral
axes, 112 on hexagonal axes. Tetragonal rows carry 30.

Deliberate choices, each checked by tests/oracle/spacegroups_oracle.py:
  * Group 15, first unique-axis-a row: the symbol "A 2/a 1 1" is not a space
    group (an a-glide cannot lie perpendicular to a). The row is
    "C 2/c 1 1" (cell choice 1 with the other sign of the axes), which
    completes the trio "C 1 2/c 1", "B 1 1 2/b", "C 2/c 1 1"; the later
    unique-axis-a cell-choice-1 row is the standard "B 2/b 1 1".
  * Groups 17 and 20 list six settings under three symbols. The settings
    without a Hall symbol of their own (ba-c, a-cb, -cba) are the standard
    setting transformed by the setting's own axis change; their operators
    differ from those of the partner setting of the same symbol by an origin
    shift, which the origin-choice byte (1 or 2) tells apart.
  * Orthorhombic groups listed in settings 101, 103 and 105 only: settings
    a-cb and -cba carry the same symbol as bca and cab, and the row takes the
    operators of that symbol. For group 43 (F d d 2) the literal a-cb and
    -cba transforms differ from "F d 2 d" and "F 2 d d" by an origin shift;
    the symbol decides.
  * The centred triclinic rows ("A 1" ... "F -1") come from the Hall symbols
    "A 1" ... "-F 1".
  * Old glide letters ("C m c a", "C c c a", "A b m 2") are kept; the full
    symbols take spglib's axis parts with the glide letters of the short ones.

Operator order. The International Tables list the general positions of a
group by successive generators: the list starts with the identity, and each
generator g (taken in a fixed order per crystal family) appends g times every
entry already listed, again and again until its power falls back into the
list. The generators are looked up in the standard orientation (unique axis b,
hexagonal axes) and the resulting order is transformed to the row's setting.
Translations are the coset representatives of the Hall symbol brought into
[0, 1).
"""

import argparse
import os
import sys
from fractions import Fraction as Fr

import gemmi
import spglib

HERE = os.path.dirname(os.path.abspath(__file__))
OUTPUT = os.path.join(HERE, '..', 'EngineCode', 'model', 'SpaceGroupTable.cpp')

# ---------------------------------------------------------------------------
# Small exact matrix helpers (3x3 integer or Fraction matrices as tuples)


def mat(rows):
    return tuple(tuple(Fr(v) for v in r) for r in rows)


def mmul(a, b):
    return tuple(tuple(sum(a[i][k] * b[k][j] for k in range(3)) for j in range(3)) for i in range(3))


def mvec(a, v):
    return tuple(sum(a[i][k] * v[k] for k in range(3)) for i in range(3))


def minv(m):
    a, b, c = m[0]
    d, e, f = m[1]
    g, h, i = m[2]
    det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g)
    adj = ((e * i - f * h, c * h - b * i, b * f - c * e),
           (f * g - d * i, a * i - c * g, c * d - a * f),
           (d * h - e * g, b * g - a * h, a * e - b * d))
    return tuple(tuple(Fr(x) / det for x in r) for r in adj)


def frac1(v):
    return tuple(x - (x.numerator // x.denominator) for x in v)


IDENT = mat([[1, 0, 0], [0, 1, 0], [0, 0, 1]])


def rot_from_triplet(text):
    op = gemmi.Op(text)
    return mat([[x // 24 for x in r] for r in op.rot])


# Setting changes: the columns of P are the new basis vectors in the old
# basis; an operator (W, w) becomes (P^-1 W P, P^-1 w).
def basis(cols):
    unit = {'a': (1, 0, 0), 'b': (0, 1, 0), 'c': (0, 0, 1)}
    m = [[0] * 3 for _ in range(3)]
    for j, name in enumerate(cols):
        sign = -1 if name.startswith('-') else 1
        for i in range(3):
            m[i][j] = sign * unit[name[-1]][i]
    return mat(m)


ORTHO_SETTINGS = {
    101: ('abc', basis(['a', 'b', 'c'])),
    102: ('ba-c', basis(['b', 'a', '-c'])),
    103: ('a-cb', basis(['a', '-c', 'b'])),
    104: ('bca', basis(['b', 'c', 'a'])),
    105: ('-cba', basis(['-c', 'b', 'a'])),
    106: ('cab', basis(['c', 'a', 'b'])),
}
# Hexagonal (obverse) to rhombohedral axes.
P_RHOMB = mat([[Fr(2, 3), Fr(-1, 3), Fr(-1, 3)],
               [Fr(1, 3), Fr(1, 3), Fr(-2, 3)],
               [Fr(1, 3), Fr(1, 3), Fr(1, 3)]])


def setting_matrix(number, setting):
    """Maps the standard orientation to the row's (for the operator order)."""
    if setting in ORTHO_SETTINGS:
        return ORTHO_SETTINGS[setting][1]
    if 3 <= number <= 15 and 10 <= setting <= 13:
        return ORTHO_SETTINGS[104][1]  # unique axis b becomes a
    if 3 <= number <= 15 and 30 <= setting <= 33:
        return ORTHO_SETTINGS[106][1]  # unique axis b becomes c
    if setting == 111:
        return P_RHOMB
    return IDENT


# ---------------------------------------------------------------------------
# Operator sets


class Op:
    __slots__ = ('rot', 'tran')

    def __init__(self, rot, tran):
        self.rot = rot
        self.tran = frac1(tran)


def ops_from_hall(hall):
    g = gemmi.symops_from_hall(hall)
    ops = [Op(mat([[x // 24 for x in r] for r in o.rot]), tuple(Fr(x, 24) for x in o.tran))
           for o in g.sym_ops]
    cen = [frac1(tuple(Fr(x, 24) for x in c)) for c in g.cen_ops]
    return ops, cen


def transform_ops(ops, cen, p):
    pi = minv(p)
    out = [Op(mmul(mmul(pi, o.rot), p), mvec(pi, o.tran)) for o in ops]
    return out, [frac1(mvec(pi, c)) for c in cen]


def op_set_key(ops, cen):
    """The operator set modulo lattice and centring translations."""
    s = set()
    for o in ops:
        for c in cen:
            s.add((o.rot, frac1(tuple(a + b for a, b in zip(o.tran, c)))))
    return frozenset(s)


# ---------------------------------------------------------------------------
# International Tables order of the rotations

def R(text):
    return rot_from_triplet(text)


# Generator candidates per crystal family in the standard orientation; per
# slot the first alternative present in the group is used.
SLOTS = {
    'triclinic': [['-x,-y,-z']],
    'monoclinic': [['-x,y,-z', 'x,-y,z'], ['-x,-y,-z']],
    'orthorhombic': [['-x,-y,z'], ['-x,y,-z', 'x,-y,z'], ['-x,-y,-z']],
    'tetragonal': [['-x,-y,z'], ['-y,x,z', 'y,-x,-z'], ['-x,y,-z', 'x,-y,z'], ['-x,-y,-z']],
    'trigonal': [['-y,x-y,z'], ['y,x,-z', '-y,-x,-z', '-y,-x,z', 'y,x,z'], ['-x,-y,-z']],
    'hexagonal': [['-y,x-y,z'], ['-x,-y,z', 'x,y,-z'], ['y,x,-z', '-y,-x,z'], ['-x,-y,-z']],
    'cubic': [['-x,-y,z'], ['-x,y,-z'], ['z,x,y'], ['y,x,-z', 'y,x,z'], ['-x,-y,-z']],
}


def family(number):
    if number <= 2:
        return 'triclinic'
    if number <= 15:
        return 'monoclinic'
    if number <= 74:
        return 'orthorhombic'
    if number <= 142:
        return 'tetragonal'
    if number <= 167:
        return 'trigonal'
    if number <= 194:
        return 'hexagonal'
    return 'cubic'


def it_rotation_order(number, rots):
    """Orders a point group given in the standard orientation."""
    group = set(rots)
    order = [IDENT]
    for slot in SLOTS[family(number)]:
        gen = None
        for alt in slot:
            r = R(alt)
            if r in group and r not in order:
                gen = r
                break
        if gen is None:
            continue
        block = list(order)
        while True:
            block = [mmul(gen, b) for b in block]
            if block[0] in order:
                break
            order.extend(block)
    if set(order) != group or len(order) != len(group):
        raise SystemExit('group %d: generators do not give the point group' % number)
    return order


# ---------------------------------------------------------------------------
# The 24-bit operator code

TRANS = {Fr(0): 0, Fr(1, 6): 1, Fr(1, 4): 2, Fr(1, 3): 3, Fr(1, 2): 4, Fr(2, 3): 5, Fr(3, 4): 6,
         Fr(5, 6): 7}
ROTS = {(1, 0, 0): 0, (-1, 0, 0): 1, (0, 1, 0): 2, (0, -1, 0): 3, (0, 0, 1): 4, (0, 0, -1): 5,
        (1, -1, 0): 6, (-1, 1, 0): 7}


def encodable(op):
    return all(t in TRANS for t in op.tran) and all(tuple(int(x) for x in r) in ROTS for r in op.rot)


def encode(op):
    code = 0
    for i in range(3):
        byte = (TRANS[op.tran[i]] << 4) | ROTS[tuple(int(x) for x in op.rot[i])]
        code |= byte << (8 * (2 - i))
    return code


# ---------------------------------------------------------------------------
# Symbols

gemmi_rows = list(gemmi.spacegroup_table())[:530]  # the International Tables list


def gemmi_entry(number, qualifier, ext=''):
    for sg in gemmi_rows:
        e = sg.ext if sg.ext not in ('\x00', ' ') else ''
        if sg.number == number and sg.qualifier == qualifier and e == ext:
            return sg
    raise SystemExit('no gemmi entry for %d %r %r' % (number, qualifier, ext))


spglib_types = [spglib.get_spacegroup_type(h) for h in range(1, 531)]
_spglib_keys = {}


def spglib_type_for(number, key):
    """The spglib setting whose operator set equals `key`."""
    for h, t in enumerate(spglib_types, start=1):
        if t['number'] != number:
            continue
        if h not in _spglib_keys:
            d = spglib.get_symmetry_from_database(h)
            ops = []
            for rot, tr in zip(d['rotations'], d['translations']):
                ops.append(Op(mat(rot.tolist()), tuple(Fr(round(x * 24), 24) for x in tr)))
            # spglib lists centring copies as operators of their own
            _spglib_keys[h] = op_set_key(ops, [(Fr(0), Fr(0), Fr(0))])
        if _spglib_keys[h] == key:
            return t
    return None


def schoenflies_text(s):
    base, serial = s.split('^')
    return '%s(%s)' % (base, serial)


def full_from_spglib(t, short):
    full = t['international_full'].replace('_', '')
    if family(t['number']) != 'orthorhombic':
        return full
    # keep the old glide letters of the short symbol (a, b, c instead of e)
    fparts = full.split()
    sparts = short.split()
    out = [fparts[0]]
    for fp, sp in zip(fparts[1:], sparts[1:]):
        out.append(fp[:fp.index('/') + 1] + sp if '/' in fp else sp)
    return ' '.join(out)


# ---------------------------------------------------------------------------
# Row plan

MONO_P = {3, 4, 6, 10, 11}
MONO_9 = {5, 7, 9, 12, 13, 14}
ORTHO_3 = {25, 27, 32, 34, 35, 37, 42, 43, 44, 45, 49, 55, 56, 58, 65, 66, 72}
ORTHO_6 = {26, 28, 29, 30, 31, 33, 36, 38, 39, 40, 41, 46, 51, 52, 53, 54, 57, 60, 62, 63, 64, 67,
           74}
DUAL_0 = {48, 70, 201, 203, 222, 224, 227, 228}
DUAL_TET = {85, 86, 88, 125, 126, 129, 130, 133, 134, 137, 138, 141, 142}
R_GROUPS = {146, 148, 155, 160, 161, 166, 167}
QUAL = {101: '', 102: 'ba-c', 103: 'a-cb', 104: 'bca', 105: '-cba', 106: 'cab'}
MONO_QUAL = {21: 'b1', 22: 'b2', 23: 'b3', 31: 'c1', 32: 'c2', 33: 'c3', 11: 'a1', 12: 'a2',
             13: 'a3'}
# Settings a-cb and -cba share their symbol with bca and cab.
SAME_SYMBOL = {103: 104, 105: 106}


def row_plan():
    """(number, setting, origin, source) for every group row, in table order.

    source: ('hall', hall, short) | ('gemmi', qualifier, ext) |
            ('derived', setting, partner qualifier) for a transform of the
            standard setting that takes its symbols from the partner setting.
    """
    rows = []
    for n in range(1, 231):
        if n in (1, 2):
            for lat in 'PABCIF':
                bar = '-' if n == 2 else ''
                rows.append((n, 0, 0, ('hall', bar + lat + ' 1', '%s %s1' % (lat, bar))))
        elif n in MONO_P:
            for s, q in ((20, 'b'), (30, 'c'), (10, 'a')):
                rows.append((n, s, 0, ('gemmi', q, '')))
        elif n in MONO_9 or n == 8:
            for s in (21, 22, 23, 31, 32, 33, 11, 12, 13):
                if n == 8 and s == 11:
                    continue
                rows.append((n, s, 0, ('gemmi', MONO_QUAL[s], '')))
        elif n == 15:
            for s, q in ((21, 'b1'), (31, '-c1'), (11, '-a1'), (22, 'b2'), (23, 'b3'), (23, '-b3'),
                         (31, 'c1'), (32, 'c2'), (33, 'c3'), (11, 'a1'), (12, 'a2'), (13, 'a3')):
                rows.append((n, s, 0, ('gemmi', q, '')))
        elif n in (17, 20):
            for s, o in ((101, 1), (102, 2), (103, 1), (104, 2), (105, 1), (106, 2)):
                partner = {102: '', 103: 'bca', 105: 'cab'}.get(s)
                src = ('gemmi', QUAL[s], '') if partner is None else ('derived', s, partner)
                rows.append((n, s, o, src))
        elif n == 18:
            for s in (101, 104, 105):
                rows.append((n, s, 0, ('gemmi', QUAL[SAME_SYMBOL.get(s, s)], '')))
        elif n == 21:
            for q in ('', 'cab', 'bca'):
                rows.append((n, 0, 0, ('gemmi', q, '')))
        elif n in ORTHO_3:
            for s in (101, 103, 105):
                rows.append((n, s, 0, ('gemmi', QUAL[SAME_SYMBOL.get(s, s)], '')))
        elif n in ORTHO_6:
            for s in (101, 102, 103, 104, 105, 106):
                rows.append((n, s, 0, ('gemmi', QUAL[s], '')))
        elif n in DUAL_0:
            for o in (1, 2):
                rows.append((n, 0, o, ('gemmi', '', str(o))))
        elif n in (50, 59):
            for s in (101, 103, 105):
                for o in (1, 2):
                    rows.append((n, s, o, ('gemmi', QUAL[SAME_SYMBOL.get(s, s)], str(o))))
        elif n == 61:
            for s in (101, 102):
                rows.append((n, s, 0, ('gemmi', QUAL[s], '')))
        elif n == 68:
            for s in (101, 102, 103, 104, 105, 106):
                for o in (1, 2):
                    rows.append((n, s, o, ('gemmi', QUAL[s], str(o))))
        elif 75 <= n <= 142:
            if n in DUAL_TET:
                for o in (1, 2):
                    rows.append((n, 30, o, ('gemmi', '', str(o))))
            else:
                rows.append((n, 30, 0, ('gemmi', '', '')))
        elif n in R_GROUPS:
            rows.append((n, 112, 0, ('gemmi', '', 'H')))
            rows.append((n, 111, 0, ('gemmi', '', 'R')))
        else:
            rows.append((n, 0, 0, ('gemmi', '', '')))
    return rows


# Settings a user can meet that the first layout of the table had no row for:
# the unique-axis-a cell choice 1 of group 8, the cell choices with the other
# sign of the axes of groups 9 and 15, and the ba-c setting of group 73. They
# follow the first 529 rows, so that no row number that a file may have
# stored changes; the setting codes are those of the same axis and cell
# choice.
EXTRA_ROWS = [
    (8, 11, 0, ('gemmi', 'a1', '')),
    (9, 21, 0, ('gemmi', '-b1', '')), (9, 22, 0, ('gemmi', '-b2', '')),
    (9, 23, 0, ('gemmi', '-b3', '')), (9, 31, 0, ('gemmi', '-c1', '')),
    (9, 32, 0, ('gemmi', '-c2', '')), (9, 33, 0, ('gemmi', '-c3', '')),
    (9, 11, 0, ('gemmi', '-a1', '')), (9, 12, 0, ('gemmi', '-a2', '')),
    (9, 13, 0, ('gemmi', '-a3', '')),
    (15, 21, 0, ('gemmi', '-b1', '')), (15, 22, 0, ('gemmi', '-b2', '')),
    (15, 32, 0, ('gemmi', '-c2', '')), (15, 33, 0, ('gemmi', '-c3', '')),
    (15, 12, 0, ('gemmi', '-a2', '')), (15, 13, 0, ('gemmi', '-a3', '')),
    (73, 102, 0, ('gemmi', 'ba-c', '')),
]
FIRST_LAYOUT_ROWS = 529


# ---------------------------------------------------------------------------
# Origin-site text: the site symmetry at the origin of a dual-origin row


def site_rotations(ops, cen):
    """Rotations of the operators that leave the origin in place."""
    out = []
    for o in ops:
        for c in cen:
            t = frac1(tuple(a + b for a, b in zip(o.tran, c)))
            if all(x == 0 for x in t):
                out.append(o.rot)
                break
    return out


INVERSION = mat([[-1, 0, 0], [0, -1, 0], [0, 0, -1]])


def order_of(r):
    k, m = 1, r
    while m != IDENT:
        m = mmul(m, r)
        k += 1
    return k


def axis_part(rots, d):
    """The symbol part of a site group along the direction d."""
    d = tuple(Fr(x) for x in d)
    neg = tuple(-x for x in d)
    # highest proper rotation about d
    n = max([order_of(r) for r in rots if det(r) == 1 and r != IDENT and mvec(r, d) == d] + [1])
    improper = [r for r in rots if det(r) == -1 and r != INVERSION]
    mirror = any(mvec(r, d) == neg and order_of(r) == 2 for r in improper)
    minus4 = any(mvec(r, d) == neg and order_of(r) == 4 for r in improper)
    if n > 1 and n % 2 == 0 and mirror:
        return '%d/m' % n
    if n == 3 and INVERSION in rots:
        return '-3'
    if minus4 and n == 2:
        return '-4'
    if n > 1:
        return str(n)
    if mirror:
        return 'm'
    return '.'


def det(m):
    return (m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
            m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
            m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]))


def trace(m):
    return m[0][0] + m[1][1] + m[2][2]


SITE_DIRECTIONS = {
    'orthorhombic': [[(1, 0, 0)], [(0, 1, 0)], [(0, 0, 1)]],
    'tetragonal': [[(0, 0, 1)], [(1, 0, 0), (0, 1, 0)], [(1, 1, 0), (1, -1, 0)]],
    'cubic': [[(0, 0, 1), (1, 0, 0), (0, 1, 0)],
              [(1, 1, 1), (1, -1, -1), (-1, 1, -1), (-1, -1, 1)],
              [(1, -1, 0), (1, 1, 0), (0, 1, -1), (0, 1, 1), (1, 0, -1), (1, 0, 1)]],
}


def origin_site_text(number, origin, ops, cen):
    rots = site_rotations(ops, cen)
    if len(rots) == 2 and det(rots[1]) == -1 and trace(rots[1]) == -3:
        return '-1'
    parts = []
    for dirs in SITE_DIRECTIONS[family(number)]:
        best = '.'
        for d in dirs:
            p = axis_part(rots, d)
            if p != '.':
                best = p
                break
        parts.append(best)
    # short symbols: secondary parts drop their rotation ("2/m" -> "m"), and
    # so does the first part of a cubic symbol
    for i, p in enumerate(parts):
        if '/' in p and (i > 0 or family(number) == 'cubic') and len(rots) > 4:
            parts[i] = 'm'
    parts = [p for p in parts if p != '.']
    if origin == 1:
        return ' '.join(parts)
    return 'centre (%s)' % ''.join(parts)


def axis_label(ops, cen):
    """For the paired settings of groups 17 and 20: per axis "21" for a screw
    axis, "2" for a two-fold axis through the origin, "1" otherwise."""
    labels = []
    for axis in range(3):
        for o in ops:
            if o.rot[axis][axis] == 1 and trace(o.rot) == -1:
                reps = [frac1(tuple(a + b for a, b in zip(o.tran, c))) for c in cen]
                if all(t[axis] != 0 for t in reps):
                    labels.append('21')
                elif any(all(x == 0 for x in t) for t in reps):
                    labels.append('2')
                else:
                    labels.append('1')
    return ' '.join(labels)


# ---------------------------------------------------------------------------
# Building the rows


def build_rows():
    out = []
    seen_schoenflies = set()
    for number, setting, origin, src in row_plan() + EXTRA_ROWS:
        kind = src[0]
        if kind == 'hall':
            ops, cen = ops_from_hall(src[1])
            short = full = src[2]
            sgt = spglib_type_for(number, op_set_key(ops, cen)) if src[2][0] == 'P' else None
            if src[2][0] == 'P' and sgt is None:
                raise SystemExit('no spglib setting for %s' % src[2])
            schoen = schoenflies_text(sgt['schoenflies']) if sgt else ''
        else:
            if kind == 'gemmi':
                entry = gemmi_entry(number, src[1], src[2])
                ops, cen = ops_from_hall(entry.hall)
                key = op_set_key(ops, cen)
            else:
                # the standard setting transformed; symbols of the partner
                # setting that shares the symbol
                base_ops, base_cen = ops_from_hall(gemmi_entry(number, '', '').hall)
                ops, cen = transform_ops(base_ops, base_cen, ORTHO_SETTINGS[src[1]][1])
                entry = gemmi_entry(number, src[2], '')
                key = op_set_key(*ops_from_hall(entry.hall))
            full_hm = entry.hm
            sgt = spglib_type_for(number, key)
            if sgt is None:
                raise SystemExit('no spglib setting for row %d %s' % (len(out), full_hm))
            schoen = schoenflies_text(sgt['schoenflies'])
            if family(number) == 'monoclinic':
                full = full_hm
                parts = full_hm.split()
                short = '%s %s' % (parts[0], parts[2]) if setting // 10 == 2 else ''
            else:
                short = full_hm
                full = full_from_spglib(sgt, short)
        # Schoenflies only on the first row of a group, and on both R rows
        if number in seen_schoenflies and setting != 111:
            schoen = ''
        seen_schoenflies.add(number)

        # operators in International Tables order
        p = setting_matrix(number, setting)
        pi = minv(p)
        rots_row = [o.rot for o in ops]
        std = [mmul(mmul(p, r), pi) for r in rots_row]
        order = [mmul(mmul(pi, r), p) for r in it_rotation_order(number, std)]
        if set(order) != set(rots_row):
            raise SystemExit('row %d: order does not match the rotations' % len(out))
        by_rot = {o.rot: o for o in ops}
        coded = []
        for r in order:
            o = by_rot[r]
            if not encodable(o):
                for c in cen:
                    alt = Op(o.rot, tuple(a + b for a, b in zip(o.tran, c)))
                    if encodable(alt):
                        o = alt
                        break
            if not encodable(o):
                raise SystemExit('row %d: operator cannot be coded' % len(out))
            coded.append(encode(o))

        if number in (17, 20):
            note = axis_label(ops, cen)
        elif origin:
            note = origin_site_text(number, origin, ops, cen)
        else:
            note = ''
        row = dict(number=number, schoenflies=schoen, short=short, full=full, setting=setting,
                   origin=origin, note=note, ops=coded)
        for field, size in (('schoenflies', 8), ('short', 11), ('full', 17), ('note', 13)):
            if len(row[field]) >= size:
                raise SystemExit('row %d: %s %r too long' % (len(out), field, row[field]))
        if len(coded) > 48 or coded[0] != 0x000204:
            raise SystemExit('row %d: bad operator list' % len(out))
        out.append(row)
    return out


# ---------------------------------------------------------------------------
# Companion tables

SYNONYMS = [
    (156, 'P 3 m 1', 'P 3 m'), (158, 'P 3 c 1', 'P 3 c'), (164, 'P -3 m 1', 'P -3 m'),
    (165, 'P -3 c 1', 'P -3 c'), (200, 'P m -3', 'P m 3'), (201, 'P n -3', 'P n 3'),
    (202, 'F m -3', 'F m 3'), (203, 'F d -3', 'F d 3'), (204, 'I m -3', 'I m 3'),
    (205, 'P a -3', 'P a 3'), (206, 'I a -3', 'I a 3'), (221, 'P m -3 m', 'P m 3 m'),
    (222, 'P n -3 n', 'P n 3 n'), (223, 'P m -3 n', 'P m 3 n'), (224, 'P n -3 m', 'P n 3 m'),
    (225, 'F m -3 m', 'F m 3 m'), (226, 'F m -3 c', 'F m 3 c'), (227, 'F d -3 m', 'F d 3 m'),
    (228, 'F d -3 c', 'F d 3 c'), (229, 'I m -3 m', 'I m 3 m'), (230, 'I a -3 d', 'I a 3 d'),
] + [
    # The glide planes with two glide vectors are named e since the 2002
    # International Tables; the rows keep the older letters. Where one e name
    # stands for two settings (groups 67 and 68), it takes the first in the
    # order abc, ba-c, cab, -cba, bca, a-cb.
    (39, 'A b m 2', 'A e m 2'), (39, 'B m a 2', 'B m e 2'), (39, 'B 2 c m', 'B 2 e m'),
    (39, 'C 2 m b', 'C 2 m e'), (39, 'C m 2 a', 'C m 2 e'), (39, 'A c 2 m', 'A e 2 m'),
    (41, 'A b a 2', 'A e a 2'), (41, 'B b a 2', 'B b e 2'), (41, 'B 2 c b', 'B 2 e b'),
    (41, 'C 2 c b', 'C 2 c e'), (41, 'C c 2 a', 'C c 2 e'), (41, 'A c 2 a', 'A e 2 a'),
    (64, 'C m c a', 'C m c e'), (64, 'C 2/m 2/c 21/a', 'C 2/m 2/c 21/e'),
    (64, 'C c m b', 'C c m e'), (64, 'C 2/c 2/m 21/b', 'C 2/c 2/m 21/e'),
    (64, 'A b m a', 'A e m a'), (64, 'A 21/b 2/m 2/a', 'A 21/e 2/m 2/a'),
    (64, 'A c a m', 'A e a m'), (64, 'A 21/c 2/a 2/m', 'A 21/e 2/a 2/m'),
    (64, 'B b c m', 'B b e m'), (64, 'B 2/b 21/c 2/m', 'B 2/b 21/e 2/m'),
    (64, 'B m a b', 'B m e b'), (64, 'B 2/m 21/a 2/b', 'B 2/m 21/e 2/b'),
    (67, 'C m m a', 'C m m e'), (67, 'C 2/m 2/m 2/a', 'C 2/m 2/m 2/e'),
    (67, 'A b m m', 'A e m m'), (67, 'A 2/b 2/m 2/m', 'A 2/e 2/m 2/m'),
    (67, 'B m c m', 'B m e m'), (67, 'B 2/m 2/c 2/m', 'B 2/m 2/e 2/m'),
    (68, 'C c c a', 'C c c e'), (68, 'C 2/c 2/c 2/a', 'C 2/c 2/c 2/e'),
    (68, 'A b a a', 'A e a a'), (68, 'A 2/b 2/a 2/a', 'A 2/e 2/a 2/a'),
    (68, 'B b c b', 'B b e b'), (68, 'B 2/b 2/c 2/b', 'B 2/b 2/e 2/b'),
] + [
    # Spellings of other programs' files: the rhombohedral groups on
    # hexagonal axes under the lattice letter H (macromolecular files write
    # "H 3" and "H 3 2"), and "I b 3", an older name of I a -3.
    (146, 'R 3', 'H 3'), (148, 'R -3', 'H -3'), (155, 'R 3 2', 'H 3 2'), (160, 'R 3 m', 'H 3 m'),
    (161, 'R 3 c', 'H 3 c'), (166, 'R -3 m', 'H -3 m'), (167, 'R -3 c', 'H -3 c'),
    (206, 'I a -3', 'I b 3'),
    (231, 'END', 'END'),
]


def check_synonyms(rows):
    """Every synonym names a symbol that a row of its number carries."""
    for number, symbol, synonym in SYNONYMS[:-1]:
        if not any(r['number'] == number and symbol in (r['short'], r['full']) for r in rows):
            raise SystemExit('synonym %r: no row of group %d is %r' % (synonym, number, symbol))
        if max(len(symbol), len(synonym)) >= 17:
            raise SystemExit('synonym %r too long' % synonym)

OFFSETS = [
    (48, 'P n n n', (0.25, 0.25, 0.25)), (50, 'P b a n', (0.25, 0.25, 0)),
    (59, 'P m m n', (0.25, 0.25, 0)), (68, 'C c c a', (0, 0.25, 0.25)),
    (70, 'F d d d', (-0.125, -0.125, -0.125)), (85, 'P 4/n', (-0.25, 0.25, 0)),
    (86, 'P 42/n', (-0.25, -0.25, -0.25)), (88, 'I 41/a', (0, -0.25, -0.125)),
    (125, 'P 4/n b m', (-0.25, -0.25, 0)), (126, 'P 4/n n c', (-0.25, -0.25, -0.25)),
    (129, 'P 4/n m m', (-0.25, 0.25, 0)), (130, 'P 4/n c c', (-0.25, 0.25, 0)),
    (133, 'P 42/n b c', (-0.25, 0.25, -0.25)), (134, 'P 42/n n m', (-0.25, 0.25, -0.25)),
    (137, 'P 42/n m c', (-0.25, 0.25, -0.25)), (138, 'P 42/n c m', (-0.25, 0.25, -0.25)),
    (141, 'I 41/a m d', (0, 0.25, -0.125)), (142, 'I 41/a c d', (0, 0.25, -0.125)),
    (201, 'P n -3', (-0.25, -0.25, -0.25)), (201, 'P n 3', (-0.25, -0.25, -0.25)),
    (203, 'F d -3', (-0.125, -0.125, -0.125)), (203, 'F d 3', (-0.125, -0.125, -0.125)),
    (222, 'P n -3 n', (-0.25, -0.25, -0.25)), (222, 'P n 3 n', (-0.25, -0.25, -0.25)),
    (224, 'P n -3 m', (-0.25, -0.25, -0.25)), (224, 'P n 3 m', (-0.25, -0.25, -0.25)),
    (227, 'F d -3 m', (-0.125, -0.125, -0.125)), (227, 'F d 3 m', (-0.125, -0.125, -0.125)),
    (228, 'F d -3 c', (-0.375, -0.375, -0.375)), (228, 'F d 3 c', (-0.375, -0.375, -0.375)),
    (231, 'END', (0, 0, 0)),
]


def check_offsets():
    """x(origin 2) = x(origin 1) + shift for every listed group."""
    for number, _, shift in OFFSETS[:-1]:
        o1, c1 = ops_from_hall(gemmi_entry(number, '', '1').hall)
        o2, c2 = ops_from_hall(gemmi_entry(number, '', '2').hall)
        s = tuple(Fr(x).limit_denominator(64) for x in shift)
        moved = [Op(o.rot, tuple(t + si - ws for t, si, ws in zip(o.tran, s, mvec(o.rot, s))))
                 for o in o1]
        if op_set_key(moved, c1) != op_set_key(o2, c2):
            raise SystemExit('origin shift of group %d does not map origin 1 onto origin 2' % number)


# ---------------------------------------------------------------------------
# Output

def c_string(s):
    return '"%s"' % s


def render(rows):
    lines = []
    w = lines.append
    w('// The space-group table: the 230 space groups with their extra settings,')
    w('// cell choices and origin choices, the older spellings of symbols and the')
    w('// groups with two origins.')
    w('//')
    w('// GENERATED by tools/make_spacegroup_table.py from the Hall symbols of')
    w('// python3-gemmi and the symbols of python3-spglib; do not edit by hand, rerun')
    w('// the script (see its header) and commit the result.')
    w('//')
    w('// Row fields: number, Schoenflies, short symbol, full symbol, setting, origin')
    w('// choice, origin-site or axis note, operator count, operators as 24-bit codes')
    w('// in the order of the International Tables, the identity first. Rows %d on' % FIRST_LAYOUT_ROWS)
    w('// are settings added later, out of number order, so that no row number changes.')
    w('#include "SpaceGroupTable.h"')
    w('')
    w('// clang-format off')
    w('const SpacegroupRecord gSpacegroups[kNumSpacegroupRows] = {')
    for i, r in enumerate(rows):
        ops = ', '.join('0x%06x' % c for c in r['ops'])
        w('  /* %3d */ {%d, %s, %s, %s, %d, %d, %s, %d, {%s}},' % (
            i, r['number'], c_string(r['schoenflies']), c_string(r['short']), c_string(r['full']),
            r['setting'], r['origin'], c_string(r['note']), len(r['ops']), ops))
    w('  /* %3d */ {231, "END", "END", "END", 0, 0, "END-OF-ARRAY", 1, {0x000000}},' % len(rows))
    w('};')
    w('')
    w('const SpacegroupSynonym spgrSynonyms[kNumSpacegroupSynonyms] = {')
    for n, sym, syn in SYNONYMS:
        w('  {%d, "%s", "%s"},' % (n, sym, syn))
    w('};')
    w('')
    w('const OffsetSpacegroup gOffsetSpacegroups[kNumOffsetSpacegroups] = {')
    for n, sym, shift in OFFSETS:
        w('  {%d, "%s", {%sf, %sf, %sf}},' % ((n, sym) + tuple(repr(float(x)) for x in shift)))
    w('};')
    w('// clang-format on')
    w('')
    return '\n'.join(lines)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--check', action='store_true', help='compare with the committed file only')
    ap.add_argument('--output', default=OUTPUT)
    args = ap.parse_args()
    rows = build_rows()
    if len(rows) != FIRST_LAYOUT_ROWS + len(EXTRA_ROWS):
        raise SystemExit('expected %d group rows, made %d'
                         % (FIRST_LAYOUT_ROWS + len(EXTRA_ROWS), len(rows)))
    check_synonyms(rows)
    check_offsets()
    text = render(rows)
    if args.check:
        with open(args.output) as f:
            if f.read() != text:
                print('SpaceGroupTable.cpp is out of date', file=sys.stderr)
                return 1
        return 0
    with open(args.output, 'w') as f:
        f.write(text)
    print('wrote %d rows to %s' % (len(rows) + 1, os.path.normpath(args.output)))
    return 0


if __name__ == '__main__':
    sys.exit(main())
