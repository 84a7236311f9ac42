#include "CellTransform.h"
#include "BuildPipeline.h"
#include "CrystalFromSites.h"
#include "FakeHost.h"
#include "LocalizedStrings.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "ViewOrientation.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr float kPositionTolerance = 1e-4f;

class CellTransform : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(InitMainWindowData(&window));
    window.mainData->fileOpen = 1;
    host.windows.push_back(&window);
    host.windowTitle = "test";
    host.graphPane = Rect{0, 0, 200, 200};
  }
  void TearDown() override {
    gDiscardSymmetryConsent = nullptr;
    gRotateSelection = 0;
    DestroyMainWindowData(&window);
    gPrefs = gFactoryPrefs;
  }

  CrystalRec &C() { return *GetWindowCrystal(&window); }

  void Build(const float cell[6], const char *group, const std::vector<SiteIn> &sites) {
    FillCrystalFromSites(C(), cell, group, sites);
    ASSERT_TRUE(RunNewCrystal(&window, true, true, true));
  }

  void BuildNaCl() {
    const float cell[6] = {5.64f, 5.64f, 5.64f, 90, 90, 90};
    Build(cell, "F m -3 m", {{"Na1", "Na", 0, 0, 0}, {"Cl1", "Cl", .5f, .5f, .5f}});
  }

  struct AtomState {
    std::string label;
    float cart[3];
    bool visible;
    bool selected;
  };
  std::vector<AtomState> VisibleAtoms() {
    std::vector<AtomState> out;
    CrystalRec &c = C();
    for (int32_t k = 0; k < c.atomCount; k++) {
      const AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
      if (!atom.visible)
        continue;
      out.push_back({std::string(CStrView(c.sites[atom.site].label)),
                     {atom.cart[0], atom.cart[1], atom.cart[2]},
                     true,
                     atom.selected != 0});
    }
    return out;
  }
  static bool SamePlace(const AtomState &a, const AtomState &b) {
    for (int i = 0; i < 3; i++)
      if (std::fabs(a.cart[i] - b.cart[i]) > kPositionTolerance)
        return false;
    return a.label == b.label;
  }

  FakeHost host;
  OVWindowRecord window;
};

TEST_F(CellTransform, ConsentIsNeededOnlyForCrystalsWithSymmetry) {
  // No structure.
  EXPECT_FALSE(UserAgreesToDiscardSymmetry(&window));
  EXPECT_FALSE(UserAgreesToDiscardSymmetry(nullptr));
  // A molecule.
  C().molecule = 1;
  C().sites = *CreateAsymmetricUnit(1);
  C().siteCount = 1;
  EXPECT_FALSE(UserAgreesToDiscardSymmetry(&window));
  // A crystal in P 1.
  const float cell[6] = {4, 5, 6, 90, 100, 90};
  Build(cell, "P 1", {{"O1", "O", .1f, .2f, .3f}});
  EXPECT_TRUE(UserAgreesToDiscardSymmetry(&window));
  EXPECT_TRUE(host.alerts.empty());
}

TEST_F(CellTransform, CancelKeepsTheSymmetry) {
  BuildNaCl();
  const int32_t atoms = C().atomCount;
  host.log.clear();
  host.alertAnswers.push_back(2);
  EXPECT_FALSE(UserAgreesToDiscardSymmetry(&window));
  ASSERT_EQ(host.alerts.size(), 1u);
  const AlertRequest &alert = host.alerts[0];
  EXPECT_EQ(alert.type, kAlertCautionAlert);
  EXPECT_EQ(alert.message, OVLocalizedString("Request_Discard_Symmetry"));
  EXPECT_EQ(alert.explanation, OVLocalizedString("Request_Discard_Symmetry_2"));
  EXPECT_NE(alert.message, "Request_Discard_Symmetry"); // the table has the text
  EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Continue", "Cancel"}));
  EXPECT_STREQ(C().spaceGroup, "F m -3 m");
  EXPECT_EQ(C().siteCount, 2);
  EXPECT_EQ(C().atomCount, atoms);
  EXPECT_TRUE(host.log.empty()); // no rebuild
}

