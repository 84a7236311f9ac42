#include "BuildPipeline.h"

#include "Alerts.h"
#include "BondSearch.h"
#include "DerivedLayers.h"
#include "Geometry.h"
#include "KeptVectors.h"
#include "PlotRange.h"
#include "Polyhedra.h"
#include "RenderServices.h"
#include "StructureArrays.h"
#include "UnitCell.h"
#include "VectorMath.h"
#include "ViewOrientation.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

void ProgressStatus(std::string_view text) {
  if (gShowProgress)
    WriteStatus(text);
}

std::string WindowTitle(WindowRef window) {
  HostServices *host = GetHostServices();
  return host ? host->WindowTitle(window) : std::string();
}

void ShowBuiltWindow(WindowRef window) {
  if (HostServices *host = GetHostServices())
    host->ShowWindow(window);
}

void ClearEllipsoidModel(CrystalRec &c) {
  if (c.modelType == kThermalEllipsoidModel && !c.ellipsoidData)
    c.modelType = kBallAndStickModel;
}

// "> Plotting the structure of: <title>; calculated formula: <formula>", the
// formula only while the line stays within the limit.
void WriteBuildLine(const CrystalRec &c, WindowRef window) {
  std::string line = kBuildLogPrefix;
  line += WindowTitle(window);
  line += kBuildLogFormula;
  std::string formula;
  GetCalcFormula(&c, &formula);
  if (line.size() + formula.size() < kBuildLogLineLimit)
    line += formula;
  FWrite(line);
}

// True when some atom of the built structure has a bond. The coordination
// search can give up where the bonding of the plotted atoms does not (a
// very long maximum), so the alert that no bond was found asks the result.
bool AnyAtomBonded(const CrystalRec &c) {
  for (size_t k = 0; k < UsableAtomSize(c); k++)
    if (c.atoms[k].bondCount > 0)
      return true;
  return false;
}

// Atoms left from before the sites changed (a sort, a deletion) may name
// sites that no longer exist; they are dropped, the build makes new ones.
void DropStaleAtoms(CrystalRec &c) {
  const uint32_t sites = static_cast<uint32_t>(UsableSiteCount(c));
  for (int32_t k = 0; k < UsableAtomCount(c); k++) {
    if (c.atoms[static_cast<size_t>(k)].site >= sites) {
      DestroyAtomsArray(&c);
      return;
    }
  }
}

bool SitesNameValidTypes(const CrystalRec &c) {
  const uint32_t types = static_cast<uint32_t>(UsableSphereCount(c));
  for (int32_t s = 0; s < UsableSiteCount(c); s++)
    if (c.sites[static_cast<size_t>(s)].atomType >= types)
      return false;
  return true;
}

// Purges the atom types no site uses, or makes them afresh when there are
// none, or when a site names a type that does not exist.
void PrepareAtomTypes(CrystalRec &c) {
  if (UsableSphereCount(c) > 0) {
    PurgeCustomSpheres(&c);
    if (!SitesNameValidTypes(c))
      GenerateSpheres(&c);
  } else {
    GenerateSpheres(&c);
  }
}

} // namespace

void CloseWindowAfterFailedBuild(WindowRef window) {
  CloseStatus();
  if (const CrystalRec *c = GetWindowCrystal(window))
    ForgetKeptVectors(*c);
  if (HostServices *host = GetHostServices())
    host->CloseWindow(window);
}

