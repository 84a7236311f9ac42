// The site browser's logic: tri-states, edits of show, label, radius and
// colour, coordination phrases, the expansion list and the sort order.

#include "StructureWindowFixture.h"

#include "SiteBrowserData.h"

#include <gtest/gtest.h>

using namespace viewtest;

namespace {

// Three oxygen sites and one titanium site in a P 1 cell; one atom each.
bool BuildOxide(CrystalRec &c) {
  const float cell[6] = {5.0f, 5.0f, 5.0f, 90.0f, 90.0f, 90.0f};
  return BuildFirstCell(c, "P 1", cell,
                        {{"O10", "O", 0.1f, 0.1f, 0.1f, 1.4f},
                         {"O2", "O", 0.3f, 0.1f, 0.1f, 1.4f},
                         {"O3", "O", 0.5f, 0.1f, 0.1f, 1.4f},
                         {"Ti1", "Ti", 0.7f, 0.7f, 0.7f, 0.6f}});
}

const uint32_t kO = Element("O"), kTi = Element("Ti");

} // namespace

TEST(SiteBrowser, ShowAndLabelTriStates) {
  FakeHost host;
  TestWindow w(host);
  ASSERT_TRUE(BuildOxide(w.crystal()));
  CrystalRec &c = w.crystal();
  EXPECT_EQ(SiteBrowserShowState(&c, kO), kCheckOn);
  ASSERT_EQ(SiteBrowserSetShow(w.ref(), SiteItem(1), 0), 0);
  EXPECT_EQ(SiteBrowserShowState(&c, SiteItem(1)), kCheckOff);
  EXPECT_EQ(SiteBrowserShowState(&c, kO), kCheckMixed);
  EXPECT_EQ(SiteBrowserShowState(&c, kTi), kCheckOn);
  // A click on the mixed element row shows every site of it.
  SiteBrowserSetShow(w.ref(), kO, 1);
  EXPECT_EQ(SiteBrowserShowState(&c, kO), kCheckOn);
  EXPECT_TRUE(c.atoms[static_cast<size_t>(c.sites[1].firstAtom)].visible);

  // Labels: over the visible atoms only.
  SiteBrowserSetLabel(w.ref(), SiteItem(0), 1);
  EXPECT_EQ(SiteBrowserLabelState(&c, SiteItem(0)), kCheckOn);
  EXPECT_EQ(SiteBrowserLabelState(&c, kO), kCheckMixed);
  SiteBrowserSetLabel(w.ref(), kO, 1);
  EXPECT_EQ(SiteBrowserLabelState(&c, kO), kCheckOn);

  // Every titanium atom hidden: the element row reads 0 and setting it
  // changes no flag.
  SiteBrowserSetShow(w.ref(), kTi, 0);
  EXPECT_EQ(SiteBrowserLabelState(&c, kTi), kCheckOff);
  SiteBrowserSetLabel(w.ref(), kTi, 1);
  for (const AtomRecord &a : c.atoms)
    EXPECT_EQ(a.site == 3 ? a.labelled : 0, 0);
  EXPECT_EQ(SiteBrowserLabelState(&c, kTi), kCheckOff);
  EXPECT_FALSE(host.siteBrowserUpdates.empty()); // the edits replot, which refills the browsers
}

