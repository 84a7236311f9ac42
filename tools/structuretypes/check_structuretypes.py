#!/usr/bin/python3
"""Lists each site's neighbour shells in the structure-type table's CIFs, as
gemmi expands them, and checks the `# expect` lines against them.

    /usr/bin/python3 tools/structuretypes/check_structuretypes.py [--reach 4.0] [FILE.cif ...]

Without files it reads every CIF of tests/data/structuretypes. For each site it
prints the sorted distances (A) to every neighbour within the reach, as
"count x element distance" groups. For each `# expect LABEL N` line it prints
the N-th and (N+1)-th distance and their ratio, counting all neighbours and
counting only neighbours of another element: an expected count that ends
inside a shell (both ratios below 1.03) is flagged "INSIDE A SHELL", a label
that names no site "NO SITE", and a site without an expect line "NO EXPECT".
The exit status is 1 when anything is flagged. A flag is a prompt to look at
the shells, not a verdict: a textbook count may end at a gap that only the
bonded elements show.
"""
import argparse
import pathlib
import re
import sys

import gemmi

TABLE = pathlib.Path(__file__).resolve().parents[2] / "tests" / "data" / "structuretypes"
GAP = 1.03


def neighbours(st, images, site, reach):
    """Sorted (distance, element, label) of every image within the reach,
    over gemmi's expansion of the cell's sites."""
    out = []
    cell = st.cell
    here = cell.orthogonalize(site.fract)
    span = [int(reach / cell.a) + 2, int(reach / cell.b) + 2, int(reach / cell.c) + 2]
    for other in images:
        for i in range(-span[0], span[0] + 1):
            for j in range(-span[1], span[1] + 1):
                for k in range(-span[2], span[2] + 1):
                    f = other.fract
                    p = cell.orthogonalize(gemmi.Fractional(f.x + i, f.y + j, f.z + k))
                    d = p.dist(here)
                    if 0.1 < d <= reach:
                        out.append((round(d, 3), other.element.name, other.label))
    return sorted(out)


def describe(t):
    last, nxt, r = t
    if last is None:
        return "-"
    if nxt is None:
        return f"{last:.3f} -> beyond reach"
    return f"{last:.3f} -> {nxt:.3f} ({r:.3f})"


def shells(near):
    groups = []
    for d, el, _ in near:
        if groups and groups[-1][1] == el and abs(groups[-1][2] - d) < 0.005:
            groups[-1][0] += 1
        else:
            groups.append([1, el, d])
    return "  ".join(f"{n}x{el} {d:.3f}" for n, el, d in groups)


def ratio(dists, n):
    if n <= 0 or n > len(dists):
        return None, None, None
    last = dists[n - 1]
    nxt = dists[n] if n < len(dists) else None
    return last, nxt, (nxt / last if nxt else None)


def check(path, reach):
    text = path.read_text()
    expects = [(m.group(1), int(m.group(2))) for m in re.finditer(r"^# expect (\S+) (\d+)\s*$", text, re.M)]
    st = gemmi.read_small_structure(str(path))
    images = st.get_all_unit_cell_sites()
    print(f"== {path.name}  {st.cell}  {st.spacegroup_hm}")
    flagged = False
    bylabel = {s.label: s for s in st.sites}
    for s in st.sites:
        near = neighbours(st, images, s, reach)
        print(f"  {s.label:6s} {shells(near)}")
    named = {label for label, _ in expects}
    for s in st.sites:
        if s.label not in named:
            print(f"  NO EXPECT {s.label}")
            flagged = True
    for label, n in expects:
        site = bylabel.get(label)
        if site is None:
            print(f"  NO SITE {label}")
            flagged = True
            continue
        near = neighbours(st, images, site, reach)
        el = site.element.name
        every = [d for d, _, _ in near]
        other = [d for d, e, _ in near if e != el]
        a = ratio(every, n)
        b = ratio(other, n)
        inside = all(r is not None and r < GAP for r in (a[2], b[2]))
        short = a[0] is None
        tag = "  INSIDE A SHELL" if inside else ("  FEWER NEIGHBOURS THAN EXPECTED" if short else "")
        print(f"  expect {label} {n}: all {describe(a)}  unlike {describe(b)}{tag}")
        flagged = flagged or inside or short
    return flagged


def main():
    p = argparse.ArgumentParser()
    p.add_argument("files", nargs="*", type=pathlib.Path)
    p.add_argument("--reach", type=float, default=4.0)
    args = p.parse_args()
    files = args.files or sorted(TABLE.glob("*.cif"))
    bad = [f.name for f in files if check(f, args.reach)]
    if bad:
        print("flagged:", " ".join(bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
