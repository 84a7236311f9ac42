// The structure reports: every line of the formula, coordinate, bond,
// porosity and density reports on rock salt, rutile and a molecule.

#include "StructureWindowFixture.h"

#include "AtomOperations.h"
#include "StructureReports.h"

#include <gtest/gtest.h>

using namespace viewtest;

namespace {

using Lines = std::vector<std::string>;

// A three-atom molecule: O with two H, bonded, one site per atom.
void Water(CrystalRec &c) {
  InitBlankCrystalRec(&c);
  c.molecule = 1;
  c.a = c.b = c.c = 1.0f; // a molecule's coordinates are Angstrom in a unit frame
  GetMetricTensor(c.a, c.b, c.c, c.alpha, c.beta, c.gamma, c.metricTensor);
  const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  std::copy(identity, identity + 9, c.orientationMatrix);
  const char *elements[] = {"O", "H", "H"};
  const char *labels[] = {"O1", "H1", "H2"};
  const float xyz[3][3] = {{0.0f, 0.0f, 0.0f}, {0.757f, 0.586f, 0.0f}, {-0.757f, 0.586f, 0.0f}};
  c.sites = *CreateAsymmetricUnit(3);
  c.atoms.resize(3);
  c.spheres = *CreateSpheresArray(2);
  c.spheres[0].element = Element("O");
  c.spheres[1].element = Element("H");
  for (int k = 0; k < 3; k++) {
    AsymmetricUnitRecord &s = c.sites[size_t(k)];
    s.elements[0] = Element(elements[k]);
    s.occupancies[0] = 1.0f;
    std::snprintf(s.label, sizeof s.label, "%s", labels[k]);
    s.firstAtom = s.lastAtom = k;
    s.atomsPerCell = 1;
    s.atomType = k == 0 ? 0 : 1;
    AtomRecord &a = c.atoms[size_t(k)];
    a.site = uint32_t(k);
    a.atomType = s.atomType;
    for (int i = 0; i < 3; i++)
      a.xyz[i] = a.cart[i] = xyz[k][i];
  }
  c.atoms[0].bonds = {1, 2};
  c.atoms[1].bonds = {0};
  c.atoms[2].bonds = {0};
  for (AtomRecord &a : c.atoms)
    a.bondCount = uint32_t(a.bonds.size());
  c.siteCount = c.atomCount = c.atomsPerCell = 3;
  c.sphereCount = 2;
}

// Bonds between the atoms of different sites closer than `limit`.
void BondPairs(CrystalRec &c, float limit) {
  for (size_t i = 0; i < c.atoms.size(); i++)
    for (size_t j = i + 1; j < c.atoms.size(); j++) {
      if (c.atoms[i].site == c.atoms[j].site)
        continue;
      float d2 = 0.0f;
      for (int k = 0; k < 3; k++)
        d2 += (c.atoms[i].cart[k] - c.atoms[j].cart[k]) * (c.atoms[i].cart[k] - c.atoms[j].cart[k]);
      if (d2 < limit * limit) {
        c.atoms[i].bonds.push_back(uint32_t(j));
        c.atoms[j].bonds.push_back(uint32_t(i));
      }
    }
  for (AtomRecord &a : c.atoms)
    a.bondCount = uint32_t(a.bonds.size());
}

Lines Report(FakeHost &host, void (*report)(WindowRef), WindowRef window) {
  host.log.clear();
  report(window);
  FFlushBuffer();
  return host.LogLines();
}

} // namespace

// The density lines, checked against python3-gemmi by tests/oracle/sites_oracle.py.
// oracle:begin density
const Lines kRockSaltDensity = {
    "",
    "Density data for \"NaCl\":",
    "     Calculated density: 2163.6523 kg/m³ (2.1637 g/cm³)",
    "    Atoms per unit cell: 8",
    "       Unit cell volume: 179.4061 Å³",
    "           Atom density: 0.0446 atoms/Å³ - corrected for site occupancies",
    "           Site density: 0.0446 sites/Å³",
};
const Lines kRutileDensity = {
    "",
    "Density data for \"Rutile\":",
    "     Calculated density: 4250.1592 kg/m³ (4.2502 g/cm³)",
    "    Atoms per unit cell: 6",
    "       Unit cell volume: 62.4347 Å³",
    "           Atom density: 0.0961 atoms/Å³ - corrected for site occupancies",
    "           Site density: 0.0961 sites/Å³",
};
// oracle:end density

const std::string kBondHeader = "-------------------------------------------------------\n"
                                "  Bond              From    To                Distance \n"
                                "-------------------------------------------------------\n";
const std::string kBondRule = "-------------------------------------------------------";

