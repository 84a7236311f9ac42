#include "StructureTransforms.h"

#include "Alerts.h"
#include "AutoBonds.h"
#include "BondSearch.h"
#include "BuildPipeline.h"
#include "CellTransform.h"
#include "Geometry.h"
#include "KeptVectors.h"
#include "LatticePlanes.h"
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
#include <cstring>
#include <numbers>
#include <optional>

namespace {

// Starting values of the bounding-box search.
constexpr float kBoxStart = 9.99e23f;
// A bearing of the a axis below this (radians) is left alone.
constexpr float kBearingTolerance = 0.0001f;
// The plot range a new crystal shows: one cell.
constexpr float kOneCellRangeMax = 0.99999f;
// The starting nearest distance of the insert-space proposal.
constexpr float kNearestStart = 9.999e33f;

bool InvertOrientation(const CrystalRec &c, float inverse[9]) {
  if (Det3x3Mat(c.orientationMatrix) == 0.0f)
    return false;
  return Inv3x3Mat(c.orientationMatrix, inverse);
}

bool SiteVisible(const CrystalRec &c, const AtomRecord &atom) {
  return atom.site < UsableSiteSize(c) && c.sites[atom.site].visible;
}

// The atoms a bend acts on: visible, selected, of a visible site.
std::vector<int32_t> BendAtoms(const CrystalRec &c) {
  std::vector<int32_t> out;
  for (size_t i = 0; i < UsableAtomSize(c); i++) {
    const AtomRecord &atom = c.atoms[i];
    if (atom.visible && atom.selected && SiteVisible(c, atom))
      out.push_back(static_cast<int32_t>(i));
  }
  return out;
}

void PlaneOutlineCentre(const CrystalRec &c, float centre[3]) {
  ZeroVector(centre);
  const int n = std::min<int>(c.plane.vertexCount, kLatticePlaneMaxVertices);
  if (n < 1) {
    CopyVector(centre, c.plane.point);
    return;
  }
  for (int k = 0; k < n; k++)
    VecAdd(centre, c.plane.vertices[k].cart, centre);
  VecScalarMult(centre, 1.0f / static_cast<float>(n), centre);
}

} // namespace

// ---- Molecule and crystal ---------------------------------------------------------

bool GetMoleculeExtents(const CrystalRec &crystal, float extents[3]) {
  float lo[3] = {kBoxStart, kBoxStart, kBoxStart};
  float hi[3] = {-kBoxStart, -kBoxStart, -kBoxStart};
  const size_t n = UsableAtomSize(crystal);
  if (n == 0)
    return false;
  for (size_t i = 0; i < n; i++)
    for (int m = 0; m < 3; m++) {
      lo[m] = std::min(lo[m], crystal.atoms[i].cart[m]);
      hi[m] = std::max(hi[m], crystal.atoms[i].cart[m]);
    }
  for (int m = 0; m < 3; m++)
    extents[m] = std::max(hi[m] - lo[m], kMinMoleculeExtent);
  return true;
}

float ProposedMoleculeCellLength(float extent) {
  return std::max(kMoleculeCellFactor * extent, extent + kMoleculeCellPadding);
}

