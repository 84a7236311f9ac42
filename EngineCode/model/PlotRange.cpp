#include "PlotRange.h"

#include "Alerts.h"
#include "BondSearch.h"
#include "CancelPoll.h"
#include "DerivedLayers.h"
#include "FractionalPlaces.h"
#include "Geometry.h"
#include "LatticePlanes.h"
#include "MemoryBudget.h"
#include "Polyhedra.h"
#include "RenderServices.h"
#include "StoredLimits.h"
#include "StructureArrays.h"
#include "VectorMath.h"
#include "ViewOrientation.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace {

// Polyhedron display modes that draw the atom itself in the polyhedral
// model, and the vertex-only mode.
bool ModeShowsAtom(uint32_t mode) { return mode == 2 || mode == 6 || mode == 7 || mode == 11 || mode == 12; }
constexpr uint32_t kVertexOnlyMode = 1;

bool ValidAtom(const CrystalRec &c, int64_t i) { return i >= 0 && i < UsableAtomCount(c); }
bool ValidSite(const CrystalRec &c, int64_t s) { return s >= 0 && s < UsableSiteCount(c); }

// The atom is visible and so is its site.
bool AtomShown(const CrystalRec &c, const AtomRecord &atom) {
  return atom.visible && ValidSite(c, atom.site) && c.sites[atom.site].visible;
}

void ProgressStatus(std::string_view text) {
  if (gShowProgress)
    WriteStatus(text);
}

// The whole-cell move of a minimum that normalisation makes: up by
// 1 - trunc(minimum) below 0, down by trunc(minimum) at 1 or more.
void NormaliseBounds(float &lo, float &hi) {
  if (lo > hi)
    hi = lo + kMinRangeWidth;
  if (lo < 0.0f) {
    const float shift = 1.0f - std::trunc(lo);
    lo = lo + shift;
    hi = hi + shift;
  } else if (lo >= 1.0f) {
    const float shift = std::trunc(lo);
    lo = lo - shift;
    hi = hi - shift;
  }
}

// Cells along one axis for a normalised or raw pair of bounds.
int32_t CellsForBounds(float lo, float hi) {
  const float s = lo < 0.0f ? 1.0f - std::trunc(lo) : 0.0f;
  const float top = std::trunc(hi + s);
  if (!(top >= 0.0f))
    return 1; // negative or not a number
  if (top >= static_cast<float>(kMaxCellsPerAxis - 1))
    return kMaxCellsPerAxis;
  return static_cast<int32_t>(top) + 1;
}

// Half the pixel diameter of an atom-type image, in Angstrom at the scale.
float ImageRadius(const Rect &bounds, float scale) {
  const float diameter = static_cast<float>(bounds.right - bounds.left);
  return diameter * 0.5f / scale;
}

// The radius an atom type is measured with when the plot is dimensioned.
float MeasuredRadius(const CrystalRec &c, uint32_t type) {
  if (type >= static_cast<uint32_t>(UsableSphereCount(c)))
    return 0.0f;
  const SphereRecord &t = c.spheres[type];
  const float scale = c.plotScale;
  if (c.surfaceOverlay) {
    if (t.image2 && scale > 0.0f) {
      const Rect &larger =
          (t.image1 && (t.bounds1.right - t.bounds1.left) > (t.bounds2.right - t.bounds2.left)) ? t.bounds1 : t.bounds2;
      return ImageRadius(larger, scale);
    }
    return c.cloudSphereRadFrac * t.radius;
  }
  if (t.image1 && scale > 0.0f)
    return ImageRadius(t.bounds1, scale);
  return t.radius;
}

float Distance(const float a[3], const float b[3]) { return VecBondDist(a, b); }

int16_t ClampToInt16(int64_t v) { return static_cast<int16_t>(std::clamp<int64_t>(v, INT16_MIN, INT16_MAX)); }

// The sample text whose size the labels of the given type are measured by.
const char *LabelSampleText(uint8_t labelType) {
  switch (labelType) {
  case 2:
    return "99";
  case 3:
    return "9999";
  case 4:
    return "9999.999";
  case 5:
    return "9.99 9.99 9.99";
  default:
    return "999999";
  }
}

// The automatic-scale command: measure, fit, replot.
void FitScaleAndReplot(WindowRef window, CrystalRec &c) {
  DimensionPlot(&c, c.plotCentre, &c.plotExtent);
  AutoSetScale(window);
  NewPlot(window, false, true);
}

// DefinePolyhedra, keeping every site's polyhedron display mode.
void RebuildPolyhedraKeepingModes(CrystalRec &c) {
  std::vector<uint32_t> modes;
  modes.reserve(static_cast<size_t>(UsableSiteCount(c)));
  for (int32_t s = 0; s < UsableSiteCount(c); s++)
    modes.push_back(SitePolyMode(&c, static_cast<size_t>(s)));
  BondsMade(&c);
  for (int32_t s = 0; s < UsableSiteCount(c) && static_cast<size_t>(s) < modes.size(); s++)
    SetSitePolyMode(&c, static_cast<size_t>(s), modes[static_cast<size_t>(s)]);
}

