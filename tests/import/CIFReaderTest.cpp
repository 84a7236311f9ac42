// CIF files opened as a user opens them: the symmetry of every source, the
// sites, displacements and esds, several blocks, bad input, and what comes
// back after a CIF export or a document save. Golden values are the
// crystallographic facts of the structures and hand computations.
#include "../documents/DocumentTestSupport.h"

#include "EllipsoidMaths.h"
#include "SpaceGroups.h"
#include "documents/CrystalDocument.h"
#include "export/CIFWriter.h"
#include "import/ImportPath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

namespace {

using doctest::Window;

const std::filesystem::path kDir = std::filesystem::path(OV_TEST_DATA) / "import/cif";

class CIFReaderTest : public ::testing::Test {
protected:
  FakeHost host;
  std::filesystem::path tmp;
  void SetUp() override {
    gPrefs = gFactoryPrefs;
    tmp = std::filesystem::temp_directory_path() / ("ovcif-" + std::to_string(::getpid()));
    std::filesystem::create_directories(tmp);
  }
  void TearDown() override { std::filesystem::remove_all(tmp); }

  std::filesystem::path Write(const std::string &name, const std::string &text) {
    std::ofstream(tmp / name, std::ios::binary) << text;
    return tmp / name;
  }
  bool LogHas(const std::string &part) const {
    for (const std::string &l : host.LogLines())
      if (l.find(part) != std::string::npos)
        return true;
    return false;
  }
};

std::string Symbol(const CrystalRec &c) { return std::string(CStrView(std::span<const char>(c.spaceGroup))); }

const char *kHead = "data_t\n_cell_length_a 5\n_cell_length_b 5\n_cell_length_c 5\n"
                    "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n";

TEST_F(CIFReaderTest, SymmetryFromOperatorsHallAndSymbol) {
  struct Case {
    const char *file, *group;
    int origin, atomsPerCell;
    const char *logPart;
    float shiftZ = 0.0f; // the origin shift along c the operators give
  };
  const Case cases[] = {
      {"ops_rutile.cif", "P 42/m n m", 0, 6, nullptr},
      {"ddlm_rutile.cif", "P 42/m n m", 0, 6, nullptr},
      {"hall_rutile.cif", "P 42/m n m", 0, 6, nullptr},
      {"hm_si_plain.cif", "F d -3 m", 1, 8, "has two origins and the file names neither; the first is taken"},
      {"hm_si_suffix.cif", "F d -3 m", 2, 8, nullptr},
      {"hm_si_code.cif", "F d -3 m", 2, 8, nullptr},
      {"corundum_hex.cif", "R -3 c", 0, 30, nullptr},
      {"corundum_rho.cif", "R -3 c", 0, 10, nullptr},
      // Operators of a centred group whose first copies are not the table's.
      {"cod_2104737_si.cif", "F d -3 m", 1, 8, nullptr},
      {"cod_9013104_si.cif", "F d -3 m", 1, 8, nullptr},
      {"cod_1502689_al.cif", "F m -3 m", 0, 4, nullptr},
      {"cod_1006141_lamno3.cif", "P b n m", 0, 20, nullptr},
      // P 32 2 1 with the origin moved along c: the group about the origin
      // (0, 0, 1/6), 3 Si and 6 O.
      {"quartz_shifted.cif", "P 32 2 1", 0, 9, nullptr, 1.0f / 6.0f},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.file);
    host.log.clear();
    Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), kDir / k.file));
    const CrystalRec &c = w.crystal();
    EXPECT_EQ(Symbol(c), k.group);
    EXPECT_EQ(c.cardCount, 0);
    EXPECT_EQ(c.originChoice, k.origin);
    EXPECT_EQ(c.atomsPerCell, k.atomsPerCell);
    EXPECT_EQ(c.originShift[0], 0.0f);
    EXPECT_EQ(c.originShift[1], 0.0f);
    EXPECT_FLOAT_EQ(c.originShift[2], k.shiftZ);
    if (k.logPart)
      EXPECT_TRUE(LogHas(k.logPart));
    else
      EXPECT_FALSE(LogHas(", line ")) << host.log;
  }
  EXPECT_TRUE(host.alerts.empty());
  // The Log calls _chemical_name_mineral what it is.
  host.log.clear();
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), kDir / "cod_2104737_si.cif"));
  EXPECT_TRUE(LogHas("mineral name \"Silicon\"")) << host.log;
}

