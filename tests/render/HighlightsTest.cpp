// The highlight primitives as they land in a window's overlay list.

#include "../model/StructureWindowFixture.h"
#include "SceneSupport.h"

#include "render/Highlights.h"

#include <gtest/gtest.h>

#include <numbers>

using namespace viewtest;

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

const HiliteItem *LastText(WindowRef w) {
  const auto &items = GetHiliteOverlay(w);
  for (auto it = items.rbegin(); it != items.rend(); ++it)
    if (it->kind == HiliteItem::kText)
      return &*it;
  return nullptr;
}

} // namespace

TEST(Highlights, BearingsAndColoursFollowTheBackground) {
  EXPECT_FLOAT_EQ(GetBearing(0, 0, 0, 0), 3 * kPi / 2);
  EXPECT_FLOAT_EQ(GetBearing(0, 0, -1, 0), kPi);
  EXPECT_NEAR(GetBearing(0, 0, 1, -1), 7 * kPi / 4, 1e-6);
  EXPECT_NEAR(GetBearing(0, 0, -1, 1), 3 * kPi / 4, 1e-6);
  FakeHost host;
  TestWindow w(host);
  HiliteRGBA main, contrast;
  w.crystal().hiliteColor = kRGBBlack; // a white background
  ASSERT_TRUE(GetHiliteColorsForWindow(w.ref(), &main, &contrast));
  EXPECT_EQ(main, (HiliteRGBA{0, 0, 0, 1}));
  EXPECT_EQ(contrast, (HiliteRGBA{1, 1, 1, 1}));
  EXPECT_FALSE(GetHiliteColorsForWindow(nullptr, &main, &contrast));
}

TEST(Highlights, LinesLabelsAndArcs) {
  FakeHost host;
  TestWindow w(host);
  WindowRef ref = w.ref();
  w.crystal().hiliteColor = kRGBWhite;
  HiliteLine(ref, Point{10, 10}, Point{10, 60}, true);
  const auto &items = GetHiliteOverlay(ref);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].dashes, (std::vector<float>{5, 2}));
  EXPECT_EQ(items[0].colour, (HiliteRGBA{0, 0, 0, 1})); // the wide contrast pass first
  EXPECT_EQ(items[1].dashes, (std::vector<float>{4, 3}));
  EXPECT_FLOAT_EQ(items[1].dashPhase, -0.5f);

  // Horizontal and vertical distance labels; nanometres.
  WriteLineDistance(ref, Point{10, 10}, Point{10, 60}, 2.5f, 12);
  EXPECT_EQ(LastText(ref)->text, "2.500 Å");
  EXPECT_FLOAT_EQ(LastText(ref)->angle, 0.0f);
  w.crystal().rulerUnits = 2;
  WriteLineDistance(ref, Point{10, 10}, Point{60, 10}, 2.5f, 12);
  EXPECT_EQ(LastText(ref)->text, "0.250 nm");
  EXPECT_NEAR(std::fabs(LastText(ref)->angle), kPi / 2, 1e-6);
  const size_t count = GetHiliteOverlay(ref).size();
  WriteLineDistance(ref, Point{10, 10}, Point{10, 10}, 1.0f, 12);
  HiliteArrowhead(ref, Point{5, 5}, Point{5, 5});
  EXPECT_EQ(GetHiliteOverlay(ref).size(), count);

  // Arms at bearings 350 and 10 degrees: a 20-degree arc.
  ClearHiliteOverlay(ref);
  const float r = 100.0f, a1 = -10.0f * kPi / 180.0f, a3 = 10.0f * kPi / 180.0f;
  const Point vertex{200, 200};
  const Point p1{int16_t(200 - std::lround(r * std::sin(a1))), int16_t(200 + std::lround(r * std::cos(a1)))};
  const Point p3{int16_t(200 - std::lround(r * std::sin(a3))), int16_t(200 + std::lround(r * std::cos(a3)))};
  WriteLineAngle(ref, p1, vertex, p3, 20.0f, 14);
  const HiliteItem &arc = GetHiliteOverlay(ref)[0];
  float widest = 0;
  for (size_t k = 0; k + 1 < arc.points.size(); k += 2)
    widest = std::max(widest, std::fabs(arc.points[k + 1] - 200.0f));
  EXPECT_NEAR(widest, 20.0f * std::sin(a3), 0.3f); // never swings round the far side
  EXPECT_GT(arc.points[0], 219.0f);
  EXPECT_EQ(LastText(ref)->text, "20.00°");
  EXPECT_EQ(LastText(ref)->alignment, kAlignLeft);
  EXPECT_FLOAT_EQ(LastText(ref)->x, 224.0f);
  ClearHiliteOverlay(ref);
}

TEST(Highlights, SpheresCarryTheirSymbolOnlyWhenLargeEnough) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  scene::Build(c, {{1.0f, kRGBWhite, 14}}, {{0, 0, 0, 0}});
  c.sites[0].elements[0] = Element("Na");
  HiliteSphere(w.ref(), 0, 6.0f, true);
  EXPECT_EQ(LastText(w.ref()), nullptr);
  HiliteSphere(w.ref(), 0, 6.5f, true);
  ASSERT_NE(LastText(w.ref()), nullptr);
  EXPECT_EQ(LastText(w.ref())->text, "Na");
  EXPECT_EQ(GetHiliteOverlay(w.ref())[0].colour, kHiliteYellow);
  ClearHiliteOverlay(w.ref());
}
