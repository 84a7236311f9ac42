#include "SpaceGroups.h"

#include "HostServices.h"
#include "SymmetryCards.h"
#include "Utilities.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

// gemmi's tables of settings (header only; its symmetry header compiles as
// C++20, unlike its CIF grammar).
#include <gemmi/symmetry.hpp>

namespace {

bool IsEndRow(int i) { return gSpacegroups[i].number >= kEndSpacegroupNumber; }

bool PassesFilters(const SpacegroupRecord &row, uint8_t origin, uint8_t setting) {
  return (origin == 0 || row.origin == origin) && (setting == 0 || row.setting == setting);
}

std::string NoBlanks(std::string_view s) {
  std::string out;
  MyStrCopyWithoutSpaces(out, s);
  return out;
}

bool HasTwoOrigins(int number) {
  for (const OffsetSpacegroup &o : gOffsetSpacegroups) {
    if (o.number >= kEndSpacegroupNumber)
      break;
    if (o.number == number)
      return true;
  }
  return false;
}

// Groups 17 and 20 list each of their three symbols twice: in the setting of
// the International Tables (abc, bca, cab) and in the setting whose origin
// lies a quarter along the screw axis from it (ba-c, a-cb, -cba). The origin
// byte tells the two apart; a symbol given without an origin choice means the
// former, so these rows are only found by their own origin choice.
bool IsShiftedScrewSetting(const SpacegroupRecord &row) {
  return row.origin != 0 && !HasTwoOrigins(row.number) &&
         (row.setting == kSettingBaMinusC || row.setting == kSettingAMinusCb || row.setting == kSettingMinusCba);
}

int16_t FirstRowWithNumber(long number, uint8_t origin, uint8_t setting) {
  for (int i = 0; !IsEndRow(i); ++i)
    if (gSpacegroups[i].number == number && PassesFilters(gSpacegroups[i], origin, setting))
      return static_cast<int16_t>(i);
  return -1;
}

// True when the row's short or full symbol, without blanks, is the key.
bool RowCarriesSymbol(const SpacegroupRecord &row, const std::string &key) {
  return (row.shortSymbol[0] != '\0' && key == NoBlanks(row.shortSymbol)) || key == NoBlanks(row.fullSymbol);
}

// Reads a decimal number at the start of the text, as "%ld" does (leading
// white space and a sign allowed). False when there is none.
bool LeadingNumber(std::string_view text, long &value) {
  std::string s(text);
  const char *begin = s.c_str();
  char *end = nullptr;
  value = std::strtol(begin, &end, 10);
  return end != begin;
}

bool IsRhombohedralGroup(int16_t index) {
  uint8_t setting = gSpacegroups[index].setting;
  return setting == kSettingRhombohedralAxes || setting == kSettingHexagonalAxes;
}

// Number, then Schoenflies, then Hermann-Mauguin lookup; a number or
// Schoenflies match replaces the symbol by the row's symbol. An R group found
// through a symbol that does not say "R" (a number, a Schoenflies symbol)
// takes the row of the axes the angles say: the first row of the number is
// the one on hexagonal axes, and its operators applied to a rhombohedral cell
// would build a different structure than the "R" symbol written back gives
// on the next call.
int16_t ResolveSymbol(std::string &symbol, uint8_t origin, uint8_t setting, bool rhombohedral) {
  bool replace = true;
  int16_t index = GetNumericSpacegroupIndex(symbol, origin, setting);
  if (index < 0)
    index = GetSchoenfliesSpacegroupIndex(symbol, origin, setting);
  if (index < 0) {
    replace = false;
    index = GetInternationalSpacegroupIndex(symbol, origin, setting);
  }
  if (index < 0)
    return -1;
  if (setting == 0 && IsRhombohedralGroup(index)) {
    int16_t axes = FirstRowWithNumber(gSpacegroups[index].number, origin,
                                      rhombohedral ? kSettingRhombohedralAxes : kSettingHexagonalAxes);
    if (axes >= 0)
      index = axes;
  }
  if (replace)
    symbol = std::string(SpacegroupRowSymbol(index));
  return index;
}

int16_t SystemFromNumber(int number, bool rhombohedral) {
  if (number < 3)
    return kTriclinic;
  if (number < 16)
    return kMonoclinic;
  if (number < 75)
    return kOrthorhombic;
  if (number < 143)
    return kTetragonal;
  if (number < 168)
    return rhombohedral ? kTrigonalRhombohedralAxes : kTrigonalHexagonalAxes;
  if (number < 195)
    return kHexagonal;
  return kCubic;
}

// Runs a symbol function on a fixed buffer and writes the result back, cut
// to the buffer (at most size - 1 characters and a NUL).
template <typename F> auto OnBuffer(std::span<char> buffer, F &&f) {
  std::string text(CStrView(buffer));
  auto result = f(text);
  MyStrCopy(buffer, text);
  return result;
}

} // namespace

