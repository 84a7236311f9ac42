#include "EditCrystalRecord.h"

#include "Alerts.h"
#include "BuildPipeline.h"
#include "EllipsoidMaths.h"
#include "KeptVectors.h"
#include "PlotRange.h"
#include "Preferences.h"
#include "RenderServices.h"
#include "SitePreparation.h"
#include "SpaceGroups.h"
#include "StoredLimits.h"
#include "StructureArrays.h"
#include "UnitCell.h"
#include "Utilities.h"
#include "VectorMath.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr float kMinCellParameter = 0.0001f;      // smallest accepted length or angle
constexpr float kRhombohedralMaxAlpha = 119.999f; // rhombohedral axes stay a cell below 120
constexpr float kNoOccupancy = 0.0001f;           // a total below this means none was typed

constexpr const char *kCannotEdit = "Sorry, this structure cannot be edited.";
constexpr const char *kOutOfMemory = "Out of memory";

std::string ElementSymbol(ElementCode code) {
  char s[3] = {};
  ShortToTwoChars(code, s);
  if (s[1] == ' ')
    s[1] = 0;
  return s;
}

bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsLower(char c) { return c >= 'a' && c <= 'z'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The label's first `limit` bytes at most, cut before a UTF-8 character
// that would not fit whole.
void CopyLabel(char (&dst)[kSiteLabelSize], std::string_view src, size_t limit) {
  size_t n = std::min({src.size(), limit, sizeof(dst) - 1});
  if (n < src.size())
    while (n > 0 && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80)
      n--;
  std::memset(dst, 0, sizeof(dst));
  std::memcpy(dst, src.data(), n);
}

// The sites' first elements, for the bond-specification filter.
bool BondSpecSurvives(const BondSpec &spec, const std::vector<bool> &firstElements) {
  return firstElements[spec.elementA] && firstElements[spec.elementB];
}

// Atom types and bond specifications of the record into a structure being
// built (both applies share this).
void CopyEditedTypesAndBonds(const EditCrystalRec &record, CrystalRec &c) {
  c.spheres.assign(static_cast<size_t>(record.sphereCount), SphereRecord{});
  for (int32_t k = 0; k < record.sphereCount; k++) {
    const EditSphereEntry &e = record.spheres[static_cast<size_t>(k)];
    SphereRecord &s = c.spheres[static_cast<size_t>(k)];
    s.element = e.element;
    s.radius = e.radius;
    s.colour = e.colour;
    s.style = static_cast<uint32_t>(e.atomStyle);
  }
  c.sphereCount = record.sphereCount;

  std::vector<bool> firstElements(65536, false);
  for (const EditSiteRec &site : record.sites)
    firstElements[site.elements[0]] = true;
  int32_t kept = 0;
  for (int32_t i = 0; i < std::clamp(record.bondSpecCount, 0, kMaxBondSpecs); i++) {
    const BondSpec &spec = record.bondSpecs[static_cast<size_t>(i)];
    if (BondSpecSurvives(spec, firstElements))
      c.bondSpecs[static_cast<size_t>(kept++)] = spec;
  }
  c.bondSpecCount = kept;
}

// A cleared structure that keeps the display settings of the old one.
void ClearKeepingSettings(const CrystalRec &old, CrystalRec &fresh) {
  PrefsRecord settings = gPrefs;
  CopyCrystalPrefs(&old, &settings);
  InitBlankCrystalRec(&fresh);
  CopyPrefsToCrystal(&settings, &fresh);
}

// A record with no site builds no structure (the sheet refuses it before
// it gets here); only a record that can be applied clears the window's.
bool ValidRecord(const EditCrystalRec &record) {
  if (record.siteCount < 1 || record.siteCount != static_cast<int32_t>(record.sites.size()))
    return false;
  for (const EditSiteRec &s : record.sites)
    if (s.atomType < 0 || s.atomType >= record.sphereCount)
      return false;
  return record.sphereCount == static_cast<int32_t>(record.spheres.size());
}

} // namespace

// ---- The record ------------------------------------------------------------------

void InitBlankEditCrystalRec(EditCrystalRec *record, bool isMolecule, bool isNew) {
  if (!record)
    return;
  *record = EditCrystalRec{};
  record->isMolecule = isMolecule ? 1 : 0;
  record->isNew = isNew ? 1 : 0;
}