bool RunNewCrystal(WindowRef window, bool applyViewDirection, bool recentre, bool rescale) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return false;
  CrystalRec &c = *crystal;

  ClearEllipsoidModel(c);
  if (!CheckCellIsValid(&c))
    return false;
  const float oldCentre[3] = {c.plotCentre[0], c.plotCentre[1], c.plotCentre[2]};
  GetMetricTensor(c.a, c.b, c.c, c.alpha, c.beta, c.gamma, c.metricTensor);

  // The vectors leave with the atoms they name and come back on the atoms
  // built at their places.
  KeptVectors vectors(c);
  StructureBuildStarts(&c);
  DropStaleAtoms(c);
  PrepareAtomTypes(c);
  if (UsableSphereCount(c) < 1) {
    MyCFCautionAlert("Error generating atom spheres");
    return false;
  }

  ProgressStatus("Removing symmetry-related sites");
  RemoveSymmetryRelatedSites(&c);

  if (gShowProgress)
    WriteProgress("Generating all atoms in the selected region...", 0.0f);
  if (!GenCell(&c)) {
    CloseWindowAfterFailedBuild(window);
    return false;
  }

  ProgressStatus("Calculating orthogonal coordinates...");
  ApplyViewDirection(&c, applyViewDirection);

  WriteBuildLine(c, window);

  bool specFoundNothing = false;
  const bool anyBond = TurboGetCoordinationNumbers(&c, &specFoundNothing);

  ProgressStatus("Setting the plot range and bonding...");
  float requested[6];
  std::copy(std::begin(c.plotRange), std::end(c.plotRange), requested);
  for (int axis = 0; axis < 3; axis++) {
    c.plotRange[2 * axis] = 0.0f;
    c.plotRange[2 * axis + 1] = kFirstCellRangeMax;
  }
  c.na = c.nb = c.nc = 1;
  // A stored range too large for memory (refused with its alert) gives way
  // to the first cell, which is still bonded and shown. The plot is measured
  // below, once the polyhedra are made.
  if (!SetPlotRange(window, requested[0], requested[1], requested[2], requested[3], requested[4], requested[5],
                    PlotMeasure::ByCaller))
    SetPlotRange(window, 0.0f, kFirstCellRangeMax, 0.0f, kFirstCellRangeMax, 0.0f, kFirstCellRangeMax,
                 PlotMeasure::ByCaller);
  if (UsableAtomCount(c) < 1) {
    CloseWindowAfterFailedBuild(window);
    return false;
  }

  if (!recentre)
    std::copy(std::begin(oldCentre), std::end(oldCentre), c.plotCentre);

  ProgressStatus("Generating polyhedra...");
  BondsMade(&c);
  ProgressStatus("");

  vectors.PutBack();
  DimensionPlot(&c, c.plotCentre, &c.plotExtent);
  if (rescale || c.plotScale == 0.0f)
    AutoSetScale(window);

  ResetOffScreen(window);
  ProgressStatus("Drawing the structure...");
  NewPlot(window, false, true);
  ShowBuiltWindow(window);
  CloseStatus();
  if (WindowHasPrintPreview(window))
    MyC2PString(WindowTitle(window), GetWindowPrintPreview(window)->title);
  UpdateFloatingWindows();

  // A bond search refused for memory or stopped by the user has said so:
  // its structure has no bonds, but not for want of a longer maximum.
  if (c.bondSpecCount > 0 && TurboLastBondSearchEnd() == BondSearchEnd::Complete) {
    if (!anyBond && !AnyAtomBonded(c)) {
      MyCFCautionAlert("No bonds found!",
                       "Try using the Edit > Bonding command to increase the bond length tolerance (Bmax).");
    } else if (specFoundNothing) {
      SubtitleWindowOutput(window);
      FWriteColor("Not all requested bonds could be found.", kRGBRed);
      FWriteColor("You may wish to edit your bond specifications (Edit > Bonding).", kRGBRed);
    }
  }
  return true;
}

