#include "render/AtomLabels.h"

#include "SceneSupport.h"

#include "render/RasterPrimitives.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace ovgfx;
using namespace scene;

namespace {

constexpr int kW = 200, kH = 160;

// Atom 0 at the origin bonded to one neighbour 3 A away on each screen
// bearing (degrees clockwise from up), ball-and-stick, drawn radius 0.4 A
// (8 pixels). A bond radius of sin 4.5 degrees over that radius makes every
// bond 5 degrees wide on each side, so a bond on bearing b + 0.5 occupies
// the slots b - 5 to b + 4.
void Star(CrystalRec &c, const std::vector<float> &bearings) {
  std::vector<Atom> atoms{{0.0f, 0.0f, 0.0f, 0}};
  for (float b : bearings) {
    const double r = double(b) * 0.0174532925199;
    atoms.push_back(Atom{float(3.0 * std::sin(r)), float(3.0 * std::cos(r)), 0.0f, 0});
  }
  Build(c, {{1.0f, kRGBWhite, AtomStyleFilled}}, atoms);
  c.modelType = kBallAndStickModel;
  c.minAtomRadius = 0.4f;
  c.bondRadius = float(std::sin(4.5 * 0.0174532925199));
  c.atomLabelPos = 5; // fixed bearing 90
  for (uint32_t j = 1; j < c.atoms.size(); j++)
    c.atoms[0].bonds.push_back(j);
  c.atoms[0].bondCount = uint32_t(c.atoms[0].bonds.size());
  GetPixelCoords(&c, kW, kH);
}

std::vector<float> Every10(float from, float to) {
  std::vector<float> out;
  for (float b = from; b <= to; b += 10.0f)
    out.push_back(b);
  return out;
}

float Place(CrystalRec &c, int16_t previous) {
  SetAtomLastLabelBearing(c.atoms[0], previous);
  float bearing = -1.0f;
  OptimizeAtomLabelPosition(&c, 0, bearing);
  return bearing;
}

} // namespace

TEST(AtomLabelsTest, AutomaticPlacementPrefersTheWidestGapButKeepsANearlyAsWideOne) {
  CrystalRec c;
  // Gaps of 40 (slots 5-44) and 50 (55-104) degrees; the rest is covered.
  std::vector<float> bonds{0.5f, 50.5f};
  for (float b : Every10(110.5f, 350.5f))
    bonds.push_back(b);
  Star(c, bonds);
  EXPECT_FLOAT_EQ(Place(c, 25), 24.5f);  // stays in its 40-degree gap
  EXPECT_FLOAT_EQ(Place(c, 200), 79.5f); // from a covered bearing: the widest gap
  EXPECT_EQ(GetAtomLastLabelBearing(c.atoms[0]), 79);

  // Gaps of 40 and 60 (55-114) degrees: the label moves.
  bonds = {0.5f, 50.5f};
  for (float b : Every10(120.5f, 350.5f))
    bonds.push_back(b);
  Star(c, bonds);
  EXPECT_FLOAT_EQ(Place(c, 25), 84.5f);

  // Gaps wrapping past straight up: 350-9 gives 359.5, 351-9 gives 0.
  Star(c, Every10(15.5f, 345.5f));
  EXPECT_FLOAT_EQ(Place(c, 100), 359.5f);
  bonds = Every10(15.5f, 345.5f);
  bonds.push_back(346.5f);
  Star(c, bonds);
  EXPECT_FLOAT_EQ(Place(c, 100), 0.0f);

  // The second image of a stereo pair reuses the first image's bearing.
  c.stereoOn = 1;
  c.stereoImageInProgress = kStereoSecondImage;
  EXPECT_FLOAT_EQ(Place(c, 123), 123.0f);
}

TEST(AtomLabelsTest, WithoutAFreeGapOrAnyDrawnBondTheFixedBearingHolds) {
  CrystalRec c;
  Star(c, Every10(0.5f, 350.5f)); // every slot covered
  EXPECT_FLOAT_EQ(Place(c, 40), 90.0f);
  Star(c, {});
  EXPECT_FLOAT_EQ(Place(c, 40), 90.0f);
  Star(c, {0.5f, 90.5f});
  c.atoms[1].visible = 0;
  c.sites[2].visible = 0;
  EXPECT_FLOAT_EQ(Place(c, 40), 90.0f);
  // A bond wider than the atom (a sine past 1) covers the half circle about
  // it instead of giving a width that is not a number.
  Star(c, {0.5f});
  c.bondRadius = 5.0f;
  EXPECT_FLOAT_EQ(Place(c, 40), 179.5f);

  float bearing = -1.0f;
  EXPECT_TRUE(GetAtomLabelPosition(9, bearing));
  EXPECT_FLOAT_EQ(bearing, 225.0f);
  EXPECT_FALSE(GetAtomLabelPosition(10, bearing));
  EXPECT_FLOAT_EQ(bearing, 0.0f);
  BearingSlots same;
  same.fill(kSlotFree);
  int start = 0, end = 0;
  EXPECT_FALSE(GetMaxFreeSector(same, start, end));
  EXPECT_FALSE(GetSectorForBearing(same, 10, start, end));
  EXPECT_TRUE(BearingLiesInSector(5, 350, 9));
  EXPECT_FALSE(BearingLiesInSector(10, 350, 9));
}

