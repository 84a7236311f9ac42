#!/usr/bin/python3
"""Checks the atoms of the cell of the GSAS, VESTA, TOPAS, CCSL and ATOMS
samples in tests/data/import.

For each file the program opens (`ovrender FILE out.png`, the first structure
of a file of several), this script expands the sites written below, copied by
hand from the file's own records, by the operators of the group the file
names (its symbol, or the group its operators make), with gemmi, wraps every
position into [0, 1) and counts the distinct positions. The count must equal
the program's `cell atoms K`.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

import gemmi

TOL = 1e-3

# file: (group as gemmi names it, the sites' fractional positions)
CASES = {
    "gsas/hexagonal.exp": ("P 63/m", [(1 / 3, 2 / 3, 0.0014), (0.1, 0.2, 0.25)]),
    "gsas/records.exp": ("F m -3 m", [(0, 0, 0), (0.5, 0.5, 0.5)]),
    "vesta/rutile.vesta": ("P 42/m n m", [(0, 0, 0), (0.3048, 0.3048, 0)]),
    "vesta/twophases.vesta": ("F m -3 m", [(0, 0, 0), (0.5, 0.5, 0.5)]),
    "topas/rutile.str": ("P 42/m n m", [(0, 0, 0), (0.3048, 0.3048, 0)]),
    "topas/twophases.inp": ("P 63/m m c", [(1 / 3, 2 / 3, 0.25)]),
    "topas/rigid.str": ("P 1", [(0, 0, 0), (0.2, 0, 0), (0.5, 0.5, 0.5)]),
    # S -X,-Y,-Z; S Z,X,Y; S -Y,X,Z generate P m -3 m.
    "ccsl/perovskite.ccl": ("P m -3 m", [(0, 0, 0), (0.5, 0.5, 0.5), (0.5, 0.5, 0)]),
    # Body centring, inversion at the origin, -x,1/2-y,z and 3/4-y,1/4+x,1/4+z:
    # I 41/a in its second origin.
    "ccsl/centred.ccl": ("I 41/a:2", [(0.36628, 0.36535, 0.11714), (0.05816, 0.39671, 0.16544)]),
    "ccsl/grup.ccl": ("P 63/m m c", [(1 / 3, 2 / 3, 0.25)]),
    "atoms/quartz.inp": ("P 32 2 1", [(0.4697, 0, 2 / 3), (0.4135, 0.2669, 0.1191)]),
    "atoms/symm.inp": ("P 42/m n m", [(0, 0, 0), (0.3048, 0.3048, 0)]),
    # Listed in the second origin and shifted by (1/4, 1/4, 1/4) into the first.
    "atoms/atoms.inp": ("P n -3 m:1", [(0.25, 0.25, 0.25), (0.5, 0.5, 0.5)]),
    # The absorption program's files of Demeter's examples (see LICENSE-NOTE):
    # the group the file names, read as the manual describes (Schoenflies
    # C_3I^2 is R -3; the R groups on the axes their constants give).
    "atoms/As.inp": ("R -3 m:R", [(0.226, 0.226, 0.226)]),
    "atoms/LaCoO3.inp": ("R -3 c:H", [(0, 0, 0), (0, 0, 0.25), (0.55032, 0, 0.25)]),
    "atoms/Yvonnite.inp": ("P -1", [
        (0.1141, 0.8034, 0.2145), (0.0865, 0.6631, 0.7243), (0.1663, 0.073, 0.1464), (0.1579, 0.3676, 0.6752),
        (0.348, 0.1377, 0.102), (0.709, 0.287, 0.147), (0.375, 0.4519, 0.159), (0.003, 0.6686, 0.161),
        (0.247, 0.9271, 0.242), (0.017, 0.1608, 0.335), (0.633, 0.0844, 0.346), (0.316, 0.6804, 0.355),
        (0.113, 0.3804, 0.404), (0.362, 0.2457, 0.69), (0.219, 0.4908, 0.766), (0.094, 0.0747, 0.889)]),
    "atoms/hydrozincite.inp": ("C 1 2/m 1", [
        (0, 0, 0), (0, 0.263, 0.5), (0.129, 0.5, 0.038), (0.322, 0.5, 0.309), (0.421, 0.5, 0.318),
        (0.266, 0.5, 0.069), (0.275, 0.5, 0.5), (0.41, 0, 0.324), (0.078, 0.245, 0.198)]),
    "atoms/tenorite_CuO.inp": ("C 1 2/c 1", [(0.25, 0.25, 0), (0, 0.584, 0.25)]),
    "atoms/PbFe12O19.inp": ("P 63/m m c", [
        (0.66667, 0.33333, 0.25), (0, 0, 0), (0, 0, 0.25), (0.33333, 0.66667, 0.0273), (0.33333, 0.66667, 0.19),
        (0.169, -0.169, -0.109), (0, 0, 0.151), (0.33333, 0.66667, -0.055), (0.184, -0.184, 0.25),
        (0.155, -0.155, 0.052), (0.504, -0.504, 0.15)]),
    "atoms/Ilmenite.inp": ("R -3:R", [(0.358, 0.358, 0.358), (0.142, 0.142, 0.142), (0.555, -0.04, 0.235)]),
    "atoms/FeS2.inp": ("P a -3", [(0, 0, 0), (0.384, 0.384, 0.384)]),
    "atoms/hematite.inp": ("R -3 c:H", [(0, 0, 0.3553), (0.3059, 0, 0.25)]),
    "atoms/fe.inp": ("I m -3 m", [(0, 0, 0)]),
    "atoms/copper.inp": ("F m -3 m", [(0, 0, 0)]),
    # Measured from the centre of symmetry, as its comment says.
    "atoms/diamond.inp": ("F d -3 m:2", [(0.125, 0.125, 0.125), (0.5, 0.5, 0.5), (0.262, 0.262, 0.262)]),
}


def cell_count(group, sites):
    ops = gemmi.SpaceGroup(group).operations()
    seen = []
    for site in sites:
        for op in ops:
            p = [x % 1.0 for x in op.apply_to_xyz(list(site))]
            if not any(max(abs((p[k] - q[k]) - round(p[k] - q[k])) for k in range(3)) < TOL for q in seen):
                seen.append(p)
    return len(seen)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--source-dir", required=True)
    args = ap.parse_args()
    ovrender = os.path.join(args.build_dir, "bench", "ovrender")
    if not os.path.exists(ovrender):
        print("SKIP: no ovrender (configure with OV_BUILD_BENCH=ON)")
        return 0
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8")
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        env.setdefault("XDG_RUNTIME_DIR", tmp)
        for name, (group, sites) in CASES.items():
            path = os.path.join(args.source_dir, "tests/data/import", name)
            run = subprocess.run([ovrender, path, os.path.join(tmp, "out.png")], capture_output=True, text=True,
                                 env=env)
            m = re.search(r"^cell atoms (\d+)$", run.stdout, re.M)
            if run.returncode != 0 or not m:
                print(f"FAIL {name}: ovrender exited {run.returncode}: {run.stderr.strip()[:300]}")
                failures += 1
                continue
            expected = cell_count(group, sites)
            if int(m.group(1)) != expected:
                print(f"FAIL {name}: cell atoms {m.group(1)}, gemmi's expansion gives {expected}")
                failures += 1
    print(f"{len(CASES) - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
