// What the own text format holds comes back from a file: its title, its
// cell's metric under a written orientation, bonds when it brings no bond
// specification, and the largest values the editors make.
#include "../documents/DocumentTestSupport.h"

#include "AutoBonds.h"
#include "StoredLimits.h"
#include "documents/CrystalDocument.h"
#include "export/OwnTextWriter.h"
#include "import/OwnTextReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using doctest::Window;
const auto Example = doctest::ExampleText;

fs::path WriteTemp(const std::string &name, const std::string &text) {
  const fs::path file = fs::temp_directory_path() / (std::to_string(::getpid()) + "-" + name);
  std::ofstream(file) << text;
  return file;
}

// The distance of two fractional positions from the cell's metric tensor,
// in double precision: the hand computation the Cartesian atoms must meet.
double MetricDistance(const CrystalRec &c, const float p[3], const float q[3]) {
  const double rad = 3.14159265358979323846 / 180.0;
  const double a = c.a, b = c.b, cc = c.c;
  const double ca = std::cos(c.alpha * rad), cb = std::cos(c.beta * rad), cg = std::cos(c.gamma * rad);
  const double G[3][3] = {{a * a, a * b * cg, a * cc * cb}, {a * b * cg, b * b, b * cc * ca}, {a * cc * cb, b * cc * ca, cc * cc}};
  const double d[3] = {double(p[0]) - q[0], double(p[1]) - q[1], double(p[2]) - q[2]};
  double s = 0.0;
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++)
      s += d[i] * G[i][j] * d[j];
  return std::sqrt(s);
}

class OwnTextKeeps : public ::testing::Test {
protected:
  FakeHost host;
};

TEST_F(OwnTextKeeps, TheTitleCardNamesTheWindow) {
  std::string title;
  gDocumentWindowHooks.setWindowTitle = [&](WindowRef, const std::string &t) { title = t; };
  const fs::path file = WriteTemp("renamed file.ovtx", Example("NaCl.ovtx"));
  Window w(host);
  const bool read = OpenStructureFile(w.ref(), file);
  fs::remove(file);
  gDocumentWindowHooks.setWindowTitle = nullptr;
  ASSERT_TRUE(read);
  EXPECT_EQ(title, "Halite (rock salt), NaCl");
}

// Zincite in P 1 (Kihara & Donnay 1985: a = 3.2496, c = 5.2042 A, u = 0.3819)
// under an orientation written, as the writer does, with three decimals: the
// distances are those of the cell, while the view turns as written.
TEST_F(OwnTextKeeps, TheCellGivesTheMetricAndTheWrittenMatrixOnlyTurnsTheView) {
  const double a = 3.2496, c = 5.2042, u = 0.3819;
  // A cell matrix (a along x, b in the x-y plane) turned by 37 degrees about
  // (1, 2, 2) / 3.
  const double s3 = std::sqrt(3.0) / 2.0;
  const double B[9] = {a, -0.5 * a, 0.0, 0.0, s3 * a, 0.0, 0.0, 0.0, c};
  const double n[3] = {1.0 / 3.0, 2.0 / 3.0, 2.0 / 3.0}, t = 37.0 * 3.14159265358979323846 / 180.0;
  const double C = std::cos(t), S = std::sin(t), V = 1.0 - C;
  const double R[9] = {C + n[0] * n[0] * V,        n[0] * n[1] * V - n[2] * S, n[0] * n[2] * V + n[1] * S,
                       n[1] * n[0] * V + n[2] * S, C + n[1] * n[1] * V,        n[1] * n[2] * V - n[0] * S,
                       n[2] * n[0] * V - n[1] * S, n[2] * n[1] * V + n[0] * S, C + n[2] * n[2] * V};
  float written[9];
  std::string omat = "OMAT ";
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) {
      double m = 0.0;
      for (int k = 0; k < 3; k++)
        m += R[3 * i + k] * B[3 * k + j];
      char v[32];
      std::snprintf(v, sizeof v, " %.3f", m);
      omat += v;
      written[3 * i + j] = std::strtof(v, nullptr);
    }
  char text[1024];
  std::snprintf(text, sizeof text,
                "TITL  Zincite\nCELL  %.4f %.4f %.4f  90 90 120\n%s\nBMAX  Zn  O  2.100\n\nATOM\n"
                "Zn  Zn1  0.333333 0.666667 0.000000\nZn  Zn2  0.666667 0.333333 0.500000\n"
                "O   O1   0.333333 0.666667 %.4f\nO   O2   0.666667 0.333333 %.4f\n",
                a, a, c, omat.c_str(), u, 0.5 + u);
  const fs::path file = WriteTemp("zincite.ovtx", text);
  Window w(host);
  ASSERT_TRUE(OpenStructureFile(w.ref(), file));
  fs::remove(file);
  const CrystalRec &r = w.crystal();
  int bonds = 0;
  for (size_t i = 0; i < r.atoms.size(); i++)
    for (size_t k = 0; k < r.atoms[i].bondCount; k++) {
      const AtomRecord &p = r.atoms[i], &q = r.atoms[r.atoms[i].bonds[k]];
      const double cart = std::hypot(double(p.cart[0]) - q.cart[0], double(p.cart[1]) - q.cart[1],
                                     double(p.cart[2]) - q.cart[2]);
      EXPECT_NEAR(cart, MetricDistance(r, p.xyz, q.xyz), 2e-6);
      bonds++;
    }
  EXPECT_GT(bonds, 0);
  // The short Zn-O distance, by hand: sqrt(a^2 / 3 + (c (1/2 - u))^2).
  const double shortBond = std::sqrt(a * a / 3.0 + std::pow(c * (0.5 - u), 2));
  bool found = false;
  for (const AtomRecord &p : r.atoms)
    for (size_t k = 0; k < p.bondCount; k++) {
      const AtomRecord &q = r.atoms[p.bonds[k]];
      const double d = std::hypot(double(p.cart[0]) - q.cart[0], double(p.cart[1]) - q.cart[1],
                                  double(p.cart[2]) - q.cart[2]);
      found = found || std::fabs(d - shortBond) < 1e-5; // the file's 0.333333 for 1/3
    }
  EXPECT_TRUE(found) << shortBond;
  for (int k = 0; k < 9; k++)
    EXPECT_NEAR(r.orientationMatrix[k], written[k], 2e-3) << k;
}

