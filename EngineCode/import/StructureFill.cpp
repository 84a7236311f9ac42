#include "import/StructureFill.h"

#include "Preferences.h"
#include "StoredLimits.h"
#include "StructureArrays.h"
#include "UnitCell.h"
#include "CellFrame.h"
#include "FractionalPlaces.h"
#include "documents/StoredValueRanges.h"
#include "import/ImportSymmetry.h"
#include "import/ImportText.h"
#include "import/TextNumbers.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <unordered_set>

bool RefuseImport(ImportResult &result, int line, std::string what) {
  result.error.line = line;
  result.error.what = std::move(what);
  return false;
}

bool RefuseNumber(ImportResult &result, int line, std::string_view what, std::string_view text,
                  std::string_view owner) {
  std::string of = owner.empty() ? std::string() : " of " + std::string(owner);
  return RefuseImport(result, line,
                      "the " + std::string(what) + " \"" + std::string(text) + "\"" + of + " is not a number");
}

namespace {

// Less room per atom than any matter leaves (the densest solids leave more
// than 5 A^3).
constexpr double kMinCellVolumePerAtom = 2.0; // A^3
// A cell too small for its atoms is refused with the count of the atoms
// the file holds, counted to the end up to this many (past it, "at least").
constexpr double kRoomCountEnough = 1e6;

// Sites of every structure of the file so far: the limit is the file's.
size_t FileSiteCount(const ImportResult &result) {
  size_t n = 0;
  for (const ImportedStructure &s : result.structures)
    n += s.crystal.sites.size();
  return n;
}

bool Refuse(ImportError &error, int line, std::string what) {
  error.line = line;
  error.what = std::move(what);
  return false;
}

AsymmetricUnitRecord *AppendSite(ImportResult &result, ImportedStructure &s, std::string_view label,
                                 ElementCode element, int line) {
  // Counting every structure's sites each time would be quadratic in
  // structures: only a file near the limit pays for the count.
  if (s.crystal.sites.size() + result.structures.size() >= kMaxImportSites / 2 &&
      FileSiteCount(result) >= kMaxImportSites) {
    Refuse(result.error, line,
           "the file holds more than " + std::to_string(kMaxImportSites) + " atoms, the most this version opens");
    return nullptr;
  }
  AsymmetricUnitRecord &site = s.crystal.sites.emplace_back(gBlankAU);
  site.elements[0] = element;
  site.elements[1] = site.elements[2] = kBlankElement;
  site.occupancies[0] = 1.0f;
  site.occupancies[1] = site.occupancies[2] = 0.0f;
  // Labels are held whole here and shortened once the file is read, so that
  // the shortened ones stay unique.
  s.labels.emplace_back(label);
  return &site;
}

// Labels longer than the record holds become their first characters, made
// unique with a number where two would meet: the first n of 1, 2, ... for
// which the label's first characters and n make a label not yet taken.
// Labels sharing their first characters try the same candidates, and a
// candidate once taken stays taken, so each run of candidates of one
// length resumes where the last label that tried it stopped: a file of
// labels that all collide is read in linear time.
void FitLabels(ImportedStructure &s) {
  constexpr size_t kRoom = kSiteLabelSize - 1;
  constexpr int kLastSuffix = 999999;
  // Every candidate is kRoom characters long (a stem of kRoom - digits
  // characters and a number of that many digits), so only labels of that
  // length can meet one. They are held packed in a number each, the first
  // character highest so that the numbers sort as the labels do: those of
  // the file sorted once, the candidates taken in a set. The candidates of
  // one stem ascend, so each is sought in the file's labels from where the
  // one before it was.
  static_assert(kRoom <= sizeof(uint64_t) && [] {
    size_t digits = 0;
    for (int n = kLastSuffix; n > 0; n /= 10)
      digits++;
    return digits < kRoom;
  }());
  auto key = [](std::string_view l) {
    uint64_t k = 0;
    for (size_t i = 0; i < sizeof k; i++)
      k = k << 8 | (i < l.size() ? static_cast<unsigned char>(l[i]) : 0u);
    return k;
  };
  std::vector<uint64_t> given;
  std::unordered_set<uint64_t> taken;
  // The first of the file's labels from `from` on that is not below k.
  auto seek = [&given](size_t from, uint64_t k) {
    size_t step = 1;
    while (from + step < given.size() && given[from + step] < k) {
      from += step;
      step *= 2;
    }
    const auto end = given.begin() + static_cast<std::ptrdiff_t>(std::min(from + step + 1, given.size()));
    return static_cast<size_t>(std::lower_bound(given.begin() + static_cast<std::ptrdiff_t>(from), end, k) -
                               given.begin());
  };
  auto usedFrom = [&](size_t &from, uint64_t k) {
    from = seek(from, k);
    return (from < given.size() && given[from] == k) || taken.count(k) > 0;
  };
  // The next n worth trying after each stem, the label's first characters
  // before a suffix of (kRoom - stem length) digits.
  std::unordered_map<std::string, int> nextAfter;
  bool shortened = false;
  // Only a file with a label too long pays for the labels' keys.
  const bool anyLong = std::any_of(s.labels.begin(), s.labels.end(), [](const std::string &l) { return l.size() > kRoom; });
  for (const std::string &l : s.labels)
    if (anyLong && l.size() == kRoom)
      given.push_back(key(l));
  if (!std::is_sorted(given.begin(), given.end()))
    std::sort(given.begin(), given.end());
  for (size_t k = 0; k < s.crystal.sites.size(); k++) {
    const std::string_view label = k < s.labels.size() ? std::string_view(s.labels[k]) : std::string_view();
    if (label.size() <= kRoom) {
      MyStrCopy(std::span<char>(s.crystal.sites[k].label), label);
      continue;
    }
    shortened = true;
    std::string cut(label.substr(0, kRoom));
    size_t from = 0;
    if (usedFrom(from, key(cut))) {
      for (int digits = 1, first = 1; first <= kLastSuffix; digits++, first *= 10) {
        const size_t stemLength = kRoom - std::min<size_t>(kRoom - 1, static_cast<size_t>(digits));
        const std::string stem(label.substr(0, stemLength));
        int &next = nextAfter.try_emplace(stem, first).first->second;
        const int last = std::min(first * 10 - 1, kLastSuffix);
        // The candidate: the stem and next's digits, which fill the room.
        char text[kRoom];
        std::memcpy(text, stem.data(), stemLength);
        bool tried = false;
        from = 0;
        for (; next <= last; next++) {
          for (int n = next, at = static_cast<int>(kRoom) - 1; at >= static_cast<int>(stemLength); at--, n /= 10)
            text[at] = static_cast<char>('0' + n % 10);
          tried = true;
          if (!usedFrom(from, key(std::string_view(text, kRoom))))
            break;
        }
        if (tried)
          cut.assign(text, kRoom);
        if (next <= last) {
          next++;
          break;
        }
      }
    }
    taken.insert(key(cut));
    MyStrCopy(std::span<char>(s.crystal.sites[k].label), cut);
  }
  if (shortened)
    ImportWarning(s, 0,
                  "labels longer than " + std::to_string(kRoom) + " characters were shortened and kept unique.");
  s.labels.clear();
}

} // namespace