bool RunNewMolecule(WindowRef window, bool applyViewDirection, bool recentre, bool rescale, bool makeBonds) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || !crystal->molecule)
    return false;
  CrystalRec &c = *crystal;

  ClearEllipsoidModel(c);
  c.sites.resize(static_cast<size_t>(UsableSiteCount(c)));
  c.atoms.resize(static_cast<size_t>(UsableAtomCount(c)));

  ProgressStatus("Scanning molecular data...");
  MyStrCopy(std::span<char>(c.spaceGroup), "P 1");
  c.showUnitCell = 0;
  c.showAxes = 0;

  const int32_t nAtoms = UsableAtomCount(c);
  const int32_t nSites = UsableSiteCount(c);
  // The extremes start from infinity rather than from +-999.9 A: large
  // models place atoms beyond that, and a bound inside the molecule would
  // give it a box too small to hold it.
  float lo[3], hi[3];
  for (int axis = 0; axis < 3; axis++) {
    lo[axis] = std::numeric_limits<float>::infinity();
    hi[axis] = -std::numeric_limits<float>::infinity();
  }
  for (int32_t k = 0; k < nAtoms; k++) {
    AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
    atom.visible = 1;
    if (atom.site < static_cast<uint32_t>(nSites))
      atom.atomType = c.sites[atom.site].atomType;
    for (int axis = 0; axis < 3; axis++) {
      const float v = atom.cart[axis];
      if (!std::isfinite(v))
        continue;
      lo[axis] = std::min(lo[axis], v);
      hi[axis] = std::max(hi[axis], v);
    }
  }
  float span = hi[0] - lo[0];
  span = std::max(span, hi[1] - lo[1]);
  span = std::max(span, hi[2] - lo[2]);
  float edge = kMoleculeBoxFactor * span;
  if (!(edge >= kMoleculeBoxMinimum))
    edge = kMoleculeBoxDefault;
  c.a = c.b = c.c = edge;
  c.alpha = c.beta = c.gamma = 90.0f;
  GetMetricTensor(c.a, c.b, c.c, c.alpha, c.beta, c.gamma, c.metricTensor);

  const bool freshTypes = UsableSphereCount(c) < 1 || !SitesNameValidTypes(c);
  PrepareAtomTypes(c);
  if (freshTypes) {
    // The new types are numbered afresh: the atoms follow their sites.
    for (int32_t k = 0; k < nAtoms; k++) {
      AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
      if (atom.site < static_cast<uint32_t>(nSites))
        atom.atomType = c.sites[atom.site].atomType;
    }
  }

  WriteBuildLine(c, window);

  if (makeBonds)
    TurboGenerateBonds(&c);

  for (int32_t k = 0; k < nAtoms; k++) {
    AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
    if (k < nSites)
      c.sites[static_cast<size_t>(k)].coordination = atom.bondCount;
    atom.visible = 1;
    for (int axis = 0; axis < 3; axis++)
      atom.xyz[axis] = atom.cart[axis] / edge;
  }
  // The atoms' fractions are those of the new box: what the bonds were
  // searched with is replaced.
  c.derived.Note(kChangeAtoms);

  std::fill(std::begin(c.orientationMatrix), std::end(c.orientationMatrix), 0.0f);
  c.orientationMatrix[0] = c.orientationMatrix[4] = c.orientationMatrix[8] = edge;
  if (applyViewDirection) {
    ApplyViewDirection(&c, true);
  } else {
    c.viewDirection[0] = 0.0f;
    c.viewDirection[1] = 0.0f;
    c.viewDirection[2] = 1.0f;
  }

  for (int axis = 0; axis < 3; axis++) {
    c.plotRange[2 * axis] = 0.0f;
    c.plotRange[2 * axis + 1] = 1.0f;
  }
  c.na = c.nb = c.nc = 1;

  float centre[3] = {c.plotCentre[0], c.plotCentre[1], c.plotCentre[2]};
  DimensionPlot(&c, centre, &c.plotExtent);
  if (recentre)
    std::copy(std::begin(centre), std::end(centre), c.plotCentre);
  if (rescale || c.plotScale == 0.0f)
    AutoSetScale(window);

  ProgressStatus("Finding polyhedra...");
  BondsMade(&c);
  ResetOffScreen(window);
  ProgressStatus("Preparing to plot...");
  NewPlot(window, false, true);

  // The status window closes whether or not the window holds a file, so a
  // build of a scratch window never leaves it behind.
  CloseStatus();
  if (IsWindowFileOpen(window)) {
    ShowBuiltWindow(window);
    UpdateFloatingWindows();
  }
  return true;
}

bool RunNewBonding(WindowRef window, CrystalRec *crystal) {
  if (!crystal)
    return false;
  CrystalRec &c = *crystal;
  if (!c.molecule) {
    ProgressStatus("Determining coordination environments...");
    TurboGetCoordinationNumbers(&c, nullptr);
    ProgressStatus("Generating bonding...");
    TurboGenerateBonds(&c);
  } else {
    if (UsableSiteCount(c) < 1 || UsableAtomCount(c) < 1) {
      CloseStatus();
      return false;
    }
    const int32_t n = std::min(UsableSiteCount(c), UsableAtomCount(c));
    for (int32_t k = 0; k < n; k++)
      c.sites[static_cast<size_t>(k)].coordination = c.atoms[static_cast<size_t>(k)].bondCount;
  }
  ProgressStatus("Generating polyhedra...");
  BondsMade(&c);
  ProgressStatus("Drawing the structure...");
  NewPlot(window, false, true);
  CloseStatus();
  UpdateFloatingWindows();
  return true;
}