// The NaCl example without its BMAX card: the automatic search bonds each
// ion to its six neighbours at a / 2.
TEST_F(OwnTextKeeps, AFileWithoutBondSpecificationsGetsTheAutomaticBonds) {
  std::string text = Example("NaCl.ovtx");
  const size_t at = text.find("BMAX");
  ASSERT_NE(at, std::string::npos);
  text.erase(at, text.find('\n', at) - at + 1);
  const fs::path file = WriteTemp("nacl-nobmax.ovtx", text);
  Window w(host);
  ASSERT_TRUE(OpenStructureFile(w.ref(), file));
  fs::remove(file);
  const CrystalRec &c = w.crystal();
  ASSERT_GE(c.bondSpecCount, 1);
  const double half = 5.6402 / 2.0;
  const ElementCode na = TwoCharsToShort("Na"), cl = TwoCharsToShort("Cl");
  size_t bonds = 0;
  for (const AtomRecord &p : c.atoms)
    for (size_t k = 0; k < p.bondCount; k++) {
      const AtomRecord &q = c.atoms[p.bonds[k]];
      if (c.sites[p.site].elements[0] != na || c.sites[q.site].elements[0] != cl)
        continue;
      EXPECT_NEAR(std::hypot(p.cart[0] - q.cart[0], p.cart[1] - q.cart[1], p.cart[2] - q.cart[2]), half, 1e-4);
      bonds++;
    }
  // The cell's atoms stand on a 3 x 3 x 3 grid of half cells: 54 Na-Cl
  // bonds between neighbours along the axes.
  EXPECT_EQ(bonds, 54u);
  EXPECT_NE(host.log.find("Automatic bond search complete"), std::string::npos) << host.log;
}

// The largest atom radius and bond maximum go out and come back unchanged;
// one beyond them is held to the limit with a line naming file and line.
TEST_F(OwnTextKeeps, TheLargestValuesComeBackAndLargerOnesAreHeldToThem) {
  std::string text = Example("Benzene.ovtx");
  const size_t at = text.find("BMAX  C   H   1.200");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 19, "BMAX  C   H   231.000\nBMAX  H   H   1000\n\nTYPE\nC   100.00  1 0 0\nH     0.01  0 1 0\n");
  const fs::path file = WriteTemp("benzene-limits.ovtx", text);
  Window w(host);
  ASSERT_TRUE(OpenStructureFile(w.ref(), file));
  const CrystalRec &c = w.crystal();
  ASSERT_EQ(c.bondSpecCount, 3);
  EXPECT_EQ(c.bondSpecs[1].maxLength, kMaxBondSpecLength);
  EXPECT_EQ(c.bondSpecs[2].maxLength, kMaxBondSpecLength);
  const size_t line = std::count(text.begin(), text.begin() + text.find("BMAX  H   H"), '\n') + 1;
  const std::string expected = file.filename().string() + ", line " + std::to_string(line) +
                               ": BMAX 1000 is beyond the largest bond maximum, 231 \u00C5; 231 \u00C5 used.";
  EXPECT_NE(host.log.find(expected), std::string::npos) << host.log;

  Window back(host);
  const fs::path again = WriteTemp("benzene-again.ovtx", FormatTextFile(c, "Benzene", ""));
  host.log.clear();
  ASSERT_TRUE(OpenStructureFile(back.ref(), again));
  fs::remove(file);
  fs::remove(again);
  const CrystalRec &r = back.crystal();
  ASSERT_EQ(r.sphereCount, 2);
  EXPECT_EQ(r.spheres[0].radius, kMaxStoredRadius);
  EXPECT_EQ(r.spheres[1].radius, 0.01f);
  EXPECT_EQ(r.bondSpecs[1].maxLength, kMaxBondSpecLength);
  EXPECT_EQ(host.log.find("used."), std::string::npos) << host.log;
}

// A range too long on every axis is one reset, told once.
TEST_F(OwnTextKeeps, ARangeTooLongOnEveryAxisIsToldOnce) {
  std::string text = Example("NaCl.ovtx");
  const std::string card = "XYZR  0.000000 1.000000 0.000000 1.000000 0.000000 1.000000";
  ASSERT_NE(text.find(card), std::string::npos);
  text.replace(text.find(card), card.size(), "XYZR 0 300 0 300 0 300");
  const fs::path file = WriteTemp("long range.ovtx", text);
  Window w(host);
  const bool read = OpenStructureFile(w.ref(), file);
  fs::remove(file);
  ASSERT_TRUE(read);
  size_t lines = 0;
  for (size_t at = host.log.find("plot range"); at != std::string::npos; at = host.log.find("plot range", at + 1))
    ++lines;
  EXPECT_EQ(lines, 1u) << host.log;
  EXPECT_NE(host.log.find("a 0 to 300, b 0 to 300, c 0 to 300"), std::string::npos) << host.log;
}

} // namespace