TEST(SiteBrowser, RadiusBoundsAndNewAtomTypes) {
  FakeHost host;
  TestWindow w(host);
  ASSERT_TRUE(BuildOxide(w.crystal()));
  CrystalRec &c = w.crystal();
  c.plotScale = 1.0f;         // small pictures of the 100 A spheres
  RemoveDuplicateSpheres(&c); // the three O types are one now
  ASSERT_EQ(c.sphereCount, 2);
  for (const char *refused : {"0.001", "150", "0.01"}) {
    host.alerts.clear();
    SiteBrowserSetRadius(w.ref(), SiteItem(1), refused);
    ASSERT_EQ(host.alerts.size(), 1u) << refused;
    EXPECT_EQ(host.alerts[0].message, "Atomic radius is out of bounds");
    EXPECT_EQ(host.alerts[0].explanation, "");
  }
  EXPECT_EQ(c.sphereCount, 2);
  host.alerts.clear();
  SiteBrowserSetRadius(w.ref(), SiteItem(1), "no number");
  SiteBrowserSetRadius(w.ref(), SiteItem(1), " 1.4");
  EXPECT_EQ(c.sphereCount, 2); // the current radius makes no type
  EXPECT_TRUE(host.alerts.empty());

  SiteBrowserSetRadius(w.ref(), SiteItem(1), "0.011");
  ASSERT_EQ(c.sphereCount, 3);
  const int32_t t1 = SiteBrowserRowAtomType(&c, SiteItem(1));
  EXPECT_FLOAT_EQ(c.spheres[static_cast<size_t>(t1)].radius, 0.011f);
  EXPECT_EQ(c.atoms[static_cast<size_t>(c.sites[1].firstAtom)].atomType, static_cast<uint32_t>(t1));
  // Shown as it reads back: Return on the unchanged cell keeps it.
  EXPECT_EQ(SiteBrowserRadiusText(&c, SiteItem(1)), "0.011");
  // A second site given the same radius takes the same type.
  SiteBrowserSetRadius(w.ref(), SiteItem(2), "0.011");
  EXPECT_EQ(c.sphereCount, 3);
  EXPECT_EQ(SiteBrowserRowAtomType(&c, SiteItem(2)), t1);
  // 100 is taken; the type of 0.011 is no longer used and goes.
  SiteBrowserSetRadius(w.ref(), SiteItem(1), "100");
  SiteBrowserSetRadius(w.ref(), SiteItem(2), "100");
  EXPECT_EQ(c.sphereCount, 3);
  EXPECT_EQ(SiteBrowserRadiusText(&c, SiteItem(2)), "100.00");
  // An element row sets every type of the element.
  SiteBrowserSetRadius(w.ref(), kO, "1.5");
  EXPECT_EQ(c.sphereCount, 2);
  EXPECT_EQ(SiteBrowserRadiusText(&c, kO), " 1.50");
  EXPECT_TRUE(host.alerts.empty());
}

TEST(SiteBrowser, ColourEditsAndThePicker) {
  FakeHost host;
  TestWindow w(host);
  ASSERT_TRUE(BuildOxide(w.crystal()));
  CrystalRec &c = w.crystal();
  RemoveDuplicateSpheres(&c);
  const RGBColor red{65535, 0, 0};
  host.pickedColors.push_back(red);
  SiteBrowserChooseColour(w.ref(), SiteItem(0));
  EXPECT_EQ(c.sphereCount, 3);
  EXPECT_EQ(SiteBrowserSiteText(&c, kO), "O *");
  EXPECT_EQ(SiteBrowserSiteText(&c, SiteItem(0)), "O10");
  RGBColor now;
  ASSERT_TRUE(SiteBrowserRowColour(&c, SiteItem(0), &now));
  EXPECT_EQ(now, red);
  // The element row recolours every O type; the duplicates merge.
  SiteBrowserSetColour(w.ref(), kO, red);
  EXPECT_EQ(c.sphereCount, 2);
  EXPECT_EQ(SiteBrowserSiteText(&c, kO), "O");
  // A cancelled picker changes nothing.
  SiteBrowserChooseColour(w.ref(), kTi);
  EXPECT_EQ(c.sphereCount, 2);
  // No structure: nothing is served.
  SetWindowFileOpen(w.ref(), false);
  EXPECT_EQ(SiteBrowserSetShow(w.ref(), kO, 0), kDataBrowserPropertyNotSupported);
  SetWindowFileOpen(w.ref(), true);
}

TEST(SiteBrowser, EnvironmentPhrases) {
  FakeHost host;
  TestWindow w(host);
  ASSERT_TRUE(BuildOxide(w.crystal()));
  CrystalRec &c = w.crystal();
  auto phrase = [&](int32_t site) { return SiteBrowserCoordinationText(&c, SiteItem(site)); };
  const struct {
    int32_t cn;
    int index;
  } plain[] = {{0, 0}, {1, 2}, {2, 1}, {-1, 23}, {5, 23}};
  for (auto [cn, index] : plain) {
    c.sites[0].coordination = static_cast<uint32_t>(cn);
    EXPECT_EQ(GetAtomEnvironmentStringIndex(&c, 0), index) << cn;
  }
  // Five neighbours claimed, none to be found: no word.
  EXPECT_EQ(phrase(0), "[5]");
  EXPECT_FALSE(GetCoordinationDescriptionForSite(nullptr, 0));
  EXPECT_EQ(SiteBrowserCoordinationText(&c, kO), "");
}

