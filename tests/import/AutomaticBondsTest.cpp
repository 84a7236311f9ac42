// The bonds drawn in structures opened from files that give none: textbook
// coordination of minerals, no bond between two anions or to a placeholder
// atom, none between alternative positions, and bonds that survive a small
// strain of the cell. The expected counts were checked against gemmi's cell
// expansion of the same files.
#include "ReaderTestSupport.h"

#include "../model/BondSearchReference.h"
#include "BondSearch.h"
#include "CellTransform.h"
#include "CovalentRadii.h"
#include "EditCrystalRecord.h"
#include "InferredOrientations.h"
#include "PlotRange.h"
#include "Polyhedra.h"
#include "Preferences.h"
#include "SiteBrowserData.h"
#include "StructureTransforms.h"
#include "documents/CrystalDocument.h"
#include "export/ExportFrame.h"
#include "export/OwnTextWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

namespace fs = std::filesystem;

fs::path BondsFile(const std::string &name) { return fs::path(OV_TEST_DATA) / "bonds" / name; }

std::string Symbol(ElementCode e) {
  char s[3] = {};
  ShortToTwoChars(e, s);
  return s[1] == ' ' ? std::string(1, s[0]) : std::string(s);
}

// Single-bond covalent radii (A), Cordero et al., Dalton Trans. (2008) 2832.
const std::map<std::string, double> kCovalent = {{"H", 0.31},  {"C", 0.76}, {"N", 0.71}, {"O", 0.66},  {"F", 0.57},
                                                 {"Si", 1.11}, {"P", 1.07}, {"S", 1.05}, {"Cl", 1.02}, {"Sb", 1.39}};
// The same paper's radii of metals, for the shortest-bond check.
const std::map<std::string, double> kMetalCovalent = {{"Mg", 1.41}, {"Ca", 1.76}, {"Na", 1.66}, {"K", 2.03},
                                                      {"Li", 1.28}, {"Pb", 1.46}, {"Cu", 1.32}, {"Np", 1.90},
                                                      {"Pu", 1.87}, {"Fe", 1.32}, {"Ba", 2.15}, {"Y", 1.90}};

double Distance(const CrystalRec &c, uint32_t a, uint32_t b) {
  const float *p = c.atoms[a].cart, *q = c.atoms[b].cart;
  return std::hypot(double(p[0]) - q[0], double(p[1]) - q[1], double(p[2]) - q[2]);
}

// A bond between two non-metals never runs beyond (rA + rB) x 1.15: no
// anion-anion contact and nothing between molecules. Answers the first
// offender, "" for none.
std::string LongNonMetalBond(const CrystalRec &c) {
  for (uint32_t a = 0; a < c.atoms.size(); a++)
    for (uint32_t b : c.atoms[a].bonds) {
      const auto ra = kCovalent.find(Symbol(c.sites[c.atoms[a].site].elements[0]));
      const auto rb = kCovalent.find(Symbol(c.sites[c.atoms[b].site].elements[0]));
      if (ra == kCovalent.end() || rb == kCovalent.end())
        continue;
      const double d = Distance(c, a, b);
      if (d > (ra->second + rb->second) * 1.15)
        return ra->first + "-" + rb->first + " " + std::to_string(d);
    }
  return "";
}

// The atoms whose every neighbour is drawn: in a crystal the plot range is
// widened to three cells per axis and the atoms of the middle cell taken.
std::vector<uint32_t> SurroundedAtoms(doctest::Window &w) {
  CrystalRec &c = w.crystal();
  std::vector<uint32_t> out;
  if (!c.molecule && !SetPlotRange(w.ref(), -1, 2, -1, 2, -1, 2))
    return out;
  for (uint32_t a = 0; a < c.atoms.size(); a++) {
    bool middle = true;
    for (int i = 0; i < 3 && !c.molecule; i++)
      middle = middle && c.atoms[a].xyz[i] >= c.plotRange[2 * i] + 1 && c.atoms[a].xyz[i] < c.plotRange[2 * i] + 2;
    if (middle)
      out.push_back(a);
  }
  return out;
}

// The bond counts of each site's surrounded atoms.
std::map<std::string, std::set<uint32_t>> Coordination(doctest::Window &w) {
  std::map<std::string, std::set<uint32_t>> out;
  for (uint32_t a : SurroundedAtoms(w))
    out[w.crystal().sites[w.crystal().atoms[a].site].label].insert(w.crystal().atoms[a].bondCount);
  return out;
}

// A CIF in the temporary folder of a cubic P 1 cell of the edge (A) and the
// rows (label, x, y, z, occupancy).
fs::path CubicP1File(const std::string &name, int edge, const std::string &rows) {
  const fs::path file = fs::path(testing::TempDir()) / name;
  const std::string a = std::to_string(edge);
  std::ofstream(file) << "data_p1\n_cell_length_a " << a << "\n_cell_length_b " << a << "\n_cell_length_c " << a
                      << "\n_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n"
                         "_symmetry_space_group_name_H-M 'P 1'\nloop_\n_atom_site_label\n_atom_site_fract_x\n"
                         "_atom_site_fract_y\n_atom_site_fract_z\n_atom_site_occupancy\n"
                      << rows;
  return file;
}

// The elements an atom is bonded to.
std::multiset<std::string> Partners(const CrystalRec &c, uint32_t a) {
  std::multiset<std::string> out;
  for (uint32_t b : c.atoms[a].bonds)
    out.insert(Symbol(c.sites[c.atoms[b].site].elements[0]));
  return out;
}

using Counts = std::map<std::string, std::set<uint32_t>>;

TEST(AutomaticBonds, MineralsGetTheirTextbookCoordination) {
  FakeHost host;
  const std::pair<const char *, Counts> cases[] = {
      {"silicon.cif", {{"Si1", {4}}}},
      {"gasb.cif", {{"Ga1", {4}}, {"Sb1", {4}}}},
      {"alp.cif", {{"Al1", {4}}, {"P1", {4}}}},
      {"stishovite.cif", {{"Si1", {6}}, {"O1", {3}}}},
      {"calcite.cif", {{"Ca1", {6}}, {"C1", {3}}, {"O1", {3}}}},
      {"rocksalt.cif", {{"Na1", {6}}, {"Cl1", {6}}}},
      {"brookite.cif", {{"Ti1", {6}}, {"O1", {3}}, {"O2", {3}}}},
      {"cuprite.cif", {{"Cu1", {2}}, {"O1", {4}}}},
      {"brucite.cif", {{"Mg1", {6}}, {"O1", {4}}, {"H1", {1}}}},
      {"corundum.cif", {{"Al1", {6}}, {"O1", {4}}}},
      {"periclase.cif", {{"Mg1", {6}}, {"O1", {6}}}},
      {"quartz.cif", {{"Si1", {4}}, {"O1", {2}}}},
      {"pyrite.cif", {{"Fe1", {6}}, {"S1", {4}}}},
      {"alpha_sulfur.cif", {{"S1", {2}}, {"S2", {2}}, {"S3", {2}}, {"S4", {2}}}},
  };
  for (const auto &[file, counts] : cases) {
    SCOPED_TRACE(file);
    doctest::Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), BondsFile(file)));
    EXPECT_EQ(Coordination(w), counts);
    EXPECT_EQ(LongNonMetalBond(w.crystal()), "");
  }
}

// Two half-occupied images 0.94 A apart cannot both be there: each bonds to
// S1 and its image only.
TEST(AutomaticBonds, AlternativePositionsAreNeverBondedToEachOther) {
  FakeHost host;
  doctest::Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), BondsFile("sulfur_alternatives.cif")));
  EXPECT_EQ(Coordination(w), (Counts{{"S1", {2}}, {"S2", {2}}}));
}

// A water model's massless charge sites (placeholders) bond to nothing, so
// hydrogen-bonded waters stay apart; NF3 molecules 2.73 A apart keep their
// own three N-F bonds and no F-F or intermolecular N-F contact.
TEST(AutomaticBonds, PlaceholdersAndContactsBetweenMoleculesStayUnbonded) {
  FakeHost host;
  const std::pair<const char *, std::map<std::string, std::multiset<std::string>>> cases[] = {
      {"tip4p_chain.xyz", {{"O", {"H", "H"}}, {"H", {"O"}}, {"Xx", {}}}},
      {"nf3_pair.xyz", {{"N", {"F", "F", "F"}}, {"F", {"N"}}}},
  };
  for (const auto &[file, partners] : cases) {
    SCOPED_TRACE(file);
    doctest::Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), BondsFile(file)));
    const std::vector<uint32_t> atoms = SurroundedAtoms(w);
    const CrystalRec &c = w.crystal();
    EXPECT_EQ(atoms.size(), c.molecule ? 8u : 16u);
    for (uint32_t a : atoms)
      EXPECT_EQ(Partners(c, a), partners.at(Symbol(c.sites[c.atoms[a].site].elements[0]))) << "atom " << a;
  }
}

