// Hand-built scenes for the image tests: atoms placed directly in view
// coordinates, one site per atom, drawn back to front from their atom images
// into an off-screen port.
#pragma once

#include "StructureArrays.h"
#include "graphics/GraphicsPort.h"
#include "render/AtomStyles.h"
#include "render/Background.h"
#include "render/PlotPipeline.h"
#include "render/Projection.h"

#include <QImage>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace scene {

struct Type {
  float radius;
  RGBColor colour;
  uint32_t style;
};
struct Atom {
  float x, y, z;
  uint32_t type;
};

// Space filling (each type drawn at its radius), black background, 20
// pixels per Angstrom, plot centre at the origin.
inline void Build(CrystalRec &c, const std::vector<Type> &types, const std::vector<Atom> &atoms) {
  c = CrystalRec{};
  c.molecule = 1;
  c.modelType = 2;
  c.plotScale = 20.0f;
  c.plotExtent = 10.0f;
  c.backgroundColor = kRGBBlack;
  c.hiliteColor = kRGBWhite;
  c.spheres.resize(types.size());
  for (size_t i = 0; i < types.size(); ++i) {
    c.spheres[i].radius = types[i].radius;
    c.spheres[i].colour = types[i].colour;
    c.spheres[i].style = types[i].style;
  }
  c.sites.resize(atoms.size());
  c.atoms.resize(atoms.size());
  for (size_t i = 0; i < atoms.size(); ++i) {
    c.sites[i].atomType = atoms[i].type;
    c.sites[i].firstAtom = c.sites[i].lastAtom = int32_t(i);
    AtomRecord &a = c.atoms[i];
    a.site = uint32_t(i);
    a.atomType = atoms[i].type;
    a.cart[0] = atoms[i].x;
    a.cart[1] = atoms[i].y;
    a.cart[2] = atoms[i].z;
  }
  c.sphereCount = int32_t(types.size());
  c.siteCount = c.atomCount = int32_t(atoms.size());
}

// Renders the atom images, sorts, projects and draws every atom at its
// depth into a new w x h port over the structure's background.
inline std::unique_ptr<ovgfx::GraphicsPort> Draw(CrystalRec &c, int w, int h) {
  auto port = ovgfx::GraphicsPort::NewOffscreen(MakeRect(0, 0, w, h), 32);
  RenderSpheres(&c);
  SortAtomsByHeight(&c, c.minAtomRadius);
  GetPixelCoords(&c, w, h);
  ovgfx::PortSaver current(port.get());
  DrawBackground(&c, MakeRect(0, 0, w, h));
  for (const SortIndexEntry &e : c.sortIndex)
    if (e.kind == kSortItemAtom)
      DoPlotAtom(&c, e.index, DepthOfZ(c, c.atoms[e.index].cart[2]), std::nullopt);
  return port;
}

// The pixel a view point projects to, computed here from the plot's own
// numbers: (w / 2 + (x - cx) s, h / 2 - (y - cy) s), halves away from zero.
inline int ExpectedPixel(float offset, float half) {
  const double v = double(half) + double(offset);
  return v < 0 ? -int(std::floor(-v + 0.5)) : int(std::floor(v + 0.5));
}

inline uint32_t Rgb(uint32_t pixel) { return pixel & 0x00FFFFFFu; }
inline uint32_t Rgb(const RGBColor &c) { return ovgfx::RGBColorToPixel32(c) & 0x00FFFFFFu; }

// Writes the port as a PNG when OV_DUMP_PNG names a folder (for looking at
// what the renderer draws); nothing otherwise.
inline void Dump(ovgfx::GraphicsPort &port, const char *name) {
  const char *folder = std::getenv("OV_DUMP_PNG");
  if (!folder)
    return;
  ovgfx::PixelBuffer &px = *port.Pixels();
  QImage image(px.BaseAddr(), px.Width(), px.Height(), qsizetype(px.RowBytes()), QImage::Format_ARGB32);
  image.save(QString::fromStdString(std::string(folder) + "/" + name + ".png"));
}

} // namespace scene
