#include "AtomEditing.h"

#include "Alerts.h"
#include "AtomOperations.h"
#include "BuildPipeline.h"
#include "CellTransform.h"
#include "DerivedLayers.h"
#include "LocalizedStrings.h"
#include "PlotRange.h"
#include "Polyhedra.h"
#include "Preferences.h"
#include "RenderServices.h"
#include "SelectionCommands.h"
#include "SitePreparation.h"
#include "StructureArrays.h"
#include "UnitCell.h"
#include "VectorMath.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <unordered_map>
#include <unordered_set>

DefineVectorRec gDefaultVectorRecord;
DuplicateAtomsRec gSaveDuplicateAtoms;

namespace {

size_t AtomSize(const CrystalRec &c) { return UsableAtomSize(c); }
size_t BondCount(const AtomRecord &a) { return std::min<size_t>(a.bondCount, a.bonds.size()); }

bool SiteVisible(const CrystalRec &c, const AtomRecord &a) {
  return a.site < UsableSiteSize(c) && c.sites[a.site].visible;
}

CrystalRec *FileCrystal(WindowRef window) {
  CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  return c && IsWindowFileOpen(window) ? c : nullptr;
}

// The first visible selected atom; -1 for none.
int64_t FirstVisibleSelected(const CrystalRec &c) {
  for (size_t k = 0; k < AtomSize(c); ++k)
    if (c.atoms[k].visible && c.atoms[k].selected)
      return static_cast<int64_t>(k);
  return -1;
}

void NoSelectionCaution() {
  MyCFCautionAlert("No atoms selected!", "Please select at least one atom (e.g., by using the arrow tool)");
}

// A crystal gives up its symmetry first (asking); answers the structure to
// edit, or nullptr when the user refused or the rebuild failed.
CrystalRec *AfterSymmetryConsent(WindowRef window) {
  CrystalRec *c = GetWindowCrystal(window);
  if (c && !c->molecule) {
    if (!UserAgreesToDiscardSymmetry(window))
      return nullptr;
    c = GetWindowCrystal(window);
  }
  return c;
}

// Whether a sheet on the atoms of a crystal may open: the user is asked to
// give up the symmetry, which goes only when the sheet applies an edit.
bool SymmetryMayGo(WindowRef window, const CrystalRec &c) {
  return c.molecule || UserWouldDiscardSymmetry(window);
}

// The structure with its symmetry discarded, for an edit of single atoms;
// nullptr when the rebuild failed.
CrystalRec *WithoutSymmetry(WindowRef window) {
  CrystalRec *c = GetWindowCrystal(window);
  if (c && !c->molecule && !DiscardSymmetry(window))
    return nullptr;
  return GetWindowCrystal(window);
}

float Length3(const float v[3]) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// Positions compared to 1e-5 in each fractional coordinate: a key of the
// rounded coordinates finds the candidates, the neighbouring cells of the
// rounding catch those that straddle a boundary.
struct PositionKey {
  int64_t x, y, z;
  bool operator==(const PositionKey &) const = default;
};
struct PositionKeyHash {
  size_t operator()(const PositionKey &k) const {
    return std::hash<int64_t>()(k.x * 73856093LL ^ k.y * 19349663LL ^ k.z * 83492791LL);
  }
};
constexpr double kPositionGrid = 1e-5;
PositionKey KeyOf(const float xyz[3], int dx = 0, int dy = 0, int dz = 0) {
  return {static_cast<int64_t>(std::floor(xyz[0] / kPositionGrid)) + dx,
          static_cast<int64_t>(std::floor(xyz[1] / kPositionGrid)) + dy,
          static_cast<int64_t>(std::floor(xyz[2] / kPositionGrid)) + dz};
}

} // namespace

// ---- Vectors --------------------------------------------------------------------------------

float AutoCalculateVectorLength(const float orientation[9], DefineVectorRec &record) {
  float cart[3];
  MatMul(orientation, record.uvw, cart);
  record.length = Length3(cart);
  return record.length;
}

bool AdjustVectorIndicesToLength(const float orientation[9], DefineVectorRec &record) {
  float cart[3];
  MatMul(orientation, record.uvw, cart);
  float norm = Length3(cart);
  bool ok = true;
  if (!(norm > 0.0f)) {
    MyCFCautionAlert("Vector has zero length!", "Indices will be reset to [001].");
    record.uvw[0] = record.uvw[1] = 0.0f;
    record.uvw[2] = 1.0f;
    MatMul(orientation, record.uvw, cart);
    norm = Length3(cart);
    ok = false;
  }
  if (norm > 0.0f)
    for (float &u : record.uvw)
      u *= record.length / norm;
  return ok;
}