// Edit Crystal with a cell 2 % longer keeps the bond specifications the
// automatic search made, and they still find every bond.
TEST(AutomaticBonds, CalciteStrainedByTwoPerCentKeepsItsBonds) {
  FakeHost host;
  gPrefs = gFactoryPrefs;
  doctest::Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), BondsFile("calcite.cif")));
  EditCrystalRec r;
  ASSERT_EQ(FillEditCrystalRecFromCrystal(&w.crystal(), &r), 0);
  ResolveEditSiteAtomTypes(&r, gPrefs);
  float cell[6] = {r.a * 1.02f, r.b * 1.02f, r.c * 1.02f, r.alpha, r.beta, r.gamma};
  ASSERT_EQ(CheckEditCrystalForApply(&r, r.spaceGroup, cell).result, EditCheckResult::kAccepted);
  host.alerts.clear();
  ASSERT_TRUE(DoEditCrystal(w.ref(), &r));
  for (const auto &alert : host.alerts)
    EXPECT_NE(alert.message, "No bonds found!");
  EXPECT_NEAR(w.crystal().a, 4.9896 * 1.02, 1e-3);
  EXPECT_EQ(Coordination(w), (Counts{{"Ca1", {6}}, {"C1", {3}}, {"O1", {3}}}));
}

// The bonds drawn, each once.
size_t BondsDrawn(const CrystalRec &c) {
  size_t ends = 0;
  for (const AtomRecord &atom : c.atoms)
    ends += atom.bondCount;
  return ends / 2;
}

bool Bonded(const CrystalRec &c, uint32_t a, uint32_t b) {
  return std::find(c.atoms[a].bonds.begin(), c.atoms[a].bonds.end(), b) != c.atoms[a].bonds.end();
}

// A few records written by hand to a file and opened as File > Open opens
// it, in a window that lives as long as this; the file goes with it.
struct HandWrittenFile {
  HandWrittenFile(FakeHost &host, const std::string &name, const std::string &records)
      : file(fs::path(testing::TempDir()) / name), w(host) {
    std::ofstream(file) << records;
    opened = OpenTextFile(w.ref(), file);
  }
  ~HandWrittenFile() { fs::remove(file); }
  fs::path file;
  doctest::Window w;
  bool opened = false;
};

// CONECT names a ligand and a disulfide; the residues' bonds are implied.
// Counted by hand: Cys 5, Met 7, Cys 5, Ala 4, two peptide bonds, the
// disulfide, ethanol's 8: 32; the water none. The same atoms in a large P 1
// cell draw the same bonds. pymol-tiny.pdb: Thr's C=O, two peptide bonds,
// Pro 14, Ser 10 and the furan's 9 given by CONECT: 36.
TEST(AutomaticBonds, AFileGivingSomeBondsLeavesTheRestToTheAutomaticRule) {
  FakeHost host;
  std::stringstream fragment;
  fragment << std::ifstream(BondsFile("protein_fragment.pdb")).rdbuf();
  const fs::path crystal = fs::path(testing::TempDir()) / "protein_fragment_p1.pdb";
  std::ofstream(crystal) << "CRYST1   80.000   80.000   80.000  90.00  90.00  90.00 P 1           1\n"
                         << fragment.str();
  const std::pair<fs::path, size_t> cases[] = {
      {BondsFile("protein_fragment.pdb"), 32}, {crystal, 32}, {BondsFile("pymol-tiny.pdb"), 36}};
  for (const auto &[file, bonds] : cases) {
    SCOPED_TRACE(file.filename().string());
    host.log.clear();
    doctest::Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), file));
    const CrystalRec &c = w.crystal();
    EXPECT_EQ(BondsDrawn(c), bonds);
    EXPECT_NE(host.log.find("bond(s) given by the file join"), std::string::npos) << host.log;
    if (c.molecule && bonds == 32) {
      EXPECT_TRUE(Bonded(c, 5, 19)); // the disulfide, as CONECT gives it
      EXPECT_TRUE(Bonded(c, 5, 4));  // its sulphur to its carbon
      EXPECT_TRUE(Bonded(c, 8, 14)); // a peptide bond
      EXPECT_EQ(c.atoms[34].bondCount, 0u);
    }
  }
  fs::remove(crystal);
}

// A bond the file lists beyond the rule's limit of its pair still makes its
// anion a neighbour of the metal for the metals' verdicts: the sodium's
// listed O at 3.30 A (beyond the Na-O limit) is 1.50 A from an S that lies
// 3.50 A from the sodium, within the Na-S limit, so that S is a second
// neighbour, not a bond. Positions placed by hand (law of cosines).
TEST(AutomaticBonds, AListedBondBeyondTheRulesLimitStillMakesSecondNeighbours) {
  FakeHost host;
  HandWrittenFile pdb(host, "sodium_listed_oxygen.pdb",
                      "HETATM    1 NA    NA A   1       0.000   0.000   0.000  1.00 10.00          NA\n"
                      "HETATM    2  O   OXS A   2       3.300   0.000   0.000  1.00 10.00           O\n"
                      "HETATM    3  S   OXS A   2       3.167   1.494   0.000  1.00 10.00           S\n"
                      "CONECT    1    2\n"
                      "END\n");
  ASSERT_TRUE(pdb.opened);
  const CrystalRec &c = pdb.w.crystal();
  ASSERT_EQ(c.atoms.size(), 3u);
  EXPECT_TRUE(Bonded(c, 0, 1)); // as the file lists it
  EXPECT_TRUE(Bonded(c, 1, 2)); // S-O by the rule
  EXPECT_FALSE(Bonded(c, 0, 2)) << host.log;
}

// The labels of the partners of each surrounded atom of a site whose bonds
// run from lo to hi A, one multiset per atom.
std::set<std::multiset<std::string>> PartnersWithin(doctest::Window &w, const std::string &label, double lo,
                                                    double hi) {
  std::set<std::multiset<std::string>> out;
  const std::vector<uint32_t> atoms = SurroundedAtoms(w);
  const CrystalRec &c = w.crystal();
  for (uint32_t a : atoms) {
    if (c.sites[c.atoms[a].site].label != label)
      continue;
    std::multiset<std::string> partners;
    for (uint32_t b : c.atoms[a].bonds)
      if (const double d = Distance(c, a, b); d >= lo && d <= hi)
        partners.insert(c.sites[c.atoms[b].site].label);
    out.insert(partners);
  }
  return out;
}

// beta-sulfur: every atom of its S8 rings, S1-S16, bonded to two.
Counts BetaSulfur() {
  Counts out;
  for (int k = 1; k <= 16; k++)
    out["S" + std::to_string(k)] = {2};
  return out;
}

// The kinds of bond drawn: the two site labels and the length to 0.01 A.
std::set<std::tuple<std::string, std::string, long>> BondKinds(const CrystalRec &c) {
  std::set<std::tuple<std::string, std::string, long>> out;
  for (uint32_t a = 0; a < c.atoms.size(); a++)
    for (uint32_t b : c.atoms[a].bonds) {
      std::string x = c.sites[c.atoms[a].site].label, y = c.sites[c.atoms[b].site].label;
      if (y < x)
        std::swap(x, y);
      out.emplace(x, y, std::lround(Distance(c, a, b) * 100));
    }
  return out;
}

// The disorder a file describes decides which partly occupied atoms are
// alternatives; occupancy alone parts no two sites; where the file says
// nothing, a half-occupied group that meets its own images closer than any
// bond lies about a special position in several orientations. The counts
// come from the files' own positions: for the hand-placed files as their
// comments give them, for hematite (O split at 0.5) from the file's
// operators and a distance check at the pairs' limits (Python with gemmi's
// CIF reading), the images of one half site left out. The A-La2O3 file
// averages the P-3m1 structure with its image through z -> 1/2 - z, every
// site at 0.5: its counts are the textbook ones (La 4 + 3, O1 octahedral,
// O2 4), found again with gemmi on P-3m1 from the file's positions; beta
// sulfur's S8 rings are every atom 2-coordinated.
// A disordered crystal's sites count one partner per set of alternatives,
// as the Sites window shows them after the open: the counts the files'
// geometry gives (every beta-sulfur atom in its ring; the hand-placed files
// as their comments give them). The open reads the neighbours from the pairs
// the automatic search found over the same cells, and a later count searches
// for itself (as a rebuild does): both give every site the same number.
TEST(AutomaticBonds, SiteCoordinationOfTheOpenIsTheCountsOwn) {
  FakeHost host;
  const std::pair<const char *, std::map<std::string, uint32_t>> cases[] = {
      {"S8-Sulfur-beta.cif", {}}, // every site 2
      {"sulfur_alternatives.cif", {{"S1", 1}, {"S2", 2}}},
      {"disorder_assemblies.cif", {{"C0", 2}, {"C1", 3}, {"C2", 1}, {"N3", 1}, {"N4", 1}}},
      {"negative_part.ins", {{"N1", 1}, {"C1", 2}, {"C2", 1}}},
  };
  const auto shown = [](CrystalRec &c) {
    std::map<std::string, std::string> out;
    for (size_t s = 0; s < c.sites.size(); s++) {
      const std::string text = SiteBrowserCoordinationText(&c, SiteItem(static_cast<int32_t>(s)));
      out[c.sites[s].label] = text.substr(0, text.find(']') + 1);
    }
    return out;
  };
  for (const auto &[file, counts] : cases) {
    SCOPED_TRACE(file);
    doctest::Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), BondsFile(file)));
    CrystalRec &c = w.crystal();
    const std::map<std::string, std::string> opened = shown(c);
    ASSERT_EQ(opened.size(), c.sites.size());
    for (const auto &[label, text] : opened)
      EXPECT_EQ(text, "[" + std::to_string(counts.empty() ? 2u : counts.at(label)) + "]") << label;
    ASSERT_TRUE(TurboGetCoordinationNumbers(&c, nullptr));
    EXPECT_EQ(shown(c), opened);
  }
}

