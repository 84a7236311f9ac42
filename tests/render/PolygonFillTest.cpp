#include "render/PolygonFill.h"
#include "RenderTestSupport.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace ovgfx;

namespace {

constexpr uint32_t kFill = 0xFFFFFFFFu;

void SetVertices(std::initializer_list<std::pair<int, int>> points) {
  MyOpenPolygon();
  for (auto [x, y] : points)
    MyAddPolygonVertex(int16_t(x), int16_t(y));
}

// Filled columns of one row as [first, past-the-last); {0, 0} for none.
std::pair<int, int> Span(TestTarget &t, int y) {
  int first = -1, last = -1;
  for (int x = t.px().Bounds().left; x < t.px().Bounds().right; ++x)
    if (t.At(x, y) == kFill) {
      if (first < 0)
        first = x;
      last = x;
    }
  return first < 0 ? std::make_pair(0, 0) : std::make_pair(first, last + 1);
}

} // namespace

TEST(PolygonFill, NothingToFillAnswersZero) {
  TestTarget t(MakeRect(0, 0, 20, 20));
  MyOpenPolygon();
  EXPECT_EQ(MyDrawPolygon(kRGBWhite, false), 0);
  SetVertices({{25, 2}, {30, 2}, {30, 8}});
  EXPECT_EQ(MyDrawPolygon(kRGBWhite, false), 0);
  SetVertices({{2, -9}, {8, -9}, {8, -1}});
  EXPECT_EQ(MyDrawPolygon(kRGBWhite, true), 0);
  EXPECT_EQ(t.CountLit(), 0);

  // No target.
  DisposeCurrentPixGlobals();
  SetCurrentPort(nullptr);
  GetCurrentPixGlobals();
  SetVertices({{2, 2}, {8, 2}, {8, 8}});
  EXPECT_EQ(MyDrawPolygon(kRGBWhite, false), 0);
}

TEST(PolygonFill, SpansStartAtTheRoundedUpCrossingAndGrowInEdgeOrder) {
  TestTarget t(MakeRect(0, 0, 20, 20));
  // Clockwise on the screen: the right edge reaches rows 3 to 5 first, so
  // the left edge's later crossing moves the start and ends the span at the
  // right edge's column.
  SetVertices({{2, 2}, {8, 2}, {8, 6}, {2, 6}});
  EXPECT_EQ(MyDrawPolygon(kRGBWhite, false), 1);
  EXPECT_EQ(Span(t, 2), std::make_pair(2, 9));
  for (int y = 3; y <= 5; ++y)
    EXPECT_EQ(Span(t, y), std::make_pair(2, 8)) << y;
  EXPECT_EQ(Span(t, 6), std::make_pair(2, 9));
  EXPECT_EQ(Span(t, 7), std::make_pair(0, 0));

  // The other way round the right edge's column is included on every row.
  t.px().Fill(0xFF000000u);
  SetVertices({{2, 2}, {2, 6}, {8, 6}, {8, 2}});
  EXPECT_EQ(MyDrawPolygon(kRGBWhite, false), 1);
  for (int y = 2; y <= 6; ++y)
    EXPECT_EQ(Span(t, y), std::make_pair(2, 9)) << y;
}

TEST(PolygonFill, ATwoVertexPolygonFillsOnlyWholeColumnCrossings) {
  TestTarget t(MakeRect(0, 0, 10, 10));
  // x = 1.5 * row: whole on rows 0, 2 and 4.
  SetVertices({{0, 0}, {6, 4}});
  EXPECT_EQ(MyDrawPolygon(kRGBWhite, false), 1);
  EXPECT_EQ(Span(t, 0), std::make_pair(0, 1));
  EXPECT_EQ(Span(t, 1), std::make_pair(0, 0));
  EXPECT_EQ(Span(t, 2), std::make_pair(3, 4));
  EXPECT_EQ(Span(t, 3), std::make_pair(0, 0));
  EXPECT_EQ(Span(t, 4), std::make_pair(6, 7));
  EXPECT_EQ(t.CountLit(), 3);
}

TEST(PolygonFill, TheClipCutsSpansAndRowsAndTheVertexListIsBounded) {
  TestTarget t(MakeRect(0, 0, 20, 20));
  t.Clip(MakeRect(4, 3, 10, 20));
  SetVertices({{0, 0}, {0, 15}, {15, 15}, {15, 0}});
  EXPECT_EQ(MyDrawPolygon(kRGBWhite, false), 1);
  EXPECT_EQ(Span(t, 2), std::make_pair(0, 0));
  EXPECT_EQ(Span(t, 3), std::make_pair(4, 10));
  EXPECT_EQ(Span(t, 15), std::make_pair(4, 10));
  EXPECT_EQ(t.CountLit(), 13 * 6);

  // Vertices beyond the 120th are ignored: the 121st would widen the fill.
  t.Clip(MakeRect(0, 0, 20, 20));
  t.px().Fill(0xFF000000u);
  MyOpenPolygon();
  for (int i = 0; i < 120; ++i)
    MyAddPolygonVertex(int16_t(2 + (i % 2) * 4), int16_t(2 + i / 30));
  MyAddPolygonVertex(18, 18);
  MyDrawPolygon(kRGBWhite, false);
  EXPECT_EQ(Span(t, 10), std::make_pair(0, 0));
  EXPECT_EQ(t.At(18, 18), 0xFF000000u);
}

TEST(PolygonFill, TheSmoothOutlineLeavesTheLowestRowToTheOutline) {
  TestTarget t(MakeRect(0, 0, 20, 20));
  SetVertices({{3, 3}, {12, 3}, {12, 10}, {3, 10}});
  EXPECT_EQ(MyDrawPolygon(kRGBWhite, true), 1);
  // Inside rows are filled over the outline; the lowest row keeps the
  // outline's blend and the row below it the outline's neighbour weight.
  EXPECT_EQ(t.At(6, 5), kFill);
  EXPECT_EQ(t.At(6, 3), kFill);
  EXPECT_EQ(t.Red(6, 10), kLitCentre);
  EXPECT_EQ(t.Red(6, 11), kLitNeighbour);
  EXPECT_EQ(t.Red(6, 2), kLitNeighbour);

  // A polygon reaching the clip's last row keeps that row.
  t.px().Fill(0xFF000000u);
  SetVertices({{3, 15}, {12, 15}, {12, 30}, {3, 30}});
  EXPECT_EQ(MyDrawPolygon(kRGBWhite, true), 1);
  EXPECT_EQ(t.At(6, 19), kFill);
}

TEST(PolygonFill, RefusesTargetsThatAreNotThirtyTwoBitsDeep) {
  TestTarget t(MakeRect(0, 0, 16, 16), 1);
  SetVertices({{2, 2}, {12, 2}, {12, 12}});
  EXPECT_EQ(MyDrawPolygon(kRGBBlack, true), 0);
  for (int y = 0; y < 16; ++y)
    EXPECT_EQ(t.px().Row1(y)[0] | t.px().Row1(y)[1], 0) << y;
}

TEST(PolygonFill, OnlyTheFirst8000RowsAreFilled) {
  TestTarget t(MakeRect(0, 0, 2, 8100));
  SetVertices({{0, 0}, {0, 8099}});
  EXPECT_EQ(MyDrawPolygon(kRGBWhite, false), 1);
  EXPECT_EQ(t.At(0, 7999), kFill);
  EXPECT_EQ(t.At(0, 8000), 0xFF000000u);
  EXPECT_EQ(t.At(0, 8099), 0xFF000000u);
}
