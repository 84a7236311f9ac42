#include "import/ImportSymmetry.h"

#include "FractionalPlaces.h"
#include "PeriodicNeighbours.h"
#include "SpaceGroups.h"
#include "SymmetryCards.h"
#include "import/CellFrame.h"
#include "import/ImportText.h"
#include "import/StructureFill.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <optional>

namespace {

// The table row a symbol and origin name, or -1. An origin stated for a
// group of one origin ("P 6/m c c S") names that one.
int16_t RowOfSymbol(std::string symbol, uint8_t origin) {
  VerifyOriginChoiceForSpacegroup(symbol, origin);
  std::string schoenflies, full;
  int16_t number = 0, system = 0, count = 0;
  if (!GetSpacegroupDetails(symbol, schoenflies, full, origin, 0, number, system, count))
    return -1;
  return GetInternationalSpacegroupIndex(symbol, origin, 0);
}

// The setting a symbol states beside the group: an origin (1, 2; 0 for
// none) and, for a rhombohedral group, its axes ('H', 'R'; 0 for none).
struct StatedSetting {
  int origin = 0;
  char axes = 0;
};

bool TextHas(std::string_view text, std::string_view word) {
  for (size_t k = 0; k + word.size() <= text.size(); k++)
    if (ImportEqualNoCase(text.substr(k, word.size()), word))
      return true;
  return false;
}

// The symbol without what states its setting, as files write it: a suffix
// ("P 32 2 1:1", "R -3 c:H"), a database's closing letter after a blank
// ("F d -3 m Z" origin 2 at the centre, "F d -3 m S" origin 1, "R -3 c H"
// hexagonal axes, "R 3 R" rhombohedral), or the axes in braces ("R 3 c
// {rhombohedral axes}"). The closing letter is never an axis part, which
// are digits and the letters a, b, c, d, e, m and n.
std::string WithoutSuffix(std::string_view symbol, StatedSetting &stated) {
  std::string text(TrimImport(symbol));
  if (const size_t open = text.rfind('{'); open != std::string::npos && text.back() == '}') {
    const std::string_view inside = std::string_view(text).substr(open + 1, text.size() - open - 2);
    const char axes = TextHas(inside, "rhombohedral") ? 'R' : TextHas(inside, "hexagonal") ? 'H' : 0;
    if (axes != 0) {
      stated.axes = axes;
      text.erase(open);
    }
  }
  while (!text.empty() && text.back() == ' ')
    text.pop_back();
  const size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    const std::string suffix(TrimImport(std::string_view(text).substr(colon + 1)));
    if (suffix == "1" || suffix == "2")
      stated.origin = suffix[0] - '0';
    else if (suffix.size() == 1)
      stated.axes = static_cast<char>(std::toupper(static_cast<unsigned char>(suffix[0])));
    text.erase(colon);
  } else if (const size_t blank = text.rfind(' ');
             blank != std::string::npos && blank + 2 == text.size() && text.find(' ') < blank) {
    bool setting = true;
    switch (std::toupper(static_cast<unsigned char>(text.back()))) {
    case 'S':
      stated.origin = 1;
      break;
    case 'Z':
      stated.origin = 2;
      break;
    case 'H':
      stated.axes = 'H';
      break;
    case 'R':
      stated.axes = 'R';
      break;
    default:
      setting = false;
      break;
    }
    if (setting)
      text.erase(blank);
  }
  while (!text.empty() && text.back() == ' ')
    text.pop_back();
  return text;
}

std::string WithoutSuffix(std::string_view symbol, int &origin) {
  StatedSetting stated{origin, 0};
  std::string text = WithoutSuffix(symbol, stated);
  origin = stated.origin;
  return text;
}

