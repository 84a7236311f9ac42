#include "SymmetryCards.h"

#include "HostServices.h"
#include "SpaceGroups.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Texts of the code's translation and rotation tables, by index.
constexpr const char *kTransTexts[8] = {"   ", "1/6", "1/4", "1/3", "1/2", "2/3", "3/4", "5/6"};
constexpr const char *kRotTexts[8] = {"+x", "-x", "+y", "-y", "+z", "-z", "+x-y", "-x+y"};
constexpr const char *kRotAltTexts[8] = {nullptr, nullptr, nullptr, nullptr,
                                         nullptr, nullptr, "-y+x", "+y-x"};

// The three digits after the point of a translation in [0, 1) ("%5.3f") and
// the fraction a card writes for them.
struct FractionDigits {
  const char *digits;
  char numerator;
  char denominator;
};
constexpr FractionDigits kFractionTable[] = {
    {"000", ' ', ' '}, {"166", '1', '6'}, {"167", '1', '6'}, {"125", '1', '8'}, {"250", '1', '4'},
    {"333", '1', '3'}, {"375", '3', '8'}, {"500", '1', '2'}, {"625", '5', '8'}, {"666", '2', '3'},
    {"667", '2', '3'}, {"750", '3', '4'}, {"833", '5', '6'}, {"875", '7', '8'},
};

// The value brought into [0, 1).
double Modulo1(double t) { return t - std::floor(t); }

// The numerator and denominator characters of a card translation; false when
// the value is none of the tabulated fractions.
bool TranslationChars(double t, char &numerator, char &denominator) {
  numerator = denominator = ' ';
  char buf[48];
  std::snprintf(buf, sizeof buf, "%5.3f", Modulo1(t));
  if (std::strlen(buf) != 5 || buf[1] != '.')
    return false; // not a number
  for (const FractionDigits &f : kFractionTable) {
    if (std::strncmp(buf + 2, f.digits, 3) == 0) {
      numerator = f.numerator;
      denominator = f.denominator;
      return true;
    }
  }
  return false;
}

int AxisIndex(char c) {
  switch (c) {
  case 'x': case 'X': return 0;
  case 'y': case 'Y': return 1;
  case 'z': case 'Z': return 2;
  default: return -1;
  }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a number at `text[i]`: digits with at most one point, optionally
// followed by "/" and a whole denominator. Advances `i` past it. A zero or
// missing denominator makes the value unusable (false).
bool ReadNumber(std::string_view text, size_t &i, double &value) {
  std::string mantissa;
  bool point = false;
  while (i < text.size() && (IsDigit(text[i]) || (text[i] == '.' && !point))) {
    if (text[i] == '.')
      point = true;
    mantissa += text[i++];
  }
  bool digits = mantissa.find_first_of("0123456789") != std::string::npos;
  value = digits ? std::strtod(mantissa.c_str(), nullptr) : 0.0;
  if (i < text.size() && text[i] == '/') {
    ++i;
    std::string den;
    while (i < text.size() && IsDigit(text[i]))
      den += text[i++];
    double d = den.empty() ? 0.0 : std::strtod(den.c_str(), nullptr);
    if (d == 0.0 || !digits)
      return false;
    value /= d;
  }
  return digits;
}

void WriteField(char *field, char numerator, char denominator, const std::string &rotation) {
  std::memset(field, ' ', kSymcardFieldWidth);
  field[0] = numerator;
  field[1] = numerator == ' ' ? ' ' : '/';
  field[2] = denominator;
  for (size_t k = 0; k < rotation.size() && 3 + k < kSymcardFieldWidth; ++k)
    field[3 + k] = rotation[k];
}

Symcard JoinFields(const char fields[3][kSymcardFieldWidth]) {
  Symcard card{};
  std::memset(card.data(), ' ', kSymcardSize - 1);
  for (int f = 0; f < 3; ++f)
    std::memcpy(card.data() + kSymcardFieldStart[f], fields[f], kSymcardFieldWidth);
  card[kSymcardSize - 1] = '\0';
  return card;
}

void WarnTranslationLeftOut(std::string_view what, double t) {
  char buf[160];
  std::snprintf(buf, sizeof buf,
                "Warning: the translation %.5g of symmetry operator '%.*s' cannot be held in a "
                "symmetry card and was left out!",
                t, static_cast<int>(std::min<size_t>(what.size(), 80)), what.data());
  FWriteColor(buf, kRGBRed);
}

// Each component above 1 loses 1 and each below 0 gains 1 (once).
void WrapOnce(double t[3]) {
  for (int i = 0; i < 3; ++i) {
    if (t[i] > 1.0)
      t[i] -= 1.0;
    else if (t[i] < 0.0)
      t[i] += 1.0;
  }
}

bool IsIdentity(const GEP &g) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      if (g.rotation[i][j] != (i == j ? 1 : 0))
        return false;
  return std::fabs(g.translation[0]) + std::fabs(g.translation[1]) + std::fabs(g.translation[2]) <
         kIdentityTranslationTolerance;
}

