// The model walks of a plot, the cell frame pieces, the surface overlay and
// the copy of the finished image to the window.

#include "render/EllipsoidDrawing.h"
#include "render/LatticePlaneDrawing.h"
#include "render/PlotPipeline.h"
#include "render/PolyhedronDrawing.h"

#include "Alerts.h"
#include "PlotRange.h"
#include "StructureArrays.h"
#include "render/AtomLabels.h"
#include "render/AtomStyles.h"
#include "render/Background.h"
#include "render/BondDrawing.h"
#include "render/HiddenPrimitives.h"
#include "render/OffScreen.h"
#include "render/PixelBlending.h"
#include "render/Projection.h"
#include "render/RasterPrimitives.h"
#include "render/RenderGlobals.h"
#include "render/SphereOverlap.h"
#include "render/UnitCellFrame.h"
#include "render/Vectors.h"
#include "window/MainWindowData.h"

#include "graphics/ImageCopy.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <tuple>

using namespace ovgfx;

float gSaveScale = 0.0f;
Rect gSavePlottedArea;

namespace {

// The axes glyph's square at full size, which a drag-time copy keeps.
Rect AxesSquare(const Rect &rect) {
  Rect square;
  GetAxesRect(rect, 1.0f, square);
  return square;
}

bool SiteShown(const CrystalRec &c, uint32_t site) { return site < UsableSiteSize(c) && c.sites[site].visible; }
bool AtomShown(const CrystalRec &c, uint32_t a) {
  return a < UsableAtomSize(c) && c.atoms[a].visible && SiteShown(c, c.atoms[a].site);
}

// The bonds of an atom to visible atoms on visible sites.
size_t ShownBonds(const CrystalRec &c, uint32_t atom) {
  const AtomRecord &a = c.atoms[atom];
  size_t shown = 0;
  for (size_t k = 0; k < std::min<size_t>(a.bondCount, a.bonds.size()); k++)
    shown += AtomShown(c, a.bonds[k]) ? 1 : 0;
  return shown;
}

float DrawnRadius(const CrystalRec &c, uint32_t atom) {
  const uint32_t type = c.atoms[atom].atomType;
  return type < UsableSphereSize(c) ? c.spheres[type].drawnRadius : 0.0f;
}

// The depth of an atom for depth fading; `initial` when fading is off.
float AtomDepth(const CrystalRec &c, uint32_t atom, float initial) {
  return c.depthFading ? DepthOfZ(c, c.atoms[atom].cart[2]) : initial;
}

void VectorBelow(CrystalRec &c, uint32_t a) {
  if (c.atoms[a].hasVector)
    DrawVectorBelowAtom(&c, a);
}
void VectorAbove(CrystalRec &c, uint32_t a) {
  if (c.atoms[a].hasVector)
    DrawVectorAboveAtom(&c, a);
}

// An atom between the parts of its vectors behind and in front of it.
void AtomWithVectors(CrystalRec &c, uint32_t a, float t, std::optional<Region> mask) {
  VectorBelow(c, a);
  PlotAndLabelAtom(&c, a, t, std::move(mask));
  VectorAbove(c, a);
}

// The walk visits atoms and cell points in depth order, which is no order in
// memory: each entry's record, its bond list and its neighbours' records
// would be fetched one after the other, and then the sites of the atom and
// its neighbours. They are asked for ahead, in four stages, so that their
// fetches overlap the drawing of the entries before.
constexpr size_t kRecordsAhead = 12; // the record of an atom or a cell point
constexpr size_t kBondsAhead = 8;    // the atom's bond list
constexpr size_t kLinksAhead = 4;    // its neighbours, or the cell point's linked points
constexpr size_t kSitesAhead = 2;    // the sites of the atom and its neighbours
// Site records that fit in this many bytes stay in the first-level cache
// through a walk: asking for them again would cost the walk more than it
// saves, so the last stage is left out.
constexpr size_t kSitesKeptInCache = 32 * 1024;

// The walks move the status window's bar every this many entries: the bar
// moves a few times a second at most, and a fast frame's entries are cheap.
constexpr size_t kProgressEvery = 64;

// The prefetching helpers are inlined by force: a helper left as a call
// counts as having no effect, and the compiler drops the call.
[[gnu::always_inline]] inline void Prefetch(const void *p) { __builtin_prefetch(p); }

[[gnu::always_inline]] inline void PrefetchRange(const void *from, size_t bytes) {
  const char *p = static_cast<const char *>(from);
  for (size_t at = 0; at < bytes; at += 64)
    Prefetch(p + at);
  Prefetch(p + bytes - 1);
}

// The parts of an atom record the walk reads: its flags, its place and its
// bond list's handle.
[[gnu::always_inline]] inline void PrefetchAtom(const AtomRecord &a) {
  Prefetch(&a.site);
  Prefetch(&a.cart);
  Prefetch(&a.bonds);
}

// The parts of a site record the walk reads: its elements and whether it
// is shown.
[[gnu::always_inline]] inline void PrefetchSite(const CrystalRec &c, uint32_t site) {
  if (site < UsableSiteSize(c)) {
    Prefetch(&c.sites[site].elements);
    Prefetch(&c.sites[site].visible);
  }
}

[[gnu::always_inline]] inline void PrefetchEntry(const CrystalRec &c, const SortIndexEntry &e, size_t stage) {
  if (e.kind == kSortItemAtom) {
    if (e.index >= UsableAtomSize(c))
      return;
    const AtomRecord &a = c.atoms[e.index];
    const size_t bonds = std::min<size_t>(a.bondCount, a.bonds.size());
    if (stage == kRecordsAhead) {
      PrefetchAtom(a);
    } else if (stage == kBondsAhead) {
      if (bonds > 0)
        PrefetchRange(a.bonds.data(), bonds * sizeof(uint32_t));
    } else if (stage == kLinksAhead) {
      for (size_t k = 0; k < bonds; k++)
        if (a.bonds[k] < UsableAtomSize(c))
          PrefetchAtom(c.atoms[a.bonds[k]]);
    } else {
      PrefetchSite(c, a.site);
      for (size_t k = 0; k < bonds; k++)
        if (a.bonds[k] < UsableAtomSize(c))
          PrefetchSite(c, c.atoms[a.bonds[k]].site);
    }
  } else if (e.kind == kSortItemCellPoint) {
    const size_t points = UsableRecords(c.cellPoints.size(), c.cellPointCount);
    if (e.index >= points)
      return;
    const CellPoint &p = c.cellPoints[e.index];
    if (stage == kRecordsAhead) {
      PrefetchRange(&p, sizeof p);
    } else if (stage == kLinksAhead) {
      for (int l = 0; l < std::clamp<int>(p.linkCount, 0, 2); l++)
        if (p.links[l] < points)
          PrefetchRange(&c.cellPoints[p.links[l]], sizeof(CellPoint));
    }
  }
}

// PrefetchEntry for an atom whose bonds that show the hidden pass listed:
// the walk reads neither its bond list nor the partners whose bonds are
// hidden.
[[gnu::always_inline]] inline void PrefetchListed(const CrystalRec &c, uint32_t a,
                                                  const HiddenPrimitives::ShownBond *shown, size_t count,
                                                  size_t stage) {
  if (a >= UsableAtomSize(c))
    return;
  if (stage == kRecordsAhead) {
    PrefetchAtom(c.atoms[a]);
  } else if (stage == kLinksAhead) {
    for (size_t k = 0; k < count; k++)
      if (shown[k].partner < UsableAtomSize(c))
        PrefetchAtom(c.atoms[shown[k].partner]);
  } else if (stage == kSitesAhead) {
    PrefetchSite(c, c.atoms[a].site);
    for (size_t k = 0; k < count; k++)
      if (shown[k].partner < UsableAtomSize(c))
        PrefetchSite(c, c.atoms[shown[k].partner].site);
  }
}

// Walks the depth-sort index back to front: cell points through
// `PlotCellFrameSegment`, atoms through `atom(atom, entry)`. Entries that
// the hidden pass (when given) marks as painting nothing are passed over
// without their records being read.
template <class AtomStep> void WalkIndex(CrystalRec &c, const HiddenPrimitives *hidden, AtomStep atom) {
  const size_t n = UsableRecords(c.sortIndex.size(), c.sortIndexCount);
  const uint8_t *drawn = hidden ? hidden->Drawn(n) : nullptr;
  const bool sitesAhead = UsableSiteSize(c) * sizeof(AsymmetricUnitRecord) > kSitesKeptInCache;
  const auto ahead = [&](size_t i, size_t stage) {
    if (i + stage >= n || (drawn && (drawn[i + stage] & HiddenPrimitives::kNothing)))
      return;
    const SortIndexEntry &e = c.sortIndex[i + stage];
    size_t count = 0;
    if (const HiddenPrimitives::ShownBond *shown = hidden && e.kind == kSortItemAtom
                                                       ? hidden->ShownBonds(i + stage, count)
                                                       : nullptr)
      PrefetchListed(c, e.index, shown, count, stage);
    else
      PrefetchEntry(c, e, stage);
  };
  for (size_t i = 0; i < n; i++) {
    ahead(i, kRecordsAhead);
    ahead(i, kBondsAhead);
    ahead(i, kLinksAhead);
    if (sitesAhead)
      ahead(i, kSitesAhead);
    if (gShowProgress && i % kProgressEvery == 0)
      WriteProgress("", float(i) * 100.0f / float(n));
    if (PlotWalkCancelled())
      break;
    if (drawn && (drawn[i] & HiddenPrimitives::kNothing))
      continue;
    const SortIndexEntry e = c.sortIndex[i];
    if (e.kind == kSortItemCellPoint) {
      PlotCellFrameSegment(&c, e.index);
    } else if (e.kind == kSortItemAtom && e.index < UsableAtomSize(c)) {
      atom(e.index, i);
    }
  }
}

template <class AtomStep> void WalkIndex(CrystalRec &c, AtomStep atom) {
  WalkIndex(c, nullptr, [&](uint32_t a, size_t) { atom(a); });
}

Rect UnionOf(const Rect &a, const Rect &b) {
  if (a.IsEmpty())
    return b;
  if (b.IsEmpty())
    return a;
  return Rect{std::min(a.top, b.top), std::min(a.left, b.left), std::max(a.bottom, b.bottom),
              std::max(a.right, b.right)};
}

bool AnyAnnotationSelected(const CrystalRec &c) {
  for (size_t k = 0; k < UsableRecords(c.textBoxes.size(), c.textBoxCount); k++)
    if (c.textBoxes[k].selected)
      return true;
  return false;
}

// Copies `from` (off-screen coordinates) of the pixels to the same place in
// the window's graph pane; false when the copy failed.
bool CopyToWindow(WindowRef window, const PixelBuffer &pixels, const Rect &from) {
  const ScreenHooks &hooks = GetScreenHooks();
  GraphicsPort *port = hooks.windowPort ? hooks.windowPort(window) : nullptr;
  if (!port || from.IsEmpty())
    return true;
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  const Rect to = OffsetRect(from, pane.left, pane.top);
  int result;
  {
    PortSaver current(port);
    const RGBColor fore = port->ForeColor(), back = port->BackColor();
    port->SetForeColor(kRGBBlack);
    port->SetBackColor(kRGBWhite);
    result = CopyPixels(pixels, *port, from, to, kCopySource);
    port->SetForeColor(fore);
    port->SetBackColor(back);
  }
  if (hooks.windowPortChanged)
    hooks.windowPortChanged(window, to);
  return result == 0;
}

} // namespace

