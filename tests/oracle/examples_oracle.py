#!/usr/bin/python3
"""Checks the atoms per cell of every example structure against gemmi.

The script opens each resources/examples/*.ovtx with the developer's tool
<build-dir>/bench/ovrender (the program's own open path: read, build,
plot), which prints the structure's atoms and, for a crystal, its atoms per
cell. Independently it reads the same files' CELL,
LATC, SYMM and ATOM cards itself, lets gemmi find the space group of those
operators with the lattice centring, places the sites with
gemmi.SmallStructure and counts the atoms of the unit cell. A molecule's
count must equal its ATOM lines. Any difference fails the run.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

import gemmi

CENTRING = {
    "P": [(0, 0, 0)],
    "A": [(0, 0, 0), (0, 0.5, 0.5)],
    "B": [(0, 0, 0), (0.5, 0, 0.5)],
    "C": [(0, 0, 0), (0.5, 0.5, 0)],
    "I": [(0, 0, 0), (0.5, 0.5, 0.5)],
    "F": [(0, 0, 0), (0, 0.5, 0.5), (0.5, 0, 0.5), (0.5, 0.5, 0)],
    "R": [(0, 0, 0), (2 / 3, 1 / 3, 1 / 3), (1 / 3, 2 / 3, 2 / 3)],
}


def read_ovtx(path):
    cell, letter, ops, sites, molecule = None, "P", [], [], False
    block = None
    with open(path, encoding="utf-8") as f:
        for raw in f:
            line = raw.rstrip("\n")
            card = line[:4]
            if not line.strip() or line.startswith("!"):
                block = None
                continue
            if card == "MOLE":
                molecule = True
            elif card == "CELL":
                cell = [float(v) for v in line[4:].split()]
            elif card == "LATC":
                letter = line[4:].split()[0]
            elif card == "SYMM":
                ops.append(line[6:].strip())
            elif card in ("ATOM", "TYPE", "NOTE", "AVEC", "ERRS", "OCCU", "UISO", "UANI", "BANI"):
                block = card
            elif block == "ATOM":
                words = line.split()
                sites.append((words[0], words[1], [float(v) for v in words[2:5]]))
    return molecule, cell, letter, ops, sites


def gemmi_count(cell, letter, ops, sites):
    group_ops = gemmi.GroupOps([gemmi.Op(t) for t in ops])
    group_ops.cen_ops = [[round(x * gemmi.Op.DEN) for x in c] for c in CENTRING[letter]]
    group = gemmi.find_spacegroup_by_ops(group_ops)
    if group is None:
        raise RuntimeError("gemmi finds no space group for these operators")
    ss = gemmi.SmallStructure()
    ss.cell = gemmi.UnitCell(*cell)
    ss.spacegroup_hm = group.xhm()
    for element, label, xyz in sites:
        site = gemmi.SmallStructure.Site()
        site.label = label
        site.type_symbol = element
        site.element = gemmi.Element(element)
        site.fract = gemmi.Fractional(*xyz)
        site.occ = 1.0
        ss.add_site(site)
    ss.setup_cell_images()
    return len(ss.get_all_unit_cell_sites()), group.hm


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--source-dir", required=True)
    args = parser.parse_args()
    ovrender = os.path.join(args.build_dir, "bench", "ovrender")
    if not os.path.exists(ovrender):
        print("SKIP: no ovrender (configure with OV_BUILD_BENCH=ON)")
        return 0
    examples = os.path.join(args.source_dir, "resources", "examples")
    ours = {}
    with tempfile.TemporaryDirectory() as tmp:
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8")
        env.setdefault("XDG_RUNTIME_DIR", tmp)
        for name in sorted(n for n in os.listdir(examples) if n.endswith(".ovtx")):
            run = subprocess.run([ovrender, os.path.join(examples, name), os.path.join(tmp, "out.png")],
                                 capture_output=True, text=True, env=env)
            atoms = re.search(r"^atoms (\d+)", run.stdout, re.M)
            cell = re.search(r"^cell atoms (\d+)$", run.stdout, re.M)
            if run.returncode != 0 or not atoms:
                print("%s: ovrender exited %d: %s" % (name, run.returncode, run.stderr.strip()[:300]))
                continue
            ours[name] = ("crystal", int(cell.group(1))) if cell else ("molecule", int(atoms.group(1)))
    failures = 0
    names = sorted(n for n in os.listdir(examples) if n.endswith(".ovtx"))
    crystals = 0
    for name in names:
        molecule, cell, letter, ops, sites = read_ovtx(os.path.join(examples, name))
        if name not in ours:
            print("%s: not opened" % name)
            failures += 1
            continue
        kind, count = ours[name]
        if molecule:
            expected, what = len(sites), "ATOM lines"
        else:
            crystals += 1
            expected, what = gemmi_count(cell, letter, ops, sites)
        status = "ok" if count == expected and kind == ("molecule" if molecule else "crystal") else "DIFFERS"
        if status != "ok":
            failures += 1
        print("%-24s %-8s ours %4d  %s %4d  %s" % (name, kind, count, what, expected, status))
    if crystals < 6 or len(names) - crystals < 2:
        print("expected at least six crystals and two molecules")
        failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
