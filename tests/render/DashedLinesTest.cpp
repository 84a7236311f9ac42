#include "render/DashedLines.h"
#include "RenderTestSupport.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

constexpr RGBColor kBlue{0, 0, 65535};

// The runs of lit columns on one row, as (first, last) pairs.
std::vector<std::pair<int, int>> Runs(TestTarget &t, int y, int x0, int x1) {
  std::vector<std::pair<int, int>> runs;
  for (int x = x0; x <= x1; ++x) {
    if ((t.At(x, y) & 0x00FFFFFF) == 0)
      continue;
    if (!runs.empty() && runs.back().second == x - 1)
      runs.back().second = x;
    else
      runs.push_back({x, x});
  }
  return runs;
}

} // namespace

TEST(PenDashes, OneColourDashesStartAndEndOnTheEndPoints) {
  TestTarget t(MakeRect(0, 0, 110, 4));
  t.port->SetForeColor(kBlue);
  // len 100, L 10, f 0.5: n = round(10.5) = 11, step 100 / 10.5.
  QDrawDashedLine(0, 1, 100, 1, kRGBWhite, kBlue, 1, 10, 0.5f);
  auto runs = Runs(t, 1, 0, 109);
  ASSERT_EQ(runs.size(), 11u);
  EXPECT_EQ(runs.front(), std::make_pair(0, 5));   // 0 to round(4.76)
  EXPECT_EQ(runs[1], std::make_pair(10, 14));      // round(9.52) to round(14.29)
  EXPECT_EQ(runs.back(), std::make_pair(95, 100)); // the last dash ends on the end point
  EXPECT_EQ(t.port->ForeColor(), kRGBWhite);       // left at colour 1

  // Coinciding points or a dash length below 1 draw nothing.
  t.px().Fill(0xFF000000u);
  QDrawDashedLine(5, 1, 5, 1, kRGBWhite, kBlue, 1, 10, 0.5f);
  QDrawDashedLine(0, 1, 100, 1, kRGBWhite, kBlue, 1, 0, 0.5f);
  EXPECT_EQ(t.CountLit(), 0);
}

TEST(PenDashes, TwoColourPatternsCoverTheWholeLineWithWholePeriods) {
  TestTarget t(MakeRect(0, 0, 50, 4));
  // len 40, L 8: n = 5 periods of 8, f 0.25: 2 pixels of colour 1 each.
  QDrawDashedLine(0, 2, 40, 2, kRGBWhite, kBlue, 2, 8, 0.25f);
  for (int x = 0; x <= 40; ++x)
    EXPECT_NE(t.At(x, 2) & 0x00FFFFFF, 0u) << x;
  EXPECT_EQ(t.At(41, 2), 0xFF000000u);
  // Period i: colour 1 from 8i to 8i + 2, colour 2 after; each later piece
  // starts where the earlier one ended.
  EXPECT_EQ(t.At(0, 2), 0xFFFFFFFFu);
  EXPECT_EQ(t.At(1, 2), 0xFFFFFFFFu);
  EXPECT_EQ(t.At(5, 2), 0xFF0000FFu);
  EXPECT_EQ(t.At(9, 2), 0xFFFFFFFFu);
  EXPECT_EQ(t.At(14, 2), 0xFF0000FFu);
  EXPECT_EQ(t.port->ForeColor(), kRGBWhite);

  // The pen's size applies: a 1 x 2 pen makes every dash two rows tall.
  t.px().Fill(0xFF000000u);
  t.port->PenSize(1, 2);
  QDrawDashedLine(0, 0, 40, 0, kRGBWhite, kBlue, 1, 8, 0.5f);
  EXPECT_EQ(Runs(t, 0, 0, 49), Runs(t, 1, 0, 49));
}

TEST(SmoothDashes, TheCounterRestartsADashEveryPeriod) {
  TestTarget t(MakeRect(0, 0, 90, 8));
  // len 80, L 10, f 0.5, style 1: n = round(8.5) = 9, step = 80 / 8.5 = 9.41:
  // period 9, dash 4.
  MyDrawSmoothDashedLine(0, 3, 80, 3, kRGBWhite, kBlue, 1, 10, 0.5f);
  EXPECT_EQ(gDashRepeat, 9);
  EXPECT_EQ(gDashWidth, 4);
  auto runs = Runs(t, 3, 0, 89);
  ASSERT_GE(runs.size(), 2u);
  EXPECT_EQ(runs[0], std::make_pair(0, 3));
  EXPECT_EQ(runs[1], std::make_pair(9, 12));
  // The dash pixels have the weights of a solid line: the row and its two
  // neighbours.
  EXPECT_EQ(t.Red(1, 3), kLitCentre);
  EXPECT_EQ(t.Red(1, 2), kLitNeighbour);
  EXPECT_EQ(t.Red(5, 3), 0);

  // Style 2 paints the gaps in colour 2 and fits whole periods: n = round(8)
  // = 8, period 10, dash 5.
  t.px().Fill(0xFF000000u);
  MyDrawSmoothDashedLine(0, 3, 80, 3, kRGBWhite, kBlue, 2, 10, 0.5f);
  EXPECT_EQ(gDashRepeat, 10);
  EXPECT_EQ(gDashWidth, 5);
  EXPECT_EQ(t.At(2, 3), 0xFFC6C6C6u); // colour 1
  EXPECT_EQ(t.At(7, 3), 0xFF0000C6u); // colour 2 in the gap
  EXPECT_EQ(t.At(12, 3), 0xFFC6C6C6u);
}