std::vector<EditSiteRec> CopyCrystalSitesForEditing(const CrystalRec *crystal) {
  std::vector<EditSiteRec> list;
  if (!crystal)
    return list;
  const int32_t n = UsableSiteCount(*crystal);
  if (n == 0 || (crystal->molecule && UsableAtomCount(*crystal) < n))
    return list;
  list.resize(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; i++) {
    const AsymmetricUnitRecord &s = crystal->sites[static_cast<size_t>(i)];
    EditSiteRec &e = list[static_cast<size_t>(i)];
    std::memcpy(e.label, s.label, sizeof(e.label));
    e.label[kSiteLabelSize - 1] = 0;
    for (int k = 0; k < kMaxSiteElements; k++) {
      e.elements[k] = s.elements[k];
      e.occupancies[k] = s.occupancies[k];
    }
    e.atomStyle = static_cast<int32_t>(s.atomStyle);
    e.ellipsoidStyle = static_cast<int32_t>(s.ellipsoidStyle);
    e.displacementType = static_cast<int32_t>(s.displacementType);
    e.Uiso = s.isoValue;
    e.disorderAssembly = s.disorderAssembly;
    e.disorderGroup = s.disorderGroup;
    if (s.displacementType != kDisplacementIsotropic)
      for (int r = 0; r < 3; r++)
        for (int q = 0; q < 3; q++)
          e.U[r][q] = s.tensor[r * 3 + q];
    if (crystal->molecule) {
      const AtomRecord &atom = crystal->atoms[static_cast<size_t>(i)];
      e.x = atom.cart[0];
      e.y = atom.cart[1];
      e.z = atom.cart[2];
      e.atomType = static_cast<int32_t>(atom.atomType);
    } else {
      e.x = s.xyz[0];
      e.y = s.xyz[1];
      e.z = s.xyz[2];
      e.atomType = static_cast<int32_t>(s.atomType);
    }
  }
  return list;
}

void CopyEditedSitesToCrystal(const std::vector<EditSiteRec> &sites, CrystalRec *crystal) {
  if (!crystal)
    return;
  const size_t n = std::min(sites.size(), UsableSiteSize(*crystal));
  for (size_t i = 0; i < n; i++) {
    const EditSiteRec &e = sites[i];
    AsymmetricUnitRecord &s = crystal->sites[i];
    for (int k = 0; k < kMaxSiteElements; k++) {
      s.elements[k] = e.elements[k];
      s.occupancies[k] = e.occupancies[k];
    }
    s.atomType = static_cast<uint32_t>(e.atomType);
    s.atomStyle = static_cast<uint32_t>(e.atomStyle);
    s.ellipsoidStyle = static_cast<uint32_t>(e.ellipsoidStyle);
    std::memcpy(s.label, e.label, sizeof(s.label));
    s.displacementType = static_cast<uint32_t>(e.displacementType);
    s.isoValue = e.Uiso;
    s.disorderAssembly = e.disorderAssembly;
    s.disorderGroup = e.disorderGroup;
    for (int r = 0; r < 3; r++)
      for (int q = 0; q < 3; q++)
        s.tensor[r * 3 + q] = e.U[r][q];
    s.coordination = 0;
    s.visible = 1;
    if (!crystal->molecule) {
      s.xyz[0] = e.x;
      s.xyz[1] = e.y;
      s.xyz[2] = e.z;
      SetGivenPolyMode(s, 0);
    } else {
      SetGivenPolyMode(s, 6);
      s.firstAtom = static_cast<int32_t>(i);
      s.lastAtom = static_cast<int32_t>(i);
      s.atomsPerCell = 1;
      if (i < UsableAtomSize(*crystal)) {
        AtomRecord &atom = crystal->atoms[i];
        atom.site = static_cast<uint32_t>(i);
        atom.atomType = static_cast<uint32_t>(e.atomType);
        atom.cart[0] = e.x;
        atom.cart[1] = e.y;
        atom.cart[2] = e.z;
        atom.visible = 1;
      }
    }
  }
}

int FillEditCrystalRecFromCrystal(const CrystalRec *crystal, EditCrystalRec *record) {
  if (!crystal || !record || crystal->sites.empty() || crystal->atoms.empty())
    return -1;
  try {
    InitBlankEditCrystalRec(record, crystal->molecule != 0, false);
    if (!crystal->molecule) {
      record->a = crystal->a;
      record->b = crystal->b;
      record->c = crystal->c;
      record->alpha = crystal->alpha;
      record->beta = crystal->beta;
      record->gamma = crystal->gamma;
      std::string symbol(CStrView(crystal->spaceGroup));
      uint8_t origin = crystal->originChoice;
      ConvertSpaceGroupSymbol(symbol, origin);
      record->spaceGroup = symbol;
      record->originChoice = origin;
      record->latticeLetter = crystal->latticeLetter;
      record->cardCount = static_cast<uint16_t>(std::min<int>(crystal->cardCount, kMaxSymCards));
      record->cards = crystal->symCards;
      std::copy(crystal->originShift, crystal->originShift + 3, record->originShift);
      record->crystalSystem = EditCrystalSystem(*record);
    }
    const int32_t types = UsableSphereCount(*crystal);
    record->spheres = CreateEditCrystalSpheresArray(types);
    record->sphereCount = static_cast<int32_t>(record->spheres.size());
    for (int32_t k = 0; k < record->sphereCount; k++) {
      const SphereRecord &s = crystal->spheres[static_cast<size_t>(k)];
      EditSphereEntry &e = record->spheres[static_cast<size_t>(k)];
      e.element = s.element;
      e.radius = s.radius;
      e.colour = s.colour;
      e.atomStyle = static_cast<int32_t>(s.style);
    }
    record->bondSpecCount = std::clamp(crystal->bondSpecCount, 0, kMaxBondSpecs);
    record->bondSpecs = crystal->bondSpecs;
    if (crystal->molecule && UsableSiteCount(*crystal) != UsableAtomCount(*crystal)) {
      MyCFStopAlert("Error editing molecule:", "Number of site types does not equal number of atoms");
      return 1;
    }
    record->sites = CopyCrystalSitesForEditing(crystal);
    record->siteCount = UsableSiteCount(*crystal);
    // A list shorter than the structure's sites would apply blank sites:
    // refuse to open rather than edit a broken copy.
    if (static_cast<int32_t>(record->sites.size()) != record->siteCount) {
      MyCFStopAlert(kCannotEdit, kOutOfMemory);
      return 2;
    }
    // A site whose atom type lies outside the array is given one on OK.
    for (EditSiteRec &s : record->sites)
      if (s.atomType < 0 || s.atomType > record->sphereCount)
        s.atomType = record->sphereCount;
  } catch (const std::bad_alloc &) {
    MyCFStopAlert(kCannotEdit, kOutOfMemory);
    return 2;
  }
  return 0;
}

