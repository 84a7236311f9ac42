// The own keyword text format: round trips over every structure, the cards
// and orders the writer must keep, and a table of bad inputs.
#include "../documents/DocumentTestSupport.h"

#include "Alerts.h"
#include "CrystalFromSites.h"
#include "SpaceGroups.h"
#include "SymmetryCards.h"
#include "documents/FileBuffer.h"
#include "export/OwnTextWriter.h"
#include "import/ImportPath.h"
#include "import/OwnTextReader.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <fstream>

namespace {

using doctest::Named;
using doctest::Window;

// Within what a value written with `decimals` decimals can hold, plus the
// float's own rounding.
::testing::AssertionResult Near(double a, double b, int decimals) {
  const double tol = 0.5 * std::pow(10.0, -decimals) + std::fabs(a) * 3e-7 + 1e-12;
  if (std::fabs(a - b) <= tol)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << a << " vs " << b << " (" << decimals << " decimals)";
}
::testing::AssertionResult NearColour(const RGBColor &a, const RGBColor &b, int decimals) {
  const double tol = 0.5 * std::pow(10.0, -decimals) * 65535.0 + 0.5;
  if (std::fabs(a.red - b.red) <= tol && std::fabs(a.green - b.green) <= tol && std::fabs(a.blue - b.blue) <= tol)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "colours differ";
}

// The structure with its cards generated from its symbol, as the writer
// writes them (the structure itself keeps its own).
CrystalRec WithCardsFromSymbol(const CrystalRec &c) {
  CrystalRec w = c;
  if (static_cast<uint8_t>(w.spaceGroup[0]) >= 33 && !w.molecule)
    Spaceg(std::span<char>(w.spaceGroup), w.originChoice, w.alpha, w.beta, w.gamma, w.latticeLetter, w.cardCount,
           std::span<Symcard>(w.symCards));
  return w;
}

// The operators a structure builds with (its cards, or its group's), as
// sorted comma forms.
std::vector<std::string> Operators(const CrystalRec &c) {
  CrystalRec w = c;
  if (w.cardCount == 0)
    Spaceg(std::span<char>(w.spaceGroup), w.originChoice, w.alpha, w.beta, w.gamma, w.latticeLetter, w.cardCount,
           std::span<Symcard>(w.symCards));
  std::vector<std::string> out;
  for (int k = 0; k < w.cardCount; k++) {
    GEP g;
    Symcard2GEP(w.symCards[static_cast<size_t>(k)], g);
    Symcard card;
    GEP2Symcard(g, card);
    out.emplace_back(CardText(card));
  }
  std::sort(out.begin(), out.end());
  return out;
}

// What the text carries, compared to its written precision. `w` is the
// structure with the cards the writer wrote.
void ExpectSameAsWritten(const CrystalRec &w, const CrystalRec &r, const std::string &where) {
  SCOPED_TRACE(where);
  ASSERT_EQ(w.molecule, r.molecule);
  if (!w.molecule) {
    const float wc[6] = {w.a, w.b, w.c, w.alpha, w.beta, w.gamma}, rc[6] = {r.a, r.b, r.c, r.alpha, r.beta, r.gamma};
    for (int k = 0; k < 6; k++) {
      EXPECT_TRUE(Near(wc[k], rc[k], 6));
      if (w.esdFlag) {
        EXPECT_TRUE(Near(w.cellEsds[k], r.cellEsds[k], 6));
      }
    }
    EXPECT_EQ(w.esdFlag, r.esdFlag);
    EXPECT_EQ(w.latticeLetter, r.latticeLetter);
    EXPECT_EQ(Operators(w), Operators(r));
    if (static_cast<uint8_t>(w.spaceGroup[0]) >= 33) {
      EXPECT_STREQ(w.spaceGroup, r.spaceGroup);
      // No origin asked is the table's first origin, which reads back named.
      if (w.originChoice != 0) {
        EXPECT_EQ(w.originChoice, r.originChoice);
      }
    }
    for (int k = 0; k < 3; k++)
      EXPECT_TRUE(Near(w.originShift[k], r.originShift[k], 6));
    for (int k = 0; k < 6; k++)
      EXPECT_TRUE(Near(w.plotRange[k], r.plotRange[k], 6));
  }
  EXPECT_EQ(w.modelType, r.modelType);
  EXPECT_TRUE(NearColour(w.backgroundColor, r.backgroundColor, 4));
  EXPECT_TRUE(NearColour(w.bondColor1, r.bondColor1, 4));
  EXPECT_TRUE(Near(w.bondRadius, r.bondRadius, 4));
  EXPECT_TRUE(Near(w.stickRadius, r.stickRadius, 4));
  for (int k = 0; k < 3; k++)
    EXPECT_TRUE(Near(w.lightDirection[k], r.lightDirection[k], 6));
  EXPECT_EQ(w.depthFading, r.depthFading);
  if (w.depthFading) {
    EXPECT_TRUE(Near(w.lowerPlateauZ, r.lowerPlateauZ, 6));
    EXPECT_TRUE(Near(w.lowerBaseZ, r.lowerBaseZ, 6));
    EXPECT_TRUE(Near(w.lowerMinOpacity, r.lowerMinOpacity, 6));
  }
  for (int k = 0; k < 4; k++) {
    EXPECT_TRUE(Near(w.kA[k], r.kA[k], 6));
    EXPECT_TRUE(Near(w.kD[k], r.kD[k], 6));
    EXPECT_TRUE(Near(w.kS[k], r.kS[k], 6));
    EXPECT_EQ(w.phongN[k], r.phongN[k]);
  }
  EXPECT_EQ(w.showUnitCell, r.showUnitCell);
  EXPECT_EQ(w.perspective, r.perspective);
  if (w.perspective) {
    EXPECT_TRUE(Near(w.viewDistance, r.viewDistance, 2));
  }
  ASSERT_EQ(w.bondSpecCount, r.bondSpecCount);
  for (int k = 0; k < w.bondSpecCount; k++) {
    EXPECT_EQ(w.bondSpecs[k].elementA, r.bondSpecs[k].elementA);
    EXPECT_EQ(w.bondSpecs[k].elementB, r.bondSpecs[k].elementB);
    EXPECT_TRUE(Near(w.bondSpecs[k].maxLength, r.bondSpecs[k].maxLength, 3));
  }
  const size_t nSites = w.molecule ? w.atoms.size() : w.sites.size();
  ASSERT_EQ(nSites, r.sites.size());
  for (size_t k = 0; k < nSites; k++) {
    const size_t ws = w.molecule ? w.atoms[k].site : k;
    const AsymmetricUnitRecord &a = w.sites[ws], &b = r.sites[k];
    EXPECT_EQ(TextFileLabel(a, ws), CStrView(std::span<const char>(b.label)));
    EXPECT_EQ(a.elements[0], b.elements[0]);
    const bool partial = a.occupancies[0] > 0.0f && a.occupancies[0] < 1.0f;
    for (int e = 0; partial && e < kMaxSiteElements; e++) {
      EXPECT_EQ(a.elements[e], b.elements[e]);
      EXPECT_TRUE(Near(a.occupancies[e], b.occupancies[e], 4));
    }
    for (int d = 0; d < 3; d++) {
      if (w.molecule) {
        EXPECT_TRUE(Near(w.atoms[k].cart[d], r.atoms[k].cart[d], 6));
      } else {
        EXPECT_TRUE(Near(a.xyz[d], b.xyz[d], 6));
      }
      if (w.esdFlag) {
        EXPECT_TRUE(Near(a.esd[d], b.esd[d], 6));
      }
    }
    if (!w.molecule && w.ellipsoidData) {
      EXPECT_EQ(a.displacementType, b.displacementType);
      if (a.displacementType == kDisplacementIsotropic) {
        EXPECT_TRUE(Near(a.isoValue, b.isoValue, 6));
      }
      for (int t = 0; a.displacementType >= kDisplacementAnisoU && t < 9; t++) {
        EXPECT_TRUE(Near(a.tensor[t], b.tensor[t], 6));
      }
    }
    // The atom type of the element's first site.
    size_t first = 0;
    while (w.sites[first].elements[0] != a.elements[0])
      first++;
    const SphereRecord &ta = w.spheres[w.sites[first].atomType], &tb = r.spheres[b.atomType];
    EXPECT_TRUE(Near(ta.radius, tb.radius, 2));
    EXPECT_TRUE(NearColour(ta.colour, tb.colour, 5));
  }
}

// Values that no default has, on every card the writer can emit.
void Decorate(CrystalRec &c) {
  c.esdFlag = 1;
  c.ellipsoidData = 1;
  for (int k = 0; k < 6; k++)
    c.cellEsds[k] = 0.0012f * static_cast<float>(k + 1);
  for (size_t k = 0; k < c.sites.size(); k++) {
    AsymmetricUnitRecord &s = c.sites[k];
    s.esd[0] = 0.0011f, s.esd[1] = 0.0022f, s.esd[2] = 0.0033f;
    s.displacementType = static_cast<uint32_t>(1 + k % 3);
    s.isoValue = 0.0123f;
    const float t[9] = {0.011f, 0.002f, -0.003f, 0.002f, 0.012f, 0.004f, -0.003f, 0.004f, 0.013f};
    std::copy(t, t + 9, s.tensor);
  }
  AsymmetricUnitRecord &s0 = c.sites[0];
  s0.occupancies[0] = 0.75f;
  s0.elements[1] = TwoCharsToShort("Fe");
  s0.occupancies[1] = 0.25f;
  c.depthFading = 1;
  c.lowerPlateauZ = 0.1f, c.lowerBaseZ = 0.5f, c.lowerMinOpacity = 0.9f;
  c.perspective = 1;
  c.viewDistance = 37.25f;
  c.modelType = 2;
  c.showUnitCell = 0;
  c.originShift[2] = 0.125f;
  c.backgroundColor = {1000, 20000, 65535};
  c.kA[2] = 0.3f;
  c.phongN[3] = 77;
}

class TextFormatTest : public ::testing::Test {
protected:
  FakeHost host;
  void SetUp() override { gPrefs = gFactoryPrefs; }
};

TEST_F(TextFormatTest, EveryStructureReadsBackWhatWasWritten) {
  std::string error;
  std::vector<Named> all = doctest::AllStructures(host, error);
  ASSERT_EQ(error, "");
  const std::string notes = "First paragraph, long enough to be broken into several lines by the writer of "
                            "the notes block, which breaks after blanks.\n\nAfter an empty one: \xc3\x85ngstr\xc3\xb6m.";
  // The notes are written in ASCII, one "?" for each other character.
  const std::string asciiNotes = "First paragraph, long enough to be broken into several lines by the writer of "
                                 "the notes block, which breaks after blanks.\n\nAfter an empty one: ?ngstr?m.";
  for (Named &n : all) {
    Decorate(n.crystal);
    const uint16_t cardsBefore = n.crystal.cardCount;
    const char latticeBefore = n.crystal.latticeLetter;
    const std::string text = FormatTextFile(n.crystal, n.name, notes);
    EXPECT_EQ(n.crystal.cardCount, cardsBefore) << n.name << ": the writer leaves the structure as it was";
    EXPECT_EQ(n.crystal.latticeLetter, latticeBefore) << n.name;
    ASSERT_FALSE(text.empty()) << n.name;
    EXPECT_EQ(text.rfind(n.crystal.molecule ? "MOLE  " : "TITL  ", 0), 0u) << n.name;
    CrystalRec back;
    TextFileExtras extras;
    std::string message;
    ASSERT_TRUE(ParseTextFile(text, back, extras, &message)) << n.name << ": " << message;
    EXPECT_EQ(extras.warnings, std::vector<std::string>{}) << n.name;
    EXPECT_EQ(extras.title, n.name);
    EXPECT_EQ(extras.notes, asciiNotes);
    ExpectSameAsWritten(WithCardsFromSymbol(n.crystal), back, n.name);
  }
  EXPECT_TRUE(host.alerts.empty());
}

// Vectors and the orientation need the built structure: through a window.
TEST_F(TextFormatTest, VectorsAndOrientationComeBackAfterTheBuild) {
  Window w(host);
  ASSERT_TRUE(OpenStructureFile(w.ref(), std::filesystem::path(OV_SOURCE_DIR) / "resources/examples/Rutile.ovtx"));
  CrystalRec &c = w.crystal();
  ASSERT_GT(c.atomCount, 3);
  VectorRecord v;
  v.atom = 2;
  v.uvw[0] = 0.5f, v.uvw[1] = 0.25f, v.uvw[2] = -1.0f;
  v.colour = {65535, 32768, 0};
  v.style = 1;
  VectorRecord zero = v;
  zero.uvw[0] = zero.uvw[1] = zero.uvw[2] = 0.0f;
  c.vectors = {v, zero};
  c.vectorCount = 2;
  const std::string text = FormatTextFile(c, "rutile", "");
  EXPECT_NE(text.find("! Atom vectors\nAVEC\n"), std::string::npos);
  EXPECT_EQ(text.find("AVEC\n") + 5 + text.substr(text.find("AVEC\n") + 5).find('\n') + 1, text.size())
      << "one AVEC line: the zero vector is left out";
  const auto file = std::filesystem::temp_directory_path() / ("ovtx-" + std::to_string(::getpid()) + ".ovtx");
  {
    std::ofstream(file) << text;
  }
  Window back(host);
  ASSERT_TRUE(OpenStructureFile(back.ref(), file));
  std::filesystem::remove(file);
  const CrystalRec &r = back.crystal();
  ASSERT_EQ(r.vectorCount, 1);
  EXPECT_EQ(CStrView(std::span<const char>(r.sites[r.atoms[r.vectors[0].atom].site].label)),
            CStrView(std::span<const char>(c.sites[c.atoms[2].site].label)));
  for (int d = 0; d < 3; d++) {
    EXPECT_TRUE(Near(r.atoms[r.vectors[0].atom].xyz[d], c.atoms[2].xyz[d], 4));
    EXPECT_TRUE(Near(r.vectors[0].uvw[d], v.uvw[d], 5));
  }
  EXPECT_EQ(r.vectors[0].style, 1);
  for (int k = 0; k < 9; k++)
    EXPECT_TRUE(Near(r.orientationMatrix[k], c.orientationMatrix[k], 3));
}

TEST_F(TextFormatTest, EveryVectorLineOfAFileIsKept) {
  std::ifstream in(std::filesystem::path(OV_SOURCE_DIR) / "resources/examples/Rutile.ovtx");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  text += "AVEC\n"
          "Ti1   0.00000 0.00000 0.00000   1.00000 0.00000 0.00000   4.5937   1.000 0.000 0.000   1\n"
          "O1    0.30478 0.30478 0.00000   0.00000 0.00000 0.50000   1.4794   0.000 0.000 1.000   2\n";
  const auto file = std::filesystem::temp_directory_path() / ("ovtx-avec-" + std::to_string(::getpid()) + ".ovtx");
  std::ofstream(file) << text;
  Window w(host);
  ASSERT_TRUE(OpenStructureFile(w.ref(), file));
  std::filesystem::remove(file);
  const CrystalRec &r = w.crystal();
  ASSERT_EQ(r.vectorCount, 2);
  ASSERT_EQ(r.vectors.size(), 2u);
  const auto label = [&](const VectorRecord &v) {
    return std::string(CStrView(std::span<const char>(r.sites[r.atoms[v.atom].site].label)));
  };
  EXPECT_EQ(label(r.vectors[0]), "Ti1");
  EXPECT_EQ(r.vectors[0].uvw[0], 1.0f);
  EXPECT_EQ(r.vectors[0].style, 1);
  EXPECT_EQ(label(r.vectors[1]), "O1");
  EXPECT_EQ(r.vectors[1].uvw[2], 0.5f);
  EXPECT_EQ(r.vectors[1].colour, (RGBColor{0, 0, 65535}));
  EXPECT_EQ(r.vectors[1].style, 2);
}

// The file carries operators, its symbol only as a comment: reading finds
// the group again when the operators are exactly a setting of the table.
TEST_F(TextFormatTest, ReadingFindsTheGroupTheOperatorsAre) {
  for (const char *name : {"Calcite", "NaCl", "Pyrope", "Quartz", "Rutile", "Spinel"}) {
    std::ifstream in(std::filesystem::path(OV_SOURCE_DIR) / "resources/examples" / (std::string(name) + ".ovtx"));
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string comment = "! Spacegroup symbol:  ";
    const size_t at = text.find(comment);
    ASSERT_NE(at, std::string::npos) << name;
    const std::string named = text.substr(at + comment.size(), text.find('\n', at) - at - comment.size());
    CrystalRec c;
    TextFileExtras extras;
    ASSERT_TRUE(ParseTextFile(text, c, extras, nullptr)) << name;
    EXPECT_EQ(CStrView(std::span<const char>(c.spaceGroup)), named) << name;
    EXPECT_EQ(c.cardCount, 0) << name;
  }

  struct Case {
    const char *symbol;
    uint8_t origin;
    float angles[3];
  };
  const Case cases[] = {
      {"P 1", 0, {81, 82, 83}},           {"P -1", 0, {81, 82, 83}},        {"P 21/c", 0, {90, 101, 90}},
      {"C 2/c", 0, {90, 101, 90}},        {"P 21 21 21", 0, {90, 90, 90}},  {"P n m a", 0, {90, 90, 90}},
      {"P b n m", 0, {90, 90, 90}},       {"C m c m", 0, {90, 90, 90}},     {"F d d d", 1, {90, 90, 90}},
      {"F d d d", 2, {90, 90, 90}},       {"I 41/a m d", 1, {90, 90, 90}},  {"I 41/a m d", 2, {90, 90, 90}},
      {"P 42/m n m", 0, {90, 90, 90}},    {"R -3 m", 0, {90, 90, 120}},     {"R -3 m", 0, {60, 60, 60}},
      {"R 3 c", 0, {90, 90, 120}},        {"P 63/m m c", 0, {90, 90, 120}}, {"P 32 2 1", 0, {90, 90, 120}},
      {"F d -3 m", 1, {90, 90, 90}},      {"F d -3 m", 2, {90, 90, 90}},    {"P n -3 n", 2, {90, 90, 90}},
  };
  for (const Case &k : cases) {
    const float cell[6] = {5.1f, 6.2f, 7.3f, k.angles[0], k.angles[1], k.angles[2]};
    CrystalRec c;
    FillCrystalFromSites(c, cell, k.symbol, {{"C1", "C", 0.1f, 0.2f, 0.3f}});
    c.originChoice = k.origin;
    c.atoms.resize(1);
    c.atomCount = 1;
    c.spheres.resize(1);
    c.sphereCount = 1;
    CrystalRec back;
    TextFileExtras extras;
    ASSERT_TRUE(ParseTextFile(FormatTextFile(c, "t", ""), back, extras, nullptr)) << k.symbol;
    EXPECT_EQ(CStrView(std::span<const char>(back.spaceGroup)), k.symbol) << k.symbol << " " << int(k.origin);
    EXPECT_EQ(back.originChoice, k.origin) << k.symbol;
  }

  // A twofold screw axis off the origin is no setting of the table: the
  // cards stay the symmetry.
  const std::string shifted = "CELL  5 6 7 90 90 90\nSYMM  x,y,z\nSYMM  -x+1/2,-y,z+1/2\nATOM\nC   C1  0.1 0.2 0.3\n";
  CrystalRec c;
  TextFileExtras extras;
  ASSERT_TRUE(ParseTextFile(shifted, c, extras, nullptr));
  EXPECT_EQ(c.spaceGroup[0], '\0');
  EXPECT_EQ(c.cardCount, 2);
}

TEST_F(TextFormatTest, WriterCardsAndValueOrders) {
  CrystalRec c;
  const float cell[6] = {5.0f, 5.0f, 5.0f, 90.0f, 90.0f, 90.0f};
  FillCrystalFromSites(c, cell, "P 1", {{"Fe1", "Fe", 0, 0, 0}, {"", "Fe", 0.5f, 0.5f, 0.5f}, {"O 1", "O", 0, 0.5f, 0}});
  c.spheres = {SphereRecord{}, SphereRecord{}, SphereRecord{}};
  c.spheres[0].element = c.spheres[1].element = TwoCharsToShort("Fe");
  c.spheres[1].colour = {1, 2, 3};
  c.spheres[2].element = TwoCharsToShort("O ");
  c.sphereCount = 3;
  for (uint32_t k = 0; k < 3; k++)
    c.sites[k].atomType = k;
  c.atoms.resize(3);
  c.atomCount = 3;
  c.ellipsoidData = 1;
  c.sites[2].displacementType = kDisplacementAnisoU;
  const float u[9] = {11, 12, 13, 12, 22, 23, 13, 23, 33};
  std::copy(u, u + 9, c.sites[2].tensor);
  c.depthFading = 1;
  c.lowerPlateauZ = 0.1f, c.lowerBaseZ = 0.5f, c.lowerMinOpacity = 0.9f;
  const std::string text = FormatTextFile(c, "t", "");
  EXPECT_NE(text.find("\nDCUE  0.900000 0.500000 0.100000\n"), std::string::npos);
  EXPECT_NE(text.find("\nTYPE\nFe    1.00  0.61036 0.61036 0.61036\nO     1.00"), std::string::npos)
      << "one TYPE line per element, from its first site:\n" << text;
  EXPECT_NE(text.find("\nFe  Fe2     0.500000"), std::string::npos) << "an empty label gets a name";
  EXPECT_NE(text.find("\nO   O_1     0.000000"), std::string::npos) << "a blank in a label becomes _";
  EXPECT_NE(text.find("\nUANI\nO_1     11.000000 22.000000 33.000000 12.000000 13.000000 23.000000\n"),
            std::string::npos);
  EXPECT_EQ(text.find("\nERRS"), std::string::npos);
  EXPECT_EQ(CStrView(std::span<const char>(c.sites[2].label)), "O 1") << "the structure keeps its labels";

  CrystalRec back;
  TextFileExtras extras;
  ASSERT_TRUE(ParseTextFile(text, back, extras, nullptr));
  EXPECT_EQ(back.lowerMinOpacity, 0.9f);
  EXPECT_EQ(back.lowerPlateauZ, 0.1f);
  EXPECT_EQ(back.depthFading, 1);
  EXPECT_EQ(FormatTextFile(c, "t", "").substr(0, 7), "TITL  t");
  CrystalRec empty;
  EXPECT_EQ(FormatTextFile(empty, "t", ""), "") << "nothing without sites, atoms or atom types";
}

// Bad inputs: refused with the reason, or read with the card skipped and a
// warning naming its line.
TEST_F(TextFormatTest, BadInputsTable) {
  const std::string head = "TITL  bad\n";
  const std::string atoms = "ATOM\nO   O1  0.1 0.2 0.3\n";
  struct Case {
    std::string text;
    std::string refusal; // empty: read
    std::vector<std::string> warnings;
  };
  const Case cases[] = {
      {"", "The file is empty.", {}},
      {" \n\r\n", "The file is empty.", {}},
      {std::string("TITL\0x", 6), "The file is not a text file.", {}},
      {head + "CELL  5 5 5  90 90\n" + atoms, "The file holds no valid unit cell (CELL card).",
       {"line 2: CELL needs 6 numbers; the card is ignored."}},
      {head + "CELL  nan 5 5  90 90 90\n" + atoms, "The file holds no valid unit cell (CELL card).",
       {"line 2: CELL: \"nan\" is not a usable number; the card is ignored."}},
      {head + "CELL  5 inf 5  90 90 90\n" + atoms, "The file holds no valid unit cell (CELL card).",
       {"line 2: CELL: \"inf\" is not a usable number; the card is ignored."}},
      {head + "CELL  5 5 1e300  90 90 90\n" + atoms, "The file holds no valid unit cell (CELL card).",
       {"line 2: CELL: \"1e300\" is not a usable number; the card is ignored."}},
      {head + "CELL  5 5 -5  90 90 90\n" + atoms, "The file holds no valid unit cell (CELL card).",
       {"line 2: CELL: lengths and angles must be positive and the angles below 180; the card is ignored."}},
      {head + "CELL  5 5 5  90 90 90\n", "The file holds no atoms (no ATOM block with a readable line).", {}},
      {head + "CELL  5 5 5  90 90 90\nATOM\nO   O1  0.1 0.2\n",
       "The file holds no atoms (no ATOM block with a readable line).",
       {"line 4: an ATOM line needs an element, a label and three coordinates; the line is ignored."}},
      {head + "CELL  5 5 5  90 90 90\nWXYZ  1\nSYMM  x,y\nXYZR  1 0 0 1 0 1\nMODL  9\n" + atoms, "",
       {"line 3: unknown card \"WXYZ\" is ignored.",
        "line 4: SYMM: \"x,y\" is not a symmetry operator; the card is ignored.",
        "line 5: XYZR: each minimum must not exceed its maximum; the card is ignored.",
        "line 6: MODL needs a model type from 1 to 6; the card is ignored."}},
      {head + "CELL  5 5 5  90 90 90\n" + atoms + "\nOCCU\nO9  O 0.5\nO1  O 1.5\n\nUANI\nO1  1 2 3\n", "",
       {"line 7: OCCU: no site labelled \"O9\"; the line is ignored.",
        "line 8: OCCU: occupancies must lie from 0 to 1; the line is ignored.",
        "line 11: UANI needs 6 numbers; the line is ignored."}},
      {head + atoms + "MOLE\n", "", {}}, // a molecule flag after the atoms
      // The same table of limits as a document's: only a file without a cell is
      // refused; a value beyond its limit is held to it, in the words of the file.
      {head + "CELL  5 5 5  120 120 120\n" + atoms, "the cell's angles make no cell", {}},
      {head + "CELL  5 5 5  90 90 90\nBMAX  O  O  400\n" + atoms, "",
       {"line 3: BMAX 400 is beyond the largest bond maximum, 231 \u00C5; 231 \u00C5 used."}},
      {head + "CELL  5 5 5  90 90 90\nTYPE\nO   150.00  1 0 0\n\n" + atoms, "",
       {"line 4: TYPE radius 150.00 is beyond the largest atom radius, 100 \u00C5; 100 \u00C5 used."}},
      {head + "CELL  5 5 5  90 90 90\n" + atoms + "\nUISO\nO1  5000\n", "",
       {"the displacement parameter 5000 lies outside -1000 to 1000; 1000 used."}},
      {head + "CELL  5 5 5  90 90 90\nBRAD  0.99 0.3\nBMAX  O  O\n" + atoms, "",
       {"line 3: BRAD: the ball-and-stick radius must lie above 0 and below 0.95; it is ignored.",
        "line 4: BMAX needs two elements and a distance; the card is ignored."}},
  };
  for (const Case &c : cases) {
    CrystalRec crystal;
    TextFileExtras extras;
    std::string message;
    const bool ok = ParseTextFile(c.text, crystal, extras, &message);
    EXPECT_EQ(ok, c.refusal.empty()) << c.text;
    EXPECT_EQ(message, c.refusal) << c.text;
    EXPECT_EQ(extras.warnings, c.warnings) << c.text;
  }
}

// The checks with their own alerts, given once the file opened is built
// (never while it is read), and the value orders the writer relies on. A
// warning reaches the Log with its line.
TEST_F(TextFormatTest, ValueChecksOfTheRenderingAndViewCards) {
  const auto file = std::filesystem::temp_directory_path() / ("ovtx-checks-" + std::to_string(::getpid()) + ".ovtx");
  std::ofstream(file) << "TITL  t\nCELL  5 5 5  90 90 90\nAREN  2 0.25 0.5 5000\nBREN  0.1 0.2 0.3 40\n"
                         "DCUE  0.1 2 0.3\nVIEW  0 0 0\nSHCL  2\nBRAD  0.3 0.6\nWXYZ  1\n"
                         "ATOM\nO   O1  0.1 0.2 0.3\n";
  ImportResult read;
  ASSERT_TRUE(ReadStructureFile(file, read, nullptr));
  EXPECT_TRUE(host.alerts.empty()) << "a reader raises no alert";
  Window w(host);
  ASSERT_TRUE(OpenStructureFile(w.ref(), file));
  EXPECT_NE(host.log.find(file.filename().string() + ", line 9: unknown card \"WXYZ\" is ignored."), std::string::npos)
      << host.log;
  std::filesystem::remove(file);
  std::vector<std::string> alerts;
  for (const AlertRequest &a : host.alerts)
    alerts.push_back(a.message);
  EXPECT_EQ(alerts, (std::vector<std::string>{kIllegalReflection, kIllegalPhong, kBadDepthCue}));
  const CrystalRec &c = w.crystal();
  EXPECT_EQ(c.kA[0], 0.5f);
  EXPECT_EQ(c.kD[0], 0.25f);
  EXPECT_EQ(c.kS[0], 0.5f);
  EXPECT_EQ(c.phongN[0], 100);
  EXPECT_EQ(c.kA[1], 0.1f);
  EXPECT_EQ(c.kD[1], 0.2f);
  EXPECT_EQ(c.kS[1], 0.3f);
  EXPECT_EQ(c.phongN[1], 40);
  EXPECT_EQ(c.depthFading, 0) << "a bad DCUE card is ignored";
  EXPECT_EQ(c.viewDirection[0], 0.0f) << "a zero VIEW is not taken";
  EXPECT_EQ(c.showUnitCell, 0);
  EXPECT_EQ(c.bondRadius, 0.3f);
  EXPECT_EQ(c.stickRadius, 0.6f);
}

// A refusal carries its line as a value, and the alert names it.
TEST_F(TextFormatTest, ARefusalCarriesItsLine) {
  const auto file = std::filesystem::temp_directory_path() / ("ovtx-lines-" + std::to_string(::getpid()) + ".ovtx");
  std::ofstream(file) << "TITL  t\nCELL  5 5 5  120 120 120\nATOM\nO   O1  0.1 0.2 0.3\n";
  ImportResult read;
  std::string why;
  EXPECT_FALSE(ReadStructureFile(file, read, &why));
  EXPECT_EQ(read.error.line, 2);
  EXPECT_EQ(why, "\"" + file.filename().string() + "\" could not be read at line 2: the cell's angles make no cell.");
  std::filesystem::remove(file);
}

// A decimal-comma locale changes neither what is written nor what is read.
TEST_F(TextFormatTest, NumbersIgnoreTheLocale) {
  const std::string text = "TITL  t\nCELL  5.5 5.25 5.125  90 90 120\nATOM\nO   O1  0.1 0.2 0.3\n";
  CrystalRec c;
  TextFileExtras extras;
  ASSERT_TRUE(ParseTextFile(text, c, extras, nullptr));
  c.atoms.resize(1);
  c.atomCount = 1;
  const std::string before = FormatTextFile(c, "t", "");
  const char *old = std::setlocale(LC_ALL, nullptr);
  const std::string saved = old ? old : "C";
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
    GTEST_SKIP() << "no German locale installed";
  CrystalRec again;
  const bool read = ParseTextFile(text, again, extras, nullptr);
  const std::string after = FormatTextFile(c, "t", "");
  std::setlocale(LC_ALL, saved.c_str());
  ASSERT_TRUE(read);
  EXPECT_EQ(again.b, 5.25f);
  EXPECT_EQ(after, before);
  EXPECT_NE(before.find("CELL  5.500000 5.250000 5.125000  90.000000 90.000000 120.000000"), std::string::npos);
}

} // namespace
