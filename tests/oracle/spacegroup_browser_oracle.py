#!/usr/bin/python3
"""Checks every row the space-group browser lists against python3-spglib and
python3-gemmi.

The gtest ExplorerDump.SpacegroupRowsAndListings of
<build-dir>/tests/test_explorers walks the browser's three lists for each
crystal system, lattice letter and show-all state and writes, for every
listed row, what the information panel shows (number, short and full
symbol, Schoenflies symbol, multiplicity, origin choice and origin shift),
and the row's operators as the symmetry options dialog lists them to the
Log with the Alt key held (each operator followed by its centring copies).

For every row:
  * the listed operators, read by gemmi.Op, form a group setting: modulo
    whole translations they equal the full operator set of a Hall setting of
    spglib with the row's number, or failing that (settings spglib does not
    list) the one gemmi finds by the full symbol;
  * the multiplicity equals the number of those operators;
  * the full symbol equals spglib's full symbol of that setting (when spglib
    lists it), and the short symbol spglib's short symbol of the group's
    standard setting or of that setting, spaces and '_' ignored;
  * the Schoenflies symbol "D2h(13)" equals spglib's "D2h^13";
  * the number equals gemmi's for the full symbol when gemmi knows it;
  * a row of a two-origin group carries the shift s between its origins:
    gemmi's ":2" operators are its ":1" operators with t + (I - R) s.
Any mismatch fails the run.
"""

import argparse
import os
import subprocess
import sys
import tempfile
from fractions import Fraction

import gemmi
import spglib

DEN = 24


def to24(x):
    v = round(float(x) * DEN)
    if abs(v - float(x) * DEN) > 1e-6:
        raise ValueError('translation %r is not a multiple of 1/24' % x)
    return v % DEN