// ---- Lookups -------------------------------------------------------------------

int16_t GetNumericSpacegroupIndex(std::string_view text, uint8_t origin, uint8_t setting) {
  long number = 0;
  if (!LeadingNumber(text, number))
    return -1;
  return FirstRowWithNumber(number, origin, setting);
}

int16_t GetSchoenfliesSpacegroupIndex(std::string_view text, uint8_t origin, uint8_t setting) {
  if (text.find('(') == std::string_view::npos)
    return -1;
  int16_t unfiltered = -1;
  for (int i = 0; !IsEndRow(i); ++i) {
    if (text != gSpacegroups[i].schoenflies)
      continue;
    if (PassesFilters(gSpacegroups[i], origin, setting))
      return static_cast<int16_t>(i);
    if (unfiltered < 0)
      unfiltered = static_cast<int16_t>(i);
  }
  // The symbol stands on the first row of its group only: another origin
  // choice or setting of the same group is a row of the same number.
  return unfiltered < 0 ? -1 : FirstRowWithNumber(gSpacegroups[unfiltered].number, origin, setting);
}

int16_t GetInternationalSpacegroupIndex(std::string &text, uint8_t origin, uint8_t setting) {
  std::string key = NoBlanks(text);
  if (key.empty())
    return -1; // an empty text is no symbol, whatever rows have an empty short symbol
  for (int i = 0; !IsEndRow(i); ++i) {
    const SpacegroupRecord &row = gSpacegroups[i];
    if (!RowCarriesSymbol(row, key) || !PassesFilters(row, origin, setting) ||
        (origin == 0 && IsShiftedScrewSetting(row)))
      continue;
    if (text != row.shortSymbol && text != row.fullSymbol)
      text = row.fullSymbol;
    return static_cast<int16_t>(i);
  }
  int16_t index = GetSpacegroupSynonym(text, origin);
  return index < 1 ? -1 : index;
}

int16_t GetSpacegroupSynonym(std::string_view text, uint8_t origin) {
  std::string key = NoBlanks(text);
  if (key.empty())
    return -1;
  for (const SpacegroupSynonym &s : spgrSynonyms) {
    if (s.number >= kEndSpacegroupNumber)
      break;
    if (key != NoBlanks(s.synonym))
      continue;
    // The synonym stands for the row that carries its symbol: an e name of
    // another setting is that setting, not the group's first row.
    const std::string symbol = NoBlanks(s.symbol);
    for (int i = 0; !IsEndRow(i); ++i)
      if (gSpacegroups[i].number == s.number && RowCarriesSymbol(gSpacegroups[i], symbol) &&
          PassesFilters(gSpacegroups[i], origin, 0))
        return static_cast<int16_t>(i);
    return FirstRowWithNumber(s.number, origin, 0);
  }
  return -1;
}

std::string_view SpacegroupRowSymbol(int16_t index) {
  if (index < 0 || index >= kNumSpacegroupRows)
    return {};
  const SpacegroupRecord &row = gSpacegroups[index];
  return row.shortSymbol[0] != '\0' ? row.shortSymbol : row.fullSymbol;
}

char SpacegroupRowLattice(int16_t index) {
  if (index < 0 || index >= kNumSpacegroupRows)
    return 'P';
  return gSpacegroups[index].fullSymbol[0];
}

// ---- Resolving a structure's symbol ------------------------------------------

bool Spaceg(std::string &symbol, uint8_t origin, float alpha, float beta, float gamma,
            char &lattice, uint16_t &count, std::span<Symcard> cards) {
  bool rhombohedral = AxesAreRhombohedral(alpha, beta, gamma);
  uint8_t setting = kSettingStandard;
  if (!symbol.empty() && symbol[0] == 'R')
    setting = rhombohedral ? kSettingRhombohedralAxes : kSettingHexagonalAxes;
  std::string text = symbol;
  int16_t index = ResolveSymbol(text, origin, setting, rhombohedral);
  bool found = index >= 0;
  if (found)
    symbol = text;
  else
    index = 0; // P 1
  const SpacegroupRecord &row = gSpacegroups[index];
  lattice = row.fullSymbol[0];
  size_t n = std::min<size_t>(row.numOps, cards.size());
  for (size_t i = 0; i < n; ++i)
    DecodeSymmCard(row.ops[i], cards[i]);
  count = static_cast<uint16_t>(n);
  return found;
}