// ---- Atom types --------------------------------------------------------------------

std::vector<EditSphereEntry> CreateEditCrystalSpheresArray(int32_t n) {
  if (n < 1)
    return {};
  return std::vector<EditSphereEntry>(static_cast<size_t>(n));
}

EditSphereEntry *AppendEditCrystalSphere(EditCrystalRec *record) {
  if (!record)
    return nullptr;
  try {
    record->spheres.resize(static_cast<size_t>(record->sphereCount) + 1);
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
  record->sphereCount++;
  return record->spheres.data();
}

void DestroyEditCrystalSphereIndex(EditCrystalRec *record, int32_t k) {
  if (!record || k < 0 || k >= record->sphereCount)
    return;
  record->spheres.erase(record->spheres.begin() + k);
  record->sphereCount--;
  for (EditSiteRec &s : record->sites)
    if (s.atomType > k)
      s.atomType--;
}

void DestroyEditCrystalSpheresArray(EditCrystalRec *record) {
  if (!record)
    return;
  record->spheres.clear();
  record->spheres.shrink_to_fit();
  record->sphereCount = 0;
}

EditSphereEntry *GetEditCrystalSpheresArray(EditCrystalRec *record) {
  return record && !record->spheres.empty() ? record->spheres.data() : nullptr;
}

int32_t RemoveSelectedEditSites(EditCrystalRec *record) {
  if (!record)
    return 0;
  auto &sites = record->sites;
  const size_t before = sites.size();
  // Types used by the removed rows, and by the rows that stay.
  std::vector<uint8_t> removedUse(static_cast<size_t>(record->sphereCount) + 1, 0);
  for (const EditSiteRec &s : sites)
    if (s.selected && s.atomType >= 0 && s.atomType < record->sphereCount)
      removedUse[static_cast<size_t>(s.atomType)] = 1;
  sites.erase(std::remove_if(sites.begin(), sites.end(), [](const EditSiteRec &s) { return s.selected; }), sites.end());
  record->siteCount = static_cast<int32_t>(sites.size());
  std::vector<uint8_t> used(static_cast<size_t>(record->sphereCount) + 1, 0);
  for (const EditSiteRec &s : sites)
    if (s.atomType >= 0 && s.atomType < record->sphereCount)
      used[static_cast<size_t>(s.atomType)] = 1;
  // Drop every type a removed row used and no remaining row uses, and
  // renumber the rest in one pass.
  std::vector<int32_t> newIndex(static_cast<size_t>(record->sphereCount) + 1, 0);
  std::vector<EditSphereEntry> kept;
  kept.reserve(record->spheres.size());
  for (int32_t k = 0; k < record->sphereCount; k++) {
    newIndex[static_cast<size_t>(k)] = static_cast<int32_t>(kept.size());
    if (removedUse[static_cast<size_t>(k)] && !used[static_cast<size_t>(k)])
      continue;
    kept.push_back(record->spheres[static_cast<size_t>(k)]);
  }
  const int32_t newCount = static_cast<int32_t>(kept.size());
  for (EditSiteRec &s : sites)
    s.atomType =
        (s.atomType >= 0 && s.atomType < record->sphereCount) ? newIndex[static_cast<size_t>(s.atomType)] : newCount;
  record->spheres = std::move(kept);
  record->sphereCount = newCount;
  return static_cast<int32_t>(before - sites.size());
}

void ResolveEditSiteAtomTypes(EditCrystalRec *record, const PrefsRecord &prefs) {
  if (!record)
    return;
  for (EditSiteRec &site : record->sites) {
    const ElementCode element = site.elements[0];
    const bool known = site.atomType >= 0 && site.atomType < record->sphereCount &&
                       record->spheres[static_cast<size_t>(site.atomType)].element == element;
    if (known)
      continue;
    int32_t found = -1;
    for (int32_t k = 0; k < record->sphereCount && found < 0; k++) {
      const EditSphereEntry &e = record->spheres[static_cast<size_t>(k)];
      if (e.element == element && e.atomStyle == site.atomStyle)
        found = k;
    }
    if (found < 0) {
      if (!AppendEditCrystalSphere(record))
        continue;
      found = record->sphereCount - 1;
      EditSphereEntry &e = record->spheres[static_cast<size_t>(found)];
      e.element = element;
      e.atomStyle = site.atomStyle;
      e.radius = 1.0f;
      e.colour = kUnknownElementColour;
      for (const ElementData &row : prefs.elementData)
        if (row.element == element) {
          e.radius = row.radius;
          e.colour = row.colour;
          break;
        }
    }
    site.atomType = found;
  }
}

// ---- Applying --------------------------------------------------------------------

namespace {

bool SameSite(const EditSiteRec &x, const EditSiteRec &y) {
  return std::memcmp(x.label, y.label, sizeof x.label) == 0 && x.x == y.x && x.y == y.y && x.z == y.z &&
         std::equal(x.elements, x.elements + kMaxSiteElements, y.elements) &&
         std::equal(x.occupancies, x.occupancies + kMaxSiteElements, y.occupancies) && x.atomType == y.atomType &&
         x.atomStyle == y.atomStyle && x.ellipsoidStyle == y.ellipsoidStyle &&
         x.displacementType == y.displacementType && x.Uiso == y.Uiso &&
         x.disorderAssembly == y.disorderAssembly && x.disorderGroup == y.disorderGroup &&
         std::equal(&x.U[0][0], &x.U[0][0] + 9, &y.U[0][0]);
}

bool SameSphere(const EditSphereEntry &x, const EditSphereEntry &y) {
  return x.colour == y.colour && x.element == y.element && x.radius == y.radius && x.atomStyle == y.atomStyle;
}

bool SameBondSpec(const BondSpec &x, const BondSpec &y) {
  return x.elementA == y.elementA && x.elementB == y.elementB && x.minLength == y.minLength &&
         x.maxLength == y.maxLength && x.style == y.style && x.colour1 == y.colour1 && x.colour2 == y.colour2;
}

} // namespace

bool EditRecordMatchesCrystal(const EditCrystalRec &record, const float cell[6], const CrystalRec &crystal) {
  EditCrystalRec now;
  if (FillEditCrystalRecFromCrystal(&crystal, &now) != 0 || record.isMolecule != now.isMolecule)
    return false;
  if (!record.isMolecule) {
    const float was[6] = {now.a, now.b, now.c, now.alpha, now.beta, now.gamma};
    if (!std::equal(cell, cell + 6, was) || record.spaceGroup != now.spaceGroup ||
        record.originChoice != now.originChoice || record.latticeLetter != now.latticeLetter ||
        !std::equal(record.originShift, record.originShift + 3, now.originShift) || record.cardCount != now.cardCount ||
        std::memcmp(record.cards.data(), now.cards.data(), sizeof(Symcard) * record.cardCount) != 0)
      return false;
  }
  return std::equal(record.sites.begin(), record.sites.end(), now.sites.begin(), now.sites.end(), SameSite) &&
         std::equal(record.spheres.begin(), record.spheres.end(), now.spheres.begin(), now.spheres.end(),
                    SameSphere) &&
         record.bondSpecCount == now.bondSpecCount &&
         std::equal(record.bondSpecs.begin(), record.bondSpecs.begin() + std::clamp(now.bondSpecCount, 0, kMaxBondSpecs),
                    now.bondSpecs.begin(), SameBondSpec);
}

namespace {

// The crystal the record describes, made aside from the window's structure
// (its display settings, and unless the record is new its plot range, view
// and scale). False when its sites cannot be sorted; throws bad_alloc.
bool BuildEditedCrystal(const CrystalRec &old, const EditCrystalRec &record, CrystalRec &fresh) {
  float plotRange[6] = {0, 1, 0, 1, 0, 1};
  float viewDirection[3] = {0, 0, 1};
  float orientation[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  float plotScale = 0.0f;
  if (!record.isNew) {
    std::copy(old.plotRange, old.plotRange + 6, plotRange);
    std::copy(old.viewDirection, old.viewDirection + 3, viewDirection);
    std::copy(old.orientationMatrix, old.orientationMatrix + 9, orientation);
    plotScale = old.plotScale;
  }
  ClearKeepingSettings(old, fresh);
  fresh.ellipsoidData = record.hasDisplacement;
  fresh.plotScale = plotScale;
  fresh.modelType = old.modelType;
  if (fresh.modelType == kThermalEllipsoidModel && !record.hasDisplacement)
    fresh.modelType = kBallAndStickModel;
  std::copy(plotRange, plotRange + 6, fresh.plotRange);
  std::copy(orientation, orientation + 9, fresh.orientationMatrix);
  std::copy(viewDirection, viewDirection + 3, fresh.viewDirection);
  fresh.a = record.a;
  fresh.b = record.b;
  fresh.c = record.c;
  fresh.alpha = record.alpha;
  fresh.beta = record.beta;
  fresh.gamma = record.gamma;
  std::memset(fresh.spaceGroup, 0, sizeof(fresh.spaceGroup));
  MyStrCopy(std::span<char>(fresh.spaceGroup), std::string_view(record.spaceGroup).substr(0, kSpaceGroupSymbolSize - 1));
  fresh.latticeLetter = record.latticeLetter;
  fresh.cardCount = record.cardCount;
  fresh.symCards = record.cards;
  fresh.originChoice = record.originChoice;
  std::copy(record.originShift, record.originShift + 3, fresh.originShift);

  std::optional<std::vector<AsymmetricUnitRecord>> sites = CreateAsymmetricUnit(record.siteCount);
  if (!sites)
    throw std::bad_alloc();
  fresh.sites = std::move(*sites);
  fresh.siteCount = record.siteCount;
  CopyEditedSitesToCrystal(record.sites, &fresh);
  CopyEditedTypesAndBonds(record, fresh);
  return SortAUByElement(&fresh);
}

// Whether the plot range the crystal keeps can hold its atoms: one unit
// cell is generated (and dropped again) to count them.
bool AtomsFitPlotRange(CrystalRec &fresh) {
  if (!GenCell(&fresh))
    return true; // the build reports what went wrong
  int32_t n[3] = {1, 1, 1};
  CalculateNumCellsForCrystal(&fresh, &n[0], &n[1], &n[2]);
  int64_t need = std::max<int32_t>(fresh.atomsPerCell, 0);
  for (int32_t k : n)
    need = std::min<int64_t>(need * k, kMaxArrayRecords + 1);
  DestroyAtomsArray(&fresh);
  fresh.atomsPerCell = 0;
  return need <= kMaxArrayRecords;
}

} // namespace

bool EditedCrystalFitsPlotRange(WindowRef window, const EditCrystalRec &record) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || record.isNew || record.isMolecule || !ValidRecord(record))
    return true;
  try {
    CrystalRec fresh;
    if (!BuildEditedCrystal(*crystal, record, fresh) || AtomsFitPlotRange(fresh))
      return true;
  } catch (const std::bad_alloc &) {
    return true; // applying reports the shortage
  }
  MyCFStopAlert("No Memory for atoms");
  return false;
}

