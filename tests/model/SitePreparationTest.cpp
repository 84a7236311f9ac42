#include "SitePreparation.h"
#include "ColourHelpers.h"
#include "FakeHost.h"
#include "Preferences.h"
#include "StructureArrays.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

ElementCode El(const char *symbol) { return TwoCharsToShort(symbol); }

struct SiteSpec {
  const char *label;
  const char *element;
  float x, y, z;
  float occupancy = 1.0f;
};

void MakeSites(CrystalRec &c, const std::vector<SiteSpec> &specs) {
  InitBlankCrystalRec(&c);
  const int32_t n = static_cast<int32_t>(specs.size());
  c.sites = *CreateAsymmetricUnit(n);
  c.siteCount = n;
  for (int32_t s = 0; s < n; s++) {
    const SiteSpec &in = specs[static_cast<size_t>(s)];
    AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    std::snprintf(site.label, sizeof site.label, "%s", in.label);
    site.elements[0] = El(in.element);
    site.occupancies[0] = in.occupancy;
    site.xyz[0] = in.x;
    site.xyz[1] = in.y;
    site.xyz[2] = in.z;
  }
}

std::string Label(const AsymmetricUnitRecord &site) { return std::string(CStrView(site.label)); }

class SitePreparation : public ::testing::Test {
protected:
  void TearDown() override { gPrefs = gFactoryPrefs; }
  FakeHost host;
};

// ---- Atom types --------------------------------------------------------------------

TEST_F(SitePreparation, AtomTypesOnePerElementAndStyleWithTableProperties) {
  // Row 150 lies beyond the factory rows: the whole table is searched.
  gPrefs.elementData[150] = ElementData{El("Xq"), RGBColor{1, 2, 3}, 2.5f};
  const ElementData *oxygen = nullptr;
  for (const ElementData &row : gPrefs.elementData)
    if (row.element == El("O") && !oxygen)
      oxygen = &row;
  ASSERT_NE(oxygen, nullptr);

  CrystalRec c;
  MakeSites(c, {{"O1", "O", 0, 0, 0},
                {"Na1", "Na", .5f, 0, 0},
                {"O2", "O", 0, .5f, 0},
                {"O3", "O", 0, 0, .5f},
                {"X1", "Zz", .1f, .1f, .1f},
                {"Q1", "Xq", .2f, .2f, .2f}});
  c.sites[3].atomStyle = 3; // another style: a type of its own
  AppendBlankSphere(&c);    // old types go
  ASSERT_NE(GenerateSpheres(&c), nullptr);
  ASSERT_EQ(c.sphereCount, 5);
  EXPECT_EQ(c.sites[0].atomType, 0u);
  EXPECT_EQ(c.sites[1].atomType, 1u);
  EXPECT_EQ(c.sites[2].atomType, 0u);
  EXPECT_EQ(c.sites[3].atomType, 2u);
  EXPECT_EQ(c.sites[4].atomType, 3u);
  EXPECT_EQ(c.sites[5].atomType, 4u);
  for (const SphereRecord &t : c.spheres)
    EXPECT_EQ(t.style, kSphereDefaultStyle);
  EXPECT_EQ(c.spheres[0].element, El("O"));
  EXPECT_EQ(c.spheres[0].radius, oxygen->radius);
  EXPECT_EQ(c.spheres[0].colour, oxygen->colour);
  EXPECT_EQ(c.spheres[3].radius, 1.0f); // unknown element
  EXPECT_EQ(c.spheres[3].colour, (RGBColor{13107, 13107, 13107}));
  EXPECT_EQ(c.spheres[4].radius, 2.5f);
  EXPECT_EQ(c.spheres[4].colour, (RGBColor{1, 2, 3}));

  CrystalRec empty;
  InitBlankCrystalRec(&empty);
  AppendBlankSphere(&empty);
  EXPECT_EQ(GenerateSpheres(&empty), nullptr);
  EXPECT_EQ(empty.sphereCount, 0);
}

// ---- Occupancies ----------------------------------------------------------------------