// A centred list whose first operator of a class is another copy than the
// table's: the whole list, centring copies included, names the group when
// the group's own operators and their copies are all in it.
bool FindSpacegroupOfWholeList(const std::vector<Symcard> &all, const CrystalRec &c, std::string &symbol,
                               uint8_t &origin, char &lattice) {
  int count = static_cast<int>(all.size());
  char letter = 'P';
  if (!GetSpacegroupFromGEPs(all, count, letter, symbol, origin))
    return false;
  std::array<Symcard, kMaxSymCards> made{};
  uint16_t madeCount = 0;
  if (!Spaceg(symbol, origin, c.alpha, c.beta, c.gamma, lattice, madeCount, std::span<Symcard>(made)) ||
      EffectiveLatticeLetter(lattice, c.alpha, c.beta, c.gamma) !=
          EffectiveLatticeLetter(c.latticeLetter, c.alpha, c.beta, c.gamma) ||
      madeCount != c.cardCount)
    return false;
  std::vector<EncodedSymmCard> codes;
  codes.reserve(all.size());
  for (const Symcard &card : all)
    codes.push_back(EncodeSymmCard(card));
  std::sort(codes.begin(), codes.end());
  for (uint16_t k = 0; k < madeCount; k++)
    if (!std::binary_search(codes.begin(), codes.end(), EncodeSymmCard(made[k])))
      return false;
  return true;
}

// ---- The origin a two-origin symbol's sites fit ------------------------------

// Atoms closer than this (A) that cannot both be there overlap.
constexpr double kOverlapDistance = 0.5;
// Occupancies of two atoms that may share a place sum to at most 1 plus this.
constexpr double kOccupancySlack = 1e-3;
// The overlap test expands at most this many images.
constexpr size_t kMostOverlapImages = 200000;

// The operators of one origin of a symbol, centring copies included.
std::vector<GEP> OriginOperators(const std::string &symbol, uint8_t origin, const CrystalRec &c) {
  std::string resolved = symbol;
  std::array<Symcard, kMaxSymCards> cards{};
  uint16_t count = 0;
  char lattice = 'P';
  if (!Spaceg(resolved, origin, c.alpha, c.beta, c.gamma, lattice, count, std::span<Symcard>(cards)))
    return {};
  int16_t centrings = 1;
  CentringVectors vectors{};
  Bravais(EffectiveLatticeLetter(lattice, c.alpha, c.beta, c.gamma), centrings, vectors);
  std::vector<GEP> ops;
  ops.reserve(static_cast<size_t>(count) * static_cast<size_t>(centrings));
  for (uint16_t k = 0; k < count; k++) {
    GEP gep;
    Symcard2GEP(cards[k], gep);
    for (int16_t v = 0; v < centrings; v++) {
      GEP copy = gep;
      for (int i = 0; i < 3; i++)
        copy.translation[i] += vectors[static_cast<size_t>(v)][static_cast<size_t>(i)];
      ops.push_back(copy);
    }
  }
  return ops;
}

void Apply(const GEP &op, const float xyz[3], double out[3]) {
  const double at[3] = {xyz[0], xyz[1], xyz[2]};
  ApplyOperator(op, at, out);
}

// The site's count of distinct images.
int Multiplicity(const std::vector<GEP> &ops, const float xyz[3], const OneAtomRule &rule) {
  const double at[3] = {xyz[0], xyz[1], xyz[2]};
  return SiteImageCount(ops, at, rule);
}

double SiteOccupancy(const AsymmetricUnitRecord &site) {
  double sum = 0.0;
  for (int k = 0; k < kMaxSiteElements; k++)
    sum += site.elements[k] == kBlankElement ? 0.0 : static_cast<double>(site.occupancies[k]);
  return sum;
}