bool Spaceg(std::span<char> symbol, uint8_t origin, float alpha, float beta, float gamma,
            char &lattice, uint16_t &count, std::span<Symcard> cards) {
  return OnBuffer(symbol, [&](std::string &s) {
    return Spaceg(s, origin, alpha, beta, gamma, lattice, count, cards);
  });
}

namespace {

// Number, Schoenflies, then Hermann-Mauguin lookup, the text unchanged.
int16_t DetailsRow(std::string_view symbol, uint8_t origin, uint8_t setting) {
  std::string text(symbol);
  int16_t index = GetNumericSpacegroupIndex(text, origin, setting);
  if (index < 0)
    index = GetSchoenfliesSpacegroupIndex(text, origin, setting);
  if (index < 0)
    index = GetInternationalSpacegroupIndex(text, origin, setting);
  return index;
}

// The shift between the two origins is listed for the standard axes; an
// orthorhombic setting takes it along its own axes.
void ShiftToSetting(uint8_t setting, float shift[3]) {
  // new axes a, b, c of each setting as signed old axes (1 = a, 2 = b, 3 = c)
  static constexpr int8_t kAxes[6][3] = {{1, 2, 3}, {2, 1, -3}, {1, -3, 2},
                                         {2, 3, 1}, {-3, 2, 1}, {3, 1, 2}};
  if (setting < kSettingAbc || setting > kSettingCab)
    return;
  float old[3] = {shift[0], shift[1], shift[2]};
  for (int j = 0; j < 3; ++j) {
    int axis = kAxes[setting - kSettingAbc][j];
    shift[j] = axis > 0 ? old[axis - 1] : -old[-axis - 1];
  }
}

} // namespace

bool GetSpacegroupDetails(std::string &symbol, std::string &schoenflies, std::string &fullSymbol,
                          uint8_t origin, uint8_t setting, int16_t &number, int16_t &system,
                          int16_t &count) {
  int16_t index = DetailsRow(symbol, origin, setting);
  if (index < 0) {
    system = kTriclinic;
    return false;
  }
  const SpacegroupRecord &row = gSpacegroups[index];
  symbol = std::string(SpacegroupRowSymbol(index));
  // the group's Schoenflies symbol stands on its first row
  schoenflies = gSpacegroups[FirstRowWithNumber(row.number, 0, 0)].schoenflies;
  fullSymbol = row.fullSymbol;
  number = row.number;
  system = GetCrystalSystem(index);
  count = static_cast<int16_t>(row.numOps);
  return true;
}

bool GetSpacegroupDetails(std::span<char> symbol, std::string &schoenflies, std::string &fullSymbol,
                          uint8_t origin, uint8_t setting, int16_t &number, int16_t &system,
                          int16_t &count) {
  return OnBuffer(symbol, [&](std::string &s) {
    return GetSpacegroupDetails(s, schoenflies, fullSymbol, origin, setting, number, system, count);
  });
}

int16_t GetCrystalSystem(int16_t index) {
  if (index < 0 || index >= kNumSpacegroupRows)
    return kTriclinic;
  return SystemFromNumber(gSpacegroups[index].number,
                          gSpacegroups[index].setting == kSettingRhombohedralAxes);
}

bool CheckSymmetry(std::string &symbol, uint8_t origin, float alpha, float beta, float gamma,
                   int16_t &system) {
  system = kTriclinic;
  if (symbol.empty())
    return false;
  std::string text = symbol;
  int16_t index = ResolveSymbol(text, origin, kSettingStandard, false);
  if (index < 0)
    return false;
  symbol = text;
  bool rhombohedral = symbol[0] == 'R' && AxesAreRhombohedral(alpha, beta, gamma);
  system = SystemFromNumber(gSpacegroups[index].number, rhombohedral);
  return true;
}

bool CheckSymmetry(std::span<char> symbol, uint8_t origin, float alpha, float beta, float gamma,
                   int16_t &system) {
  return OnBuffer(symbol, [&](std::string &s) {
    return CheckSymmetry(s, origin, alpha, beta, gamma, system);
  });
}

