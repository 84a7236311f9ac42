#include "import/OwnTextReader.h"

#include "FractionalPlaces.h"
#include "SpaceGroups.h"
#include "StructureArrays.h"
#include "SymmetryCards.h"
#include "UnitCell.h"
#include "VectorMath.h"
#include "ViewOrientation.h"
#include "documents/FileBuffer.h"
#include "documents/StoredValueRanges.h"
#include "import/ImportText.h"
#include "import/StructureFill.h"
#include "import/TextNumbers.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>

namespace {

constexpr float kMaxBallAndStickRadius = 0.95f;
constexpr long kMinPhong = 1, kMaxPhong = 1000;
constexpr float kDefaultReflection = 0.5f;
constexpr uint16_t kDefaultPhong = 100;
// Passes of the polar iteration that makes a written orientation a rotation:
// from three decimals it converges to double precision in four.
constexpr int kPolarPasses = 8;

constexpr std::array<std::string_view, 34> kCards = {
    "MOLE", "TITL", "NOTE", "CELL", "ERRC", "LATC", "SYMM", "OSHF", "XYZR", "MODL", "BKCL", "BNCL",
    "BRAD", "LTDN", "DCUE", "AREN", "BREN", "PREN", "SREN", "SHCL", "PRSP", "OMAT", "VIEW", "BMAX",
    "TYPE", "ATOM", "ERRS", "OCCU", "DISO", "UISO", "UANI", "BANI", "AVEC", "END "};

bool LooksLikeCard(std::string_view line) {
  if (line.size() < 4)
    return false;
  for (int k = 0; k < 4; k++)
    if (line[static_cast<size_t>(k)] < 'A' || line[static_cast<size_t>(k)] > 'Z')
      return false;
  return line.size() == 4 || line[4] == ' ' || line[4] == '\t';
}

bool IsKnownCard(std::string_view line) {
  return LooksLikeCard(line) && std::find(kCards.begin(), kCards.end(), line.substr(0, 4)) != kCards.end();
}

std::optional<ElementCode> ElementToken(std::string_view t) {
  if (t.empty() || t.size() > 2 || !std::isalpha(static_cast<unsigned char>(t[0])))
    return std::nullopt;
  const char s[3] = {t[0], t.size() > 1 ? t[1] : ' ', '\0'};
  return TwoCharsToShort(s);
}

// Text in UTF-8; bytes that are not UTF-8 are read as Mac Roman.
std::string AsUtf8(std::string_view s) { return Utf16ToUtf8(Utf8ToUtf16(s)); }

struct LabelLine {
  std::string label;
  std::vector<std::string_view> values;
  int line;
};

class Parser {
public:
  Parser(ImportResult &result, ImportedStructure &s) : result_(result), s_(s), c_(s.crystal), x_(s.extras) {}

  // The label blocks hold views into the text, which outlives the parser.
  bool Run(std::string_view text);

private:
  ImportResult &result_;
  ImportedStructure &s_;
  CrystalRec &c_;
  TextFileExtras &x_;
  int lineNo_ = 0;
  bool haveCell_ = false;
  int cellLine_ = 0;
  double cell_[6] = {};
  bool haveLattice_ = false;
  bool full_ = false;                      // the sites reached the import limit
  std::vector<std::array<float, 3>> cart_; // the ATOM positions, should they be a molecule's
  std::map<std::string, std::vector<LabelLine>> blocks_; // ERRS, OCCU, UISO, UANI, BANI

  void Warn(const std::string &what) { ImportWarning(s_, lineNo_, what); }
  bool Fail(int line, std::string why) { return RefuseImport(result_, line, std::move(why)); }

  // A value of the table of limits beyond its row: the nearest limit is
  // used, with a warning in the words of the file ("BMAX 1000 is beyond the
  // largest bond maximum, 231 A; 231 A used").
  float Limited(const StoredRange &r, float v, const std::string &written, const char *limit) {
    const float kept = static_cast<float>(StoredValueKept(r, v, r.high));
    if (kept == v)
      return v;
    char text[240];
    std::snprintf(text, sizeof text, "%s is %s %s, %g%s; %g%s used.", written.c_str(),
                  kept > v ? "below" : "beyond", kept > v ? "the smallest" : limit,
                  kept > v ? r.low : r.high, r.unit, static_cast<double>(kept), r.unit);
    Warn(text);
    return kept;
  }