bool DoEditCrystal(WindowRef window, EditCrystalRec *record) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || !record || !ValidRecord(*record))
    return false;
  bool cellChanged = true;
  if (!record->isNew)
    cellChanged = record->a != crystal->a || record->b != crystal->b || record->c != crystal->c ||
                  record->alpha != crystal->alpha || record->beta != crystal->beta || record->gamma != crystal->gamma;
  KeptVectors vectors(*crystal); // back on the atoms built at their places
  try {
    CrystalRec fresh;
    if (!BuildEditedCrystal(*crystal, *record, fresh))
      return false;
    // A structure whose atoms the kept plot range cannot hold leaves the
    // old one, its range and its atoms as they are.
    if (!record->isNew && !AtomsFitPlotRange(fresh)) {
      MyCFStopAlert("No Memory for atoms");
      return false;
    }
    *crystal = std::move(fresh);
  } catch (const std::bad_alloc &) {
    MyCFStopAlert(kCannotEdit, kOutOfMemory);
    return false;
  }
  SetWindowFileOpen(window, true);
  gShowProgress = 1;
  RunNewCrystal(window, cellChanged, true, true);
  gShowProgress = 0;
  return true;
}

bool DoEditMolecule(WindowRef window, EditCrystalRec *record) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || !record || !ValidRecord(*record))
    return false;
  try {
    CrystalRec fresh;
    ClearKeepingSettings(*crystal, fresh);
    fresh.molecule = 1;
    fresh.plotScale = crystal->plotScale;
    fresh.ellipsoidData = crystal->ellipsoidData;
    fresh.modelType = crystal->modelType;
    const int32_t n = record->siteCount;
    std::optional<std::vector<AsymmetricUnitRecord>> sites = CreateAsymmetricUnit(n);
    std::optional<std::vector<AtomRecord>> atoms = CreateAtomsArray(n, 0, 0, 0);
    if (!sites || !atoms)
      throw std::bad_alloc();
    fresh.sites = std::move(*sites);
    fresh.atoms = std::move(*atoms);
    fresh.atoms.resize(static_cast<size_t>(n));
    fresh.siteCount = n;
    fresh.atomCount = n;
    fresh.atomsPerCell = n;
    fresh.na = fresh.nb = fresh.nc = 1;
    CopyEditedSitesToCrystal(record->sites, &fresh);
    SortMoleculeByElement(&fresh);
    CopyEditedTypesAndBonds(*record, fresh);
    *crystal = std::move(fresh);
  } catch (const std::bad_alloc &) {
    MyCFStopAlert(kCannotEdit, kOutOfMemory);
    return false;
  }
  SetWindowFileOpen(window, true);
  RunNewMolecule(window, false, true, true, true);
  return true;
}