float StepVectorLength(float typed, bool up) {
  const float stepped = std::fabs(typed) + (up ? kVectorLengthStep : -kVectorLengthStep);
  return std::clamp(stepped, kMinVectorLength, kMaxVectorLength);
}

bool PrepareAddVector(WindowRef window, DefineVectorRec *record) {
  CrystalRec *c = FileCrystal(window);
  if (!c)
    return false;
  if (!CrystalHasSelectedAtoms(c)) {
    MyCFStopAlert("No atoms selected!", "Please select an atom to display the vector from.");
    return false;
  }
  *record = gDefaultVectorRecord;
  record->newVector = true;
  return true;
}

bool PrepareEditVector(WindowRef window, DefineVectorRec *record, int32_t vector) {
  CrystalRec *c = FileCrystal(window);
  if (!c)
    return false;
  const size_t n = UsableRecords(c->vectors.size(), c->vectorCount);
  if (vector >= 0 && static_cast<size_t>(vector) < n)
    c->vectors[static_cast<size_t>(vector)].selected = 1;
  else if (vector >= 0)
    return false;
  for (size_t k = vector >= 0 ? static_cast<size_t>(vector) : 0; k < n; ++k) {
    const VectorRecord &v = c->vectors[k];
    if (!v.selected)
      continue;
    *record = gDefaultVectorRecord;
    std::copy(v.uvw, v.uvw + 3, record->uvw);
    record->colour = v.colour;
    record->style = v.style;
    record->newVector = false;
    return true;
  }
  return false;
}

void DoDefineVector(WindowRef window, const DefineVectorRec &record) {
  CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  if (!c)
    return;
  gDefaultVectorRecord = record;
  auto fill = [&](VectorRecord &v) {
    std::copy(record.uvw, record.uvw + 3, v.uvw);
    v.colour = record.colour;
    v.style = static_cast<uint8_t>(record.style);
  };
  if (record.newVector) {
    c->vectors.resize(UsableRecords(c->vectors.size(), c->vectorCount));
    const size_t n = UsableRecords(c->sortIndex.size(), c->sortIndexCount);
    for (size_t k = 0; k < n; ++k) {
      const SortIndexEntry &e = c->sortIndex[k];
      if (e.kind != kSortItemAtom || e.index >= AtomSize(*c) || !c->atoms[e.index].selected)
        continue;
      VectorRecord v;
      v.atom = e.index;
      fill(v);
      c->vectors.push_back(v);
      c->atoms[e.index].hasVector = 1;
    }
    c->vectorCount = static_cast<int32_t>(c->vectors.size());
  } else {
    const size_t n = UsableRecords(c->vectors.size(), c->vectorCount);
    for (size_t k = 0; k < n; ++k)
      if (c->vectors[k].selected)
        fill(c->vectors[k]);
  }
  PlotCrystal(window, 1);
}

// ---- Duplicating ----------------------------------------------------------------------------

