#!/usr/bin/python3
"""Writes the table's isolated molecules (naphthalene, P4, ferrocene, Zeise's
anion, the half-occupied solvents) as P 1 CIFs in a 20 A cubic cell, built from
the bond lengths and angles each file's header cites.

    /usr/bin/python3 tools/structuretypes/molecules_oxides.py
"""
import os
import math, numpy as np
L = 20.0
def write(path, header, name, atoms, occ=None, L=L):
    lines = [header.rstrip('\n'), 'data_' + name,
             '_cell_length_a %.1f' % L, '_cell_length_b %.1f' % L, '_cell_length_c %.1f' % L,
             '_cell_angle_alpha 90', '_cell_angle_beta 90', '_cell_angle_gamma 90',
             "_symmetry_space_group_name_H-M 'P 1'", '_symmetry_Int_Tables_number 1',
             'loop_', '_atom_site_label', '_atom_site_type_symbol',
             '_atom_site_fract_x', '_atom_site_fract_y', '_atom_site_fract_z']
    if occ is not None: lines.append('_atom_site_occupancy')
    for i, (lab, el, xyz) in enumerate(atoms):
        f = [0.5 + c / L for c in xyz]
        row = '%s %s %.5f %.5f %.5f' % (lab, el, f[0], f[1], f[2])
        if occ is not None: row += ' %s' % occ[i]
        lines.append(row)
    open(path, 'w').write('\n'.join(lines) + '\n')

def unit(v): v = np.asarray(v, float); return v / np.linalg.norm(v)

D = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'tests', 'data', 'structuretypes') + os.sep

# --- naphthalene: two regular hexagons of side 1.40 A sharing the C9-C10 edge, C-H 1.09 A
s = 1.40; h = 1.09
c30 = math.cos(math.radians(30)); 
# ring centres at (+-s*c30*... ) : two hexagons sharing the C9-C10 edge along y
cx = s * c30
C = {}
C['C9'] = (0.0, s / 2); C['C10'] = (0.0, -s / 2)
C['C1'] = (cx, s); C['C2'] = (2 * cx, s / 2); C['C3'] = (2 * cx, -s / 2); C['C4'] = (cx, -s)
C['C5'] = (-cx, -s); C['C6'] = (-2 * cx, -s / 2); C['C7'] = (-2 * cx, s / 2); C['C8'] = (-cx, s)
atoms = []
for k in ['C1','C2','C3','C4','C5','C6','C7','C8','C9','C10']:
    atoms.append((k, 'C', (C[k][0], C[k][1], 0.0)))
for i, k in enumerate(['C1','C2','C3','C4','C5','C6','C7','C8']):
    x, y = C[k]
    centre = (cx, 0.0) if x > 0 else (-cx, 0.0)
    d = unit((x - centre[0], y - centre[1]))
    atoms.append(('H%d' % (i + 1), 'H', (x + h * d[0], y + h * d[1], 0.0)))
hdr = """# Structure type: naphthalene C10H8, one molecule in a 20 A P 1 cell
# Source: idealised D2h molecule: regular hexagons with the aromatic C-C 1.40 A and C-H 1.09 A (textbook mean values); the crystal packing is left out
"""
exp = ''.join('# expect %s 3\n' % a[0] for a in atoms if a[1] == 'C')
exp += ''.join('# expect %s 1\n' % a[0] for a in atoms if a[1]=='H')
write(D + 'C10H8-naphthalene.cif', hdr + exp, 'naphthalene', atoms)

# --- P4 tetrahedron, P-P 2.21 A
a = 2.21 / (2 * math.sqrt(2))
atoms = [('P%d' % (i + 1), 'P', v) for i, v in enumerate([(a, a, a), (a, -a, -a), (-a, a, -a), (-a, -a, a)])]
hdr = """# Structure type: white phosphorus P4 molecule in a 20 A P 1 cell
# Source: P-P 2.21 A, tetrahedral (Maxwell, Hendricks & Mosley, J. Chem. Phys. 3 (1935) 699, gas electron diffraction)
""" + ''.join('# expect P%d 3\n' % (i + 1) for i in range(4))
write(D + 'P4-white-phosphorus-molecule.cif', hdr, 'P4', atoms)

# --- ferrocene, eclipsed D5h gas-phase: Fe-C 2.064, C-C 1.440, C-H 1.104 A
cc = 1.440; rr = cc / (2 * math.sin(math.pi / 5)); fe_c = 2.064
zz = math.sqrt(fe_c ** 2 - rr ** 2)
atoms = [('Fe1', 'Fe', (0.0, 0.0, 0.0))]
hs = []
for ring, z in ((0, zz), (1, -zz)):
    for k in range(5):
        t = 2 * math.pi * k / 5
        atoms.append(('C%d' % (ring * 5 + k + 1), 'C', (rr * math.cos(t), rr * math.sin(t), z)))
        hs.append(('H%d' % (ring * 5 + k + 1), 'H', ((rr + 1.104) * math.cos(t), (rr + 1.104) * math.sin(t), z)))
atoms += hs
hdr = """# Structure type: ferrocene Fe(C5H5)2, eclipsed molecule in a 20 A P 1 cell
# Source: Haaland & Nilsson, Acta Chem. Scand. 22 (1968) 2653 (gas electron diffraction: Fe-C 2.064, C-C 1.440, C-H 1.104 A)
# expect Fe1 10
""" + ''.join('# expect C%d 4\n' % (k + 1) for k in range(10)) + ''.join('# expect H%d 1\n' % (k + 1) for k in range(10))
write(D + 'FeC10H10-ferrocene-molecule.cif', hdr, 'ferrocene', atoms)