// "8,242,408 atoms ... about 4.9 GB ..." for a range refused for memory.
std::string RangeTooLargeText(double atoms, double bytes, double available) {
  char text[256];
  std::snprintf(text, sizeof text,
                "The plot range would hold %s atoms, which need about %.1f GB; %.1f GB are available. The plot "
                "range stays as it was.",
                GroupedCount(static_cast<uint64_t>(atoms)).c_str(), bytes / 1e9, available / 1e9);
  return text;
}

// How the atoms of a range are laid out: the cells along each axis, and
// whether the last cell along an axis holds only the images the range shows
// (the range is one cell, 0 to 1 with both faces: the far face's images are
// all the second cell adds).
struct CellLayout {
  int32_t counts[3] = {1, 1, 1};
  bool faceOnly[3] = {false, false, false};
};

CellLayout LayoutForRange(const float range[6]) {
  CellLayout layout;
  for (int k = 0; k < 3; k++) {
    layout.counts[k] = CellsForBounds(range[2 * k], range[2 * k + 1]);
    layout.faceOnly[k] = layout.counts[k] == 2 && range[2 * k + 1] == 1.0f;
  }
  return layout;
}

// Whether an atom of the first cell has an image in the given cell.
bool ImageMade(const CellLayout &layout, const float range[6], const AtomRecord &atom, const float cell[3]) {
  for (int d = 0; d < 3; d++)
    if (layout.faceOnly[d] && cell[d] == 1.0f &&
        !CoordinateInRange(atom.xyz[d] + cell[d], range[2 * d], range[2 * d + 1]))
      return false;
  return true;
}

// The atom records a layout takes for one atom of the first cell.
int64_t LayoutImageCount(const CellLayout &layout, const float range[6], const AtomRecord &atom) {
  int64_t images = 1;
  for (int d = 0; d < 3; d++) {
    int64_t n = layout.counts[d];
    if (layout.faceOnly[d] && !CoordinateInRange(atom.xyz[d] + 1.0f, range[2 * d], range[2 * d + 1]))
      n--;
    images *= n;
  }
  return images;
}

// The atom records a layout takes for the first cell.
int64_t LayoutAtomCount(const CellLayout &layout, const float range[6], std::span<const AtomRecord> firstCell) {
  int64_t total = 0;
  for (const AtomRecord &atom : firstCell)
    total += LayoutImageCount(layout, range, atom);
  return total;
}

// Whether any atom has attributes to hand on to a regrowth and, when none
// has and the atoms are the first cell itself, the records the layout takes
// for them (else -1): one pass over the atoms rather than one for each.
struct HeldAtomsSurvey {
  bool handOn = false;
  int64_t firstCellTotal = -1;
};

HeldAtomsSurvey SurveyHeldAtoms(const CrystalRec &c, const CellLayout &layout, const float range[6]) {
  HeldAtomsSurvey survey;
  const AtomRecord *atoms = c.atoms.data();
  const int32_t count = UsableAtomCount(c);
  if (!AtomsAreFirstUnitCell(c)) {
    survey.handOn = AnyAtomAttributesToCopy(atoms, count);
    return survey;
  }
  int64_t total = 0;
  for (int32_t k = 0; k < count; k++) {
    if (AtomHasAttributesToCopy(atoms, k)) {
      survey.handOn = true;
      return survey;
    }
    total += LayoutImageCount(layout, range, atoms[k]);
  }
  survey.firstCellTotal = total;
  return survey;
}

// The first cell the range is tiled from: runs of atoms of one site, read
// where the atoms hold them (through FirstCellAtom) or from a copy of the
// first cell (as they stand, the site left null), whose records move with it.
struct FirstCellSource {
  std::vector<HeldFirstCellRun> runs;
  std::vector<AtomRecord> copy;
};

// The runs of a copied first cell: its atoms of one site together, as they
// stand.
std::vector<HeldFirstCellRun> RunsOfCopy(const std::vector<AtomRecord> &firstCell) {
  std::vector<HeldFirstCellRun> runs;
  size_t runStart = 0;
  while (runStart < firstCell.size()) {
    size_t runEnd = runStart + 1;
    while (runEnd < firstCell.size() && firstCell[runEnd].site == firstCell[runStart].site)
      runEnd++;
    runs.push_back({std::span<const AtomRecord>(firstCell.data() + runStart, runEnd - runStart), nullptr});
    runStart = runEnd;
  }
  return runs;
}

// The first cell of the atoms, read where they hold it when every atom of a
// site's run names the site, or else copied. None when the atoms have no
// first cell (or no memory for its copy, which the copy has said).
std::optional<FirstCellSource> ReadFirstCell(const CrystalRec &c) {
  FirstCellSource source;
  if (std::optional<std::vector<HeldFirstCellRun>> held = HeldFirstCellRuns(c)) {
    source.runs = std::move(*held);
    return source;
  }
  std::optional<std::vector<AtomRecord>> copy = ExtractFirstUnitCell(&c);
  if (!copy)
    return std::nullopt;
  source.copy = std::move(*copy);
  source.runs = RunsOfCopy(source.copy);
  return source;
}

int64_t LayoutAtomCount(const CellLayout &layout, const float range[6], const FirstCellSource &source) {
  int64_t total = 0;
  for (const HeldFirstCellRun &run : source.runs)
    total += LayoutAtomCount(layout, range, run.atoms);
  return total;
}