namespace {

// The 1-based line of a file cut inside its last number; 0 for one that
// ends whole.
int LineCutInsideNumber(const ImportSource &source) {
  if (!source.lastLineOpen)
    return 0;
  std::string_view text = source.text;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
    text.remove_suffix(1);
  if (text.empty())
    return 0;
  // The last word is a number's beginning: digits, a point, an exponent
  // or a sign, ending where no number ends. A lone point is no number (a
  // CIF's "inapplicable"), nor is a word with letters ("O2-").
  const size_t start = text.find_last_of(" \t\n") + 1; // 0 when the text is one word
  const std::string_view word = text.substr(start);
  const bool numeric = word.find_first_not_of("0123456789.eE+-") == std::string_view::npos && word != ".";
  const char last = word.back();
  const bool cut = numeric && (last == '.' || last == 'e' || last == 'E' || last == '+' || last == '-');
  return cut ? static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1 : 0;
}

} // namespace

bool RefuseCutInsideNumber(const ImportSource &source, ImportResult &result) {
  const int cut = LineCutInsideNumber(source);
  return cut > 0 && !RefuseImport(result, cut, "the file ends inside the record");
}

void BeginStructureRecord(CrystalRec &crystal) {
  ClearCrystalRec(&crystal);
  CopyPrefsToCrystal(&gPrefs, &crystal);
}