TEST_F(CIFReaderTest, SitesDisplacementsAndEsds) {
  {
    Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), kDir / "mixed_site.cif"));
    const CrystalRec &c = w.crystal();
    ASSERT_EQ(c.sites.size(), 2u);
    const AsymmetricUnitRecord &s = c.sites[0].elements[0] == TwoCharsToShort("Cl") ? c.sites[1] : c.sites[0];
    EXPECT_EQ(s.elements[0], TwoCharsToShort("Na"));
    EXPECT_EQ(s.elements[1], TwoCharsToShort("K "));
    EXPECT_FLOAT_EQ(s.occupancies[0], 0.6f);
    EXPECT_FLOAT_EQ(s.occupancies[1], 0.4f);
    EXPECT_EQ(c.atomsPerCell, 8);
  }
  // One tensor given as U, as B = 8 pi^2 U and as beta = 2 pi^2 a*_i a*_j U.
  const float u[6] = {0.010f, 0.020f, 0.030f, 0.001f, 0.002f, 0.003f}; // 11 22 33 12 13 23
  for (const char *file : {"aniso_u.cif", "aniso_b.cif", "aniso_beta.cif"}) {
    SCOPED_TRACE(file);
    Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), kDir / file));
    CrystalRec &c = w.crystal();
    ASSERT_EQ(c.sites.size(), 1u);
    EXPECT_EQ(c.ellipsoidData, 1);
    float t[9];
    std::copy(c.sites[0].tensor, c.sites[0].tensor + 9, t);
    if (c.sites[0].displacementType == kDisplacementAnisoB)
      ASSERT_TRUE(ConvertBijToUij(&c, t, t));
    else
      EXPECT_EQ(c.sites[0].displacementType, kDisplacementAnisoU);
    const float got[6] = {t[0], t[4], t[8], t[1], t[2], t[5]};
    for (int k = 0; k < 6; k++)
      EXPECT_NEAR(got[k], u[k], 2e-7) << k;
    float axes[3][3];
    EXPECT_TRUE(GetEllipsoidAxes(&c, 0, axes));
    EXPECT_FALSE(LogHas("Invalid thermal ellipsoid"));
  }
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), kDir / "esds.cif"));
  const CrystalRec &c = w.crystal();
  EXPECT_EQ(c.esdFlag, 1);
  EXPECT_FLOAT_EQ(c.a, 5.4307f);
  EXPECT_FLOAT_EQ(c.cellEsds[0], 0.0002f);
  EXPECT_FLOAT_EQ(c.cellEsds[3], 0.03f);
  EXPECT_FLOAT_EQ(c.cellEsds[4], 0.0f);
  EXPECT_FLOAT_EQ(c.sites[0].esd[0], 0.0005f);
  EXPECT_FLOAT_EQ(c.sites[0].esd[2], 0.1f);
  EXPECT_EQ(c.sites[0].displacementType, kDisplacementIsotropic);
  EXPECT_NEAR(c.sites[0].isoValue, 3.9478 / (8 * M_PI * M_PI), 1e-6); // Biso 3.9478 = Uiso 0.05
}

