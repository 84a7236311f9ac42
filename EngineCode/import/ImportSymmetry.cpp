#include "import/ImportSymmetry.h"

#include "SpaceGroups.h"
#include "SymmetryCards.h"
#include "import/ImportText.h"
#include "import/StructureFill.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

namespace {

// The table row a symbol and origin name, or -1.
int16_t RowOfSymbol(std::string symbol, uint8_t origin) {
  std::string schoenflies, full;
  int16_t number = 0, system = 0, count = 0;
  if (!GetSpacegroupDetails(symbol, schoenflies, full, origin, 0, number, system, count))
    return -1;
  return GetInternationalSpacegroupIndex(symbol, origin, 0);
}

// "P 32 2 1:1" -> "P 32 2 1" and origin 1; ":H" and ":R" are dropped (the
// cell's angles choose the axes).
std::string WithoutSuffix(std::string_view symbol, int &origin) {
  std::string text(TrimImport(symbol));
  const size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    const std::string suffix(TrimImport(std::string_view(text).substr(colon + 1)));
    if (suffix == "1" || suffix == "2")
      origin = suffix[0] - '0';
    text.erase(colon);
  }
  while (!text.empty() && text.back() == ' ')
    text.pop_back();
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
  if (FindSpacegroupOfCards(std::span<const Symcard>(c.symCards.data(), c.cardCount), lattice, c.alpha, c.beta,
                            c.gamma, symbol, origin) ||
      (cards.size() > c.cardCount && FindSpacegroupOfWholeList(cards, c, symbol, origin, lattice))) {
    MyStrCopy(std::span<char>(c.spaceGroup), symbol);
    c.originChoice = origin;
    c.latticeLetter = lattice;
    c.cardCount = 0;
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
  std::string key = SymmetryKey(operators, statedSymbol, c);
  SymmetryMemo &memo = gLastSymmetry;
  if (!memo.key.empty() && memo.key == key) {
    std::copy(std::begin(memo.spaceGroup), std::end(memo.spaceGroup), std::begin(c.spaceGroup));
    c.originChoice = memo.originChoice;
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

bool SetSymmetryFromSymbol(ImportedStructure &s, std::string_view symbolText, int originChoice, int line) {
  CrystalRec &c = s.crystal;
  int origin = originChoice;
  std::string symbol = WithoutSuffix(symbolText, origin);
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
    converted = 1;
    ImportWarning(s, line,
                  "the space group \"" + symbol + "\" has two origins and the file names neither; the first is taken.");
  }
  VerifyOriginChoiceForSpacegroup(normal, converted);
  std::string resolved = normal;
  std::string schoenflies, full;
  int16_t number = 0, system = 0, count = 0;
  GetSpacegroupDetails(resolved, schoenflies, full, converted, 0, number, system, count);
  MyStrCopy(std::span<char>(c.spaceGroup), resolved);
  c.originChoice = converted;
  c.cardCount = 0;
  const int16_t row = GetInternationalSpacegroupIndex(resolved, converted, 0);
  if (row >= 0)
    c.latticeLetter = SpacegroupRowLattice(row);
  return true;
}