def card_op(text):
    fields = [text[i:i + 7].replace(' ', '') for i in (0, 9, 18)]
    op = gemmi.Op(','.join(fields))
    rot = tuple(v // 24 for row in op.rot for v in row)
    return rot, tuple(t % DEN for t in op.tran)


def spglib_set(hall):
    d = spglib.get_symmetry_from_database(hall)
    return frozenset((tuple(int(v) for v in r.flatten()), tuple(to24(x) for x in t))
                     for r, t in zip(d['rotations'], d['translations']))


def gemmi_ops(group):
    out = set()
    for op in group.operations():
        out.add((tuple(v // 24 for row in op.rot for v in row), tuple(t % DEN for t in op.tran)))
    return frozenset(out)


def shifted(opset, s):
    """The operators with t + (I - R) s, s in 24ths."""
    out = set()
    for rot, tr in opset:
        r = [rot[0:3], rot[3:6], rot[6:9]]
        out.add((rot, tuple((tr[i] + s[i] - sum(r[i][k] * s[k] for k in range(3))) % DEN for i in range(3))))
    return frozenset(out)


def plain(symbol):
    return symbol.replace(' ', '').replace('_', '')


def same_full(ours, theirs):
    """Full symbols alike, an e glide of spglib standing for either of the
    two glide letters the table writes."""
    a, b = plain(ours), plain(theirs)
    return len(a) == len(b) and all(x == y or (y == 'e' and x in 'abc') for x, y in zip(a, b))


def schoenflies(ours):
    if '(' not in ours:
        return ours
    head, tail = ours.split('(', 1)
    return head + '^' + tail.rstrip(')')


DUAL_ORIGIN = {48, 50, 59, 68, 70, 85, 86, 88, 125, 126, 129, 130, 133, 134, 137, 138, 141, 142, 201, 203, 222,
               224, 227, 228}
QUARTERS = [(a, b, c) for a in (0, 6, 12, 18) for b in (0, 6, 12, 18) for c in (0, 6, 12, 18)]


def gemmi_group(full, short, origin, number):
    """gemmi's setting of a row: by the full or the short symbol, with the
    origin choice; None when gemmi does not name it."""
    suffix = ':%d' % origin if origin else ''
    for name in (full + suffix, short + suffix):
        if not name.strip(':12'):
            continue
        g = gemmi.find_spacegroup_by_name(name)
        if g is not None and g.number == number:
            return g
    return None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--build-dir', required=True)
    ap.add_argument('--source-dir', required=True)
    args = ap.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        env = dict(os.environ, OV_EXPLORER_DUMP_OUT=tmp, QT_QPA_PLATFORM='offscreen')
        result = subprocess.run([os.path.join(args.build_dir, 'tests', 'test_explorers'),
                                 '--gtest_filter=ExplorerDump.SpacegroupRowsAndListings'], env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if result.returncode != 0 or 'SKIPPED' in result.stdout:
            sys.stdout.write(result.stdout)
            raise SystemExit('the engine dump failed')
        with open(os.path.join(tmp, 'browser.txt')) as f:
            lines = f.read().splitlines()

    rows, cards = [], {}
    for line in lines:
        parts = line.split('|')
        if parts[0] == 'row':
            rows.append(parts[1:])
        else:
            cards.setdefault(int(parts[1]), set()).add(card_op(parts[2]))

    halls = {}
    for h in range(1, 531):
        t = spglib.get_spacegroup_type(h)
        halls.setdefault(t['number'], []).append((h, t))
    failures = []
    seen = set()
    for system, show_all, letter, table_row, text, number, short, full, schoen, mult, origin, shift in rows:
        number, mult, origin, table_row = int(number), int(mult), int(origin), int(table_row)
        where = 'row %d "%s" (system %s, %s, all %s)' % (table_row, text, system, letter, show_all)
        ops = frozenset(cards[table_row])
        if mult != len(ops):
            failures.append('%s: multiplicity %d, %d operators listed' % (where, mult, len(ops)))
        standard = halls[number][0][1]
        if schoenflies(schoen) != standard['schoenflies']:
            failures.append('%s: Schoenflies %s, spglib %s' % (where, schoen, standard['schoenflies']))
        match = [t for h, t in halls[number] if spglib_set(h) == ops]
        g = gemmi_group(full, short, origin, number) if letter != 'R' else None
        if match:
            if not any(same_full(full, t['international_full']) for t in match):
                failures.append('%s: full symbol %s, spglib %s' % (where, full, match[0]['international_full']))
        elif g is not None:
            if gemmi_ops(g) != ops:
                failures.append('%s: operators differ from gemmi %s' % (where, g.xhm()))
        elif number <= 2:
            hall = ('-' if number == 2 else '') + full[0] + ' 1'
            if gemmi_ops(gemmi.SpaceGroup(hall)) != ops:
                failures.append('%s: operators differ from the Hall symbol %s' % (where, hall))
        elif not any(shifted(spglib_set(h), q) == ops for h, _ in halls[number] for q in QUARTERS):
            failures.append('%s: no spglib setting of group %d has these operators, at any origin' % (where, number))
        # The short symbol: spglib's for the standard setting, gemmi's for
        # the others.
        if short and plain(short) != plain(standard['international_short']):
            # The extra origins of groups 17 and 20 (a quarter along the
            # screw axis) are the group's setting moved by a shift.
            extra = origin and number not in DUAL_ORIGIN
            gs = gemmi_group(full, short, 0 if extra else origin, number)
            same = gs is not None and (gemmi_ops(gs) == ops or
                                       (extra and any(shifted(gemmi_ops(gs), q) == ops for q in QUARTERS)))
            if not same or plain(gs.short_name()) != plain(short):
                failures.append('%s: short symbol %s, gemmi %s' % (where, short, gs and gs.short_name()))
        if g is not None and g.number != number:
            failures.append('%s: gemmi numbers %s as %d' % (where, full, g.number))
        if origin and number in DUAL_ORIGIN and (number, origin, full) not in seen:
            seen.add((number, origin, full))
            g1 = gemmi_group(full, short, 1, number)
            g2 = gemmi_group(full, short, 2, number)
            s = [to24(Fraction(v).limit_denominator(24)) for v in shift.split()]
            if g1 is None or g2 is None:
                failures.append('%s: gemmi has no origin choices for %s' % (where, full))
            elif origin == 1 and shifted(gemmi_ops(g1), s) != gemmi_ops(g2):
                failures.append('%s: shift %s does not take origin 1 to origin 2' % (where, shift))
            elif origin == 2 and shifted(gemmi_ops(g2), s) != gemmi_ops(g1):
                failures.append('%s: shift %s does not take origin 2 to origin 1' % (where, shift))
            elif not any(float(v) for v in shift.split()):
                failures.append('%s: no origin shift shown' % where)
    if len({r[3] for r in rows}) < 500:
        failures.append('only %d table rows listed' % len({r[3] for r in rows}))
    for f in failures[:60]:
        print('FAIL', f)
    if failures:
        print('%d failure(s)' % len(failures))
        return 1
    print('space-group browser oracle: %d listed rows agree with spglib and gemmi' % len(rows))
    return 0


if __name__ == '__main__':
    sys.exit(main())
