# Not part of CI: a developer's survey of the automatic bonds, run by hand.
"""Opens several hundred real crystals, molecules and proteins from Debian
packages with the program's own open path (build/rel/bench/sitebonds) and
compares every site's coordination with independent analyses:

- crystals: pymatgen's CrystalNN coordination number at the same place, and
  the bond-valence sum of each cation over the bonds the program drew
  (Brese & O'Keeffe parameters as pymatgen ships them) against the oxidation
  state pymatgen guesses for the composition;
- molecules and proteins: the bonds the file lists (PDB CONECT) and Open
  Babel's bond perception of the same file, atom by atom.

    /usr/bin/python3 tools/survey/bond_survey.py [--sitebonds PATH] [--out DIR]
        [--jobs N] [--only SUBSTRING]

Writes DIR/sites.tsv (one row per site or atom that disagrees), DIR/files.tsv
(one row per file) and prints the disagreements counted by class. Needs the
Debian packages libavogadro-data, gdis-data, python3-cctbx, xcrysden-data,
pymol-data, python-biopython-doc, drawxtl, chemtool, cif2hkl,
python3-pymatgen, python3-openbabel and python3-gemmi.
"""

import argparse
import glob
import gzip
import json
import math
import multiprocessing
import os
import subprocess
import sys
import tempfile
import warnings

from scipy.spatial import cKDTree

warnings.filterwarnings("ignore")

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

CRYSTAL_GLOBS = [
    "/usr/share/avogadro2/crystals/*/*.cif",
    "/usr/share/gdis/models/*.cif",
    "/usr/lib/python3/dist-packages/iotbx/regression/data/*.cif",
    "/usr/lib/python3/dist-packages/iotbx/regression/data/shelx.ins",
    "/usr/lib/python3/dist-packages/smtbx/regression/test_data/*.cif",
    "/usr/lib/python3/dist-packages/smtbx/regression/test_data/*.ins",
    "/usr/share/doc/drawxtl/examples/*.cif",
    "/usr/share/doc/python3-openbabel/examples/*.cif",
    # Its .cfl examples are in a format the program does not read.
    "/usr/share/doc/cif2hkl/examples/*.cif",
    # The structure-type table: each type from a published cell.
    os.path.join(ROOT, "tests", "data", "structuretypes", "*.cif"),
]
MOLECULE_GLOBS = [
    "/usr/share/pymol/test/dat/*.pdb",
    "/usr/share/pymol/test/dat/*.mol",
    "/usr/share/pymol/test/dat/*.sdf",
    "/usr/share/doc/python-biopython-doc/Tests/PDB/*.pdb",
    "/usr/share/doc/python-biopython-doc/Tests/PDB/*.pdb.gz",
    "/usr/share/doc/python-biopython-doc/Tests/PDB/*.ent",
    "/usr/lib/python3/dist-packages/iotbx/regression/data/*.pdb",
    "/usr/lib/python3/dist-packages/iotbx/examples/*/*.pdb",
    "/usr/lib/python3/dist-packages/mmtbx/regression/pdbs/*.pdb",
    "/usr/share/doc/xcrysden/examples/PDB/*.pdb",
    "/usr/share/doc/xcrysden/examples/XYZ/*.xyz",
    "/usr/share/doc/chemtool/examples/*.mol",
    "/usr/share/doc/chemtool/examples/*.pdb",
    "/usr/share/doc/chemtool/examples/*.sdf",
]