// The atoms of the layout's cells from the first cell's, in the order of
// TileUnitCellContents (site by site, cells along a fastest), leaving out
// the images a face-only cell does not show: `total` records
// (LayoutAtomCount), reserved at once and filled record by record, so that
// the user can stop a large block while it is made. None without memory or
// when the user stopped it (*cancelled).
std::optional<std::vector<AtomRecord>> TileCells(const FirstCellSource &source, int64_t total,
                                                 const CellLayout &layout, const float range[6], bool ellipsoids,
                                                 bool *cancelled) {
  *cancelled = false;
  const int32_t *counts = layout.counts;
  std::vector<AtomRecord> atoms;
  // A held run's first-cell records, made once for all its cells.
  std::vector<AtomRecord> made;
  CancelPoll cancel(kTileCancelClockEvery);
  try {
    atoms.reserve(static_cast<size_t>(total));
    for (const HeldFirstCellRun &held : source.runs) {
      std::span<const AtomRecord> run = held.atoms;
      if (held.site) {
        made.clear();
        for (const AtomRecord &atom : held.atoms)
          made.push_back(FirstCellAtom(atom, *held.site));
        run = made;
      }
      for (int32_t k = 0; k < counts[2]; k++) {
        for (int32_t j = 0; j < counts[1]; j++) {
          if (cancel.Step()) {
            *cancelled = true;
            return std::nullopt;
          }
          for (int32_t i = 0; i < counts[0]; i++) {
            const float cell[3] = {static_cast<float>(i), static_cast<float>(j), static_cast<float>(k)};
            for (const AtomRecord &atom : run) {
              if (!ImageMade(layout, range, atom, cell))
                continue;
              MoveAtomByCell(atoms.emplace_back(atom), cell, ellipsoids);
            }
          }
        }
      }
    }
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    return std::nullopt;
  }
  return atoms;
}

// Names, from the last record of a first cell that the atoms are
// (AtomsAreFirstUnitCell) to its first, the site whose run holds each.
class RunSitesFromTheEnd {
public:
  explicit RunSitesFromTheEnd(const CrystalRec &c) : c_(c), site_(UsableSiteCount(c) - 1) {}
  // Records are asked for in falling order.
  const AsymmetricUnitRecord &Of(size_t record) {
    while (c_.sites[static_cast<size_t>(site_)].atomsPerCell == 0 ||
           static_cast<size_t>(c_.sites[static_cast<size_t>(site_)].firstAtom) > record)
      site_--;
    return c_.sites[static_cast<size_t>(site_)];
  }

private:
  const CrystalRec &c_;
  int32_t site_;
};

// The same atoms made in the records of atoms that are the first cell
// (AtomsAreFirstUnitCell), which leave the structure and have the room for
// them: `total` is at most their capacity, so that nothing is allocated but
// one site's run set aside, and nothing can fail. Each record becomes its
// first-cell record (FirstCellAtom) as it is read. The runs are written from
// the last, each from its end: a run's records go no earlier than it stood,
// so no record is overwritten before it is read. One pass over the records
// it writes, within memory the atoms already hold, so the user is not asked
// to stop it.
std::vector<AtomRecord> TileCellsInPlace(CrystalRec &c, int64_t total, const CellLayout &layout, const float range[6],
                                         bool ellipsoids) {
  std::vector<AtomRecord> atoms = std::move(c.atoms);
  c.atoms.clear();
  atoms.resize(static_cast<size_t>(c.atomsPerCell));
  RunSitesFromTheEnd sites(c);
  // A layout whose other cells show no image is the first cell itself, in
  // its order; its atoms are moved by the first cell's shift as every image
  // is, where they stand.
  if (total == static_cast<int64_t>(atoms.size())) {
    const float first[3] = {0.0f, 0.0f, 0.0f};
    for (size_t p = atoms.size(); p-- > 0;) {
      atoms[p] = FirstCellAtom(atoms[p], sites.Of(p));
      MoveAtomByCell(atoms[p], first, ellipsoids);
    }
    return atoms;
  }
  const int32_t *counts = layout.counts;
  size_t runEnd = atoms.size();
  atoms.resize(static_cast<size_t>(total));
  size_t out = atoms.size();
  std::vector<AtomRecord> run;
  while (runEnd > 0) {
    size_t runStart = runEnd - 1;
    while (runStart > 0 && atoms[runStart - 1].site == atoms[runEnd - 1].site)
      runStart--;
    run.resize(runEnd - runStart);
    for (size_t p = runEnd; p-- > runStart;)
      run[p - runStart] = FirstCellAtom(atoms[p], sites.Of(p));
    for (int32_t k = counts[2] - 1; k >= 0; k--)
      for (int32_t j = counts[1] - 1; j >= 0; j--)
        for (int32_t i = counts[0] - 1; i >= 0; i--) {
          const float cell[3] = {static_cast<float>(i), static_cast<float>(j), static_cast<float>(k)};
          for (size_t r = run.size(); r-- > 0;) {
            if (!ImageMade(layout, range, run[r], cell))
              continue;
            AtomRecord &image = atoms[--out];
            image = run[r];
            MoveAtomByCell(image, cell, ellipsoids);
          }
        }
    runEnd = runStart;
  }
  return atoms;
}

} // namespace

// ---- The range ------------------------------------------------------------------