void GetCellConstraints(std::string &symbol, float &a, float &b, float &c, float &alpha,
                        float &beta, float &gamma, std::array<uint8_t, 6> &isFree) {
  enum { kA, kB, kC, kAlpha, kBeta, kGamma };
  isFree.fill(1);
  int16_t system = kTriclinic;
  if (!CheckSymmetry(symbol, 0, alpha, beta, gamma, system))
    return;
  switch (system) {
  case kMonoclinic: {
    // "%c %s %s %s": the lattice letter and three axis parts
    std::vector<std::string> parts;
    if (symbol.size() <= 32) {
      std::string rest = symbol.substr(1);
      size_t i = 0;
      while (i < rest.size()) {
        while (i < rest.size() && std::isspace(static_cast<unsigned char>(rest[i])))
          ++i;
        size_t start = i;
        while (i < rest.size() && !std::isspace(static_cast<unsigned char>(rest[i])))
          ++i;
        if (i > start)
          parts.emplace_back(rest.substr(start, i - start));
      }
    }
    if (parts.size() >= 3 && parts[0] != "1") { // unique axis a
      beta = gamma = 90.0f;
      isFree[kBeta] = isFree[kGamma] = 0;
    } else if (parts.size() >= 3 && parts[1] == "1" && parts[2] != "1") { // unique axis c
      alpha = beta = 90.0f;
      isFree[kAlpha] = isFree[kBeta] = 0;
    } else { // unique axis b
      alpha = gamma = 90.0f;
      isFree[kAlpha] = isFree[kGamma] = 0;
    }
    break;
  }
  case kOrthorhombic:
    alpha = beta = gamma = 90.0f;
    isFree[kAlpha] = isFree[kBeta] = isFree[kGamma] = 0;
    break;
  case kTetragonal:
    b = a;
    alpha = beta = gamma = 90.0f;
    isFree[kB] = isFree[kAlpha] = isFree[kBeta] = isFree[kGamma] = 0;
    break;
  case kTrigonalHexagonalAxes:
  case kHexagonal:
    b = a;
    alpha = beta = 90.0f;
    gamma = 120.0f;
    isFree[kB] = isFree[kAlpha] = isFree[kBeta] = isFree[kGamma] = 0;
    break;
  case kTrigonalRhombohedralAxes:
    b = c = a;
    beta = gamma = alpha;
    isFree[kB] = isFree[kC] = isFree[kBeta] = isFree[kGamma] = 0;
    break;
  case kCubic:
    b = c = a;
    alpha = beta = gamma = 90.0f;
    isFree[kB] = isFree[kC] = isFree[kAlpha] = isFree[kBeta] = isFree[kGamma] = 0;
    break;
  default: break;
  }
}

bool IsDualOriginSpacegroup(std::string_view symbol, float shift[3]) {
  int16_t index = DetailsRow(symbol, 0, 0);
  if (index < 0)
    return false;
  for (const OffsetSpacegroup &o : gOffsetSpacegroups) {
    if (o.number >= kEndSpacegroupNumber)
      break;
    if (o.number == gSpacegroups[index].number) {
      if (shift) {
        std::copy(o.shift, o.shift + 3, shift);
        ShiftToSetting(gSpacegroups[index].setting, shift);
      }
      return true;
    }
  }
  return false;
}

void VerifyOriginChoiceForSpacegroup(std::string_view symbol, uint8_t &origin) {
  if (origin == 0 || IsDualOriginSpacegroup(symbol, nullptr))
    return;
  // The origin byte of the paired settings of groups 17 and 20 chooses a row
  // too: keep it when the symbol has a row with that choice.
  int16_t index = DetailsRow(symbol, origin, 0);
  if (index < 0 || gSpacegroups[index].origin != origin)
    origin = 0;
}

bool AxesAreRhombohedral(float alpha, float beta, float gamma) {
  if (!std::isfinite(alpha) || !std::isfinite(beta) || !std::isfinite(gamma) ||
      std::fabs(alpha) > 1e6f || std::fabs(beta) > 1e6f || std::fabs(gamma) > 1e6f)
    return false;
  long a = std::lround(alpha), b = std::lround(beta), c = std::lround(gamma);
  return a == b && b == c;
}