TEST(StructureReports, RockSaltLineByLine) {
  FakeHost host;
  host.windowTitle = "NaCl";
  TestWindow w(host);
  ASSERT_TRUE(BuildRockSalt(w.crystal()));
  BondPairs(w.crystal(), 3.0f);
  EXPECT_EQ(Report(host, PrintChemicalFormula, w.ref()),
            (Lines{"", "Chemical formula data for \"NaCl\":", "  Bulk chemical formula: Cl 1.00 Na 1.00",
                   "        Display formula: Cl 4 Na 4 ",
                   "                         (8 atoms, 2 sites, 2 elements; 12 bonds visible)"}));
  ASSERT_EQ(host.subtitles.size(), 1u);
  EXPECT_EQ(host.subtitles[0].second, "Bulk formula: Cl₁.₀₀Na₁.₀₀ (See the Log for more details)");

  const std::string rule(72, '-');
  const Lines coordinates = Report(host, DoListCoordinates, w.ref());
  EXPECT_EQ(coordinates, (Lines{rule, "                      Fractional Coordinates    Orthogonal Coordinates  ",
                                "         Label  Elmt  x       y       z         xor[Å]  yor[Å]  zor[Å]  ", rule,
                                "     1.  Cl1     Cl   0.5000  0.5000  0.5000    2.820  -2.820  -2.820",
                                "     2.  Cl1     Cl   0.5000  0.0000  0.0000    2.820  -0.000  -0.000",
                                "     3.  Cl1     Cl   0.0000  0.0000  0.5000    0.000   0.000  -2.820",
                                "     4.  Cl1     Cl   0.0000  0.5000  0.0000    0.000  -2.820  -0.000",
                                "     5.  Na1     Na   0.0000  0.0000  0.0000    0.000   0.000  -0.000",
                                "     6.  Na1     Na   0.0000  0.5000  0.5000    0.000  -2.820  -2.820",
                                "     7.  Na1     Na   0.5000  0.5000  0.0000    2.820  -2.820  -0.000",
                                "     8.  Na1     Na   0.5000  0.0000  0.5000    2.820  -0.000  -2.820", rule}));
  EXPECT_EQ(host.overviewLogShows, 1);

  const Lines bonds = Report(host, DoListBonds, w.ref());
  ASSERT_EQ(bonds.size(), 2u);
  EXPECT_EQ(bonds[0].substr(0, kBondHeader.size()), kBondHeader);
  EXPECT_NE(bonds[0].find("     1.       (1)    Cl1 -- Na1    (6)        2.8200 Å\n"
                          "     2.       (1)    Cl1 -- Na1    (7)        2.8200 Å\n"),
            std::string::npos);
  EXPECT_NE(bonds[0].find("    12.       (4)    Cl1 -- Na1    (7)        2.8200 Å\n" + kBondRule), std::string::npos);
  EXPECT_EQ(bonds[1], "Total of 12 visible bonds");

  EXPECT_EQ(Report(host, PrintCrystalPorosity, w.ref()),
            (Lines{"", "Calculated porosity data for \"NaCl\" (*): ",
                   "        Filled space:   117.130 Å³ ( 65.29%) per unit cell",
                   "          Void space:    62.277 Å³ ( 34.71%) per unit cell", "    Unit cell volume:   179.406 Å³",
                   "(*) Corrected for first-nearest-neighbour sphere overlap and site visibility\n"}));
  EXPECT_EQ(host.overviewLogShows, 2);
  EXPECT_EQ(Report(host, PrintCrystalDensity, w.ref()), kRockSaltDensity);
  EXPECT_EQ(host.subtitles.back().second, "Density: 2163.7 kg/m³ (See the Log for more details)");
}

TEST(StructureReports, HiddenSitesAndAtomsAreLeftOut) {
  FakeHost host;
  host.windowTitle = "NaCl";
  TestWindow w(host);
  ASSERT_TRUE(BuildRockSalt(w.crystal()));
  CrystalRec &c = w.crystal();
  BondPairs(c, 3.0f);
  c.atoms[1].visible = 0; // the Cl at (1/2, 0, 0) and its three bonds
  EXPECT_EQ(Report(host, PrintChemicalFormula, w.ref()).back(),
            "                         (7 atoms, 2 sites, 2 elements; 9 bonds visible)");
  EXPECT_EQ(host.LogLines()[3], "        Display formula: Cl 3 Na 4 ");
  const Lines coordinates = Report(host, DoListCoordinates, w.ref());
  ASSERT_EQ(coordinates.size(), 12u);
  EXPECT_EQ(coordinates[5], "     2.  Cl1     Cl   0.0000  0.0000  0.5000    0.000   0.000  -2.820");
  EXPECT_EQ(coordinates[10].substr(0, 8), "     7. ");
  const Lines bonds = Report(host, DoListBonds, w.ref());
  EXPECT_EQ(bonds[0].find("(2)"), std::string::npos);
  EXPECT_EQ(bonds[1], "Total of 9 visible bonds");

  HideSite(&c, 1); // every Na: no bond is left
  EXPECT_EQ(Report(host, PrintChemicalFormula, w.ref()).back(),
            "                         (3 atoms, 1 sites, 1 elements; 0 bonds visible)");
  EXPECT_EQ(Report(host, DoListBonds, w.ref()), (Lines{kBondHeader + kBondRule, "Total of 0 visible bonds"}));
}