TEST(SiteBrowser, ExpansionListAndRows) {
  FakeHost host;
  TestWindow w(host);
  ASSERT_TRUE(BuildOxide(w.crystal()));
  CrystalRec &c = w.crystal();
  InfoDataList *list = VerifyInfoDataList(w.ref());
  ASSERT_EQ(list->count, 2);
  EXPECT_EQ(list->entries[0].element, kO);
  SetInfoBrowserContainerOpen(w.ref(), static_cast<ElementCode>(kTi), false);
  EXPECT_EQ(VerifyInfoDataList(w.ref()), list); // refills keep it
  EXPECT_FALSE(InfoBrowserContainerOpen(w.ref(), static_cast<ElementCode>(kTi)));
  // A new element reopens every row.
  ASSERT_TRUE(AppendBlankSphere(&c));
  c.spheres.back().element = static_cast<ElementCode>(Element("Na"));
  list = VerifyInfoDataList(w.ref());
  EXPECT_EQ(list->count, 3);
  EXPECT_TRUE(InfoBrowserContainerOpen(w.ref(), static_cast<ElementCode>(kTi)));
  SiteBrowserExpandList(w.ref(), false);
  EXPECT_FALSE(InfoBrowserContainerOpen(w.ref(), static_cast<ElementCode>(kO)));

  std::vector<SiteBrowserRow> rows;
  gInfoWindowShowElements = 1;
  ASSERT_TRUE(BuildSiteBrowserRows(w.ref(), &rows));
  ASSERT_EQ(rows.size(), 3u); // O, Ti and the site-less Na
  EXPECT_EQ(rows[0].children, (std::vector<uint32_t>{SiteItem(0), SiteItem(1), SiteItem(2)}));
  EXPECT_TRUE(rows[2].children.empty());
  gInfoWindowShowElements = 0;
  BuildSiteBrowserRows(w.ref(), &rows);
  EXPECT_EQ(rows.size(), 4u);
  gInfoWindowShowElements = 1;
}

TEST(SiteBrowser, SortOrder) {
  FakeHost host;
  TestWindow w(host);
  ASSERT_TRUE(BuildOxide(w.crystal()));
  CrystalRec &c = w.crystal();
  EXPECT_TRUE(SiteBrowserCompare(&c, SiteItem(1), SiteItem(0), kSiteColumn)); // O2 before O10
  EXPECT_TRUE(SiteBrowserCompare(&c, kO, kTi, kSiteColumn));
  c.spheres[3].radius = 0.5f;
  EXPECT_TRUE(SiteBrowserCompare(&c, kTi, kO, kRadiusColumn));
  c.sites[2].coordination = 1;
  EXPECT_TRUE(SiteBrowserCompare(&c, SiteItem(0), SiteItem(2), kCoordinationColumn));
  EXPECT_FALSE(SiteBrowserCompare(&c, SiteItem(0), SiteItem(2), kShowColumn));
  c.spheres[0].colour = RGBColor{0, 0, 65535};
  c.spheres[1].colour = RGBColor{0, 65535, 0};
  EXPECT_TRUE(SiteBrowserCompare(&c, SiteItem(1), SiteItem(0), kColourColumn)); // green hue below blue
  EXPECT_FALSE(SiteBrowserCompare(&c, kO, SiteItem(0), kSiteColumn));
  EXPECT_EQ(host.LogLines(), std::vector<std::string>{"can't compare apples and oranges"});
  EXPECT_EQ(GetRGBColorHue(RGBColor{0, 0, 65535}), 43690);
  // A molecule's site row shows the type of the atom on the site.
  c.atoms[1].atomType = 3;
  EXPECT_EQ(SiteBrowserRowAtomType(&c, SiteItem(1)), 1);
  c.molecule = 1;
  EXPECT_EQ(SiteBrowserRowAtomType(&c, SiteItem(1)), 3);
  c.molecule = 0;
  c.atoms[1].atomType = 1;
  EXPECT_TRUE(CompareColorsByHSL(RGBColor{65535, 0, 0}, RGBColor{65535, 100, 0}));
}