TEST(SmoothDashes, ADashAsLongAsThePeriodLeavesTheRestOfTheLineAGap) {
  TestTarget t(MakeRect(0, 0, 50, 8));
  // f = 1: n = round(40 / 10) = 4, step = 40 / 4 = 10, dash 10 = period.
  MyDrawSmoothDashedLine(0, 3, 40, 3, kRGBWhite, kBlue, 1, 10, 1.0f);
  EXPECT_EQ(gDashWidth, gDashRepeat);
  EXPECT_EQ(Runs(t, 3, 0, 49), (std::vector<std::pair<int, int>>{{0, 9}}));
}

TEST(SmoothDashes, ThePatternStartsWithADashAtTheFirstColumnInsideTheClip) {
  TestTarget t(MakeRect(0, 0, 90, 8));
  t.Clip(MakeRect(20, 0, 90, 8));
  MyDrawSmoothDashedLine(0, 3, 80, 3, kRGBWhite, kBlue, 1, 10, 0.5f);
  auto runs = Runs(t, 3, 0, 89);
  ASSERT_GE(runs.size(), 2u);
  EXPECT_EQ(runs[0], std::make_pair(20, 23));
  EXPECT_EQ(runs[1], std::make_pair(29, 32));
}

TEST(SmoothDashes, StepsDroppedByTheClipTestDoNotAdvanceThePattern) {
  TestTarget t(MakeRect(0, 0, 50, 8));
  // (0, 0) to (40, 4): columns 0 to 4 round to row 0, whose upper neighbour
  // leaves the clip, so the first step drawn is column 5. len 40.2: n = 5,
  // period 8, dash 4.
  MyDrawSmoothDashedLine(0, 0, 40, 4, kRGBWhite, kBlue, 1, 10, 0.5f);
  EXPECT_EQ(gDashRepeat, 8);
  EXPECT_EQ(gDashWidth, 4);
  auto litColumn = [&](int x) {
    for (int y = 0; y < 8; ++y)
      if (t.Red(x, y))
        return true;
    return false;
  };
  std::vector<bool> lit;
  for (int x = 0; x <= 17; ++x)
    lit.push_back(litColumn(x));
  EXPECT_EQ(lit, (std::vector<bool>{false, false, false, false, false, true, true, true, true, false, false, false,
                                    false, true, true, true, true, false}));
}

TEST(SmoothDashes, VerticalLinesAndOneBitTargets) {
  TestTarget t(MakeRect(0, 0, 8, 40));
  MyDrawSmoothDashedLine(3, 0, 3, 30, kRGBWhite, kBlue, 1, 10, 0.5f);
  EXPECT_EQ(t.Red(3, 0), kLitCentre);
  EXPECT_EQ(t.Red(2, 0), kLitNeighbour);
  EXPECT_EQ(t.Red(4, 0), kLitNeighbour);
  // A vertical line on the clip's edge column draws nothing at all.
  t.px().Fill(0xFF000000u);
  MyDrawSmoothDashedLine(0, 0, 0, 30, kRGBWhite, kBlue, 1, 10, 0.5f);
  EXPECT_EQ(t.CountLit(), 0);
  // Coinciding points: one pixel in colour 1.
  MyDrawSmoothDashedLine(5, 5, 5, 5, RGBColor{65535, 32768, 0}, kBlue, 1, 10, 0.5f);
  EXPECT_EQ(t.At(5, 5), 0xFFFF8000u);

  // At 1 bit the pen form draws it into the current port.
  TestTarget mask(MakeRect(0, 0, 40, 2), 1);
  MyDrawSmoothDashedLine(0, 0, 30, 0, kBlue, kRGBWhite, 1, 10, 0.5f);
  EXPECT_TRUE(mask.px().Bit(0, 0));
  EXPECT_FALSE(mask.px().Bit(7, 0));
  EXPECT_TRUE(mask.px().Bit(30, 0));
}

TEST(SmoothDashes, ADashLengthBelowOneDrawsNothingAndDoesNotDivideByZero) {
  TestTarget t(MakeRect(0, 0, 40, 8));
  MyDrawSmoothDashedLine(0, 3, 30, 3, kRGBWhite, kBlue, 1, 0, 0.5f);
  MyDrawSmoothDashedLine(0, 3, 30, 3, kRGBWhite, kBlue, 2, -4, 0.5f);
  EXPECT_EQ(t.CountLit(), 0);
}