TEST_F(CIFReaderTest, MendedRowsAreNamedInTheLog) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), kDir / "site_unknown.cif"));
  const CrystalRec &c = w.crystal();
  ASSERT_EQ(c.sites.size(), 3u); // Na1, the calculated H1 and Qq1
  EXPECT_TRUE(LogHas("site_unknown.cif, line 19: the atom \"Q1\" has no fractional coordinates and is left out."));
  EXPECT_TRUE(LogHas("site_unknown.cif, line 20: the dummy atom \"Cg1\" is left out."));
  EXPECT_TRUE(LogHas("site_unknown.cif, line 22: the element of the atom \"Qq1\" is not known"));
  ASSERT_FALSE(host.subtitles.empty());
  EXPECT_EQ(host.subtitles.back().second, "3 warnings while reading the file: see the Log.");

  // Rows at one place whose occupancies exceed 1 stay apart; labels too long
  // for the record are shortened and stay unique.
  Window v(host);
  ASSERT_TRUE(OpenTextFile(v.ref(), Write("two.cif", std::string(kHead) +
                                                         "loop_\n_atom_site_label\n_atom_site_occupancy\n"
                                                         "_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n"
                                                         "Fe_long_label_1 1 0 0 0\nFe_long_label_2 0.5 0.00005 0 0\n"
                                                         "Fe3+ 0.7 0.5 0.5 0.5\n")));
  const CrystalRec &d = v.crystal();
  ASSERT_EQ(d.sites.size(), 3u);
  EXPECT_TRUE(LogHas("two.cif, line 14: the atoms \"Fe_long_label_1\", \"Fe_long_label_2\" stand at one position but their "
                     "occupancies sum to more than 1; they stay separate sites."));
  EXPECT_NE(std::string(d.sites[0].label), std::string(d.sites[1].label));
  EXPECT_LE(std::string(d.sites[0].label).size(), static_cast<size_t>(kSiteLabelSize - 1));
  EXPECT_FLOAT_EQ(d.sites[2].occupancies[0], 0.7f);
  EXPECT_EQ(d.sites[2].elements[0], TwoCharsToShort("Fe"));
}

TEST_F(CIFReaderTest, BadInputIsRefusedWithTheLine) {
  const std::string sites = "loop_\n_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n";
  struct Case {
    std::string text, alert;
  };
  const Case cases[] = {
      {std::string(kHead) + sites + "Na1 0 0 0\nCl1 0.5 0.5\n",
       "at line 8: the loop that starts here has 7 values for its 4 columns: a value is missing or one too many, "
       "or a data name stands among its values."},
      {std::string(kHead) + sites + "Na1 0 0\n_cell_volume 125\n0\n",
       "at line 8: the loop that starts here has 3 values"},
      {std::string(kHead) + sites + "Na1 0 0 'open\n", "at line 13: the text is no CIF syntax (unterminated 'string')."},
      {"data_a\n_cell_length_a 5\n" + sites + "Na1 0 0 0\n",
       ": it holds no data block with a unit cell (_cell_length_a to _cell_angle_gamma)."},
      {std::string(kHead) + sites + "Na1 ? ? ?\n", ": it holds no atom site with fractional or Cartesian coordinates."},
      {std::string(kHead) + "_cell_volume 125\n", ": it holds no atom site with fractional or Cartesian coordinates."},
      // Loops whose names have no values, in a file with no value in any loop.
      {"data_x\nloop_\n_a\n_b\n", ": it holds no data block with a unit cell (_cell_length_a to _cell_angle_gamma)."},
      {std::string(kHead) + sites, ": it holds no atom site with fractional or Cartesian coordinates."},
      {"data_a\n_cell_length_a 5\n_cell_length_b 5\n_cell_length_c 5\n_cell_angle_alpha 90\n_cell_angle_beta 90\n"
       "_cell_angle_gamma 190\n" +
           sites + "Na1 0 0 0\n",
       "at line 7: the cell's lengths and angles make no cell."},
      // A mistyped number is no missing one: the atom is not left out.
      {std::string(kHead) + sites + "Si1 0.4697 0 0\nO1 0.4135 0.2O69 0.1191\n",
       "at line 14: the coordinate \"0.2O69\" of the atom \"O1\" is not a number."},
      // "#" begins a comment only after white space.
      {std::string(kHead) + sites + "Na1 0 0 0.5#x\n",
       "at line 13: the coordinate \"0.5#x\" of the atom \"Na1\" is not a number."},
      {std::string(kHead) + "loop_\n_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n"
                            "_atom_site_U_iso_or_equiv\nNa1 0 0 0 0.O1\n",
       "at line 14: the displacement \"0.O1\" of the atom \"Na1\" is not a number."},
      {std::string(kHead) + "_publ_section_comment\n;\nA note\n" + sites + "Na1 0 0 0\n",
       "at line 9: the text field that opens here (a line starting with \";\") is never closed."},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.alert);
    Window w(host);
    host.alerts.clear();
    EXPECT_FALSE(OpenTextFile(w.ref(), Write("bad.cif", k.text)));
    if (host.alerts.size() != 1u) {
      ADD_FAILURE() << host.alerts.size() << " alerts";
      continue;
    }
    EXPECT_NE(host.alerts[0].explanation.find(k.alert), std::string::npos) << host.alerts[0].explanation;
    EXPECT_TRUE(w.crystal().sites.empty()); // the window is left as it was
  }
  Window w(host);
  host.alerts.clear();
  EXPECT_FALSE(OpenTextFile(w.ref(), kDir / "loop_missing_value.cif"));
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].explanation.substr(0, 54), "\"loop_missing_value.cif\" could not be read at line 9: ");
  // Cell lengths written with their su as "7.060+2".
  host.alerts.clear();
  EXPECT_FALSE(OpenTextFile(w.ref(), kDir / "refused/drawxtl_cif_test.cif"));
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_NE(host.alerts[0].explanation.find("at line 29: the cell value \"7.060+2\" is not a number."), std::string::npos)
      << host.alerts[0].explanation;
  // Numbers with an su, exponents, and unknown (?) or inapplicable (.)
  // values are CIF: the row without a position is left out, with its line.
  host.log.clear();
  Window v(host);
  ASSERT_TRUE(OpenTextFile(v.ref(), Write("legal.cif", std::string(kHead) + sites +
                                                           "Na1 0.5(1) 25e-2 -.5\nCl1 . 0 0\n")));
  ASSERT_EQ(v.crystal().sites.size(), 1u);
  EXPECT_FLOAT_EQ(v.crystal().sites[0].xyz[1], 0.25f);
  EXPECT_TRUE(LogHas("legal.cif, line 14: the atom \"Cl1\" has no fractional coordinates and is left out."));
}