TEST(AutomaticBonds, OnlyTrueAlternativesAreKeptApart) {
  FakeHost host;
  const std::pair<const char *, Counts> cases[] = {
      // Groups 1 and 2 of one assembly are alternatives; groups of two
      // assemblies bond.
      {"disorder_assemblies.cif", {{"C0", {2}}, {"C1", {3}}, {"C2", {1}}, {"N3", {1}}, {"N4", {1}}}},
      // PART -1 about a centre: C1-C2 within one image, not C1 to the other
      // image's C2 (1.40 A).
      {"negative_part.ins", {{"N1", {1}}, {"C1", {2}}, {"C2", {1}}}},
      {"La2O3-LanthanumOxide-A.cif", {{"La1", {7}}, {"O1", {6}}, {"O2", {4}}}},
      {"Fe2O3-Hematite.cif", {{"Fe1", {12}}, {"O1", {4}}}},
      {"S8-Sulfur-beta.cif", BetaSulfur()},
      // Residues 1-8 of the mmCIF 4I39 (P 63), every atom at A and B, 0.5:
      // the kept conformer A bonded as one whole part, each atom name's
      // counts found with gemmi (conformer A, 1.15 x the covalent radii).
      {"4i39_fragment.cif",
       {{"C", {2, 3}}, {"CA", {2, 3}}, {"CB", {1, 2, 3}}, {"CD", {3}},  {"CD1", {2}}, {"CD2", {2}}, {"CE", {1}},
        {"CE1", {2}},  {"CE2", {2}},   {"CG", {2, 3}},    {"CG1", {1}}, {"CG2", {1}}, {"CZ", {2}},  {"N", {1, 2}},
        {"ND1", {2}},  {"NE2", {2}},   {"O", {1}},        {"OE1", {1}}, {"OE2", {1}}, {"OG", {1}},  {"SD", {2}}}},
  };
  for (const auto &[file, counts] : cases) {
    SCOPED_TRACE(file);
    doctest::Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), BondsFile(file)));
    EXPECT_EQ(Coordination(w), counts);
  }
  // The orientations do not hang on the order of the sites: the same files
  // with their site rows reversed.
  for (const char *file : {"S8-Sulfur-beta.cif", "La2O3-LanthanumOxide-A.cif"}) {
    SCOPED_TRACE(file);
    std::ifstream in(BondsFile(file));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
      lines.push_back(line);
    size_t first = 0;
    for (size_t k = 0; k < lines.size(); k++)
      if (lines[k].rfind("_atom_site_fract_x", 0) == 0)
        first = k;
    while (first < lines.size() && lines[first].rfind("_", 0) == 0)
      first++;
    size_t last = first;
    while (last < lines.size() && !lines[last].empty() && lines[last][0] != '_' && lines[last][0] != '#')
      last++;
    ASSERT_GT(last, first + 1);
    std::reverse(lines.begin() + static_cast<std::ptrdiff_t>(first), lines.begin() + static_cast<std::ptrdiff_t>(last));
    const fs::path reversed = fs::path(testing::TempDir()) / (std::string("reversed_") + file);
    std::ofstream out(reversed);
    for (const std::string &line : lines)
      out << line << "\n";
    out.close();
    doctest::Window w(host), given(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), reversed));
    ASSERT_TRUE(OpenTextFile(given.ref(), BondsFile(file)));
    EXPECT_EQ(Coordination(w), Coordination(given));
    EXPECT_EQ(BondKinds(w.crystal()), BondKinds(given.crystal()));
    fs::remove(reversed);
  }

  // thpp: C7a (PART 1) and C7b (PART 2) 0.69 A apart each bond to C6 and N8
  // (1.35-1.50 A), never to each other.
  {
    doctest::Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), BondsFile("thpp.ins")));
    for (const char *label : {"C7a", "C7b"})
      EXPECT_EQ(PartnersWithin(w, label, 0.0, 9.0), (std::set<std::multiset<std::string>>{{"C6", "N8"}})) << label;
  }
  // beta-sulfur: the half-occupied ring S9-S16 keeps its eight S-S bonds of
  // 2.02-2.05 A and nothing else (the file's positions; the other ring
  // orientation is the image through the centre, 0.94-1.88 A away).
  {
    doctest::Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), BondsFile("S8-Sulfur-beta.cif")));
    for (int k = 9; k <= 16; k++) {
      const std::string label = "S" + std::to_string(k);
      const std::multiset<std::string> ring = {"S" + std::to_string(k == 9 ? 16 : k - 1),
                                               "S" + std::to_string(k == 16 ? 9 : k + 1)};
      EXPECT_EQ(PartnersWithin(w, label, 0.0, 9.0), (std::set<std::multiset<std::string>>{ring})) << label;
      EXPECT_EQ(PartnersWithin(w, label, 2.02, 2.06), (std::set<std::multiset<std::string>>{ring})) << label;
    }
  }
  // Burkeite: the sulfate S2 (0.5) lies across a mirror in two orientations;
  // each bonds its own four oxygens at 1.47-1.49 A (O5 and its mirror image,
  // O6, O7), not the other orientation's; the mixed site of S 0.51 and C
  // 0.49, named S1 after its larger share, bonds oxygens.
  {
    doctest::Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), fs::path(OV_TEST_DATA) / "import" / "cif" / "gdis_burk1.cif"));
    EXPECT_EQ(PartnersWithin(w, "S2", 0.0, 9.0), (std::set<std::multiset<std::string>>{{"O5", "O5", "O6", "O7"}}));
    EXPECT_EQ(PartnersWithin(w, "S2", 1.46, 1.50), (std::set<std::multiset<std::string>>{{"O5", "O5", "O6", "O7"}}));
    const auto mixed = PartnersWithin(w, "S1", 1.2, 1.6);
    EXPECT_FALSE(mixed.empty());
    for (const auto &partners : mixed) {
      EXPECT_FALSE(partners.empty());
      for (const std::string &p : partners)
        EXPECT_EQ(p[0], 'O');
    }
  }
}

// The orientations one structure inferred are shared with the next whose
// inputs are the same, never with one whose inputs only share their digest:
// with every digest forced to one value, each file opened after the other
// gets the counts it gets alone (OnlyTrueAlternativesAreKeptApart).
TEST(AutomaticBonds, FilesWhoseInputsShareADigestEachGetTheirOwnOrientations) {
  struct ForcedDigest {
    ForcedDigest() { ForceOrientationKeyForTests(0x5eedu); }
    ~ForcedDigest() { ForceOrientationKeyForTests(0); }
  } forced;
  FakeHost host;
  const Counts lanthana = {{"La1", {7}}, {"O1", {6}}, {"O2", {4}}};
  const struct {
    const char *first, *second;
    Counts counts;
  } rows[] = {
      {"La2O3-LanthanumOxide-A.cif", "S8-Sulfur-beta.cif", BetaSulfur()},
      {"S8-Sulfur-beta.cif", "La2O3-LanthanumOxide-A.cif", lanthana},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.second);
    doctest::Window before(host), w(host);
    ASSERT_TRUE(OpenTextFile(before.ref(), BondsFile(row.first)));
    ASSERT_TRUE(OpenTextFile(w.ref(), BondsFile(row.second)));
    EXPECT_EQ(Coordination(w), row.counts);
  }
}