void AdjustCellRangeOffsets(CrystalRec *crystal) {
  if (!crystal)
    return;
  for (int k = 0; k < 3; k++)
    NormaliseBounds(crystal->plotRange[2 * k], crystal->plotRange[2 * k + 1]);
}

void CalculateNumCellsForCrystal(const CrystalRec *crystal, int32_t *na, int32_t *nb, int32_t *nc) {
  int32_t n[3] = {1, 1, 1};
  if (crystal)
    for (int k = 0; k < 3; k++)
      n[k] = CellsForBounds(crystal->plotRange[2 * k], crystal->plotRange[2 * k + 1]);
  if (na)
    *na = n[0];
  if (nb)
    *nb = n[1];
  if (nc)
    *nc = n[2];
}

bool IsAtomInRange(const CrystalRec *crystal, const AtomRecord &atom) {
  if (!crystal)
    return false;
  const float *r = crystal->plotRange;
  for (int k = 0; k < 3; k++)
    if (!CoordinateInRange(atom.xyz[k], r[2 * k], r[2 * k + 1]))
      return false;
  return true;
}

int32_t ApplyRangeLimits(CrystalRec *crystal) {
  if (!crystal)
    return 0;
  CrystalRec &c = *crystal;
  int32_t shown = 0;
  for (int32_t k = 0; k < UsableAtomCount(c); k++) {
    AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
    // Hidden atoms keep current coordinates too: the searches and tools
    // that read every atom see them where they are.
    MatMul(c.orientationMatrix, atom.xyz, atom.cart);
    if (IsAtomInRange(&c, atom))
      atom.visible = ValidSite(c, atom.site) ? c.sites[atom.site].visible : 0;
    else
      atom.visible = 0;
    if (atom.visible)
      shown++;
  }
  return shown;
}

bool SetPlotRange(WindowRef window, float xmin, float xmax, float ymin, float ymax, float zmin, float zmax,
                  PlotMeasure measure) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return false;
  CrystalRec &c = *crystal;
  const float requested[6] = {xmin, xmax, ymin, ymax, zmin, zmax};
  for (float v : requested)
    if (!std::isfinite(v))
      return false;
  // Roles still to be set are those of the atoms and bonds of the range the
  // structure had. The atoms change only when they are regrown.
  NoteStructureChange(&c, kChangeRange | kChangeBonds);

  float oldRange[6];
  std::copy(std::begin(c.plotRange), std::end(c.plotRange), oldRange);
  auto restoreRange = [&] { std::copy(std::begin(oldRange), std::end(oldRange), c.plotRange); };

  const int32_t oldCounts[3] = {c.na, c.nb, c.nc};
  std::copy(std::begin(requested), std::end(requested), c.plotRange);
  AdjustCellRangeOffsets(&c);
  float shift[3];
  for (int k = 0; k < 3; k++)
    shift[k] = std::round(c.plotRange[2 * k] - requested[2 * k]);
  const CellLayout layout = LayoutForRange(c.plotRange);
  const int32_t *counts = layout.counts;

  // The atoms are regrown when the range needs more cells, or an image that
  // a face-only cell of the old range left out.
  const CellLayout oldLayout = LayoutForRange(oldRange);
  const double fullOld =
      double(std::max<int32_t>(c.atomsPerCell, 0)) * double(oldCounts[0]) * double(oldCounts[1]) * double(oldCounts[2]);
  const bool oldPartial = double(UsableAtomCount(c)) < fullOld;
  bool regrow = false;
  for (int k = 0; k < 3; k++) {
    regrow = regrow || counts[k] > oldCounts[k] ||
             (oldPartial && oldLayout.faceOnly[k] && counts[k] == 2 && !layout.faceOnly[k]);
  }
  regrow = regrow || (oldPartial && !oldLayout.faceOnly[0] && !oldLayout.faceOnly[1] && !oldLayout.faceOnly[2]);

  if (regrow) {
    // Refuse a size that cannot be made before the atoms are touched, so a
    // mistyped range never costs the structure its atoms.
    // Atoms that are the first cell, with nothing to hand on, become the
    // range themselves where they have the room for it (the build leaves
    // room for every site's full orbit): no other array is made. Otherwise
    // the range is made aside from the first cell read where it stands.
    const HeldAtomsSurvey survey = SurveyHeldAtoms(c, layout, c.plotRange);
    const bool handOn = survey.handOn;
    const int64_t heldTotal = survey.firstCellTotal;
    const bool inPlace = heldTotal >= 0 && (heldTotal == c.atomsPerCell ||
                                            static_cast<uint64_t>(heldTotal) <= uint64_t{c.atoms.capacity()});
    std::optional<FirstCellSource> firstCell = inPlace ? std::nullopt : ReadFirstCell(c);
    double need = static_cast<double>(std::max<int32_t>(c.atomsPerCell, 0));
    for (int32_t n : layout.counts)
      need *= static_cast<double>(n);
    const int64_t total = inPlace ? heldTotal : firstCell ? LayoutAtomCount(layout, c.plotRange, *firstCell) : 0;
    if (firstCell || inPlace)
      need = static_cast<double>(total);
    const double bytes = need * static_cast<double>(kBytesPerBuiltAtom);
    const double available = static_cast<double>(AvailableMemoryBytes());
    if (need > static_cast<double>(kMaxArrayRecords) || bytes > available) {
      MyCFStopAlert("No Memory for atoms", RangeTooLargeText(need, bytes, available));
      restoreRange();
      return false;
    }
    // The new block of cells is made aside: when memory runs out (the alert
    // "No Memory for atoms") or the user stops it, the old atoms, range and
    // cells stay.
    std::optional<std::vector<AtomRecord>> grown;
    bool cancelled = false;
    if (inPlace)
      grown = TileCellsInPlace(c, total, layout, c.plotRange, c.ellipsoidData != 0);
    else if (firstCell)
      grown = TileCells(*firstCell, total, layout, c.plotRange, c.ellipsoidData != 0, &cancelled);
    if (!grown) {
      if (cancelled)
        FWrite(kRangeCancelledText);
      else if (firstCell) // no first cell: its copy said why
        MyCFStopAlert("No Memory for atoms", RangeTooLargeText(need, bytes, available));
      restoreRange();
      return false;
    }
    firstCell.reset();
    // The old atoms are kept, at their places in the new range, only when
    // they have attributes to hand on to the new ones; they then leave the
    // structure, whose atoms are replaced next, rather than being copied.
    std::vector<AtomRecord> shifted;
    if (handOn) {
      const size_t oldAtoms = UsableAtomSize(c);
      shifted = std::move(c.atoms);
      shifted.erase(shifted.begin() + static_cast<std::ptrdiff_t>(oldAtoms), shifted.end());
    }
    for (AtomRecord &atom : shifted)
      for (int k = 0; k < 3; k++)
        atom.xyz[k] = atom.xyz[k] + shift[k];
    std::vector<VectorRecord> vectors = std::move(c.vectors);
    const int32_t vectorCount = c.vectorCount;
    c.vectors.clear();
    c.vectorCount = 0;
    DestroyAtomsArray(&c);
    c.atoms = std::move(*grown);
    c.atomCount = static_cast<int32_t>(c.atoms.size());
    c.derived.Note(kChangeAtoms);
    // Each site's atoms stand together, its first cell first.
    size_t next = 0;
    for (int32_t s = 0; s < UsableSiteCount(c); s++) {
      AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
      site.firstAtom = static_cast<int32_t>(next);
      while (next < c.atoms.size() && c.atoms[next].site == static_cast<uint32_t>(s))
        next++;
      site.lastAtom = static_cast<int32_t>(next) - 1;
    }
    c.na = counts[0];
    c.nb = counts[1];
    c.nc = counts[2];
    c.vectors = std::move(vectors);
    c.vectorCount = vectorCount;
    CopyAtomAttributesToCrystal(shifted.data(), static_cast<int32_t>(shifted.size()), &c);
  }

  ProgressStatus("Searching for atoms in range...");
  if (ApplyRangeLimits(&c) > 0)
    TurboGenerateBonds(&c);
  if (measure == PlotMeasure::Here || c.plane.shown || c.modelType == kPolyhedralModel)
    DimensionPlot(&c, c.plotCentre, &c.plotExtent);
  if (c.plane.shown)
    InitLatticePlane(&c);
  UpdateSetRange();
  return true;
}