bool MoleculeToCrystal(WindowRef window, float a, float b, float c, float alpha, float beta, float gamma,
                       bool atOrigin) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || !crystal->molecule || UsableAtomSize(*crystal) == 0 ||
      UsableSiteSize(*crystal) != UsableAtomSize(*crystal) || !CellIsValid(a, b, c, alpha, beta, gamma))
    return false;
  CrystalRec &x = *crystal;

  // The orientation of the new cell: looking down c, a along the screen's x.
  float G[9], O[9];
  GetMetricTensor(a, b, c, alpha, beta, gamma, G);
  CrystalRec probe; // Plane2Vector reads only the cell
  probe.a = a;
  probe.b = b;
  probe.c = c;
  probe.alpha = alpha;
  probe.beta = beta;
  probe.gamma = gamma;
  Copy3x3Mat(probe.metricTensor, G);
  const float down[3] = {0.0f, 0.0f, -1.0f};
  float view[3];
  Plane2Vector(&probe, down, view);
  if (!GetOrientationMatrix(view, G, O))
    return false;
  const float axisA[3] = {1.0f, 0.0f, 0.0f};
  const float origin[3] = {0.0f, 0.0f, 0.0f};
  float onScreen[3];
  MatMul(O, axisA, onScreen);
  const float bearing = GetVectorBearing(origin, onScreen);
  if (std::fabs(bearing) > kBearingTolerance) {
    float R[9], turned[9];
    GetRotationMatrixFromAngles(0.0f, 0.0f, static_cast<float>(-bearing * kRadToDeg), R);
    MatMul33x33(R, O, turned);
    Copy3x3Mat(O, turned);
  }
  float inverse[9];
  if (!Inv3x3Mat(O, inverse))
    return false;

  // The molecule's centroid goes to the target point.
  const float targetFrac[3] = {atOrigin ? 0.0f : 0.5f, atOrigin ? 0.0f : 0.5f, atOrigin ? 0.0f : 0.5f};
  float target[3], centroid[3] = {0, 0, 0}, shift[3];
  MatMul(O, targetFrac, target);
  const size_t n = UsableAtomSize(x);
  double sum[3] = {0, 0, 0};
  for (size_t i = 0; i < n; i++)
    for (int m = 0; m < 3; m++)
      sum[m] += x.atoms[i].cart[m];
  for (int m = 0; m < 3; m++)
    centroid[m] = static_cast<float>(sum[m] / static_cast<double>(n));
  VecDiff(target, centroid, shift);
  // The vectors follow their atoms into the cell: a position x of the
  // molecule's frame goes to O^-1 (Om x + shift), a direction to O^-1 Om u.
  KeptVectors vectors(x);
  double toCell[9], toCellShift[3];
  for (int i = 0; i < 3; i++) {
    toCellShift[i] = 0.0;
    for (int j = 0; j < 3; j++) {
      toCellShift[i] += static_cast<double>(inverse[3 * i + j]) * static_cast<double>(shift[j]);
      toCell[3 * i + j] = 0.0;
      for (int k = 0; k < 3; k++)
        toCell[3 * i + j] +=
            static_cast<double>(inverse[3 * i + k]) * static_cast<double>(x.orientationMatrix[3 * k + j]);
    }
  }
  vectors.Move(toCell, toCellShift);
  for (size_t i = 0; i < n; i++) {
    AtomRecord &atom = x.atoms[i];
    VecAdd(atom.cart, shift, atom.cart);
    MatMul(inverse, atom.cart, atom.xyz);
    if (atom.site < UsableSiteSize(x))
      MoveVectorIntoCell(x.sites[atom.site].xyz, atom.xyz);
  }

  x.a = a;
  x.b = b;
  x.c = c;
  x.alpha = alpha;
  x.beta = beta;
  x.gamma = gamma;
  Copy3x3Mat(x.metricTensor, G);
  CopyVector(x.viewDirection, view);
  Copy3x3Mat(x.orientationMatrix, O);
  MyStrCopy(std::span<char>(x.spaceGroup), "P 1");
  x.latticeLetter = 'P';
  x.cardCount = 0;
  x.originChoice = 0;
  ZeroVector(x.originShift);
  x.molecule = 0;
  for (int m = 0; m < 3; m++) {
    x.plotRange[2 * m] = 0.0f;
    x.plotRange[2 * m + 1] = kOneCellRangeMax;
  }
  x.showUnitCell = 1;
  x.unitCellOptions[0] = 1; // the cell at the centre of the plot range only
  gShowProgress = 1;
  const bool built = RunNewCrystal(window, false, false, false);
  gShowProgress = 0;
  return built;
}

