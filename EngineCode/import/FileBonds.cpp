#include "import/FileBonds.h"

#include "AutoBonds.h"
#include "BuildPipeline.h"
#include "DerivedLayers.h"
#include "MemoryBudget.h"
#include "StoredLimits.h"
#include "StructureArrays.h"
#include "import/CellFrame.h"
#include "import/ImportText.h"
#include "import/StructureFill.h"
#include "import/TextNumbers.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace {

// A bond a file lists longer than this many times the automatic rule's
// limit for its pair joins no atoms of a structure: left out, it neither
// stalls the search nor widens the pair's specification.
constexpr double kMostFileBondStretch = 2.0;

// The shortest distance (A) between two read sites, their images in the
// neighbouring cells included for a crystal (a bond may cross a wall).
// `rows` is the crystal's cell frame, worked out once for all its bonds.
double FileBondLength(const CrystalRec &c, const double rows[3][3], size_t i, size_t j) {
  if (c.molecule) {
    const float *p = c.atoms[i].cart, *q = c.atoms[j].cart;
    return std::hypot(double(p[0]) - q[0], double(p[1]) - q[1], double(p[2]) - q[2]);
  }
  double nearest[3]; // the difference of fractional coordinates, nearest image
  for (int k = 0; k < 3; k++) {
    const double dk = static_cast<double>(c.sites[j].xyz[k]) - c.sites[i].xyz[k];
    nearest[k] = dk - std::round(dk);
  }
  double best = HUGE_VAL;
  for (int u = -1; u <= 1; u++)
    for (int v = -1; v <= 1; v++)
      for (int w = -1; w <= 1; w++) {
        // Each image's fraction as the record stores it (float).
        const double f[3] = {static_cast<float>(nearest[0] + u), static_cast<float>(nearest[1] + v),
                             static_cast<float>(nearest[2] + w)};
        double x[3];
        CartesianFromFractional(rows, f, x);
        best = std::min(best, std::hypot(x[0], x[1], x[2]));
      }
  return best;
}

} // namespace

FileBondSet MeasureFileBonds(ImportedStructure &s) {
  FileBondSet set;
  const CrystalRec &c = s.crystal;
  const size_t nSites = c.sites.size();
  double rows[3][3] = {};
  if (!s.bonds.empty() && !c.molecule)
    StandardCellVectors(c.a, c.b, c.c, c.alpha, c.beta, c.gamma, rows);
  // The automatic rule's limits, which a bond the file lists may pass by
  // kMostFileBondStretch at most.
  bool nonMetal = false;
  if (!s.bonds.empty())
    for (const AsymmetricUnitRecord &site : c.sites)
      nonMetal = nonMetal || IsAutoBondNonMetal(site.elements[0]);
  auto typeRadius = [&](size_t site) {
    const uint32_t type = c.sites[site].atomType;
    return type < UsableSphereSize(c) ? c.spheres[type].radius : 0.0f;
  };
  for (const FileBond &b : s.bonds) {
    if (b.first >= nSites || b.second >= nSites || b.first == b.second)
      continue;
    const ElementCode ea = c.sites[b.first].elements[0], eb = c.sites[b.second].elements[0];
    const auto key = ea <= eb ? std::make_pair(ea, eb) : std::make_pair(eb, ea);
    const double r = FileBondLength(c, rows, b.first, b.second);
    const double limit = AutoBondPairLimit(ea, eb, typeRadius(b.first), typeRadius(b.second), nonMetal);
    if (!(r <= kMostFileBondStretch * limit)) {
      ImportWarning(s, b.line,
                    "the bond " + ElementSymbolText(ea) + "-" + ElementSymbolText(eb) + " of " + FormatFixed(r, 3) +
                        " A is more than twice the longest the automatic rule bonds (" +
                        FormatFixed(limit, 3) + " A); it is left out.");
      continue;
    }
    auto [it, fresh] = set.pairs.try_emplace(key, r, r);
    if (!fresh)
      it->second = {std::min(it->second.first, r), std::max(it->second.second, r)};
    set.bonds.push_back(b);
    set.lengths.push_back(static_cast<float>(r));
    if (!s.bondsBesideImplied)
      continue;
    if (set.reached.empty())
      set.reached.assign(nSites, 0);
    set.reached[b.first] = set.reached[b.second] = 1;
  }
  return set;
}