// ---- The model walks ------------------------------------------------------------------------

// True when atom a's bond to b paints exactly what its bond to `previous`,
// painted just before, did: b stands at the very place of `previous`, is of
// the same kind and on the same side of a in the index order, and nothing
// was painted in between. A structure whose atom list was written many times
// over would otherwise paint each bond once per pair of copies.
bool RepaintsPreviousBond(const CrystalRec &c, uint32_t a, uint32_t previous, uint32_t b) {
  const AtomRecord &p = c.atoms[previous], &q = c.atoms[b];
  return !p.hasVector && std::memcmp(p.cart, q.cart, sizeof p.cart) == 0 && p.atomType == q.atomType &&
         c.sites[p.site].elements[0] == c.sites[q.site].elements[0] && (previous > a) == (b > a);
}

// Lists longer than this bring copies of one partner together (few atoms
// have so many bonds, and a shorter list is left as it is).
constexpr size_t kGroupedListLength = 16;

// Brings the partners that RepaintsPreviousBond would take for one another
// next to the first of them, in a list ascending by height: copies stand
// level, so only level partners change places. A list without such copies
// keeps its order.
void GroupRepeatedPartners(const CrystalRec &c, uint32_t a, std::vector<uint32_t> &list) {
  struct Entry {
    std::array<uint32_t, 3> place;
    uint32_t type, element, side, position;
  };
  std::vector<Entry> entries(list.size());
  for (size_t k = 0; k < list.size(); k++) {
    const AtomRecord &q = c.atoms[list[k]];
    Entry &e = entries[k];
    std::memcpy(e.place.data(), q.cart, sizeof q.cart);
    e.type = q.atomType;
    e.element = c.sites[q.site].elements[0];
    e.side = list[k] > a ? 1u : 0u;
    e.position = static_cast<uint32_t>(k);
  }
  const auto key = [](const Entry &e) { return std::tie(e.place, e.type, e.element, e.side); };
  std::sort(entries.begin(), entries.end(), [&](const Entry &x, const Entry &y) {
    return key(x) < key(y) || (key(x) == key(y) && x.position < y.position);
  });
  std::vector<uint32_t> first(list.size());
  bool repeats = false;
  for (size_t k = 0; k < entries.size(); k++) {
    const bool same = k > 0 && key(entries[k]) == key(entries[k - 1]);
    repeats = repeats || same;
    first[entries[k].position] = same ? first[entries[k - 1].position] : entries[k].position;
  }
  if (!repeats || c.atoms[a].hasVector)
    return;
  std::vector<uint32_t> order(list.size());
  for (size_t k = 0; k < order.size(); k++)
    order[k] = static_cast<uint32_t>(k);
  // Within each run of level partners, in order of each one's first copy.
  for (size_t from = 0; from < order.size();) {
    size_t to = from + 1;
    while (to < order.size() && c.atoms[list[to]].cart[2] == c.atoms[list[from]].cart[2])
      to++;
    std::stable_sort(order.begin() + static_cast<std::ptrdiff_t>(from), order.begin() + static_cast<std::ptrdiff_t>(to),
                     [&](uint32_t x, uint32_t y) { return first[x] < first[y]; });
    from = to;
  }
  std::vector<uint32_t> grouped(list.size());
  for (size_t k = 0; k < order.size(); k++)
    grouped[k] = list[order[k]];
  list.swap(grouped);
}