// Whether two images of the sites (a site's own images that are one
// position aside) come closer than kOverlapDistance with occupancies that
// do not allow both; nullopt when there are too many images to look.
//
// The images are compared by place (FractionalPlaces), not one by one, so
// that rows a file lists at one position cost once: a place keeps the two
// largest occupancies of distinct sites with an image there (one site's
// images at one place are one atom on a special position). Two sites at one
// place overlap when those two do not fit together; two places closer than
// the distance, when their largest do not.
std::optional<bool> AtomsOverlap(const std::vector<GEP> &ops, const CrystalRec &c) {
  if (ops.empty() || c.sites.size() * ops.size() > kMostOverlapImages)
    return std::nullopt;
  const double cell[6] = {c.a, c.b, c.c, c.alpha, c.beta, c.gamma};
  const CellFrame frame = StandardCellFrame(cell);
  struct Place {
    uint32_t site = 0;    // the site of the largest occupancy
    double largest = 0.0; // its occupancy
    double second = -1.0; // the largest of another site; below 0 for none
  };
  FractionalPlaces found;
  std::vector<Place> places;
  for (size_t s = 0; s < c.sites.size(); s++) {
    const double occupancy = SiteOccupancy(c.sites[s]);
    for (const GEP &op : ops) {
      ImportReadStep();
      double f[3];
      Apply(op, c.sites[s].xyz, f);
      for (double &x : f)
        x -= std::floor(x);
      const auto [at, fresh] = found.Insert(f);
      if (fresh) {
        places.push_back({static_cast<uint32_t>(s), occupancy, -1.0});
        continue;
      }
      Place &p = places[at];
      if (p.site == s)
        continue;
      if (occupancy > p.largest) {
        p.second = p.largest;
        p.site = static_cast<uint32_t>(s);
        p.largest = occupancy;
      } else {
        p.second = std::max(p.second, occupancy);
      }
    }
  }
  for (const Place &p : places)
    if (p.second >= 0.0 && p.largest + p.second > 1.0 + kOccupancySlack)
      return true;
  // Two places closer than the distance overlap when their largest
  // occupancies do not fit together. A place's own images stand a cell
  // height apart, more than the distance in any cell a reader keeps.
  std::vector<NeighbourMarkInput> marks(places.size());
  for (size_t k = 0; k < places.size(); k++) {
    const std::array<double, 3> &f = found.Position(k);
    marks[k].mark.atom = marks[k].mark.place = static_cast<uint32_t>(k);
    marks[k].mark.site = places[k].site;
    std::copy(f.begin(), f.end(), marks[k].xyz);
  }
  PeriodicNeighbours list(frame, marks, kOverlapDistance);
  list.HearCancelKey([] {
    ImportReadStep();
    return false;
  });
  NeighbourPolicy policy;
  policy.limits = {kOverlapDistance};
  policy.ownImageBelowSq = kOverlapDistance * kOverlapDistance;
  policy.crowdLimit = kNoCrowdLimit;
  std::vector<NeighbourPair> pairs;
  list.Pairs(policy, pairs);
  for (const NeighbourPair &p : pairs)
    if (p.d2 < kOverlapDistance * kOverlapDistance && places[p.a].largest + places[p.b].largest > 1.0 + kOccupancySlack)
      return true;
  return false;
}

// How a two-origin symbol's origin was chosen.
enum class OriginFit : uint8_t { None, Multiplicities, NoOverlap };

// The origin (1 or 2) the sites fit, or 0 when neither or both do.
uint8_t OriginTheSitesFit(const std::string &symbol, const CrystalRec &c, std::span<const int> multiplicities,
                          OriginFit &how) {
  how = OriginFit::None;
  std::vector<GEP> ops[2] = {OriginOperators(symbol, 1, c), OriginOperators(symbol, 2, c)};
  if (ops[0].empty() || ops[1].empty())
    return 0;
  bool given = false, fits[2] = {true, true};
  const OneAtomRule rule(c);
  for (size_t s = 0; s < c.sites.size() && s < multiplicities.size(); s++) {
    if (multiplicities[s] <= 0)
      continue;
    given = true;
    for (int o = 0; o < 2; o++)
      fits[o] = fits[o] && Multiplicity(ops[o], c.sites[s].xyz, rule) == multiplicities[s];
    if (!fits[0] && !fits[1])
      break;
  }
  if (given && fits[0] != fits[1]) {
    how = OriginFit::Multiplicities;
    return fits[0] ? 1 : 2;
  }
  const std::optional<bool> overlaps[2] = {AtomsOverlap(ops[0], c), AtomsOverlap(ops[1], c)};
  if (overlaps[0] && overlaps[1] && *overlaps[0] != *overlaps[1]) {
    how = OriginFit::NoOverlap;
    return *overlaps[0] ? 2 : 1;
  }
  return 0;
}

} // namespace