int CardCount(const CrystalRec &crystal) { return std::clamp<int>(crystal.cardCount, 0, kMaxSymCards); }

} // namespace

std::string_view CardText(const Symcard &card) { return CStrView(std::span<const char>(card)); }

Symcard MakeSymcard(std::string_view text) {
  Symcard card{};
  size_t n = std::min<size_t>(text.size(), kSymcardSize - 1);
  std::memcpy(card.data(), text.data(), n);
  return card;
}

void Symcard2GEP(std::string_view card, GEP &gep) {
  gep = GEP{};
  size_t n = std::min<size_t>(card.size(), kMaxSymcardParse);
  card = card.substr(0, n);
  // Cards separate their fields by blanks; free text with commas by commas
  // only, so that "x, y , z" keeps its three fields.
  bool commas = card.find(',') != std::string_view::npos;
  int field = 0;
  int sign = 1;
  double translation = 0.0;
  bool fieldStarted = false;
  auto endField = [&] {
    gep.translation[field] = translation;
    ++field;
    sign = 1;
    translation = 0.0;
    fieldStarted = false;
  };
  size_t i = 0;
  while (i < card.size() && field < 3) {
    char c = card[i];
    if (c == '\0')
      break;
    if (c == ',') {
      endField();
      ++i;
      continue;
    }
    if (c == ' ' || c == '\t') {
      if (fieldStarted && !commas)
        endField();
      ++i;
      continue;
    }
    fieldStarted = true;
    if (c == '+') {
      sign = 1;
    } else if (c == '-') {
      sign = -1;
    } else if (int axis = AxisIndex(c); axis >= 0) {
      gep.rotation[field][axis] = static_cast<int16_t>(sign);
    } else if (IsDigit(c) || c == '.') {
      double value = 0.0;
      if (ReadNumber(card, i, value))
        translation += sign * value;
      continue;
    }
    ++i;
  }
  // The translation in hand belongs to the field being read: a text that
  // ends after two fields must not move it onto z.
  if (field < 3)
    gep.translation[field] = translation;
}

bool GEP2Symcard(const GEP &gep, Symcard &card) {
  char fields[3][kSymcardFieldWidth];
  bool ok = true;
  double lost = 0.0;
  for (int f = 0; f < 3; ++f) {
    char numerator, denominator;
    if (!TranslationChars(gep.translation[f], numerator, denominator)) {
      ok = false;
      lost = gep.translation[f];
    }
    std::string rotation;
    for (int axis = 0; axis < 3; ++axis) {
      int16_t v = gep.rotation[f][axis];
      if (v == 0)
        continue;
      rotation += v > 0 ? '+' : '-';
      rotation += static_cast<char>('x' + axis);
    }
    WriteField(fields[f], numerator, denominator, rotation);
  }
  card = JoinFields(fields);
  if (!ok)
    WarnTranslationLeftOut(CardText(card), lost);
  return ok;
}