ImportedStructure *BeginImportedStructure(ImportResult &result, std::string name, int line) {
  if (result.structures.size() >= kMaxImportStructures) {
    result.structuresLeftOut++;
    Refuse(result.error, line,
           "the file holds more than " + std::to_string(kMaxImportStructures) +
               " structures, the most this version reads of one file");
    return nullptr;
  }
  ImportedStructure &s = result.structures.emplace_back();
  BeginStructureRecord(s.crystal);
  s.name = std::move(name);
  return &s;
}

void ImportWarning(ImportedStructure &s, int line, std::string_view text) {
  if (s.extras.warnings.size() >= kMaxImportWarnings) {
    s.extras.warningsLeftOut++;
    return;
  }
  std::string w = line > 0 ? "line " + std::to_string(line) + ": " : std::string();
  w += text;
  if (w.size() > kMaxImportWarningLength) {
    constexpr std::string_view kCut = "...";
    size_t end = kMaxImportWarningLength - kCut.size();
    while (end > 0 && (static_cast<unsigned char>(w[end]) & 0xC0) == 0x80)
      end--; // not inside a character
    w.resize(end);
    w += kCut;
  }
  s.extras.warnings.push_back(std::move(w));
}

void WarningNames::Add(std::string_view name) {
  if (count_ < kMaxNamesInImportWarning)
    (named_ += named_.empty() ? "" : ", ") += name;
  count_++;
}

std::string WarningNames::Text() const {
  if (count_ <= kMaxNamesInImportWarning)
    return named_;
  return named_ + " and " + std::to_string(count_ - kMaxNamesInImportWarning) + " more";
}

bool SayPartsLeftOut(ImportResult &result, const std::vector<std::string> &leftOut) {
  if (result.structures.empty())
    return RefuseImport(result, 0, "it holds no phase with atoms");
  for (ImportedStructure &s : result.structures)
    for (const std::string &w : leftOut)
      ImportWarning(s, 0, w);
  return true;
}

bool ImportPositionKept(ImportedStructure &s, const double v[3], int line) {
  for (int k = 0; k < 3; k++)
    if (!(std::fabs(v[k]) <= stored::kFinite.high)) {
      ImportWarning(s, line, "the atom lies at no place a structure holds (a coordinate beyond " +
                                 FormatFixed(stored::kFinite.high, 0) + "); it is left out.");
      if (s.firstLeftOutLine == 0)
        s.firstLeftOutLine = line;
      return false;
    }
  return true;
}

namespace {

// A site appended for an atom at no place a structure holds keeps its index (readers
// name atoms by it, bonds too) and is taken out when the file is read.
constexpr float kLeftOutMark = std::numeric_limits<float>::quiet_NaN();

bool LeftOut(const AsymmetricUnitRecord &site) { return std::isnan(site.xyz[0]); }

// Takes out the sites marked left out, with their labels, positions and
// the file's bonds to them.
void DropLeftOutSites(ImportedStructure &s) {
  std::vector<AsymmetricUnitRecord> &sites = s.crystal.sites;
  if (std::none_of(sites.begin(), sites.end(), LeftOut))
    return;
  constexpr uint32_t kGone = ~uint32_t{0};
  std::vector<uint32_t> newIndex(sites.size(), kGone);
  size_t kept = 0;
  for (size_t k = 0; k < sites.size(); k++) {
    if (LeftOut(sites[k]))
      continue;
    newIndex[k] = static_cast<uint32_t>(kept);
    if (kept != k) {
      sites[kept] = sites[k];
      if (k < s.labels.size())
        s.labels[kept] = std::move(s.labels[k]);
      if (k < s.cartesian.size())
        s.cartesian[kept] = s.cartesian[k];
      if (k < s.multiplicities.size())
        s.multiplicities[kept] = s.multiplicities[k];
    }
    kept++;
  }
  sites.resize(kept);
  s.labels.resize(std::min(s.labels.size(), kept));
  s.cartesian.resize(std::min(s.cartesian.size(), kept));
  s.multiplicities.resize(std::min(s.multiplicities.size(), kept));
  std::erase_if(s.bonds, [&](FileBond &b) {
    if (b.first >= newIndex.size() || b.second >= newIndex.size() || newIndex[b.first] == kGone ||
        newIndex[b.second] == kGone)
      return true;
    b = {newIndex[b.first], newIndex[b.second]};
    return false;
  });
}

} // namespace