  // The values of a card (or of a block's line): `n` finite numbers, else
  // a warning.
  bool Numbers(std::string_view card, const std::vector<std::string_view> &t, size_t n, float *out,
               const char *what = "card") {
    if (t.size() < n) {
      Warn(std::string(card) + " needs " + std::to_string(n) + " numbers; the " + what + " is ignored.");
      return false;
    }
    for (size_t k = 0; k < n; k++) {
      const auto v = ParseFloatToken(t[k]);
      if (!v) {
        Warn(std::string(card) + ": \"" + std::string(t[k]) + "\" is not a usable number; the " + what +
             " is ignored.");
        return false;
      }
      out[k] = *v;
    }
    return true;
  }

  RGBColor ToColour(const float v[3]) {
    RGBColor c;
    uint16_t *ch[3] = {&c.red, &c.green, &c.blue};
    for (int k = 0; k < 3; k++)
      *ch[k] = static_cast<uint16_t>(std::lround(std::clamp(v[k], 0.0f, 1.0f) * 65535.0f));
    return c;
  }

  void Card(std::string_view card, std::string_view line, const std::vector<std::string_view> &t);
  void Rendering(int index, const std::vector<std::string_view> &t, std::string_view card);
  void BlockLine(std::string_view block, std::string_view line);
  bool Finish();
};

void Parser::Rendering(int index, const std::vector<std::string_view> &t, std::string_view card) {
  float v[3];
  if (t.size() < 4 || !Numbers(card, t, 3, v)) {
    if (t.size() < 4)
      Warn(std::string(card) + " needs 4 values; the card is ignored.");
    return;
  }
  float *dst[3] = {&c_.kA[index], &c_.kD[index], &c_.kS[index]};
  for (int k = 0; k < 3; k++) {
    if (v[k] < 0.0f || v[k] > 1.0f) {
      x_.cautions.emplace_back(kIllegalReflection);
      v[k] = kDefaultReflection;
    }
    *dst[k] = v[k];
  }
  const auto n = ParseIntegerToken(t[3]);
  if (!n || *n < kMinPhong || *n > kMaxPhong) {
    x_.cautions.emplace_back(kIllegalPhong);
    c_.phongN[index] = kDefaultPhong;
  } else {
    c_.phongN[index] = static_cast<uint16_t>(*n);
  }
}

void Parser::Card(std::string_view card, std::string_view line, const std::vector<std::string_view> &t) {
  float v[9];
  if (card == "MOLE") {
    c_.molecule = 1;
  } else if (card == "TITL") {
    std::string_view rest = line.size() > 4 ? line.substr(4) : std::string_view();
    const size_t b = rest.find_first_not_of(" \t");
    x_.title = b == std::string_view::npos ? std::string() : AsUtf8(rest.substr(b));
  } else if (card == "CELL") {
    if (Numbers(card, t, 6, v)) {
      if (v[0] <= 0.0f || v[1] <= 0.0f || v[2] <= 0.0f || v[3] <= 0.0f || v[4] <= 0.0f || v[5] <= 0.0f ||
          v[3] >= 180.0f || v[4] >= 180.0f || v[5] >= 180.0f) {
        Warn("CELL: lengths and angles must be positive and the angles below 180; the card is ignored.");
        return;
      }
      std::copy(v, v + 6, cell_);
      cellLine_ = lineNo_;
      haveCell_ = true;
    }
  } else if (card == "ERRC") {
    if (Numbers(card, t, 6, v)) {
      std::copy(v, v + 6, c_.cellEsds);
      c_.esdFlag = 1;
    }
  } else if (card == "LATC") {
    static constexpr std::string_view kLetters = "PABCIFR";
    if (t.empty() || t[0].size() != 1 || kLetters.find(static_cast<char>(std::toupper(t[0][0]))) == std::string_view::npos) {
      Warn("LATC needs one of the letters P, A, B, C, I, F or R; the card is ignored.");
      return;
    }
    c_.latticeLetter = static_cast<char>(std::toupper(t[0][0]));
    haveLattice_ = true;
  } else if (card == "SYMM") {
    if (c_.cardCount >= kMaxSymCards) {
      Warn("more than 192 SYMM cards; the card is ignored.");
      return;
    }
    std::string raw(line.size() > 6 ? line.substr(6) : std::string_view());
    Symcard symcard{};
    const bool cardForm = raw.size() <= 25 && raw.find(',') == std::string::npos &&
                          (raw.size() < 9 || (raw[7] == ' ' && raw[8] == ' ')) &&
                          (raw.size() < 18 || (raw[16] == ' ' && raw[17] == ' '));
    if (cardForm) {
      raw.resize(25, ' ');
      symcard = MakeSymcard(raw);
    } else if (!UpdateSymmCard(raw, symcard)) {
      Warn("SYMM: the operator cannot be read; the card is ignored.");
      return;
    }
    GEP gep;
    Symcard2GEP(symcard, gep);
    const auto &r = gep.rotation;
    const int det = r[0][0] * (r[1][1] * r[2][2] - r[1][2] * r[2][1]) -
                    r[0][1] * (r[1][0] * r[2][2] - r[1][2] * r[2][0]) +
                    r[0][2] * (r[1][0] * r[2][1] - r[1][1] * r[2][0]);
    if (det != 1 && det != -1) {
      Warn("SYMM: \"" + raw + "\" is not a symmetry operator; the card is ignored.");
      return;
    }
    c_.symCards[c_.cardCount++] = symcard;
  } else if (card == "OSHF") {
    // A shift within a cell is kept as read; a larger one loses its whole
    // cells read in double, so that its fraction survives (UnitCell.h).
    if (Numbers(card, t, 3, v))
      for (size_t k = 0; k < 3; k++) {
        std::string_view token = t[k];
        if (token.starts_with('+'))
          token.remove_prefix(1);
        double typed = v[k];
        std::from_chars(token.data(), token.data() + token.size(), typed);
        c_.originShift[k] = std::fabs(v[k]) < 1.0f ? v[k] : ReduceOriginShift(typed);
      }
  } else if (card == "XYZR") {
    if (Numbers(card, t, 6, v)) {
      if (v[0] > v[1] || v[2] > v[3] || v[4] > v[5]) {
        Warn("XYZR: each minimum must not exceed its maximum; the card is ignored.");
        return;
      }
      std::copy(v, v + 6, c_.plotRange);
    }
  } else if (card == "MODL") {
    const auto n = t.empty() ? std::nullopt : ParseIntegerToken(t[0]);
    if (!n || *n < 1 || *n > 6)
      Warn("MODL needs a model type from 1 to 6; the card is ignored.");
    else
      c_.modelType = static_cast<int8_t>(*n);
  } else if (card == "BKCL") {
    if (Numbers(card, t, 3, v))
      c_.backgroundColor = ToColour(v);
  } else if (card == "BNCL") {
    if (Numbers(card, t, 3, v))
      c_.bondColor1 = ToColour(v);
  } else if (card == "BRAD") {
    if (Numbers(card, t, 2, v)) {
      if (v[0] > 0.0f && v[0] < kMaxBallAndStickRadius)
        c_.bondRadius = v[0];
      else
        Warn("BRAD: the ball-and-stick radius must lie above 0 and below 0.95; it is ignored.");
      if (v[1] > 0.0f)
        c_.stickRadius = v[1];
      else
        Warn("BRAD: the stick radius must be above 0; it is ignored.");
    }
  } else if (card == "LTDN") {
    if (Numbers(card, t, 3, v)) {
      if (v[0] == 0.0f && v[1] == 0.0f && v[2] == 0.0f)
        Warn("LTDN: the light direction cannot be the zero vector; the card is ignored.");
      else
        std::copy(v, v + 3, c_.lightDirection);
    }
  } else if (card == "DCUE") {
    if (Numbers(card, t, 3, v)) {
      for (int k = 0; k < 3; k++)
        if (v[k] < 0.0f || v[k] > 1.0f) {
          x_.cautions.emplace_back(kBadDepthCue);
          return;
        }
      c_.lowerMinOpacity = v[0];
      c_.lowerBaseZ = v[1];
      c_.lowerPlateauZ = v[2];
      c_.depthFading = 1;
    }
  } else if (card == "AREN") {
    Rendering(0, t, card);
  } else if (card == "BREN") {
    Rendering(1, t, card);
  } else if (card == "PREN") {
    Rendering(2, t, card);
  } else if (card == "SREN") {
    Rendering(3, t, card);
  } else if (card == "SHCL") {
    const auto n = t.empty() ? std::nullopt : ParseIntegerToken(t[0]);
    if (!n)
      Warn("SHCL needs a number; the card is ignored.");
    else
      c_.showUnitCell = *n == 1 ? 1 : 0;
  } else if (card == "PRSP") {
    if (Numbers(card, t, 1, v)) {
      if (v[0] <= 0.0f) {
        Warn("PRSP: the view distance must be above 0; the card is ignored.");
        return;
      }
      c_.perspective = 1;
      c_.viewDistance = v[0];
    }
  } else if (card == "OMAT") {
    if (Numbers(card, t, 9, v)) {
      std::copy(v, v + 9, x_.orientation);
      x_.hasOrientation = true;
    }
  } else if (card == "VIEW") {
    if (Numbers(card, t, 3, v) && !(v[0] == 0.0f && v[1] == 0.0f && v[2] == 0.0f)) {
      std::copy(v, v + 3, c_.viewDirection);
      x_.hasViewDirection = true;
    }
  } else if (card == "BMAX") {
    if (t.size() < 3) {
      Warn("BMAX needs two elements and a distance; the card is ignored.");
      return;
    }
    const auto a = ElementToken(t[0]), b = ElementToken(t[1]);
    // A distance beyond the float range is held to the largest maximum too.
    const auto given = ImportNumber(t[2]);
    auto d = given ? std::optional<float>(static_cast<float>(std::min(*given, double{FLT_MAX}))) : std::nullopt;
    if (!a || !b || !d || *d <= 0.0f) {
      Warn("BMAX needs two elements and a distance above 0; the card is ignored.");
      return;
    }
    d = Limited(stored::kBondLength, *d, "BMAX " + std::string(t[2]), "the largest bond maximum");
    if (c_.bondSpecCount >= kMaxBondSpecs) {
      Warn("more than 200 bond specifications; the card is ignored.");
      return;
    }
    BondSpec &s = c_.bondSpecs[static_cast<size_t>(c_.bondSpecCount++)];
    s = BondSpec{};
    s.elementA = *a;
    s.elementB = *b;
    s.maxLength = *d;
    // An optional fourth number: the shortest distance bonded.
    s.minLength = 0.0f;
    if (t.size() > 3) {
      const auto low = ParseFloatToken(t[3]);
      if (low && *low >= 0.0f && *low < *d)
        s.minLength = *low;
      else
        Warn("BMAX: the minimum \"" + std::string(t[3]) + "\" is not a distance below the maximum; 0 is used.");
    }
    s.style = c_.defaultBondStyle;
    s.colour1 = c_.bondColor1;
    s.colour2 = c_.bondColor2;
  } else if (card == "END ") {
  } else {
    Warn("unknown card \"" + std::string(card) + "\" is ignored.");
  }
}

void Parser::BlockLine(std::string_view block, std::string_view line) {
  const auto t = ImportTokens(line);
  if (t.empty())
    return;
  float v[10];
  if (block == "TYPE") {
    const auto e = ElementToken(t[0]);
    if (!e || t.size() < 5) {
      Warn("a TYPE line needs an element, a radius and three colour values; the line is ignored.");
      return;
    }
    std::vector<std::string_view> rest(t.begin() + 1, t.end());
    if (!Numbers("TYPE", rest, 4, v, "line"))
      return;
    if (v[0] <= 0.0f) {
      Warn("TYPE: the radius must be above 0; the line is ignored.");
      return;
    }
    v[0] = Limited(stored::kAtomRadius, v[0], "TYPE radius " + std::string(rest[0]), "the largest atom radius");
    s_.looks.push_back({*e, v[0], ToColour(v + 1)});
  } else if (block == "ATOM") {
    const auto e = ElementToken(t[0]);
    if (!e || t.size() < 5) {
      Warn("an ATOM line needs an element, a label and three coordinates; the line is ignored.");
      return;
    }
    std::vector<std::string_view> rest(t.begin() + 2, t.end());
    if (!Numbers("ATOM", rest, 3, v, "line"))
      return;
    // Whether these are Cartesian (a molecule) or fractional coordinates
    // is known only at the end: a MOLE card may follow the atoms.
    const double xyz[3] = {v[0], v[1], v[2]};
    full_ = !AppendImportSite(result_, s_, t[1], *e, xyz, lineNo_);
    cart_.push_back({v[0], v[1], v[2]});
  } else if (block == "AVEC") {
    if (t.size() < 12) {
      Warn("an AVEC line needs a label and eleven values; the line is ignored.");
      return;
    }
    std::vector<std::string_view> rest(t.begin() + 1, t.begin() + 11);
    if (!Numbers("AVEC", rest, 10, v, "line"))
      return;
    const auto style = ParseIntegerToken(t[11]);
    if (!style || *style < 0 || *style > 255) {
      Warn("AVEC: the vector style must be a number from 0 to 255; the line is ignored.");
      return;
    }
    TextFileExtras::PendingVector p;
    p.label = std::string(t[0]);
    std::copy(v, v + 3, p.xyz);
    std::copy(v + 3, v + 6, p.uvw);
    p.colour = ToColour(v + 7);
    p.style = static_cast<uint8_t>(*style);
    x_.vectors.push_back(p);
  } else {
    blocks_[std::string(block)].push_back({std::string(t[0]), std::vector<std::string_view>(t.begin() + 1, t.end()),
                                           lineNo_});
  }
}

bool Parser::Run(std::string_view text) {
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos)
    return Fail(0, "The file is empty.");
  if (text.find('\0') != std::string_view::npos)
    return Fail(0, "The file is not a text file.");
  const ImportTextLines lines = ImportLines(text);
  std::string block;
  // The notes' paragraphs, joined by line breaks as they end; the length
  // up to the last that is not empty, as the line breaks at the very end of
  // a note do not survive the format (the writer follows the note with empty
  // lines of its own).
  std::string notes;
  size_t paragraphs = 0, kept = 0;
  std::string paragraph;
  const auto endParagraph = [&] {
    if (paragraphs++)
      notes += '\n';
    notes += paragraph;
    if (!paragraph.empty())
      kept = notes.size();
    paragraph.clear();
  };
  bool inNote = false;
  for (size_t i = 0; i < lines.size(); i++) {
    lineNo_ = static_cast<int>(i) + 1;
    const std::string_view line = lines[i];
    if (inNote) {
      if ((!line.empty() && line[0] == '!') || IsKnownCard(line)) {
        inNote = false;
      } else {
        if (line.empty()) {
          endParagraph();
        } else {
          paragraph += line;
        }
        continue;
      }
    }
    if (line.empty() || line[0] == '!') {
      block.clear();
      continue;
    }
    if (!block.empty() && !IsKnownCard(line)) {
      BlockLine(block, line);
      if (full_)
        return false;
      continue;
    }
    block.clear();
    if (!LooksLikeCard(line)) {
      if (line.find_first_not_of(" \t") != std::string_view::npos)
        Warn("a line that is neither a card nor a comment is ignored.");
      continue;
    }
    const std::string_view card = line.substr(0, 4);
    if (card == "NOTE") {
      inNote = true;
      paragraph.clear();
      continue;
    }
    if (card == "TYPE" || card == "ATOM" || card == "ERRS" || card == "OCCU" || card == "DISO" || card == "UISO" ||
        card == "UANI" || card == "BANI" || card == "AVEC") {
      block = std::string(card);
      continue;
    }
    Card(card, line, ImportTokens(line.substr(4)));
  }
  if (inNote && !paragraph.empty())
    endParagraph();
  notes.resize(kept);
  x_.notes += notes;
  x_.notes = AsUtf8(x_.notes);
  return Finish();
}

