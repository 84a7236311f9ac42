// Chem3D Cartesian and MacMolecule files: what the Export menu writes reads
// back with the same atoms and elements (and, for MacMolecule, the same
// bonds); the Chem3D bonds of the fuller dialect; damaged files.
#include "MOLTestFixture.h"

#include "export/ExportFrame.h"
#include "export/PDBWriter.h"

#include <cmath>
#include <map>

namespace {

using doctest::Window;
using Chem3DMacMoleculeTest = MoleculeFileTest;

TEST_F(Chem3DMacMoleculeTest, ExportsOfEveryExampleReadBack) {
  for (const auto &example : doctest::ExampleFiles()) {
    SCOPED_TRACE(example.filename().string());
    Window w(host);
    ASSERT_TRUE(OpenStructureFile(w.ref(), example));
    const CrystalRec &c = w.crystal();
    std::vector<size_t> shown;
    ForEachShownAtom(c, [&](size_t a) { shown.push_back(a); });
    std::map<size_t, uint32_t> order;
    for (size_t k = 0; k < shown.size(); k++)
      order[shown[k]] = static_cast<uint32_t>(k);
    std::set<std::pair<uint32_t, uint32_t>> bonds;
    for (const auto &[a, b] : Bonds(c))
      if (order.count(a) && order.count(b))
        bonds.insert({order[a], order[b]});
    const struct {
      uint32_t command;
      const char *name;
      double precision;
    } formats[] = {{kCmdExportChem3D, "out.chem3d", 5e-4}, {kCmdExportMacMolecule, "out.mm", 5e-5}};
    for (const auto &f : formats) {
      if (f.command == kCmdExportMacMolecule && UsableSiteSize(c) > kMaxMacMoleculeTypes)
        continue;
      SCOPED_TRACE(f.name);
      host.savePaths = {dir / f.name};
      ASSERT_EQ(DoExportCommand(w.ref(), f.command), 0);
      Window back(host);
      ASSERT_TRUE(OpenTextFile(back.ref(), dir / f.name)) << (host.alerts.empty() ? "" : host.alerts[0].explanation);
      const CrystalRec &r = back.crystal();
      ASSERT_EQ(r.molecule, 1);
      ASSERT_EQ(static_cast<size_t>(r.atomCount), shown.size());
      for (size_t k = 0; k < shown.size(); k++) {
        EXPECT_EQ(Element(r, k), ElementSymbolText(c.sites[c.atoms[shown[k]].site].elements[0])) << k;
        for (int i = 0; i < 3; i++)
          EXPECT_NEAR(r.atoms[k].cart[i], c.atoms[shown[k]].cart[i], f.precision + 1e-5) << k;
      }
      if (f.command == kCmdExportMacMolecule) {
        EXPECT_EQ(Bonds(r), bonds);
      }
    }
  }
}

// The fuller Chem3D dialect lists each atom's bonded atoms by serial after
// its type; a bond to no atom is left out with a warning.
TEST_F(Chem3DMacMoleculeTest, Chem3DBondsAndDamagedFiles) {
  const std::string water = "3\nO 1 0.000 0.000 0.117 6 2 3\nH 2 0.000 0.757 -0.469 5 1\nH 3 0.000 -0.757 -0.469 5 1 7\n";
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Write("water.cc1", water)));
  EXPECT_EQ(w.crystal().atomCount, 3);
  EXPECT_EQ(Bonds(w.crystal()), (std::set<std::pair<uint32_t, uint32_t>>{{0, 1}, {0, 2}}));
  EXPECT_NE(host.log.find("water.cc1, line 4: the bond to atom 7 names an atom the file does not hold"),
            std::string::npos)
      << host.log;
  ExpectRefused(Write("short.chem3d", "4\nC 1 0.0 0.0 0.0\nO 2 1.2 0.0 0.0\n"), 1,
                "the count line promises 4 atoms, but only 2 follow");
  ExpectRefused(Write("nan.chem3d", "2\nC 1 0.0 0.0 0.0\nO 2 1.2 nan 0.0\n"), 3,
                "the atom line holds no symbol, serial number and three coordinates");
  const std::string mm = "; t\nA = 1.0, 0.3 (0.5,0.5,0.5)\nA0 :  0.0  0.0  0.0\nA1 :  1.5  x  0.0\n";
  ExpectRefused(Write("bad.mm", mm), 4, "the atom line holds no three coordinates");
}

} // namespace
