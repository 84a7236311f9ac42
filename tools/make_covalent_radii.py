#!/usr/bin/env python3
"""Generates EngineCode/model/CovalentRadii.inc, the radii and
electronegativities the automatic bond search judges contacts by.

Run from the repository root:

    python3 tools/make_covalent_radii.py          # rewrite the table
    python3 tools/make_covalent_radii.py --check  # fail when it is stale

and commit the regenerated file.

The radii are read from the element table the program bundles,
"resources/Element Tables/Covalent Radii.txt": the single-bond covalent radii
of B. Cordero et al., "Covalent radii revisited", Dalton Trans. (2008)
2832-2838, for H to U. The bundled tables stop at U; the same paper's radii
of Np, Pu, Am and Cm are typed in below (ACTINIDES). Deuterium (D) takes
hydrogen's values.

The ionic radii are read from "resources/Element Tables/Ionic Radii.txt":
R. D. Shannon's effective ionic radii (Acta Cryst. A32 (1976) 751-767), one
per element for its usual oxidation state. That table is made for drawing:
where Shannon gives no radius it holds the covalent one, hydrogen's among
them. Hydrogen here takes the hydride ion's radius instead, 1.40 A: what
the alkali hydrides give with Shannon's cation radii (their rock-salt cells,
LiH a = 4.083 A, NaH 4.880 A and KH 5.700 A, give H- 1.28, 1.42 and 1.47 A,
mean 1.39 A), the same as O2-. The actinides beyond U take
Shannon's Np4+ VI 0.87, Pu4+ VI 0.86, Am3+ VI 0.975 and Cm3+ VI 0.97.

A cation's contacts with anions may reach beyond six-fold coordination: each
metal also carries Shannon's radius of the same ion in the largest
coordination the paper tabulates for it (LARGEST_IONIC below: Ca2+ XII 1.34,
Na+ XII 1.39, Pb2+ XII 1.49, ...); a metal whose ion Shannon gives no larger
coordination than six, and every non-metal, repeat the ionic radius.

A metal's atoms in a structure of metals alone (a pure metal, an
intermetallic) touch at about twice its metallic radius, which for some
metals lies well beyond the single-bond covalent one (Al 1.43 against
1.21 A, Pb 1.75 against 1.46 A): each metal also carries its metallic radius
(METALLIC below: half the shortest distance of the metal's own structure,
for twelve-fold coordination where the metal packs closest, as the element
data of pymatgen tabulates them; Fr, which has none, and the non-metals
repeat their covalent radius).

The electronegativities are Pauling's, as revised by A. L. Allred,
J. Inorg. Nucl. Chem. 17 (1961) 215-221 (ELECTRONEGATIVITY below); the
noble gases He, Ne and Ar, which form no compound, take 0.

Each row also says whether the element is a metal. Metals are the elements
left of the staircase that runs from B to At: Al, Ga, In, Sn, Tl, Pb, Bi and
Po are metals; B, Si, Ge, As, Sb, Te and At are not, nor are H, the other
non-metals and the noble gases.

Rows are sorted by element code (the two characters of the symbol, a blank
after a one-letter symbol, first character in the high byte), so that a
lookup can bisect them.
"""

import os

from generated_file import write_or_check

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE = os.path.join(ROOT, "resources", "Element Tables", "Covalent Radii.txt")
OUT = os.path.join(ROOT, "EngineCode", "model", "CovalentRadii.inc")

NON_METALS = set("H D He B C N O F Ne Si P S Cl Ar Ge As Se Br Kr Sb Te I Xe At Rn".split())

IONIC_SOURCE = os.path.join(ROOT, "resources", "Element Tables", "Ionic Radii.txt")

# The hydride ion (see above).
HYDRIDE_RADIUS = "1.40"

# Symbol, Cordero covalent radius, Shannon ionic radius: the elements after
# U that both papers give.
ACTINIDES = [("Np", "1.90", "0.87"), ("Pu", "1.87", "0.86"), ("Am", "1.80", "0.975"), ("Cm", "1.69", "0.97")]