namespace {

// `texts`, when given, are the operators as the file wrote them, for the
// refusal.
bool WorkOutSymmetry(ImportedStructure &s, std::span<const GEP> operators, std::span<const std::string> texts, int line,
                     ImportError &error, std::string_view statedSymbol) {
  CrystalRec &c = s.crystal;
  if (operators.size() > static_cast<size_t>(kMaxSymCards)) {
    error = {line, "it lists " + std::to_string(operators.size()) + " symmetry operators; a structure holds at most " +
                       std::to_string(kMaxSymCards)};
    return false;
  }
  std::vector<Symcard> cards;
  cards.reserve(operators.size());
  for (size_t k = 0; k < operators.size(); k++) {
    const GEP &gep = operators[k];
    Symcard card{};
    bool axisInEveryRow = true;
    for (const auto &row : gep.rotation)
      axisInEveryRow = axisInEveryRow && (row[0] != 0 || row[1] != 0 || row[2] != 0);
    if (!axisInEveryRow || !GEP2Symcard(gep, card)) {
      const std::string op = k < texts.size() ? texts[k] : std::string(TrimImport(CardText(card)));
      error = {line, "the symmetry operator \"" + op + "\" is no operator this version can use"};
      return false;
    }
    cards.push_back(card);
  }
  if (cards.empty()) {
    c.symCards[0] = MakeSymcard(kIdentityCard);
    c.cardCount = 1;
    c.latticeLetter = 'P';
  } else {
    std::copy(cards.begin(), cards.end(), c.symCards.begin());
    c.cardCount = static_cast<uint16_t>(cards.size());
    c.latticeLetter = LatticeTypeFromGEPs(std::span<const Symcard>(c.symCards.data(), c.cardCount), c.cardCount);
    RemoveLatticeTranslationsForCrystal(c);
    CheckIdentityOperatorForCrystal(c);
  }
  std::string symbol;
  uint8_t origin = 0;
  char lattice = c.latticeLetter;
  float shift[3] = {0.0f, 0.0f, 0.0f};
  const std::span<const Symcard> reduced(c.symCards.data(), c.cardCount);
  if (FindSpacegroupOfCards(reduced, lattice, c.alpha, c.beta, c.gamma, symbol, origin) ||
      (cards.size() > c.cardCount && FindSpacegroupOfWholeList(cards, c, symbol, origin, lattice)) ||
      FindSpacegroupOfCardsAboutShiftedOrigin(reduced, lattice, c.alpha, c.beta, c.gamma, symbol, origin, shift)) {
    MyStrCopy(std::span<char>(c.spaceGroup), symbol);
    c.originChoice = origin;
    c.latticeLetter = lattice;
    c.cardCount = 0;
    // The operators are the group's about another origin: the structure
    // keeps the file's positions and builds its images about that origin.
    std::copy(std::begin(shift), std::end(shift), std::begin(c.originShift));
    if (!statedSymbol.empty()) {
      int statedOrigin = 0;
      const std::string stated = WithoutSuffix(statedSymbol, statedOrigin);
      const int16_t found = RowOfSymbol(symbol, origin);
      int16_t named = RowOfSymbol(stated, static_cast<uint8_t>(statedOrigin));
      if (named >= 0 && statedOrigin == 0 && named != found)
        named = RowOfSymbol(stated, origin); // no origin stated: either may be meant
      if (named != found)
        ImportWarning(s, line,
                      "the space group \"" + std::string(TrimImport(statedSymbol)) +
                          "\" disagrees with the symmetry operators, which are used (\"" + symbol + "\").");
    }
  } else {
    c.spaceGroup[0] = '\0';
    c.originChoice = 0;
    std::fill(std::begin(c.originShift), std::end(c.originShift), 0.0f);
    ImportWarning(s, line,
                  "the symmetry operators are no setting of the space-group table; they are kept as they are (" +
                      std::to_string(c.cardCount) + " operators, lattice " + std::string(1, c.latticeLetter) + ").");
  }
  return true;
}

// The last list of operators worked out and what it gave: the blocks of one
// file mostly share their group, and the table search is the dear part of
// reading a block.
struct SymmetryMemo {
  std::string key;
  char spaceGroup[kSpaceGroupSymbolSize] = {};
  uint8_t originChoice = 0;
  float originShift[3] = {0.0f, 0.0f, 0.0f};
  char latticeLetter = 'P';
  uint16_t cardCount = 0;
  std::array<Symcard, kMaxSymCards> cards{};
  std::vector<std::string> warnings; // without their line
};
thread_local SymmetryMemo gLastSymmetry;

template <typename T> void AppendBits(std::string &key, const T &value) {
  char bits[sizeof value];
  std::memcpy(bits, &value, sizeof value);
  key.append(bits, sizeof bits);
}

std::string SymmetryKey(std::span<const GEP> operators, std::string_view stated, const CrystalRec &c) {
  std::string key;
  for (const GEP &op : operators) {
    AppendBits(key, op.rotation);
    AppendBits(key, op.translation);
  }
  (key += '\x01') += stated;
  for (float angle : {c.alpha, c.beta, c.gamma})
    AppendBits(key, angle);
  return key;
}

bool SetSymmetry(ImportedStructure &s, std::span<const GEP> operators, std::span<const std::string> texts, int line,
                 ImportError &error, std::string_view statedSymbol) {
  CrystalRec &c = s.crystal;
  s.unnamedOrigin.reset();
  std::string key = SymmetryKey(operators, statedSymbol, c);
  SymmetryMemo &memo = gLastSymmetry;
  if (!memo.key.empty() && memo.key == key) {
    std::copy(std::begin(memo.spaceGroup), std::end(memo.spaceGroup), std::begin(c.spaceGroup));
    c.originChoice = memo.originChoice;
    std::copy(std::begin(memo.originShift), std::end(memo.originShift), std::begin(c.originShift));
    c.latticeLetter = memo.latticeLetter;
    c.cardCount = memo.cardCount;
    c.symCards = memo.cards;
    for (const std::string &w : memo.warnings)
      ImportWarning(s, line, w);
    return true;
  }
  const size_t warned = s.extras.warnings.size();
  if (!WorkOutSymmetry(s, operators, texts, line, error, statedSymbol))
    return false;
  memo.key = std::move(key);
  std::copy(std::begin(c.spaceGroup), std::end(c.spaceGroup), std::begin(memo.spaceGroup));
  memo.originChoice = c.originChoice;
  std::copy(std::begin(c.originShift), std::end(c.originShift), std::begin(memo.originShift));
  memo.latticeLetter = c.latticeLetter;
  memo.cardCount = c.cardCount;
  memo.cards = c.symCards;
  memo.warnings.clear();
  const std::string lead = line > 0 ? "line " + std::to_string(line) + ": " : std::string();
  for (size_t k = warned; k < s.extras.warnings.size(); k++) {
    std::string w = s.extras.warnings[k];
    if (w.starts_with(lead))
      w.erase(0, lead.size());
    memo.warnings.push_back(std::move(w));
  }
  return true;
}

} // namespace