TEST(StructureReports, RutileMixedSitesAndTheDensityFailure) {
  FakeHost host;
  host.windowTitle = "Rutile";
  TestWindow w(host);
  ASSERT_TRUE(BuildRutile(w.crystal()));
  EXPECT_EQ(Report(host, PrintChemicalFormula, w.ref()),
            (Lines{"", "Chemical formula data for \"Rutile\":", "  Bulk chemical formula: O 2.00 Ti 1.00",
                   "        Display formula: O 4 Ti 2 ",
                   "                         (6 atoms, 2 sites, 2 elements; 0 bonds visible)"}));
  EXPECT_EQ(host.subtitles.back().second, "Bulk formula: O₂.₀₀Ti₁.₀₀ (See the Log for more details)");
  EXPECT_EQ(Report(host, PrintCrystalDensity, w.ref()), kRutileDensity);

  // Half Fe, half Mg on the titanium site.
  CrystalRec &c = w.crystal();
  c.sites[1].elements[0] = Element("Fe");
  c.sites[1].elements[1] = Element("Mg");
  c.sites[1].occupancies[0] = c.sites[1].occupancies[1] = 0.5f;
  EXPECT_EQ(Report(host, PrintChemicalFormula, w.ref())[3], "        Display formula: O 4 Fe 1 Mg 1 ");
  c.atoms[5].visible = 0;
  EXPECT_EQ(Report(host, PrintChemicalFormula, w.ref())[3], "        Display formula: O 4 Fe 0.5 Mg 0.5 ");

  // An element without an atomic weight.
  c.sites[1].elements[0] = Element("Xx");
  const size_t subtitles = host.subtitles.size();
  EXPECT_EQ(Report(host, PrintCrystalDensity, w.ref()),
            (Lines{"", "Density data for \"Rutile\":", "*** density calculation failed - unknown element(s)? ***"}));
  EXPECT_EQ(host.subtitles.size(), subtitles);
}

TEST(StructureReports, MoleculeLayouts) {
  FakeHost host;
  host.windowTitle = "Water";
  TestWindow w(host);
  Water(w.crystal());
  EXPECT_EQ(Report(host, PrintChemicalFormula, w.ref()),
            (Lines{"", "Chemical formula data for \"Water\":", "        Display formula: O 1 H 2 ",
                   "                         (3 atoms, 3 sites, 2 elements; 2 bonds visible)"}));
  EXPECT_EQ(host.subtitles.back().second, "Display formula: O₁H₂ (See the Log for more details)");
  const std::string rule(47, '-');
  EXPECT_EQ(
      Report(host, DoListCoordinates, w.ref()),
      (Lines{rule, "                       Orthogonal Coordinates  ", "         Label  Elmt   xor[Å]  yor[Å]  zor[Å]  ",
             rule, "     1.  O1      O     0.000   0.000   0.000", "     2.  H1      H     0.757   0.586   0.000",
             "     3.  H2      H    -0.757   0.586   0.000", rule}));
  EXPECT_EQ(Report(host, DoListBonds, w.ref()),
            (Lines{kBondHeader + "     1.       (1)     O1 -- H1     (2)        0.9573 Å\n" +
                       "     2.       (1)     O1 -- H2     (3)        0.9573 Å\n" + kBondRule,
                   "Total of 2 visible bonds"}));
  EXPECT_EQ(CountVisibleBonds(w.ref()), 2u);
  EXPECT_TRUE(Report(host, PrintCrystalDensity, w.ref()).empty());
  EXPECT_EQ(CountVisibleBonds(nullptr), 0u);
}

TEST(StructureReports, FormulaTallyTakesAnyNumberOfElements) {
  FakeHost host;
  TestWindow w(host);
  const float cell[6] = {10.0f, 10.0f, 10.0f, 90.0f, 90.0f, 90.0f};
  std::vector<std::string> names;
  for (int k = 0; k < 250; k++)
    names.push_back(std::string(1, char('A' + k / 26)) + char('a' + k % 26));
  std::vector<Site> sites;
  for (int k = 0; k < 250; k++)
    sites.push_back({names[size_t(k)].c_str(), names[size_t(k)].c_str(), 0.003f * float(k), 0.1f, 0.1f});
  ASSERT_TRUE(BuildFirstCell(w.crystal(), "P 1", cell, sites));
  int32_t atoms = 0, count = 0, elements = 0;
  const std::string formula = DisplayFormula(w.ref(), &atoms, &count, &elements);
  EXPECT_EQ(elements, 250);
  EXPECT_EQ(formula.substr(formula.size() - 5), "Jp 1 ");
}
