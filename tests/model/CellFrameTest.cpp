// The cell frame both ways, in a triclinic cell where every term of the
// orthogonalisation counts. Golden values from gemmi 0.5.7
// (UnitCell.orthogonalize / fractionalize / volume).
#include "CellFrame.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr double kTriclinic[6] = {5.1, 6.3, 7.4, 78.5, 101.2, 95.7};

TEST(CellFrame, TriclinicCellAgreesWithGemmiBothWays) {
  const CellFrame frame = StandardCellFrame(kTriclinic);
  const double f[3] = {0.12, 0.34, -0.56};
  double x[3];
  CartesianFromFractional(frame, f, x);
  EXPECT_NEAR(x[0], 1.2041642475, 1e-9);
  EXPECT_NEAR(x[1], 1.3814634339, 1e-9);
  EXPECT_NEAR(x[2], -3.9953025016, 1e-9);
  double back[3];
  FractionalFromCartesian(frame, x, back);
  for (int k = 0; k < 3; k++)
    EXPECT_NEAR(back[k], f[k], 1e-12);

  const double p[3] = {1.5, -2.25, 3.75};
  double g[3];
  FractionalFromCartesian(frame, p, g);
  EXPECT_NEAR(g[0], 0.3844410195, 1e-9);
  EXPECT_NEAR(g[1], -0.4712029475, 1e-9);
  EXPECT_NEAR(g[2], 0.5256172716, 1e-9);
  EXPECT_NEAR(CellVolume(kTriclinic), 228.0970669525, 1e-7);
}

// A box's vectors give back the cell they were made from, and the fcc
// primitive box (by hand: edges sqrt(1/2), all angles 60) its own.
TEST(CellFrame, BoxRowsGiveTheirCell) {
  double rows[3][3], cell[6];
  StandardCellVectors(kTriclinic[0], kTriclinic[1], kTriclinic[2], kTriclinic[3], kTriclinic[4], kTriclinic[5], rows);
  CellOfRows(rows, cell);
  for (int k = 0; k < 6; k++)
    EXPECT_NEAR(cell[k], kTriclinic[k], 1e-10) << k;
  const double fcc[3][3] = {{0.0, 0.5, 0.5}, {0.5, 0.0, 0.5}, {0.5, 0.5, 0.0}};
  CellOfRows(fcc, cell);
  for (int k = 0; k < 3; k++) {
    EXPECT_NEAR(cell[k], std::sqrt(0.5), 1e-12);
    EXPECT_NEAR(cell[3 + k], 60.0, 1e-10);
  }
  CellFrame frame;
  ASSERT_TRUE(CellFrameOfRows(fcc, frame));
  const double corner[3] = {0.5, 0.5, 1.0}; // a + b
  double f[3];
  FractionalFromCartesian(frame, corner, f);
  EXPECT_NEAR(f[0], 1.0, 1e-12);
  EXPECT_NEAR(f[1], 1.0, 1e-12);
  EXPECT_NEAR(f[2], 0.0, 1e-12);
  const double flat[3][3] = {{5, 0, 0}, {0, 5, 0}, {5, 5, 0}};
  EXPECT_FALSE(CellFrameOfRows(flat, frame));
}

// Volume 6 A^3 over faces of 2, 3 and 6 A^2 (a 1 x 2 x 3 box).
TEST(CellFrame, ThinnestHeightIsTheShortestDistanceBetweenFaces) {
  const double box[6] = {1.0, 2.0, 3.0, 90.0, 90.0, 90.0};
  EXPECT_NEAR(ThinnestCellHeight(box), 1.0, 1e-12);
  // c = 1 at right angles to the rhombic a-b face.
  const double rhomb[6] = {2.0, 2.0, 1.0, 90.0, 90.0, 60.0};
  EXPECT_NEAR(ThinnestCellHeight(rhomb), 1.0, 1e-12);
  const double leaning[6] = {2.0, 2.0, 4.0, 90.0, 90.0, 30.0};
  EXPECT_NEAR(ThinnestCellHeight(leaning), 1.0, 1e-12); // 2 sin 30
  // Each axis its own: quartz's hexagonal cell is a sin 120 across the b-c
  // and a-c faces, c across the a-b faces.
  const double quartz[6] = {4.916, 4.916, 5.4054, 90.0, 90.0, 120.0};
  double heights[3];
  CellHeights(quartz, heights);
  EXPECT_NEAR(heights[0], 4.916 * std::sqrt(3.0) / 2.0, 1e-9);
  EXPECT_NEAR(heights[1], 4.916 * std::sqrt(3.0) / 2.0, 1e-9);
  EXPECT_NEAR(heights[2], 5.4054, 1e-9);
  CellHeights(box, heights);
  EXPECT_NEAR(heights[1], 2.0, 1e-12);
}

TEST(CellFrame, WrapKeepsEveryCoordinateBelowOneAsStored) {
  EXPECT_DOUBLE_EQ(WrapFraction(-0.25), 0.75);
  EXPECT_DOUBLE_EQ(WrapFraction(1.0), 0.0);
  EXPECT_DOUBLE_EQ(WrapFraction(2.5), 0.5);
  // Just below a whole number, single precision would store 1.
  EXPECT_DOUBLE_EQ(WrapFraction(-1e-9), 0.0);
  EXPECT_DOUBLE_EQ(WrapFraction(0.99999999), 0.0);
  EXPECT_LT(static_cast<float>(WrapFraction(0.9999)), 1.0f);
}

} // namespace