// One position held by rows of several elements is one site, even when a
// refinement left its occupancies over 1 (gemmi: Co, Fe and Ni on 8c and As
// on 24g, 32 atoms a cell as one mixed site), its elements by decreasing
// share: Co .87, Ni .13, Fe .11 (the file lists Fe before Ni).
TEST_F(CIFReaderTest, OverfilledMixedSiteIsOneSite) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), kDir / "avogadro_skutterudite.cif"));
  const CrystalRec &c = w.crystal();
  ASSERT_EQ(c.sites.size(), 2u);
  EXPECT_EQ(c.sites[0].elements[1], TwoCharsToShort("Ni"));
  EXPECT_EQ(c.sites[0].elements[2], TwoCharsToShort("Fe"));
  EXPECT_FLOAT_EQ(c.sites[0].occupancies[0], 0.87f);
  EXPECT_EQ(c.atomsPerCell, 32);
  EXPECT_TRUE(LogHas("line 116: the atoms \"Co\", \"Fe\", \"Ni\" at one position are one mixed site, but their "
                     "occupancies sum to 1.11."));
  ImportResult result;
  ASSERT_TRUE(ReadStructureFile(kDir / "avogadro_skutterudite.cif", result, nullptr));
  EXPECT_EQ(result.structures[0].name, "9007544");
  EXPECT_EQ(result.structures[0].commonName, "Skutterudite");
  ASSERT_TRUE(ReadStructureFile(Write("common.cif", std::string(kHead) + "_chemical_name.common 'rock salt'\n"
                                                    "loop_\n_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n"
                                                    "_atom_site_fract_z\nNa1 0 0 0\n"),
                                result, nullptr));
  EXPECT_EQ(result.structures.back().commonName, "rock salt");
}