// Beta-sulfur's half ring S9-S16 is found from places, whichever operator
// the file writes a row under: with S12 written as its image under another
// operator of P 2(1)/c, every S-S bond is still a ring bond of 2.02-2.05 A
// (the lengths of both rings, computed by hand from the file's cell and
// positions); the other ring orientation lies 0.94-1.88 A away.
TEST(AutomaticBonds, ARingRowWrittenUnderAnotherOperatorKeepsItsOrientation) {
  FakeHost host;
  std::ifstream in(BondsFile("S8-Sulfur-beta.cif"));
  std::stringstream text;
  text << in.rdbuf();
  const std::string given = text.str();
  const std::string row = "S12 -0.15530 0.12730 0.07900 0.50000";
  ASSERT_NE(given.find(row), std::string::npos);
  const std::pair<const char *, const char *> rewritten[] = {
      {"as written", "S12 -0.15530 0.12730 0.07900 0.50000"},
      {"x, 1/2-y, 1/2+z", "S12 -0.15530 0.37270 0.57900 0.50000"},
      {"-x, -y, -z", "S12 0.15530 -0.12730 -0.07900 0.50000"},
  };
  for (const auto &[op, line] : rewritten) {
    SCOPED_TRACE(op);
    std::string cif = given;
    cif.replace(cif.find(row), row.size(), line);
    const fs::path file = fs::path(testing::TempDir()) / "beta_sulfur_rewritten.cif";
    std::ofstream(file) << cif;
    doctest::Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), file));
    const CrystalRec &c = w.crystal();
    size_t bonds = 0;
    for (uint32_t a = 0; a < c.atoms.size(); a++)
      for (uint32_t b : c.atoms[a].bonds) {
        const double d = Distance(c, a, b);
        EXPECT_TRUE(d >= 2.02 && d <= 2.055) << c.sites[c.atoms[a].site].label << "-"
                                             << c.sites[c.atoms[b].site].label << " " << d;
        bonds++;
      }
    EXPECT_GT(bonds, 0u);
    fs::remove(file);
  }
}

// The pairs of alternatives among many atoms are counted without walking
// every pair, and the count is the pair by pair one, for the file's
// assemblies, a negative group, the images of a half site and an inferred
// ring, whichever order the atoms are given in (ascending, descending, odd
// atoms before even ones).
TEST(AutomaticBonds, PairsOfAlternativesAreCountedAsPairByPair) {
  FakeHost host;
  // A half-occupied atom at the corner of a P 1 cell: its eight atoms in
  // the cell's corners are images of one site, and alternatives.
  const fs::path corner = CubicP1File("half_corner.cif", 5, "Na1 0 0 0 0.5\nCl1 0.5 0.5 0.5 1\n");
  // Partly occupied sites of no group, their occupancies out of order.
  const fs::path partial = CubicP1File("partial_rows.cif", 5,
                                       "Na1 0 0 0 0.5\nK1 0.25 0.25 0.25 0.3\nK2 0.3 0.3 0.3 0.6\nCl1 0.5 0.5 0.5 1\n");
  for (const fs::path &file : {BondsFile("disorder_assemblies.cif"), BondsFile("negative_part.ins"),
                               BondsFile("S8-Sulfur-beta.cif"), BondsFile("thpp.ins"), corner, partial}) {
    SCOPED_TRACE(file.filename().string());
    doctest::Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), file));
    CrystalRec &c = w.crystal();
    const SiteAlternatives alternatives(c);
    std::vector<uint32_t> atoms(c.atoms.size());
    std::iota(atoms.begin(), atoms.end(), 0u);
    uint64_t apart = 0;
    for (uint32_t a = 0; a < atoms.size(); a++)
      for (uint32_t b = a + 1; b < atoms.size(); b++)
        apart += !alternatives.AtomsMayBond(a, b);
    EXPECT_GT(apart, 0u);
    // As though every atom stood at one place, partly occupied sites that
    // cannot both be there are apart too.
    uint64_t apartAtOnePlace = 0;
    for (uint32_t a = 0; a < atoms.size(); a++)
      for (uint32_t b = a + 1; b < atoms.size(); b++)
        apartAtOnePlace += !alternatives.AtomsMayBondAt(a, b, 0.0f);
    std::vector<uint32_t> descending(atoms.rbegin(), atoms.rend()), oddFirst;
    for (const uint32_t first : {1u, 0u})
      for (uint32_t a = first; a < atoms.size(); a += 2)
        oddFirst.push_back(a);
    for (const std::vector<uint32_t> *order : {&atoms, &descending, &oddFirst}) {
      EXPECT_EQ(alternatives.PairsApart(*order), apart);
      EXPECT_EQ(alternatives.PairsApart(*order) + alternatives.PartialPairsApartAtOnePlace(*order), apartAtOnePlace);
    }
  }
  fs::remove(corner);
  fs::remove(partial);
}

// A centre's neighbours counted one per partner, against every pair of
// them judged: places of one partner are alternatives closer than 0.8 times
// their covalent radii's sum, chains of them one partner, and the place of
// the largest occupancy (the first of equals) stands for it. Every atom of
// three cells of each real disordered file is a centre, its neighbours
// those within 3.5 A, given in ascending and in descending atom order.
TEST(AutomaticBonds, PartnersAreThoseOfEveryPairJudged) {
  FakeHost host;
  constexpr double kNeighbourReach = 3.5;
  // An oxygen split over two places of no group, 0.6 and 0.4, around a
  // sodium: only its occupancies make the two places alternatives.
  const fs::path split =
      CubicP1File("split_oxygen.cif", 6, "Na1 0.5 0.5 0.5 1\nO1 0.5 0.5 0.85 0.6\nO2 0.55 0.5 0.86 0.4\n");
  for (const fs::path &file :
       {fs::path(OV_TEST_DATA) / "import" / "cif" / "gdis_burk1.cif", BondsFile("S8-Sulfur-beta.cif"),
        BondsFile("thpp.ins"), BondsFile("hashizume_ethyl368K.cif"), BondsFile("brucite_split_h.cif"), split}) {
    SCOPED_TRACE(file.filename().string());
    doctest::Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), file));
    const std::vector<uint32_t> centres = SurroundedAtoms(w);
    const CrystalRec &c = w.crystal();
    const SiteAlternatives alternatives(c);
    ASSERT_TRUE(alternatives.Any());
    const auto occupancy = [&](uint32_t atom) {
      const AsymmetricUnitRecord &site = c.sites[c.atoms[atom].site];
      float sum = 0.0f;
      for (int k = 0; k < kMaxSiteElements; k++)
        if (site.elements[k] != kBlankElement && site.occupancies[k] > 0.0f)
          sum += site.occupancies[k];
      return sum;
    };
    const auto radius = [&](uint32_t atom) {
      const CovalentRadiusRow *row = FindCovalentRadius(c.sites[c.atoms[atom].site].elements[0]);
      return row ? row->radius : 0.0f;
    };
    uint64_t joined = 0;
    for (uint32_t centre : centres) {
      std::vector<uint32_t> atoms;
      for (uint32_t b = 0; b < c.atoms.size(); b++)
        if (b != centre && Distance(c, centre, b) <= kNeighbourReach)
          atoms.push_back(b);
      for (bool descending : {false, true}) {
        if (descending)
          std::reverse(atoms.begin(), atoms.end());
        std::vector<std::array<float, 3>> places;
        for (uint32_t b : atoms)
          places.push_back({c.atoms[b].cart[0], c.atoms[b].cart[1], c.atoms[b].cart[2]});
        // Every pair judged; each partner's members, by their first.
        const size_t n = atoms.size();
        std::vector<uint32_t> group(n);
        std::iota(group.begin(), group.end(), 0u);
        for (size_t a = 0; a < n; a++)
          for (size_t b = a + 1; b < n; b++) {
            const float dx = places[a][0] - places[b][0], dy = places[a][1] - places[b][1],
                        dz = places[a][2] - places[b][2];
            const float d2 = dx * dx + dy * dy + dz * dz;
            const float reach = kPartialAlternativeFactor * (radius(atoms[a]) + radius(atoms[b]));
            if (atoms[a] == atoms[b] || !(d2 < reach * reach) || alternatives.AtomsMayBondAt(atoms[a], atoms[b], d2))
              continue;
            const uint32_t from = group[b], to = group[a];
            if (from != to)
              joined++;
            for (uint32_t &g : group)
              if (g == from)
                g = to;
          }
        std::vector<uint32_t> expected(n);
        std::set<uint32_t> partners;
        for (size_t k = 0; k < n; k++) {
          partners.insert(group[k]);
          uint32_t best = UINT32_MAX;
          for (uint32_t j = 0; j < n; j++)
            if (group[j] == group[k] && (best == UINT32_MAX || occupancy(atoms[j]) > occupancy(atoms[best]) ||
                                         (occupancy(atoms[j]) == occupancy(atoms[best]) && j < best)))
              best = j;
          expected[k] = best;
        }
        std::vector<uint32_t> stands;
        ASSERT_EQ(CountPartners(alternatives, atoms, places, &stands), partners.size()) << "centre " << centre;
        ASSERT_EQ(stands, expected) << "centre " << centre;
      }
    }
    EXPECT_GT(joined, 0u);
  }
  fs::remove(split);
}

