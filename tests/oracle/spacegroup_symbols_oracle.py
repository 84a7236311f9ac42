#!/usr/bin/python3
"""Checks that every space-group setting python3-spglib lists builds its own
crystal when its symbol is typed or read.

For each of spglib's 530 settings the symbols a user meets are handed to the
engine the way a typed or imported symbol goes (normalised, then resolved
when the cell is generated, with the setting's origin choice and a cell whose
angles say hexagonal or rhombohedral axes): the full Hermann-Mauguin symbol,
the short one, and, for the glide planes with two glide vectors, the older
name with a, b or c. The engine's operator list (centring translations
included) must equal spglib's operators of the setting the symbol names, and
the symbol must be recognised. A symbol that several settings share (the
short monoclinic symbols, the e names of groups 67 and 68) names the first of
them in spglib's order, which is the order of the International Tables; a
symbol given without an origin choice names the first origin. Groups with two
origins are also tried with no origin choice.

The script runs the gtest SpaceGroupsSymbolDump.* of <build-dir>/tests/
test_model with OV_SYMBOL_DUMP_IN/OUT set. Any mismatch fails the run.
"""

import argparse
import os
import subprocess
import sys
import tempfile

import spglib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from spacegroups_oracle import DEN, spglib_set  # noqa: E402  (the table oracle's helpers)


# The names of the settings of the groups with an e glide before 2002, in the
# order abc, ba-c, cab, -cba, bca, a-cb (International Tables A, 1983).
OLD_E_NAMES = {
    39: ['A b m 2', 'B m a 2', 'B 2 c m', 'C 2 m b', 'C m 2 a', 'A c 2 m'],
    41: ['A b a 2', 'B b a 2', 'B 2 c b', 'C 2 c b', 'C c 2 a', 'A c 2 a'],
    64: ['C m c a', 'C c m b', 'A b m a', 'A c a m', 'B b c m', 'B m a b'],
    67: ['C m m a', 'C m m b', 'A b m m', 'A c m m', 'B m c m', 'B m a m'],
    68: ['C c c a', 'C c c b', 'A b a a', 'A c a a', 'B b c b', 'B b a b'],
}
AXES = ['', 'ba-c', 'cab', '-cba', 'bca', 'a-cb']
ANGLES = {'H': (90, 90, 120), 'R': (70, 70, 70)}


def key(text):
    return ''.join(text.replace('_', '').split())


def settings():
    """(hall, number, origin, axes letter, names to try, names it answers to)
    for every spglib setting."""
    out = []
    for h in range(1, 531):
        t = spglib.get_spacegroup_type(h)
        choice = t['choice']
        origin = int(choice[0]) if choice[:1] in ('1', '2') else 0
        axes = choice if choice in ('H', 'R') else ''
        names = [t['international_full'].replace('_', ''), t['international_short']]
        if t['number'] in OLD_E_NAMES:
            names.append(OLD_E_NAMES[t['number']][AXES.index(choice.lstrip('12'))])
        # the short symbol read off the full one: spglib's own short symbol
        # of one setting of group 68 keeps an old glide letter ("Bbcb")
        aliases = list(names)
        if 16 <= t['number'] <= 74:
            parts = names[0].split()
            aliases.append(' '.join(parts[:1] + [p.split('/')[-1] for p in parts[1:]]))
        out.append((h, t['number'], origin, axes, names, aliases))
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--build-dir', required=True)
    ap.add_argument('--source-dir', default='')
    args = ap.parse_args()
    table = settings()

    # The queries, and the setting each one must give.
    queries = []
    for h, number, origin, axes, names, _ in table:
        origins = [origin] + ([0] if origin == 1 else [])
        for name in dict.fromkeys(names):
            for o in origins:
                named = [s for s in table if s[1] == number and s[3] == axes
                         and (o == 0 or s[2] == o) and key(name) in map(key, s[5])]
                queries.append((name, o, axes, named[0][0], h))

    exe = os.path.join(args.build_dir, 'tests', 'test_model')
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, 'symbols.txt')
        dst = os.path.join(tmp, 'operators.txt')
        with open(src, 'w') as f:
            for name, o, axes, _, _ in queries:
                a, b, c = ANGLES.get(axes, (90, 90, 90))
                f.write('%d %g %g %g %s\n' % (o, a, b, c, name))
        env = dict(os.environ, OV_SYMBOL_DUMP_IN=src, OV_SYMBOL_DUMP_OUT=dst)
        run = subprocess.run([exe, '--gtest_filter=SpaceGroupsSymbolDump.*'], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if run.returncode != 0:
            print(run.stdout)
            print('FAIL: the dump test failed')
            return 1
        with open(dst) as f:
            lines = f.read().splitlines()
    if len(lines) != len(queries):
        print('FAIL: %d answers for %d symbols' % (len(lines), len(queries)))
        return 1

    failures = []
    reached = set()
    reference = {}
    for (name, o, axes, want, h), line in zip(queries, lines):
        head, _, body = line.partition(':')
        recognised, _, count = (int(x) for x in head.split())
        ops = []
        for item in body.split(';'):
            v = [int(x) for x in item.split()]
            if v:
                ops.append((tuple(v[:9]), tuple(x % DEN for x in v[9:])))
        if want not in reference:
            reference[want] = spglib_set(want)
        label = '%r origin %d%s (spglib setting %d)' % (name, o, ' ' + axes if axes else '', want)
        if not recognised:
            failures.append('%s: not recognised' % label)
        elif len(ops) != count or len(set(ops)) != len(ops):
            failures.append('%s: %d operators listed, %d distinct' % (label, count, len(set(ops))))
        elif frozenset(ops) != reference[want]:
            failures.append('%s: operators differ from spglib\'s' % label)
        elif want == h:
            reached.add(h)
    for h, number, origin, axes, names, _ in table:
        if h not in reached:
            failures.append('spglib setting %d (%s, group %d) is reached by none of its names'
                            % (h, names[0], number))

    print('space-group symbols: %d symbols of %d spglib settings resolved' % (len(queries), len(table)))
    if failures:
        for f in failures:
            print('FAIL:', f)
        print('%d failures' % len(failures))
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