bool Parser::Finish() {
  if (c_.sites.empty())
    return Fail(0, "The file holds no atoms (no ATOM block with a readable line).");
  if (!c_.molecule && !haveCell_)
    return Fail(0, "The file holds no valid unit cell (CELL card).");
  if (!c_.molecule && !SetImportCell(s_, result_.error, cellLine_, cell_))
    return false;
  if (!c_.molecule && !haveLattice_ && c_.cardCount > 0)
    c_.latticeLetter = 'P';
  // Without cards the symmetry is P 1; with them, the cards are the
  // symmetry. The file names no group (its symbol is a comment), so the
  // group is the table's setting whose operators and centring the cards are
  // exactly; cards that are no such setting stay the symmetry as they are.
  c_.spaceGroup[0] = '\0';
  c_.originChoice = 0;
  if (!c_.molecule && c_.cardCount == 0) {
    c_.symCards[0] = MakeSymcard("   +x       +y       +z  ");
    c_.cardCount = 1;
  }
  if (!c_.molecule) {
    std::string symbol;
    uint8_t origin = 0;
    if (FindSpacegroupOfCards(std::span<const Symcard>(c_.symCards.data(), c_.cardCount), c_.latticeLetter, c_.alpha,
                              c_.beta, c_.gamma, symbol, origin)) {
      MyStrCopy(std::span<char>(c_.spaceGroup), symbol);
      c_.originChoice = origin;
      c_.cardCount = 0; // the group gives the same operators
    }
  }

  // Label-keyed blocks: the n-th line of a label goes to the n-th site of it.
  std::map<std::string_view, std::vector<size_t>> byLabel;
  for (size_t k = 0; k < s_.labels.size(); k++)
    byLabel[s_.labels[k]].push_back(k);
  for (auto &[name, entries] : blocks_) {
    std::map<std::string, size_t> seen;
    for (const LabelLine &l : entries) {
      lineNo_ = l.line;
      const auto it = byLabel.find(l.label);
      const size_t nth = seen[l.label]++;
      if (it == byLabel.end() || nth >= it->second.size()) {
        Warn(name + ": no site labelled \"" + l.label + "\"; the line is ignored.");
        continue;
      }
      AsymmetricUnitRecord &site = c_.sites[it->second[nth]];
      float v[6];
      if (name == "ERRS") {
        if (Numbers(name, l.values, 3, v, "line")) {
          std::copy(v, v + 3, site.esd);
          c_.esdFlag = 1;
        }
      } else if (name == "OCCU") {
        const size_t pairs = l.values.size() / 2;
        if (pairs == 0 || pairs > kMaxSiteElements || l.values.size() % 2 != 0) {
          Warn("OCCU needs one to three element and occupancy pairs; the line is ignored.");
          continue;
        }
        ElementCode el[kMaxSiteElements] = {kBlankElement, kBlankElement, kBlankElement};
        float occ[kMaxSiteElements] = {0.0f, 0.0f, 0.0f};
        bool ok = true;
        for (size_t k = 0; k < pairs && ok; k++) {
          const auto e = ElementToken(l.values[2 * k]);
          const auto o = ParseFloatToken(l.values[2 * k + 1]);
          ok = e && o && *o >= 0.0f && *o <= 1.0f;
          if (ok) {
            el[k] = *e;
            occ[k] = *o;
          }
        }
        if (!ok) {
          Warn("OCCU: occupancies must lie from 0 to 1; the line is ignored.");
          continue;
        }
        std::copy(el, el + kMaxSiteElements, site.elements);
        std::copy(occ, occ + kMaxSiteElements, site.occupancies);
      } else if (name == "DISO") {
        // The disorder assembly and group of the site.
        if (Numbers(name, l.values, 2, v, "line")) {
          if (v[0] != std::round(v[0]) || v[1] != std::round(v[1]) || std::fabs(v[0]) > INT16_MAX ||
              std::fabs(v[1]) > INT16_MAX) {
            Warn("DISO needs a whole assembly and group number; the line is ignored.");
            continue;
          }
          site.disorderAssembly = static_cast<int16_t>(v[0]);
          site.disorderGroup = static_cast<int16_t>(v[1]);
        }
      } else if (name == "UISO") {
        if (Numbers(name, l.values, 1, v, "line")) {
          site.displacementType = kDisplacementIsotropic;
          site.isoValue = v[0];
          c_.ellipsoidData = 1;
        }
      } else if (name == "UANI" || name == "BANI") {
        if (Numbers(name, l.values, 6, v, "line")) {
          site.displacementType = name == "UANI" ? kDisplacementAnisoU : kDisplacementAnisoB;
          const float t[9] = {v[0], v[3], v[4], v[3], v[1], v[5], v[4], v[5], v[2]};
          std::copy(t, t + 9, site.tensor);
          c_.ellipsoidData = 1;
        }
      }
    }
  }

  // The fill's end makes the atom types (with the TYPE block's looks) and
  // puts a molecule's atoms where the ATOM lines gave them.
  if (c_.molecule)
    s_.cartesian = std::move(cart_);
  return FinishImportedStructure(s_, result_.error, CellRoom::AsWritten);
}

} // namespace