METALS = set(
    "Li Be Na Mg Al K Ca Sc Ti V Cr Mn Fe Co Ni Cu Zn Ga Rb Sr Y Zr Nb Mo Tc Ru Rh Pd Ag Cd In Sn Cs Ba La Ce Pr "
    "Nd Pm Sm Eu Gd Tb Dy Ho Er Tm Yb Lu Hf Ta W Re Os Ir Pt Au Hg Tl Pb Bi Po Fr Ra Ac Th Pa U Np Pu Am Cm".split()
)
CLASSES = [
    "ionic oxides and halides",
    "silicates and zeolites",
    "hydrates and hydroxides",
    "intermetallics and pure metals",
    "molecular crystals",
    "disordered structures",
    "proteins",
    "molecules",
]
# Files whose disagreements come from the file itself, checked against
# gemmi's reading of the same file: named in files.tsv's note, still counted.
FILE_FAULTS = {
    "CoFe2O4.cif": "origin-1 coordinates under the origin-2 symbol it declares: Fe-O 0.17 A, O-O 0.28 A",
    "NiFe2O4.cif": "origin-1 coordinates under the origin-2 symbol it declares: Fe-O 0.17 A, O-O 0.28 A",
    "MgCO3-Magnesite.cif": "coordinates a quarter of the cell diagonal off the symbol's origin: gemmi reads "
                           "16 atoms and 12 O at 2.248 A from Mg, pymatgen a 60-atom cell",
    "H2O-Ice-II.cif": "H at the O...O midpoints, 1.35-1.38 A from two O, beyond the O-H covalent limit",
    "H2O-Ice-III.cif": "H at the O...O midpoints, 1.36 A from two O, beyond the O-H covalent limit; O-O 0.90 A",
}
# A cation's bond-valence sum this far (relative) from its oxidation state
# is a disagreement.
BVS_TOLERANCE = 0.25
# CrystalNN takes this long per site at most in a large cell: bigger cells
# are compared by bond valence only.
MAX_CNN_SITES = 400
# An atom Open Babel reads is ours where the two lie this close (A).
MATCH_DISTANCE = 0.02


def run_sitebonds(tool, path):
    """The program's sites (crystal) or atoms (molecule) and their bonds."""
    if path.endswith(".gz") and not path.endswith(".cif.gz"):
        with gzip.open(path) as f, tempfile.NamedTemporaryFile(suffix=os.path.basename(path)[:-3], delete=False) as t:
            t.write(f.read())
            path = t.name
    try:
        out = subprocess.run([tool, path], capture_output=True, text=True, timeout=300)
    except subprocess.TimeoutExpired:
        return None
    if out.returncode != 0:
        return None
    result = {"kind": None, "cell": None, "entries": []}
    pending = []  # a molecule's bonds, listed once from the lower atom
    for line in out.stdout.splitlines():
        w = line.split()
        if w[0] == "CELL":
            result["kind"] = w[1]
            result["cell"] = [float(x) for x in w[2:8]]
        elif w[0] in ("SITE", "ATOM"):
            e = {"index": int(w[1]), "label": w[2], "element": w[3], "occupancy": float(w[4]),
                 "group": (int(w[5]), int(w[6])), "bonds": []}
            if w[0] == "SITE":
                e["coordination"] = int(w[7])
                e["xyz"] = [float(x) for x in w[8:11]]
            else:
                e["xyz"] = [float(x) for x in w[7:10]]
            result["entries"].append(e)
        elif w[0] == "BOND":
            if result["kind"] == "crystal":
                result["entries"][-1]["bonds"].append((int(w[1]), w[3], float(w[4])))
            else:
                a, b, d = int(w[1]), int(w[2]), float(w[3])
                result["entries"][a]["bonds"].append((b, d))
                pending.append((a, b, d))
    for a, b, d in pending:
        result["entries"][b]["bonds"].append((a, d))
    return result


def classify(path, elements, disordered, protein):
    if protein:
        return "proteins"
    if disordered:
        return "disordered structures"
    if elements <= METALS:
        return "intermetallics and pure metals"
    if "/zeolites/" in path or "/silicates/" in path or "/clays/" in path or ("Si" in elements and "O" in elements):
        return "silicates and zeolites"
    if "H" in elements and elements & METALS:
        return "hydrates and hydroxides"
    if "C" in elements and "H" in elements or not elements & METALS and len(elements) <= 2:
        return "molecular crystals"
    return "ionic oxides and halides"


def bv_parameters():
    import yaml
    from pymatgen.analysis import bond_valence
    path = os.path.join(os.path.dirname(bond_valence.__file__), "bvparam_1991.yaml")
    with open(path) as f:
        return yaml.safe_load(f)


def bond_valence(params, cation, anion, length):
    """Brese & O'Keeffe (1991): R0 from the two elements' r and c."""
    p, q = params.get(cation), params.get(anion)
    if not p or not q:
        return None
    r1, c1, r2, c2 = p["r"], p["c"], q["r"], q["c"]
    r0 = r1 + r2 - r1 * r2 * (math.sqrt(c1) - math.sqrt(c2)) ** 2 / (c1 * r1 + c2 * r2)
    return math.exp((r0 - length) / 0.37)