bool ReplotWithPlotRange(WindowRef window, float xmin, float xmax, float ymin, float ymax, float zmin, float zmax,
                         bool rescale) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return false;
  CrystalRec &c = *crystal;
  if (c.molecule)
    return true;
  if (UsableSiteCount(c) < 1)
    return false;
  if (!SetPlotRange(window, xmin, xmax, ymin, ymax, zmin, zmax))
    return false;
  RebuildPolyhedraKeepingModes(c);
  DimensionPlot(&c, c.plotCentre, &c.plotExtent);
  if (rescale)
    AutoSetScale(window);
  NewPlot(window, false, true);
  return true;
}

int64_t CalculateNumAtomsInRange(const CrystalRec *crystal, const float min[3], const float max[3]) {
  if (!crystal || !min || !max)
    return 0;
  float lo[3], hi[3];
  for (int k = 0; k < 3; k++) {
    lo[k] = min[k];
    hi[k] = max[k];
    if (!std::isfinite(lo[k]) || !std::isfinite(hi[k]))
      return 0;
    NormaliseBounds(lo[k], hi[k]);
  }
  auto cell = ExtractFirstUnitCell(crystal);
  if (!cell)
    return 0;
  // Cells 0 .. last[k] along each axis. A cell strictly inside on every axis
  // holds all its atoms; in the others each atom is tested. The test is
  // separable by axis, and along an axis every interior cell index passes
  // (an atom of [0, 1] moved into cell i lies in [i, i + 1], inside the
  // bounds), so an atom counts in Nx x Ny x Nz cells, Nk being the interior
  // cells plus the two end cells where it lies within the bounds: the same
  // count as cell by cell, at the cost of one first cell.
  int32_t last[3];
  for (int k = 0; k < 3; k++)
    last[k] = CellsForBounds(lo[k], hi[k]) - 1;
  const RangeBounds bounds[3] = {{lo[0], hi[0]}, {lo[1], hi[1]}, {lo[2], hi[2]}};
  int64_t total = 0;
  for (AtomRecord &atom : *cell) {
    int64_t product = 1;
    for (int k = 0; k < 3 && product > 0; k++) {
      float v = atom.xyz[k];
      if (v < 0.0f)
        v = v + (1.0f - std::trunc(v));
      else if (v >= 1.0f)
        v = v - std::trunc(v);
      auto inside = [&](int32_t i) { return bounds[k].Holds(v + static_cast<float>(i)); };
      int64_t n = std::max<int64_t>(int64_t{last[k]} - 1, 0);
      if (inside(0))
        n++;
      if (last[k] >= 1 && inside(last[k]))
        n++;
      product *= n;
    }
    total += product;
  }
  return total;
}