bool DoOwnTextFile(const ImportSource &source, ImportResult &result);

bool ParseTextFile(std::string_view text, CrystalRec &crystal, TextFileExtras &extras, std::string *message) {
  ImportSource source;
  source.text = ImportLineEnds(text);
  ImportResult result;
  const bool read = DoOwnTextFile(source, result);
  ClearCrystalRec(&crystal);
  // A refused text keeps the warnings that came before the refusal.
  extras = result.structures.empty() ? TextFileExtras{} : std::move(result.structures.front().extras);
  if (!read) {
    if (message)
      *message = result.error.what;
    return false;
  }
  crystal = std::move(result.structures.front().crystal);
  return true;
}

namespace {

bool WrittenOrientation(const float built[9], const float written[9], float out[9]) {
  // The turn Q = W M^-1 that takes the built matrix M to the written one W,
  // made a rotation again (the written matrix holds three decimals) by the
  // polar iteration Q <- (Q + Q^-T) / 2, which converges to the nearest
  // rotation.
  double M[9], W[9], Mi[9], Q[9];
  for (int k = 0; k < 9; k++) {
    M[k] = built[k];
    W[k] = written[k];
  }
  if (!DInv3x3Mat(M, Mi))
    return false;
  DMatMul33x33(W, Mi, Q);
  const double det = Q[0] * (Q[4] * Q[8] - Q[5] * Q[7]) - Q[1] * (Q[3] * Q[8] - Q[5] * Q[6]) +
                     Q[2] * (Q[3] * Q[7] - Q[4] * Q[6]);
  if (!(det > 0.0) || !std::isfinite(det))
    return false; // no turn: a mirror, or a matrix of no cell
  for (int pass = 0; pass < kPolarPasses; pass++) {
    double Qi[9];
    if (!DInv3x3Mat(Q, Qi))
      return false;
    for (int r = 0; r < 3; r++)
      for (int col = 0; col < 3; col++)
        Q[3 * r + col] = 0.5 * (Q[3 * r + col] + Qi[3 * col + r]);
  }
  double R[9];
  DMatMul33x33(Q, M, R);
  for (int k = 0; k < 9; k++) {
    out[k] = static_cast<float>(R[k]);
    if (!std::isfinite(out[k]))
      return false;
  }
  return true;
}

} // namespace

