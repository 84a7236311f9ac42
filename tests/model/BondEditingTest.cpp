#include "BondEditing.h"

#include "AutoBondsTestSupport.h"
#include "FakeHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using namespace autobondtest;

// O, Sr and Ti sites of perovskite, with a specification naming Cl, which
// no site has, between two that do.
bool MakePerovskite(CrystalRec &c, std::map<std::string, float> radii = {{"O", 1.4f}, {"Sr", 0.0f}, {"Ti", 0.6f}}) {
  if (!MakeCrystal(c, {3.905f, 3.905f, 3.905f, 90, 90, 90}, "P m -3 m",
                   {{"O", 0.5f, 0.5f, 0}, {"Sr", 0, 0, 0}, {"Ti", 0.5f, 0.5f, 0.5f}}, radii))
    return false;
  c.bondSpecCount = 3;
  c.bondSpecs[0] = BondSpec{Element("Ti"), Element("O"), 0.0f, 2.0f, 1, {}, {}};
  c.bondSpecs[1] = BondSpec{Element("Cl"), Element("O"), 0.0f, 2.0f, 1, {}, {}};
  c.bondSpecs[2] = BondSpec{Element("Sr"), Element("O"), 2.5f, 3.0f, 2, {1, 2, 3}, {4, 5, 6}};
  return true;
}

// The editor's record filled from perovskite.
class BondEditing : public ::testing::Test {
protected:
  FakeHost host;
  CrystalRec c;
  EditBondingRec r;
  void SetUp() override {
    ASSERT_TRUE(MakePerovskite(c));
    ASSERT_TRUE(FillEditBondingRec(c, r));
  }
};

TEST_F(BondEditing, FillsElementRunsAndDropsSpecsOfAbsentElements) {
  ASSERT_EQ(r.elementCount, 3);
  EXPECT_EQ(r.elements[1].element, Element("Sr"));
  EXPECT_EQ(r.elements[2].firstSite, 2);
  EXPECT_EQ(GetEditBondingMenuIndex(r, Element("Ti")), 3);
  EXPECT_EQ(GetEditBondingMenuIndex(r, Element("Cl")), 0);
  ASSERT_EQ(r.specCount, 2);
  EXPECT_EQ(r.specs[1].elementA, Element("Sr"));
  EXPECT_EQ(r.specs[1].number, 1);
  EXPECT_FALSE(r.specs[0].DiagnosticsKnown());

  // Written back, the Cl specification is gone and the rest keep their order.
  DoEditBonding(nullptr, &c, r);
  ASSERT_EQ(c.bondSpecCount, 2);
  EXPECT_EQ(c.bondSpecs[0].elementA, Element("Ti"));
  EXPECT_EQ(c.bondSpecs[1].elementA, Element("Sr"));
  EXPECT_EQ(c.bondSpecs[1].colour2, (RGBColor{4, 5, 6}));

  CrystalRec empty;
  EXPECT_FALSE(FillEditBondingRec(empty, r));
}

// Sites left in a file's order: an element whose sites do not stand
// together is still one row of the element menus.
TEST(BondEditingOrder, AnElementOfScatteredSitesIsOneRow) {
  FakeHost host;
  CrystalRec c;
  ASSERT_TRUE(MakeCrystal(c, {6, 6, 6, 90, 90, 90}, "P 1",
                          {{"C", 0, 0, 0}, {"O", 0.2f, 0, 0}, {"C", 0.5f, 0.5f, 0.5f}, {"N", 0.7f, 0.5f, 0.5f}},
                          {{"C", 0.7f}, {"O", 0.7f}, {"N", 0.7f}}));
  EditBondingRec r;
  ASSERT_TRUE(FillEditBondingRec(c, r));
  std::vector<ElementCode> rows;
  for (int32_t k = 0; k < r.elementCount; ++k)
    rows.push_back(r.elements[k].element);
  std::vector<ElementCode> sorted = rows;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end());
  EXPECT_EQ(r.elementCount, 3);
}

TEST_F(BondEditing, ElementChoiceResetsLengthsWithSmallRadiiAsOne) {
  EditBondSpecNode &node = r.specs[0]; // Ti-O
  node.min = 1.0f;
  EXPECT_TRUE(SetBondSpecElement(r, node, 0, 1)); // A becomes O
  EXPECT_EQ(node.elementA, Element("O"));
  EXPECT_FLOAT_EQ(node.min, 0.0f);
  EXPECT_FLOAT_EQ(node.max, (1.4f + 1.4f) * 1.15f);
  EXPECT_TRUE(SetBondSpecElement(r, node, 1, 2)); // B becomes Sr, radius 0
  EXPECT_FLOAT_EQ(node.max, (1.4f + 1.0f) * 1.15f);
  EXPECT_FALSE(SetBondSpecElement(r, node, 1, 4));
  EXPECT_FLOAT_EQ(GetMaxBondLength(r, Element("Cl"), Element("Ti")), (1.0f + 0.6f) * 1.15f);

  EXPECT_TRUE(SetBondSpecLengthFromText(node, 1, "2.25"));
  EXPECT_FLOAT_EQ(node.max, 2.25f);
  EXPECT_FALSE(SetBondSpecLengthFromText(node, 0, "abc"));
  EXPECT_FALSE(SetBondSpecLengthFromText(node, 0, "nan"));
  EXPECT_FLOAT_EQ(node.min, 0.0f);

  EXPECT_EQ(FormatBondLength(2.0f), "2   ");
  EXPECT_EQ(FormatBondLength(2.25f), "2.25   ");
  EXPECT_EQ(FormatBondLength(2.125f), "2.125");
  EXPECT_EQ(FormatBondLength(2.12345f), "2.1235");
  EXPECT_EQ(FormatBondLength(12.25f), "12.25");
}

TEST_F(BondEditing, AddRemoveAndTheFullList) {
  ASSERT_TRUE(AddBondSpecNode(r));
  const EditBondSpecNode &added = r.specs.back();
  EXPECT_EQ(added.number, 2);
  EXPECT_EQ(added.elementA, Element("O"));
  EXPECT_EQ(added.elementB, Element("O"));
  EXPECT_FLOAT_EQ(added.max, 2.8f * 1.15f);
  EXPECT_EQ(added.style, c.defaultBondStyle);

  RemoveBondSpecNodes(r, {0, 2, 2, 7});
  ASSERT_EQ(r.specCount, 1);
  EXPECT_EQ(r.specs[0].elementA, Element("Sr"));

  while (r.specCount < kMaxBondSpecs)
    ASSERT_TRUE(AddBondSpecNode(r));
  EXPECT_FALSE(AddBondSpecNode(r));
  EXPECT_EQ(r.specCount, 200);
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Bonds list is full!");
  EXPECT_EQ(host.alerts[0].explanation, "Maximum of 200 bond specifications");
}

TEST_F(BondEditing, DiagnosticsOfBothDirections) {
  BondDiagnostics(&c, r.specs[0]); // Ti-O up to 2 A
  ASSERT_TRUE(r.specs[0].DiagnosticsKnown());
  EXPECT_EQ(r.specs[0].minCountA, 6);
  EXPECT_EQ(r.specs[0].maxCountA, 6);
  EXPECT_EQ(r.specs[0].minCountB, 2);
  EXPECT_EQ(r.specs[0].maxCountB, 2);
  // An element without sites leaves the counts unknown.
  r.specs[0].elementB = Element("Cl");
  BondDiagnostics(&c, r.specs[0]);
  EXPECT_FALSE(r.specs[0].DiagnosticsKnown());
}

} // namespace