// The coordination numbers of real structures, every pair limit's
// candidates gathered for it alone (the reference search), whatever the
// search shares between pair limits: the automatic rule's and a longer
// one that reaches the second neighbours of one element.
TEST(AutomaticBonds, CoordinationCountsEachPairLimitAsThoughAlone) {
  FakeHost host;
  const struct {
    const char *file;
    const char *longer[2]; // the elements of the longer pair limit
    float maxLength;
  } rows[] = {
      {"calcite.cif", {"O", "O"}, 4.5f}, {"forsterite.cif", {"Mg", "O"}, 3.6f}, {"anhydrite.cif", {"S", "O"}, 3.3f},
      {"barite.cif", {"O", "O"}, 3.2f},  {"corundum.cif", {"Al", "Al"}, 3.0f},  {"brookite.cif", {"O", "Ti"}, 3.5f},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.file);
    doctest::Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), BondsFile(row.file)));
    CrystalRec &c = w.crystal();
    ASSERT_GE(c.bondSpecCount, 1);
    BondSpec longer = c.bondSpecs[0];
    longer.elementA = TwoCharsToShort(row.longer[0]);
    longer.elementB = TwoCharsToShort(row.longer[1]);
    longer.minLength = 0.0f;
    longer.maxLength = row.maxLength;
    for (const bool withLonger : {false, true}) {
      if (withLonger)
        c.bondSpecs[static_cast<size_t>(c.bondSpecCount++)] = longer;
      ASSERT_TRUE(TurboGetCoordinationNumbers(&c, nullptr));
      std::vector<uint32_t> found;
      for (int32_t s = 0; s < c.siteCount; s++)
        found.push_back(c.sites[static_cast<size_t>(s)].coordination);
      EXPECT_EQ(found, bondref::CoordinationNumbers(c).numbers) << "with the longer pair limit: " << withLonger;
    }
  }
}

// Every atom of the fragment stands at two alternate locations, 0.5 each.
// The conformer kept is one whole part: Met 7, Cys 5, Ala 4 and two peptide
// bonds, 18 counted by hand, in the PDB file and in its mmCIF twin alike.
TEST(AutomaticBonds, TheKeptConformerIsBondedAlikeFromPDBAndMMCIF) {
  FakeHost host;
  for (const char *file : {"altloc_fragment.pdb", "altloc_fragment.cif"}) {
    SCOPED_TRACE(file);
    doctest::Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), BondsFile(file)));
    EXPECT_EQ(w.crystal().atoms.size(), 19u);
    EXPECT_EQ(BondsDrawn(w.crystal()), 18u);
  }
}

// The disorder stays with the structure: saved and reopened (the document,
// whose encoding the undo states share, and the own text format), through
// Edit Crystal and Discard Symmetry, the automatic search draws the same
// bonds as the file did.
TEST(AutomaticBonds, DisorderSurvivesSavingEditingAndDiscardingSymmetry) {
  FakeHost host;
  gPrefs = gFactoryPrefs;
  const fs::path dir = fs::path(testing::TempDir()) / "disorder_kept";
  fs::create_directories(dir);
  const std::pair<const char *, Counts> cases[] = {
      {"disorder_assemblies.cif", {{"C0", {2}}, {"C1", {3}}, {"C2", {1}}, {"N3", {1}}, {"N4", {1}}}},
      {"negative_part.ins", {{"N1", {1}}, {"C1", {2}}, {"C2", {1}}}},
      {"Fe2O3-Hematite.cif", {{"Fe1", {12}}, {"O1", {4}}}},
      {"La2O3-LanthanumOxide-A.cif", {{"La1", {7}}, {"O1", {6}}, {"O2", {4}}}},
      {"S8-Sulfur-beta.cif", BetaSulfur()},
  };
  for (const auto &[file, counts] : cases) {
    SCOPED_TRACE(file);
    doctest::Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), BondsFile(file)));
    ASSERT_EQ(Coordination(w), counts);

    const fs::path document = dir / "kept.ovdf";
    ASSERT_TRUE(DoWriteCrystalFile(w.ref(), document));
    doctest::Window reopened(host);
    ASSERT_TRUE(OpenCrystalFile(reopened.ref(), document));
    AutoGenerateBonds(reopened.ref());
    EXPECT_EQ(Coordination(reopened), counts) << "document";

    const fs::path text = dir / "kept.ovtx";
    ASSERT_TRUE(DoWriteTextFile(w.crystal(), "kept", "", text));
    doctest::Window fromText(host);
    ASSERT_TRUE(OpenTextFile(fromText.ref(), text));
    EXPECT_EQ(Coordination(fromText), counts) << "text format";

    EditCrystalRec r;
    ASSERT_EQ(FillEditCrystalRecFromCrystal(&w.crystal(), &r), 0);
    ResolveEditSiteAtomTypes(&r, gPrefs);
    float cell[6] = {r.a, r.b, r.c, r.alpha, r.beta, r.gamma};
    ASSERT_EQ(CheckEditCrystalForApply(&r, r.spaceGroup, cell).result, EditCheckResult::kAccepted);
    ASSERT_TRUE(DoEditCrystal(w.ref(), &r));
    AutoGenerateBonds(w.ref());
    EXPECT_EQ(Coordination(w), counts) << "Edit Crystal";

    ASSERT_TRUE(DiscardSymmetry(w.ref()));
    AutoGenerateBonds(w.ref());
    EXPECT_EQ(Coordination(w), counts) << "Discard Symmetry";

    // Crystal to Molecule: the atoms drawn become the molecule's, and its
    // automatic bonds are of the kinds the crystal drew.
    doctest::Window molecule(host);
    ASSERT_TRUE(OpenTextFile(molecule.ref(), BondsFile(file)));
    const auto kinds = BondKinds(molecule.crystal());
    CrystalToMolecule(molecule.ref());
    ASSERT_TRUE(molecule.crystal().molecule);
    AutoGenerateBonds(molecule.ref());
    for (const auto &kind : BondKinds(molecule.crystal()))
      EXPECT_TRUE(kinds.count(kind)) << "Crystal to Molecule: " << std::get<0>(kind) << "-" << std::get<1>(kind) << " "
                                     << std::get<2>(kind) / 100.0;
  }
  fs::remove_all(dir);
}

// Each surrounded atom's partners, element by element ("Ca2 S1"), per site.
std::map<std::string, std::set<std::string>> PartnerCounts(doctest::Window &w) {
  std::map<std::string, std::set<std::string>> out;
  const CrystalRec &c = w.crystal();
  for (uint32_t a : SurroundedAtoms(w)) {
    std::map<std::string, int> count;
    for (const std::string &e : Partners(c, a))
      count[e]++;
    std::string text;
    for (const auto &[e, n] : count)
      text += (text.empty() ? "" : " ") + e + std::to_string(n);
    out[c.sites[c.atoms[a].site].label].insert(text);
  }
  return out;
}

// A bond shorter than 0.7 x the covalent radii's sum (no real bond is: a
// triple bond is about 0.8 x), or 0.65 x for two metals (a Mo-Mo quadruple
// bond is 0.68 x, the light actinides' shortest bonds 0.67 x), "" for none.
std::string TooShortBond(const CrystalRec &c) {
  const auto radius = [](const std::string &e) {
    const auto k = kCovalent.find(e);
    const auto m = kMetalCovalent.find(e);
    return k != kCovalent.end() ? k->second : m != kMetalCovalent.end() ? m->second : 0.0;
  };
  for (uint32_t a = 0; a < c.atoms.size(); a++)
    for (uint32_t b : c.atoms[a].bonds) {
      const std::string ea = Symbol(c.sites[c.atoms[a].site].elements[0]);
      const std::string eb = Symbol(c.sites[c.atoms[b].site].elements[0]);
      const double d = Distance(c, a, b);
      const bool metals = kMetalCovalent.count(ea) && kMetalCovalent.count(eb);
      if (radius(ea) > 0 && radius(eb) > 0 && d < (metals ? 0.65 : 0.7) * (radius(ea) + radius(eb)))
        return ea + "-" + eb + " " + std::to_string(d);
    }
  return "";
}

// The element pairs bonded anywhere in the structure, as "Ca-S" (in
// alphabetical order).
std::set<std::string> BondedPairs(const CrystalRec &c) {
  std::set<std::string> out;
  for (uint32_t a = 0; a < c.atoms.size(); a++)
    for (uint32_t b : c.atoms[a].bonds) {
      std::string ea = Symbol(c.sites[c.atoms[a].site].elements[0]);
      std::string eb = Symbol(c.sites[c.atoms[b].site].elements[0]);
      if (eb < ea)
        std::swap(ea, eb);
      out.insert(ea + "-" + eb);
    }
  return out;
}