TEST_F(CellTransform, ContinueTurnsEverySymmetryCopyIntoASiteAndKeepsTheAtoms) {
  BuildNaCl();
  CrystalRec &c = C();
  // Select the central Cl and hide a corner Na.
  int32_t centre = -1, corner = -1;
  for (int32_t k = 0; k < c.atomCount; k++) {
    const AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
    if (!atom.visible)
      continue;
    const float *x = atom.xyz;
    if (std::fabs(x[0] - .5f) < 1e-4f && std::fabs(x[1] - .5f) < 1e-4f && std::fabs(x[2] - .5f) < 1e-4f)
      centre = k;
    if (x[0] > .99f && x[1] > .99f && x[2] > .99f)
      corner = k;
  }
  ASSERT_GE(centre, 0);
  ASSERT_GE(corner, 0);
  c.atoms[static_cast<size_t>(centre)].selected = 1;
  c.atoms[static_cast<size_t>(corner)].visible = 0;
  const auto before = VisibleAtoms();
  ASSERT_EQ(before.size(), 26u);

  host.alertAnswers.push_back(1);
  ASSERT_TRUE(UserAgreesToDiscardSymmetry(&window));
  EXPECT_STREQ(c.spaceGroup, "P 1");
  EXPECT_EQ(c.latticeLetter, 'P');
  EXPECT_EQ(c.cardCount, 0);
  EXPECT_EQ(c.originChoice, 0);
  ASSERT_EQ(c.siteCount, 8);
  EXPECT_EQ(c.atomsPerCell, 8);
  int na = 0;
  for (int32_t s = 0; s < c.siteCount; s++) {
    EXPECT_EQ(c.sites[static_cast<size_t>(s)].atomsPerCell, 1);
    na += std::string(CStrView(c.sites[static_cast<size_t>(s)].label)) == "Na1";
  }
  EXPECT_EQ(na, 4);
  // The same atoms in the same places, the same one selected, the hidden one
  // still hidden.
  const auto after = VisibleAtoms();
  ASSERT_EQ(after.size(), before.size());
  for (const AtomState &a : before) {
    int matches = 0;
    for (const AtomState &b : after)
      if (SamePlace(a, b)) {
        matches++;
        EXPECT_EQ(a.selected, b.selected) << a.label;
      }
    EXPECT_EQ(matches, 1) << a.label << " " << a.cart[0] << " " << a.cart[1] << " " << a.cart[2];
  }
  EXPECT_TRUE(host.closedWindows.empty());
  // Now P 1: no further question.
  EXPECT_TRUE(UserAgreesToDiscardSymmetry(&window));
  EXPECT_EQ(host.alerts.size(), 1u);
}

TEST_F(CellTransform, DiscardingLeavesAP1CrystalAlone) {
  const float cell[6] = {4, 5, 6, 90, 100, 90};
  Build(cell, "P 1", {{"O1", "O", .1f, .2f, .3f}, {"O2", "O", .4f, .2f, .3f}});
  host.log.clear();
  EXPECT_TRUE(DiscardSymmetry(&window));
  EXPECT_EQ(C().siteCount, 2);
  EXPECT_TRUE(host.log.empty());
  // So is a P crystal with a single card of its own.
  Build(cell, "P 2", {{"O1", "O", .1f, .2f, .3f}});
  C().cardCount = 1;
  std::strcpy(C().symCards[0].data(), "   +x       +y       +z  ");
  host.log.clear();
  EXPECT_TRUE(DiscardSymmetry(&window));
  EXPECT_STREQ(C().spaceGroup, "P 2");
  EXPECT_TRUE(host.log.empty());
}

TEST_F(CellTransform, CardsThatDisagreeWithAP1SymbolAreStillDiscarded) {
  // A file gave two operators of its own but no symbol.
  const float cell[6] = {4, 5, 6, 90, 90, 90};
  Build(cell, "P 1", {{"O1", "O", .1f, .2f, .3f}});
  C().cardCount = 2;
  std::strcpy(C().symCards[0].data(), "   +x       +y       +z  ");
  std::strcpy(C().symCards[1].data(), "   -x       -y       -z  ");
  ASSERT_TRUE(RunNewCrystal(&window, false, true, false));
  ASSERT_EQ(C().sites[0].atomsPerCell, 2);
  host.alertAnswers.push_back(1);
  ASSERT_TRUE(UserAgreesToDiscardSymmetry(&window));
  EXPECT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(C().cardCount, 0);
  ASSERT_EQ(C().siteCount, 2);
  EXPECT_NEAR(C().sites[1].xyz[0], -0.1f, kPositionTolerance);
  EXPECT_NEAR(C().sites[1].xyz[2], -0.3f, kPositionTolerance);
}

TEST_F(CellTransform, RotatingASelectionAsksThroughTheInstalledConsent) {
  BuildNaCl();
  CrystalRec &c = C();
  int32_t picked = 0;
  for (int32_t k = 0; k < c.atomCount && picked < 2; k++)
    if (c.atoms[static_cast<size_t>(k)].visible && c.atoms[static_cast<size_t>(k)].site == 1u) {
      c.atoms[static_cast<size_t>(k)].selected = 1;
      picked++;
    }
  const float angles[3] = {0, 0, 90};
  // Nothing installed: a crystal with symmetry is never turned in parts.
  EXPECT_FALSE(RotateSelectionXYZ(&c, angles));
  EXPECT_TRUE(host.alerts.empty());

  InstallDiscardSymmetryConsent();
  EXPECT_EQ(gDiscardSymmetryConsent, &UserAgreesToDiscardSymmetry);
  host.alertAnswers.push_back(2);
  EXPECT_FALSE(RotateSelectionXYZ(&c, angles));
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, OVLocalizedString("Request_Discard_Symmetry"));
  EXPECT_STREQ(c.spaceGroup, "F m -3 m");

  host.alertAnswers.push_back(1);
  RotateSelectionXYZ(&c, angles);
  ASSERT_GE(host.alerts.size(), 2u);
  EXPECT_EQ(host.alerts[1].message, OVLocalizedString("Request_Discard_Symmetry"));
  EXPECT_STREQ(c.spaceGroup, "P 1");
  EXPECT_EQ(CountNumSelectedAtoms(&c), 2);
}

} // namespace