bool ConvertSpaceGroupSymbol(std::string &symbol, uint8_t &origin) {
  std::string &s = symbol;
  // 1. An origin suffix.
  size_t at = s.find("[origin");
  if (at != std::string::npos && at > 0) {
    for (size_t i = at + 7; i < s.size(); ++i) {
      if (s[i] == '2' || s[i] == '1') {
        origin = static_cast<uint8_t>(s[i] - '0');
        break;
      }
    }
    s.resize(at);
  }
  if (s.empty())
    return false;
  // 2. An International Tables number.
  if (s[0] >= '1' && s[0] <= '9') {
    long number = 0;
    if (LeadingNumber(s, number) && number >= 1 && number <= 230) {
      VerifyOriginChoiceForSpacegroup(SpacegroupRowSymbol(FirstRowWithNumber(number, 0, 0)), origin);
      return true;
    }
  }
  // 3. A Schoenflies symbol.
  size_t open = s.find('('), close = s.find(')');
  if (open != std::string::npos && open > 0 && close != std::string::npos && close > 0) {
    char first = s[0];
    bool schoenflies = std::strchr("OSTDostd", first) != nullptr;
    if ((first == 'C' || first == 'c') && s.find('m') == std::string::npos &&
        s.find("2 2") == std::string::npos && s.find("22") == std::string::npos)
      schoenflies = true;
    if (schoenflies) {
      s[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(first)));
      int16_t index = GetSchoenfliesSpacegroupIndex(s, 0, 0);
      if (index >= 0)
        VerifyOriginChoiceForSpacegroup(SpacegroupRowSymbol(index), origin);
      return true;
    }
  }
  // 4. A Hermann-Mauguin symbol.
  char first = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
  if (std::strchr("ABCFIPR", first) == nullptr || first == '\0')
    return false;
  s[0] = first;
  if (s.size() >= 2 && s[1] != ' ')
    s.insert(s.begin() + 1, ' ');
  if (!(s.size() == 3 && s[2] == '1')) {
    // 5. Lower-case axis parts, blanks for tabs, subscripts in parentheses.
    for (size_t i = 2; i < s.size(); ++i) {
      char c = s[i];
      if (c >= 'A' && c <= 'Z')
        s[i] = static_cast<char>(c - 'A' + 'a');
      else if (c == '\t')
        s[i] = ' ';
      else if (c == '(')
        s[i] = '.';
      else if (c == ')')
        s[i] = ' ';
    }
    // 6. Close up points and underscores.
    if (s.size() > 2)
      s.erase(std::remove_if(s.begin() + 2, s.end(), [](char c) { return c == '.' || c == '_'; }),
              s.end());
    // 7. One trailing blank.
    if (!s.empty() && s.back() == ' ')
      s.pop_back();
  }
  // 8. The origin choice must exist for the group.
  int16_t index = GetInternationalSpacegroupIndex(s, 0, 0);
  if (index >= 0)
    VerifyOriginChoiceForSpacegroup(SpacegroupRowSymbol(index), origin);
  return true;
}

bool ConvertSpaceGroupSymbol(std::span<char> symbol, uint8_t &origin) {
  return OnBuffer(symbol, [&](std::string &s) { return ConvertSpaceGroupSymbol(s, origin); });
}

bool CrystalHasP1Symmetry(CrystalRec &crystal) {
  if (crystal.latticeLetter != 'P')
    return false;
  if (crystal.cardCount > 0)
    return crystal.cardCount == 1;
  std::string schoenflies, full;
  int16_t number = 0, system = 0, count = 0;
  bool found = GetSpacegroupDetails(std::span<char>(crystal.spaceGroup), schoenflies, full,
                                    crystal.originChoice, 0, number, system, count);
  return found && number == 1 && count == 1;
}

// ---- Detection from operators -------------------------------------------------

char LatticeTypeFromGEPs(std::span<const Symcard> cards, int count) {
  count = std::clamp<int>(count, 0, static_cast<int>(cards.size()));
  if (count == 0)
    return 'P';
  std::vector<GEP> ops(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    GEP &g = ops[static_cast<size_t>(i)];
    Symcard2GEP(cards[static_cast<size_t>(i)], g);
    for (double &t : g.translation) {
      if (t > 1.0)
        t -= 1.0;
      else if (t < 0.0)
        t += 1.0;
    }
  }
  for (char letter : std::string_view("FABCIR")) {
    int16_t n = 0;
    CentringVectors centring;
    Bravais(letter, n, centring);
    std::vector<bool> marked(static_cast<size_t>(count), false);
    bool complete = true;
    // Every operator not yet found as a copy must find one copy per
    // non-zero centring vector among the later ones (the last one included:
    // a lone operator is no centred class).
    for (int i = 0; i < count && complete; ++i) {
      if (marked[static_cast<size_t>(i)])
        continue;
      std::array<bool, kMaxCentringVectors> used{};
      int found = 0;
      for (int j = i + 1; j < count; ++j) {
        if (marked[static_cast<size_t>(j)] ||
            !SymmOpsHaveSameRotation(ops[static_cast<size_t>(i)], ops[static_cast<size_t>(j)]))
          continue;
        for (int k = 1; k < n; ++k) {
          if (used[static_cast<size_t>(k)])
            continue;
          double shifted[3];
          for (int c = 0; c < 3; ++c)
            shifted[c] = ops[static_cast<size_t>(j)].translation[c] +
                         centring[static_cast<size_t>(k)][static_cast<size_t>(c)];
          if (SameTranslationModuloLattice(ops[static_cast<size_t>(i)].translation, shifted)) {
            marked[static_cast<size_t>(j)] = true;
            used[static_cast<size_t>(k)] = true;
            ++found;
            break;
          }
        }
      }
      if (found < n - 1)
        complete = false;
    }
    if (complete)
      return letter;
  }
  return 'P';
}

