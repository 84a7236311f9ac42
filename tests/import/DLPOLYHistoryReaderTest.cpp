// Formatted trajectories opened as a user opens them: frames through the
// chooser, a box with velocities (written from the edges a = (12 0 0),
// b = (2 11 0), c = (1 -1.5 10) about the origin; the cell worked out by
// hand), a molecule with forces whose names are told by their masses, a
// trajectory known by its content rather than its name, and the refusals.
#include "ReaderTestSupport.h"

#include <sstream>

namespace {

using namespace readertest;
using doctest::Window;

class DLPOLYHistory : public ::testing::Test {
protected:
  FakeHost host;
  std::vector<StructureSummary> listed;
  void Pick(size_t pick) {
    gImportHooks.choose = [this, pick](const fs::path &, const std::vector<StructureSummary> &s) {
      listed = s;
      return std::vector<size_t>{pick};
    };
  }
  void TearDown() override { gImportHooks = {}; }
};

std::string Bytes(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(DLPOLYHistory, FramesWithVelocitiesAreCrystalsAboutTheBoxCentre) {
  Pick(1);
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("dlpolyhistory", "HISTORY")));
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].name, "timestep 100");
  EXPECT_EQ(listed[1].name, "timestep 200");
  EXPECT_EQ(listed[1].cell, "12.0000 11.1803 10.1612  97.33 84.35 79.70");
  const CrystalRec &c = w.crystal();
  EXPECT_STREQ(c.spaceGroup, "P 1");
  const struct {
    const char *label;
    ElementCode element;
    float x, y, z;
  } sites[] = {{"Na+", TwoCharsToShort("Na"), 0.5f, 0.5f, 0.6f},
               {"Cl-", TwoCharsToShort("Cl"), 0.0f, 0.0f, 0.0f},
               {"OW", TwoCharsToShort("O "), 0.25f, 0.5f, 0.75f},
               {"HW", TwoCharsToShort("H "), 0.9f, 0.5f, 0.5f}}; // written at x = -0.1
  for (const auto &e : sites) {
    const AsymmetricUnitRecord *s = Site(c, e.label);
    ASSERT_NE(s, nullptr) << e.label;
    EXPECT_EQ(s->elements[0], e.element) << e.label;
    EXPECT_NEAR(s->xyz[0], e.x, 1e-5f) << e.label;
    EXPECT_NEAR(s->xyz[1], e.y, 1e-5f) << e.label;
    EXPECT_NEAR(s->xyz[2], e.z, 1e-5f) << e.label;
  }
}

TEST_F(DLPOLYHistory, AMoleculeKnownByItsContentWithNamesToldByMass) {
  // The classic header, no boundaries, forces; saved under a name of no
  // format, so that the content alone decides it is no configuration file.
  Pick(1);
  TempFile f("run.txt", Bytes(Sample("dlpolyhistory", "HISTORY.molecule")));
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), f.path)) << host.alerts.back().explanation;
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[1].cell, "molecule");
  const CrystalRec &c = w.crystal();
  ASSERT_TRUE(c.molecule);
  ASSERT_EQ(c.atoms.size(), 3u);
  EXPECT_EQ(c.sites[1].elements[0], TwoCharsToShort("C "));
  EXPECT_NEAR(c.atoms[1].cart[2] - c.atoms[0].cart[2], 0.2f, 1e-5f);
  for (const char *line : {"these atom names name no element; their masses tell it: QM C.",
                           "these atoms' masses are no element's; they are drawn as placeholders: Zz9 (7.500000)."})
    EXPECT_NE(host.log.find(line), std::string::npos) << line << "\n" << host.log;

  // Newer versions write a cell of zeros without boundaries too.
  std::string zeros = Bytes(Sample("dlpolyhistory", "HISTORY.molecule"));
  const size_t step = zeros.find('\n', zeros.find("timestep")) + 1;
  zeros.insert(step, "0 0 0\n0 0 0\n0 0 0\n");
  TempFile g("run.txt", zeros);
  ASSERT_TRUE(OpenTextFile(w.ref(), g.path)) << host.alerts.back().explanation;
  EXPECT_EQ(w.crystal().atoms.size(), 3u);
}

TEST_F(DLPOLYHistory, DamagedTrajectoriesAreRefusedWithTheLine) {
  const std::string head = "t\n 1 3 2\ntimestep 10 2 1 3 0.001\n4 0 0\n0 4 0\n0 0 4\n";
  const std::string atom = "Ar 1 39.9 0\n0 0 0\n0 0 0\n";
  const struct {
    std::string text, refusal;
  } cases[] = {
      {head + atom, " at line 9: the frame holds 1 of the 2 atoms its timestep line counts."},
      {head + atom + "Ar 2 39.9 0\n1 1 1\n0 x 0\n", " at line 12: the velocity \"x\" of atom Ar is not a number."},
      {"t\n 1 4 2\ntimestep 10 2 1 4 0.001\n", " at line 3: boundaries of kind 4 (truncated octahedron, rhombic "
                                               "dodecahedron or hexagonal prism) are not read."},
      {head + atom + atom + "step 20\n", " at line 13: the line is no \"timestep\" line where a frame begins."},
      // The unformatted trajectory is binary records.
      {std::string("\x50\0\0\0t", 5), ": it is not a text file."},
  };
  for (const auto &c : cases) {
    TempFile f("HISTORY", c.text);
    EXPECT_EQ(Refusal(host, f.path), "\"HISTORY\" could not be read" + c.refusal) << c.text;
  }
}

} // namespace