// ---- Measuring ------------------------------------------------------------------

bool IsAtomFullyVisiblyBonded(const CrystalRec *crystal, int32_t atom) {
  if (!crystal || !ValidAtom(*crystal, atom))
    return false;
  const CrystalRec &c = *crystal;
  const AtomRecord &a = c.atoms[static_cast<size_t>(atom)];
  if (!a.visible || !ValidSite(c, a.site))
    return false;
  if (a.bondCount != c.sites[a.site].coordination)
    return false;
  if (a.bondCount > a.bonds.size())
    return false;
  for (uint32_t k = 0; k < a.bondCount; k++) {
    const uint32_t b = a.bonds[k];
    if (!ValidAtom(c, b) || !c.atoms[b].visible)
      return false;
  }
  return true;
}

bool IsAtomPlotted(CrystalRec *crystal, int32_t atom) {
  if (!crystal || !ValidAtom(*crystal, atom))
    return false;
  const CrystalRec &c = *crystal;
  const AtomRecord &a = c.atoms[static_cast<size_t>(atom)];
  if (!AtomShown(c, a))
    return false;
  if (c.modelType != kPolyhedralModel)
    return true;
  const uint32_t mode = SitePolyMode(c, a.site);
  if (ModeShowsAtom(mode))
    return true;
  if (mode != kVertexOnlyMode)
    return AtomPolyhedron(crystal, a) != nullptr;
  const uint32_t bonds = std::min<uint32_t>(a.bondCount, static_cast<uint32_t>(a.bonds.size()));
  for (uint32_t k = 0; k < bonds; k++) {
    const uint32_t b = a.bonds[k];
    if (!ValidAtom(c, b))
      continue;
    const AtomRecord &n = c.atoms[b];
    if (!n.visible || !ValidSite(c, n.site))
      continue;
    const uint32_t neighbourMode = SitePolyMode(c, n.site);
    if (ModeShowsAtom(neighbourMode))
      return true;
    if (neighbourMode != kVertexOnlyMode && AtomPolyhedron(crystal, n) &&
        IsAtomFullyVisiblyBonded(&c, static_cast<int32_t>(b)))
      return true;
  }
  return false;
}

void DimensionPlot(CrystalRec *crystal, float centre[3], float *extent) {
  if (!crystal || !centre || !extent)
    return;
  CrystalRec &c = *crystal;

  // The centre: the mean of the plotted atoms (summed in double, so that a
  // hundred thousand atoms do not lose the last digits). Their positions and
  // types are listed in atom order for the extent, which then reads a few
  // bytes an atom rather than every record again; the list is the thread's,
  // reused from one measure to the next. Without memory for it the extent
  // reads the records again.
  struct PlottedAtom {
    float cart[3];
    uint32_t atomType;
  };
  thread_local std::vector<PlottedAtom> plottedAtoms;
  plottedAtoms.clear();
  bool listed = true;
  try {
    plottedAtoms.reserve(UsableAtomSize(c));
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    listed = false;
  }
  // Outside the polyhedral model the plotted atoms are the shown ones.
  const bool polyhedral = c.modelType == kPolyhedralModel;
  auto plottedAtom = [&](int32_t k) {
    return polyhedral ? IsAtomPlotted(&c, k) : AtomShown(c, c.atoms[static_cast<size_t>(k)]);
  };
  double sum[3] = {0.0, 0.0, 0.0};
  int64_t plotted = 0;
  for (int32_t k = 0; k < UsableAtomCount(c); k++) {
    if (!plottedAtom(k))
      continue;
    const AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
    for (int d = 0; d < 3; d++)
      sum[d] += atom.cart[d];
    plotted++;
    if (listed)
      plottedAtoms.push_back({{atom.cart[0], atom.cart[1], atom.cart[2]}, atom.atomType});
  }
  float mean[3] = {centre[0], centre[1], centre[2]};
  if (plotted > 0)
    for (int d = 0; d < 3; d++)
      mean[d] = static_cast<float>(sum[d] / static_cast<double>(plotted));

  const bool cellShown = c.showUnitCell != 0;
  bool measured = plotted > 0;
  if (cellShown) {
    MakeUnitCell(&c);
    if (plotted == 0 && c.cellPointCount > 0) {
      double cellSum[3] = {0.0, 0.0, 0.0};
      for (const CellPoint &p : c.cellPoints)
        for (int d = 0; d < 3; d++)
          cellSum[d] += p.cart[d];
      for (int d = 0; d < 3; d++)
        mean[d] = static_cast<float>(cellSum[d] / static_cast<double>(c.cellPoints.size()));
      measured = true; // by the frame alone
    }
  }
  if (!measured)
    return;

  float largest = 0.0f;
  if (cellShown) {
    const float lineAllowance = c.plotScale > 0.0f ? c.unitCellLineWidth / c.plotScale : 0.0f;
    for (const CellPoint &p : c.cellPoints)
      largest = std::max(largest, Distance(p.cart, mean) + lineAllowance);
  }
  if (listed) {
    for (const PlottedAtom &atom : plottedAtoms)
      largest = std::max(largest, Distance(atom.cart, mean) + MeasuredRadius(c, atom.atomType));
  } else {
    for (int32_t k = 0; k < UsableAtomCount(c); k++) {
      if (!plottedAtom(k))
        continue;
      const AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
      largest = std::max(largest, Distance(atom.cart, mean) + MeasuredRadius(c, atom.atomType));
    }
  }
  if (c.vectorCount > 0) {
    GetVectorTipCoordinates(&c);
    for (const VectorRecord &v : c.vectors) {
      if (!ValidAtom(c, v.atom) || !AtomShown(c, c.atoms[v.atom]))
        continue;
      largest = std::max(largest, Distance(v.tipCart, mean));
    }
  }
  for (int d = 0; d < 3; d++)
    centre[d] = mean[d];
  *extent = std::max(2.0f * largest, kMinPlotExtent);
}