void CrystalToMolecule(WindowRef window) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || crystal->molecule)
    return;
  CrystalRec &c = *crystal;
  // The sites' modes go to the atoms' own sites as the roles left them.
  NoteStructureChange(&c, kChangeSites | kChangeAtoms | kChangeBonds | kChangeGroups);
  const size_t nOld = UsableAtomSize(c);
  std::vector<int32_t> newIndex(nOld, -1);
  int32_t n = 0;
  for (size_t i = 0; i < nOld; i++)
    if (c.atoms[i].visible && c.atoms[i].site < UsableSiteSize(c))
      newIndex[i] = n++;
  if (n == 0)
    return;
  gShowProgress = 1;
  // The copied atoms keep their places: a vector on a hidden atom is left
  // out with the atom.
  KeptVectors vectors(c);

  std::vector<AsymmetricUnitRecord> sites(static_cast<size_t>(n));
  std::vector<AtomRecord> atoms(static_cast<size_t>(n));
  // The images of a site whose images were alternatives become groups of
  // their own (BondSearch.h), so that what was apart stays apart.
  const ImageDisorder disorder = ImageAssemblies(c);
  const std::vector<int16_t> &assemblies = disorder.assemblies;
  std::optional<std::vector<GEP>> ops;
  if (std::any_of(assemblies.begin(), assemblies.end(), [](int16_t a) { return a != 0; }))
    ops = GetCrystalGEPs(&c, nullptr);
  for (size_t i = 0; i < nOld; i++) {
    const int32_t k = newIndex[i];
    if (k < 0)
      continue;
    AtomRecord &atom = atoms[static_cast<size_t>(k)];
    atom = std::move(c.atoms[i]);
    AsymmetricUnitRecord &site = sites[static_cast<size_t>(k)];
    site = c.sites[atom.site];
    if (ops && atom.site < assemblies.size() && assemblies[atom.site] != 0) {
      site.disorderAssembly = assemblies[atom.site];
      site.disorderGroup = ImageGroup(disorder, *ops, atom.site, c.sites[atom.site], atom.xyz, c.originShift);
    }
    site.firstAtom = k;
    site.lastAtom = k;
    site.atomsPerCell = 1;
    atom.site = static_cast<uint32_t>(k);
    atom.polyhedron.Drop();
    BondList bonds;
    bonds.reserve(atom.bonds.size());
    for (size_t b = 0; b < std::min<size_t>(atom.bondCount, atom.bonds.size()); b++) {
      const uint32_t j = atom.bonds[b];
      if (j < nOld && newIndex[j] >= 0)
        bonds.push_back(static_cast<uint32_t>(newIndex[j]));
    }
    atom.bonds = std::move(bonds);
    atom.bondCount = static_cast<uint32_t>(atom.bonds.size());
    site.coordination = atom.bondCount;
  }

  // Custom bonds on hidden atoms go; the rest follow their atoms.
  std::vector<CustomBondSpec> customs;
  for (size_t s = 0; s < UsableRecords(c.customBondSpecs.size(), c.customBondSpecCount); s++) {
    CustomBondSpec spec = c.customBondSpecs[s];
    if (spec.atomA < nOld && spec.atomB < nOld && newIndex[spec.atomA] >= 0 && newIndex[spec.atomB] >= 0) {
      spec.atomA = static_cast<uint32_t>(newIndex[spec.atomA]);
      spec.atomB = static_cast<uint32_t>(newIndex[spec.atomB]);
      customs.push_back(spec);
    }
  }

  DestroySortIndex(&c);
  DestroyCellPts(&c);
  c.sites = std::move(sites);
  c.atoms = std::move(atoms);
  c.customBondSpecs = std::move(customs);
  c.siteCount = n;
  c.atomCount = n;
  c.atomsPerCell = n;
  c.customBondSpecCount = static_cast<int32_t>(c.customBondSpecs.size());
  c.molecule = 1;
  vectors.PutBack();
  // A molecule has no symmetry: no symbol, no operators, no origin shift.
  std::memset(c.spaceGroup, 0, sizeof c.spaceGroup);
  c.latticeLetter = 'P';
  c.cardCount = 0;
  c.originChoice = 0;
  ZeroVector(c.originShift);
  c.ellipsoidData = 0;
  if (c.modelType == kThermalEllipsoidModel)
    c.modelType = kBallAndStickModel;
  // The groups were read from the crystal this molecule replaces.
  c.derived.Note(kChangeSites | kChangeAtoms | kChangeGroups);
  PurgeUnusedAtomSpheres(&c);
  PurgeUnusedBondSpecs(&c);
  WriteStatus("Updating polyhedra");
  DefinePolyhedra(&c);
  UpdateFloatingWindows();
  c.showUnitCell = 0;
  NewPlot(window, false, true);
  CloseStatus();
  gShowProgress = 0;
}