EncodedSymmCard EncodeSymmCard(std::string_view card) {
  auto at = [&](size_t k) { return k < card.size() ? card[k] : '\0'; };
  EncodedSymmCard code = 0;
  for (int f = 0; f < 3; ++f) {
    size_t start = static_cast<size_t>(kSymcardFieldStart[f]);
    int trans = 0;
    for (int t = 0; t < 8; ++t) {
      if (at(start) == kTransTexts[t][0] && at(start + 1) == kTransTexts[t][1] &&
          at(start + 2) == kTransTexts[t][2]) {
        trans = t;
        break;
      }
    }
    std::string term;
    for (size_t k = start + 3; k < start + 7 && at(k) != ' ' && at(k) != '\0'; ++k)
      term += at(k);
    int rot = 0;
    for (int r = 0; r < 8 && !term.empty(); ++r) {
      if (term == kRotTexts[r] || (kRotAltTexts[r] && term == kRotAltTexts[r])) {
        rot = r;
        break;
      }
    }
    code |= static_cast<EncodedSymmCard>((trans << 4) | rot) << (8 * (2 - f));
  }
  return code;
}

bool DecodeSymmCard(EncodedSymmCard code, Symcard &card) {
  bool ok = (code & ~0xFFFFFFu) == 0;
  char fields[3][kSymcardFieldWidth];
  for (int f = 0; f < 3; ++f) {
    unsigned byte = (code >> (8 * (2 - f))) & 0xFF;
    unsigned trans = byte >> 4, rot = byte & 0xF;
    if (trans > 7 || rot > 7)
      ok = false;
    if (trans > 7)
      trans = 0;
    if (rot > 7)
      rot = 0;
    const char *t = kTransTexts[trans];
    WriteField(fields[f], t[0], t[2], kRotTexts[rot]);
    fields[f][1] = t[1];
  }
  card = JoinFields(fields);
  return ok;
}

bool UpdateSymmCard(std::string_view text, Symcard &card) {
  // 1. Three fields of the characters that matter.
  constexpr size_t kMaxField = 20;
  std::string parts[3];
  bool commas = text.find(',') != std::string_view::npos;
  int field = 0;
  for (char c : text) {
    if (field >= 3 || c == '\0')
      break;
    if (c == ',') {
      ++field;
      continue;
    }
    if (c == ' ' || c == '\t') {
      if (!commas && !parts[field].empty())
        ++field;
      continue;
    }
    char k = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    bool keep = AxisIndex(k) >= 0 || k == '+' || k == '-' || k == '.' || k == '/' || IsDigit(k);
    if (keep && parts[field].size() < kMaxField)
      parts[field] += k;
  }

  // 2-6. Per field: the translation (fraction or decimal, any sign) and up
  // to two signed axis terms, in the order given.
  char fields[3][kSymcardFieldWidth];
  bool ok = true;
  for (int f = 0; f < 3; ++f) {
    const std::string &p = parts[f];
    std::string terms;
    int axisTerms = 0;
    double translation = 0.0;
    bool haveTranslation = false, usable = true;
    char pending = 0;
    size_t i = 0;
    while (i < p.size()) {
      char c = p[i];
      if (c == '+' || c == '-') {
        pending = c;
        ++i;
      } else if (AxisIndex(c) >= 0) {
        if (axisTerms < 2) {
          terms += pending ? pending : '+';
          terms += c;
          ++axisTerms;
        }
        pending = 0;
        ++i;
      } else if (IsDigit(c) || c == '.') {
        double value = 0.0;
        if (ReadNumber(p, i, value)) {
          translation += pending == '-' ? -value : value;
          haveTranslation = true;
        } else {
          usable = false;
        }
        pending = 0;
      } else {
        ++i; // a stray slash
      }
    }
    char numerator = ' ', denominator = ' ';
    if (haveTranslation && !TranslationChars(translation, numerator, denominator))
      usable = false;
    if (!usable) {
      ok = false;
      numerator = denominator = ' ';
      WarnTranslationLeftOut(text, translation);
    }
    WriteField(fields[f], numerator, denominator, terms);
  }
  card = JoinFields(fields);
  return ok;
}