def survey_crystal(args):
    tool, path, cached = args
    ours = run_sitebonds(tool, path)
    rows = []
    if not ours or ours["kind"] != "crystal" or not ours["entries"]:
        return path, "unread", None, rows, cached
    entries = ours["entries"]
    reference = cached if cached is not None else crystal_reference(path, entries)
    return (path,) + compare_crystal(path, entries, reference) + (reference,)


def crystal_reference(path, entries):
    """CrystalNN's count at each of our sites' places (by their index) and
    pymatgen's oxidation states for the composition."""
    from pymatgen.core import Structure, Composition
    from pymatgen.analysis.local_env import CrystalNN
    ref = {"cn": {}, "oxidation": {}, "note": ""}
    try:
        structure = Structure.from_file(path, merge_tol=0.01)
    except Exception as exc:  # pymatgen refuses some files the program reads
        first = str(exc).splitlines()[0][:60] if str(exc) else "refused"
        ref["note"] = "pymatgen could not read it: " + first
        return ref
    cnn = CrystalNN() if structure.is_ordered and len(structure) <= MAX_CNN_SITES else None
    if cnn is None:
        ref["note"] = "disordered or large: bond valence only" if not structure.is_ordered else \
            "large cell: bond valence only"
    try:
        guesses = structure.composition.oxi_state_guesses(max_sites=-50)
        if guesses:
            ref["oxidation"] = dict(guesses[0])
    except Exception:
        pass
    for e in entries if cnn is not None else []:
        best, where = None, None
        for k, site in enumerate(structure):
            d = structure.lattice.get_distance_and_image(site.frac_coords, e["xyz"])[0]
            if best is None or d < best:
                best, where = d, k
        if best is not None and best < 0.05:
            try:
                ref["cn"][str(e["index"])] = cnn.get_cn(structure, where, use_weights=False)
            except Exception:
                pass
    return ref


def compare_crystal(path, entries, reference):
    """(class, note, disagreeing rows) of one crystal."""
    rows = []
    elements = {e["element"] for e in entries}
    disordered = any(e["occupancy"] < 0.99 for e in entries)
    cls = classify(path, elements, disordered, False)
    oxidation = reference["oxidation"]
    params = bv_parameters()
    # Bond valences are of a cation's bonds to anions: a structure of metals
    # alone (an alloy, whose oxidation states pymatgen still guesses) has none.
    has_anion = bool(elements - METALS)
    for e in entries:
        cn = reference["cn"].get(str(e["index"]))
        bvs = None
        valence = oxidation.get(e["element"])
        is_cation = has_anion and e["element"] in METALS and valence and valence > 0
        if is_cation and e["occupancy"] > 0.99:
            total = 0.0
            for _, other, length in e["bonds"]:
                v = bond_valence(params, e["element"], other, length)
                if v is not None and other not in METALS:
                    total += v
            bvs = total
        disagree = []
        # An anion's count in a salt is left to its cations' counts and
        # valences: CrystalNN counts an oxyanion's oxygen by its centre alone.
        salt = elements & METALS and elements - METALS
        if cn is not None and cn != e["coordination"] and (e["element"] in METALS or not salt):
            disagree.append("CN %d vs CrystalNN %d" % (e["coordination"], cn))
        if bvs is not None and abs(bvs - valence) > BVS_TOLERANCE * valence:
            disagree.append("BVS %.2f vs %+g" % (bvs, valence))
        if disagree:
            rows.append((path, cls, e["label"], e["element"], e["occupancy"], e["coordination"],
                         "" if cn is None else cn, "" if bvs is None else "%.2f" % bvs, "; ".join(disagree),
                         " ".join("%s%.2f" % (b[1], b[2]) for b in sorted(e["bonds"], key=lambda b: b[2]))))
    fault = FILE_FAULTS.get(os.path.basename(path))
    note = "; ".join(x for x in (reference["note"], fault and "the file's fault: " + fault) if x)
    return cls, note, rows


def survey_molecule(args):
    tool, path, _ = args
    return survey_molecule_file(tool, path) + (None,)