TEST_F(SitePreparation, OccupanciesSortLargestFirstAndWarnWhenMixedSitesExceedOne) {
  CrystalRec c;
  MakeSites(c, {{"Mix1", "O", 0, 0, 0, .3f},
                {"Big", "O", 0, 0, 0, 1.2f},
                {"Over", "Fe", 0, 0, 0, .6f},
                {"Tie", "Al", 0, 0, 0, .5f},
                {"Gap", "Ca", 0, 0, 0, .2f}});
  c.sites[0].elements[1] = El("N");
  c.sites[0].occupancies[1] = 0.7f;
  c.sites[2].elements[1] = El("Mg");
  c.sites[2].occupancies[1] = 0.6f;
  c.sites[3].elements[1] = El("Si");
  c.sites[3].occupancies[1] = 0.5f;
  // Pairs stop at the first empty one: the third is not sorted in.
  c.sites[4].elements[1] = El("Sr");
  c.sites[4].occupancies[1] = 0.0f;
  c.sites[4].elements[2] = El("Ba");
  c.sites[4].occupancies[2] = 0.7f;
  SortSiteOccupancies(&c);
  EXPECT_EQ(c.sites[0].elements[0], El("N"));
  EXPECT_FLOAT_EQ(c.sites[0].occupancies[0], 0.7f);
  EXPECT_EQ(c.sites[0].elements[1], El("O"));
  EXPECT_FLOAT_EQ(c.sites[0].occupancies[1], 0.3f);
  EXPECT_EQ(c.sites[3].elements[0], El("Al")); // equal occupancies keep their order
  EXPECT_EQ(c.sites[4].elements[0], El("Ca"));
  EXPECT_EQ(c.sites[4].elements[2], El("Ba"));
  // Only the two-element site over one is reported; a lone 1.2 is not.
  const auto lines = host.LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "Warning: sum of occupancies for site no. 2 ('Over') is greater than one!");
  ASSERT_EQ(host.colouredRuns.size(), 1u);
  EXPECT_EQ(host.colouredRuns[0].colour, kRGBRed);
}

TEST_F(SitePreparation, OccupanciesThatAddUpToOneExactlyAreNotReported) {
  CrystalRec c;
  MakeSites(c, {{"T", "Al", 0, 0, 0, .1f}});
  c.sites[0].elements[1] = El("Si");
  c.sites[0].occupancies[1] = 0.2f;
  c.sites[0].elements[2] = El("Ge");
  c.sites[0].occupancies[2] = 0.7f;
  SortSiteOccupancies(&c);
  EXPECT_TRUE(host.log.empty());
  EXPECT_EQ(c.sites[0].elements[0], El("Ge"));
  EXPECT_EQ(c.sites[0].elements[2], El("Al"));
}

// ---- Colours ----------------------------------------------------------------------------

TEST_F(SitePreparation, HslPrimariesAndGreys) {
  RGBColor rgb;
  // Lightness 32000 at full saturation peaks at twice the lightness.
  HSL2RGB(HSLColor{0, 65535, 32000}, rgb);
  EXPECT_EQ(rgb, (RGBColor{64000, 0, 0}));
  HSL2RGB(HSLColor{21845, 65535, 32000}, rgb);
  EXPECT_EQ(rgb, (RGBColor{0, 64000, 0}));
  HSL2RGB(HSLColor{43690, 65535, 32000}, rgb);
  EXPECT_EQ(rgb, (RGBColor{0, 0, 64000}));
  HSL2RGB(HSLColor{0, 65535, 49151}, rgb); // above half lightness: a pale red
  EXPECT_EQ(rgb, (RGBColor{65535, 32767, 32767}));
  HSL2RGB(HSLColor{12345, 0, 40000}, rgb);
  EXPECT_EQ(rgb, (RGBColor{40000, 40000, 40000}));
  HSL2RGB(HSLColor{30000, 65535, 65535}, rgb);
  EXPECT_EQ(rgb, kRGBWhite);
  HSL2RGB(HSLColor{30000, 65535, 0}, rgb);
  EXPECT_EQ(rgb, kRGBBlack);
}

