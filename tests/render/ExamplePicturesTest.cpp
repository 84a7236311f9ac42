// Pictures of the bundled examples, probed where the atoms and bonds must
// show: positions are computed here from the fractional coordinates, the
// orientation matrix, the plot centre and the scale.

#include "../model/StructureWindowFixture.h"
#include "SceneSupport.h"

#include "import/ImportPath.h"
#include "render/BondDrawing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <vector>

using namespace ovgfx;
using namespace viewtest;

namespace {

constexpr RGBColor kRed{65535, 0, 0}, kGreen{0, 65535, 0}, kBlue{0, 0, 65535};

struct Pixel {
  int x, y;
};

// Off-screen pixels of the window after a plot.
PixelBuffer &Image(WindowRef w) { return *OffScreenPixels(GetWindowOffScreen(w)); }

// Where a fractional point lands in the plot, from the orientation matrix,
// the plot centre and the scale alone.
Pixel Expected(const CrystalRec &c, const float xyz[3], int w, int h) {
  float v[3];
  MatMul(c.orientationMatrix, xyz, v);
  return {scene::ExpectedPixel((v[0] - c.plotCentre[0]) * c.plotScale, float(w) / 2.0f),
          scene::ExpectedPixel(-(v[1] - c.plotCentre[1]) * c.plotScale, float(h) / 2.0f)};
}

float ViewZ(const CrystalRec &c, const float xyz[3]) {
  float v[3];
  MatMul(c.orientationMatrix, xyz, v);
  return v[2];
}

// Reads an example into the window, colours its first two atom types red
// and green, draws its bonds as flat blue cylinders on black, and looks
// along c (crystals) or leaves the file's view (molecules).
void Open(WindowRef w, const char *name) {
  ASSERT_TRUE(OpenStructureFile(w, std::filesystem::path(OV_SOURCE_DIR) / "resources/examples" / name));
  CrystalRec &c = *GetWindowCrystal(w);
  c.backgroundColor = kRGBBlack;
  c.backgroundGradient = 0;
  c.showUnitCell = 0;
  c.showAxes = 0;
  c.depthFading = 0;
  c.perspective = 0;
  const RGBColor colours[2] = {kRed, kGreen};
  for (size_t k = 0; k < c.spheres.size() && k < 2; k++)
    c.spheres[k].colour = colours[k];
  for (int k = 0; k < c.bondSpecCount; k++) {
    c.bondSpecs[size_t(k)].style = kBondPlain;
    c.bondSpecs[size_t(k)].colour1 = c.bondSpecs[size_t(k)].colour2 = kBlue;
  }
  c.defaultBondStyle = kBondPlain;
  c.bondColor1 = c.bondColor2 = kBlue;
  if (!c.molecule) {
    const float alongC[3] = {0.0f, 0.0f, 1.0f};
    CopyVector(c.viewDirection, alongC);
    ApplyViewDirection(&c, true);
  }
  ResetOffScreen(w);
}

void Draw(WindowRef w, int8_t model) {
  CrystalRec &c = *GetWindowCrystal(w);
  c.modelType = model;
  RenderSpheres(&c);
  PlotCrystal(w, kPlotToWindow);
}

// The nearest atom, and a bond between two atoms of the nearest layer whose
// middle no atom of that layer covers.
struct Probes {
  int32_t atom = -1;
  int32_t bondA = -1, bondB = -1;
};

Probes FindProbes(const CrystalRec &c, float drawnFactor) {
  Probes p;
  float top = -1e30f;
  for (int32_t k = 0; k < c.atomCount; k++) {
    const float z = ViewZ(c, c.atoms[size_t(k)].xyz);
    if (c.atoms[size_t(k)].visible && z > top) {
      top = z;
      p.atom = k;
    }
  }
  const auto inTop = [&](int32_t k) { return std::fabs(ViewZ(c, c.atoms[size_t(k)].xyz) - top) < 1e-3f; };
  for (int32_t a = 0; a < c.atomCount && p.bondA < 0; a++) {
    if (!c.atoms[size_t(a)].visible || !inTop(a))
      continue;
    for (uint32_t b : c.atoms[size_t(a)].bonds) {
      if (!inTop(int32_t(b)))
        continue;
      float mid[3];
      for (int i = 0; i < 3; i++)
        mid[i] = (c.atoms[size_t(a)].xyz[i] + c.atoms[b].xyz[i]) / 2.0f;
      float vm[3];
      MatMul(c.orientationMatrix, mid, vm);
      bool covered = false;
      for (int32_t k = 0; k < c.atomCount && !covered; k++) {
        if (!c.atoms[size_t(k)].visible || !inTop(k))
          continue;
        float v[3];
        MatMul(c.orientationMatrix, c.atoms[size_t(k)].xyz, v);
        const float r = drawnFactor * c.spheres[c.atoms[size_t(k)].atomType].radius + 3.0f / c.plotScale;
        covered = std::hypot(v[0] - vm[0], v[1] - vm[1]) < r;
      }
      if (!covered) {
        p.bondA = a;
        p.bondB = int32_t(b);
        break;
      }
    }
  }
  return p;
}

Pixel BondMiddle(const CrystalRec &c, const Probes &p, int w, int h) {
  float mid[3];
  for (int i = 0; i < 3; i++)
    mid[i] = (c.atoms[size_t(p.bondA)].xyz[i] + c.atoms[size_t(p.bondB)].xyz[i]) / 2.0f;
  return Expected(c, mid, w, h);
}

// The channel of the colour dominates the pixel.
void ExpectDominant(uint32_t pixel, const RGBColor &colour, const char *what) {
  const int ch[3] = {int(PixelRed(pixel)), int(PixelGreen(pixel)), int(PixelBlue(pixel))};
  const int want = colour.red ? 0 : colour.green ? 1 : 2;
  for (int k = 0; k < 3; k++) {
    if (k == want)
      EXPECT_GT(ch[k], 120) << what << " " << std::hex << pixel;
    else
      EXPECT_LT(ch[k], 60) << what << " " << std::hex << pixel;
  }
}

} // namespace