def survey_molecule_file(tool, path):
    from openbabel import openbabel as ob
    from openbabel import pybel
    ours = run_sitebonds(tool, path)
    rows = []
    if not ours or not ours["entries"]:
        return path, "unread", None, rows
    text_path = path
    if path.endswith(".gz"):
        with gzip.open(path) as f, tempfile.NamedTemporaryFile(suffix=os.path.basename(path)[:-3], delete=False) as t:
            t.write(f.read())
            text_path = t.name
    fmt = os.path.splitext(text_path)[1][1:].lower()
    fmt = {"ent": "pdb"}.get(fmt, fmt)
    if fmt == "cif":
        fmt = "mmcif"
    protein = fmt in ("pdb", "mmcif") and "HETATM" in open(text_path, errors="replace").read(200000).upper() or \
        fmt in ("pdb", "mmcif")
    try:
        ob.obErrorLog.SetOutputLevel(0)
        mol = next(pybel.readfile(fmt, text_path))
    except Exception:
        return path, "proteins" if protein else "molecules", "Open Babel could not read it", rows
    cls = "proteins" if protein and mol.OBMol.NumAtoms() > 100 else "molecules"
    # Open Babel's atoms and bonds, matched to ours by Cartesian position.
    cell = ours["cell"]
    places = []
    for e in ours["entries"]:
        if ours["kind"] == "crystal":
            places.append(cartesian(cell, e["xyz"]))
        else:
            places.append([e["xyz"][i] * cell[i] for i in range(3)])
    # A molecule's box may start anywhere: its offset from the file's frame
    # is the one that puts most of our first atoms on Open Babel's.
    theirs_xyz = [[a.GetX(), a.GetY(), a.GetZ()] for a in ob.OBMolAtomIter(mol.OBMol)]
    if theirs_xyz and places:
        their_tree = cKDTree(theirs_xyz)
        sample = places[:20]
        best_offset, best_hits = [0.0, 0.0, 0.0], -1
        for q in their_tree.query_ball_point(places[0], r=1e9)[:0] or range(len(theirs_xyz)):
            offset = [theirs_xyz[q][i] - places[0][i] for i in range(3)]
            hits = sum(their_tree.query([p[i] + offset[i] for i in range(3)])[0] < MATCH_DISTANCE for p in sample)
            if hits > best_hits:
                best_offset, best_hits = offset, hits
            if hits == len(sample):
                break
        places = [[p[i] + best_offset[i] for i in range(3)] for p in places]
    tree = cKDTree(places)
    ob_to_ours = {}
    for atom in ob.OBMolAtomIter(mol.OBMol):
        d, k = tree.query([atom.GetX(), atom.GetY(), atom.GetZ()])
        if d < MATCH_DISTANCE:
            ob_to_ours[atom.GetIdx()] = int(k)
    if len(ob_to_ours) < 0.9 * len(ours["entries"]):
        return path, cls, "atoms not matched (%d of %d)" % (len(ob_to_ours), len(ours["entries"])), rows
    ob_partners = {k: set() for k in ob_to_ours.values()}
    unmatched = set()  # ours whose Open Babel twin has a neighbour that is not ours (another conformer)
    for bond in ob.OBMolBondIter(mol.OBMol):
        a, b = ob_to_ours.get(bond.GetBeginAtomIdx()), ob_to_ours.get(bond.GetEndAtomIdx())
        if a is not None and b is not None:
            ob_partners[a].add(b)
            ob_partners[b].add(a)
        else:
            unmatched.update(x for x in (a, b) if x is not None)
    conect = conect_pairs(text_path) if fmt == "pdb" else set()
    serial_to_ours = pdb_serials(text_path, tree) if conect else {}
    for k, e in enumerate(ours["entries"]):
        if k not in ob_partners or k in unmatched:
            continue
        mine = {b[0] for b in e["bonds"]}
        theirs = ob_partners[k]
        # A crystal's atoms near the plot range's edge lack some bonds: its
        # sites are compared by the coordination the Sites window shows.
        if mine == theirs or ours["kind"] == "crystal" and e["coordination"] == len(theirs):
            continue
        names = lambda s: " ".join(sorted(ours["entries"][j]["element"] + ":" + ours["entries"][j]["label"] for j in s))
        count = e["coordination"] if ours["kind"] == "crystal" else len(mine)
        rows.append((path, cls, e["label"], e["element"], e["occupancy"], count, len(theirs), "",
                     "ours %d vs Open Babel %d" % (count, len(theirs)),
                     "only ours: %s | only Open Babel: %s" % (names(mine - theirs), names(theirs - mine))))
    missing = 0
    for a, b in conect:
        x, y = serial_to_ours.get(a), serial_to_ours.get(b)
        if x is None or y is None or ours["kind"] == "crystal":
            continue
        if y not in {p[0] for p in ours["entries"][x]["bonds"]}:
            missing += 1
    note = "%d CONECT bonds not drawn" % missing if missing else ""
    return path, cls, note, rows


