#!/usr/bin/python3
"""Checks the committed space-group table against python3-spglib and python3-gemmi.

Reads EngineCode/model/SpaceGroupTable.cpp and, for every row:
  * the identity comes first, the operator count matches the list (at most
    48) and no rotation repeats;
  * the operators with the row's centring translations close under
    composition modulo lattice translations;
  * the operator set, modulo centring and lattice translations, equals the
    one python3-spglib gives for the same setting, and the full
    Hermann-Mauguin symbol (and the Schoenflies symbol where the row has one)
    agrees with spglib's.
The rows from FIRST_ADDED on (settings added after the first layout) follow
out of number order; no earlier row moves. Rows that spglib does not list are
checked another way, each a deliberate,
documented choice of the table:
  * the centred triclinic rows "A 1" ... "F -1": gemmi's Hall symbols
    "A 1" ... "-F 1";
  * the settings ba-c, a-cb and -cba of groups 17 and 20: spglib's standard
    setting transformed by the setting's axis change (and gemmi's Hall symbol
    with that change of basis);
  * settings a-cb and -cba of orthorhombic groups that spglib lists under
    the same symbol as bca and cab: mapped through the symbol.
A dozen rows are also compared with gemmi, and the origin shifts of
gOffsetSpacegroups are checked against the origin-choice pairs of the table.
Any mismatch or row that cannot be mapped is listed and fails the run.
"""

import argparse
import os
import re
import sys

import gemmi
import spglib

ROWS = 547         # with the end row
FIRST_ADDED = 529  # settings added later start here
DEN = 24  # translations in 24ths: halves, thirds, quarters, sixths, eighths

failures = []


def fail(msg):
    failures.append(msg)


# ---------------------------------------------------------------------------
# The operator code

TRANS = [0, 4, 6, 8, 12, 16, 18, 20]  # 0, 1/6, 1/4, 1/3, 1/2, 2/3, 3/4, 5/6 in 24ths
ROTS = [(1, 0, 0), (-1, 0, 0), (0, 1, 0), (0, -1, 0), (0, 0, 1), (0, 0, -1), (1, -1, 0), (-1, 1, 0)]


def decode(code):
    rot, tr = [], []
    for i in range(3):
        byte = (code >> (8 * (2 - i))) & 0xFF
        t, r = byte >> 4, byte & 0xF
        if t > 7 or r > 7:
            raise ValueError('bad digit in 0x%06x' % code)
        tr.append(TRANS[t])
        rot.extend(ROTS[r])
    return tuple(rot), tuple(tr)


def compose(a, b):
    """a after b."""
    ra, ta = a
    rb, tb = b
    rot = tuple(sum(ra[3 * i + k] * rb[3 * k + j] for k in range(3)) for i in range(3) for j in range(3))
    tr = tuple((sum(ra[3 * i + k] * tb[k] for k in range(3)) + ta[i]) % DEN for i in range(3))
    return rot, tr


CENTRING = {
    'P': [(0, 0, 0)],
    'A': [(0, 0, 0), (0, 12, 12)],
    'B': [(0, 0, 0), (12, 0, 12)],
    'C': [(0, 0, 0), (12, 12, 0)],
    'I': [(0, 0, 0), (12, 12, 12)],
    'F': [(0, 0, 0), (0, 12, 12), (12, 12, 0), (12, 0, 12)],
    'R': [(0, 0, 0), (16, 8, 8), (8, 16, 16)],
}


def expand(ops, letter):
    out = set()
    for rot, tr in ops:
        for c in CENTRING[letter]:
            out.add((rot, tuple((t + ci) % DEN for t, ci in zip(tr, c))))
    return frozenset(out)


def to24(x):
    v = round(float(x) * DEN)
    if abs(v - float(x) * DEN) > 1e-6:
        raise ValueError('translation %r is not a multiple of 1/24' % x)
    return v % DEN


def spglib_set(hall):
    d = spglib.get_symmetry_from_database(hall)
    return frozenset((tuple(int(v) for v in r.flatten()), tuple(to24(x) for x in t))
                     for r, t in zip(d['rotations'], d['translations']))