namespace {

void DuplicateSelectedSites(WindowRef window, float offset[3]) {
  CrystalRec *c = AfterSymmetryConsent(window);
  if (!c)
    return;
  if (offset[0] == 0.0f && offset[1] == 0.0f && offset[2] == 0.0f)
    offset[0] = 0.001f;
  DrawWindowSubtitle(window, OVLocalizedString("Duplicating_Sel_Atoms"));
  float inverse[9];
  if (!Inv3x3Mat(c->orientationMatrix, inverse))
    return;
  float dfrac[3];
  MatMul(inverse, offset, dfrac);
  const size_t sites = UsableSiteSize(*c);
  std::vector<uint8_t> chosen(sites, 0);
  for (size_t k = 0; k < AtomSize(*c); ++k)
    if (c->atoms[k].selected && c->atoms[k].site < sites)
      chosen[c->atoms[k].site] = 1;
  std::vector<AsymmetricUnitRecord> copies;
  for (size_t s = 0; s < sites; ++s) {
    if (!chosen[s])
      continue;
    AsymmetricUnitRecord copy = c->sites[s];
    for (int d = 0; d < 3; ++d)
      copy.xyz[d] = MoveIntoCell(copy.xyz[d] + dfrac[d]);
    copy.visible = 1;
    copies.push_back(copy);
  }
  if (copies.empty())
    return;
  DeselectAllObjects(c);
  c->sites.resize(sites);
  c->sites.insert(c->sites.end(), copies.begin(), copies.end());
  c->siteCount = static_cast<int32_t>(c->sites.size());
  SortAUByElement(c);
  if (!RunNewCrystal(window, false, false, false))
    return;
  c = GetWindowCrystal(window);
  if (!c)
    return;
  const float *r = c->plotRange;
  SetPlotRange(window, r[0] - 0.001f, r[1] + 0.001f, r[2] - 0.001f, r[3] + 0.001f, r[4] - 0.001f, r[5] + 0.001f);
  c = GetWindowCrystal(window);
  if (!c)
    return;
  std::unordered_set<PositionKey, PositionKeyHash> keys;
  for (const AsymmetricUnitRecord &copy : copies)
    keys.insert(KeyOf(copy.xyz));
  for (size_t s = 0; s < UsableSiteSize(*c); ++s) {
    const float *xyz = c->sites[s].xyz;
    bool match = false;
    for (int dx = -1; dx <= 1 && !match; ++dx)
      for (int dy = -1; dy <= 1 && !match; ++dy)
        for (int dz = -1; dz <= 1 && !match; ++dz)
          if (keys.count(KeyOf(xyz, dx, dy, dz)))
            for (const AsymmetricUnitRecord &copy : copies)
              if (std::fabs(copy.xyz[0] - xyz[0]) <= 1e-5f && std::fabs(copy.xyz[1] - xyz[1]) <= 1e-5f &&
                  std::fabs(copy.xyz[2] - xyz[2]) <= 1e-5f) {
                match = true;
                break;
              }
    if (match) {
      ShowSite(c, static_cast<int32_t>(s));
      SelectSite(c, static_cast<int32_t>(s));
    }
  }
  PlotCrystal(window, 1);
  UpdateSiteBrowser(window);
}

} // namespace

void DuplicateSelectedAtoms(WindowRef window, float dx, float dy, float dz) {
  CrystalRec *c = FileCrystal(window);
  if (!c || AtomSize(*c) == 0)
    return;
  if (!CrystalHasSelectedAtoms(c)) {
    NoSelectionCaution();
    return;
  }
  float offset[3] = {dx, dy, dz};
  if (!c->molecule) {
    DuplicateSelectedSites(window, offset);
    return;
  }
  DrawWindowSubtitle(window, OVLocalizedString("Duplicating_Sel_Atoms"));
  NoteStructureChange(c, kChangeSites | kChangeAtoms | kChangeBonds);
  if (DuplicateSelectedMoleculeAtoms(*c, offset) == 0)
    return;
  SortMoleculeByElement(c);
  PlotCrystal(window, 1);
  UpdateSiteBrowser(window);
}

// ---- Coordinates ----------------------------------------------------------------------------

CoordsFieldsLayout CoordsFields(EditSelCoordsRec &record) {
  const bool cartesian = record.basis == 2;
  if (record.editMode == 2) {
    if (cartesian)
      return {{"\u2206x [A]", "\u2206y [A]", "\u2206z [A]"}, record.shift};
    return {{"\u2206x", "\u2206y", "\u2206z"}, record.shift};
  }
  if (cartesian)
    return {{"x [A]", "y [A]", "z [A]"}, record.cartesian};
  return {{"x", "y", "z"}, record.fractional};
}

bool PrepareEditSelectionCoords(WindowRef window, EditSelCoordsRec *record) {
  CrystalRec *c = FileCrystal(window);
  if (!c || AtomSize(*c) == 0)
    return false;
  if (!CrystalHasSelectedAtoms(c)) {
    MyCFStopAlert("Please select at least one atom!");
    return false;
  }
  if (!SymmetryMayGo(window, *c))
    return false;
  const int64_t first = FirstVisibleSelected(*c);
  if (first < 0) {
    MyCFStopAlert("Please select at least one atom!");
    return false;
  }
  *record = EditSelCoordsRec{};
  record->selectedCount = CountNumSelectedAtoms(c);
  const AtomRecord &a = c->atoms[static_cast<size_t>(first)];
  std::copy(a.xyz, a.xyz + 3, record->fractional);
  std::copy(a.cart, a.cart + 3, record->cartesian);
  record->basis = c->molecule ? 2 : 1;
  record->editMode = record->selectedCount >= 2 ? 2 : 1;
  return true;
}