// "P M N M" without its origin: the file's multiplicities and Wyckoff
// letters fit origin 2 only (gemmi expands the sites to 96 atoms in origin
// 1, 48 in origin 2); without them, origin 1 puts atoms that cannot share
// the cell within 0.5 A of each other.
TEST_F(CIFReaderTest, TwoOriginSymbolTakesTheOriginTheSitesFit) {
  std::ifstream in(kDir / "gdis_burk1.cif", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string bare; // without the multiplicity and Wyckoff columns
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("_atom_site_symmetry_multiplicity") || line.starts_with("_atom_site_Wyckoff"))
      continue;
    if (line.size() > 14 && std::isdigit(static_cast<unsigned char>(line[9])))
      line.erase(9, 5); // "Na1 Na   4 f   0.25000 ..."
    bare += line + "\n";
  }
  const std::pair<std::filesystem::path, const char *> cases[] = {
      {kDir / "gdis_burk1.cif", "origin 2 is taken, the one the sites' multiplicities fit."},
      {Write("bare.cif", bare), "origin 2 is taken, the one under which no atoms overlap."}};
  for (const auto &[file, logPart] : cases) {
    SCOPED_TRACE(file.filename().string());
    host.log.clear();
    Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), file));
    EXPECT_EQ(w.crystal().originChoice, 2);
    EXPECT_EQ(w.crystal().atomsPerCell, 48);
    EXPECT_TRUE(LogHas(logPart)) << host.log;
  }
}

TEST_F(CIFReaderTest, EveryBlockWithACellAndSitesIsAStructure) {
  ImportResult result;
  std::string why;
  ASSERT_TRUE(ReadStructureFile(kDir / "several_blocks.cif", result, &why)) << why;
  ASSERT_EQ(result.structures.size(), 2u);
  const StructureSummary one = SummariseStructure(result.structures[0]);
  const StructureSummary two = SummariseStructure(result.structures[1]);
  EXPECT_EQ(one.name, "phase_one");
  EXPECT_EQ(one.formula, "Cl Na"); // Hill order, though the file writes "Na Cl"
  EXPECT_EQ(one.spaceGroup, "F m -3 m");
  EXPECT_EQ(two.name, "phase_two");
  EXPECT_EQ(two.formula, "Cl Cs"); // Hill order
  EXPECT_EQ(two.cell, "4.1100 4.1100 4.1100  90.00 90.00 90.00");
  EXPECT_EQ(two.spaceGroup, "P m -3 m");

  // The same text with CR LF ends, with NUL padding and gzipped.
  for (const char *file : {"nacl_crlf.cif", "nacl_padded.cif", "nacl.cif.gz"}) {
    SCOPED_TRACE(file);
    Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), kDir / file));
    EXPECT_EQ(w.crystal().atomsPerCell, 8);
    EXPECT_EQ(Symbol(w.crystal()), "F m -3 m");
  }
}

// A loop's values are read alike in every form the syntax allows between
// and around them: the labels, positions and the line a row starts on (the
// third row has no position and is named at its own line, counted by hand
// in each text).
TEST_F(CIFReaderTest, LoopValuesInEveryLayoutReadAlike) {
  const std::string tags = "loop_\n_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n";
  struct Case {
    const char *layout;
    std::string rows;
    int thirdRowLine;
  };
  const Case cases[] = {
      {"one row a line", "Na1 0 0 0\nCl1 0.5 0.5 0.5\nX9 ? ? ?\n", 15},
      {"tabs and runs of blanks", "Na1\t0  0\t\t0\nCl1   0.5\t0.5 0.5\nX9 ? ? ?\n", 15},
      {"comments between values", "Na1 0 # a note\n0 0\n#row two\nCl1 0.5 0.5 0.5\nX9 ? ? ? # last\n", 17},
      {"quoted labels and a text field", "'Na1' 0 0 0\n\"Cl1\" 0.5\n;\n0.5\n;\n0.5\nX9 ? ? ?\n", 19},
      {"rows run on over lines", "Na1 0\n0\n0 Cl1\n0.5 0.5 0.5 X9\n? ? ?\n", 16},
      {"CR LF ends", "Na1 0 0 0\r\nCl1 0.5 0.5 0.5\r\nX9 ? ? ?\r\n", 15},
      {"last value at the end of the text", "Na1 0 0 0\nCl1 0.5 0.5 0.5\nX9 ? ? ?", 15},
      {"loop closed by stop_ before a data name", "Na1 0 0 0 Cl1 0.5 0.5 0.5\nX9 ? ? ? stop_\n_cell_volume 125\n",
       14},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.layout);
    host.log.clear();
    Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), Write("layout.cif", std::string(kHead) + tags + k.rows)));
    const CrystalRec &c = w.crystal();
    ASSERT_EQ(c.sites.size(), 2u);
    EXPECT_EQ(std::string(c.sites[0].label), "Na1");
    EXPECT_EQ(std::string(c.sites[1].label), "Cl1");
    for (int axis = 0; axis < 3; axis++) {
      EXPECT_FLOAT_EQ(c.sites[0].xyz[axis], 0.0f);
      EXPECT_FLOAT_EQ(c.sites[1].xyz[axis], 0.5f);
    }
    EXPECT_TRUE(LogHas("layout.cif, line " + std::to_string(k.thirdRowLine) +
                       ": the atom \"X9\" has no fractional coordinates and is left out."));
  }
}