// Whether a bond painted twice over looks as painted once: nothing is
// blended, and no bond has a style of its own.
bool RepaintsAreIdempotent(const CrystalRec &c) {
  return !c.depthFading && UsableRecords(c.customBondSpecs.size(), c.customBondSpecCount) == 0;
}

void PlotBallAndStick(CrystalRec *crystal) {
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  const float bondRadius = c.bondRadius * c.minAtomRadius;
  const BondPainter bonds(&c, bondRadius, gHPixels, gVPixels);
  const bool skipRepaints = RepaintsAreIdempotent(c);
  static HiddenPrimitives hidden; // the pass's storage, main thread only
  hidden.Find(c, bondRadius, gHPixels, gVPixels);
  std::vector<uint32_t> below;
  WalkIndex(c, &hidden, [&](uint32_t a, size_t entry) {
    const float t = AtomDepth(c, a, 0.0f);
    size_t count = 0;
    if (const HiddenPrimitives::ShownBond *shown = hidden.ShownBonds(entry, count)) {
      // Without vectors a hidden bond paints nothing at all, and without
      // partners at one place no bond repaints another.
      const float radius = count == 0 ? 0.0f : DrawnRadius(c, a);
      for (size_t k = 0; k < count; k++) {
        const PixClipRows clip(shown[k].rows.top, shown[k].rows.bottom);
        bonds.Draw(a, shown[k].partner, radius, DrawnRadius(c, shown[k].partner), t);
      }
    } else {
      SortBondsBelow(&c, a, below);
      if (skipRepaints && below.size() > kGroupedListLength)
        GroupRepeatedPartners(c, a, below);
      const float radius = below.empty() ? 0.0f : DrawnRadius(c, a);
      for (size_t k = 0; k < below.size(); k++) {
        const uint32_t b = below[k];
        if (skipRepaints && k > 0 && RepaintsPreviousBond(c, a, below[k - 1], b))
          continue;
        if (const PixelRows rows = hidden.BondRows(entry, b); !rows.Empty()) {
          const PixClipRows clip(rows.top, rows.bottom);
          bonds.Draw(a, b, radius, DrawnRadius(c, b), t);
        }
        VectorAbove(c, b);
      }
    }
    if (!hidden.BallHidden(entry)) {
      AtomWithVectors(c, a, t, std::nullopt);
      return;
    }
    VectorBelow(c, a);
    if (c.atoms[a].labelled)
      LabelAtom(&c, a, t, c.hiliteColor);
    VectorAbove(c, a);
  });
}