TEST(AtomLabelsTest, LabelTextsFollowTheLabelType) {
  CrystalRec c;
  Build(c, {{1.0f, kRGBWhite, AtomStyleFilled}}, {{0.0f, 0.0f, 1.23456f, 0}});
  std::snprintf(c.sites[0].label, sizeof c.sites[0].label, "Fe12");
  c.sites[0].elements[0] = uint16_t('O' << 8 | ' ');
  c.atoms[0].xyz[0] = 0.5f;
  c.atoms[0].xyz[1] = 0.25f;
  c.atoms[0].xyz[2] = 0.75f;
  const std::pair<uint8_t, std::string> cases[] = {{kLabelSite, "Fe12"},
                                                   {kLabelElement, "O "},
                                                   {kLabelAtomNumber, "1"},
                                                   {kLabelHeight, "1.235"},
                                                   {kLabelFractional, ".5 .25 .75 "},
                                                   {9, "?"}};
  for (const auto &[type, expected] : cases) {
    c.atomLabelType = type;
    Str255 text;
    ASSERT_TRUE(GetAtomLabel(&c, 0, text));
    EXPECT_EQ(std::string(text.view()), expected) << int(type);
  }
  Str255 text;
  EXPECT_FALSE(GetAtomLabel(&c, 1, text));
}

namespace {

// The box of the label pixels drawn over a black plot.
struct Box {
  int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1, brightest = 0;
  bool Empty() const { return right < 0; }
};
Box LabelBox(CrystalRec &c, float t = 1.0f) {
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, kW, kH), 32);
  port->Pixels()->Fill(0xFF000000u);
  port->SetTextFont("Verdana");
  {
    PortSaver current(port.get());
    LabelAtom(&c, 0, t, kRGBWhite);
  }
  Box box;
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) {
      const int v = int(PixelRed(port->Pixels()->Pixel32(x, y)));
      if (v == 0)
        continue;
      box.left = std::min(box.left, x);
      box.right = std::max(box.right, x);
      box.top = std::min(box.top, y);
      box.bottom = std::max(box.bottom, y);
      box.brightest = std::max(box.brightest, v);
    }
  return box;
}

} // namespace

TEST(AtomLabelsTest, LabelsStandOnTheirBearingClearOfTheAtom) {
  CrystalRec c;
  Star(c, {});
  c.labelFlag = 0;
  std::snprintf(c.sites[0].label, sizeof c.sites[0].label, "Ca1");
  const int px = c.atoms[0].pixel[0], py = c.atoms[0].pixel[1];
  const int rho = 8; // 0.4 A at 20 pixels per A

  c.atomLabelPos = 5; // right: starts beyond the atom's drawn radius
  Box box = LabelBox(c);
  ASSERT_FALSE(box.Empty());
  EXPECT_GE(box.left, px + rho);
  EXPECT_GT(box.brightest, 200);
  c.atomLabelPos = 8; // left: ends before it
  box = LabelBox(c);
  ASSERT_FALSE(box.Empty());
  EXPECT_LT(box.right, px - rho);
  c.atomLabelPos = 3; // below, centred
  box = LabelBox(c);
  EXPECT_GT(box.top, py + rho / 2);
  EXPECT_LT(box.left, px);
  EXPECT_GT(box.right, px);

  // In the wire frame an atom has no drawn radius: a label straight above
  // stands half a text height up, centred, instead of nowhere.
  c.modelType = kWireFrameModel;
  c.atomLabelPos = 1;
  box = LabelBox(c);
  ASSERT_FALSE(box.Empty());
  EXPECT_LE(box.bottom, py + 1);
  EXPECT_LT(box.left, px);
  EXPECT_GT(box.right, px);

  // Translucent near the front: drawn, but never at full strength.
  c.depthFading = 1;
  c.upperPlateauZ = 0.5f;
  c.upperBaseZ = 1.0f;
  c.upperMinOpacity = 0.4f;
  box = LabelBox(c, 1.0f);
  ASSERT_FALSE(box.Empty());
  EXPECT_LT(box.brightest, 120);
}

TEST(AtomLabelsTest, InTheEllipsoidModelALabelClearsTheEllipsoidsOutline) {
  CrystalRec c;
  Star(c, {});
  c.labelFlag = 0;
  std::snprintf(c.sites[0].label, sizeof c.sites[0].label, "O1");
  // An ellipsoid 1.5 A (30 pixels) tall and 0.3 A wide, seen along z.
  c.modelType = kThermalEllipsoidModel;
  c.ellipsoidData = 1;
  c.sites[0].displacementType = kDisplacementAnisoU;
  const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  std::copy(identity, identity + 9, c.orientationMatrix);
  const float axes[3][3] = {{0.3f, 0, 0}, {0, 1.5f, 0}, {0, 0, 0.3f}};
  std::copy(&axes[0][0], &axes[0][0] + 9, &c.atoms[0].ellipsoidAxes[0][0]);
  const int px = c.atoms[0].pixel[0], py = c.atoms[0].pixel[1];

  c.atomLabelPos = 1; // above: beyond the top of the outline, not of a sphere
  Box box = LabelBox(c);
  ASSERT_FALSE(box.Empty());
  EXPECT_LT(box.bottom, py - 30);
  c.atomLabelPos = 5; // right: the outline is narrow there
  box = LabelBox(c);
  ASSERT_FALSE(box.Empty());
  EXPECT_GE(box.left, px + 6);
  EXPECT_LT(box.left, px + 12);
}

TEST(AtomLabelsTest, AnAbsurdLabelSizeOrScaleIsHeldToThePicture) {
  CrystalRec c;
  Star(c, {});
  c.labelFlag = 0;
  std::snprintf(c.sites[0].label, sizeof c.sites[0].label, "Ca1");
  gVPixels = kH;
  c.labelSize = 1e30f;
  EXPECT_EQ(GetObjectLabelSizeForPlotting(&c, 0.0f), float(kH));
  LabelBox(c); // drawn without an undefined conversion
  c.labelSize = 10.0f;
  c.plotScale = 1e30f;
  for (int16_t position : {1, 5})
    c.atomLabelPos = position, LabelBox(c);
  gVPixels = 0;
}
