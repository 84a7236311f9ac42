// The text exports: exact bytes against golden files, the edge cases that
// catch real faults, the commands through the recording host (dialog,
// alerts, files) and the dump the independent readers check
// (tests/oracle/export_oracle.py).
#include "../documents/DocumentTestSupport.h"

#include "Alerts.h"
#include "AutoBonds.h"
#include "BondSearch.h"
#include "SymmetryCards.h"
#include "export/CIFWriter.h"
#include "export/ExportFrame.h"
#include "export/Listings.h"
#include "export/OwnTextWriter.h"
#include "export/PDBWriter.h"
#include "import/ImportText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

using doctest::Named;
using doctest::Window;

const std::filesystem::path kGoldenDir = std::filesystem::path(OV_TEST_DATA) / "export";

std::string ReadFile(const std::filesystem::path &p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

size_t Count(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    n++;
  return n;
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> out;
  std::istringstream s(text);
  for (std::string line; std::getline(s, line);)
    out.push_back(line);
  return out;
}

// Every format of one structure, as the commands write them.
std::map<std::string, std::string> AllFormats(CrystalRec &c, const std::string &title) {
  std::map<std::string, std::string> out;
  const std::string v = "1.0.0";
  out["coordinates.txt"] = FormatCoordinatesListing(c, title, v);
  out["visible coordination.txt"] = FormatVisibleCoordinationListing(c, title, v);
  if (!c.molecule) {
    out["crystal coordination.txt"] = FormatCrystalCoordinationListing(c, title, v).value_or("none");
    out["cif"] = FormatCIFFile(c, title, "", v);
  }
  out["distances & angles.txt"] = FormatBondsReport(c, title, v, 3.0f);
  out["pdb"] = FormatPDBFile(c, title, v);
  if (UsableSiteSize(c) <= kMaxMacMoleculeTypes)
    out["mm"] = FormatMacMoleculeFile(c, title, v);
  out["chem3d"] = FormatChem3DFile(c);
  return out;
}

class TextExportTest : public ::testing::Test {
protected:
  FakeHost host;
  std::filesystem::path dir;
  void SetUp() override {
    gPrefs = gFactoryPrefs;
    dir = std::filesystem::temp_directory_path() / ("ovexport-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  // The structures of tests/data/structures, built and bonded by their
  // contacts.
  std::vector<Named> DataStructures() {
    static const std::vector<Named> all = [this] {
      std::string error;
      std::vector<Named> built = doctest::DataStructures(host, error);
      EXPECT_EQ(error, "");
      for (Named &n : built)
        AutoBondSearch(&n.crystal);
      return built;
    }();
    return all;
  }
  CrystalRec Data(const std::string &title) {
    for (Named &n : DataStructures())
      if (n.name == title)
        return n.crystal;
    ADD_FAILURE() << "no structure " << title;
    return {};
  }
  CrystalRec Example(const std::string &stem) {
    Window w(host);
    EXPECT_TRUE(OpenStructureFile(w.ref(), std::filesystem::path(OV_SOURCE_DIR) / "resources/examples" / (stem + ".ovtx")));
    return w.crystal();
  }
  // A built P 1 crystal of the given sites.
  CrystalRec Built(const float cell[6], const char *group, const std::vector<SiteIn> &sites) {
    Window w(host);
    FillCrystalFromSites(w.crystal(), cell, group, sites);
    CopyPrefsToCrystal(&gPrefs, &w.crystal());
    SetWindowFileOpen(w.ref(), true);
    EXPECT_TRUE(RunNewCrystal(w.ref(), true, true, true));
    return w.crystal();
  }
};

// One structure per crystal system, an F group, an R group on both axes and
// a molecule: every format to the byte. OV_UPDATE_GOLDEN=1 rewrites them.
TEST_F(TextExportTest, GoldenFiles) {
  const std::vector<std::string> titles = {"000 P 1",     "baddeleyite (P 21/c)",     "049 P n m a",
                                           "rutile",      "calcite (hexagonal axes)", "calcite (rhombohedral axes)",
                                           "107 P 6",     "NaCl"};
  std::vector<Named> all;
  for (Named &n : DataStructures())
    if (std::find(titles.begin(), titles.end(), n.name) != titles.end())
      all.push_back(std::move(n));
  ASSERT_EQ(all.size(), titles.size());
  all.push_back({"Benzene", Example("Benzene")});
  const bool update = std::getenv("OV_UPDATE_GOLDEN") != nullptr;
  for (Named &n : all) {
    std::string stem = n.name;
    for (char &ch : stem)
      if (!std::isalnum(static_cast<unsigned char>(ch)))
        ch = '_';
    for (const auto &[suffix, text] : AllFormats(n.crystal, n.name)) {
      std::string ext = suffix;
      for (char &ch : ext)
        if (ch == ' ' || ch == '&')
          ch = '_';
      const auto file = kGoldenDir / (stem + "." + ext);
      if (update) {
        std::filesystem::create_directories(kGoldenDir);
        std::ofstream(file, std::ios::binary) << text;
        continue;
      }
      const std::vector<std::string> got = Lines(text), want = Lines(ReadFile(file));
      size_t line = 0;
      while (line < got.size() && line < want.size() && got[line] == want[line])
        line++;
      EXPECT_TRUE(text == ReadFile(file)) << file << ": first difference at line " << line + 1 << ":\n  "
                                      << (line < got.size() ? got[line] : "(end)") << "\nexpected\n  "
                                      << (line < want.size() ? want[line] : "(end)");
    }
  }
}

TEST_F(TextExportTest, CIFEdgeCases) {
  CrystalRec nacl = Data("NaCl");
  nacl.cellEsds[0] = 0.0012f;
  nacl.cellEsds[1] = 0.00004f;
  nacl.cellEsds[3] = 0.00126f;
  MyStrCopy(std::span<char>(nacl.sites[0].label), "Na 1");
  const std::string before(CStrView(std::span<const char>(nacl.spaceGroup)));
  const uint16_t cardsBefore = nacl.cardCount;
  std::string cif = FormatCIFFile(nacl, "rock salt", "A line\n; starts a note line\nlast", "1.0.0");
  EXPECT_EQ(cif.rfind("data_rock_salt\n", 0), 0u);
  EXPECT_NE(cif.find("_cell_length_a                   5.6402(12)\n"), std::string::npos);
  EXPECT_NE(cif.find("_cell_length_b                  5.64020(4)\n"), std::string::npos)
      << "as many decimals as the esd needs, never a zero esd";
  EXPECT_NE(cif.find("_cell_length_c                   5.6402\n"), std::string::npos) << "no esd known, none written";
  EXPECT_NE(cif.find("_cell_angle_alpha               90.0000(13)\n"), std::string::npos) << "halves away from zero";
  EXPECT_NE(cif.find(";\nA line\n\n ; starts a note line\n\nlast\n;\n"), std::string::npos)
      << "a note line cannot end the text field:\n" << cif;
  EXPECT_NE(cif.find("\n  Na_1    Na 1.0000"), std::string::npos);
  EXPECT_EQ(CStrView(std::span<const char>(nacl.sites[0].label)), "Na 1") << "the structure keeps its label";
  EXPECT_EQ(CStrView(std::span<const char>(nacl.spaceGroup)), before);
  EXPECT_EQ(nacl.cardCount, cardsBefore);
  EXPECT_NE(cif.find("_symmetry_cell_setting             cubic\nloop_\n"), std::string::npos);
  // F: each of the n cards followed by its three centred copies.
  const size_t nOps = Count(cif, "\n'");
  EXPECT_EQ(nOps, 4u * 48u);
  EXPECT_NE(cif.find("'-x,-y,-z'\n'-x,1/2-y,1/2-z'\n'1/2-x,1/2-y,-z'\n'1/2-x,-y,1/2-z'\n"), std::string::npos);
  EXPECT_EQ(cif.find("U_iso"), std::string::npos) << "no displacement data, no column";

  // A mixed site: a row per element, each with a label of its own (the
  // loop's key), and each with the site's displacements.
  CrystalRec mixed = Data("000 P 1");
  mixed.ellipsoidData = 1;
  AsymmetricUnitRecord &m = mixed.sites[0];
  MyStrCopy(std::span<char>(m.label), "M1");
  m.elements[1] = TwoCharsToShort("Fe"), m.occupancies[1] = 0.11f;
  m.elements[2] = TwoCharsToShort("Ni"), m.occupancies[2] = 0.13f;
  m.displacementType = kDisplacementAnisoU;
  MyStrCopy(std::span<char>(mixed.sites[1].label), "M1_Fe");
  const std::string mcif = FormatCIFFile(mixed, "m", "", "1");
  std::vector<std::string> keys;
  bool inSites = false;
  for (const std::string &line : Lines(mcif)) {
    if (line == "_atom_site_label")
      inSites = true;
    else if (inSites && line.empty())
      break;
    else if (inSites && line[0] != '_')
      keys.push_back(line.substr(0, line.find_first_of(' ', line.find_first_not_of(' '))));
  }
  std::vector<std::string> sorted = keys;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << mcif;
  EXPECT_EQ(keys.size(), UsableSiteSize(mixed) + 2) << mcif;
  EXPECT_NE(std::find(keys.begin(), keys.end(), "M1_Fe2"), keys.end()) << "a taken label is not reused:\n" << mcif;
  EXPECT_EQ(Count(mcif, "M1_Ni "), 2u) << "in the site and displacement loops:\n" << mcif;

  // R: 3n operators on hexagonal axes, n on rhombohedral axes.
  CrystalRec hex = Data("calcite (hexagonal axes)"), rho = Data("calcite (rhombohedral axes)");
  EXPECT_EQ(Count(FormatCIFFile(hex, "h", "", "1"), "\n'"), 36u);
  const std::string rcif = FormatCIFFile(rho, "r", "", "1");
  EXPECT_EQ(Count(rcif, "\n'"), 12u);
  EXPECT_NE(rcif.find("_symmetry_cell_setting             rhombohedral\n"), std::string::npos);

  // A blank symbol with stored cards that are no setting of the tables (an
  // inversion centre off the origin): no symbol lines, a blank line before
  // the loop; an unconvertible title gives the fixed block name.
  CrystalRec p1 = Data("000 P 1");
  p1.spaceGroup[0] = '\0';
  p1.cardCount = 2;
  p1.symCards[0] = MakeSymcard(kIdentityCard);
  p1.symCards[1] = MakeSymcard("1/2-x       -y       -z  ");
  p1.ellipsoidData = 1;
  p1.sites[1].displacementType = kDisplacementAnisoU;
  p1.sites[0].displacementType = kDisplacementIsotropic;
  p1.sites[0].isoValue = 0.0125f;
  const std::string pcif = FormatCIFFile(p1, "\xc3\x85", "", "1");
  EXPECT_EQ(pcif.rfind("data_structure\n", 0), 0u);
  EXPECT_EQ(pcif.find("_symmetry_space_group_name_H-M"), std::string::npos);
  EXPECT_NE(pcif.find("103.0000\n\n\nloop_\n_symmetry_equiv_pos_as_xyz\n'+x,+y,+z'\n'1/2-x,-y,-z'\n\n"),
            std::string::npos)
      << pcif;
  // Coordinates without su to six decimals.
  EXPECT_NE(pcif.find("0.471300  0.719100  0.311600    0.0125\n"), std::string::npos);
  EXPECT_NE(pcif.find("    0.250000  0.250000  0.353500  .  \n"), std::string::npos);
  // The identity alone is P 1, and named so.
  p1.cardCount = 1;
  EXPECT_NE(FormatCIFFile(p1, "p", "", "1")
                .find("103.0000\n\n_space_group_name_H-M_alt          'P 1'\n_space_group_name_Hall             'P "
                      "1'\n_space_group_IT_number             1\n\nloop_\n"),
            std::string::npos);
  EXPECT_NE(pcif.find("\n    C1  . . . . . .\n    N1      1.0000     1.0000     1.0000     0.0000"), std::string::npos)
      << "one anisotropic site lists every site:\n" << pcif;

  // A symbol ends its cell-setting line even when no operator follows.
  std::string tail;
  CrystalRec none = p1;
  MyStrCopy(std::span<char>(none.spaceGroup), "P -1");
  none.cardCount = 0;
  WriteCIFSymmetry(none, tail);
  EXPECT_NE(tail.find("triclinic\nloop_"), std::string::npos) << tail;

  EXPECT_EQ(MakeCommaDelimitedGEP("   +x       +y       +z  "), "+x,+y,+z");
  EXPECT_EQ(MakeCommaDelimitedGEP("1/2+x    1/2-y       +z  "), "1/2+x,1/2-y,+z");
  EXPECT_EQ(MakeCommaDelimitedGEP(""), "");
}

TEST_F(TextExportTest, NotesWriter) {
  std::string out;
  WriteTextNote(out, "");
  EXPECT_EQ(out, "");
  const std::string words(80, 'w');
  WriteTextNote(out, std::string(70, 'a') + " bb,cc dd\n\nK\xc3\xa9\xe2\x82\xac" + words);
  EXPECT_EQ(out, std::string(70, 'a') + " bb,cc \ndd\n\n\nK??" + words + "\n")
      << "a break after a blank past column 72, never inside a word; one ? per character";

  // Numbers with points, signs and fractions about the wrap column come out
  // whole: the words of the lines are the words of the notes.
  std::string notes;
  for (int k = 0; k < 40; k++)
    notes += "Zn-O 1.9745 at -0.2500,1/2 and 3.14159; ";
  std::string wrapped;
  WriteTextNote(wrapped, notes, true);
  auto words_of = [](const std::string &text) {
    std::vector<std::string> w;
    std::istringstream in(text);
    for (std::string word; in >> word;)
      w.push_back(word);
    return w;
  };
  EXPECT_EQ(words_of(wrapped), words_of(notes));
  std::istringstream lines(wrapped);
  int count = 0;
  for (std::string line; std::getline(lines, line); count++)
    EXPECT_LE(line.size(), kNoteWrapColumn + 12) << line;
  EXPECT_GT(count, 10);
}

TEST_F(TextExportTest, PDBEdgeCases) {
  EXPECT_EQ(PDBSerial(99999), "99999");
  EXPECT_EQ(PDBSerial(100000), "A0000");
  EXPECT_EQ(PDBSerial(100001), "A0001");
  EXPECT_EQ(PDBSerial(100000 + 26 * 36 * 36 * 36 * 36), "a0000");

  // Six atoms around an iron atom, one of them on a hidden site and one
  // hidden itself.
  const float cell[6] = {10, 10, 10, 90, 90, 90};
  CrystalRec c = Built(cell, "P 1",
                       {{"Fe1", "Fe", 0.5f, 0.5f, 0.5f}, {"O1", "O", 0.7f, 0.5f, 0.5f}, {"O2", "O", 0.3f, 0.5f, 0.5f},
                        {"O3", "O", 0.5f, 0.7f, 0.5f}, {"O4", "O", 0.5f, 0.3f, 0.5f}, {"O5", "O", 0.5f, 0.5f, 0.7f},
                        {"O6", "O", 0.5f, 0.5f, 0.3f}, {"C1", "C", 0.1f, 0.1f, 0.1f}});
  c.bondSpecCount = 1;
  c.bondSpecs[0] = BondSpec{TwoCharsToShort("Fe"), TwoCharsToShort("O "), 0.0f, 2.1f, 1, {}, {}};
  ASSERT_GE(c.atomCount, 8);
  // Bonds of the iron atom (site 0) to the six oxygen atoms.
  size_t fe = static_cast<size_t>(c.sites[0].firstAtom);
  c.atoms[fe].bonds.clear();
  for (size_t s = 1; s <= 6; s++)
    c.atoms[fe].bonds.push_back(static_cast<uint32_t>(c.sites[s].firstAtom));
  c.atoms[fe].bondCount = 6;
  std::string pdb = FormatPDBFile(c, "t", "1");
  EXPECT_NE(pdb.find("\nATOM      1 Fe   MOL H   0    "), std::string::npos);
  EXPECT_NE(pdb.find("          Fe0 \n"), std::string::npos);
  EXPECT_NE(pdb.find("           C0 \n"), std::string::npos);
  EXPECT_NE(pdb.find("\nCONECT    1    2    3    4    5\nCONECT    1    6    7\n"), std::string::npos) << pdb;
  for (const std::string &line : Lines(pdb)) {
    if (line.rfind("ATOM", 0) == 0) {
      EXPECT_EQ(line.size(), 80u) << line;
    }
  }
  // A hidden site's atoms take no serial and are no partner; serials stay
  // consecutive.
  c.sites[2].visible = 0;
  c.atoms[static_cast<size_t>(c.sites[6].firstAtom)].visible = 0;
  pdb = FormatPDBFile(c, "t", "1");
  EXPECT_NE(pdb.find("\nCONECT    1    2    3    4    5\n"), std::string::npos) << pdb;
  EXPECT_EQ(Count(pdb, "\nATOM  "), 6u);
  // Only hidden partners left after a full line: the serial alone.
  c.sites[2].visible = 1;
  c.atoms[static_cast<size_t>(c.sites[5].firstAtom)].visible = 0;
  pdb = FormatPDBFile(c, "t", "1");
  EXPECT_NE(pdb.find("\nCONECT    1    2    3    4    5\nCONECT    1\n"), std::string::npos) << pdb;
}

TEST_F(TextExportTest, MacMoleculeAndChem3D) {
  CrystalRec c = Data("rutile");
  c.viewDirection[0] = 0.9f, c.viewDirection[1] = -1.7f, c.viewDirection[2] = 2.0f;
  c.sites[0].visible = 0;
  std::string mm = FormatMacMoleculeFile(c, "rutile", "1.0.0");
  EXPECT_EQ(mm.find("\nA = "), std::string::npos);
  EXPECT_NE(mm.find("; Atom description for: O  (site: O)\nB = "), std::string::npos) << "a hidden site keeps its letter";
  EXPECT_NE(mm.find("\n\xA5\xA5 view direction: [0 -1 2]\n"), std::string::npos);
  EXPECT_EQ(mm.find("\nA0 :"), std::string::npos);
  EXPECT_EQ(mm.find(", A"), std::string::npos) << "no bond to an atom that is not written";
  EXPECT_TRUE(mm.ends_with("\n\xA5\xA5 This file has been created using Orvalisphere 1.0.0\n"));
  // Every bond once, from its lower-indexed atom.
  c.sites[0].visible = 1;
  mm = FormatMacMoleculeFile(c, "rutile", "1.0.0");
  size_t bonds = 0;
  for (size_t a = 0; a < c.atoms.size(); a++)
    for (uint32_t p : c.atoms[a].bonds)
      bonds += IsAtomShown(c, a) && IsAtomShown(c, p) ? 1 : 0;
  const size_t from = mm.find("; bonds\n") + 8;
  EXPECT_EQ(Count(mm.substr(from, mm.find("\xA5") - from), "\n") * 2, bonds);

  CrystalRec benzene = Example("Benzene");
  EXPECT_EQ(FormatMacMoleculeFile(benzene, "b", "1").find("view direction"), std::string::npos);
  for (auto &site : benzene.sites)
    site.visible = 0;
  EXPECT_EQ(FormatChem3DFile(benzene), "0\n");
  EXPECT_EQ(NumToAtomCode(c, static_cast<size_t>(c.sites[1].firstAtom) + 3), "B3");
}

TEST_F(TextExportTest, ListingEdgeCases) {
  CrystalRec c = Data("rutile");
  MyStrCopy(std::span<char>(c.sites[0].label), "Ti12345");
  c.sites[0].coordination = 10;
  // Two specifications of one pair list each neighbour twice; the minimum is
  // not applied.
  c.bondSpecs[1] = c.bondSpecs[0];
  c.bondSpecs[1].minLength = 5.0f;
  c.bondSpecCount = 2;
  const std::string cod = *FormatCrystalCoordinationListing(c, "t", "1");
  EXPECT_NE(cod.find("\n[10] Ti   Ti1234"), std::string::npos);
  EXPECT_NE(cod.find("\n[3]  O    O     "), std::string::npos);
  const size_t ti = cod.find("\n[10]"), next = cod.find("\n\n", ti);
  EXPECT_EQ(Count(cod.substr(ti, next - ti), "\n     O "), 12u) << "six neighbours, twice";

  const std::string coords = FormatCoordinatesListing(c, "t", "1");
  EXPECT_NE(coords.find("\nTi   Ti1234 "), std::string::npos);
  EXPECT_NE(coords.find("\nO    O      "), std::string::npos) << "a one-character label and five blanks";
  // An atom with fewer bonds than its site's coordination number is marked.
  const std::string vcg = FormatVisibleCoordinationListing(c, "t", "1");
  EXPECT_NE(vcg.find("\n<10  Ti   Ti1234"), std::string::npos);

  for (AtomRecord &t : c.atoms)
    t.visible = 0;
  EXPECT_NE(FormatCoordinatesListing(c, "t", "1").find("Listing of all 0 atoms displayed on screen:\n"),
            std::string::npos);
}

TEST_F(TextExportTest, DistancesReport) {
  // A flat cell puts many lattice points close together: the list of
  // capacity 8 overflows at 3 A and the radius shrinks.
  const float flat[6] = {10, 10, 10, 5, 5, 5};
  CrystalRec f = Built(flat, "P 1", {{"C1", "C", 0, 0, 0}});
  EXPECT_EQ(BondsReportListCapacity(f, 3.0f), 8u);
  const std::string shrunk = FormatBondsReport(f, "t", "1", 3.0f);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(shrunk, m, std::regex("\nFound (\\d+) atoms within ([0-9.]+) A of atom C1")));
  EXPECT_LT(std::stoi(m[1]), 8);
  EXPECT_LT(std::stof(m[2]), 3.0f * 0.9f + 0.005f);

  // Twenty neighbours: every distance, angles among the 17 nearest, and the
  // angle table's heading counts the 17 it uses (17 x 16 / 2 = 136 rows).
  const float cell[6] = {20, 20, 20, 90, 90, 90};
  std::vector<SiteIn> sites = {{"X1", "Fe", 0.5f, 0.5f, 0.5f}};
  static const char *labels[20] = {"O1",  "O2",  "O3",  "O4",  "O5",  "O6",  "O7",  "O8",  "O9",  "O10",
                                   "O11", "O12", "O13", "O14", "O15", "O16", "O17", "O18", "O19", "O20"};
  for (int k = 0; k < 20; k++) {
    const double phi = k * 2.399963, z = 1.0 - (k + 0.5) / 10.0, r = std::sqrt(1 - z * z);
    sites.push_back({labels[k], "O", static_cast<float>(0.5 + 0.1 * r * std::cos(phi)),
                     static_cast<float>(0.5 + 0.1 * r * std::sin(phi)), static_cast<float>(0.5 + 0.1 * z)});
  }
  CrystalRec c = Built(cell, "P 1", sites);
  const std::string report = FormatBondsReport(c, "t", "1", 2.5f);
  const size_t at = report.find("Bond angles around site X1 (Fe) to the 17 closest neighbours\n");
  ASSERT_NE(at, std::string::npos) << report;
  const size_t end = report.find("\nFound", at);
  EXPECT_EQ(Count(report.substr(at, end - at), "\n| O"), 136u);
  EXPECT_NE(report.find("\nFound 20 atoms within 2.50 A of atom X1 (Fe)\n"), std::string::npos);
  EXPECT_NE(report.find("|  20.  O"), std::string::npos);
  EXPECT_EQ(CStrView(std::span<const char>(c.spaceGroup)), "P 1");

  // A molecule: no summary of input data, atoms numbered from 0.
  CrystalRec benzene = Example("Benzene");
  benzene.atoms[0].visible = 0;
  const std::string mol = FormatBondsReport(benzene, "b", "1", 2.0f);
  EXPECT_EQ(mol.find("Summary of input data"), std::string::npos);
  EXPECT_NE(mol.find("\n|      0   "), std::string::npos);
  const size_t list = mol.find("Bond List");
  EXPECT_EQ(mol.find("#   0 ", list), std::string::npos) << "a hidden atom is not listed";
  EXPECT_TRUE(std::regex_search(mol.substr(list), std::regex("#\\s+[1-9]\\d* ( +\\d+)* +0( |\n)")))
      << "bonds to a hidden atom are listed";
}

// The commands: the dialog they ask for, the alerts they give, the file.
TEST_F(TextExportTest, CommandsDialogsAndBadInputs) {
  Window w(host);
  w.crystal() = Data("rutile");
  SetWindowFileOpen(w.ref(), true);
  host.windowTitle = "Rutile";
  const struct {
    const char *code, *prompt, *name;
  } commands[] = {
      {"xCrd", "Export coordinates", "Rutile coordinates.txt"},
      {"xVCG", "Export coordination groups", "Rutile visible coordination.txt"},
      {"xCoD", "Export polyhedral data", "Rutile crystal coordination.txt"},
      {"xBON", "Save distances & angles file", "Rutile distances & angles.txt"},
      {"xCIF", "Save CIF text file", "Rutile.cif"},
      {"xPDB", "Save PDB text file", "Rutile.pdb"},
      {"xMcM", "Save MacMolecule text file", "Rutile.mm"},
      {"xC3D", "Save Chem3D Cartesian text file", "Rutile.chem3d"},
      {"xOVT", "Save Orvalisphere text file", "Rutile.ovtx"},
  };
  for (const auto &cmd : commands) {
    host.saveDialogs.clear();
    host.savePaths = {dir / cmd.name};
    EXPECT_EQ(DoExportCommand(w.ref(), FourCharsToLong(cmd.code)), 0) << cmd.code;
    ASSERT_EQ(host.saveDialogs.size(), 1u) << cmd.code;
    EXPECT_EQ(host.saveDialogs[0], (std::pair<std::string, std::string>{cmd.prompt, cmd.name}));
    EXPECT_GT(std::filesystem::file_size(dir / cmd.name), 100u) << cmd.code;
  }
  EXPECT_TRUE(host.alerts.empty());
  EXPECT_EQ(ReadFile(dir / "Rutile.cif"), FormatCIFFile(w.crystal(), "Rutile", "", "1.0.0"));
  EXPECT_EQ(DoExportCommand(w.ref(), FourCharsToLong("xHTM")), kEventNotHandledErr);
  bool enabled = false;
  EXPECT_EQ(UpdateExportMenuStatus(w.ref(), FourCharsToLong("xCIF"), &enabled), 0);
  EXPECT_TRUE(enabled);
  EXPECT_EQ(UpdateExportMenuStatus(w.ref(), FourCharsToLong("xPDB"), &enabled), kEventNotHandledErr);
  // A cancelled dialog: nothing written, nothing said.
  host.saveDialogs.clear();
  EXPECT_EQ(DoExportCommand(w.ref(), kCmdExportPDB), 0);
  EXPECT_EQ(host.saveDialogs.size(), 1u);
  EXPECT_TRUE(host.alerts.empty());

  struct Bad {
    std::string what;
    std::function<void(CrystalRec &)> prepare;
    uint32_t command;
    std::filesystem::path file; // empty: refused before the dialog
    std::string message, explanation;
  };
  const CrystalRec rutile = w.crystal(), benzene = Example("Benzene");
  CrystalRec many = Data("000 P 1");
  std::vector<Bad> bad = {
      {"molecule to CIF", [&](CrystalRec &c) { c = benzene; }, kCmdExportCIF, {}, kCIFMoleculeAlert,
       kCIFMoleculeExplanation},
      {"molecule to crystal coordination", [&](CrystalRec &c) { c = benzene; }, kCmdExportCrystalCoordination, {},
       kNeedsCrystalSymmetry, ""},
      {"no bond specifications", [](CrystalRec &c) { c.bondSpecCount = 0; }, kCmdExportCrystalCoordination, {},
       kNoBondsDefined, kNoBondsDefinedExplanation},
      {"no visible atom", [](CrystalRec &c) { for (auto &s : c.sites) s.visible = 0; },
       kCmdExportVisibleCoordination, {}, kNoAtomsVisible, ""},
      {"27 sites to MacMolecule",
       [&](CrystalRec &c) {
         c = many;
         c.sites.resize(27, c.sites[0]);
         c.siteCount = 27;
         for (size_t s = 1; s < 27; s++)
           c.sites[s].visible = 0;
       },
       kCmdExportMacMolecule, {}, kMacMoleculeTooManyTypes, kMacMoleculeTooManyTypesExplanation},
      {"unwritable path", nullptr, kCmdExportPDB, dir / "no such folder" / "x.pdb", kExportOpenFailed,
       "\"x.pdb\" could not be written (No such file or directory)."},
      {"stream failing mid-write", nullptr, kCmdExportCIF, "/dev/full", kExportWriteFailed,
       "\"full\" could not be written (No space left on device)."},
  };
  for (const Bad &b : bad) {
    w.crystal() = rutile;
    if (b.prepare)
      b.prepare(w.crystal());
    host.alerts.clear();
    host.saveDialogs.clear();
    if (!b.file.empty())
      host.savePaths = {b.file};
    DoExportCommand(w.ref(), b.command);
    ASSERT_EQ(host.alerts.size(), 1u) << b.what;
    EXPECT_EQ(host.alerts[0].type, kAlertStopAlert) << b.what;
    EXPECT_EQ(host.alerts[0].message, b.message) << b.what;
    EXPECT_EQ(host.alerts[0].explanation, b.explanation) << b.what;
    EXPECT_EQ(host.saveDialogs.size(), b.file.empty() ? 0u : 1u) << b.what;
  }
  w.crystal() = benzene;
  EXPECT_EQ(UpdateExportMenuStatus(w.ref(), kCmdExportCrystalCoordination, &enabled), 0);
  EXPECT_FALSE(enabled);
  // 26 sites are written, the last with the letter Z.
  many.sites.resize(26, many.sites[0]);
  many.siteCount = 26;
  EXPECT_NE(FormatMacMoleculeFile(many, "t", "1").find("\nZ = "), std::string::npos);
}

// Each bond once.
size_t BondCount(const CrystalRec &c) {
  size_t n = 0;
  for (size_t i = 0; i < c.atoms.size(); i++)
    for (uint32_t j : c.atoms[i].bonds)
      n += j > i;
  return n;
}

// The own text file keeps the bond specifications alone: the Log says how
// many bonds they do not give and how many they give that the structure
// does not have, each bond counted once, and nothing when they give every
// bond; the file read back has just those.
TEST_F(TextExportTest, OwnTextFileSaysHowManyBondsItLeavesOut) {
  Window w(host);
  const struct {
    const char *example;
    int handMade;
    int deleted;      // bonds deleted by hand, which the specifications give back
    float minimum;    // raised above the bonds' length: the structure keeps none, nor does the file
    const char *note; // empty: no note
  } cases[] = {
      {"Rutile", 0, 0, 0, ""},
      {"Benzene", 0, 0, 0, ""},
      {"Benzene", 1, 0, 0,
       "1 bond of this structure is not written: a text file keeps only the bond specifications, and "
       "they do not give it. The Orvalisphere document keeps it."},
      {"Benzene", 2, 0, 0,
       "2 bonds of this structure are not written: a text file keeps only the bond specifications, "
       "and they do not give them. The Orvalisphere document keeps them."},
      {"NaCl", 0, 2, 0,
       "2 bonds that this structure does not have come with the text file: its bond specifications give "
       "them when the file is opened. The Orvalisphere document keeps the structure's own bonds."},
      {"NaCl", 0, 0, 2.9f, ""},
  };
  for (const auto &t : cases) {
    w.crystal() = Example(t.example);
    SetWindowFileOpen(w.ref(), true);
    CrystalRec &c = w.crystal();
    const size_t asRead = BondCount(c);
    if (t.minimum > 0) {
      c.bondSpecs[0].minLength = t.minimum;
      TurboGenerateBonds(&c);
      EXPECT_EQ(BondCount(c), 0u);
    }
    // Bonds made or deleted by hand, as the bond tools do.
    int made = 0;
    for (uint32_t i = 0; made < t.handMade && i < c.atoms.size(); i++)
      for (uint32_t j = i + 1; j < c.atoms.size(); j++)
        if (std::find(c.atoms[i].bonds.begin(), c.atoms[i].bonds.end(), j) == c.atoms[i].bonds.end()) {
          ASSERT_TRUE(AddBondListEntry(&c, int32_t(i), int32_t(j)));
          made++;
          break;
        }
    ASSERT_EQ(made, t.handMade);
    for (int k = 0; k < t.deleted; k++) {
      const uint32_t i = static_cast<uint32_t>(k), j = c.atoms[i].bonds.front();
      ASSERT_TRUE(DeleteBondListEntry(&c, int32_t(i), int32_t(j)));
    }
    const size_t kept = BondCount(c);
    host.log.clear();
    host.savePaths = {dir / "bonds.ovtx"};
    ASSERT_EQ(DoExportCommand(w.ref(), FourCharsToLong("xOVT")), 0);
    ASSERT_GT(std::filesystem::file_size(dir / "bonds.ovtx"), 100u);
    const std::string log = host.log;
    Window reread(host);
    ASSERT_TRUE(OpenStructureFile(reread.ref(), dir / "bonds.ovtx"));
    EXPECT_EQ(BondCount(reread.crystal()), t.minimum > 0 ? kept : asRead) << t.example;
    if (t.deleted > 0) {
      EXPECT_EQ(kept + size_t(t.deleted), asRead);
      EXPECT_EQ(log, std::string(t.note) + "\r") << t.example;
    } else if (*t.note) {
      EXPECT_EQ(log, std::string(t.note) + "\r") << t.example << " " << t.handMade;
    } else {
      EXPECT_EQ(log.find("not written"), std::string::npos) << t.example << ": " << log;
      EXPECT_EQ(log.find("come with"), std::string::npos) << t.example << ": " << log;
    }
  }
}

// Alpha-quartz saved as CIF and opened again shows what it showed: a
// coordinate written to a few decimals may put an image a hair past a cell
// face (Si at z = 0.6667 has one at z = 1.0000333), where it still stands on
// the face. The counts are the range 0..1 with its faces, found with gemmi's
// operators of P 32 2 1 (Si on 3a, O on 6c, Si-O up to 1.8 A): 3 Si and 6 O
// in the cell, each Si on a face (x, 0, 2/3 on y = 0; 0, x, 1/3 on x = 0;
// -x, -x, 1 on z = 0) and on the opposite one too, so 12 atoms and 12 Si-O
// contacts among them.
TEST_F(TextExportTest, QuartzCIFReopensWithItsFaceAtoms) {
  const auto shown = [](const CrystalRec &c) {
    size_t bonds = 0;
    for (size_t a = 0; a < c.atoms.size(); a++)
      for (uint32_t p : c.atoms[a].bonds)
        bonds += IsAtomShown(c, a) && IsAtomShown(c, p) && p > a ? 1 : 0;
    return std::pair<size_t, size_t>{CountShownAtoms(c), bonds};
  };
  const std::pair<size_t, size_t> quartz{12, 12};
  {
    Window w(host);
    ASSERT_TRUE(OpenStructureFile(w.ref(), std::filesystem::path(OV_SOURCE_DIR) / "resources/examples/Quartz.ovtx"));
    EXPECT_EQ(shown(w.crystal()), quartz);
    SetWindowFileOpen(w.ref(), true);
    host.savePaths = {dir / "Quartz.cif"};
    ASSERT_EQ(DoExportCommand(w.ref(), kCmdExportCIF), 0);
  }
  // The same cell written to four decimals by hand, whatever the export
  // writes.
  std::ofstream(dir / "quartz4.cif") << "data_quartz\n"
                                        "_cell_length_a 4.9160\n_cell_length_b 4.9160\n_cell_length_c 5.4054\n"
                                        "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 120\n"
                                        "_space_group_name_H-M_alt 'P 32 2 1'\n"
                                        "loop_\n_atom_site_label\n_atom_site_type_symbol\n"
                                        "_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n"
                                        "Si1 Si 0.4697 0.0000 0.6667\n"
                                        "O1 O 0.4135 0.2669 0.7858\n";
  // And cut, not rounded, to four decimals (Si 0.0007 A off its two-fold
  // axis): its images there are one atom.
  const std::filesystem::path cut = std::filesystem::path(OV_TEST_DATA) / "import/places/quartz_cut.cif";
  for (const std::filesystem::path &file : {dir / "Quartz.cif", dir / "quartz4.cif", cut}) {
    Window reread(host);
    ASSERT_TRUE(OpenStructureFile(reread.ref(), file));
    EXPECT_EQ(shown(reread.crystal()), quartz) << file;
  }
}

// A value goes out with the digits it came with: gypsum's H7 x "0.4067(10)"
// and bixbyite's a "9.365(20)" in the CIF export, not "0.407(1)" and
// "9.36(2)"; and a mixed site's occupant of occupancy 0 in the own text
// file, which reopens with it.
TEST_F(TextExportTest, ValuesGoOutAsTheyCameIn) {
  std::ofstream(dir / "bixbyite.cif") << "data_bixbyite\n_cell_length_a 9.365(20)\n_cell_length_b 9.365(20)\n"
                                         "_cell_length_c 9.365(20)\n_cell_angle_alpha 90\n_cell_angle_beta 90\n"
                                         "_cell_angle_gamma 90\n_space_group_name_H-M_alt 'I a -3'\n"
                                         "loop_\n_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n"
                                         "_atom_site_fract_z\nMn1 0.25 0.25 0.25\nO1 0.385 0.145 0.380\n";
  std::ofstream(dir / "mixed.ovtx") << "TITL mixed\nCELL 5 5 5 90 90 90\nLATC P\nSYMM x,y,z\n"
                                       "ATOM\nFe  M1  0 0 0\nO   O1  0.5 0.5 0.5\n\nOCCU\nM1  Fe 0.6 Mg 0.0\n";
  const struct {
    std::filesystem::path file;
    uint32_t command;
    const char *out, *written;
  } kRows[] = {
      {std::filesystem::path(OV_TEST_DATA) / "bonds/gypsum.cif", kCmdExportCIF, "gypsum out.cif", " 0.4067(10) "},
      {dir / "bixbyite.cif", kCmdExportCIF, "bixbyite out.cif", " 9.365(20)\n"},
      {dir / "mixed.ovtx", FourCharsToLong("xOVT"), "mixed out.ovtx", "Fe 0.6000  Mg 0.0000"},
  };
  for (const auto &row : kRows) {
    SCOPED_TRACE(row.out);
    Window w(host);
    ASSERT_TRUE(OpenStructureFile(w.ref(), row.file));
    SetWindowFileOpen(w.ref(), true);
    host.savePaths = {dir / row.out};
    ASSERT_EQ(DoExportCommand(w.ref(), row.command), 0);
    EXPECT_NE(ReadFile(dir / row.out).find(row.written), std::string::npos) << ReadFile(dir / row.out);
  }
  Window reread(host);
  ASSERT_TRUE(OpenStructureFile(reread.ref(), dir / "mixed out.ovtx"));
  EXPECT_EQ(ElementSymbolText(reread.crystal().sites[0].elements[1]), "Mg");
  EXPECT_EQ(reread.crystal().sites[0].occupancies[1], 0.0f);
}

// Writes the CIF, PDB and report of every data structure, with what the
// readers should find, for tests/oracle/export_oracle.py; skipped unless asked.
TEST_F(TextExportTest, OracleDump) {
  const char *out = std::getenv("OV_EXPORT_DUMP_DIR");
  if (!out)
    GTEST_SKIP() << "run by tests/oracle/export_oracle.py";
  std::vector<Named> all = DataStructures();
  all.push_back({"Benzene", Example("Benzene")});
  std::ofstream manifest(std::filesystem::path(out) / "manifest.txt");
  manifest.precision(9);
  int k = 0;
  const std::filesystem::path folder(out);
  for (Named &n : all) {
    const std::string stem = std::to_string(k++);
    CrystalRec &c = n.crystal;
    if (!c.molecule) {
      // Displacement parameters, isotropic and anisotropic by turns, and
      // what the file should say of them.
      CrystalRec d = c;
      d.ellipsoidData = 1;
      std::ofstream adp(folder / (stem + ".adp"));
      for (size_t s = 0; s < d.sites.size(); s++) {
        AsymmetricUnitRecord &site = d.sites[s];
        const float f = 0.001f * static_cast<float>(s + 1);
        site.displacementType = s % 2 ? kDisplacementAnisoU : kDisplacementIsotropic;
        site.isoValue = 0.01f + f;
        const float u[9] = {0.02f + f, 0.003f, -0.002f, 0.003f, 0.03f + f, 0.001f, -0.002f, 0.001f, 0.04f + f};
        std::copy(u, u + 9, site.tensor);
        adp << SiteLabel(site) << " " << site.displacementType << " " << site.isoValue;
        for (int t : {0, 4, 8, 1, 2, 5})
          adp << " " << u[t];
        adp << "\n";
      }
      std::ofstream(folder / (stem + ".cif")) << FormatCIFFile(d, n.name, "", "1.0.0");
    }
    std::ofstream xyz(folder / (stem + ".xyz"));
    xyz.precision(9);
    ForEachShownAtom(c, [&](size_t a) {
      const AtomRecord &t = c.atoms[a];
      xyz << ElementText(c.sites[t.site].elements[0]) << " " << t.cart[0] << " " << t.cart[1] << " " << t.cart[2]
          << "\n";
    });
    std::ofstream(folder / (stem + ".pdb")) << FormatPDBFile(c, n.name, "1.0.0");
    std::ofstream(folder / (stem + ".txt")) << FormatBondsReport(c, n.name, "1.0.0", 3.0f);
    size_t bonds = 0;
    for (size_t a = 0; a < c.atoms.size(); a++)
      for (uint32_t p : c.atoms[a].bonds)
        bonds += IsAtomShown(c, a) && IsAtomShown(c, p) && p > a ? 1 : 0;
    manifest << stem << "\t" << n.name << "\t" << (c.molecule ? "molecule" : "crystal") << "\t" << c.atomsPerCell
             << "\t" << CountShownAtoms(c) << "\t" << bonds << "\n";
  }
  // Labels a bare CIF value cannot hold, on the first crystal with four
  // sites; the oracle knows the same list.
  for (Named &n : all) {
    if (n.crystal.molecule || n.crystal.sites.size() < 4)
      continue;
    CrystalRec c = n.crystal;
    const char *labels[4] = {"", " O", "#1", "loop_"};
    std::ofstream elements(folder / "labels.txt");
    for (size_t s = 0; s < 4; s++) {
      MyStrCopy(std::span<char>(c.sites[s].label), labels[s]);
      elements << ElementText(c.sites[s].elements[0]) << "\n";
    }
    std::ofstream(folder / "labels.cif") << FormatCIFFile(c, n.name, "", "1.0.0");
    break;
  }
}

} // namespace