int ApplyTextFileExtras(CrystalRec &c, const TextFileExtras &extras) {
  // The cell gives the metric; the written matrix only turns the view.
  float turned[9];
  if (extras.hasOrientation && !c.molecule && WrittenOrientation(c.orientationMatrix, extras.orientation, turned))
    ApplyOrientationMatrix(&c, turned);
  int missed = 0;
  const size_t nAtoms = UsableAtomSize(c), nSites = UsableSiteSize(c);
  for (const TextFileExtras::PendingVector &p : extras.vectors) {
    std::optional<uint32_t> found;
    for (size_t k = 0; k < nAtoms && !found; k++) {
      const AtomRecord &t = c.atoms[k];
      if (t.site >= nSites || CStrView(std::span<const char>(c.sites[t.site].label)) != p.label)
        continue;
      if (SameAtomPosition(t.xyz, p.xyz))
        found = static_cast<uint32_t>(k);
    }
    if (!found) {
      missed++;
      continue;
    }
    VectorRecord *v = AppendBlankVector(&c);
    if (!v)
      break;
    v->atom = *found;
    std::copy(p.uvw, p.uvw + 3, v->uvw);
    v->colour = p.colour;
    v->style = p.style;
    c.atoms[*found].hasVector = 1;
  }
  return missed;
}