namespace {

// A length read from a file and one the build works out agree to this.
constexpr double kFileBondSlack = 0.005; // A

// The specification of one element pair that the file's bonds call for.
BondSpec FileBondSpec(const CrystalRec &c, std::pair<ElementCode, ElementCode> key, std::pair<double, double> range) {
  BondSpec spec;
  spec.elementA = key.first;
  spec.elementB = key.second;
  spec.minLength = static_cast<float>(std::max(0.0, range.first - kFileBondSlack));
  spec.maxLength = static_cast<float>(std::min<double>(range.second + kFileBondSlack, kMaxBondSpecLength));
  spec.style = c.defaultBondStyle;
  spec.colour1 = c.bondColor1;
  spec.colour2 = c.bondColor2;
  return spec;
}

// "C-S 1.810 to 1.822 A, S-S 2.030 to 2.040 A": the file's bond lengths.
std::string PairsSummary(const FileBondSet &set) {
  std::string summary;
  for (const auto &[key, range] : set.pairs)
    summary += (summary.empty() ? "" : ", ") + ElementSymbolText(key.first) + "-" + ElementSymbolText(key.second) +
               " " + FormatFixed(range.first, 3) + " to " + FormatFixed(range.second, 3) + " A";
  return summary;
}

void AddFileBondsToMolecule(CrystalRec &c, const FileBondSet &set) {
  for (const FileBond &b : set.bonds)
    AddBondListEntry(&c, static_cast<int32_t>(b.first), static_cast<int32_t>(b.second));
}

// The file's bonds as the whole rule.
void ApplyFileBonds(WindowRef window, CrystalRec &c, const FileBondSet &set) {
  c.bondSpecCount = 0;
  for (const auto &[key, range] : set.pairs) {
    if (c.bondSpecCount >= kMaxBondSpecs)
      break;
    c.bondSpecs[static_cast<size_t>(c.bondSpecCount++)] = FileBondSpec(c, key, range);
  }
  if (c.molecule) {
    for (AtomRecord &atom : c.atoms)
      DestroyBondsListForAtom(&atom);
    AddFileBondsToMolecule(c, set);
    BondsMade(&c);
  } else {
    RunNewBonding(window, &c);
    BondsMadeAgain(&c);
  }
  FWrite(std::to_string(set.bonds.size()) + " bond(s) given by the file made " + std::to_string(c.bondSpecCount) +
         " bond specification(s): " + PairsSummary(set) + ".");
}

// The file's bonds beside the automatic ones. In a molecule the bonds are
// lists of atoms: the search leaves the pairs of two reached sites to the
// file, whose bonds are then added as they are. A crystal's bonds are made
// again from its specifications whenever its plot range changes, so there
// the file's bonds can only widen the specifications the search made for
// the rest (each pair's maximum the larger of the two): a protein's backbone
// is bonded by the automatic rule, a ligand's and a disulfide's bonds by the
// file's lengths, and every pair of the same elements within those lengths
// is bonded alike.
void AddFileBondsToAutomatic(WindowRef window, CrystalRec &c, const FileBondSet &set) {
  std::vector<uint8_t> given(UsableSiteSize(c), 0);
  std::copy_n(set.reached.begin(), std::min(given.size(), set.reached.size()), given.begin());
  std::vector<ListedBond> listed(set.bonds.size());
  for (size_t k = 0; k < listed.size(); k++)
    listed[k] = {set.bonds[k].first, set.bonds[k].second, k < set.lengths.size() ? set.lengths[k] : 0.0f};
  AutoBondSearch(&c, &given, &listed);
  bool widened = false;
  for (const auto &[key, range] : set.pairs) {
    const BondSpec spec = FileBondSpec(c, key, range);
    const int32_t count = c.bondSpecCount;
    const int32_t k = AutoAddBondSpecs(&c, spec);
    if (k < 0)
      break;
    widened = widened || k == count || c.bondSpecs[static_cast<size_t>(k)].maxLength == spec.maxLength;
  }
  if (c.molecule) {
    AddFileBondsToMolecule(c, set);
    BondsMade(&c);
  } else if (widened) {
    RunNewBonding(window, &c);
  } else {
    BondsMade(&c);
  }
  const size_t reached = static_cast<size_t>(std::count(given.begin(), given.end(), uint8_t{1}));
  FWrite(std::to_string(set.bonds.size()) + " bond(s) given by the file join " + GroupedCount(reached) + " of " +
         GroupedCount(given.size()) + (c.molecule ? " atoms" : " sites") +
         ": the automatic search bonded the others, and the file's lengths were added to its bond "
         "specifications: " +
         PairsSummary(set) + ".");
}

} // namespace

void SettleImportedBonds(WindowRef window, CrystalRec &c, const FileBondSet &set) {
  if (set.bonds.empty()) {
    AutoBondSearch(&c);
    BondsMade(&c);
    return;
  }
  const size_t nSites = UsableSiteSize(c);
  const bool wholeRule = set.reached.empty() || set.reached.size() < nSites ||
                         std::all_of(set.reached.begin(), set.reached.begin() + static_cast<ptrdiff_t>(nSites),
                                     [](uint8_t r) { return r != 0; });
  if (wholeRule)
    ApplyFileBonds(window, c, set);
  else
    AddFileBondsToAutomatic(window, c, set);
}