void DoEditSelectionCoordinates(WindowRef window, const float xyz[3], bool fractional, bool moveAll) {
  CrystalRec *c = window ? WithoutSymmetry(window) : nullptr;
  if (!c)
    return;
  const int64_t first = FirstVisibleSelected(*c);
  if (first < 0) {
    MyCFStopAlert("Please select at least one atom!");
    return;
  }
  if (moveAll) {
    float shift[3] = {xyz[0], xyz[1], xyz[2]};
    if (fractional)
      MatMul(c->orientationMatrix, xyz, shift);
    MoveSelectedAtoms(window, shift);
    c = GetWindowCrystal(window);
    if (!c)
      return;
  } else {
    NoteStructureChange(c, kChangeAtoms | kChangeSites);
    float frac[3], cart[3];
    if (fractional) {
      std::copy(xyz, xyz + 3, frac);
      MatMul(c->orientationMatrix, frac, cart);
    } else {
      float inverse[9];
      if (!Inv3x3Mat(c->orientationMatrix, inverse))
        return;
      std::copy(xyz, xyz + 3, cart);
      MatMul(inverse, cart, frac);
    }
    AtomRecord &a = c->atoms[static_cast<size_t>(first)];
    if (c->molecule || a.site >= UsableSiteSize(*c)) {
      std::copy(frac, frac + 3, a.xyz);
      std::copy(cart, cart + 3, a.cart);
    } else {
      AsymmetricUnitRecord &site = c->sites[a.site];
      MoveVectorIntoCell(site.xyz, frac);
      float dfrac[3];
      for (int d = 0; d < 3; ++d) {
        const float moved = site.xyz[d] + std::floor(a.xyz[d]);
        dfrac[d] = moved - a.xyz[d];
        a.xyz[d] = moved;
      }
      MatMul(c->orientationMatrix, a.xyz, a.cart);
      for (size_t k = 0; k < AtomSize(*c); ++k) {
        if (k == static_cast<size_t>(first) || c->atoms[k].site != a.site)
          continue;
        MoveAtomByFractionalAmount(c, static_cast<int32_t>(k), dfrac);
        c->atoms[k].visible = IsAtomInRange(c, c->atoms[k]) ? 1 : 0;
      }
    }
  }
  PlotCrystal(window, 1);
}

// ---- Element and appearance -----------------------------------------------------------------

bool LookUpElementData(ElementCode element, RGBColor *colour, float *radius) {
  for (const ElementData &row : gPrefs.elementData)
    if (row.element == element) {
      *colour = row.colour;
      *radius = row.radius;
      return true;
    }
  return false;
}

bool ElementFromText(const std::string &text, ElementCode *element) {
  if (text.empty())
    return false;
  const char second = text.size() > 1 ? text[1] : ' ';
  *element = TwoCharsToShort(std::string{text[0], second}.c_str());
  return true;
}

void SetSpecsLabel(EditSelSpecsRec &record, const std::string &label) {
  std::memset(record.label, 0, sizeof record.label);
  std::memcpy(record.label, label.data(), std::min<size_t>(label.size(), sizeof record.label - 1));
}

bool PrepareEditSelectionSpecs(WindowRef window, EditSelSpecsRec *record) {
  CrystalRec *c = FileCrystal(window);
  if (!c || AtomSize(*c) == 0 || !SymmetryMayGo(window, *c))
    return false;
  const int64_t first = FirstVisibleSelected(*c);
  if (first < 0) {
    NoSelectionCaution();
    return false;
  }
  const AtomRecord &a = c->atoms[static_cast<size_t>(first)];
  *record = EditSelSpecsRec{};
  if (a.atomType < UsableSphereSize(*c)) {
    const SphereRecord &s = c->spheres[a.atomType];
    record->element = s.element;
    record->colour = s.colour;
    record->radius = s.radius;
    record->style = s.style;
  }
  if (a.site < UsableSiteSize(*c))
    SetSpecsLabel(*record, c->sites[a.site].label);
  record->foundElement = record->element;
  std::memcpy(record->foundLabel, record->label, sizeof record->label);
  record->foundColour = record->colour;
  record->foundRadius = record->radius;
  return true;
}

