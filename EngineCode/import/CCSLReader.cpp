// Crystal data files of the Cambridge subroutine library (.ccl): one card a
// line, its kind the first letter, the items free-form after it; numbers
// may be written as fractions ("5/12"). What is read:
//   N title                 the whole card;
//   C a b c alpha beta gamma  the cell; a length or angle given as 0 (or
//                           left out) follows from the symmetry: b = a in
//                           the tetragonal, hexagonal and cubic systems,
//                           c = a in the cubic and rhombohedral ones, gamma
//                           120 on hexagonal axes, beta = gamma = alpha on
//                           rhombohedral ones, else 90;
//   S op                    one operator each ("1/2+X,1/2+Y,1/2+Z"): the
//                           generators of the group, which is closed under
//                           their products here; "S GRUP symbol" names the
//                           group instead;
//   A label x y z B [factor] [occupancy]   a site ("A SD ..." esds are
//                           passed over); a card without its three
//                           coordinates is refused;
//   T label type B11 B22 B33 B23 B13 B12   anisotropic displacements, type 2
//                           B and type 3 U (others are left isotropic with a
//                           Log line);
//   F label ...             form factors: their labels name the elements.
// A site's element is its form-factor label's: given on the A card, else the
// longest F label its own leading letters begin with, else those letters.
// I, L, Y, Z and the other cards are passed over.
#include "import/FractionNumbers.h"
#include "import/ImportSymmetry.h"
#include "import/ImportText.h"
#include "import/ImportTypes.h"
#include "import/SiteDisplacement.h"
#include "import/StructureFill.h"
#include "import/TextNumbers.h"

#include "FractionalPlaces.h"
#include "SpaceGroups.h"
#include "SymmetryCards.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <optional>

namespace {

constexpr size_t kDetectLines = 200;
// CCSL cards write their translations to 4 decimals: translations within
// this of each other are one (fractions of the cell).
constexpr double kCCSLCardTolerance = 1e-4;
// The first group number of each system whose cell has tied constants.
constexpr int16_t kFirstTetragonalGroup = 75, kFirstTrigonalGroup = 143, kFirstCubicGroup = 195;

struct Card {
  int line = 0;
  char kind = ' ';
  std::vector<std::string_view> items;
  std::string_view rest; // the card after its letter
};

std::string_view Letters(std::string_view label) {
  size_t n = 0;
  while (n < label.size() && std::isalpha(static_cast<unsigned char>(label[n])))
    n++;
  return label.substr(0, n);
}

// The operator g h, its translation taken into the cell (a translation a
// card's rounding leaves just short of a whole number counts as that number).
GEP Product(const GEP &g, const GEP &h) {
  GEP p = ComposeOperators(g, h);
  for (double &t : p.translation)
    t -= std::floor(t + kCCSLCardTolerance);
  return p;
}

bool SameCard(const GEP &a, const GEP &b) { return SameOperator(a, b, kCCSLCardTolerance); }

// The group the generators make; empty when it grows beyond a structure's
// operators or a product leaves the rotations a card can hold.
std::vector<GEP> CloseGroup(const std::vector<GEP> &generators) {
  GEP identity;
  for (int k = 0; k < 3; k++)
    identity.rotation[k][k] = 1;
  std::vector<GEP> group{identity};
  for (size_t n = 0; n < group.size(); n++)
    for (const GEP &g : generators) {
      const GEP p = Product(group[n], g);
      for (const auto &row : p.rotation)
        for (int16_t v : row)
          if (v < -1 || v > 1)
            return {};
      if (std::none_of(group.begin(), group.end(), [&](const GEP &q) { return SameCard(p, q); })) {
        if (group.size() >= static_cast<size_t>(kMaxSymCards))
          return {};
        group.push_back(p);
      }
    }
  return group;
}

// The cell's system as the rotations show it.
enum class Axes { General, Tetragonal, Hexagonal, Cubic };
Axes AxesOf(const std::vector<GEP> &group) {
  Axes axes = Axes::General;
  for (const GEP &g : group) {
    const auto &r = g.rotation;
    // A three-fold axis along the body diagonal: x -> z -> y (either way).
    if (r[0][2] != 0 && r[1][0] != 0 && r[2][1] != 0)
      return Axes::Cubic;
    if ((r[0][0] != 0 && r[0][1] != 0) || (r[1][0] != 0 && r[1][1] != 0))
      axes = Axes::Hexagonal;
    else if (axes == Axes::General && r[0][1] != 0 && r[1][0] != 0 && r[2][2] != 0)
      axes = Axes::Tetragonal;
  }
  return axes;
}

class Reader {
public:
  Reader(const ImportSource &source, ImportResult &result) : source_(source), result_(result) {}
  bool Read();

private:
  bool Refuse(int line, std::string what) { return RefuseImport(result_, line, std::move(what)); }
  bool Cell(const Card &card, Axes axes, double cell[6]);