bool SetSymmetryFromOperators(ImportedStructure &s, std::span<const GEP> operators, int line, ImportError &error,
                              std::string_view statedSymbol) {
  return SetSymmetry(s, operators, {}, line, error, statedSymbol);
}

bool SetSymmetryFromOperators(ImportedStructure &s, std::span<const std::string> operators, int line,
                              ImportError &error, std::string_view statedSymbol) {
  std::vector<GEP> geps(operators.size());
  for (size_t k = 0; k < operators.size(); k++)
    Symcard2GEP(operators[k], geps[k]);
  return SetSymmetry(s, geps, operators, line, error, statedSymbol);
}

namespace {

// The group's row and lattice for a symbol the table knows, in an origin.
void StoreSymbol(CrystalRec &c, const std::string &normal, uint8_t origin) {
  VerifyOriginChoiceForSpacegroup(normal, origin);
  std::string resolved = normal;
  std::string schoenflies, full;
  int16_t number = 0, system = 0, count = 0;
  GetSpacegroupDetails(resolved, schoenflies, full, origin, 0, number, system, count);
  MyStrCopy(std::span<char>(c.spaceGroup), resolved);
  c.originChoice = origin;
  c.cardCount = 0;
  const int16_t row = GetInternationalSpacegroupIndex(resolved, origin, 0);
  if (row >= 0)
    c.latticeLetter = SpacegroupRowLattice(row);
}

// Cell lengths within this fraction of each other are equal, and angles
// within this many degrees, when the cell decides a symbol's axes.
constexpr double kSameLengthFraction = 1e-4;
constexpr double kSameAngleDegrees = 0.01;

bool SameLength(double x, double y) { return std::fabs(x - y) <= kSameLengthFraction * std::max(x, y); }
bool SameAngle(double x, double y) { return std::fabs(x - y) <= kSameAngleDegrees; }

bool CellHasHexagonalAxes(const CrystalRec &c) { return SameLength(c.a, c.b) && SameAngle(c.gamma, 120.0); }

bool CellHasRhombohedralAxes(const CrystalRec &c) {
  return SameLength(c.a, c.b) && SameLength(c.b, c.c) && SameAngle(c.alpha, c.beta) && SameAngle(c.beta, c.gamma) &&
         !SameAngle(c.alpha, 90.0);
}

// A rhombohedral group's axes follow the cell's angles; a symbol that names
// the other axes than the cell has is read on the cell's, with a Log line.
void SayAxesOfTheCell(ImportedStructure &s, std::string_view symbol, char axes, int line) {
  const CrystalRec &c = s.crystal;
  const bool hexagonal = CellHasHexagonalAxes(c), rhombohedral = CellHasRhombohedralAxes(c);
  if (axes == 'R' && hexagonal && !rhombohedral)
    ImportWarning(s, line,
                  "the space group \"" + std::string(TrimImport(symbol)) +
                      "\" names rhombohedral axes, but the cell has hexagonal ones (a = b, gamma = 120); it is read "
                      "on hexagonal axes.");
  else if (axes == 'H' && rhombohedral && !hexagonal)
    ImportWarning(s, line,
                  "the space group \"" + std::string(TrimImport(symbol)) +
                      "\" names hexagonal axes, but the cell has rhombohedral ones (a = b = c, alpha = beta = gamma); "
                      "it is read on rhombohedral axes.");
}

std::string TwoOriginsLead(std::string_view symbol) {
  return "the space group \"" + std::string(symbol) + "\" has two origins and the file names neither; ";
}

} // namespace