void AutoGenerateBonds(WindowRef window) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || UsableSiteSize(*crystal) == 0)
    return;
  // Roles still due are those of the bonds being replaced, as they stood
  // before the search gives the modes afresh.
  NoteStructureChange(crystal, kChangeBonds);
  if (gShowProgress)
    WriteStatus("Automatic bond search in progress...");
  AutoBondSearch(crystal);
  if (gShowProgress)
    WriteStatus("Generating polyhedra...");
  DefinePolyhedra(crystal);
  NewPlot(window, false, true);
  CloseStatus();
  UpdateFloatingWindows();
  SubtitleWindowOutput(window);
}

// ---- Bending ---------------------------------------------------------------------

float ProposeBendRadius(const CrystalRec &crystal) {
  const std::vector<int32_t> atoms = BendAtoms(crystal);
  if (atoms.empty())
    return 0.0f;
  float lo = kBoxStart, hi = -kBoxStart;
  for (int32_t i : atoms) {
    lo = std::min(lo, crystal.atoms[static_cast<size_t>(i)].cart[0]);
    hi = std::max(hi, crystal.atoms[static_cast<size_t>(i)].cart[0]);
  }
  return static_cast<float>((hi - lo) / (2.0 * std::numbers::pi));
}

bool DoBendLattice(WindowRef window, float radius) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || !(radius > 0.0f))
    return false;
  CrystalRec &c = *crystal;
  const std::vector<int32_t> atoms = BendAtoms(c);
  float inverse[9];
  if (atoms.size() < 2 || !InvertOrientation(c, inverse))
    return false;
  float xlo = kBoxStart, xhi = -kBoxStart, ymin = kBoxStart;
  for (int32_t i : atoms) {
    const float *p = c.atoms[static_cast<size_t>(i)].cart;
    xlo = std::min(xlo, p[0]);
    xhi = std::max(xhi, p[0]);
    ymin = std::min(ymin, p[1]);
  }
  const double xmid = (static_cast<double>(xlo) + xhi) / 2.0;
  double drop = 0.0;
  std::vector<double> bent(atoms.size() * 2);
  for (size_t k = 0; k < atoms.size(); k++) {
    const float *p = c.atoms[static_cast<size_t>(atoms[k])].cart;
    const double t = (p[0] - xmid) / radius;
    const double h = p[1] - ymin + radius;
    bent[2 * k] = xmid + h * std::sin(t);
    bent[2 * k + 1] = p[1] - h * (1.0 - std::cos(t));
    drop = std::max(drop, h * (1.0 - std::cos(t)));
  }
  // A molecule's sites move with its atoms.
  NoteStructureChange(&c, kChangeAtoms | (c.molecule ? kChangeSites : 0u));
  for (size_t k = 0; k < atoms.size(); k++) {
    AtomRecord &atom = c.atoms[static_cast<size_t>(atoms[k])];
    atom.cart[0] = static_cast<float>(bent[2 * k]);
    atom.cart[1] = static_cast<float>(bent[2 * k + 1] + drop);
    MatMul(inverse, atom.cart, atom.xyz);
    if (c.molecule && atom.site < UsableSiteSize(c))
      CopyVector(c.sites[atom.site].xyz, atom.xyz);
  }
  DimensionPlot(&c, c.plotCentre, &c.plotExtent);
  NewPlot(window, false, false);
  return true;
}

// ---- Insert space ------------------------------------------------------------------