# --- Zeise's anion [PtCl3(C2H4)]-: Pt-Cl(trans) 2.340, Pt-Cl(cis) 2.302, Pt-C 2.128, C=C 1.375, C-H 1.08
pt = np.zeros(3)
atoms = [('Pt1', 'Pt', (0, 0, 0)), ('Cl1', 'Cl', (-2.340, 0, 0)), ('Cl2', 'Cl', (0, 2.302, 0)), ('Cl3', 'Cl', (0, -2.302, 0))]
half = 1.375 / 2; mx = math.sqrt(2.128 ** 2 - half ** 2)
cs = [np.array([mx, 0, half]), np.array([mx, 0, -half])]
atoms += [('C1', 'C', tuple(cs[0])), ('C2', 'C', tuple(cs[1]))]
k = 1
for c in cs:
    out = unit([0, 0, np.sign(c[2])])
    for sy in (1, -1):
        dvec = unit(math.cos(math.radians(59)) * out + sy * math.sin(math.radians(59)) * np.array([0, 1, 0]) + math.tan(math.radians(16)) * np.array([1, 0, 0]))
        atoms.append(('H%d' % k, 'H', tuple(c + 1.08 * dvec))); k += 1
hdr = """# Structure type: the anion of Zeise's salt, [PtCl3(C2H4)]-, in a 20 A P 1 cell (K+ and the water left out)
# Source: bond lengths of Love, Koetzle, Williams, Andrews & Bau, Inorg. Chem. 14 (1975) 2653 (neutron): Pt-Cl 2.340 (trans), 2.302 (cis), Pt-C 2.128, C=C 1.375, C-H 1.08 A; C=C perpendicular to the PtCl3 plane
# expect Pt1 5
# expect Cl1 1
# expect Cl2 1
# expect Cl3 1
# expect C1 4
# expect C2 4
# expect H1 1
# expect H2 1
# expect H3 1
# expect H4 1
# why Pt counts both C of the eta2-ethylene (three Cl and two C)
"""
write(D + 'KPtCl3C2H4-Zeise-anion.cif', hdr, 'zeise', atoms)

# --- half-occupied solvents: CH2Cl2 and acetone, each at 0.5, no disorder groups
atoms = []; occ = []
# CH2Cl2: C-Cl 1.765, C-H 1.087, Cl-C-Cl 111.8, H-C-H 111.9 (microwave)
o = np.array([-4.0, 0, 0])
t1 = math.radians(111.8 / 2); t2 = math.radians(111.9 / 2)
atoms += [('C1', 'C', tuple(o)), ('Cl1', 'Cl', tuple(o + 1.765 * np.array([0, math.sin(t1), math.cos(t1)]))),
          ('Cl2', 'Cl', tuple(o + 1.765 * np.array([0, -math.sin(t1), math.cos(t1)]))),
          ('H1', 'H', tuple(o + 1.087 * np.array([math.sin(t2), 0, -math.cos(t2)]))),
          ('H2', 'H', tuple(o + 1.087 * np.array([-math.sin(t2), 0, -math.cos(t2)])))]
# acetone: C=O 1.213, C-C 1.520, C-C-C 116.7, C-H 1.09 (tetrahedral methyls)
o2 = np.array([4.0, 0, 0])
cc_ang = math.radians(116.7 / 2)
c2 = o2; oo = o2 + np.array([0, 0, 1.213])
m1 = o2 + 1.520 * np.array([math.sin(cc_ang), 0, -math.cos(cc_ang)])
m2 = o2 + 1.520 * np.array([-math.sin(cc_ang), 0, -math.cos(cc_ang)])
atoms += [('C2', 'C', tuple(c2)), ('O1', 'O', tuple(oo)), ('C3', 'C', tuple(m1)), ('C4', 'C', tuple(m2))]
hk = 3
for m in (m1, m2):
    ax = unit(m - c2)
    perp1 = unit(np.cross(ax, [0, 1, 0])); perp2 = np.cross(ax, perp1)
    for j in range(3):
        phi = 2 * math.pi * j / 3
        dvec = math.cos(math.radians(180 - 109.5)) * ax + math.sin(math.radians(180 - 109.5)) * (math.cos(phi) * perp1 + math.sin(phi) * perp2)
        atoms.append(('H%d' % hk, 'H', tuple(m + 1.09 * dvec))); hk += 1
occ = ['0.5'] * len(atoms)
hdr = """# Structure type: half-occupied solvent molecules without disorder groups: CH2Cl2 and acetone, each at occupancy 0.5, in a 20 A P 1 cell
# Source: gas-phase geometries: CH2Cl2 C-Cl 1.765, C-H 1.087 A, Cl-C-Cl 111.8 deg (microwave, Myers & Gwinn, J. Chem. Phys. 20 (1952) 1420); acetone C=O 1.213, C-C 1.520 A, C-C-C 116.7 deg (Nelson & Pierce, J. Mol. Spectrosc. 18 (1965) 344), methyl C-H 1.09 A
# expect C1 4
# expect Cl1 1
# expect Cl2 1
# expect H1 1
# expect H2 1
# expect C2 3
# expect O1 1
# expect C3 4
# expect C4 4
""" + ''.join('# expect H%d 1\n' % k for k in range(3, hk))
write(D + 'half-occupied-solvent-CH2Cl2-acetone.cif', hdr, 'halfsolvent', atoms, occ)