bool SelectionSpecsEdited(const EditSelSpecsRec &record) {
  return record.element != record.foundElement || std::strncmp(record.label, record.foundLabel, sizeof record.label) ||
         !(record.colour == record.foundColour) || record.radius != record.foundRadius;
}

void DoEditSelectionSpecs(WindowRef window, const EditSelSpecsRec &record) {
  if (!window || !SelectionSpecsEdited(record))
    return;
  CrystalRec *c = WithoutSymmetry(window);
  if (!c)
    return;
  const int64_t first = FirstVisibleSelected(*c);
  if (first < 0)
    return;
  // Only what the user changed is written: a site keeps its element, label,
  // colour and radius where the sheet's field was left alone.
  const bool elementEdited = record.element != record.foundElement;
  const bool labelEdited = std::strncmp(record.label, record.foundLabel, sizeof record.label) != 0;
  const bool colourEdited = !(record.colour == record.foundColour);
  const bool radiusEdited = record.radius != record.foundRadius;
  const bool appearanceEdited = elementEdited || colourEdited || radiusEdited;
  if (!appearanceEdited && CountNumSelectedAtoms(c) < 2) {
    const AtomRecord &a = c->atoms[static_cast<size_t>(first)];
    if (a.site < UsableSiteSize(*c))
      std::memcpy(c->sites[a.site].label, record.label, sizeof record.label);
    PlotCrystal(window, 1);
    return;
  }
  // The atom type with the element, radius and colour, found or appended;
  // false when none can be made.
  auto typeFor = [&](ElementCode element, float radius, RGBColor colour, uint32_t style, uint32_t *type) {
    for (size_t k = 0; k < UsableSphereSize(*c); ++k) {
      const SphereRecord &s = c->spheres[k];
      if (s.element == element && s.radius == radius && s.colour == colour) {
        *type = static_cast<uint32_t>(k);
        return true;
      }
    }
    SphereRecord *s = AppendBlankSphere(c);
    if (!s)
      return false;
    *type = static_cast<uint32_t>(c->sphereCount - 1);
    s->element = element;
    s->radius = radius;
    s->colour = colour;
    s->style = style;
    return true;
  };
  NoteStructureChange(c, kChangeSites);
  const size_t sites = UsableSiteSize(*c);
  std::vector<uint8_t> edited(sites, 0);
  for (size_t k = 0; k < AtomSize(*c); ++k) {
    const AtomRecord &a = c->atoms[k];
    if (!a.visible || !a.selected || a.site >= sites || edited[a.site])
      continue;
    edited[a.site] = 1;
    AsymmetricUnitRecord &site = c->sites[a.site];
    if (labelEdited)
      std::memcpy(site.label, record.label, sizeof record.label);
    if (!appearanceEdited)
      continue;
    if (elementEdited) {
      site.elements[0] = record.element;
      site.occupancies[0] = 1.0f;
      for (int e = 1; e < kMaxSiteElements; ++e)
        site.occupancies[e] = 0.0f;
    }
    const bool typed = site.atomType < UsableSphereSize(*c);
    const SphereRecord was = typed ? c->spheres[site.atomType] : SphereRecord{};
    const float radius = radiusEdited || !typed ? record.radius : was.radius;
    const RGBColor colour = colourEdited || !typed ? record.colour : was.colour;
    const uint32_t style = elementEdited || !typed ? record.style : was.style;
    uint32_t type = 0;
    if (!typeFor(site.elements[0], radius, colour, style, &type))
      return;
    site.atomStyle = style;
    site.atomType = type;
  }
  if (appearanceEdited)
    for (size_t k = 0; k < AtomSize(*c); ++k)
      if (c->atoms[k].site < sites && edited[c->atoms[k].site])
        c->atoms[k].atomType = c->sites[c->atoms[k].site].atomType;

  if (c->molecule) {
    SortMoleculeByElement(c);
    ResetOffScreen(window);
    NewPlot(window, false, true);
  } else {
    // The rebuild makes the atoms afresh; they keep their visibility and
    // selection by position.
    std::unordered_map<PositionKey, uint8_t, PositionKeyHash> flags;
    for (size_t k = 0; k < AtomSize(*c); ++k) {
      const AtomRecord &a = c->atoms[k];
      flags[KeyOf(a.xyz)] = static_cast<uint8_t>((a.visible ? 1 : 0) | (a.selected ? 2 : 0));
    }
    SortAUByElement(c);
    if (!RunNewCrystal(window, false, false, false))
      return;
    c = GetWindowCrystal(window);
    if (!c)
      return;
    for (size_t k = 0; k < AtomSize(*c); ++k) {
      AtomRecord &a = c->atoms[k];
      auto it = flags.find(KeyOf(a.xyz));
      if (it == flags.end())
        continue;
      a.visible = it->second & 1;
      a.selected = (it->second & 2) ? 1 : 0;
    }
    PlotCrystal(window, 1);
  }
  CloseStatus();
}