int SplitSymmCard(std::string_view card, std::array<std::string, 3> &parts) {
  for (auto &p : parts)
    p.clear();
  bool commas = card.find(',') != std::string_view::npos;
  int field = 0;
  for (char c : card) {
    if (c == '\0' || field >= 3)
      break;
    if (c == ',' || ((c == ' ' || c == '\t') && !commas && !parts[field].empty())) {
      ++field;
      continue;
    }
    char k = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    bool keep = AxisIndex(k) >= 0 || k == '+' || k == '-' || k == '/' || (k >= '1' && k <= '9');
    if (keep && parts[field].size() < static_cast<size_t>(kSymcardFieldWidth))
      parts[field] += k;
  }
  return static_cast<int>(parts[2].size());
}

void Bravais(char letter, int16_t &count, CentringVectors &vectors) {
  for (auto &v : vectors)
    v = {0.0, 0.0, 0.0};
  count = 1;
  auto add = [&](double x, double y, double z) { vectors[static_cast<size_t>(count++)] = {x, y, z}; };
  switch (letter) {
  case 'A': add(0.0, 0.5, 0.5); break;
  case 'B': add(0.5, 0.0, 0.5); break;
  case 'C': add(0.5, 0.5, 0.0); break;
  case 'I': add(0.5, 0.5, 0.5); break;
  case 'F':
    add(0.0, 0.5, 0.5);
    add(0.5, 0.5, 0.0);
    add(0.5, 0.0, 0.5);
    break;
  case 'R':
    add(2.0 / 3.0, 1.0 / 3.0, 1.0 / 3.0);
    add(1.0 / 3.0, 2.0 / 3.0, 2.0 / 3.0);
    break;
  default: break;
  }
}

char EffectiveLatticeLetter(char letter, float alpha, float beta, float gamma) {
  return letter == 'R' && AxesAreRhombohedral(alpha, beta, gamma) ? 'P' : letter;
}

bool SymmOpsHaveSameRotation(const GEP &a, const GEP &b) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      if (a.rotation[i][j] != b.rotation[i][j])
        return false;
  return true;
}

// The difference is measured to the nearest whole number, from above or from
// below: a sum such as 2/3 + 1/3 may land a rounding step short of 1, and a
// difference of 0.9999999 is a whole lattice translation, not one of 0.9999999.
bool SameTranslationModuloLattice(const double a[3], const double b[3]) {
  for (int i = 0; i < 3; ++i) {
    double d = std::fabs(a[i] - b[i]);
    if (std::fabs(d - std::round(d)) > kTranslationTolerance)
      return false;
  }
  return true;
}

namespace {

// As SameTranslationModuloLattice, with the tolerance itself excluded: the
// removal of centring copies asks for a difference below 1e-5.
bool SameTranslationModuloLatticeStrict(const double a[3], const double b[3]) {
  for (int i = 0; i < 3; ++i) {
    double d = std::fabs(a[i] - b[i]);
    if (!(std::fabs(d - std::round(d)) < kTranslationTolerance))
      return false;
  }
  return true;
}

} // namespace

void AddLatticeTranslationsForCrystal(CrystalRec &crystal) {
  int16_t n = 0;
  CentringVectors centring;
  Bravais(EffectiveLatticeLetter(crystal.latticeLetter, crystal.alpha, crystal.beta, crystal.gamma),
          n, centring);
  if (n <= 1)
    return;
  int start = CardCount(crystal);
  std::vector<GEP> ops(static_cast<size_t>(start));
  for (int i = 0; i < start; ++i) {
    Symcard2GEP(crystal.symCards[static_cast<size_t>(i)], ops[static_cast<size_t>(i)]);
    WrapOnce(ops[static_cast<size_t>(i)].translation);
  }
  // Copies already present (among the first cards or added here) are
  // skipped, so a list that already holds some copies gains no duplicates.
  std::vector<GEP> present = ops;
  int total = start;
  for (int i = 0; i < start; ++i) {
    for (int k = 1; k < n; ++k) {
      GEP candidate = ops[static_cast<size_t>(i)];
      for (int c = 0; c < 3; ++c)
        candidate.translation[c] += centring[static_cast<size_t>(k)][static_cast<size_t>(c)];
      WrapOnce(candidate.translation);
      bool known = std::any_of(present.begin(), present.end(), [&](const GEP &g) {
        return SymmOpsHaveSameRotation(g, candidate) &&
               SameTranslationModuloLattice(g.translation, candidate.translation);
      });
      if (known || total >= kMaxSymCards)
        continue;
      GEP2Symcard(candidate, crystal.symCards[static_cast<size_t>(total++)]);
      present.push_back(candidate);
    }
  }
  crystal.cardCount = static_cast<uint16_t>(total);
}