// What was read comes back from a CIF export and from a saved document.
TEST_F(CIFReaderTest, ExportAndSaveGiveBackWhatWasRead) {
  for (const auto &entry : std::filesystem::directory_iterator(kDir)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".cif" || name.starts_with("loop_") || name.starts_with("several"))
      continue;
    SCOPED_TRACE(name);
    Window first(host);
    ASSERT_TRUE(OpenTextFile(first.ref(), entry.path()));
    const CrystalRec &a = first.crystal();
    const auto exported = Write("export.cif", FormatCIFFile(a, "exported", "", "test"));
    ASSERT_TRUE(DoWriteCrystalFile(first.ref(), tmp / "saved.ovdf"));
    Window second(host), third(host);
    ASSERT_TRUE(OpenTextFile(second.ref(), exported));
    ASSERT_TRUE(OpenCrystalFile(third.ref(), tmp / "saved.ovdf"));
    for (const CrystalRec *b : {&second.crystal(), &third.crystal()}) {
      const float ca[6] = {a.a, a.b, a.c, a.alpha, a.beta, a.gamma}, cb[6] = {b->a, b->b, b->c, b->alpha, b->beta, b->gamma};
      for (int k = 0; k < 6; k++) {
        EXPECT_NEAR(ca[k], cb[k], 5e-5);
        EXPECT_NEAR(a.cellEsds[k], b->cellEsds[k], 5e-5);
      }
      EXPECT_EQ(Symbol(a), Symbol(*b));
      EXPECT_EQ(a.originChoice, b->originChoice);
      EXPECT_EQ(a.cardCount, b->cardCount);
      EXPECT_EQ(a.atomsPerCell, b->atomsPerCell);
      ASSERT_EQ(a.sites.size(), b->sites.size());
      for (size_t s = 0; s < a.sites.size(); s++) {
        const AsymmetricUnitRecord &x = a.sites[s], &y = b->sites[s];
        for (int k = 0; k < kMaxSiteElements; k++) {
          EXPECT_EQ(x.elements[k], y.elements[k]);
          EXPECT_NEAR(x.occupancies[k], y.occupancies[k], 5e-5);
        }
        // The export writes the positions about the group's origin.
        for (int k = 0; k < 3; k++)
          EXPECT_NEAR(x.xyz[k] + a.originShift[k], y.xyz[k] + b->originShift[k], 5e-5);
        float ux[9], uy[9];
        std::copy(x.tensor, x.tensor + 9, ux);
        std::copy(y.tensor, y.tensor + 9, uy);
        if (x.displacementType == kDisplacementAnisoB)
          ConvertBijToUij(&a, ux, ux);
        if (y.displacementType == kDisplacementAnisoB)
          ConvertBijToUij(b, uy, uy);
        EXPECT_EQ(x.displacementType == kDisplacementNone, y.displacementType == kDisplacementNone);
        if (x.displacementType == kDisplacementIsotropic) {
          EXPECT_NEAR(x.isoValue, y.isoValue, 5e-5);
        }
        if (x.displacementType >= kDisplacementAnisoU) {
          for (int k = 0; k < 9; k++)
            EXPECT_NEAR(ux[k], uy[k], 5e-5);
        }
      }
    }
  }
}

} // namespace
