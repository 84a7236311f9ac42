#!/usr/bin/python3
"""Counts, independently of the program, what the mixed sites of a CIF are.

A mixed site is written one row per element at one position. For each such
position the script names the element of the file's first row and the element
of the largest share (the occupancies of one element added; ties to the row
listed first), then expands the structure with gemmi's cell images and counts:
  * each position's neighbours within the textbook first shell given below,
    taking every position as its largest share;
  * the pairs of one metal closer than the automatic rule's metal-metal limit
    (0.9 x the covalent radii's sum, Cordero et al. 2008), once with every
    position taken as its first row and once as its largest share.
Water labels (Wat, WAT, HOH, OW) are water's oxygen, as every reader takes
them. Run with --source-dir, as the test suite runs it, it checks the values
the automatic bond test's table expects of tests/data/bonds/zsm5.cif and
lepidolite.cif.
"""

import os
import sys
from collections import defaultdict

import gemmi
import numpy as np

SAME_PLACE = 1e-4                       # fractional distance of one position
SHELL = {("O", "Si"): 1.9, ("Al", "O"): 2.0}  # first-shell T-O limits (A)
METAL_RADIUS = {"Ca": 1.76, "Na": 1.66, "K": 2.03, "Li": 1.28, "Al": 1.21, "Rb": 2.20}
METAL_METAL = 0.9
WATER = ("Wat", "WAT", "HOH", "OW")


def element(site):
    return "O" if site.label.startswith(WATER) else site.element.name


def positions(st):
    groups = []
    for s in st.sites:
        for g in groups:
            d = np.array(g[0].fract.tolist()) - np.array(s.fract.tolist())
            if np.all(np.abs(d - np.round(d)) < SAME_PLACE):
                g.append(s)
                break
        else:
            groups.append([s])
    return groups


def largest(group):
    share = {}
    for s in group:
        share[element(s)] = share.get(element(s), 0.0) + s.occ
    top = max(share.values())
    lead = next(e for e in share if share[e] == top)
    label = max((s for s in group if element(s) == lead), key=lambda s: s.occ).label
    return lead, label


def images(st, frac):
    ops = st.find_spacegroup().operations()
    out = []
    for op in ops:
        p = np.array(op.apply_to_xyz(frac)) % 1.0
        if not any(np.all(np.abs((p - q) - np.round(p - q)) < SAME_PLACE) for q in out):
            out.append(p)
    return out


def survey(paths):
    found = {}
    for path in paths:
        st = gemmi.read_small_structure(path)
        cell = st.cell
        groups = positions(st)
        atoms = []  # (group index, first-row element, largest element, fractional)
        for k, g in enumerate(groups):
            lead = largest(g)[0]
            for p in images(st, g[0].fract.tolist()):
                atoms.append((k, element(g[0]), lead, p))
        orth = np.array(cell.orthogonalization_matrix.tolist())
        frac = np.array([a[3] for a in atoms])
        first = [a[1] for a in atoms]
        lead = [a[2] for a in atoms]
        shifts = np.array([[i, j, l] for i in (-1, 0, 1) for j in (-1, 0, 1) for l in (-1, 0, 1)])
        coordination = defaultdict(set)
        metal_pairs = {"first": defaultdict(int), "largest": defaultdict(int)}
        for a in range(len(atoms)):
            # Every image of every atom within a cell's shift: (atoms, 27).
            delta = frac[None, :, :] + shifts[:, None, :] - frac[a]
            d = np.linalg.norm(delta @ orth.T, axis=2).T
            shell = defaultdict(int)
            for b in range(len(atoms)):
                near = d[b][d[b] > 1e-3]
                key = tuple(sorted((lead[a], lead[b])))
                if key in SHELL:
                    shell[lead[b]] += int(np.sum(near <= SHELL[key]))
                for which, (ea, eb) in (("first", (first[a], first[b])), ("largest", (lead[a], lead[b]))):
                    if a < b and ea == eb and ea in METAL_RADIUS:
                        metal_pairs[which][ea] += int(np.sum(near < METAL_METAL * 2 * METAL_RADIUS[ea]))
            label = largest(groups[atoms[a][0]])[1]
            coordination[(label, lead[a])].add(" ".join("%s%d" % (e, n) for e, n in sorted(shell.items()) if n))
        found[os.path.basename(path)] = (coordination, metal_pairs)
    return found


def check(source):
    bonds = os.path.join(source, "tests", "data", "bonds")
    found = survey([os.path.join(bonds, "zsm5.cif"), os.path.join(bonds, "lepidolite.cif")])
    zsm5, pairs = found["zsm5.cif"]
    assert zsm5[("Si1", "Si")] == {"O4"} and zsm5[("Si12", "Si")] == {"O4"}, zsm5
    assert zsm5[("O1", "O")] == {"Si2"} and zsm5[("O26", "O")] == {"Si2"}, zsm5
    for label in ("WatX1", "WatX2", "WatX6", "WatX16"):
        assert (label, "O") in zsm5, label
    assert pairs["first"]["Ca"] > 0 and not any(pairs["largest"].values()), pairs
    lepidolite, _ = found["lepidolite.cif"]
    assert lepidolite[("SiT", "Si")] == {"O4"} and ("AlM1", "Al") in lepidolite, lepidolite
    print("mixed sites: the bond table's expectations hold")


def main():
    check(sys.argv[sys.argv.index("--source-dir") + 1])


if __name__ == "__main__":
    main()
