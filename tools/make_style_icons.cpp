// make_style_icons: draws the pictures of the style menus and the tab buttons
// of the Model Options window with the program's own renderer, and writes
// them as PNG files into a folder (resources/images in the source tree).
//
//   make_style_icons OUTDIR
//
// Each icon is a small structure plotted off screen: one atom for the atom
// styles, an atom with displacement parameters for the ellipsoid styles, an
// octahedron for the polyhedron modes and one bond for the bond styles.

#include "BuildPipeline.h"
#include "HostServices.h"
#include "Polyhedra.h"
#include "Preferences.h"
#include "RenderServices.h"
#include "StructureArrays.h"
#include "StyleTables.h"
#include "import/ImportPath.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include "HeadlessHost.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace fs = std::filesystem;

namespace {

HeadlessHost *gHost = nullptr;
fs::path gTemp;

// Two blank hydrogens give the atom a margin in its picture.
constexpr const char *kAtom = "MOLE\nTITL icon\nATOM\nC   C1  0 0 0\nH   H1  1.05 1.05 0\nH   H2  -1.05 -1.05 0\n";
constexpr const char *kEllipsoid = "TITL icon\nCELL 3 3 3 90 90 90\nXYZR 0 0 0 0 0 0\nATOM\nC   C1  0 0 0\n"
                                   "UANI\nC1  0.25 0.08 0.12 0.03 0.04 0.0\n";
constexpr const char *kOctahedron = "MOLE\nTITL icon\nVIEW 1 0.35 0.25\nBMAX Ti O 2.2\nATOM\nTi  Ti1 0 0 0\n"
                                    "O   O1  2 0 0\nO   O2  -2 0 0\nO   O3  0 2 0\nO   O4  0 -2 0\n"
                                    "O   O5  0 0 2\nO   O6  0 0 -2\n";
constexpr const char *kBond = "MOLE\nTITL icon\nBMAX C O 3.0\nATOM\nC   C1  -1.3 0 0\nO   O1  1.3 0 0\n";

// Plots the structure in `text` at size w x h after `setup` changed it.
QImage Plot(const char *text, int w, int h, const std::function<void(CrystalRec &)> &setup) {
  const fs::path file = gTemp / "icon.ovtx";
  std::ofstream(file) << text;
  OVWindowRecord record;
  InitMainWindowData(&record);
  gHost->window = &record;
  gHost->pane = Rect{0, 0, int16_t(h), int16_t(w)};
  QImage image;
  if (OpenTextFile(&record, file)) {
    CrystalRec &c = *GetWindowCrystal(&record);
    c.showUnitCell = 0;
    c.showAxes = 0;
    c.backgroundGradient = 0;
    c.backgroundColor = kRGBWhite;
    c.atomLabelType = 0;
    const bool built =
        c.molecule ? RunNewMolecule(&record, true, true, true, true) : RunNewCrystal(&record, true, true, true);
    if (built) {
      SetWindowFileOpen(&record, true);
      setup(c);
      ResetOffScreen(&record);
      RenderSpheres(&c);
      PlotCrystal(&record, kPlotToWindow);
      OVImageHandle shown = GetWindowTransferBuffer(&record);
      if (!shown)
        shown = GetWindowOffScreen(&record);
      if (const ovgfx::PixelBuffer *px = OffScreenPixels(shown))
        image = QImage(px->BaseAddr(), px->Width(), px->Height(), qsizetype(px->RowBytes()), QImage::Format_ARGB32)
                    .copy();
    }
  }
  DestroyMainWindowData(&record);
  gHost->window = nullptr;
  return image;
}

void SetAllSites(CrystalRec &c, const std::function<void(AsymmetricUnitRecord &)> &change) {
  for (size_t s = 0; s < UsableSiteSize(c); s++)
    change(c.sites[s]);
}

// The picture cut to a square around what differs from its corner colour,
// scaled to a 32-pixel icon: a lone atom fills its icon.
QImage CropToContent(const QImage &image) {
  if (image.isNull())
    return image;
  const QSize icon(32, 32);
  const QRgb background = image.pixel(0, 0);
  int left = image.width(), top = image.height(), right = -1, bottom = -1;
  for (int y = 0; y < image.height(); y++)
    for (int x = 0; x < image.width(); x++)
      if (image.pixel(x, y) != background) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  if (right < 0)
    return image.scaled(icon);
  const int side = std::max(right - left, bottom - top) + 3;
  const int cx = (left + right) / 2, cy = (top + bottom) / 2;
  const QImage square = image.copy(cx - side / 2, cy - side / 2, side, side);
  return square.scaled(icon, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The carbon atom takes the style; the hydrogens are not drawn.
void StyleAtom(CrystalRec &c, uint32_t style) {
  const ElementCode carbon = ElementCode('C' << 8 | ' ');
  SetAllSites(c, [&](AsymmetricUnitRecord &s) { s.atomStyle = s.elements[0] == carbon ? style : 0; });
  for (size_t t = 0; t < UsableSphereSize(c); t++)
    c.spheres[t].style = c.spheres[t].element == carbon ? style : 0;
}

bool Save(const QImage &image, const fs::path &dir, const char *iconFile) {
  std::string name = iconFile;
  if (name.size() > 5 && name.ends_with(".icns"))
    name.resize(name.size() - 5);
  if (!name.ends_with(".png"))
    name += ".png";
  if (image.isNull() || !image.save(QString::fromStdString((dir / name).string()))) {
    std::fprintf(stderr, "make_style_icons: %s not written\n", name.c_str());
    return false;
  }
  return true;
}

// The icon of the hidden-ellipsoid mark: a small red bar on white.
QImage HiddenMark() {
  QImage image(16, 16, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(Qt::white);
  p.setPen(QPen(QColor(200, 0, 0), 1.5));
  p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
  p.drawLine(QPointF(4, 12), QPointF(12, 4));
  return image;
}

// The placement icons of the background picture: a frame holding a small
// picture tiled, centred, scaled to fit or stretched to fill.
QImage PlacementIcon(int mode) {
  QImage image(32, 32, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setPen(QColor(90, 90, 90));
  p.setBrush(Qt::white);
  p.drawRect(2, 5, 27, 21);
  const QColor picture(70, 130, 200);
  switch (mode) {
  case 1:
    for (int x = 0; x < 3; x++)
      for (int y = 0; y < 2; y++)
        p.fillRect(4 + 8 * x, 7 + 9 * y, 7, 8, picture);
    break;
  case 2: p.fillRect(11, 11, 10, 10, picture); break;
  case 3: p.fillRect(9, 7, 14, 18, picture); break;
  default: p.fillRect(3, 6, 26, 20, picture); break;
  }
  return image;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_style_icons OUTDIR\n");
    return 2;
  }
  const fs::path out = argv[1];
  fs::create_directories(out);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  HeadlessHost host;
  gHost = &host;
  SetHostServices(&host);
  InstallRenderServices();
  InitOVGlobals();
  char pattern[] = "/tmp/oviconsXXXXXX";
  gTemp = mkdtemp(pattern);

  bool ok = true;
  constexpr int kIcon = 32;
  for (const StyleIconEntry &e : gAtomStyleIconData) {
    if (e.style < 0)
      continue;
    ok &= Save(CropToContent(Plot(kAtom, 4 * kIcon, 4 * kIcon,
                                  [&](CrystalRec &c) {
                                    c.modelType = 2;
                                    StyleAtom(c, uint32_t(e.style));
                                  })),
               out, e.fileName);
  }
  for (const StyleIconEntry &e : gEllipsoidStyleIconData) {
    if (e.style <= 0)
      continue; // style 0 shares the blank atom icon
    ok &= Save(Plot(kEllipsoid, kIcon, kIcon,
                    [&](CrystalRec &c) {
                      c.modelType = 6;
                      c.defaultEllipsoidStyle = uint32_t(e.style);
                      SetAllSites(c, [&](AsymmetricUnitRecord &s) {
                        s.ellipsoidStyle = uint32_t(e.style);
                        s.ignoreEllipsoid = 0;
                      });
                    }),
               out, e.fileName);
  }
  for (const StyleIconEntry &e : gPolyStyleIconData) {
    if (e.style < 0)
      continue;
    ok &= Save(Plot(kOctahedron, kIcon, kIcon,
                    [&](CrystalRec &c) {
                      c.modelType = 3;
                      SetAllSites(c, [&](AsymmetricUnitRecord &s) {
                        if (s.coordination > 2)
                          s.polyMode = uint32_t(e.style);
                      });
                      DefinePolyhedra(&c);
                    }),
               out, e.fileName);
  }
  for (const StyleIconEntry &e : gBondStyleIconData) {
    if (e.style < 0)
      continue;
    ok &= Save(Plot(kBond, 64, 64,
                    [&](CrystalRec &c) {
                      c.modelType = 1;
                      c.defaultBondStyle = uint16_t(e.style);
                      c.bondColor1 = RGBColor{20000, 30000, 60000};
                      c.bondColor2 = RGBColor{60000, 20000, 20000};
                      for (int32_t b = 0; b < c.bondSpecCount; b++) {
                        c.bondSpecs[size_t(b)].style = uint16_t(e.style);
                        c.bondSpecs[size_t(b)].colour1 = c.bondColor1;
                        c.bondSpecs[size_t(b)].colour2 = c.bondColor2;
                      }
                      c.bondRadius = 0.45f;
                      SetAllSites(c, [&](AsymmetricUnitRecord &s) { s.atomStyle = 0; });
                      for (size_t t = 0; t < UsableSphereSize(c); t++) {
                        c.spheres[t].style = 0;
                        c.spheres[t].radius = 0.1f;
                      }
                    }),
               out, e.fileName);
  }
  ok &= Save(HiddenMark(), out, kEllipsoidHiddenIconFile);
  const char *placements[4] = {"IC PictureTile.icns", "IC PictureCentre.icns", "IC PictureScale.icns",
                               "IC PictureFill.icns"};
  for (int mode = 1; mode <= 4; mode++)
    ok &= Save(PlacementIcon(mode), out, placements[mode - 1]);

  // The tab buttons of the Model Options window: a picture of what the tab
  // sets, on grey when not chosen and on light blue when chosen.
  struct Tab {
    const char *name;
    const char *text;
    std::function<void(CrystalRec &)> setup;
  };
  const Tab tabs[] = {
      {"Atoms", kAtom, [](CrystalRec &c) { c.modelType = 2; StyleAtom(c, 14); }},
      {"Bonds", kBond, [](CrystalRec &c) {
         c.modelType = 1;
         c.bondRadius = 0.45f;
         for (int32_t b = 0; b < c.bondSpecCount; b++)
           c.bondSpecs[size_t(b)].style = 1;
       }},
      {"Cell", kEllipsoid, [](CrystalRec &c) {
         c.showUnitCell = 1;
         c.unitCellLineWidth = 2.0f;
         StyleAtom(c, 0);
       }},
      {"Labels", kAtom, [](CrystalRec &c) { c.modelType = 2; StyleAtom(c, 3); }},
      {"Background", kAtom, [](CrystalRec &c) {
         c.modelType = 2;
         StyleAtom(c, 0);
         c.backgroundGradient = 1;
         c.gradientStyle = 5;
         c.gradientAngle = 45.0f;
         c.gradientColors[0] = RGBColor{48059, 56797, 65535};
         c.gradientColors[1] = RGBColor{0, 0, 43690};
       }},
      {"Reflectance", kAtom, [](CrystalRec &c) {
         c.modelType = 2;
         StyleAtom(c, 14);
         for (size_t t = 0; t < UsableSphereSize(c); t++)
           c.spheres[t].colour = RGBColor{65535, 20000, 20000};
       }},
      {"Depth", kOctahedron, [](CrystalRec &c) {
         c.modelType = 2;
         c.depthFading = 1;
       }},
  };
  for (const Tab &tab : tabs)
    for (int selected = 0; selected < 2; selected++) {
      const RGBColor back = selected ? RGBColor{52428, 58982, 65535} : RGBColor{60000, 60000, 60000};
      QImage image = Plot(tab.text, 32, 32, [&](CrystalRec &c) {
        c.backgroundColor = back;
        tab.setup(c);
      });
      const std::string name = std::string("MO ") + tab.name + (selected ? " Sel.png" : " Norm.png");
      ok &= Save(image, out, name.c_str());
    }

  std::error_code ec;
  fs::remove_all(gTemp, ec);
  SetHostServices(nullptr);
  return ok ? 0 : 1;
}