void RemoveLatticeTranslationsForCrystal(CrystalRec &crystal) {
  int16_t n = 0;
  CentringVectors centring;
  Bravais(EffectiveLatticeLetter(crystal.latticeLetter, crystal.alpha, crystal.beta, crystal.gamma),
          n, centring);
  if (n <= 1)
    return;
  int count = CardCount(crystal);
  std::vector<GEP> kept;
  int distinct = 0;
  for (int i = 0; i < count; ++i) {
    GEP op;
    Symcard2GEP(crystal.symCards[static_cast<size_t>(i)], op);
    WrapOnce(op.translation);
    bool copy = std::any_of(kept.begin(), kept.end(), [&](const GEP &g) {
      if (!SymmOpsHaveSameRotation(g, op))
        return false;
      for (int k = 0; k < n; ++k) {
        double plus[3], minus[3];
        for (int c = 0; c < 3; ++c) {
          plus[c] = op.translation[c] + centring[static_cast<size_t>(k)][static_cast<size_t>(c)];
          minus[c] = op.translation[c] - centring[static_cast<size_t>(k)][static_cast<size_t>(c)];
        }
        if (SameTranslationModuloLatticeStrict(g.translation, plus) ||
            SameTranslationModuloLatticeStrict(g.translation, minus))
          return true;
      }
      return false;
    });
    if (copy)
      continue;
    ++distinct;
    if (static_cast<int>(kept.size()) < kMaxDistinctOps)
      kept.push_back(op);
  }
  if (distinct > kMaxDistinctOps)
    FWriteColor("Warning: Excess symmetry operators detected!", kRGBRed);
  // Only a translation that is exactly a centring vector is cleared; any
  // other member of the class keeps its translation as it stands.
  for (size_t i = 0; i < kept.size(); ++i) {
    GEP &op = kept[i];
    for (int k = 1; k < n; ++k) {
      const auto &t = centring[static_cast<size_t>(k)];
      if (op.translation[0] == t[0] && op.translation[1] == t[1] && op.translation[2] == t[2]) {
        op.translation[0] = op.translation[1] = op.translation[2] = 0.0;
        break;
      }
    }
    GEP2Symcard(op, crystal.symCards[i]);
  }
  crystal.cardCount = static_cast<uint16_t>(kept.size());
}

bool CheckIdentityOperatorForCrystal(CrystalRec &crystal) {
  int count = CardCount(crystal);
  std::vector<GEP> ops(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    Symcard2GEP(crystal.symCards[static_cast<size_t>(i)], ops[static_cast<size_t>(i)]);
    if (IsIdentity(ops[static_cast<size_t>(i)]))
      return true;
  }
  if (count >= kMaxSymCards) {
    std::fprintf(stderr, "Error! too many GEPs detected at CheckIdentityOperatorForCrystal\n");
    return false;
  }
  crystal.symCards[0] = MakeSymcard(kIdentityCard);
  for (int i = 0; i < count; ++i)
    GEP2Symcard(ops[static_cast<size_t>(i)], crystal.symCards[static_cast<size_t>(i + 1)]);
  crystal.cardCount = static_cast<uint16_t>(count + 1);
  return true;
}