// ---- Deleting -------------------------------------------------------------------------------

void DeleteSelectedAtoms(WindowRef window) {
  CrystalRec *c = FileCrystal(window);
  if (!c || AtomSize(*c) == 0 || !CrystalHasSelectedAtoms(c))
    return;
  if (c->molecule)
    DoDeleteSelectedAtoms(window);
  else
    DoDeleteSelectedSites(window);
  UpdateModelOptions();
}

void DestroyMoleculeAtoms(CrystalRec &c, const std::vector<uint8_t> &doomed) {
  const size_t n = std::min(AtomSize(c), doomed.size());
  constexpr uint32_t kGone = UINT32_MAX;
  std::vector<uint32_t> newIndex(AtomSize(c));
  uint32_t next = 0;
  std::unordered_set<uint32_t> freedTypes;
  for (size_t k = 0; k < newIndex.size(); ++k) {
    const bool gone = k < n && doomed[k];
    newIndex[k] = gone ? kGone : next++;
    if (gone)
      freedTypes.insert(c.atoms[k].atomType);
  }
  const uint32_t removed = static_cast<uint32_t>(newIndex.size()) - next;
  if (removed == 0)
    return;
  auto renumber = [&](uint32_t &atom) {
    if (atom < newIndex.size())
      atom = newIndex[atom];
  };
  // The atoms that stay forget their gone neighbours and lose their
  // polyhedra when they had one.
  for (size_t k = 0; k < newIndex.size(); ++k) {
    if (newIndex[k] == kGone)
      continue;
    AtomRecord &a = c.atoms[k];
    const size_t before = a.bonds.size();
    a.bonds.erase(std::remove_if(a.bonds.begin(), a.bonds.end(),
                                 [&](uint32_t j) { return j < newIndex.size() && newIndex[j] == kGone; }),
                  a.bonds.end());
    if (a.bonds.size() != before) {
      a.bondCount = static_cast<uint32_t>(a.bonds.size());
      a.polyhedron.Drop();
      if (a.site < UsableSiteSize(c))
        c.sites[a.site].coordination = a.bondCount;
    }
    for (uint32_t &j : a.bonds)
      renumber(j);
    a.polyhedron.RenumberAtoms(renumber);
  }
  auto gone = [&](uint32_t atom) { return atom < newIndex.size() && newIndex[atom] == kGone; };
  c.vectors.resize(UsableRecords(c.vectors.size(), c.vectorCount));
  std::erase_if(c.vectors, [&](const VectorRecord &v) { return gone(v.atom); });
  for (VectorRecord &v : c.vectors)
    renumber(v.atom);
  c.vectorCount = static_cast<int32_t>(c.vectors.size());
  c.customBondSpecs.resize(UsableRecords(c.customBondSpecs.size(), c.customBondSpecCount));
  std::erase_if(c.customBondSpecs, [&](const CustomBondSpec &s) { return gone(s.atomA) || gone(s.atomB); });
  for (CustomBondSpec &s : c.customBondSpecs) {
    renumber(s.atomA);
    renumber(s.atomB);
  }
  c.customBondSpecCount = static_cast<int32_t>(c.customBondSpecs.size());
  // A molecule's atom k stands on site k: both go together.
  std::vector<AtomRecord> atoms;
  std::vector<AsymmetricUnitRecord> sites;
  atoms.reserve(next);
  sites.reserve(next);
  for (size_t k = 0; k < newIndex.size(); ++k) {
    if (newIndex[k] == kGone)
      continue;
    atoms.push_back(std::move(c.atoms[k]));
    atoms.back().site = newIndex[k];
    if (k < UsableSiteSize(c)) {
      sites.push_back(c.sites[k]);
      sites.back().firstAtom = sites.back().lastAtom = static_cast<int32_t>(newIndex[k]);
    }
  }
  c.atoms = std::move(atoms);
  c.sites = std::move(sites);
  c.atomCount = static_cast<int32_t>(c.atoms.size());
  c.siteCount = static_cast<int32_t>(c.sites.size());
  c.atomsPerCell = std::max<int32_t>(0, c.atomsPerCell - static_cast<int32_t>(removed));
  // Atom types of the gone atoms go when nothing uses them any longer.
  std::vector<uint8_t> used(UsableSphereSize(c), 0);
  for (const AtomRecord &a : c.atoms)
    if (a.atomType < used.size())
      used[a.atomType] = 1;
  for (const AsymmetricUnitRecord &s : c.sites)
    if (s.atomType < used.size())
      used[s.atomType] = 1;
  std::vector<uint32_t> freed(freedTypes.begin(), freedTypes.end());
  std::sort(freed.rbegin(), freed.rend());
  for (uint32_t t : freed)
    if (t < used.size() && !used[t])
      DestroySphereIndex(&c, static_cast<int32_t>(t));
  PurgeUnusedBondSpecs(&c);
  if (c.atoms.empty())
    std::vector<AtomRecord>().swap(c.atoms);
}