# Shannon (1976): the radius of the ion of "Ionic Radii.txt" in the largest
# coordination tabulated (symbol:ion:coordination:radius); the rest repeat
# their ionic radius.
LARGEST_IONIC = {
    w.split(":")[0]: w.split(":")[3]
    for w in """
Li:Li+:VIII:0.92 Na:Na+:XII:1.39 Mg:Mg2+:VIII:0.89 K:K+:XII:1.64 Ca:Ca2+:XII:1.34
Sc:Sc3+:VIII:0.87 Ti:Ti4+:VIII:0.74 Mn:Mn2+:VIII:0.96 Fe:Fe2+:VIII:0.92 Co:Co2+:VIII:0.90
Zn:Zn2+:VIII:0.90 Rb:Rb+:XIV:1.83 Sr:Sr2+:XII:1.44 Y:Y3+:IX:1.075 Zr:Zr4+:IX:0.89 Nb:Nb5+:VIII:0.74
Mo:Mo6+:VII:0.73 Ag:Ag+:VIII:1.28 Cd:Cd2+:XII:1.31 In:In3+:VIII:0.92 Sn:Sn4+:VIII:0.81
Cs:Cs+:XII:1.88 Ba:Ba2+:XII:1.61 La:La3+:XII:1.36 Ce:Ce3+:XII:1.34 Pr:Pr3+:IX:1.179
Nd:Nd3+:XII:1.27 Pm:Pm3+:IX:1.144 Sm:Sm3+:XII:1.24 Eu:Eu3+:IX:1.12 Gd:Gd3+:IX:1.107 Tb:Tb3+:IX:1.095
Dy:Dy3+:IX:1.083 Ho:Ho3+:X:1.12 Er:Er3+:IX:1.062 Tm:Tm3+:IX:1.052 Yb:Yb3+:IX:1.042 Lu:Lu3+:IX:1.032
Hf:Hf4+:VIII:0.83 Ta:Ta5+:VIII:0.74 Hg:Hg2+:VIII:1.14 Tl:Tl+:XII:1.70 Pb:Pb2+:XII:1.49
Bi:Bi3+:VIII:1.17 Po:Po4+:VIII:1.08 Ra:Ra2+:XII:1.70 Th:Th4+:XII:1.21 Pa:Pa5+:IX:0.95 U:U4+:XII:1.17
Np:Np4+:VIII:0.98 Pu:Pu4+:VIII:0.96 Am:Am3+:VIII:1.09
""".split()
}

# Metallic radii (A), metals only (see above).
METALLIC = dict(pair.split(":") for pair in """
Li:1.52 Be:1.12 Na:1.86 Mg:1.60 Al:1.43 K:2.381 Ca:1.976 Sc:1.641 Ti:1.462 V:1.347 Cr:1.285
Mn:1.292 Fe:1.277 Co:1.25 Ni:1.246 Cu:1.278 Zn:1.34 Ga:1.35 Rb:2.537 Sr:2.151 Y:1.80
Zr:1.602 Nb:1.473 Mo:1.402 Tc:1.363 Ru:1.339 Rh:1.345 Pd:1.376 Ag:1.445 Cd:1.51 In:1.67
Sn:1.58 Cs:2.719 Ba:2.236 La:1.877 Ce:1.707 Pr:1.828 Nd:1.821 Pm:1.811 Sm:1.804 Eu:2.041
Gd:1.802 Tb:1.781 Dy:1.773 Ho:1.765 Er:1.756 Tm:1.747 Yb:1.94 Lu:1.735 Hf:1.58 Ta:1.47
W:1.41 Re:1.375 Os:1.352 Ir:1.357 Pt:1.387 Au:1.442 Hg:1.51 Tl:1.70 Pb:1.75 Bi:1.82
Po:1.53 Ra:2.293 Ac:1.878 Th:1.798 Pa:1.642 U:1.542 Np:1.503 Pu:1.523 Am:1.73 Cm:1.743
""".split())