// ---- Text rules --------------------------------------------------------------------

std::string OccupancyStringForSite(const EditSiteRec &site, bool editable) {
  std::string text;
  if (!editable) {
    for (int k = 0; k < kMaxSiteElements; k++) {
      const float occ = site.occupancies[k];
      if (!(occ > 0.0f))
        continue;
      text += ElementSymbol(site.elements[k]);
      if (occ > 0.9999f && occ < 1.0001f)
        break;
      text += MyTrimSprintf("%.3f", occ);
    }
    return text;
  }
  int count = 0;
  for (int k = 0; k < kMaxSiteElements; k++)
    if (site.elements[k] != kBlankElement)
      count++;
  if (count == 1 && site.elements[0] != kBlankElement && site.occupancies[0] > 0.99999f &&
      site.occupancies[0] < 1.00001f)
    return ElementSymbol(site.elements[0]);
  for (int k = 0; k < kMaxSiteElements; k++) {
    if (site.elements[k] == kBlankElement)
      continue;
    text += ElementSymbol(site.elements[k]) + " " + MyTrimSprintf("%.5f", site.occupancies[k]) + " ";
  }
  return text;
}

std::string SubscriptDigits(const std::string &text) {
  static const char *const kSub[10] = {"₀", "₁", "₂", "₃", "₄", "₅", "₆", "₇", "₈", "₉"};
  std::string out;
  for (char ch : text)
    out += IsDigit(ch) ? kSub[ch - '0'] : std::string(1, ch);
  return out;
}