void PlotSpaceFilling(CrystalRec *crystal) {
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  WalkIndex(c, [&](uint32_t a) {
    std::optional<Region> mask;
    const uint32_t type = c.atoms[a].atomType;
    if (type < UsableSphereSize(c) && c.spheres[type].style != AtomStyleBlank)
      DoOverlapSphereCorrection(&c, a, mask, 1.0f, gHPixels, gVPixels);
    AtomWithVectors(c, a, AtomDepth(c, a, 0.0f), std::move(mask));
  });
}

void PlotPolyhedral(CrystalRec *crystal) {
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  WalkIndex(c, [&](uint32_t a) {
    const float t = AtomDepth(c, a, 0.0f);
    const uint32_t site = c.atoms[a].site;
    if (site >= UsableSiteSize(c))
      return;
    const bool bonded = c.atoms[a].bondCount > 0;
    switch (SitePolyMode(c, site)) {
    case 0:
    case 1:
      break;
    case 2:
      AtomWithVectors(c, a, t, std::nullopt);
      break;
    case 6:
      MakePolyWireFrame(&c, a, t, 1);
      break;
    case 11:
      MakePolyWireFrame(&c, a, t, 0);
      break;
    case 7:
    case 12:
      MakePolyBallAndStick(&c, a, t);
      break;
    case 13:
    case 14:
    case 15:
      if (bonded) {
        VectorBelow(c, a);
        MakePoly(&c, a, t);
        VectorAbove(c, a);
      }
      break;
    default:
      if (bonded)
        MakePoly(&c, a, t);
      break;
    }
  });
}