void GetAtomsXYZRange(const CrystalRec *crystal, float min[3], float max[3]) {
  for (int k = 0; k < 3; k++) {
    min[k] = kXYZRangeStart;
    max[k] = -kXYZRangeStart;
  }
  if (!crystal)
    return;
  const CrystalRec &c = *crystal;
  for (int32_t i = 0; i < UsableAtomCount(c); i++) {
    const AtomRecord &atom = c.atoms[static_cast<size_t>(i)];
    if (!AtomShown(c, atom))
      continue;
    for (int k = 0; k < 3; k++) {
      min[k] = std::min(min[k], atom.xyz[k]);
      max[k] = std::max(max[k], atom.xyz[k]);
    }
  }
}

void GetAtomsXpixRange(const CrystalRec *crystal, int16_t *left, int16_t *right, int16_t *top, int16_t *bottom) {
  int16_t dummy;
  left = left ? left : &dummy;
  right = right ? right : &dummy;
  top = top ? top : &dummy;
  bottom = bottom ? bottom : &dummy;
  *left = *right = *top = *bottom = 0;
  if (!crystal || UsableAtomCount(*crystal) == 0)
    return;
  const CrystalRec &c = *crystal;
  int64_t l = kPixBoxStartMin, t = kPixBoxStartMin, r = kPixBoxStartMax, b = kPixBoxStartMax;
  auto widen = [&](int64_t x, int64_t y, int64_t h) {
    l = std::min(l, x - h);
    r = std::max(r, x + h);
    t = std::min(t, y - h);
    b = std::max(b, y + h);
  };

  // Half-sizes of the atom types.
  const bool anySelected = CrystalHasSelectedAtoms(&c);
  std::vector<int64_t> half(static_cast<size_t>(UsableSphereCount(c)), kMinAtomHalfSize);
  for (int32_t i = 0; i < UsableSphereCount(c); i++) {
    const SphereRecord &s = c.spheres[static_cast<size_t>(i)];
    int64_t h;
    if (s.image1)
      h = (s.bounds1.right - s.bounds1.left) / 2 + 1;
    else if (c.modelType != kStickModel)
      h = static_cast<int64_t>(std::clamp(std::ceil(s.drawnRadius * c.plotScale), -1.0e9f, 1.0e9f)) + 1;
    else
      h = static_cast<int64_t>(std::clamp(c.stickRadius * c.minAtomRadius * c.plotScale + 1.0f, -1.0e9f, 1.0e9f));
    if (s.image2)
      h = std::max<int64_t>(h, (s.bounds2.right - s.bounds2.left) / 2 + 1);
    h = std::max<int64_t>(h, kMinAtomHalfSize);
    if (anySelected)
      h += kSelectionMargin;
    half[static_cast<size_t>(i)] = h;
  }

  bool labelled = false;
  for (int32_t i = 0; i < UsableAtomCount(c); i++) {
    const AtomRecord &atom = c.atoms[static_cast<size_t>(i)];
    if (!AtomShown(c, atom))
      continue;
    const int64_t h = atom.atomType < half.size() ? half[atom.atomType] : kMinAtomHalfSize;
    widen(atom.pixel[0], atom.pixel[1], h);
    if (atom.labelled)
      labelled = true;
  }
  if (c.showUnitCell && !c.molecule) {
    const int64_t h = static_cast<int64_t>(std::ceil(2.0f * c.unitCellLineWidth) + kCellLineMargin);
    for (const CellPoint &p : c.cellPoints) {
      widen(p.pixel[0], p.pixel[1], h);
      if (p.labelled)
        labelled = true;
    }
  }
  if (c.plane.shown)
    for (uint16_t k = 0; k < std::min<uint16_t>(c.plane.vertexCount, kLatticePlaneMaxVertices); k++)
      widen(c.plane.vertices[k].pixel[0], c.plane.vertices[k].pixel[1], kPlaneVertexMargin);
  for (const VectorRecord &v : c.vectors) {
    const int64_t h = static_cast<int64_t>(std::clamp(v.headRadius * c.plotScale, -1.0e9f, 1.0e9f));
    widen(v.tipPixel[0], v.tipPixel[1], h);
    if (v.style == 2 && ValidAtom(c, v.atom)) {
      const AtomRecord &atom = c.atoms[v.atom];
      widen(2 * int64_t{atom.pixel[0]} - v.tipPixel[0], 2 * int64_t{atom.pixel[1]} - v.tipPixel[1], h);
    }
  }
  if (labelled) {
    float width = 0.0f, height = 0.0f;
    const std::string font(c.labelFont.view());
    CFStringGetSize(LabelSampleText(c.atomLabelType), font.c_str(), std::round(c.labelSize), width, height);
    const int64_t dx = static_cast<int64_t>(kLabelWidthFactor * width);
    const int64_t dy = static_cast<int64_t>(std::round(kLabelHeightFactor * c.labelSize));
    l -= dx;
    r += dx;
    t -= dy;
    b += dy;
  }
  *left = ClampToInt16(l);
  *right = ClampToInt16(r);
  *top = ClampToInt16(t);
  *bottom = ClampToInt16(b);
}