bool ParseOccupancyText(const std::string &text, EditSiteRec *site) {
  if (!site)
    return false;
  ElementCode elements[3] = {kBlankElement, kBlankElement, kBlankElement};
  float occ[3] = {0.0f, 0.0f, 0.0f};
  std::string numbers = text, letters = text;
  for (char &ch : numbers)
    if (!IsDigit(ch) && ch != '.' && ch != ',')
      ch = ' ';
  for (char &ch : letters)
    if (IsDigit(ch) || ch == '.' || ch == ',')
      ch = ' ';
  float values[3] = {0, 0, 0};
  int nNumbers = std::sscanf(numbers.c_str(), "%f %f %f", &values[0], &values[1], &values[2]);
  if (nNumbers < 0)
    nNumbers = 0;
  float sum = 0.0f;
  for (int i = 0; i < nNumbers; i++) {
    occ[i] = std::clamp(values[i], 0.0f, 1.0f);
    sum += occ[i];
  }
  int nWords = 0;
  {
    size_t pos = 0;
    while (nWords < 3) {
      pos = letters.find_first_not_of(" \t\r\n", pos);
      if (pos == std::string::npos)
        break;
      size_t end = letters.find_first_of(" \t\r\n", pos);
      std::string word = letters.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
      pos = end;
      char sym[3] = {word[0], word.size() > 1 ? word[1] : ' ', 0};
      if (IsLower(sym[0]))
        sym[0] = static_cast<char>(sym[0] - 'a' + 'A');
      if (!IsUpper(sym[0])) {
        MyCFCautionAlert("Element symbol must begin with a letter A-Z");
        return false;
      }
      if (!(sym[0] == 'O' && sym[1] == 'H')) {
        if (IsUpper(sym[1]))
          sym[1] = static_cast<char>(sym[1] - 'A' + 'a');
        else if (!IsLower(sym[1]))
          sym[1] = ' ';
      }
      elements[nWords++] = TwoCharsToShort(sym);
      if (end == std::string::npos)
        break;
    }
  }
  if (nWords > 0 && nNumbers == 0) {
    sum = 0.0f;
    for (int i = 0; i < nWords; i++) {
      occ[i] = 1.0f / static_cast<float>(nWords);
      sum += occ[i];
    }
  }
  if (sum > 1.0f)
    MyCFCautionAlert("Total site occupancy should not exceed 1 !");
  if (sum < kNoOccupancy && nWords == 0) {
    char sym[3] = {site->label[0], site->label[0] ? site->label[1] : ' ', 0};
    if (IsLower(sym[0]))
      sym[0] = static_cast<char>(sym[0] - 'a' + 'A');
    if (!IsUpper(sym[0])) {
      MyCFCautionAlert("Please enter an element symbol!");
      return false;
    }
    if (IsUpper(sym[1]) && sym[1] != 'H')
      sym[1] = static_cast<char>(sym[1] - 'A' + 'a');
    else if (!IsLower(sym[1]) && sym[1] != 'H')
      sym[1] = ' ';
    elements[0] = TwoCharsToShort(sym);
    occ[0] = 1.0f;
    sum = 1.0f;
  }
  float total = 0.0f;
  for (int i = 0; i < 3; i++) {
    if (elements[i] == kBlankElement)
      occ[i] = 0.0f;
    total += occ[i];
  }
  if (total > 0.0f) {
    bool swapped = true;
    while (swapped) {
      swapped = false;
      for (int i = 0; i < 2; i++)
        if (occ[i + 1] > occ[i]) {
          std::swap(occ[i], occ[i + 1]);
          std::swap(elements[i], elements[i + 1]);
          swapped = true;
        }
    }
  }
  for (int i = 0; i < 3; i++) {
    site->elements[i] = elements[i];
    site->occupancies[i] = occ[i];
  }
  return true;
}

