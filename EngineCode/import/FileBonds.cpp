#include "import/FileBonds.h"

#include "AutoBonds.h"
#include "BuildPipeline.h"
#include "Polyhedra.h"
#include "StoredLimits.h"
#include "StructureArrays.h"
#include "import/CellFrame.h"
#include "import/ImportText.h"
#include "import/TextNumbers.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace {

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

FileBondSet MeasureFileBonds(const ImportedStructure &s) {
  FileBondSet set;
  const size_t nSites = s.crystal.sites.size();
  double rows[3][3] = {};
  if (!s.bonds.empty() && !s.crystal.molecule)
    StandardCellVectors(s.crystal.a, s.crystal.b, s.crystal.c, s.crystal.alpha, s.crystal.beta, s.crystal.gamma,
                        rows);
  for (const FileBond &b : s.bonds) {
    if (b.first >= nSites || b.second >= nSites || b.first == b.second)
      continue;
    const ElementCode ea = s.crystal.sites[b.first].elements[0], eb = s.crystal.sites[b.second].elements[0];
    const auto key = ea <= eb ? std::make_pair(ea, eb) : std::make_pair(eb, ea);
    const double r = FileBondLength(s.crystal, rows, b.first, b.second);
    auto [it, fresh] = set.pairs.try_emplace(key, r, r);
    if (!fresh)
      it->second = {std::min(it->second.first, r), std::max(it->second.second, r)};
    set.bonds.push_back(b);
  }
  return set;
}

void ApplyFileBonds(WindowRef window, CrystalRec &c, const FileBondSet &set) {
  const auto &bonds = set.bonds;
  const auto &pairs = set.pairs;
  // A length read from a file and one the build works out agree to this.
  constexpr double kFileBondSlack = 0.005; // A
  c.bondSpecCount = 0;
  std::string summary;
  for (const auto &[key, range] : pairs) {
    if (c.bondSpecCount >= kMaxBondSpecs)
      break;
    BondSpec &spec = c.bondSpecs[static_cast<size_t>(c.bondSpecCount++)];
    spec = BondSpec{};
    spec.elementA = key.first;
    spec.elementB = key.second;
    spec.minLength = static_cast<float>(std::max(0.0, range.first - kFileBondSlack));
    spec.maxLength = static_cast<float>(std::min<double>(range.second + kFileBondSlack, kMaxBondSpecLength));
    spec.style = c.defaultBondStyle;
    spec.colour1 = c.bondColor1;
    spec.colour2 = c.bondColor2;
    summary += (summary.empty() ? "" : ", ") + ElementSymbolText(key.first) + "-" + ElementSymbolText(key.second) +
               " " + FormatFixed(range.first, 3) + " to " + FormatFixed(range.second, 3) + " A";
  }
  if (c.molecule) {
    for (AtomRecord &atom : c.atoms)
      DestroyBondsListForAtom(&atom);
    for (const FileBond &b : bonds)
      AddBondListEntry(&c, static_cast<int32_t>(b.first), static_cast<int32_t>(b.second));
  } else {
    RunNewBonding(window, &c);
  }
  DefinePolyhedra(&c);
  FWrite(std::to_string(bonds.size()) + " bond(s) given by the file made " + std::to_string(c.bondSpecCount) +
         " bond specification(s): " + summary + ".");
}

