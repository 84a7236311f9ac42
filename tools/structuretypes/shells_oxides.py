#!/usr/bin/python3
"""Lists each site's sorted neighbour distances of a structure-type table file.

    /usr/bin/python3 tools/structuretypes/shells_oxides.py [-dMAX] FILE...

For every site of each CIF (expanded with gemmi's symmetry, every image within
MAX A, default 3.6) it prints the `# expect` number written in the file and the
nearest neighbours with their distances, so that a row's number can be checked
against the file's own shells before it is trusted.  It also names sites with
no expect line and expect lines naming no site.
"""
import sys, gemmi, re, numpy as np
def run(path, maxd=3.6, n=16):
    st = gemmi.read_small_structure(path)
    exp = {}
    for line in open(path):
        m = re.match(r'#\s*expect\s+(\S+)\s+(\d+)', line)
        if m: exp[m.group(1)] = int(m.group(2))
    allsites = st.get_all_unit_cell_sites()
    F = np.array([[a.fract.x, a.fract.y, a.fract.z] for a in allsites])
    labs = [a.label for a in allsites]
    M = np.array(st.cell.orth.mat.tolist())
    rng = [int(np.ceil(maxd / L)) + 1 for L in (st.cell.a, st.cell.b, st.cell.c)]
    shifts = np.array([[i, j, k] for i in range(-rng[0], rng[0]+1) for j in range(-rng[1], rng[1]+1) for k in range(-rng[2], rng[2]+1)])
    print('==', path, st.spacegroup_hm, len(st.sites), 'sites', len(allsites), 'in cell')
    for s in st.sites:
        f0 = np.array([s.fract.x, s.fract.y, s.fract.z])
        d = (F[None, :, :] + shifts[:, None, :] - f0) @ M.T
        r = np.sqrt((d**2).sum(-1))
        idx = np.argwhere((r > 0.1) & (r < maxd))
        ds = sorted((r[i, j], labs[j]) for i, j in idx)
        txt = ' '.join('%s:%.3f' % (l, x) for x, l in ds[:n])
        print('%-6s %-3s occ=%.2f exp=%s | %s' % (s.label, s.type_symbol, s.occ, exp.get(s.label, '?'), txt))
    names = [s.label for s in st.sites]
    for l in exp:
        if l not in names: print('  !! expect for missing label', l)
    for i, s in enumerate(st.sites):
        if s.label in exp: continue
        shared = [t.label for t in st.sites[:i] if st.cell.orthogonalize(s.fract).dist(st.cell.orthogonalize(t.fract)) < 0.01]
        if shared: print('  (%s shares its place with %s: one site, no expect of its own)' % (s.label, shared[0]))
        else: print('  !! no expect for', s.label)
    if len(set(names)) != len(names): print('  !! duplicate labels')
args = sys.argv[1:]
md = 3.6
if args and args[0].startswith('-d'):
    md = float(args[0][2:]); args = args[1:]
for p in args:
    run(p, md)