float ReadFractionalCoordinate(const std::string &text) {
  float x = static_cast<float>(CharsToReal(text));
  const float n = std::trunc(x);
  if (std::fabs(n) > 1.0f)
    x -= n;
  return x;
}

void SetTypedSiteLabel(EditSiteRec *site, std::string_view text) { CopyLabel(site->label, text, kMaxTypedLabelBytes); }

void RelabelEditSites(EditCrystalRec *record) {
  if (!record)
    return;
  std::vector<uint32_t> counts(65536, 0);
  for (EditSiteRec &site : record->sites) {
    const ElementCode element = site.elements[0];
    const uint32_t count = ++counts[element];
    const std::string symbol = ElementSymbol(element);
    const int d = symbol.size() == 1 ? 5 : 4;
    uint32_t decimalLimit = 1, hexLimit = 1;
    for (int i = 0; i < d; i++) {
      decimalLimit *= 10;
      hexLimit *= 16;
    }
    char buf[32];
    std::string label;
    if (count < decimalLimit) {
      std::snprintf(buf, sizeof(buf), "%u", count);
      label = symbol + buf;
    } else if (count < hexLimit) {
      std::snprintf(buf, sizeof(buf), "%x", count);
      label = symbol + buf;
    } else {
      if (symbol.size() == 2 && count <= 10u * (decimalLimit - 1))
        std::snprintf(buf, sizeof(buf), "%u", count);
      else
        std::snprintf(buf, sizeof(buf), "%x", count);
      label = symbol.substr(0, 1) + buf;
    }
    CopyLabel(site.label, label, kMaxTypedLabelBytes);
  }
}

float SnapHexagonalCoordinate(float x) {
  const int t = static_cast<int>(x * 10000.0f);
  switch (t) {
  case 1666:
  case 1667:
    return 1.0f / 6.0f;
  case 3333:
    return 1.0f / 3.0f;
  case 6666:
  case 6667:
    return 2.0f / 3.0f;
  case 8333:
    return 5.0f / 6.0f;
  default:
    return x;
  }
}

std::string EditCrystalStatusText(const EditCrystalRec &record) {
  int selected = 0;
  for (const EditSiteRec &s : record.sites)
    selected += s.selected ? 1 : 0;
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%d of %d sites selected", selected, record.siteCount);
  return buf;
}

std::string OriginOffsetText(const EditCrystalRec &record) {
  char buf[160];
  const float *s = record.originShift;
  if (s[0] == 0.0f && s[1] == 0.0f && s[2] == 0.0f) {
    if (record.originChoice == 0)
      return {};
    std::snprintf(buf, sizeof(buf), "Origin choice %d", record.originChoice);
    return buf;
  }
  const std::string f0 = Real2Frac(s[0]), f1 = Real2Frac(s[1]), f2 = Real2Frac(s[2]);
  if (record.originChoice != 0)
    std::snprintf(buf, sizeof(buf), "Origin Choice %d plus offset %s %s %s", record.originChoice, f0.c_str(),
                  f1.c_str(), f2.c_str());
  else
    std::snprintf(buf, sizeof(buf), "Origin offset %s %s %s", f0.c_str(), f1.c_str(), f2.c_str());
  return buf;
}

bool CellParametersMakeCell(float a, float b, float c, float alpha, float beta, float gamma) {
  const float cell[6] = {a, b, c, alpha, beta, gamma};
  for (float v : cell)
    if (!(v >= kMinCellParameter))
      return false;
  // The metric tensor must be positive definite: with unit lengths its
  // determinant is 1 - ca^2 - cb^2 - cg^2 + 2 ca cb cg, and each angle below 180.
  constexpr double kDegrees = 3.14159265358979323846 / 180.0;
  if (alpha >= 180.0f || beta >= 180.0f || gamma >= 180.0f)
    return false;
  const double ca = std::cos(alpha * kDegrees), cb = std::cos(beta * kDegrees), cg = std::cos(gamma * kDegrees);
  const double det = 1.0 - ca * ca - cb * cb - cg * cg + 2.0 * ca * cb * cg;
  return det > 1e-6;
}