void PlotWireFrame(CrystalRec *crystal) {
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  WalkIndex(c, [&](uint32_t a) {
    const float t = AtomDepth(c, a, 1.0f);
    const AtomRecord &atom = c.atoms[a];
    VectorBelow(c, a);
    if (atom.bondCount > 0) {
      const float z = atom.cart[2];
      const size_t bonds = std::min<size_t>(atom.bondCount, atom.bonds.size());
      for (size_t k = 0; k < bonds; k++) {
        const uint32_t b = atom.bonds[k];
        if (AtomShown(c, b) && c.atoms[b].cart[2] <= z)
          PlotWireFrameLine(&c, a, b, 0.0f, 0.0f, t);
      }
    } else if (atom.atomType < UsableSphereSize(c)) {
      RGBColor shaded;
      float opacity;
      DepthShading(&c, t, c.spheres[atom.atomType].colour, shaded, opacity);
      MySetCPixel(atom.pixel[0], atom.pixel[1], shaded);
    }
    // A bonded atom's label takes the highlight colour, as in the other
    // models.
    if (atom.labelled)
      LabelAtom(&c, a, t, c.hiliteColor);
    if (atom.selected)
      DrawSelectedWireFrameAtom(&c, a);
    VectorAbove(c, a);
  });
}

void PlotStick(CrystalRec *crystal) {
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  WalkIndex(c, [&](uint32_t a) { PlotStickAtom(&c, a); });
}