// Salts bond cations to anions: a metal that shares an oxygen with an
// oxyanion's centre, or with another cation, is its second neighbour
// (sulfate S 4, phosphate P 4, garnet Si 4, TiO6 in the perovskite, no
// Ba-Ba in YBCO); ionic hydrides and halides reach the ions' radii (KH, LiH,
// matlockite's Pb 4 F + 5 Cl, the NaCl melt's Na-Cl 3.12 A). No bond is
// shorter than 0.7 x the covalent radii's sum (brucite's split H 0.22 A
// apart, thpp's C7A-C7B 0.70 A, ice III's O-O 0.90 A). The partners were
// counted with gemmi's cell expansion and the textbook bond lengths of each
// structure (S-O, P-O 1.6 A, Si-O 1.7 A, Ca-O 2.7 A, Pb-Cl 3.3 A, ...).
// A mixed site is drawn and bonded as its largest share; the ZSM-5 and
// lepidolite rows are tests/oracle/mixed_sites_oracle.py's counts (ZSM-5's
// channel sites taken as their first rows, Ca, make 372 Ca-Ca pairs a cell
// within the metal-metal limit; as their largest share, water, none).
TEST(AutomaticBonds, SaltsBondCationsToAnionsOnly) {
  FakeHost host;
  using Partners = std::map<std::string, std::set<std::string>>;
  struct Case {
    fs::path file;
    Partners partners;              // of the sites named
    std::set<std::string> notBonded; // element pairs never bonded
    std::map<std::string, std::string> drawnAs = {}; // the element of the sites named
  };
  const fs::path shelx = fs::path(OV_TEST_DATA) / "import" / "shelx";
  const fs::path dmol = fs::path(OV_TEST_DATA) / "import" / "dmol";
  const Case cases[] = {
      {BondsFile("anhydrite.cif"),
       {{"Ca", {"O8"}}, {"S", {"O4"}}, {"O1", {"Ca2 S1"}}, {"O2", {"Ca2 S1"}}},
       {"Ca-S"}},
      {BondsFile("gypsum.cif"),
       {{"CA1", {"O8"}}, {"S2", {"O4"}}, {"O3", {"Ca1 S1"}}, {"O4", {"Ca2 S1"}}, {"O5", {"Ca1 H2"}}, {"H6", {"O1"}}},
       {"Ca-S", "Ca-H"}},
      {BondsFile("fluorapatite.cif"), {{"P3", {"O4"}}, {"F4", {"Ca3"}}, {"Ca2", {"F1 O6"}}}, {"Ca-P"}},
      {BondsFile("forsterite.cif"),
       {{"Mg1", {"O6"}}, {"Mg2", {"O6"}}, {"Si1", {"O4"}}, {"O1", {"Mg3 Si1"}}, {"O3", {"Mg3 Si1"}}},
       {"Mg-Si"}},
      {BondsFile("pyrope.cif"), {{"Mg1", {"O8"}}, {"Al1", {"O6"}}, {"Si1", {"O4"}}, {"O1", {"Al1 Mg2 Si1"}}}, {"Mg-Si"}},
      {BondsFile("latio3.inp"), {{"Ti", {"O6"}}}, {"La-Ti"}},
      {BondsFile("LaTiO3_demeter.inp"), {{"Ti", {"O6"}}}, {"La-Ti"}},
      // Sodium uranyl acetate: the uranyl's U-O 1.76 A (0.67 of the covalent
      // sum) and six acetate O at 2.46 A; the acetate C at 2.85 A is not U's.
      {BondsFile("uranyl_acetate.inp"),
       {{"U", {"O8"}}, {"Na", {"O6"}}, {"Oax", {"U1"}}, {"Oeq", {"C1 Na1 U1"}}},
       {"C-U", "Na-U"}},
      {BondsFile("ybco.cif"), {{"Y1", {"O8"}}, {"Ba1", {"O10"}}, {"Cu1", {"O4"}}, {"Cu2", {"O5"}}}, {"Ba-Ba", "Ba-Y", "Ba-Cu"}},
      {BondsFile("burk1.cif"), {}, {"Na-S"}},
      {dmol / "la_rdefe_clus.car", {}, {"Ca-S", "La-S"}},
      {BondsFile("kh.cif"), {{"K", {"H6"}}, {"H", {"K6"}}}, {"H-H", "K-K"}},
      {BondsFile("lih.cif"), {{"Li", {"H6"}}, {"H", {"Li6"}}}, {"H-H", "Li-Li"}},
      {BondsFile("matlockite.cif"), {{"Pb", {"Cl5 F4"}}, {"F", {"Pb4"}}, {"Cl", {"Pb5"}}}, {"Cl-Cl", "Pb-Pb"}},
      {BondsFile("nacl_melt_start.data"), {{"Na1", {"Cl8"}}, {"Cl16", {"Na8"}}}, {"Cl-Cl", "Na-Na"}},
      {BondsFile("rocksalt.cif"), {{"Na1", {"Cl6"}}, {"Cl1", {"Na6"}}}, {"Cl-Cl", "Na-Na"}},
      {BondsFile("brucite_split_h.cif"), {{"Mg", {"O6"}}, {"H", {"O1"}}, {"O", {"H3 Mg3"}}}, {"H-H", "H-Mg"}},
      {BondsFile("ice_iii.cif"), {}, {}},
      {BondsFile("S8-Sulfur-beta.cif"), {}, {}},
      {shelx / "thpp.ins", {}, {}},
      // A mixed site is its largest share: ZSM-5's channel sites are each
      // about 90 % water (CaX1 0.016, NaX1 0.015, WatX1 0.299 at one place),
      // lepidolite's T site Si 0.84 beside Al 0.16 and M1 Al 0.7 beside Li.
      {BondsFile("zsm5.cif"),
       {{"Si1", {"O4"}}, {"Si12", {"O4"}}, {"O1", {"Si2"}}, {"O26", {"Si2"}}},
       {"Ca-Ca", "Na-Na"},
       {{"Si1", "Si"}, {"WatX1", "O"}, {"WatX2", "O"}, {"WatX6", "O"}, {"WatX16", "O"}}},
      {BondsFile("lepidolite.cif"), {{"SiT", {"O4"}}}, {}, {{"SiT", "Si"}, {"AlM1", "Al"}, {"LiM2", "Li"}}},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.file.filename().string());
    doctest::Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), k.file));
    const CrystalRec &c = w.crystal();
    EXPECT_EQ(TooShortBond(c), "");
    if (!k.partners.empty()) {
      const Partners found = PartnerCounts(w);
      for (const auto &[label, expected] : k.partners) {
        const auto at = found.find(label);
        ASSERT_NE(at, found.end()) << label;
        EXPECT_EQ(at->second, expected) << label;
      }
    }
    for (const auto &[label, symbol] : k.drawnAs) {
      const auto site = std::find_if(c.sites.begin(), c.sites.end(), [&](const auto &s) { return s.label == label; });
      if (site == c.sites.end())
        ADD_FAILURE() << "no site " << label;
      else
        EXPECT_EQ(Symbol(site->elements[0]), symbol) << label;
    }
    const std::set<std::string> bonded = BondedPairs(c);
    for (const std::string &pair : k.notBonded)
      EXPECT_EQ(bonded.count(pair), 0u) << pair;
    EXPECT_FALSE(bonded.empty() && !k.partners.empty());
  }
}

