// Commands that restyle every site at once, and their notices.

#include "StructureWindowFixture.h"

#include "SiteAppearance.h"
#include "SitePreparation.h"

#include <gtest/gtest.h>

using namespace viewtest;

namespace {

bool BuildOxide(CrystalRec &c) {
  const float cell[6] = {5.0f, 5.0f, 5.0f, 90.0f, 90.0f, 90.0f};
  return BuildFirstCell(c, "P 1", cell,
                        {{"O1", "O", 0.1f, 0.1f, 0.1f, 1.4f},
                         {"O2", "O", 0.3f, 0.1f, 0.1f, 1.2f},
                         {"O3", "O", 0.5f, 0.1f, 0.1f, 1.3f},
                         {"Ti1", "Ti", 0.7f, 0.7f, 0.7f, 0.6f}});
}

RGBColor Hue(uint16_t hue) {
  RGBColor rgb;
  HSL2RGB(HSLColor{hue, 65535, 32000}, rgb);
  return rgb;
}

} // namespace

TEST(SiteAppearance, CoordinationHuesSpreadFromBlueToRed) {
  EXPECT_EQ(CoordinationHues({6, 4}), (std::vector<uint16_t>{0, 43690}));
  EXPECT_EQ(CoordinationHues({8, 4, 6, 4}), (std::vector<uint16_t>{0, 43690, 21845, 43690}));
  EXPECT_EQ(CoordinationHues({6, 6, 6}), (std::vector<uint16_t>{0, 0, 0})); // one group: all red
}

TEST(SiteAppearance, ColourByCoordinationGivesEachSiteAType) {
  FakeHost host;
  TestWindow w(host);
  ASSERT_TRUE(BuildOxide(w.crystal()));
  CrystalRec &c = w.crystal();
  const uint32_t cn[] = {2, 2, 3, 6};
  for (size_t s = 0; s < 4; s++)
    c.sites[s].coordination = cn[s];
  c.atoms[0].atomType = 3; // an atom's own type is dropped
  ColourByCoordination(w.ref());
  ASSERT_EQ(c.sphereCount, 4);
  EXPECT_EQ(c.spheres[0].colour, Hue(43690));
  EXPECT_EQ(c.spheres[2].colour, Hue(21845));
  EXPECT_EQ(c.spheres[3].colour, Hue(0));
  EXPECT_FLOAT_EQ(c.spheres[1].radius, 1.2f); // the rest is copied
  for (const AtomRecord &a : c.atoms)
    EXPECT_EQ(a.atomType, a.site);
  EXPECT_TRUE(w.modified());
  EXPECT_FALSE(host.siteBrowserUpdates.empty());

  // A single site: nothing happens.
  FakeHost host2;
  TestWindow one(host2);
  const float cell[6] = {5.0f, 5.0f, 5.0f, 90.0f, 90.0f, 90.0f};
  ASSERT_TRUE(BuildFirstCell(one.crystal(), "P 1", cell, {{"O1", "O", 0.1f, 0.1f, 0.1f, 1.4f}}));
  const RGBColor before = one.crystal().spheres[0].colour;
  ColourByCoordination(one.ref());
  EXPECT_EQ(one.crystal().spheres[0].colour, before);
  EXPECT_FALSE(one.modified());
}

TEST(SiteAppearance, ColourByElementAndDefaults) {
  FakeHost host;
  TestWindow w(host);
  ASSERT_TRUE(BuildOxide(w.crystal()));
  CrystalRec &c = w.crystal();
  c.spheres[0].colour = RGBColor{1, 2, 3};
  c.spheres[1].colour = RGBColor{4, 5, 6};
  ColourByElement(w.ref());
  ASSERT_EQ(c.sphereCount, 2);
  EXPECT_EQ(c.spheres[0].colour, (RGBColor{1, 2, 3}));
  EXPECT_FLOAT_EQ(c.spheres[0].radius, 1.4f);
  EXPECT_EQ(c.sites[1].atomType, 0u);
  EXPECT_EQ(c.sites[3].atomType, 1u);

  // Defaults: one type per element and atom style, from the element table.
  c.sites[2].atomStyle = 3;
  c.atoms[0].atomType = 1;
  ApplyDefaults(w.ref());
  ASSERT_EQ(c.sphereCount, 3);
  const ElementData *oxygen = nullptr;
  for (const ElementData &row : gPrefs.elementData)
    if (row.element == Element("O")) {
      oxygen = &row;
      break;
    }
  ASSERT_NE(oxygen, nullptr);
  EXPECT_EQ(c.spheres[0].colour, oxygen->colour);
  EXPECT_FLOAT_EQ(c.spheres[0].radius, oxygen->radius);
  EXPECT_EQ(c.spheres[1].style, 3u);
  EXPECT_EQ(c.sites[1].atomType, 0u);
  EXPECT_EQ(c.sites[2].atomType, 1u);
  for (const AtomRecord &a : c.atoms)
    EXPECT_EQ(a.atomType, c.sites[a.site].atomType);
}

TEST(SiteAppearance, NoticeBoxesSilenceTheirCommands) {
  FakeHost host;
  TestWindow w(host);
  ASSERT_TRUE(BuildOxide(w.crystal()));
  const GuardedSiteCommand *byCN = FindGuardedSiteCommand(FourCharsToLong("IWcC"));
  const GuardedSiteCommand *byElement = FindGuardedSiteCommand(FourCharsToLong("IWcE"));
  ASSERT_TRUE(byCN && byElement);
  EXPECT_STREQ(byElement->key, "ColorByElement");
  EXPECT_EQ(*byCN->notice, 1);
  byElement->afterNotice(w.ref(), true);
  EXPECT_EQ(*byCN->notice, 0); // one flag for both colour commands
  EXPECT_EQ(w.crystal().sphereCount, 2);
  byCN->afterNotice(w.ref(), false);
  EXPECT_EQ(*byElement->notice, 1);
  EXPECT_EQ(gPrefs.noticeApplyDefaults, 1);
  SiteBrowserApplyDefaults2(w.ref(), true);
  EXPECT_EQ(gPrefs.noticeApplyDefaults, 0);
}

namespace {
struct HslCase {
  uint16_t h, s, l;
  uint16_t r, g, b;
};
// Hue, saturation, lightness and the RGB colour, as tests/oracle/sites_oracle.py
// recomputes them with Python's colorsys.
// oracle:begin hsl
const HslCase kHslCases[] = {
    {0, 65535, 32000, 64000, 0, 0},           {21845, 65535, 32000, 0, 64000, 0},
    {43690, 65535, 32000, 0, 0, 64000},       {10923, 65535, 32000, 63997, 64000, 0},
    {5000, 40000, 20000, 32207, 18969, 7793}, {60000, 30000, 50000, 57111, 42889, 50096},
    {30000, 0, 12345, 12345, 12345, 12345},   {32768, 65535, 65535, 65535, 65535, 65535},
};
// oracle:end hsl
} // namespace

TEST(SiteAppearance, HSLToRGBAgreesWithColorsys) {
  for (const HslCase &k : kHslCases) {
    RGBColor rgb;
    HSL2RGB(HSLColor{k.h, k.s, k.l}, rgb);
    EXPECT_EQ(rgb, (RGBColor{k.r, k.g, k.b})) << k.h << " " << k.s << " " << k.l;
  }
}