void PlotThermalEllipsoid(CrystalRec *crystal) {
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  const BondPainter bonds(&c, c.bondRadius * c.minAtomRadius, gHPixels, gVPixels);
  std::vector<uint32_t> below;
  const EllipsoidPainterScope painter;
  EllipsoidRadii radii(c);
  WalkIndex(c, [&](uint32_t a) {
    const float t = AtomDepth(c, a, 0.0f);
    SortBondsBelow(&c, a, below);
    for (uint32_t b : below) {
      float d[3];
      for (int k = 0; k < 3; k++)
        d[k] = c.atoms[a].cart[k] - c.atoms[b].cart[k];
      const float rA = radii.Along(a, d);
      const float rB = radii.Along(b, d);
      bonds.Draw(a, b, rA, rB, t);
      VectorAbove(c, b);
    }
    VectorBelow(c, a);
    PlotEllipsoid(&c, a, t);
    if (c.atoms[a].labelled)
      LabelAtom(&c, a, t, c.hiliteColor);
    VectorAbove(c, a);
  });
}

// ---- One atom -------------------------------------------------------------------------------------

void PlotAndLabelAtom(CrystalRec *crystal, uint32_t atom, float t, std::optional<Region> mask) {
  if (!crystal || atom >= UsableAtomSize(*crystal))
    return;
  CrystalRec &c = *crystal;
  if (mask && mask->IsEmpty())
    return;
  const AtomRecord &a = c.atoms[atom];
  if (a.atomType >= UsableSphereSize(c))
    return;
  const SphereRecord &type = c.spheres[a.atomType];
  const uint32_t style = type.style;
  const bool imageStyle = style == AtomStyleRandomFill || style == AtomStylePhotoTranslucent ||
                          style == AtomStylePhotoRendered || style == AtomStylePhotoTwoTone ||
                          style == AtomStylePhotoBeachBall;
  if (gPlotMethod == kPixelPlotMethod && !(c.perspective && !imageStyle)) {
    DoPlotAtom(&c, atom, t, std::move(mask));
  } else {
    RGBColor colour = type.colour;
    uint32_t drawStyle = style;
    if (c.modelType == kStickModel && a.site < UsableSiteSize(c) &&
        (c.sites[a.site].coordination > 0 || a.bondCount > 0))
      GetBallJointAttributes(&c, a.atomType, colour, drawStyle);
    RGBColor shaded;
    float opacity;
    DepthShading(&c, t, colour, shaded, opacity);
    PlotSimpleAtom(&c, shaded, drawStyle, type.drawnRadius, a.cart[2], a.pixel[0], a.pixel[1], a.selected != 0,
                   std::move(mask));
  }
  if (a.labelled)
    LabelAtom(&c, atom, t, c.hiliteColor);
}