bool PrepareInsertSpace(WindowRef window, float *lowest) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || crystal->molecule)
    return false;
  if (!crystal->plane.shown) {
    MyCFStopAlert("Please display the lattice plane",
                  "The lattice plane must be moved to the position where you wish to insert a block of space");
    return false;
  }
  if (!UserWouldDiscardSymmetry(window))
    return false;
  // The distances are measured from the parallel plane through the
  // outline's centre, where the space opens; nothing moves before OK.
  CrystalRec &c = *crystal;
  float p[3];
  PlaneOutlineCentre(c, p);
  const float centreDistance = Dist2Plane(&c, p);

  float inverse[9], frac[3];
  if (!InvertOrientation(c, inverse))
    return false;
  MatMul(inverse, p, frac);
  const float offset[3] = {std::floor(frac[0]), std::floor(frac[1]), std::floor(frac[2])};
  float nearest = kNearestStart;
  if (auto cell = ExtractFirstUnitCell(&c)) {
    for (const AtomRecord &atom : *cell) {
      float shifted[3], cart[3];
      VecAdd(atom.xyz, offset, shifted);
      MatMul(c.orientationMatrix, shifted, cart);
      nearest = std::min(nearest, std::fabs(Dist2Plane(&c, cart) - centreDistance));
    }
  }
  if (lowest)
    *lowest = -2.0f * nearest;
  return true;
}

namespace {

// The cell lengths after a slab of this width opens along the plane; false,
// with the caution alert, when one would not stay positive.
bool InsertSpaceLengths(CrystalRec &c, float width, float lengths[3]) {
  const float axes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  lengths[0] = c.a;
  lengths[1] = c.b;
  lengths[2] = c.c;
  for (int m = 0; m < 3; m++) {
    float angle = IncludedAngle(&c, c.plane.latticeNormal, axes[m]);
    if (angle == kIncludedAngleFailed)
      return false;
    if (angle > 90.0f)
      angle = 180.0f - angle;
    lengths[m] += width * static_cast<float>(std::cos(angle * kDegToRad));
  }
  if (std::any_of(lengths, lengths + 3, [](float l) { return !(l >= kMinCellLengthAfterInsert); })) {
    MyCFCautionAlert("Error in cell parameter", "Please enter a valid, non-zero value");
    return false;
  }
  return true;
}

} // namespace

bool InsertSpace(WindowRef window, float width) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || crystal->molecule || UsableSiteSize(*crystal) == 0 || !crystal->plane.shown)
    return false;
  CrystalRec &c = *crystal;
  float inverse[9];
  float lengths[3];
  // A refused width changes nothing; then the symmetry goes (the user
  // agreed before the sheet opened) and the slab opens in the P 1 cell.
  if (!InvertOrientation(c, inverse) || !InsertSpaceLengths(c, width, lengths))
    return false;
  if (!DiscardSymmetry(window) || !InvertOrientation(c, inverse))
    return false;

  // The plane through the centre of its outline, moved into the first cell.
  float centre[3], frac[3];
  PlaneOutlineCentre(c, centre);
  MatMul(inverse, centre, frac);
  for (float &f : frac)
    f -= std::floor(f);
  MatMul(c.orientationMatrix, frac, centre);
  CopyVector(c.plane.point, centre);
  const float origin[3] = {0.0f, 0.0f, 0.0f};
  const float d0 = Dist2Plane(&c, origin);

  // The slab opens along the normal, away from the origin's side.
  float shift[3];
  VecScalarMult(c.plane.viewNormal, d0 >= 0.0f ? width : -width, shift);
  auto opened = [&c, &shift, d0](const float xyz[3], float *p) {
    MatMul(c.orientationMatrix, xyz, p);
    const float d = Dist2Plane(&c, p);
    if ((d0 >= 0.0f && d < 0.0f) || (d0 < 0.0f && d > 0.0f))
      VecAdd(p, shift, p);
  };
  std::vector<float> positions(UsableSiteSize(c) * 3);
  for (size_t s = 0; s < UsableSiteSize(c); s++)
    opened(c.sites[s].xyz, &positions[s * 3]);

  c.plane.shown = 0;
  float vertical[3], G[9], O[9], newInverse[9];
  GetCrystalVerticalDirection(c, vertical);
  GetMetricTensor(lengths[0], lengths[1], lengths[2], c.alpha, c.beta, c.gamma, G);
  if (!GetOrientationMatrixWithVertical(c.viewDirection, vertical, G, O) || !Inv3x3Mat(O, newInverse))
    return false;
  // A vector's atom moves with its site, its lattice translation kept; the
  // vector keeps its direction in space.
  KeptVectors vectors(c);
  vectors.MoveEach([&](double place[3], float uvw[3]) {
    float inCell[3], p[3], moved[3], cart[3];
    for (int i = 0; i < 3; i++)
      inCell[i] = static_cast<float>(place[i] - std::floor(place[i]));
    opened(inCell, p);
    MatMul(newInverse, p, moved);
    for (int i = 0; i < 3; i++)
      place[i] = std::floor(place[i]) + static_cast<double>(moved[i]);
    MatMul(c.orientationMatrix, uvw, cart);
    MatMul(newInverse, cart, uvw);
  });
  c.a = lengths[0];
  c.b = lengths[1];
  c.c = lengths[2];
  Copy3x3Mat(c.metricTensor, G);
  for (size_t s = 0; s < UsableSiteSize(c); s++)
    MatMul(newInverse, &positions[s * 3], c.sites[s].xyz);
  if (!RunNewCrystal(window, true, true, false))
    return false;
  SetViewWithOrientationMatrix(window, O);
  return true;
}

