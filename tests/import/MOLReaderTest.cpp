// MOL and SD files: V2000 and V3000 connection tables, their bonds and
// charges, query atoms, several records and damaged files.
#include "MOLTestFixture.h"

namespace {

using doctest::Window;
using MOLReaderTest = MoleculeFileTest;

// The file's bonds are the molecule's, with no automatic search; charges go
// to the notes, the record holding none.
TEST_F(MOLReaderTest, BondsAndChargesOfV2000AndV3000) {
  const struct {
    const char *file;
    std::vector<std::string> elements;
    std::set<std::pair<uint32_t, uint32_t>> bonds;
    const char *charges;
  } cases[] = {
      {"mol/glycine_v2000.mol", {"N", "C", "C", "O", "O"}, {{0, 1}, {1, 2}, {2, 3}, {2, 4}}, "N1 +1, O5 -1"},
      {"mol/acetate_v3000.mol", {"C", "C", "O", "O"}, {{0, 1}, {1, 2}, {1, 3}}, "O4 -1"},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.file);
    Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), Data(k.file)));
    const CrystalRec &c = w.crystal();
    ASSERT_EQ(c.molecule, 1);
    ASSERT_EQ(static_cast<size_t>(c.atomCount), k.elements.size());
    for (size_t a = 0; a < k.elements.size(); a++)
      EXPECT_EQ(Element(c, a), k.elements[a]);
    EXPECT_EQ(Bonds(c), k.bonds);
    EXPECT_NE(notes.find(std::string("Formal charges given by the file: ") + k.charges + "."), std::string::npos)
        << notes;
  }
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Data("mol/acetate_v3000.mol")));
  EXPECT_FLOAT_EQ(w.crystal().atoms[3].cart[1], -1.08f);
}

// Each SD record is a structure: the chooser lists them, and the one chosen
// opens.
TEST_F(MOLReaderTest, SDRecordsGoThroughTheChooser) {
  chosen = {1};
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Data("mol/two_records.sdf")));
  ASSERT_EQ(offered.size(), 2u);
  EXPECT_EQ(offered[0].name, "water");
  EXPECT_EQ(offered[1].name, "ammonia");
  EXPECT_EQ(offered[1].cell, "molecule");
  EXPECT_EQ(w.crystal().atomCount, 4);
  EXPECT_EQ(Bonds(w.crystal()).size(), 3u);
}

// Query atoms open as placeholders, each named in the Log; a bond to no
// atom is left out with a warning.
TEST_F(MOLReaderTest, QueryAtomsAndStrayBondsAreMendedWithWarnings) {
  const std::string text = "query\n\n\n  3  3  0  0  0  0  0  0  0  0999 V2000\n"
                           "    0.0000    0.0000    0.0000 C   0  0\n"
                           "    1.5000    0.0000    0.0000 A   0  0\n"
                           "    3.0000    0.0000    0.0000 R#  0  0\n"
                           "  1  2  1  0\n  2  3  1  0\n  2  9  1  0\nM  END\n";
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Write("query.mol", text)));
  const CrystalRec &c = w.crystal();
  ASSERT_EQ(c.atomCount, 3);
  EXPECT_EQ(c.sites[1].elements[0], kPlaceholderElement);
  EXPECT_EQ(c.sites[2].elements[0], kPlaceholderElement);
  EXPECT_EQ(Bonds(c), (std::set<std::pair<uint32_t, uint32_t>>{{0, 1}, {1, 2}}));
  EXPECT_NE(host.log.find("query.mol, line 6: the query atom \"A\" names no element"), std::string::npos) << host.log;
  EXPECT_NE(host.log.find("line 7: the query atom \"R#\""), std::string::npos);
  EXPECT_NE(host.log.find("line 10: the bond names an atom the file does not hold"), std::string::npos);
}

// Damaged files are refused at their line; nothing is built.
TEST_F(MOLReaderTest, DamagedFilesAreRefusedAtTheirLine) {
  const std::string head = "bad\n\n\n";
  const struct {
    std::string text;
    int line;
    const char *what;
  } bad[] = {
      {head + "  3  0  0  0  0  0  0  0  0  0999 V2000\n    0.0000    0.0000    0.0000 C   0  0\nM  END\n", 4,
       "the counts line promises 3 atoms, but only 1 follow"},
      {head + "  1  0  0  0  0  0  0  0  0  0999 V2000\n    0.0000       abc    0.0000 C   0  0\nM  END\n", 5,
       "the coordinate \"abc\" of atom 1 is not a number"},
      {head + "  2  2  0  0  0  0  0  0  0  0999 V2000\n    0.0000    0.0000    0.0000 C   0  0\n"
              "    1.0000    0.0000    0.0000 O   0  0\n  1  2  1  0\n",
       4, "the counts line promises 2 bonds, but only 1 follow"},
      {head + "  0  0  0     0  0            999 V3000\nM  V30 BEGIN CTAB\nM  V30 COUNTS 2 0 0 0 0\n"
              "M  V30 BEGIN ATOM\nM  V30 1 C 0 0 0 0\nM  V30 END ATOM\nM  END\n",
       6, "the COUNTS line promises 2 atoms, but only 1 follow"},
      {head + "  1  0  0  0  0  0  0  0  0  0999 V2000\n    0.0000    0.0000       nan C   0  0\nM  END\n", 5,
       "the coordinate \"nan\" of atom 1 is not a number"},
      // A charge no atom carries would wrap round as it is stored.
      {head + "  1  0  0  0  0  0  0  0  0  0999 V2000\n    0.0000    0.0000    0.0000 C   0  0\n"
              "M  CHG  1   1 4294967297\nM  END\n",
       6, "the charge \"4294967297\" is beyond -15 to 15"},
  };
  for (const auto &k : bad) {
    SCOPED_TRACE(k.text);
    ExpectRefused(Write("bad.mol", k.text), k.line, k.what);
  }
}

} // namespace