bool SetSymmetryFromSymbol(ImportedStructure &s, std::string_view symbolText, int originChoice, int line,
                           OriginConvention convention) {
  CrystalRec &c = s.crystal;
  s.unnamedOrigin.reset();
  std::fill(std::begin(c.originShift), std::end(c.originShift), 0.0f);
  StatedSetting stated{originChoice, 0};
  std::string symbol = WithoutSuffix(symbolText, stated);
  const int origin = stated.origin;
  uint8_t converted = static_cast<uint8_t>(origin);
  std::string normal = symbol;
  if (!normal.empty() && !std::isdigit(static_cast<unsigned char>(normal[0])))
    ConvertSpaceGroupSymbol(normal, converted);
  if (RowOfSymbol(normal, converted) < 0) {
    if (RowOfSymbol(symbol, static_cast<uint8_t>(origin)) < 0)
      return false;
    normal = symbol;
    converted = static_cast<uint8_t>(origin);
  }
  float shift[3];
  if (converted == 0 && IsDualOriginSpacegroup(normal, shift)) {
    if (convention.origin != 0) {
      converted = convention.origin;
      ImportWarning(s, line,
                    TwoOriginsLead(symbol) + "origin " + std::to_string(converted) + " is taken, " +
                        std::string(convention.why) + ".");
    } else {
      // Origin 1 until the sites are read.
      converted = 1;
      s.unnamedOrigin = ImportedStructure::UnnamedOrigin{line, symbol};
    }
  }
  StoreSymbol(c, normal, converted);
  if (c.latticeLetter == 'R' && stated.axes != 0)
    SayAxesOfTheCell(s, symbolText, stated.axes, line);
  return true;
}

void ChooseUnnamedOrigin(ImportedStructure &s) {
  if (!s.unnamedOrigin)
    return;
  const ImportedStructure::UnnamedOrigin unnamed = std::move(*s.unnamedOrigin);
  s.unnamedOrigin.reset();
  CrystalRec &c = s.crystal;
  const std::string normal(CStrView(std::span<const char>(c.spaceGroup)));
  OriginFit how = OriginFit::None;
  const uint8_t fit = OriginTheSitesFit(normal, c, s.multiplicities, how);
  StoreSymbol(c, normal, fit == 0 ? 1 : fit);
  ImportWarning(s, unnamed.line,
                TwoOriginsLead(unnamed.symbol) +
                    (how == OriginFit::Multiplicities
                         ? "origin " + std::to_string(fit) + " is taken, the one the sites' multiplicities fit."
                     : how == OriginFit::NoOverlap
                         ? "origin " + std::to_string(fit) + " is taken, the one under which no atoms overlap."
                         : std::string("the first is taken.")));
}