// ---- Slicing and the lattice plane --------------------------------------------------

int64_t SelectSliceSide(CrystalRec &crystal) {
  SetCrystalAtomSelectionNone(&crystal);
  int64_t positive = 0, other = 0;
  const size_t nAtoms = UsableAtomSize(crystal);
  const size_t nIndex = UsableRecords(crystal.sortIndex.size(), crystal.sortIndexCount);
  for (size_t e = 0; e < nIndex; e++) {
    const SortIndexEntry &entry = crystal.sortIndex[e];
    if (entry.kind != kSortItemAtom || entry.index >= nAtoms)
      continue;
    AtomRecord &atom = crystal.atoms[entry.index];
    if (Dist2Plane(&crystal, atom.cart) > 0.0f) {
      atom.selected = 1;
      positive++;
    } else {
      other++;
    }
  }
  if (positive <= other)
    return positive;
  for (size_t e = 0; e < nIndex; e++) {
    const SortIndexEntry &entry = crystal.sortIndex[e];
    if (entry.kind == kSortItemAtom && entry.index < nAtoms)
      crystal.atoms[entry.index].selected = crystal.atoms[entry.index].selected ? 0 : 1;
  }
  return other;
}

void ShowHideLatticePlane(WindowRef window, bool show) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return;
  crystal->plane.shown = show ? 1 : 0;
  if (!show && gCurrentTool == kLatticePlaneTool) {
    gCurrentTool = kRotateTool;
    UpdateFloatingWindows();
  }
  if (show)
    InitLatticePlane(crystal);
  NewPlot(window, false, false);
}

void ToggleLatticePlane(WindowRef window) {
  const CrystalRec *crystal = GetWindowCrystal(window);
  if (crystal)
    ShowHideLatticePlane(window, !crystal->plane.shown);
}

LatticePlaneSheetRecord MakeLatticePlaneSheetRecord(const CrystalRec &crystal) {
  LatticePlaneSheetRecord r;
  CopyVector(r.hkl, crystal.plane.hkl);
  CopyVector(r.position, crystal.plane.point);
  CopyVector(r.initialPosition, crystal.plane.point);
  r.opacity = 1.0f - crystal.plane.transparency;
  r.colour = crystal.plane.colour;
  return r;
}

void DoShowLatticePlane(WindowRef window, const LatticePlaneSheetRecord &record) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  // A plane already on show keeps its place; one being shown starts through
  // the plot centre (its stored point is blank, or stale, until then).
  const bool keepPlace = c.plane.shown != 0;
  CopyVector(c.plane.hkl, record.hkl);
  c.plane.transparency = 1.0f - record.opacity;
  c.plane.colour = record.colour;
  c.plane.shown = 1;
  InitLatticePlane(&c);
  if (keepPlace) {
    MovePlane2Point(&c, record.position);
    LatticePlaneIntercepts(&c);
  }
  NewPlot(window, false, false);
}