AsymmetricUnitRecord *AppendImportSite(ImportResult &result, ImportedStructure &s, std::string_view label,
                                       ElementCode element, const double xyz[3], int line) {
  AsymmetricUnitRecord *site = AppendSite(result, s, label, element, line);
  if (site && !ImportPositionKept(s, xyz, line))
    site->xyz[0] = kLeftOutMark;
  else if (site)
    for (int k = 0; k < 3; k++)
      site->xyz[k] = static_cast<float>(xyz[k]);
  return site;
}

void ReserveImportSites(ImportedStructure &s, size_t n) {
  s.crystal.sites.reserve(s.crystal.sites.size() + n);
  s.labels.reserve(s.labels.size() + n);
  if (s.crystal.molecule)
    s.cartesian.reserve(s.cartesian.size() + n);
}

AsymmetricUnitRecord *AppendImportAtom(ImportResult &result, ImportedStructure &s, std::string_view label,
                                       ElementCode element, const double cart[3], int line) {
  AsymmetricUnitRecord *site = AppendSite(result, s, label, element, line);
  if (!site)
    return nullptr;
  if (ImportPositionKept(s, cart, line)) {
    s.cartesian.push_back({static_cast<float>(cart[0]), static_cast<float>(cart[1]), static_cast<float>(cart[2])});
  } else {
    site->xyz[0] = kLeftOutMark;
    s.cartesian.push_back({0.0f, 0.0f, 0.0f});
  }
  return site;
}

bool SetImportCell(ImportedStructure &s, ImportError &error, int line, const double cell[6], const double esd[6]) {
  for (int k = 0; k < 6; k++)
    if (!(cell[k] > 0.0 && cell[k] <= std::numeric_limits<float>::max()) || (k >= 3 && cell[k] >= 180.0))
      return Refuse(error, line, "the cell's lengths and angles make no cell");
  // The three angles must close: each less than the sum of the other two,
  // and all three less than 360 degrees.
  const double al = cell[3], be = cell[4], ga = cell[5];
  if (al + be + ga >= 360.0 || al >= be + ga || be >= al + ga || ga >= al + be)
    return Refuse(error, line, "the cell's angles make no cell");
  // A cell thinner than kMinImportCellHeight between two faces is no
  // crystal's, and would make the bond search visit millions of images.
  if (!(ThinnestCellHeight(cell) >= kMinImportCellHeight))
    return Refuse(error, line,
                  "the cell is thinner than " + FormatFixed(kMinImportCellHeight, 1) +
                      " A between two of its faces, which no crystal's cell is");
  CrystalRec &c = s.crystal;
  c.molecule = 0;
  c.a = static_cast<float>(cell[0]);
  c.b = static_cast<float>(cell[1]);
  c.c = static_cast<float>(cell[2]);
  c.alpha = static_cast<float>(cell[3]);
  c.beta = static_cast<float>(cell[4]);
  c.gamma = static_cast<float>(cell[5]);
  if (esd)
    for (int k = 0; k < 6; k++)
      if (esd[k] > 0.0 && esd[k] <= std::numeric_limits<float>::max()) {
        c.cellEsds[k] = static_cast<float>(esd[k]);
        c.esdFlag = 1;
      }
  return true;
}