void PlotStickAtom(CrystalRec *crystal, uint32_t atom) {
  if (!crystal || atom >= UsableAtomSize(*crystal))
    return;
  CrystalRec &c = *crystal;
  const float t = AtomDepth(c, atom, 0.0f);
  const float stickRadius = c.stickRadius * c.minAtomRadius;
  VectorBelow(c, atom);
  const AtomRecord &a = c.atoms[atom];
  if (a.bondCount > 0) {
    static std::vector<uint32_t> below; // the walk's storage, main thread only
    SortBondsBelow(&c, atom, below);
    float endA = 0.0f;
    bool labelled = false;
    // A junction of bonds gets its ball joint, neighbours level with the
    // atom (a flat molecule seen face on) counting as much as those above
    // or below it.
    if (ShownBonds(c, atom) > 1) {
      PlotAndLabelAtom(&c, atom, t, std::nullopt);
      labelled = true;
      const uint32_t siteType = a.site < UsableSiteSize(c) ? c.sites[a.site].atomType : a.atomType;
      endA = siteType < UsableSphereSize(c) ? c.spheres[siteType].drawnRadius : 0.0f;
    }
    for (uint32_t b : below) {
      const AtomRecord &nb = c.atoms[b];
      const float endB = ShownBonds(c, b) > 1 ? DrawnRadius(c, b) : 0.0f;
      MakeBond(&c, atom, b, endA, endB, stickRadius, t, gHPixels, gVPixels);
      if (nb.selected)
        DrawSelectedWireFrameAtom(&c, b);
      VectorAbove(c, b);
    }
    // A ball joint was labelled with its ball.
    if (a.labelled && !labelled)
      LabelAtom(&c, atom, t, c.hiliteColor);
    if (a.selected)
      DrawSelectedWireFrameAtom(&c, atom);
  } else if (a.site < UsableSiteSize(c) && c.sites[a.site].coordination < 1) {
    PlotAndLabelAtom(&c, atom, t, std::nullopt);
  }
  VectorAbove(c, atom);
}

void PlotWireFrameLine(CrystalRec *crystal, uint32_t a, uint32_t b, float radiusA, float radiusB, float t) {
  if (!crystal || a >= UsableAtomSize(*crystal) || b >= UsableAtomSize(*crystal))
    return;
  CrystalRec &c = *crystal;
  RGBColor colourA, colourB;
  const int16_t style = GetBondColorSpecs(&c, a, b, colourA, colourB);
  int16_t lineStyle = style;
  switch (style) {
  case kBondPhotoRendered:
  case kBondPlain:
    lineStyle = kBondPlainLine;
    break;
  case kBondPhotoTwinBand:
  case kBondTwinBand:
    lineStyle = kBondTwoColourLine;
    break;
  case kBondPhotoMultiBand:
  case kBondSegmentedLine:
  case kBondMultiBand:
    lineStyle = kBondSegmentedLine;
    if (a > b)
      std::swap(colourA, colourB);
    break;
  case kBondStriated:
    lineStyle = kBondPlainLine;
    colourA = colourB = c.hiliteColor;
    break;
  default:
    break;
  }
  if (lineStyle != kBondBlank)
    MakeBondLine(&c, c.atoms[a].cart, c.atoms[b].cart, radiusA, radiusB, t, gHPixels, gVPixels, colourA, colourB,
                 lineStyle);
  if (c.atoms[b].selected)
    DrawSelectedWireFrameAtom(&c, b);
}

void DrawSelectedWireFrameAtom(CrystalRec *crystal, uint32_t atom) {
  GraphicsPort *port = CurrentPort();
  if (!crystal || !port || atom >= UsableAtomSize(*crystal))
    return;
  const int16_t *p = crystal->atoms[atom].pixel;
  port->SetBackColor(kRGBYellow);
  port->EraseOval(MakeRect(p[0] - 3, p[1] - 3, p[0] + 3, p[1] + 3));
  port->SetBackColor(kRGBWhite);
}

// ---- Surface overlay -------------------------------------------------------------------------

void PlotSurface(CrystalRec *crystal, const Rect &plotRect, const OVImageHandle &overlay) {
  PixelBuffer *pixels = OffScreenPixels(overlay);
  if (!crystal || !pixels)
    return;
  CrystalRec &c = *crystal;
  GraphicsPort port(pixels);
  PixTargetSaver saved(&port);
  if (c.cloudSphereType == 3) {
    DrawBackground(&c, plotRect);
  } else {
    pixels->Fill(RGBColorToPixel32(kRGBWhite));
  }
  GetCurrentPixGlobals();
  const size_t n = UsableRecords(c.sortIndex.size(), c.sortIndexCount);
  for (size_t i = 0; i < n; i++) {
    if (gShowProgress && i % kProgressEvery == 0)
      WriteProgress("", float(i) * 100.0f / float(n));
    if (PlotWalkCancelled())
      break;
    const SortIndexEntry e = c.sortIndex[i];
    if (e.kind == kSortItemCellPoint) {
      if (c.cloudSphereType == 3)
        PlotCellFrameSegment(&c, e.index);
      continue;
    }
    if (e.kind != kSortItemAtom || e.index >= UsableAtomSize(c))
      continue;
    std::optional<Region> mask;
    if (c.cloudSphereType != 1)
      DoFullOverlapSphereCorrection(&c, e.index, mask, c.cloudSphereRadFrac, gHPixels, gVPixels);
    DoPlotCloud(&c, e.index, 1.0f, std::move(mask), &port);
  }
  DisposeCurrentPixGlobals();
}