// ---- Scale ------------------------------------------------------------------------

void AutoSetScale(WindowRef window) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  int32_t width = pane.right - pane.left;
  const int32_t height = pane.bottom - pane.top;
  if (c.stereoOn && c.stereoMode == kSideBySideStereo)
    width /= 2;
  if (!(c.plotExtent > 0.0f))
    return;
  const float scale = static_cast<float>(std::min(width, height)) / c.plotExtent;
  DoChangePlotScale(&c, scale);
}

bool DoChangePlotScale(CrystalRec *crystal, float scale) {
  if (!crystal || !(scale > 0.0f) || !std::isfinite(scale))
    return false;
  CrystalRec &c = *crystal;
  // Zooming, resizing and every sheet stay within what a document keeps.
  scale = std::clamp(scale, kMinStoredPlotScale, kMaxPlotScale);
  const float old = c.plotScale;
  if (old > 0.0f && c.labelSizeFollowsScale) {
    c.labelSize = std::clamp(c.labelSize * (scale / old), kMinLabelSize, kMaxLabelSize);
    UpdateLabelOptionsSizeField(c.labelSize);
  }
  c.plotScale = scale;
  return true;
}

void AdjustScaleToWindowBounds(CrystalRec *crystal, int16_t oldWidth, int16_t oldHeight, WindowRef window) {
  if (!crystal || crystal->plotScale == 0.0f || oldWidth == 0 || oldHeight == 0)
    return;
  CrystalRec &c = *crystal;
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  int32_t width = pane.right - pane.left;
  const int32_t height = pane.bottom - pane.top;
  if (width <= 0 || height <= 0)
    return;
  if (c.stereoOn && c.stereoMode == kSideBySideStereo)
    width /= 2;
  const float w = static_cast<float>(width), h = static_cast<float>(height);
  const float ow = static_cast<float>(oldWidth), oh = static_cast<float>(oldHeight);
  const float newDiagonal = std::sqrt(w * w + h * h);
  const float oldDiagonal = std::sqrt(ow * ow + oh * oh);
  c.plotScale = c.plotScale * (newDiagonal / oldDiagonal);
}

// ---- The cluster --------------------------------------------------------------------

void DrawCluster(WindowRef window, float centre[3], float innerRadius, float radius, bool showProgress,
                 bool selectCentre) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || !centre)
    return;
  CrystalRec &c = *crystal;
  gShowProgress = showProgress ? 1 : 0;
  auto finish = [] { gShowProgress = 0; };

  const float d[3] = {DSpace(&c, 1, 0, 0), DSpace(&c, 0, 1, 0), DSpace(&c, 0, 0, 1)};
  if (!(d[0] > 0.0f && d[1] > 0.0f && d[2] > 0.0f) || !std::isfinite(radius)) {
    finish();
    return;
  }
  c.showUnitCell = 0;
  const float savedScale = c.plotScale;
  const float half[3] = {radius / d[0], radius / d[1], radius / d[2]};
  ProgressStatus("Adjusting the plot range...");
  if (!SetPlotRange(window, centre[0] - half[0], centre[0] + half[0], centre[1] - half[1], centre[1] + half[1],
                    centre[2] - half[2], centre[2] + half[2])) {
    CloseStatus();
    finish();
    return;
  }
  for (int k = 0; k < 3; k++)
    centre[k] = c.plotRange[2 * k] + half[k];

  ProgressStatus("Generating new polyhedra...");
  RebuildPolyhedraKeepingModes(c);

  float centreCart[3];
  MatMul(c.orientationMatrix, centre, centreCart);
  ProgressStatus("Hiding atoms outside cluster...");
  SetCrystalAtomSelectionNone(&c);
  int32_t counted = 0;
  for (int32_t k = 0; k < UsableAtomCount(c); k++) {
    AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
    if (!atom.visible)
      continue;
    const float dist = Distance(atom.cart, centreCart);
    if (dist > radius) {
      atom.visible = 0;
    } else if (dist < kClusterCentreDistance) {
      if (selectCentre)
        atom.selected = 1;
    } else if (dist < innerRadius) {
      atom.visible = 0;
    } else {
      counted++;
    }
  }
  if (counted > 0) {
    FitScaleAndReplot(window, c);
  } else {
    c.plotScale = savedScale;
    NewPlot(window, false, true);
  }
  finish();
}