bool IsOwnTextFile(std::string_view text) {
  const auto lines = ImportLines(text.substr(0, 4096));
  for (const std::string_view l : lines) {
    // A refinement program's instruction file opens with the same TITL and
    // CELL cards, but its CELL leads with the wavelength (seven numbers),
    // and it carries cards of its own.
    for (std::string_view foreign : {"SFAC", "UNIT", "LATT", "ZERR", "FVAR", "HKLF", "L.S.", "WGHT"})
      if (l.starts_with(foreign))
        return false;
    if (l.starts_with("CELL") && ImportTokens(l).size() == 8)
      return false;
  }
  for (const std::string_view l : lines)
    if (l.starts_with("TITL") || l.starts_with("MOLE") || l.starts_with("CELL"))
      return LooksLikeCard(l);
  return false;
}

bool IsOwnTextFile(const ImportSource &source) { return IsOwnTextFile(source.text); }

bool DoOwnTextFile(const ImportSource &source, ImportResult &result) {
  ImportedStructure *s = BeginImportedStructure(result, source.name);
  if (!s || !Parser(result, *s).Run(source.text))
    return false;
  s->name = s->extras.title.empty() ? source.name : s->extras.title;
  return true;
}

extern const ImportFormat gOwnTextImport{"structure text", "Structure text files", "ovtx", "", IsOwnTextFile, DoOwnTextFile};