# Pauling electronegativities (Allred 1961; Kr and Xe from the same scale's
# later values).
ELECTRONEGATIVITY = dict(pair.split(":") for pair in """
H:2.20 He:0.0 Li:0.98 Be:1.57 B:2.04 C:2.55 N:3.04 O:3.44 F:3.98 Ne:0.0
Na:0.93 Mg:1.31 Al:1.61 Si:1.90 P:2.19 S:2.58 Cl:3.16 Ar:0.0
K:0.82 Ca:1.00 Sc:1.36 Ti:1.54 V:1.63 Cr:1.66 Mn:1.55 Fe:1.83 Co:1.88 Ni:1.91
Cu:1.90 Zn:1.65 Ga:1.81 Ge:2.01 As:2.18 Se:2.55 Br:2.96 Kr:3.00
Rb:0.82 Sr:0.95 Y:1.22 Zr:1.33 Nb:1.6 Mo:2.16 Tc:1.9 Ru:2.2 Rh:2.28 Pd:2.20
Ag:1.93 Cd:1.69 In:1.78 Sn:1.96 Sb:2.05 Te:2.1 I:2.66 Xe:2.6
Cs:0.79 Ba:0.89 La:1.10 Ce:1.12 Pr:1.13 Nd:1.14 Pm:1.13 Sm:1.17 Eu:1.2 Gd:1.20
Tb:1.1 Dy:1.22 Ho:1.23 Er:1.24 Tm:1.25 Yb:1.1 Lu:1.27 Hf:1.3 Ta:1.5 W:2.36
Re:1.9 Os:2.2 Ir:2.20 Pt:2.28 Au:2.54 Hg:2.00 Tl:1.62 Pb:2.33 Bi:2.02 Po:2.0
At:2.2 Rn:2.2 Fr:0.7 Ra:0.9 Ac:1.1 Th:1.3 Pa:1.5 U:1.38 Np:1.36 Pu:1.28
Am:1.13 Cm:1.28
""".split())


def read_radii(path):
    """(symbol, radius text) for each row after the ELMT card."""
    rows, inside = [], False
    with open(path, encoding="utf-8") as f:
        for line in f:
            words = line.split()
            if not words or line.startswith("!"):
                continue
            if words[0] in ("NOTE", "ELMT"):
                inside = words[0] == "ELMT"
                continue
            if inside:
                float(words[1])  # refuse a row that is not a number
                rows.append((words[0], words[1]))
    return rows


def code(symbol):
    text = (symbol + " ")[:2]
    return (ord(text[0]) << 8) | ord(text[1])


def make_table():
    rows = read_radii(SOURCE)
    ionic = dict(read_radii(IONIC_SOURCE))
    for path, table in ((SOURCE, rows), (IONIC_SOURCE, ionic)):
        if len(table) != 92:
            raise SystemExit("expected 92 elements in %s, read %d" % (path, len(table)))
    ionic["H"] = HYDRIDE_RADIUS
    for symbol, covalent, shannon in ACTINIDES:
        rows.append((symbol, covalent))
        ionic[symbol] = shannon
    radius = dict(rows)
    rows.append(("D", radius["H"]))
    ionic["D"] = ionic["H"]
    ELECTRONEGATIVITY["D"] = ELECTRONEGATIVITY["H"]
    rows.sort(key=lambda r: code(r[0]))
    lines = [
        "// Generated by tools/make_covalent_radii.py; do not edit by hand.",
        "// Single-bond covalent radii (A) of Cordero et al. (2008), from",
        "// \"resources/Element Tables/Covalent Radii.txt\" and, for Np to Cm, the",
        "// script; Shannon's ionic radii (A) from \"Ionic Radii.txt\", H taking the",
        "// hydride ion's, and a metal's ion in its largest tabulated coordination;",
        "// Pauling electronegativities; metallic radii; D takes H's values.",
        "// {element code, radius, metal, ionic radius, electronegativity,",
        "// largest coordination's ionic radius, metallic radius},",
        "// sorted by element code.",
    ]
    for symbol, r in rows:
        metal = "false" if symbol in NON_METALS else "true"
        largest = LARGEST_IONIC.get(symbol, ionic[symbol]) if metal == "true" else ionic[symbol]
        metallic = METALLIC.get(symbol, r) if metal == "true" else r
        lines.append("{0x%04X, %sf, %s, %sf, %sf, %sf, %sf}, // %s" %
                     (code(symbol), r, metal, ionic[symbol], ELECTRONEGATIVITY[symbol], largest, metallic, symbol))
    return "\n".join(lines) + "\n"


def main():
    write_or_check(OUT, make_table())


if __name__ == "__main__":
    main()