  const ImportSource &source_;
  ImportResult &result_;
};

bool Reader::Cell(const Card &card, Axes axes, double cell[6]) {
  for (size_t k = 0; k < 6; k++) {
    const auto v = k < card.items.size() ? ImportFraction(card.items[k]) : std::optional<double>(0.0);
    if (!v)
      return RefuseNumber(result_, card.line, "cell constant", card.items[k]);
    cell[k] = *v;
  }
  const bool rhombohedral = axes == Axes::Cubic && cell[3] != 0.0 && cell[3] != 90.0;
  if (cell[1] == 0.0 && axes != Axes::General)
    cell[1] = cell[0];
  if (cell[2] == 0.0 && axes == Axes::Cubic)
    cell[2] = cell[0];
  if (cell[3] == 0.0)
    cell[3] = 90.0;
  if (cell[4] == 0.0)
    cell[4] = rhombohedral ? cell[3] : 90.0;
  if (cell[5] == 0.0)
    cell[5] = rhombohedral ? cell[3] : axes == Axes::Hexagonal ? 120.0 : 90.0;
  for (size_t k = 0; k < 3; k++)
    if (cell[k] == 0.0)
      return Refuse(card.line, std::string("the cell length ") + "abc"[k] + " is 0 and the symmetry does not give it");
  return true;
}

bool Reader::Read() {
  const auto lines = ImportLines(source_.text);
  std::vector<Card> cards;
  for (size_t n = 0; n < lines.size(); n++) {
    const std::string_view l = lines[n];
    if (TrimImport(l).empty())
      continue;
    Card card{
        static_cast<int>(n + 1), static_cast<char>(std::toupper(static_cast<unsigned char>(l[0]))), {}, l.substr(1)};
    // Items are blank- or comma-separated, but operators keep their commas.
    card.items = ImportTokens(card.rest);
    cards.push_back(std::move(card));
  }
  // A file whose last line, without its line end, is a site card short of
  // its displacement was cut inside that card: its last number may be a
  // fraction's beginning ("1" of "1/2").
  if (source_.lastLineOpen && !cards.empty() && cards.back().kind == 'A' && cards.back().items.size() < 5 &&
      !(cards.back().items.size() > 0 && ImportEqualNoCase(cards.back().items[0], "SD")))
    return Refuse(cards.back().line, "the file ends inside the A card \"" +
                                         std::string(TrimImport(lines[static_cast<size_t>(cards.back().line - 1)])) +
                                         "\": it is cut short");
  ImportedStructure *s = BeginImportedStructure(result_, source_.name);
  if (!s)
    return false;
  std::vector<GEP> generators;
  std::string symbol;
  int symmetryLine = 0;
  const Card *cellCard = nullptr;
  std::vector<std::string> factors;
  for (const Card &c : cards) {
    if (c.kind == 'N' && s->extras.title.empty()) {
      s->extras.title = std::string(TrimImport(c.rest));
    } else if (c.kind == 'C' && !cellCard) {
      cellCard = &c;
    } else if (c.kind == 'S') {
      symmetryLine = symmetryLine ? symmetryLine : c.line;
      if (!c.items.empty() && ImportEqualNoCase(c.items[0], "GRUP")) {
        symbol = std::string(TrimImport(TrimImport(c.rest).substr(4)));
        continue;
      }
      GEP g;
      Symcard2GEP(TrimImport(c.rest), g);
      bool rows = true;
      for (const auto &row : g.rotation)
        rows = rows && (row[0] != 0 || row[1] != 0 || row[2] != 0);
      if (!rows)
        return Refuse(c.line, "the symmetry card \"" + std::string(TrimImport(c.rest)) + "\" is no operator");
      generators.push_back(g);
    } else if (c.kind == 'F' && !c.items.empty()) {
      factors.emplace_back(c.items[0]);
    }
  }
  if (!cellCard)
    return Refuse(0, "it gives no cell (C card)");
  std::vector<GEP> group = CloseGroup(generators);
  if (group.empty())
    return Refuse(symmetryLine,
                  "the symmetry cards make no group of at most " + std::to_string(kMaxSymCards) + " operators");
  Axes axes = AxesOf(group);
  if (!symbol.empty()) {
    std::string named = symbol, schoenflies, full;
    int16_t number = 0, system = 0, count = 0;
    GetSpacegroupDetails(named, schoenflies, full, 0, 0, number, system, count);
    // A rhombohedral group on rhombohedral axes gives its angle; none (or 0)
    // is the hexagonal setting.
    const double alpha =
        cellCard->items.size() > 3 ? ImportFraction(cellCard->items[3]).value_or(0.0) : 0.0;
    axes = number >= kFirstCubicGroup ? Axes::Cubic
           : number >= kFirstTrigonalGroup
               ? (symbol[0] == 'R' && alpha != 0.0 && alpha != 90.0 ? Axes::Cubic : Axes::Hexagonal)
           : number >= kFirstTetragonalGroup ? Axes::Tetragonal
                                             : Axes::General;
  }
  double cell[6];
  if (!Cell(*cellCard, axes, cell) || !SetImportCell(*s, result_.error, cellCard->line, cell))
    return false;
  if (!symbol.empty()) {
    if (!SetSymmetryFromSymbol(*s, symbol, 0, symmetryLine))
      return Refuse(symmetryLine, "the space group \"" + symbol + "\" is not one this version knows");
  } else {
    if (!SetSymmetryFromOperators(*s, std::span<const GEP>(group), symmetryLine, result_.error))
      return false;
  }

  std::map<std::string, size_t, std::less<>> siteOfLabel;
  for (const Card &c : cards) {
    if (c.kind != 'A' || c.items.empty() || ImportEqualNoCase(c.items[0], "SD"))
      continue;
    const auto &t = c.items;
    if (t.size() < 4)
      return Refuse(c.line, "the A card of atom " + std::string(t[0]) + " needs three coordinates");
    double v[4] = {};
    for (size_t k = 0; k < 4 && k + 1 < t.size(); k++) {
      const auto x = ImportFraction(t[k + 1]);
      if (!x)
        return RefuseNumber(result_, c.line, "value", t[k + 1], "atom " + std::string(t[0]));
      v[k] = *x;
    }
    std::string factor;
    double occupancy = 1.0;
    for (size_t k = 5; k < t.size() && k < 7; k++) {
      if (const auto x = ImportFraction(t[k]))
        occupancy = *x != 0.0 ? *x : 1.0;
      else if (k == 5 && !ImportNumberShaped(t[k]))
        factor = std::string(t[k]);
      else
        return RefuseNumber(result_, c.line, "occupancy", t[k], "atom " + std::string(t[0]));
    }
    if (factor.empty()) {
      const std::string_view letters = Letters(t[0]);
      for (const std::string &f : factors)
        if (ImportStartsNoCase(letters, f) && f.size() > factor.size())
          factor = f;
      if (factor.empty())
        factor = std::string(letters);
    }
    auto element = ElementFromSymbol(factor);
    if (!element) {
      element = kPlaceholderElement;
      ImportWarning(*s, c.line,
                    "atom " + std::string(t[0]) + " (form factor \"" + factor +
                        "\") names no element; it is drawn as a placeholder.");
    }
    AsymmetricUnitRecord *site = AppendImportSite(result_, *s, t[0], *element, v, c.line);
    if (!site)
      return false;
    site->occupancies[0] = ImportFloat(occupancy);
    if (v[3] != 0.0)
      SetSiteBiso(s->crystal, *site, v[3]);
    siteOfLabel.emplace(std::string(t[0]), s->crystal.sites.size() - 1);
  }
  for (const Card &c : cards) {
    if (c.kind != 'T' || c.items.size() < 2)
      continue;
    const auto it = siteOfLabel.find(c.items[0]);
    if (it == siteOfLabel.end()) {
      ImportWarning(*s, c.line, "the T card names atom " + std::string(c.items[0]) + ", which no A card gives.");
      continue;
    }
    const auto type = ImportNumber(c.items[1]);
    if (!type)
      return RefuseNumber(result_, c.line, "factor type", c.items[1], "atom " + std::string(c.items[0]));
    if (type == 0.0)
      continue; // made from the isotropic factor: it stays isotropic
    double b[6] = {};
    for (size_t k = 0; k < 6; k++) {
      if (k + 2 >= c.items.size())
        return Refuse(c.line, "the T card of atom " + std::string(c.items[0]) + " needs six numbers");
      const auto x = ImportFraction(c.items[k + 2]);
      if (!x)
        return RefuseNumber(result_, c.line, "factor", c.items[k + 2], "atom " + std::string(c.items[0]));
      b[k] = *x;
    }
    if (type != 2.0 && type != 3.0) {
      ImportWarning(*s, c.line,
                    "the T card of atom " + std::string(c.items[0]) + " gives its factors as type " +
                        std::string(c.items[1]) + ", which is not read; the atom stays isotropic.");
      continue;
    }
    const double scale = type == 2.0 ? 1.0 / kBOverU : 1.0;
    // B11 B22 B33 B23 B13 B12 -> U11 U22 U33 U12 U13 U23.
    const double u[6] = {b[0] * scale, b[1] * scale, b[2] * scale, b[5] * scale, b[4] * scale, b[3] * scale};
    SetSiteUij(s->crystal, s->crystal.sites[it->second], u);
  }
  if (!s->extras.title.empty())
    s->name = s->extras.title;
  return FinishImportedStructure(*s, result_.error);
}

} // namespace

bool IsCCSLFile(const ImportSource &source) {
  // Every card a capital letter and a blank; a cell card and an atom card.
  const auto lines = ImportLines(std::string_view(source.text).substr(0, 1 << 14));
  bool cell = false, atom = false;
  size_t cards = 0;
  for (size_t n = 0; n < lines.size() && cards < kDetectLines; n++) {
    const std::string_view l = lines[n];
    if (TrimImport(l).empty())
      continue;
    cards++;
    if (!std::isupper(static_cast<unsigned char>(l[0])) || (l.size() > 1 && l[1] != ' ' && l[1] != '\t'))
      return false;
    const auto t = ImportTokens(l.substr(1));
    if (l[0] == 'C' && !t.empty() && ImportBeginsAsNumber(t[0]))
      cell = true;
    if (l[0] == 'A' && t.size() >= 4)
      atom = true;
  }
  return cell && atom;
}

bool DoCCSLFile(const ImportSource &source, ImportResult &result) {
  return !RefuseCutInsideNumber(source, result) && Reader(source, result).Read();
}

extern const ImportFormat gCCSLImport{"CCSL", "CCSL crystal data files", "ccl", "", IsCCSLFile, DoCCSLFile};