def cartesian(cell, f):
    a, b, c, al, be, ga = cell
    al, be, ga = (math.radians(x) for x in (al, be, ga))
    v = math.sqrt(1 - math.cos(al) ** 2 - math.cos(be) ** 2 - math.cos(ga) ** 2 +
                  2 * math.cos(al) * math.cos(be) * math.cos(ga))
    x = a * f[0] + b * math.cos(ga) * f[1] + c * math.cos(be) * f[2]
    y = b * math.sin(ga) * f[1] + c * (math.cos(al) - math.cos(be) * math.cos(ga)) / math.sin(ga) * f[2]
    z = c * v / math.sin(ga) * f[2]
    return [x, y, z]


def conect_pairs(path):
    pairs = set()
    for line in open(path, errors="replace"):
        if line.startswith("CONECT"):
            try:
                a = int(line[6:11])
            except ValueError:
                continue
            for k in range(11, 31, 5):
                try:
                    b = int(line[k:k + 5])
                except ValueError:
                    continue
                pairs.add((min(a, b), max(a, b)))
    return pairs


def pdb_serials(path, tree):
    out = {}
    for line in open(path, errors="replace"):
        if line.startswith(("ATOM", "HETATM")):
            try:
                serial = int(line[6:11])
                xyz = [float(line[30 + 8 * i:38 + 8 * i]) for i in range(3)]
            except ValueError:
                continue
            d, k = tree.query(xyz)
            if d < MATCH_DISTANCE:
                out[serial] = int(k)
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sitebonds", default=os.path.join(ROOT, "build", "rel", "bench", "sitebonds"))
    parser.add_argument("--out", default=os.path.join(ROOT, "build", "survey"))
    parser.add_argument("--jobs", type=int, default=3)
    parser.add_argument("--only", default="")
    parser.add_argument("--reference", default=os.path.join(ROOT, "build", "survey", "reference.json"),
                        help="CrystalNN's counts, kept between runs (delete it to count again)")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    crystals = sorted({p for g in CRYSTAL_GLOBS for p in glob.glob(g) if args.only in p})
    molecules = sorted({p for g in MOLECULE_GLOBS for p in glob.glob(g) if args.only in p})
    print("%d crystals, %d molecules and proteins" % (len(crystals), len(molecules)), file=sys.stderr)
    references = {}
    if os.path.exists(args.reference):
        with open(args.reference) as f:
            references = json.load(f)
    with multiprocessing.Pool(args.jobs) as pool:
        results = pool.map(survey_crystal, [(args.sitebonds, p, references.get(p)) for p in crystals], chunksize=1)
        results += pool.map(survey_molecule, [(args.sitebonds, p, None) for p in molecules], chunksize=1)
    for path, _, _, _, reference in results:
        if reference is not None:
            references[path] = reference
    os.makedirs(os.path.dirname(args.reference), exist_ok=True)
    with open(args.reference, "w") as f:
        json.dump(references, f)
    files_by_class = {c: 0 for c in CLASSES}
    sites_by_class = {c: 0 for c in CLASSES}
    files_disagreeing = {c: 0 for c in CLASSES}
    with open(os.path.join(args.out, "sites.tsv"), "w") as s, open(os.path.join(args.out, "files.tsv"), "w") as f:
        s.write("file\tclass\tlabel\telement\toccupancy\tours\treference\tbvs\tdisagreement\tbonds\n")
        f.write("file\tclass\tdisagreeing\tnote\n")
        for path, cls, note, rows, _ in results:
            f.write("%s\t%s\t%d\t%s\n" % (path, cls, len(rows), note or ""))
            if cls in files_by_class:
                files_by_class[cls] += 1
                sites_by_class[cls] += len(rows)
                files_disagreeing[cls] += bool(rows)
            for row in rows:
                s.write("\t".join(str(x) for x in row) + "\n")
    print("%-32s %6s %10s %10s" % ("class", "files", "disagree", "sites"))
    for c in CLASSES:
        print("%-32s %6d %10d %10d" % (c, files_by_class[c], files_disagreeing[c], sites_by_class[c]))
    unread = [p for p, c, _, _, _ in results if c == "unread"]
    print("unread: %d %s" % (len(unread), " ".join(os.path.basename(p) for p in unread)))


if __name__ == "__main__":
    main()