bool GetSpacegroupFromGEPs(std::span<const Symcard> cards, int &count, char &lattice,
                           std::string &symbol, uint8_t &origin) {
  count = std::clamp<int>(count, 0, static_cast<int>(cards.size()));
  char letter = LatticeTypeFromGEPs(cards, count);
  lattice = letter;
  if (count > kMaxSymCards) {
    std::fprintf(stderr, "Error - more than %d unique symmetry positions encountered! (ltyp = %c)\n",
                 kMaxSymCards, letter);
    return false;
  }
  int16_t n = 0;
  CentringVectors centring;
  Bravais(letter, n, centring);
  uint32_t perClass = static_cast<uint32_t>(count / n);
  std::vector<EncodedSymmCard> codes(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i)
    codes[static_cast<size_t>(i)] = EncodeSymmCard(cards[static_cast<size_t>(i)]);
  for (int i = 0; !IsEndRow(i); ++i) {
    const SpacegroupRecord &row = gSpacegroups[i];
    char rowLattice = row.fullSymbol[0];
    if (row.numOps != perClass || !(rowLattice == letter || (rowLattice == 'R' && letter == 'P')))
      continue;
    bool all = std::all_of(row.ops, row.ops + row.numOps, [&](EncodedSymmCard code) {
      return std::find(codes.begin(), codes.end(), code) != codes.end();
    });
    if (!all)
      continue;
    symbol = std::string(SpacegroupRowSymbol(static_cast<int16_t>(i)));
    origin = row.origin;
    lattice = symbol[0];
    return true;
  }
  return false;
}