def gemmi_set(group_ops):
    out = set()
    for op in group_ops.sym_ops:
        rot = tuple(v // 24 for row in op.rot for v in row)
        for c in group_ops.cen_ops:
            out.add((rot, tuple(((t + ci) * DEN // 24) % DEN for t, ci in zip(op.tran, c))))
    return frozenset(out)


def transform(opset, cols):
    """The operators in the setting whose basis vectors are `cols` (signed
    axis names); the change matrix is orthogonal, so its inverse is its
    transpose."""
    unit = {'a': (1, 0, 0), 'b': (0, 1, 0), 'c': (0, 0, 1)}
    p = [[0] * 3 for _ in range(3)]
    for j, name in enumerate(cols):
        s = -1 if name.startswith('-') else 1
        for i in range(3):
            p[i][j] = s * unit[name[-1]][i]
    pt = [[p[j][i] for j in range(3)] for i in range(3)]
    out = set()
    for rot, tr in opset:
        w = [list(rot[0:3]), list(rot[3:6]), list(rot[6:9])]
        wp = [[sum(w[i][k] * p[k][j] for k in range(3)) for j in range(3)] for i in range(3)]
        nw = [[sum(pt[i][k] * wp[k][j] for k in range(3)) for j in range(3)] for i in range(3)]
        nt = [sum(pt[i][k] * tr[k] for k in range(3)) % DEN for i in range(3)]
        out.add((tuple(v for row in nw for v in row), tuple(nt)))
    return frozenset(out)


# ---------------------------------------------------------------------------
# Reading the table

ROW_RE = re.compile(r'^\s*/\*\s*(\d+) \*/ \{(\d+), "([^"]*)", "([^"]*)", "([^"]*)", (\d+), (\d+), '
                    r'"([^"]*)", (\d+), \{([^}]*)\}\},\s*$')
OFFSET_RE = re.compile(r'^\s*\{(\d+), "([^"]*)", \{([-0-9.]+)f, ([-0-9.]+)f, ([-0-9.]+)f\}\},\s*$')


def read_table(path):
    rows, offsets = [], []
    section = None
    with open(path) as f:
        for line in f:
            if line.startswith('const SpacegroupRecord'):
                section = 'rows'
            elif line.startswith('const SpacegroupSynonym'):
                section = 'syn'
            elif line.startswith('const OffsetSpacegroup'):
                section = 'off'
            elif section == 'rows' and '/*' in line:
                m = ROW_RE.match(line)
                if not m:
                    fail('unreadable table line: %s' % line.strip())
                    continue
                g = m.groups()
                rows.append(dict(index=int(g[0]), number=int(g[1]), schoenflies=g[2], short=g[3],
                                 full=g[4], setting=int(g[5]), origin=int(g[6]), note=g[7],
                                 count=int(g[8]),
                                 codes=[int(x, 16) for x in g[9].split(',') if x.strip()]))
            elif section == 'off' and line.strip().startswith('{'):
                m = OFFSET_RE.match(line)
                if not m:
                    fail('unreadable offset line: %s' % line.strip())
                    continue
                offsets.append((int(m.group(1)), m.group(2),
                                tuple(float(m.group(i)) for i in (3, 4, 5))))
    return rows, offsets


ORTHO_NAMES = {101: '', 102: 'ba-c', 103: 'a-cb', 104: 'bca', 105: '-cba', 106: 'cab'}
ORTHO_COLS = {101: ('a', 'b', 'c'), 102: ('b', 'a', '-c'), 103: ('a', '-c', 'b'),
              104: ('b', 'c', 'a'), 105: ('-c', 'b', 'a'), 106: ('c', 'a', 'b')}


def row_lattice(row):
    letter = row['full'][0]
    return 'P' if row['setting'] == 111 else letter


def same_symbol(ours, theirs):
    """spglib writes the newer e-glide; the table keeps the older letters."""
    theirs = theirs.replace('_', '')
    if len(ours) != len(theirs):
        return False
    return all(a == b or (b == 'e' and a in 'abc') for a, b in zip(ours, theirs))


# ---------------------------------------------------------------------------


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--build-dir', default='')
    ap.add_argument('--source-dir', default=os.path.join(os.path.dirname(__file__), '..', '..'))
    args = ap.parse_args()
    table = os.path.join(args.source_dir, 'EngineCode', 'model', 'SpaceGroupTable.cpp')
    rows, offsets = read_table(table)

    if len(rows) != ROWS:
        fail('expected %d rows, read %d' % (ROWS, len(rows)))
    if [r['index'] for r in rows] != list(range(len(rows))):
        fail('the row-index comments do not count 0, 1, 2, ...')
    by_index = {r['index']: r for r in rows}
    if not rows or rows[-1]['number'] != 231 or rows[-1]['full'] != 'END':
        fail('the last row is not the END row')
    group_rows = [r for r in rows if r['number'] <= 230]
    # the rows added later follow the first layout out of number order
    for a, b in zip(group_rows[:FIRST_ADDED], group_rows[1:FIRST_ADDED]):
        if b['number'] < a['number']:
            fail('row %d: numbers out of order' % b['index'])

    sp_types = {h: spglib.get_spacegroup_type(h) for h in range(1, 531)}
    sp_sets = {}
    checked_spglib = checked_other = 0
    expanded = {}

    for row in group_rows:
        idx = row['index']
        try:
            ops = [decode(c) for c in row['codes']]
        except ValueError as e:
            fail('row %d: %s' % (idx, e))
            continue
        if row['count'] != len(ops) or not 1 <= len(ops) <= 48:
            fail('row %d: operator count %d for %d operators' % (idx, row['count'], len(ops)))
        if row['codes'][0] != 0x000204:
            fail('row %d: the identity is not first' % idx)
        if len({o[0] for o in ops}) != len(ops):
            fail('row %d: a rotation repeats' % idx)
        letter = row_lattice(row)
        full_set = expand(ops, letter)
        expanded[idx] = full_set
        if len(full_set) != len(ops) * len(CENTRING[letter]):
            fail('row %d: centring copies coincide with listed operators' % idx)
        # closure
        closed = all(compose(a, b) in full_set for a in full_set for b in ops)
        if not closed:
            fail('row %d (%s): the operators do not close under composition' % (idx, row['full']))

        # the reference set
        number, setting, origin = row['number'], row['setting'], row['origin']
        if number <= 2 and letter != 'P':
            hall = ('-' if number == 2 else '') + letter + ' 1'
            ref = gemmi_set(gemmi.symops_from_hall(hall))
            if ref != full_set:
                fail('row %d (%s): differs from Hall symbol %s' % (idx, row['full'], hall))
            checked_other += 1
            continue
        if number in (17, 20) and setting in (102, 103, 105):
            cols = ORTHO_COLS[setting]
            base = [h for h, t in sp_types.items() if t['number'] == number and t['choice'] == '']
            ref = transform(spglib_set(base[0]), cols)
            if ref != full_set:
                fail('row %d (%s, setting %d): differs from the transformed standard setting'
                     % (idx, row['full'], setting))
            checked_other += 1
            continue
        if setting == 111:
            wanted = 'R'
        elif setting == 112:
            wanted = 'H'
        elif origin and number not in (17, 20):
            wanted = str(origin)
        else:
            wanted = ''
        cands = []
        if 101 <= setting <= 106:
            # orthorhombic settings by name first; a-cb and -cba fall back on
            # the symbol when spglib lists them under bca and cab
            name = ORTHO_NAMES[setting]
            prefix = wanted if wanted in ('1', '2') else ''
            cands = [h for h, t in sp_types.items()
                     if t['number'] == number and t['choice'] == prefix + name
                     and same_symbol(row['full'], t['international_full'])]
        for h, t in ([] if cands else sp_types.items()):
            if t['number'] != number:
                continue
            choice = t['choice']
            has_origin = choice[:1] in ('1', '2')
            if wanted in ('1', '2'):
                if not choice.startswith(wanted):
                    continue
            elif wanted in ('H', 'R'):
                if choice != wanted:
                    continue
            elif has_origin:
                continue
            if same_symbol(row['full'], t['international_full']):
                cands.append(h)
        if len(cands) != 1:
            fail('row %d (%s): %d spglib settings match its symbol' % (idx, row['full'], len(cands)))
            continue
        h = cands[0]
        if h not in sp_sets:
            sp_sets[h] = spglib_set(h)
        if sp_sets[h] != full_set:
            fail('row %d (%s): operators differ from spglib setting %d (%s)'
                 % (idx, row['full'], h, sp_types[h]['hall_symbol']))
        if row['schoenflies']:
            base, serial = sp_types[h]['schoenflies'].split('^')
            if row['schoenflies'] != '%s(%s)' % (base, serial):
                fail('row %d: Schoenflies %s, spglib %s' % (idx, row['schoenflies'],
                                                           sp_types[h]['schoenflies']))
        checked_spglib += 1

    # Schoenflies on the first row of every group
    seen = set()
    for row in group_rows:
        if row['number'] not in seen and not row['schoenflies']:
            fail('row %d: first row of group %d without Schoenflies symbol' % (row['index'],
                                                                              row['number']))
        seen.add(row['number'])
    if len(seen) != 230:
        fail('the table lists %d groups' % len(seen))

    # A dozen rows against gemmi
    spot = {80: 'P 1 21/c 1', 81: 'P 1 21/n 1', 89: 'C 1 2/c 1', 90: 'B 1 1 2/b',
            91: 'C 2/c 1 1', 227: 'P n n n:1', 228: 'P n n n:2', 431: 'R 3:H', 432: 'R 3:R',
            523: 'F d -3 m:1', 524: 'F d -3 m:2', 321: 'C c c a:1'}
    # and a few found by their symbol
    for full, name, origin in (('P 4/n 2/b 2/m', 'P 4/n b m:1', 1), ('P 63/m 2/m 2/c', 'P 63/m m c', 0),
                               ('I 41/a 2/m 2/d', 'I 41/a m d:2', 2)):
        found = [r['index'] for r in group_rows if r['full'] == full and r['origin'] == origin]
        if len(found) != 1:
            fail('no single row %s origin %d' % (full, origin))
        else:
            spot[found[0]] = name
    for idx, name in spot.items():
        sg = gemmi.find_spacegroup_by_name(name)
        if sg is None:
            fail('gemmi does not know %s' % name)
            continue
        if idx not in expanded or gemmi_set(sg.operations()) != expanded[idx]:
            fail('row %d: differs from gemmi %s' % (idx, name))
        row = by_index.get(idx)
        if row and row['short'] != sg.hm and row['full'] != sg.hm:
            fail('row %d: symbol %r, gemmi %r' % (idx, row['full'], sg.hm))
    # the derived settings of group 17, through gemmi's change of basis
    for idx, hall in ((103, 'P 2c 2 (y,x,-z)'), (104, 'P 2c 2 (x,-z,y)'), (106, 'P 2c 2 (z,y,-x)')):
        if gemmi_set(gemmi.symops_from_hall(hall)) != expanded.get(idx):
            fail('row %d: differs from gemmi Hall symbol %s' % (idx, hall))

    # Origin shifts: x(origin 2) = x(origin 1) + shift, for every pair in the table
    shifts = {}
    for number, symbol, shift in offsets:
        if number == 231:
            break
        shifts.setdefault(number, shift)
    if len(offsets) != 31 or offsets[-1][0] != 231:
        fail('gOffsetSpacegroups has %d rows or no end row' % len(offsets))
    pairs = 0
    for row in group_rows:
        if row['origin'] != 1 or row['number'] in (17, 20):
            continue
        twin = [r for r in group_rows if r['number'] == row['number'] and r['origin'] == 2
                and r['setting'] == row['setting'] and r['full'] == row['full']]
        if len(twin) != 1 or row['number'] not in shifts:
            fail('row %d: no origin-2 partner or shift' % row['index'])
            continue
        # the shift is given for the standard axes; other settings permute it
        s0 = [to24(x) for x in shifts[row['number']]]
        s = list(s0)
        if row['setting'] in ORTHO_COLS:
            moved_shift = transform([((1, 0, 0, 0, 1, 0, 0, 0, 1), tuple(s0))],
                                    ORTHO_COLS[row['setting']])
            s = list(next(iter(moved_shift))[1])
        moved = set()
        for rot, tr in expanded[row['index']]:
            ws = [sum(rot[3 * i + k] * s[k] for k in range(3)) for i in range(3)]
            moved.add((rot, tuple((tr[i] + s[i] - ws[i]) % DEN for i in range(3))))
        if frozenset(moved) != expanded[twin[0]['index']]:
            fail('group %d (setting %d): the shift does not map origin 1 onto origin 2'
                 % (row['number'], row['setting']))
        pairs += 1
    if pairs != 33:
        fail('checked %d origin pairs, expected 33' % pairs)

    print('space-group oracle: %d rows against spglib, %d rows by Hall symbol or transform, '
          '%d gemmi spot checks, %d origin pairs' % (checked_spglib, checked_other, len(spot) + 3,
                                                     pairs))
    if failures:
        for f in failures:
            print('FAIL:', f)
        print('%d failures' % len(failures))
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