void OverlaySurface(WindowRef window) {
  const CrystalRec *crystal = GetWindowCrystal(window);
  const PixelBuffer *overlay = OffScreenPixels(GetWindowOffScreenOverlay(window));
  PixelBuffer *main = OffScreenPixels(GetWindowOffScreen(window));
  if (!crystal || !overlay || !main)
    return;
  GraphicsPort port(main);
  if (crystal->cloudSphereType == 3) {
    const float opaque = 1.0f - crystal->cloudSphereTransparency;
    const uint16_t g = opaque > 0.0f ? uint16_t(std::min(opaque, 1.0f) * 65535.0f) : uint16_t(0);
    port.SetOpColor(RGBColor{g, g, g});
    CopyPixels(*overlay, port, overlay->Bounds(), main->Bounds(), kCopyBlend);
  } else {
    port.SetBackColor(kRGBWhite);
    CopyPixels(*overlay, port, overlay->Bounds(), main->Bounds(), kCopyTransparent);
  }
}

// ---- The copy to the window ------------------------------------------------------------------

int16_t TransferPixels(WindowRef window, int16_t destination) {
  CrystalRec *crystal = GetWindowCrystal(window);
  const PixelBuffer *main = OffScreenPixels(GetWindowOffScreen(window));
  if (!crystal || !main) {
    SysBeep();
    return 0;
  }
  CrystalRec &c = *crystal;
  Rect offBounds;
  GetWindowOffBounds(window, &offBounds);
  bool copied = true, toWindow = false, stereoDone = false;
  if (c.stereoOn && c.stereoMode == kRedBlueStereo) {
    PixelBuffer *transfer = OffScreenPixels(GetWindowTransferBuffer(window));
    if (!transfer)
      return 0;
    if (c.stereoImageInProgress == kStereoFirstImage) {
      MyAddBlueBits(main, transfer, offBounds, offBounds);
      return 0;
    }
    MyMultiplyRedBits(main, transfer, offBounds, offBounds);
    stereoDone = true;
    if (destination == kPlotToWindow) {
      copied = CopyToWindow(window, *transfer, offBounds);
      toWindow = true;
    }
  } else if (c.stereoOn && c.stereoMode == kSideBySideStereo) {
    if (c.stereoImageInProgress == kStereoFirstImage)
      return 0;
    stereoDone = true;
    if (destination == kPlotToWindow) {
      copied = CopyToWindow(window, *main, main->Bounds());
      toWindow = true;
    }
  } else if (destination == kPlotToWindow) {
    toWindow = true;
    if (gTrackBallRotn && !AnyAnnotationSelected(c) && std::fabs(c.plotScale - gSaveScale) < 0.00001f) {
      int16_t l, r, t, b;
      GetAtomsXpixRange(&c, &l, &r, &t, &b);
      const Rect extent = SectRect(MakeRect(l, t, r, b), offBounds);
      copied = CopyToWindow(window, *main, UnionOf(extent, gSavePlottedArea));
      gSavePlottedArea = extent;
      if (c.showAxes)
        copied = CopyToWindow(window, *main, SectRect(AxesSquare(offBounds), offBounds)) && copied;
    } else {
      copied = CopyToWindow(window, *main, offBounds);
      gSavePlottedArea = offBounds;
    }
    gSaveScale = c.plotScale;
  }
  if ((toWindow || stereoDone) && gRecordingVideo)
    RecordMovieFrame();
  if (!copied) {
    MyCFCautionAlert("An error occurred whilst copying the pixel image to the screen");
    return -1;
  }
  return 0;
}