uint16_t EditCrystalSystem(const EditCrystalRec &record) {
  if (record.cardCount > 0)
    return 1;
  std::string symbol = record.spaceGroup;
  int16_t system = 1;
  CheckSymmetry(symbol, record.originChoice, record.alpha, record.beta, record.gamma, system);
  return static_cast<uint16_t>(system);
}

EditCheckOutcome CheckEditSiteDisplacements(EditCrystalRec *record) {
  EditCheckOutcome out;
  record->hasDisplacement = 0;
  for (size_t i = 0; i < record->sites.size(); i++) {
    const EditSiteRec &s = record->sites[i];
    const std::string title = std::string("Invalid displacement parameters for site ") + s.label;
    if (s.displacementType == kDisplacementAnisoU || s.displacementType == kDisplacementAnisoB) {
      float U[9];
      for (int r = 0; r < 3; r++)
        for (int q = 0; q < 3; q++)
          U[r * 3 + q] = s.U[r][q];
      if (!IsUijValid(U)) {
        MyCFCautionAlert(title, "(Please edit the Uij (anisotropic) fields, or choose a different parameter type "
                                "from the popup menu.)");
        out.result = EditCheckResult::kBadDisplacement;
        out.badSite = static_cast<int>(i);
        return out;
      }
      record->hasDisplacement = 1;
    } else if (s.displacementType == kDisplacementIsotropic) {
      if (!(s.Uiso > 0.0f && s.Uiso < 100.0f)) {
        MyCFCautionAlert(title, "Please edit the Uiso (isotropic) value, or choose a different parameter type "
                                "from the popup menu");
        out.result = EditCheckResult::kBadDisplacement;
        out.badSite = static_cast<int>(i);
        return out;
      }
      record->hasDisplacement = 1;
    }
  }
  return out;
}

EditCheckOutcome CheckEditCrystalForApply(EditCrystalRec *record, const std::string &symbolText, float cell[6]) {
  EditCheckOutcome out;
  if (record->constrainCell && record->crystalSystem == 6) {
    cell[3] = std::min(cell[3], kRhombohedralMaxAlpha);
    cell[4] = cell[5] = cell[3];
  }
  if (record->cardCount == 0) {
    std::string symbol = symbolText;
    LeftJustifyCString(symbol);
    uint8_t origin = record->originChoice;
    int16_t system = 1;
    const bool known =
        ConvertSpaceGroupSymbol(symbol, origin) && CheckSymmetry(symbol, origin, cell[3], cell[4], cell[5], system);
    if (!known) {
      MyCFStopAlert("Please enter a space group symbol, or define general equivalent positions.");
      out.result = EditCheckResult::kBadSymbol;
      return out;
    }
    char lattice = 'P';
    uint16_t count = 0;
    Spaceg(symbol, origin, cell[3], cell[4], cell[5], lattice, count, std::span<Symcard>(record->cards));
    record->latticeLetter = lattice;
    record->cardCount = 0;
    if (count == 0) {
      out.result = EditCheckResult::kNoOperators;
      return out;
    }
    record->spaceGroup = symbol;
    record->originChoice = origin;
    record->crystalSystem = static_cast<uint16_t>(system);
  }
  if (record->constrainCell) {
    std::array<uint8_t, 6> isFree{};
    std::string symbol = record->spaceGroup;
    if (record->cardCount == 0)
      GetCellConstraints(symbol, cell[0], cell[1], cell[2], cell[3], cell[4], cell[5], isFree);
  }
  for (int i = 0; i < 6; i++)
    if (!(cell[i] >= kMinCellParameter)) {
      out.result = EditCheckResult::kBadCell;
      out.badCellParameter = i;
      return out;
    }
  // Angles that give no cell (no positive-definite metric) are refused too;
  // the first angle is the one to correct.
  if (!CellParametersMakeCell(cell[0], cell[1], cell[2], cell[3], cell[4], cell[5])) {
    out.result = EditCheckResult::kAnglesMakeNoCell;
    out.badCellParameter = 3;
    return out;
  }
  record->a = cell[0];
  record->b = cell[1];
  record->c = cell[2];
  record->alpha = cell[3];
  record->beta = cell[4];
  record->gamma = cell[5];
  if (record->cardCount == 0 && record->crystalSystem >= 5 && record->crystalSystem <= 8)
    for (EditSiteRec &s : record->sites) {
      s.x = SnapHexagonalCoordinate(s.x);
      s.y = SnapHexagonalCoordinate(s.y);
      s.z = SnapHexagonalCoordinate(s.z);
    }
  return CheckEditSiteDisplacements(record);
}