TEST_F(SitePreparation, SiteColoursGiveEachSiteItsOwnTypeWithoutStaleImages) {
  CrystalRec c;
  MakeSites(c, {{"O1", "O", 0, 0, 0}, {"O2", "O", .5f, 0, 0}, {"Si1", "Si", 0, .5f, 0}});
  ASSERT_NE(GenerateSpheres(&c), nullptr);
  ASSERT_EQ(c.sphereCount, 2);
  c.spheres[0].radius = 1.35f;
  auto image = std::make_shared<int>(7);
  c.spheres[0].image1 = image;
  c.spheres[0].mask1 = image;
  c.spheres[1].image2 = image;
  c.atoms = *CreateAtomsArray(4, 1, 1, 1);
  c.atomCount = 4;
  const uint32_t atomSites[4] = {0, 1, 2, 1};
  for (int k = 0; k < 4; k++) {
    c.atoms[static_cast<size_t>(k)].site = atomSites[k];
    c.atoms[static_cast<size_t>(k)].atomType = 0;
  }
  ASSERT_TRUE(AutoGenerateSiteColors(&c));
  ASSERT_EQ(c.sphereCount, 3);
  ASSERT_EQ(c.spheres.size(), 3u);
  EXPECT_EQ(image.use_count(), 1); // nobody holds the old images any more
  for (int s = 0; s < 3; s++) {
    const SphereRecord &t = c.spheres[static_cast<size_t>(s)];
    EXPECT_EQ(c.sites[static_cast<size_t>(s)].atomType, static_cast<uint32_t>(s));
    EXPECT_FALSE(t.image1 || t.mask1 || t.image2 || t.mask2);
    RGBColor expected;
    HSL2RGB(HSLColor{static_cast<uint16_t>(s * 65535 / 3), 65535, 32000}, expected);
    EXPECT_EQ(t.colour, expected) << s;
  }
  EXPECT_EQ(c.spheres[1].radius, 1.35f); // a copy of the site's old type
  EXPECT_EQ(c.spheres[2].element, El("Si"));
  for (int k = 0; k < 4; k++)
    EXPECT_EQ(c.atoms[static_cast<size_t>(k)].atomType, atomSites[k]);
  EXPECT_NE(c.spheres[0].colour, c.spheres[1].colour);

  CrystalRec one;
  MakeSites(one, {{"O1", "O", 0, 0, 0}});
  EXPECT_FALSE(AutoGenerateSiteColors(&one));
}

TEST_F(SitePreparation, GreyscaleTouchesEveryStructureColour) {
  CrystalRec c;
  MakeSites(c, {{"O1", "O", 0, 0, 0}});
  EXPECT_FALSE(ConvertCrystalColorsToGreyscale(&c));
  ASSERT_NE(GenerateSpheres(&c), nullptr);
  c.bondSpecCount = 2;
  c.bondSpecs[0].colour1 = RGBColor{65535, 0, 0};
  c.bondSpecs[1].colour2 = RGBColor{0, 0, 65535};
  c.bondSpecs[2].colour1 = RGBColor{0, 65535, 0}; // beyond the count: untouched
  const RGBColor typeColour = c.spheres[0].colour;
  ASSERT_TRUE(ConvertCrystalColorsToGreyscale(&c));
  auto grey = [](RGBColor colour) {
    RGBColor2Greyscale(colour);
    return colour;
  };
  EXPECT_EQ(c.spheres[0].colour, grey(typeColour));
  EXPECT_EQ(c.axisColors[0], grey(RGBColor{65535, 0, 0}));
  EXPECT_EQ(c.unitCellColor, grey(RGBColor{0, 0, 65535}));
  EXPECT_EQ(c.cloudSphereColor, grey(RGBColor{65535, 65535, 0}));
  EXPECT_EQ(c.bondSpecs[0].colour1, grey(RGBColor{65535, 0, 0}));
  EXPECT_EQ(c.bondSpecs[1].colour2, grey(RGBColor{0, 0, 65535}));
  EXPECT_EQ(c.bondSpecs[2].colour1, (RGBColor{0, 65535, 0}));
}