// Rows of the survey of real structures (tools/survey/bond_survey.py), one
// or more per class, each site's coordination as the Sites window shows it
// and as its surrounded atoms are drawn. The references: "CrystalNN" is
// pymatgen's CrystalNN count of the same file; "distances" a count by hand
// over pymatgen's sorted neighbour distances (the first shell ending at its
// gap); "textbook" the structure's published coordination; the hand-placed
// files count their own geometry.
TEST(AutomaticBonds, SurveyedSitesHaveTheirReferenceCoordination) {
  FakeHost host;
  struct Row {
    const char *file;
    const char *site;
    uint32_t coordination;
    uint32_t drawn = 0; // the bonds drawn, where a partner is drawn at each of its alternative places
  };
  const Row rows[] = {
      // Pure metals: the first shell only, the shortest bonds kept.
      {"pu_gamma.cif", "Pu", 10},  // CrystalNN; four more at 3.76 A after a 0.47 A gap
      {"fe_alpha.cif", "Fe", 8},   // CrystalNN; six more at 2.87 A
      {"u_alpha.cif", "U", 12},    // CrystalNN
      {"np_beta.cif", "Np2", 14},  // distances: 2.76-3.56 A, four more at 4.29 A
      {"np_alpha.cif", "Np1", 14}, // distances: 2.60-3.74 A
      {"pu_alpha.cif", "Pu1", 12}, // distances: 2.52-3.51 A, two more at 4.29 A
      // Metals whose atoms touch beyond their covalent radii, read where
      // libavogadro-data installs them (an absolute name is taken as it is).
      {"/usr/share/avogadro2/crystals/elements/Al-Aluminum.cif", "Al", 12},  // CrystalNN: 2.86 A
      {"/usr/share/avogadro2/crystals/elements/Pb-Lead.cif", "Pb", 12},      // CrystalNN: 3.50 A
      {"/usr/share/avogadro2/crystals/elements/Be-Beryllium.cif", "Be", 12}, // CrystalNN: six at 2.23 A, six at 2.29 A
      {"/usr/share/avogadro2/crystals/elements/Li-Lithium.cif", "Li", 8},    // CrystalNN: 3.04 A, six more at 3.51 A
      {"/usr/share/avogadro2/crystals/elements/Tl-Thallium.cif", "Tl", 8},   // CrystalNN: 3.36 A, six more at 3.88 A
      {"/usr/share/avogadro2/crystals/elements/Zn-Zinc.cif", "Zn", 12},      // CrystalNN, textbook: 2.66, 2.91 A
      // Ionic oxides and halides: a large cation's whole shell.
      {"fluorapatite.cif", "Ca1", 9}, // textbook: 3 x 2.39, 3 x 2.45, 3 x 2.82 A
      {"FAP.EXP", "CA1", 9},          // the same, from the experiment file
      {"anglesite.cif", "Pb", 12},    // textbook: 2.61-3.27 A
      {"cryolite.cif", "Na2", 8},     // CrystalNN
      {"barite.cif", "Ba", 12},       // CrystalNN
      {"anhydrite.cif", "Ca", 8},     // CrystalNN
      {"matlockite.cif", "Pb", 9},    // textbook: 4 F + 5 Cl
      {"kh.cif", "K", 6},             // CrystalNN
      // Silicates and zeolites, hydrates and hydroxides.
      {"quartz.cif", "Si1", 4}, // CrystalNN
      {"zsm5.cif", "Si1", 4},   // textbook
      // ZSM-5's Ca: eight water O at 2.27-2.62 A, then a gap to the two
      // WatX9 at 3.06 A, waters whose only cation it is (gemmi's distances).
      {"zsm5.cif", "Ca", 8},
      {"gypsum.cif", "CA1", 8}, // CrystalNN: its waters' H are protons, not the Ca's
      // Kryptonite's Na1: six O at 2.25-2.71 A (gemmi's distances); its
      // hydroxyl H at 2.57 A, whose O is no neighbour of Na1, is a proton.
      {"KRYPTONITE.EXP", "Na1", 6},
      // Its Li1: four O at 1.87-2.04 A, then a gap to 2.65 A (gemmi's
      // distances).
      {"KRYPTONITE.EXP", "Li1", 4},
      // Molecular and disordered crystals: the water oxygens O14 (0.35) and
      // O15 (0.30) of caox lie 0.94 A apart, alternatives, and nothing else
      // lies within an O-O bond (gemmi's distances).
      {"S8-Sulfur-beta.cif", "S9", 2},
      {"caox.cif", "O14", 0},
      // A partner at two alternative places counts once: thpp's N8 has C9,
      // C14 and C7A (0.88) or C7B (0.12), gemmi's distances of the cctbx
      // thpp.cif; both places are drawn.
      {"thpp.ins", "N8", 3, 4},
      // Molecules: a sodium whose bond to its water's O the file lists is not
      // bonded to the water's H (2.69 A); a calcium whose bonds to an
      // acetate's two O the file lists is not bonded to its C (2.77 A); the
      // Mo-Mo quadruple bond of 2.09 A.
      {"sodium_water.pdb", "NA", 1},
      {"calcium_acetate.pdb", "CA", 2},
      {"mo2_quadruple.xyz", "Mo", 1},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.file) + " " + row.site);
    doctest::Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), BondsFile(row.file)));
    const CrystalRec &c = w.crystal();
    const auto site =
        std::find_if(c.sites.begin(), c.sites.end(), [&](const auto &s) { return s.label == std::string(row.site); });
    ASSERT_NE(site, c.sites.end());
    EXPECT_EQ(site->coordination, row.coordination) << "Sites window";
    const Counts drawn = Coordination(w);
    const auto at = drawn.find(row.site);
    if (row.coordination == 0)
      EXPECT_TRUE(at == drawn.end() || at->second == std::set<uint32_t>{0});
    else if (at == drawn.end())
      ADD_FAILURE() << "no surrounded atom";
    else
      EXPECT_EQ(at->second, std::set<uint32_t>{row.drawn ? row.drawn : row.coordination}) << "drawn";
    EXPECT_EQ(TooShortBond(c), "");
  }
}

// The coordination number the crystal coordination export gives the first
// atom of the site, and the labels of the neighbours it lists under it.
std::pair<std::string, std::multiset<std::string>> ListedNeighbours(const std::string &text, const std::string &label) {
  std::istringstream in(text);
  std::pair<std::string, std::multiset<std::string>> out;
  bool inGroup = false;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string first, element, name;
    words >> first;
    if (line.empty() || first.empty()) {
      if (inGroup)
        break;
    } else if (first.front() == '[') {
      words >> element >> name;
      inGroup = name == label && out.first.empty();
      if (inGroup)
        out.first = first;
    } else if (inGroup) {
      words >> name;
      out.second.insert(name);
    }
  }
  return out;
}

// A partner that stands at several alternative places is one partner in the
// Sites window's coordination, the crystal coordination export and the
// polyhedra alike: brucite's H, which its file places on three images
// 0.22 A apart beside the three-fold axis without an occupancy (gemmi's
// cell expansion takes them for one atom: O has 3 Mg and 1 H, and the cell
// holds 2 H), each place a third of the atom; thpp's C7a
// (0.88) and C7b (0.12), 0.69 A apart (gemmi's distances of the cctbx
// thpp.cif); hashizume's ethyl chain in two parts, C11A (0.874) and C11B
// (0.126) at one place, each part bonded within itself (gemmi's distances
// of the block, the parts as its disorder groups say). The export lists the
// place of the larger occupancy; the polyhedron takes it as its ligand. The
// open's Log names no site for having more atoms within bond reach than
// bonds on account of such a partner: brucite's O has its four; thpp's N8
// its three, C7a and C7b standing for one, while C7a and C7b have each
// other within reach beside their own bonds.
TEST(AutomaticBonds, APartnerAtSeveralPlacesIsOnePartnerEverywhere) {
  FakeHost host;
  const fs::path dir = fs::temp_directory_path() / ("ovpartners-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  struct Row {
    const char *file;
    const char *site;
    uint32_t coordination;
    std::multiset<std::string> partners; // listed by the export, the ligands of the polyhedron
    bool halves = false;                 // the file with both parts at occupancy 0.5
    const char *formula = nullptr;       // the formula the Log gives
    const char *crowded = nullptr;       // the sites the Log names as crowded ("" none), or unchecked
  };
  const Row rows[] = {
      // The file's own _chemical_formula_sum is H2 Mg O2.
      {"brucite_split_h.cif", "O", 4, {"H", "Mg", "Mg", "Mg"}, false, "calculated formula: H 2.00 Mg 1.00 O 2.00", ""},
      {"thpp.ins", "N8", 3, {"C14", "C7a", "C9"}, false, nullptr, "2 sites (C7a, C7b)"},
      {"hashizume_ethyl368K.cif", "C11A", 4, {"C1", "C12A", "H111", "H112"}},
      {"hashizume_ethyl368K.cif", "C11B", 4, {"C1", "C12B", "H113", "H114"}},
      {"hashizume_ethyl368K.cif", "C1", 3, {"C11A", "N1", "O1"}},
      // Two parts of equal occupancy at one place are no copies of each other.
      {"hashizume_ethyl368K.cif", "C11B", 4, {"C1", "C12B", "H113", "H114"}, true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.file) + " " + row.site);
    fs::path file = BondsFile(row.file);
    if (row.halves) {
      std::ifstream in(file);
      std::stringstream text;
      text << in.rdbuf();
      std::string halves = text.str();
      for (const std::string part : {" 0.874(6) A ", " 0.126(6) A "})
        for (size_t at = halves.find(part); at != std::string::npos; at = halves.find(part, at))
          halves.replace(at, part.size(), " 0.5 A ");
      file = dir / "halves.cif";
      std::ofstream(file) << halves;
    }
    host.log.clear();
    doctest::Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), file));
    if (row.formula) {
      EXPECT_NE(host.log.find(row.formula), std::string::npos) << host.log;
    }
    if (row.crowded) {
      const std::string told = "Polyhedra: ";
      std::string crowded;
      for (const std::string &line : host.LogLines())
        if (line.find("more atoms within bond reach than bonds") != std::string::npos)
          crowded = line.substr(told.size(), line.find(')') + 1 - told.size());
      EXPECT_EQ(crowded, row.crowded) << host.log;
    }
    CrystalRec &c = w.crystal();
    const auto site =
        std::find_if(c.sites.begin(), c.sites.end(), [&](const auto &s) { return s.label == std::string(row.site); });
    ASSERT_NE(site, c.sites.end());
    const int32_t index = static_cast<int32_t>(site - c.sites.begin());
    const std::string shown = SiteBrowserCoordinationText(&c, SiteItem(index));
    EXPECT_EQ(shown.substr(0, shown.find(']') + 1), "[" + std::to_string(row.coordination) + "]") << "Sites window";

    host.windowTitle = "partners";
    host.savePaths = {dir / "partners crystal coordination.txt"};
    ASSERT_EQ(DoExportCommand(w.ref(), FourCharsToLong("xCoD")), 0);
    std::ifstream in(dir / "partners crystal coordination.txt");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(ListedNeighbours(text.str(), row.site),
              std::pair("[" + std::to_string(row.coordination) + "]", row.partners))
        << "export";

    // The polyhedra of the site's atoms with every neighbour drawn.
    std::set<std::multiset<std::string>> ligands;
    for (uint32_t a : SurroundedAtoms(w)) {
      if (c.atoms[a].site != static_cast<uint32_t>(index))
        continue;
      const Polyhedron *poly = AtomPolyhedron(&c, c.atoms[a]);
      ASSERT_NE(poly, nullptr) << "atom " << a;
      std::set<uint32_t> vertices;
      for (const PolyFace &face : poly->faces)
        vertices.insert(face.vertices.begin(), face.vertices.end());
      vertices.erase(a); // the centre, apex of a pyramid
      std::multiset<std::string> labels;
      for (uint32_t v : vertices)
        labels.insert(c.sites[c.atoms[v].site].label);
      ligands.insert(labels);
    }
    EXPECT_EQ(ligands, std::set<std::multiset<std::string>>{row.partners}) << "polyhedra";
  }
  fs::remove_all(dir);
}