void DoDeleteSelectedAtoms(WindowRef window) {
  CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  if (!c || !c->molecule)
    return;
  if (!MyCFChoiceAlert(kAlertCautionAlert, "Are you sure you wish to delete the selected atoms?", "", "Delete",
                       "Cancel"))
    return;
  DrawWindowSubtitle(window, OVLocalizedString("Deleting_Sel_Atoms"));
  std::vector<uint8_t> doomed(AtomSize(*c), 0);
  for (size_t k = 0; k < doomed.size(); ++k)
    doomed[k] = c->atoms[k].visible && c->atoms[k].selected;
  NoteStructureChange(c, kChangeAtoms | kChangeSites | kChangeBonds);
  DestroyMoleculeAtoms(*c, doomed);
  DefinePolyhedra(c);
  NewPlot(window, false, true);
}

void DoDeleteSelectedSites(WindowRef window) {
  CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  if (!c || c->molecule)
    return;
  const size_t sites = UsableSiteSize(*c);
  std::vector<uint8_t> selected(sites, 0);
  for (size_t k = 0; k < AtomSize(*c); ++k) {
    const AtomRecord &a = c->atoms[k];
    if (a.visible && a.selected && a.site < sites)
      selected[a.site] = 1;
  }
  const size_t count = static_cast<size_t>(std::count(selected.begin(), selected.end(), 1));
  if (count == 0) {
    MyCFStopAlert("No sites selected", "Please select one or more atoms to delete them.");
    return;
  }
  if (count == sites) {
    MyCFStopAlert("Cannot delete entire structure!", "Please select fewer atoms.");
    return;
  }
  if (!MyCFChoiceAlert(kAlertCautionAlert,
                       "Are you sure you wish to delete the selected sites and all symmetry-related atoms?", "",
                       "Delete", "Cancel"))
    return;
  std::vector<AsymmetricUnitRecord> kept;
  kept.reserve(sites - count);
  for (size_t s = 0; s < sites; ++s)
    if (!selected[s]) {
      kept.push_back(c->sites[s]);
      kept.back().firstAtom = 1;
      kept.back().lastAtom = 0;
    }
  c->sites = std::move(kept);
  c->siteCount = static_cast<int32_t>(c->sites.size());
  DestroyAtomsArray(c);
  DestroySpheresArray(c);
  DestroyCustomBondSpecsArray(c);
  c->cellPoints.clear();
  c->cellPointCount = 0;
  DestroySortIndex(c);
  DestroyVectorsArray(c);
  // Bond specifications survive only while both their elements do, judged
  // on the sites that are left.
  if (c->bondSpecCount > 0) {
    std::unordered_set<ElementCode> present;
    for (const AsymmetricUnitRecord &s : c->sites)
      present.insert(s.elements[0]);
    int32_t n = 0;
    for (int32_t k = 0; k < std::min<int32_t>(c->bondSpecCount, kMaxBondSpecs); ++k) {
      const BondSpec &b = c->bondSpecs[static_cast<size_t>(k)];
      if (present.count(b.elementA) && present.count(b.elementB))
        c->bondSpecs[static_cast<size_t>(n++)] = b;
    }
    c->bondSpecCount = n;
  }
  const uint8_t progress = gShowProgress;
  gShowProgress = 1;
  RunNewCrystal(window, false, false, false);
  gShowProgress = progress;
}