void MakeAtomTypes(CrystalRec &c, std::span<const AtomTypeLook> looks) {
  std::vector<SphereRecord> spheres;
  // The type of each element symbol seen so far ("Ab": letter, then blank
  // or small letter), so that a site costs no search of the types; any other
  // code is looked up among the types.
  constexpr uint32_t kNoType = ~uint32_t{0};
  constexpr size_t kSymbolSlots = 26 * 27;
  std::array<uint32_t, kSymbolSlots> typeOfSymbol;
  typeOfSymbol.fill(kNoType);
  auto symbolIndex = [](ElementCode e) -> size_t {
    const int c0 = e >> 8, c1 = e & 0xFF;
    if (c0 < 'A' || c0 > 'Z' || (c1 != ' ' && (c1 < 'a' || c1 > 'z')))
      return kSymbolSlots;
    return static_cast<size_t>(c0 - 'A') * 27 + (c1 == ' ' ? 0 : static_cast<size_t>(c1 - 'a' + 1));
  };
  auto typeOf = [&](ElementCode e) -> uint32_t {
    const size_t index = symbolIndex(e);
    if (index < kSymbolSlots && typeOfSymbol[index] != kNoType)
      return typeOfSymbol[index];
    for (size_t k = 0; k < spheres.size(); k++)
      if (spheres[k].element == e)
        return static_cast<uint32_t>(k);
    SphereRecord s = gBlankSphere;
    s.element = e;
    bool found = false;
    for (const AtomTypeLook &t : looks)
      if (t.element == e && !found) {
        s.radius = t.radius;
        s.colour = t.colour;
        found = true;
      }
    for (const ElementData &d : gPrefs.elementData)
      if (!found && d.element == e && d.radius > 0.0f) {
        s.radius = d.radius;
        s.colour = d.colour;
        found = true;
      }
    s.drawnRadius = s.radius;
    spheres.push_back(s);
    if (index < kSymbolSlots)
      typeOfSymbol[index] = static_cast<uint32_t>(spheres.size() - 1);
    return static_cast<uint32_t>(spheres.size() - 1);
  };
  for (AsymmetricUnitRecord &site : c.sites) {
    site.atomType = typeOf(site.elements[0]);
    site.atomStyle = c.defaultAtomStyle;
  }
  c.siteCount = static_cast<int32_t>(c.sites.size());
  c.spheres = std::move(spheres);
  c.sphereCount = static_cast<int32_t>(c.spheres.size());
}

bool CheckReadValues(CrystalRec &c, std::vector<std::string> &warnings, std::string *why) {
  StoredValueReport values;
  if (!CheckStoredValues(c, &values, {}, false)) {
    if (why)
      *why = values.why;
    return false;
  }
  for (std::string line : values.reset) {
    // In the words of a file rather than of stored settings.
    if (line.starts_with(kStoredLead))
      line.replace(0, std::string_view(kStoredLead).size(), "the ");
    warnings.push_back(std::move(line));
  }
  return true;
}

std::string CellWithoutRoom(CrystalRec &c) {
  const double cell[6] = {c.a, c.b, c.c, c.alpha, c.beta, c.gamma};
  const double volume = CellVolume(cell);
  const double room = volume / kMinCellVolumePerAtom; // the most atoms it may hold
  // The operators of a record holding the structure's symmetry alone: the
  // structure's own record is left as the build will find it.
  CrystalRec symmetry;
  symmetry.cardCount = c.cardCount;
  symmetry.symCards = c.symCards;
  std::copy(std::begin(c.spaceGroup), std::end(c.spaceGroup), std::begin(symmetry.spaceGroup));
  symmetry.originChoice = c.originChoice;
  symmetry.latticeLetter = c.latticeLetter;
  symmetry.alpha = c.alpha, symmetry.beta = c.beta, symmetry.gamma = c.gamma;
  if (symmetry.cardCount == 0 && TrimImport(CStrView(std::span<const char>(symmetry.spaceGroup))).empty())
    return {}; // no symmetry yet: the build says so
  int32_t opCount = 0;
  const auto ops = GetCrystalGEPs(&symmetry, &opCount);
  if (!ops || opCount < 1)
    return {};
  // Every site at a general position, and still room: nothing to count.
  if (static_cast<double>(c.sites.size()) * opCount <= room)
    return {};
  // Sites at one position (the elements of a mixed site listed apart) share
  // it: the place counts once.
  FractionalPlaces places;
  const OneAtomRule rule(c);
  double atoms = 0.0;
  size_t counted = 0; // sites looked at, placeholders and shared places too
  for (const AsymmetricUnitRecord &site : c.sites) {
    // A placeholder is no matter: a simulation in reduced units (its
    // lengths in sigma, not A) packs its particles closer than atoms are.
    const double at[3] = {site.xyz[0], site.xyz[1], site.xyz[2]};
    if (site.elements[0] == kPlaceholderElement || !places.Insert(at).second) {
      counted++;
      continue;
    }
    // The operators that leave the site in place (its stabiliser): its
    // orbit holds the operators' count over theirs.
    const int fixing = OperatorsFixing(*ops, site.xyz, c.originShift, rule);
    atoms += static_cast<double>(opCount) / std::max(fixing, 1);
    counted++;
    // Once the cell is known too small, the count goes on only so far: the
    // cost stays bounded by the atoms the cell may hold, not by those the
    // file claims.
    if (atoms > room && atoms > kRoomCountEnough)
      break;
  }
  return CellTooSmallFor(volume, atoms, counted < c.sites.size());
}