// ---- Labels -------------------------------------------------------------------------------

TEST_F(SitePreparation, AutomaticLabelsNumberEachElementRun) {
  std::vector<SiteSpec> specs;
  for (int k = 0; k < 12; k++)
    specs.push_back({"x", "O", 0, 0, 0});
  specs.push_back({"x", "Si", 0, 0, 0});
  specs.push_back({"x", "Si", 0, 0, 0});
  CrystalRec c;
  MakeSites(c, specs);
  ASSERT_TRUE(AutoGenerateSiteLabels(&c));
  EXPECT_EQ(Label(c.sites[0]), "O1");
  EXPECT_EQ(Label(c.sites[9]), "O10");
  EXPECT_EQ(Label(c.sites[11]), "O12");
  EXPECT_EQ(Label(c.sites[12]), "Si1");
  EXPECT_EQ(Label(c.sites[13]), "Si2");
  CrystalRec none;
  InitBlankCrystalRec(&none);
  EXPECT_FALSE(AutoGenerateSiteLabels(&none));
}

TEST_F(SitePreparation, AutomaticLabelsSwitchToHexadecimalAndThenToTheFirstLetter) {
  CrystalRec c;
  MakeSites(c, std::vector<SiteSpec>(10500, SiteSpec{"x", "Si", 0, 0, 0}));
  ASSERT_TRUE(AutoGenerateSiteLabels(&c));
  EXPECT_EQ(Label(c.sites[0]), "Si1");
  EXPECT_EQ(Label(c.sites[9]), "Sia");
  EXPECT_EQ(Label(c.sites[10499]), "Si2904"); // 10500 = 0x2904

  CrystalRec d; // 99,990 two-letter sites: first letter and decimal
  MakeSites(d, std::vector<SiteSpec>(99990, SiteSpec{"x", "Si", 0, 0, 0}));
  ASSERT_TRUE(AutoGenerateSiteLabels(&d));
  EXPECT_EQ(Label(d.sites[99989]), "S99990");
  d.sites.push_back(d.sites.back()); // one more: first letter and hexadecimal
  d.siteCount++;
  ASSERT_TRUE(AutoGenerateSiteLabels(&d));
  EXPECT_EQ(Label(d.sites[0]), "S1");
  EXPECT_EQ(Label(d.sites[99990]), "S18697"); // 99991 = 0x18697

  CrystalRec o; // 100,000 one-letter sites: symbol and hexadecimal
  MakeSites(o, std::vector<SiteSpec>(100000, SiteSpec{"x", "O", 0, 0, 0}));
  ASSERT_TRUE(AutoGenerateSiteLabels(&o));
  EXPECT_EQ(Label(o.sites[99999]), "O186a0");
}

// ---- Sorting --------------------------------------------------------------------------------

TEST_F(SitePreparation, SitesSortByElementThenByLabelNumber) {
  CrystalRec c;
  MakeSites(c, {{"O10", "O", .1f, 0, 0},
                {"Si1", "Si", .2f, 0, 0},
                {"O2", "O", .3f, 0, 0},
                {"Ca1", "Ca", .4f, 0, 0},
                {"O2", "O", .5f, 0, 0},
                {"C1", "C", .6f, 0, 0}});
  EXPECT_LT(CompareAUByElementAndLabel(c.sites[2], c.sites[0]), 0); // O2 before O10
  EXPECT_GT(CompareAUByElementAndLabel(c.sites[0], c.sites[2]), 0);
  c.atoms = *CreateAtomsArray(2, 1, 1, 1);
  c.atomCount = 2;
  c.atoms[1].site = 5;
  ASSERT_TRUE(SortAUByElement(&c));
  std::vector<std::string> labels;
  for (const auto &site : c.sites)
    labels.push_back(Label(site));
  EXPECT_EQ(labels, (std::vector<std::string>{"C1", "Ca1", "O2", "O2", "O10", "Si1"}));
  EXPECT_FLOAT_EQ(c.sites[2].xyz[0], 0.3f); // equal keys keep their order
  EXPECT_FLOAT_EQ(c.sites[3].xyz[0], 0.5f);
  EXPECT_EQ(c.atoms[1].site, 5u); // atoms wait for the rebuild
}