TEST(ExamplePictures, AtomsAndBondsShowWhereTheCellPutsThemInEveryModel) {
  for (const char *name : {"NaCl.ovtx", "Rutile.ovtx", "Benzene.ovtx"}) {
    SCOPED_TRACE(name);
    FakeHost host;
    TestWindow w(host, 400, 320);
    Open(w.ref(), name);
    CrystalRec &c = w.crystal();
    PixelBuffer &px = Image(w.ref());
    const int W = px.Width(), H = px.Height();

    // Ball and stick: the nearest atom in its type's colour, the middle of
    // a bond of the nearest layer exactly in the bond's colour.
    Draw(w.ref(), kBallAndStickModel);
    const Probes p = FindProbes(c, c.bsSphereRadFrac);
    ASSERT_GE(p.atom, 0);
    ASSERT_GE(p.bondA, 0);
    const Pixel atom = Expected(c, c.atoms[size_t(p.atom)].xyz, W, H);
    const RGBColor &atomColour = c.spheres[c.atoms[size_t(p.atom)].atomType].colour;
    ExpectDominant(px.Pixel32(atom.x, atom.y), atomColour, "ball-and-stick atom");
    const Pixel mid = BondMiddle(c, p, W, H);
    EXPECT_EQ(scene::Rgb(px.Pixel32(mid.x, mid.y)), scene::Rgb(kBlue)) << "ball-and-stick bond";
    scene::Dump(*std::make_unique<GraphicsPort>(&px), (std::string("bs-") + name).c_str());

    // Stick: the bond is wider, still flat blue at its middle.
    Draw(w.ref(), kStickModel);
    EXPECT_EQ(scene::Rgb(px.Pixel32(mid.x, mid.y)), scene::Rgb(kBlue)) << "stick bond";

    // Wire frame: a line in the bond's colour, the atom centre off the
    // atom's colour.
    Draw(w.ref(), kWireFrameModel);
    ExpectDominant(px.Pixel32(mid.x, mid.y), kBlue, "wire-frame bond");

    // Space filling: the nearest atom shows, lit from the upper left.
    Draw(w.ref(), kSpaceFillingModel);
    ExpectDominant(px.Pixel32(atom.x, atom.y), atomColour, "space-filling atom");
    const int r = int(c.spheres[c.atoms[size_t(p.atom)].atomType].radius * c.plotScale / 3.0f);
    const auto brightness = [&](int x, int y) {
      const uint32_t v = px.Pixel32(x, y);
      return int(PixelRed(v) + PixelGreen(v) + PixelBlue(v));
    };
    EXPECT_GT(brightness(atom.x - r, atom.y - r), brightness(atom.x + r, atom.y + r));
  }
}

TEST(ExamplePictures, PlottingTwiceGivesTheSamePixels) {
  FakeHost host;
  TestWindow w(host, 300, 240);
  Open(w.ref(), "Rutile.ovtx");
  CrystalRec &c = w.crystal();
  const float turn[3] = {25.0f, 40.0f, 0.0f};
  RotateXYZ(&c, turn);
  c.showUnitCell = 1;
  c.showAxes = 1;
  for (int8_t model : {kBallAndStickModel, kStickModel, kWireFrameModel, kSpaceFillingModel}) {
    Draw(w.ref(), model);
    const PixelBuffer &px = Image(w.ref());
    const std::vector<uint8_t> first(px.BaseAddr(), px.BaseAddr() + px.ByteCount());
    PlotCrystal(w.ref(), kPlotToWindow);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), px.BaseAddr())) << int(model);
  }
}