std::string CellTooSmallFor(double volume, double atoms, bool atLeast) {
  if (!(atoms > volume / kMinCellVolumePerAtom))
    return {};
  return std::string(atLeast ? "at least " : "") + std::to_string(static_cast<long long>(atoms)) +
         " atoms in a cell of " + FormatFixed(volume, 1) + " \u00C5\u00B3: less than the " +
         FormatFixed(kMinCellVolumePerAtom, 0) + " \u00C5\u00B3 each atom of any matter needs";
}

namespace {

// An occupancy of 0 is kept as the file gives it, whatever the format: the
// atom is drawn and exported, and adds nothing to a formula or density. One
// line says so for the whole structure.
void SayZeroOccupancies(ImportedStructure &s) {
  size_t zero = 0;
  for (const AsymmetricUnitRecord &site : s.crystal.sites)
    for (int k = 0; k < kMaxSiteElements; k++)
      zero += site.elements[k] != kBlankElement && site.occupancies[k] == 0.0f;
  if (zero > 0)
    ImportWarning(s, 0,
                  std::to_string(zero) + (zero == 1 ? " atom has" : " atoms have") +
                      " the occupancy 0, kept as given: drawn and exported, in no formula or density.");
}

} // namespace

bool FinishImportedStructure(ImportedStructure &s, ImportError &error, CellRoom room,
                             const std::function<void()> &roomHeld) {
  CrystalRec &c = s.crystal;
  DropLeftOutSites(s);
  if (c.sites.empty() && s.firstLeftOutLine > 0)
    return Refuse(error, s.firstLeftOutLine,
                  "the file's atoms lie at no place a structure holds (a coordinate beyond " +
                      FormatFixed(stored::kFinite.high, 0) + ")");
  if (c.sites.empty())
    return Refuse(error, 0, "it holds no atom with coordinates");
  ChooseUnnamedOrigin(s);
  SayZeroOccupancies(s);
  if (!c.molecule && room == CellRoom::Held)
    if (std::string why = CellWithoutRoom(c); !why.empty())
      return Refuse(error, 0, why);
  if (roomHeld)
    roomHeld();
  FitLabels(s);
  MakeAtomTypes(c, s.looks);
  if (c.molecule) {
    c.atoms.assign(c.sites.size(), gBlankAtom);
    for (size_t k = 0; k < c.atoms.size(); k++) {
      AtomRecord &atom = c.atoms[k];
      atom.site = static_cast<uint32_t>(k);
      atom.atomType = c.sites[k].atomType;
      if (k < s.cartesian.size())
        std::copy(s.cartesian[k].begin(), s.cartesian[k].end(), atom.cart);
      std::fill(std::begin(c.sites[k].xyz), std::end(c.sites[k].xyz), 0.0f);
      c.sites[k].firstAtom = static_cast<int32_t>(k);
      c.sites[k].lastAtom = static_cast<int32_t>(k);
    }
    c.atomCount = static_cast<int32_t>(c.atoms.size());
  }
  s.cartesian.clear();
  s.cartesian.shrink_to_fit();
  std::string why;
  if (!CheckReadValues(c, s.extras.warnings, &why))
    return Refuse(error, 0, "it holds no valid unit cell: " + why);
  return true;
}