TEST_F(SitePreparation, MoleculeSortRenumbersEveryReferenceToAnAtom) {
  CrystalRec c;
  MakeSites(c, {{"O1", "O", 0, 0, 0}, {"C1", "C", 0, 0, 0}, {"H1", "H", 0, 0, 0}, {"C2", "C", 0, 0, 0}});
  c.molecule = 1;
  c.atoms = *CreateAtomsArray(4, 1, 1, 1);
  c.atomCount = 4;
  for (uint32_t k = 0; k < 4; k++) {
    c.atoms[k].site = k;
    c.atoms[k].cart[0] = static_cast<float>(k);
    c.sites[k].firstAtom = c.sites[k].lastAtom = static_cast<int32_t>(k);
  }
  ASSERT_TRUE(AddBondListEntry(&c, 0, 1)); // O1-C1
  ASSERT_TRUE(AddBondListEntry(&c, 1, 2)); // C1-H1
  ASSERT_TRUE(AddBondListEntry(&c, 1, 3)); // C1-C2
  {
    Polyhedron p = *CreatePolyhedron(1);
    p.centreAtom = 1;
    p.faces[0].vertexCount = 3;
    p.faces[0].vertices = {0, 2, 3};
    c.atoms[1].polyhedron.Hold(std::move(p));
  }
  AppendBlankVector(&c);
  AppendBlankVector(&c);
  c.vectors[0].atom = 2;
  c.vectors[1].atom = 0;
  AppendBlankCustomBondSpec(&c);
  c.customBondSpecs[0].atomA = 0;
  c.customBondSpecs[0].atomB = 1;
  c.atoms[2].selected = 1;

  ASSERT_TRUE(SortMoleculeByElement(&c));
  // Order C1, C2, H1, O1: old 1, 3, 2, 0 -> new 0, 1, 2, 3; old 0 -> 3.
  std::vector<std::string> labels;
  for (const auto &site : c.sites)
    labels.push_back(Label(site));
  EXPECT_EQ(labels, (std::vector<std::string>{"C1", "C2", "H1", "O1"}));
  for (uint32_t k = 0; k < 4; k++) {
    EXPECT_EQ(c.atoms[k].site, k);
    EXPECT_EQ(c.sites[k].firstAtom, static_cast<int32_t>(k));
    EXPECT_EQ(c.sites[k].lastAtom, static_cast<int32_t>(k));
  }
  EXPECT_EQ(c.atoms[0].cart[0], 1.0f);
  EXPECT_EQ(c.atoms[3].cart[0], 0.0f);
  EXPECT_EQ(c.atoms[0].bonds, (std::vector<uint32_t>{3, 2, 1})); // C1: O1, H1, C2
  EXPECT_EQ(c.atoms[3].bonds, (std::vector<uint32_t>{0}));
  EXPECT_EQ(c.atoms[2].bonds, (std::vector<uint32_t>{0}));
  ASSERT_TRUE(AtomPolyhedron(&c, c.atoms[0]));
  EXPECT_EQ(AtomPolyhedron(&c, c.atoms[0])->centreAtom, 0u);
  EXPECT_EQ(AtomPolyhedron(&c, c.atoms[0])->faces[0].vertices, (std::vector<uint32_t>{3, 2, 1}));
  EXPECT_EQ(c.vectors[0].atom, 2u);
  EXPECT_EQ(c.vectors[1].atom, 3u);
  EXPECT_TRUE(c.atoms[2].selected);
  EXPECT_EQ(c.customBondSpecs[0].atomA, 3u);
  EXPECT_EQ(c.customBondSpecs[0].atomB, 0u);
  EXPECT_TRUE(host.alerts.empty());

  c.molecule = 0;
  EXPECT_FALSE(SortMoleculeByElement(&c));
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].type, kAlertStopAlert);
  EXPECT_EQ(host.alerts[0].message, "cannot sort atoms for a crystal!");
}

} // namespace
