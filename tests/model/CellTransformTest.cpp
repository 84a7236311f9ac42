#include "CellTransform.h"
#include "BuildPipeline.h"
#include "CrystalFromSites.h"
#include "FakeHost.h"
#include "LocalizedStrings.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "VectorMath.h"
#include "ViewOrientation.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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
    EXPECT_EQ(CheckCrystalInvariants(C()), "");
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

namespace {

void ExpectMatrix(const float actual[9], const float expected[9]) {
  for (int i = 0; i < 9; i++)
    EXPECT_NEAR(actual[i], expected[i], 1e-6f) << "entry " << i;
}

TEST(CellTransformLattices, PresetsAndLatticeChanges) {
  float T[9], inverse[9];
  ASSERT_TRUE(GetLatticeTransformationMatrix('F', 'P', T));
  ASSERT_TRUE(Inv3x3Mat(kCellTransformationP2F.m, inverse));
  ExpectMatrix(T, inverse);
  ASSERT_TRUE(GetLatticeTransformationMatrix('P', 'C', T));
  ExpectMatrix(T, kCellTransformationP2C.m);
  // I to F goes through the primitive cell.
  ASSERT_TRUE(GetLatticeTransformationMatrix('I', 'F', T));
  float viaP[9], primitive[9];
  ASSERT_TRUE(GetPrimitiveLatticeTransformationMatrix('I', primitive));
  MatMul33x33(kCellTransformationP2F.m, primitive, viaP);
  ExpectMatrix(T, viaP);
  EXPECT_FALSE(GetLatticeTransformationMatrix('X', 'P', T));
  EXPECT_FALSE(GetLatticeTransformationMatrix('P', 'Q', T));
  EXPECT_EQ(LatticePointsPerCell('R'), 3);
  EXPECT_EQ(LatticePointsPerCell('Z'), 0);
}

TEST(CellTransformLattices, VerificationWantsWholeCellsOrLatticePoints) {
  const float quarter[9] = {0.5f, 0, 0, 0, 0.5f, 0, 0, 0, 1};
  EXPECT_TRUE(VerifyLatticeTransformationMatrix('F', quarter)); // 0.25 x 4 lattice points
  EXPECT_FALSE(VerifyLatticeTransformationMatrix('P', quarter));
  const float point3[9] = {1, 0, 0, 0, 1, 0, 0, 0, 0.3f};
  EXPECT_FALSE(VerifyLatticeTransformationMatrix('F', point3));
  const float mirror[9] = {-1, 0, 0, 0, 1, 0, 0, 0, 1};
  EXPECT_FALSE(VerifyLatticeTransformationMatrix('P', mirror));
  EXPECT_FALSE(VerifyLatticeTransformationMatrix('X', kCellTransformationNone.m));
  EXPECT_TRUE(VerifyLatticeTransformationMatrix('P', kCellTransformationP2F.m)); // det 4
  const float twoAndAHalf[9] = {2.5f, 0, 0, 0, 1, 0, 0, 0, 1};
  EXPECT_FALSE(VerifyLatticeTransformationMatrix('P', twoAndAHalf));
}

TEST(CellTransformLattices, ProjectionPutsTheNewAxesInThePlane) {
  const float a[3] = {1, 0, 0}, b[3] = {0, 2, 0}, c[3] = {-1, 1, 0};
  EXPECT_EQ(CompareLatticePointsByDistance(a, b), -1);
  EXPECT_EQ(CompareLatticePointsByDistance(b, a), 1);
  EXPECT_EQ(CompareLatticePointsByDistance(c, c), 0);

  const int planes[][3] = {{0, 0, 1}, {1, 1, 0}, {1, 1, 1}, {-1, 0, 2}, {-1, -1, -1}, {0, -2, 0}};
  for (const auto &hkl : planes) {
    float T[9];
    ASSERT_TRUE(GetProjectionTransformationMatrix('P', hkl[0], hkl[1], hkl[2], T)) << hkl[0] << hkl[1] << hkl[2];
    for (int row = 0; row < 2; row++)
      EXPECT_EQ(hkl[0] * T[3 * row] + hkl[1] * T[3 * row + 1] + hkl[2] * T[3 * row + 2], 0.0f);
    // The smallest cell the plane allows: one lattice point per cell.
    EXPECT_NEAR(Det3x3Mat(T), 1.0f, 1e-5f) << hkl[0] << hkl[1] << hkl[2];
  }
  float T[9];
  EXPECT_FALSE(GetProjectionTransformationMatrix('P', 0, 0, 0, T));
  EXPECT_FALSE(GetProjectionTransformationMatrix('P', kMaxProjectionIndex + 1, 0, 1, T));
  // A face-centred lattice gives a primitive sub-cell of a quarter volume.
  ASSERT_TRUE(GetProjectionTransformationMatrix('F', 1, 1, 1, T));
  EXPECT_NEAR(Det3x3Mat(T), 0.25f, 1e-5f);
}

TEST(CellTransformLattices, DetectionFindsTheRichestCentring) {
  auto sites = [](std::vector<std::array<float, 3>> positions) {
    std::vector<AsymmetricUnitRecord> out(positions.size());
    for (size_t i = 0; i < positions.size(); i++) {
      std::strcpy(out[i].label, "W1");
      out[i].occupancies[0] = 1.0f;
      for (int m = 0; m < 3; m++)
        out[i].xyz[m] = positions[i][m];
    }
    return out;
  };
  EXPECT_EQ(DetectLatticeType(sites({{0, 0, 0}, {0.5f, 0.5f, 0.5f}})), 'I');
  EXPECT_EQ(DetectLatticeType(sites({{0, 0, 0}, {0.5f, 0.5f, 0}, {0, 0.5f, 0.5f}, {0.5f, 0, 0.5f}})), 'F');
  EXPECT_EQ(DetectLatticeType(sites({{0.1f, 0.2f, 0.3f}, {0.6f, 0.7f, 0.3f}})), 'C');
  EXPECT_EQ(DetectLatticeType(sites({{0.1f, 0.2f, 0.3f}, {0.6f, 0.7f, 0.4f}})), 'P');
  EXPECT_EQ(DetectLatticeType(sites({{0, 0, 0}})), 'P');
  // A site just below the far edge of the cell pairs with one at its origin.
  EXPECT_EQ(DetectLatticeType(sites({{0.9999995f, 0, 0}, {0.5f, 0.5f, 0.5f}})), 'I');
}

TEST(CellTransformLattices, SitesTheImagesDoNotFillAreLeftOut) {
  // det 1.25 promises round(2.5) = 3 sites, but only two images fall into
  // the new cell: no blank third site.
  std::vector<AsymmetricUnitRecord> sites(2);
  sites[0].xyz[2] = 0.3f;
  sites[1].xyz[2] = 0.35f;
  const float T[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1.25f};
  const auto made = TransformCellSites(sites, T, 3);
  ASSERT_EQ(made.size(), 2u);
  EXPECT_NEAR(made[0].xyz[2], 0.24f, 1e-6f);
  EXPECT_NEAR(made[1].xyz[2], 0.28f, 1e-6f);
}

TEST_F(CellTransform, MoveOriginShiftsSitesAndRange) {
  const float cell[6] = {4, 5, 6, 90, 90, 90};
  Build(cell, "P 1", {{"O1", "O", .7f, .2f, .3f}, {"O2", "O", .5f, .4f, .3f}});
  MoveOrigin(&window, 0.5f, 0, 0);
  EXPECT_NEAR(C().sites[0].xyz[0], 0.2f, 1e-6f);
  EXPECT_EQ(C().sites[1].xyz[0], 0.0f);
  EXPECT_EQ(C().originShift[0], 0.5f);
  // The range moved back by half a cell, then by whole cells into the first.
  EXPECT_FLOAT_EQ(C().plotRange[0], 0.5f);
  EXPECT_FLOAT_EQ(C().plotRange[1], 1.5f);
  EXPECT_TRUE(IsWindowUndoStatePending(&window));
}

TEST_F(CellTransform, SupercellMultipliesSitesAndAxesWithoutTurningThePicture) {
  const float cell[6] = {4, 5, 6, 90, 100, 90};
  Build(cell, "P 1", {{"O1", "O", .1f, .2f, .3f}, {"O2", "O", .4f, .2f, .3f}, {"Si1", "Si", .6f, .6f, .6f}});
  float before[9];
  Copy3x3Mat(before, C().orientationMatrix);
  EXPECT_FALSE(DefineSupercell(&window, 0, 2, 2));
  EXPECT_FALSE(DefineSupercell(&window, -1, -1, 6));
  EXPECT_EQ(C().siteCount, 3);
  ASSERT_TRUE(DefineSupercell(&window, 2, 2, 2));
  EXPECT_EQ(C().siteCount, 24);
  EXPECT_EQ(C().atomsPerCell, 24);
  EXPECT_FLOAT_EQ(C().a, 8);
  EXPECT_FLOAT_EQ(C().c, 12);
  EXPECT_FLOAT_EQ(C().beta, 100);
  for (int r = 0; r < 3; r++)
    for (int m = 0; m < 3; m++)
      EXPECT_NEAR(C().orientationMatrix[3 * r + m], 2 * before[3 * r + m], 1e-4f);
  // Sites in old-cell order, k innermost: the second copy of O1 is one c up.
  EXPECT_NEAR(C().sites[1].xyz[2], 0.65f, 1e-6f);
  EXPECT_TRUE(IsWindowUndoStatePending(&window));
}

TEST_F(CellTransform, IdentityReproducesTheCellAndFindsTheBodyCentring) {
  const float cell[6] = {3.16f, 3.16f, 3.16f, 90, 90, 90};
  Build(cell, "I m -3 m", {{"W1", "W", 0, 0, 0}});
  host.log.clear();
  ASSERT_TRUE(TransformCell(&window, kCellTransformationNone.m));
  const auto lines = host.LogLines();
  ASSERT_GE(lines.size(), 10u);
  EXPECT_EQ(lines[0], "Applying matrix transformation to unit cell (basis) vectors:");
  EXPECT_EQ(lines[1], "     [ x']     [  1.0000   0.0000   0.0000 ] [ x ]");
  EXPECT_EQ(lines[2], "     [ y']  =  [  0.0000   1.0000   0.0000 ] [ y ]");
  EXPECT_EQ(lines[4], "New unit cell volume is 1.00 times the old cell (2 atoms in new cell)");
  EXPECT_EQ(lines[5], "");
  EXPECT_EQ(lines[6], "The inverse transformation matrix (to restore original cell) is:");
  EXPECT_EQ(lines[9], "     [ z ]     [  0.0000   0.0000   1.0000 ] [ z']");
  EXPECT_NE(host.log.find("Detected lattice type: I"), std::string::npos);
  EXPECT_STREQ(C().spaceGroup, "I 1");
  EXPECT_FLOAT_EQ(C().a, 3.16f);
  EXPECT_TRUE(IsWindowUndoStatePending(&window));
}

TEST_F(CellTransform, FaceCentredToPrimitiveKeepsEveryAtomInPlace) {
  BuildNaCl();
  float T[9];
  ASSERT_TRUE(GetLatticeTransformationMatrix('F', 'P', T));
  ASSERT_TRUE(TransformCell(&window, T));
  CrystalRec &c = C();
  EXPECT_STREQ(c.spaceGroup, "P 1");
  ASSERT_EQ(c.siteCount, 2);
  EXPECT_NEAR(c.a, 5.64f / std::sqrt(2.0f), 1e-4f);
  EXPECT_NEAR(c.alpha, 60.0f, 1e-3f);
  // The nearest Na-Cl distance is still half the old cube edge.
  const float *na = c.sites[0].xyz, *cl = c.sites[1].xyz;
  float G[9];
  GetMetricTensor(c.a, c.b, c.c, c.alpha, c.beta, c.gamma, G);
  float nearest = 1e9f;
  for (int i = -1; i <= 1; i++)
    for (int j = -1; j <= 1; j++)
      for (int k = -1; k <= 1; k++) {
        float d[3] = {cl[0] - na[0] + i, cl[1] - na[1] + j, cl[2] - na[2] + k}, Gd[3];
        MatMul(G, d, Gd);
        nearest = std::min(nearest, std::sqrt(DotProduct(d, Gd)));
      }
  EXPECT_NEAR(nearest, 2.82f, 1e-3f);
}

TEST_F(CellTransform, ProjectionLogsThePlaneOrTheFailure) {
  const float cell[6] = {4, 5, 6, 90, 90, 90};
  Build(cell, "P 1", {{"O1", "O", .1f, .2f, .3f}});
  host.log.clear();
  EXPECT_FALSE(ProjectCell(&window, 0, 0, 0));
  EXPECT_EQ(host.LogLines().back(), "Error getting projection matrix");
  ASSERT_TRUE(ProjectCell(&window, 1, 0, 0));
  EXPECT_NE(host.log.find("Projecting lattice plane onto (1 0 0). The new x and y axes will lie in this plane."),
            std::string::npos);
  // a and b now lie in the old (1 0 0) plane: the old b and c.
  EXPECT_FLOAT_EQ(C().c, 4);
  float vertical[3];
  GetCrystalVerticalDirection(C(), vertical);
  EXPECT_GT(Magnitude(vertical), 0.0f);
}

} // namespace