// ---- Atom and bond styles -------------------------------------------------------------------

void DoResetCustomAtoms(WindowRef window) {
  CrystalRec *c = FileCrystal(window);
  if (!c)
    return;
  if (c->molecule) {
    SiteBrowserColourByElement(window);
    return;
  }
  PurgeCustomSpheres(c);
  NewPlot(window, false, true);
}

void ChangeSelectedAtomsStyle(WindowRef window, uint32_t style) {
  CrystalRec *c = FileCrystal(window);
  if (!c || AtomSize(*c) == 0 || !CrystalHasSelectedAtoms(c))
    return;
  std::vector<int32_t> uses = CountVisibleAtomTypeUses(*c);
  for (size_t k = 0; k < AtomSize(*c); ++k) {
    const AtomRecord &a = c->atoms[k];
    if (!a.visible || !a.selected || !SiteVisible(*c, a) || a.atomType >= UsableSphereSize(*c))
      continue;
    const SphereRecord found = c->spheres[a.atomType];
    if (!MakeCustomAtomSphere(*c, static_cast<int32_t>(k), style, found.element, found.radius, found.colour, &uses))
      break;
    if (c->molecule) {
      AsymmetricUnitRecord &site = c->sites[a.site];
      site.atomType = c->atoms[k].atomType;
      site.atomStyle = style;
    }
  }
  PurgeUnusedAtomSpheres(c);
  NewPlot(window, false, true);
}

bool FindSelectedBondedPair(const CrystalRec &crystal, uint32_t *i, uint32_t *j) {
  const size_t atoms = AtomSize(crystal);
  for (size_t k = 0; k < atoms; ++k) {
    const AtomRecord &a = crystal.atoms[k];
    if (!a.visible || !a.selected)
      continue;
    for (size_t b = 0; b < BondCount(a); ++b) {
      const uint32_t n = a.bonds[b];
      if (n < atoms && crystal.atoms[n].visible && crystal.atoms[n].selected) {
        *i = static_cast<uint32_t>(k);
        *j = n;
        return true;
      }
    }
  }
  return false;
}

bool ApplyCustomBondStyle(CrystalRec &crystal, const CustomBondStyleRec &record) {
  CrystalRec *c = &crystal;
  // The existing specifications by pair, so that many bonds cost no rescans.
  std::unordered_map<uint64_t, size_t> byPair;
  auto pairKey = [](uint32_t i, uint32_t j) {
    return (static_cast<uint64_t>(std::min(i, j)) << 32) | std::max(i, j);
  };
  const size_t n = UsableRecords(c->customBondSpecs.size(), c->customBondSpecCount);
  for (size_t k = 0; k < n; ++k)
    byPair.emplace(pairKey(c->customBondSpecs[k].atomA, c->customBondSpecs[k].atomB), k);
  const size_t atoms = AtomSize(*c);
  for (size_t i = 0; i < atoms; ++i) {
    const AtomRecord &a = c->atoms[i];
    if (!a.visible || !a.selected)
      continue;
    for (size_t b = 0; b < BondCount(a); ++b) {
      const uint32_t j = a.bonds[b];
      if (j <= i || j >= atoms || !c->atoms[j].visible || !c->atoms[j].selected)
        continue;
      const uint64_t key = pairKey(static_cast<uint32_t>(i), j);
      auto it = byPair.find(key);
      size_t index;
      if (it != byPair.end()) {
        index = it->second;
      } else {
        CustomBondSpec *made = AppendBlankCustomBondSpec(c);
        if (!made)
          return false;
        index = static_cast<size_t>(c->customBondSpecCount - 1);
        made->atomA = static_cast<uint32_t>(i);
        made->atomB = j;
        byPair.emplace(key, index);
      }
      CustomBondSpec &s = c->customBondSpecs[index];
      s.style = record.style;
      s.colour1 = record.colour1;
      s.colour2 = record.colour2;
    }
  }
  return true;
}

void DoCustomBondStyle(WindowRef window, const CustomBondStyleRec &record) {
  CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  if (!c)
    return;
  if (!ApplyCustomBondStyle(*c, record)) {
    MyCFStopAlert("Sorry, there was insufficient memory to create a custom bond");
    NewPlot(window, false, false);
    return;
  }
  NewPlot(window, false, false);
}