// Transform > Automatic Bonds on the bundled garnet throws away its bond
// cards and bonds each cation to its oxygens only.
TEST(AutomaticBonds, AutomaticBondsOnTheGarnetExampleMakeItsPolyhedra) {
  FakeHost host;
  doctest::Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), fs::path(OV_SOURCE_DIR) / "resources" / "examples" / "Pyrope.ovtx"));
  AutoGenerateBonds(w.ref());
  const CrystalRec &c = w.crystal();
  std::map<std::string, std::set<std::string>> byElement;
  for (const auto &[label, partners] : PartnerCounts(w))
    for (uint32_t s = 0; s < c.sites.size(); s++)
      if (label == c.sites[s].label)
        byElement[Symbol(c.sites[s].elements[0])].insert(partners.begin(), partners.end());
  EXPECT_EQ(byElement, (std::map<std::string, std::set<std::string>>{
                           {"Si", {"O4"}}, {"Al", {"O6"}}, {"Mg", {"O8"}}, {"O", {"Al1 Mg2 Si1"}}}));
  EXPECT_EQ(BondedPairs(c), (std::set<std::string>{"Al-O", "Mg-O", "O-Si"}));
}

// The covalent radii reach Cm: the actinide metals are bonded; an element
// beyond gets no automatic bond, and the Log says why.
TEST(AutomaticBonds, ActinidesUpToCuriumAreBondedAndHeavierElementsNamed) {
  FakeHost host;
  for (const char *file : {"np_alpha.cif", "pu_alpha.cif"}) {
    SCOPED_TRACE(file);
    host.log.clear();
    doctest::Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), BondsFile(file)));
    for (uint32_t a : SurroundedAtoms(w))
      EXPECT_GT(w.crystal().atoms[a].bondCount, 0u) << "atom " << a;
    EXPECT_EQ(TooShortBond(w.crystal()), "");
    EXPECT_EQ(host.log.find("No covalent radius"), std::string::npos);
  }
  host.log.clear();
  doctest::Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), BondsFile("bko2.cif")));
  EXPECT_TRUE(BondedPairs(w.crystal()).empty());
  EXPECT_NE(host.log.find("No covalent radius is known for Bk"), std::string::npos) << host.log;
}

// The structure types whose bonds the rule decides at its edges: unlike
// metals (the Laves phases, CaCu5, A15, beta-brass), half-occupied triple
// bonds, a cation's shell ending at its gap (LaMnO3's La), metal-metal
// bonds that no anion bridges (carbonyl clusters, calomel) and the
// quadruple-bonded dimers. Each file says the coordination of every site
// in its "# expect <label> <n>" lines, checked against its own distances
// with gemmi. A correct structure writes nothing red in the Log; what the
// rule left out is reported plainly: a cation's contacts beyond its gap,
// partly occupied sites taken as alternatives (caox's water O14 and O15).
TEST(AutomaticBonds, StructureTypesAtTheRulesEdgesHaveTheirCoordination) {
  FakeHost host;
  const fs::path types = fs::path(OV_TEST_DATA) / "structuretypes";
  for (const char *file : {"MgCu2-Laves-C15.cif", "MgZn2-Laves-C14.cif", "MgNi2-Laves-C36.cif", "CaCu5.cif",
                           "Nb3Sn-A15.cif", "CuZn-beta-brass.cif", "LaMnO3-orthorhombic-perovskite.cif",
                           "half-occupied-linear-molecules.cif", "Os3CO12.cif", "Ru3CO12.cif", "Mn2CO10.cif",
                           "Hg2Cl2-calomel.cif", "Mo2-acetate.cif", "Re2Cl8-dianion.cif"}) {
    SCOPED_TRACE(file);
    std::map<std::string, uint32_t> expected, found;
    std::ifstream in(types / file);
    for (std::string line; std::getline(in, line);) {
      std::istringstream words(line);
      std::string hash, key, label;
      uint32_t n = 0;
      if (words >> hash >> key >> label >> n && hash == "#" && key == "expect")
        expected[label] = n;
    }
    host.log.clear();
    host.colouredRuns.clear();
    doctest::Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), types / file));
    for (const AsymmetricUnitRecord &site : w.crystal().sites)
      found[site.label] = site.coordination;
    EXPECT_EQ(found, expected);
    for (const FakeHost::ColouredRun &run : host.colouredRuns)
      EXPECT_NE(run.colour, kRGBRed) << host.log.substr(run.start, run.length);
  }
  const std::pair<fs::path, const char *> reports[] = {
      {types / "LaMnO3-orthorhombic-perovskite.cif",
       "La - O  contacts from 3.158 A (La1 - O1) lie beyond the gap that ends their metal's shell"},
      {BondsFile("caox.cif"), "O  - O  partly occupied sites from 0.937 A (O14 - O15) lie too close to be both there"},
      // Aluminium's twelve at 2.863 A, measured from different images a
      // few units in the last place apart, are all one shell: nothing left
      // out.
      {"/usr/share/avogadro2/crystals/elements/Al-Aluminum.cif", nullptr},
  };
  for (const auto &[file, line] : reports) {
    SCOPED_TRACE(file.filename().string());
    host.log.clear();
    host.colouredRuns.clear();
    doctest::Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), file));
    if (line)
      EXPECT_NE(host.log.find(line), std::string::npos) << host.log;
    else
      EXPECT_EQ(host.log.find("leave"), std::string::npos) << host.log;
    EXPECT_TRUE(host.colouredRuns.empty()) << host.log;
  }
}

// A platinum cluster whose file gives no bonds: Pt5 caps the Pt2-Pt3 edge
// (2.77 A), which no anion bridges, and is bonded to both; the triangle
// Pt2-Pt3-Pt4 that the oxygen caps (2.13 A from each, closer than the
// metals are to each other) stays unbonded, as an oxide's cations do.
TEST(AutomaticBonds, MetalsThatNoAnionBridgesAreBondedInAMolecule) {
  FakeHost host;
  HandWrittenFile pdb(host, "pt_cluster.pdb",
                      "ATOM      1  O   UNK     1       1.400   0.000   0.000  1.00  0.00           O\n"
                      "ATOM      2 PT   UNK     1       0.000   1.600   0.000  1.00  0.00          PT\n"
                      "ATOM      3 PT   UNK     1       0.000  -0.800  -1.386  1.00  0.00          PT\n"
                      "ATOM      4 PT   UNK     1       0.000  -0.800   1.386  1.00  0.00          PT\n"
                      "ATOM      5 PT   UNK     1       0.000   1.600  -2.772  1.00  0.00          PT\n"
                      "END\n");
  ASSERT_TRUE(pdb.opened);
  const CrystalRec &c = pdb.w.crystal();
  ASSERT_EQ(c.atoms.size(), 5u);
  EXPECT_EQ(Partners(c, 0), (std::multiset<std::string>{"Pt", "Pt", "Pt"}));
  EXPECT_TRUE(Bonded(c, 4, 1));
  EXPECT_TRUE(Bonded(c, 4, 2));
  EXPECT_FALSE(Bonded(c, 1, 2));
  EXPECT_EQ(BondsDrawn(c), 5u);
}

} // namespace