namespace {

// Translations compare in 24ths of the cell, which hold every fraction a
// card can carry (sixths, eighths, twelfths).
constexpr double kOperatorKeySteps = 24.0;
constexpr double kOperatorKeyTolerance = 1e-4;

// An operator as a comparable key: its rotation, then its translation
// modulo 1 in 24ths; nothing for a translation that is no such fraction.
using OperatorKey = std::array<int, 12>;
std::optional<OperatorKey> KeyOfCard(const Symcard &card) {
  GEP g;
  Symcard2GEP(card, g);
  OperatorKey key{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      key[static_cast<size_t>(3 * i + j)] = g.rotation[i][j];
  for (int i = 0; i < 3; ++i) {
    const double steps = g.translation[i] * kOperatorKeySteps;
    const double whole = std::round(steps);
    if (std::fabs(steps - whole) > kOperatorKeyTolerance)
      return std::nullopt;
    const int n = static_cast<int>(std::fmod(whole, kOperatorKeySteps));
    key[static_cast<size_t>(9 + i)] = n < 0 ? n + static_cast<int>(kOperatorKeySteps) : n;
  }
  return key;
}

// The sorted keys of the cards; nothing when one has no key.
std::optional<std::vector<OperatorKey>> SortedKeys(std::span<const Symcard> cards) {
  std::vector<OperatorKey> keys;
  keys.reserve(cards.size());
  for (const Symcard &card : cards) {
    const auto key = KeyOfCard(card);
    if (!key)
      return std::nullopt;
    keys.push_back(*key);
  }
  std::sort(keys.begin(), keys.end());
  return keys;
}

// The symbol of a row that brings back the row's very operators (`wanted`)
// and the centring when the structure is built from it: the axes of an R
// group follow the angles, and a short symbol may stand for another setting
// first.
bool SymbolOfRow(const SpacegroupRecord &row, const std::vector<OperatorKey> &wanted, char centring, float alpha,
                 float beta, float gamma, std::string &symbol, char &lattice) {
  std::array<Symcard, kMaxSpacegroupOps> made{};
  for (const char *text : {row.shortSymbol, row.fullSymbol}) {
    std::string candidate(text);
    char letter = 'P';
    uint16_t count = 0;
    if (candidate.empty() || !Spaceg(candidate, row.origin, alpha, beta, gamma, letter, count, made))
      continue;
    if (EffectiveLatticeLetter(letter, alpha, beta, gamma) != centring ||
        SortedKeys(std::span<const Symcard>(made.data(), count)) != wanted)
      continue;
    symbol = candidate;
    lattice = letter;
    return true;
  }
  return false;
}

std::vector<OperatorKey> RowKeys(const SpacegroupRecord &row) {
  std::array<Symcard, kMaxSpacegroupOps> made{};
  for (uint32_t k = 0; k < row.numOps; ++k)
    DecodeSymmCard(row.ops[k], made[k]);
  return SortedKeys(std::span<const Symcard>(made.data(), row.numOps)).value_or(std::vector<OperatorKey>{});
}

constexpr int kSteps = static_cast<int>(kOperatorKeySteps);

int StepsModulo(int n) { return (n % kSteps + kSteps) % kSteps; }

// The shift (in kOperatorKeySteps of a cell, each within -steps/2 ..
// steps/2) that takes the row's operators to the cards, nearest the
// origin; nothing when none does. Each card's rotation must be the rotation
// of one of the row's operators.
std::optional<std::array<int, 3>> ShiftToCards(const std::vector<OperatorKey> &row,
                                               const std::vector<OperatorKey> &cards, int16_t centrings,
                                               const CentringVectors &vectors) {
  // Pairs of a card and the row's operator of its rotation.
  std::vector<std::pair<const OperatorKey *, const OperatorKey *>> pairs;
  for (const OperatorKey &card : cards) {
    const auto same = std::find_if(row.begin(), row.end(), [&](const OperatorKey &op) {
      return std::equal(op.begin(), op.begin() + 9, card.begin());
    });
    if (same == row.end())
      return std::nullopt;
    pairs.emplace_back(&card, &*same);
  }
  std::vector<std::array<int, 3>> centring;
  for (int16_t v = 0; v < centrings; ++v) {
    std::array<int, 3> steps{};
    for (size_t i = 0; i < 3; ++i)
      steps[i] = StepsModulo(static_cast<int>(std::lround(vectors[static_cast<size_t>(v)][i] * kOperatorKeySteps)));
    centring.push_back(steps);
  }
  // A card (R, t') is the row's (R, t) about the origin s when
  // t' = t + R s - s modulo the lattice and its centring: component i of
  // the difference t' - (t + R s - s), in steps modulo the cell.
  auto difference = [&](const OperatorKey &card, const OperatorKey &op, size_t i, const std::array<int, 3> &s) {
    int moved = op[9 + i] - s[i];
    for (size_t j = 0; j < 3; ++j)
      moved += op[3 * i + j] * s[j];
    return StepsModulo(card[9 + i] - moved);
  };
  // The last shift component each row of R - 1 involves: once it is chosen,
  // the row's difference must be a component of some centring vector.
  auto lastInvolved = [](const OperatorKey &op, size_t i) {
    int last = -1;
    for (size_t j = 0; j < 3; ++j)
      if (op[3 * i + j] != (i == j ? 1 : 0))
        last = static_cast<int>(j);
    return std::max(last, static_cast<int>(i));
  };
  auto rowsFit = [&](const std::array<int, 3> &s, int chosen) {
    for (const auto &[card, op] : pairs)
      for (size_t i = 0; i < 3; ++i)
        if (lastInvolved(*op, i) == chosen) {
          const int d = difference(*card, *op, i, s);
          if (std::none_of(centring.begin(), centring.end(), [&](const std::array<int, 3> &c) { return c[i] == d; }))
            return false;
        }
    return true;
  };
  auto fits = [&](const std::array<int, 3> &s) {
    for (const auto &[card, op] : pairs) {
      const std::array<int, 3> d{difference(*card, *op, 0, s), difference(*card, *op, 1, s),
                                 difference(*card, *op, 2, s)};
      if (std::find(centring.begin(), centring.end(), d) == centring.end())
        return false;
    }
    return true;
  };
  // Among shifts of one length the first found, the positive ones first:
  // the positions about the group's origin stay positive where they can.
  std::optional<std::array<int, 3>> best;
  int bestLength = 0;
  std::array<int, 3> s{};
  for (s[0] = kSteps / 2; s[0] > -kSteps / 2; --s[0]) {
    s[1] = s[2] = 0;
    if (!rowsFit(s, 0))
      continue;
    for (s[1] = kSteps / 2; s[1] > -kSteps / 2; --s[1]) {
      s[2] = 0;
      if (!rowsFit(s, 1))
        continue;
      for (s[2] = kSteps / 2; s[2] > -kSteps / 2; --s[2]) {
        const int length = std::abs(s[0]) + std::abs(s[1]) + std::abs(s[2]);
        if ((!best || length < bestLength) && rowsFit(s, 2) && fits(s)) {
          best = s;
          bestLength = length;
        }
      }
    }
  }
  return best;
}

// The table setting of the cards, as the two searches below find it; with
// `shift` null only a setting whose operators are the cards themselves.
bool FindSettingOfCards(std::span<const Symcard> cards, char &lattice, float alpha, float beta, float gamma,
                        std::string &symbol, uint8_t &origin, float *shift) {
  if (cards.empty() || cards.size() > static_cast<size_t>(kMaxSpacegroupOps))
    return false;
  const auto wanted = SortedKeys(cards);
  if (!wanted)
    return false;
  const char centring = EffectiveLatticeLetter(lattice, alpha, beta, gamma);
  int16_t centrings = 1;
  CentringVectors vectors{};
  Bravais(centring, centrings, vectors);
  // Of the rows that fit, the one of the shortest shift (two origins of a
  // group both fit), the first in the table's order among equals.
  int bestLength = 0;
  bool found = false;
  for (int i = 0; !IsEndRow(i) && !(found && bestLength == 0); ++i) {
    const SpacegroupRecord &row = gSpacegroups[i];
    if (row.numOps != cards.size())
      continue;
    const std::vector<OperatorKey> keys = RowKeys(row);
    const auto steps = keys == *wanted ? std::optional<std::array<int, 3>>(std::array<int, 3>{})
                       : shift         ? ShiftToCards(keys, *wanted, centrings, vectors)
                                       : std::nullopt;
    if (!steps)
      continue;
    const int length = std::abs((*steps)[0]) + std::abs((*steps)[1]) + std::abs((*steps)[2]);
    std::string named;
    char letter = lattice;
    if ((found && length >= bestLength) || !SymbolOfRow(row, keys, centring, alpha, beta, gamma, named, letter))
      continue;
    found = true;
    bestLength = length;
    symbol = named;
    lattice = letter;
    origin = row.origin;
    for (size_t k = 0; shift && k < 3; ++k)
      shift[k] = static_cast<float>((*steps)[k] / kOperatorKeySteps);
  }
  return found;
}

} // namespace

bool FindSpacegroupOfCards(std::span<const Symcard> cards, char &lattice, float alpha, float beta, float gamma,
                           std::string &symbol, uint8_t &origin) {
  return FindSettingOfCards(cards, lattice, alpha, beta, gamma, symbol, origin, nullptr);
}

bool FindSpacegroupOfCardsAboutShiftedOrigin(std::span<const Symcard> cards, char &lattice, float alpha, float beta,
                                             float gamma, std::string &symbol, uint8_t &origin, float shift[3]) {
  return FindSettingOfCards(cards, lattice, alpha, beta, gamma, symbol, origin, shift);
}

bool SettingOfOperators(const std::vector<std::string> &operators, NamedSetting &setting) {
  try {
    std::vector<gemmi::Op> ops;
    ops.reserve(operators.size());
    for (const std::string &text : operators)
      ops.push_back(gemmi::parse_triplet(text).wrap());
    const gemmi::SpaceGroup *group = gemmi::find_spacegroup_by_ops(gemmi::split_centering_vectors(ops));
    if (!group)
      return false;
    setting.symbol = group->hm;
    if (group->ext != '\0')
      setting.symbol += std::string(" :") + group->ext;
    setting.hall = group->hall;
    setting.number = group->number;
    return true;
  } catch (const std::bad_alloc &) {
    throw;
  } catch (const std::exception &) {
    return false;
  }
}

bool DetectSpacegroupForCrystal(CrystalRec &crystal) {
  if (crystal.cardCount == 0)
    return true;
  int loaded = std::min<int>(crystal.cardCount, kMaxSymCards);
  int count = loaded;
  std::string symbol(CStrView(std::span<const char>(crystal.spaceGroup)));
  bool found = GetSpacegroupFromGEPs(std::span<const Symcard>(crystal.symCards), count,
                                     crystal.latticeLetter, symbol, crystal.originChoice);
  char line[160];
  if (found) {
    MyStrCopy(std::span<char>(crystal.spaceGroup), symbol);
    std::string text;
    std::snprintf(line, sizeof line, "Loaded %d general equivalent positions; detected spacegroup: ",
                  loaded);
    text = line;
    text += '"';
    text += symbol;
    text += '"';
    if (crystal.originChoice != 0) {
      std::snprintf(line, sizeof line, " (origin choice %d)", crystal.originChoice);
      text += line;
    }
    FWrite(text);
    crystal.cardCount = 0;
  } else {
    std::snprintf(line, sizeof line,
                  "Loaded %d general equivalent positions; spacegroup detection failed! (lattice "
                  "type: %c assumed)",
                  loaded, crystal.latticeLetter);
    FWriteColor(line, kRGBRed);
    RemoveLatticeTranslationsForCrystal(crystal);
  }
  return found;
}

void PrintSpacegroups() {
  for (int i = 0; !IsEndRow(i); ++i)
    std::printf("'%s'\t'%s'\n", gSpacegroups[i].shortSymbol, gSpacegroups[i].fullSymbol);
}
