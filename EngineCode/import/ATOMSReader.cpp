// Two unrelated input formats share the name "atoms" and the extension
// ".inp":
//
// The crystal-drawing program's free-form file: four-letter keywords in
// column 1 (TITL title; CELL a b c alpha beta gamma; SPGP a Hermann-Mauguin
// symbol without blanks, underscores ignored; HALL a Hall symbol, not read:
// the group then comes from SPGP or from the operators; SYMM operators in "x,y,z" form; LATT the lattice
// letter and "C" (centric: the listed operators are half the group, the
// inversion gives the rest) or "N" (non-centric), or a SHELX-style number),
// then one line an atom: label, x, y, z and its type (an element symbol;
// else the label's letters name the element). Fields are separated by
// blanks or commas; other keywords are passed over.
//
// The absorption-spectroscopy program's atoms.inp: `keyword value` pairs,
// separated by blanks, "=" or ",", several to a line (title and space take
// the rest of theirs); "!", "%", "*" and "#" start comments. Read: title,
// space (Hermann-Mauguin, Schoenflies as typed, "C_2h^6", or a nickname,
// "fcc"), a, b (= a), c (= a), alpha, beta, gamma (those the group leaves
// free), shift (added to every position); after the line `atoms` (or
// `atom`), one line a site: element, x, y, z and a tag (its label), up to
// a line of dashes or the end.
#include "import/ElementOfName.h"
#include "import/FractionNumbers.h"
#include "import/ImportSymmetry.h"
#include "import/ImportText.h"
#include "import/ImportTypes.h"
#include "import/StructureFill.h"
#include "import/TextNumbers.h"

#include "SpaceGroups.h"
#include "SymmetryCards.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <utility>

namespace {

constexpr size_t kDetectLines = 400;

// Blank- and comma-separated fields.
std::vector<std::string> Fields(std::string_view line) {
  std::string text(line);
  std::replace(text.begin(), text.end(), ',', ' ');
  std::vector<std::string> out;
  for (std::string_view t : ImportTokens(text))
    out.emplace_back(t);
  return out;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char &ch : out)
    ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return out;
}

// A site of either format: label, position, element text.
bool AppendSite(ImportResult &result, ImportedStructure &s, std::string_view label, std::string_view type,
                const double xyz[3], int line) {
  auto element = ElementFromSymbol(type);
  if (!element)
    element = ElementOfLabel(s, line, label);
  if (!element) {
    element = kPlaceholderElement;
    ImportWarning(s, line, "atom " + std::string(label) + " names no element; it is drawn as a placeholder.");
  }
  return AppendImportSite(result, s, label, *element, xyz, line) != nullptr;
}

// ---- The drawing program's free-form file ------------------------------------------

// Cards of the own text format and of the refinement program's instruction
// files, which share TITL, CELL and SYMM.
constexpr std::string_view kOtherCards[] = {"SFAC", "UNIT", "FVAR", "HKLF", "ATOM", "LATC", "TYPE",
                                            "XYZR", "MODL", "MOLE", "NOTE", "ZERR", "END"};

bool IsKeywordLine(std::string_view line, std::string_view keyword) {
  // Capitals: a force-field program's "cell" line is no CELL.
  return line.starts_with(keyword) && (line.size() == 4 || line[4] == ' ' || line[4] == '\t');
}

// The operators the SYMM lines and LATT make: the inversion's images for a
// centric group, every centring copy.
std::vector<GEP> DrawingOperators(const std::vector<std::string> &symm, char lattice, bool centric) {
  std::vector<GEP> base;
  GEP identity;
  for (int k = 0; k < 3; k++)
    identity.rotation[k][k] = 1;
  base.push_back(identity);
  for (const std::string &op : symm) {
    GEP g;
    Symcard2GEP(op, g);
    if (std::none_of(base.begin(), base.end(), [&](const GEP &b) {
          return SymmOpsHaveSameRotation(g, b) && SameTranslationModuloLattice(g.translation, b.translation);
        }))
      base.push_back(g);
  }
  if (centric) {
    const size_t n = base.size();
    for (size_t k = 0; k < n; k++) {
      GEP inv = base[k];
      for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++)
          inv.rotation[i][j] = static_cast<int16_t>(-inv.rotation[i][j]);
        inv.translation[i] = -inv.translation[i];
      }
      base.push_back(inv);
    }
  }
  int16_t count = 0;
  CentringVectors centring{};
  Bravais(lattice, count, centring);
  std::vector<GEP> ops;
  for (int c = 0; c < std::max<int16_t>(count, 1); c++)
    for (GEP g : base) {
      for (int k = 0; k < 3; k++)
        g.translation[k] += centring[static_cast<size_t>(c)][static_cast<size_t>(k)];
      ops.push_back(g);
    }
  return ops;
}

} // namespace

bool IsATOMSFile(const ImportSource &source) {
  const auto lines = ImportLines(std::string_view(source.text).substr(0, 1 << 15));
  bool cell = false, own = false;
  for (size_t n = 0; n < lines.size() && n < kDetectLines; n++) {
    const std::string_view l = lines[n];
    for (std::string_view other : kOtherCards)
      own = own || IsKeywordLine(l, other);
    // The refinement program's CELL leads with the wavelength; a bare CELL
    // card (its numbers on the lines after it) is another program's.
    if (IsKeywordLine(l, "CELL")) {
      const size_t fields = Fields(l.substr(4)).size();
      cell = fields != 0 && fields != 7;
    }
  }
  return cell && !own;
}

bool DoATOMSFile(const ImportSource &source, ImportResult &result) {
  if (RefuseCutInsideNumber(source, result))
    return false;
  ImportedStructure *s = BeginImportedStructure(result, source.name);
  if (!s)
    return false;
  const auto lines = ImportLines(source.text);
  std::vector<std::string> symm;
  std::string symbol;
  bool hall = false, centric = false;
  char lattice = 'P';
  int cellLine = 0, groupLine = 0, symmLine = 0;
  double cell[6] = {};
  struct Atom {
    int line;
    std::vector<std::string> f;
  };
  std::vector<Atom> atoms;
  for (size_t n = 0; n < lines.size(); n++) {
    const std::string_view l = lines[n];
    const int line = static_cast<int>(n + 1);
    const auto f = Fields(l);
    if (f.empty())
      continue;
    const std::string key = Upper(f[0]);
    if (IsKeywordLine(l, "TITL")) {
      s->extras.title = std::string(TrimImport(l.substr(4)));
    } else if (IsKeywordLine(l, "CELL")) {
      cellLine = line;
      for (size_t k = 0; k < 6; k++) {
        if (k + 1 >= f.size())
          return RefuseImport(result, line, "CELL needs six numbers");
        const auto v = ImportNumber(f[k + 1]);
        if (!v)
          return RefuseNumber(result, line, "cell constant", f[k + 1]);
        cell[k] = *v;
      }
    } else if (IsKeywordLine(l, "SPGP") || IsKeywordLine(l, "HALL")) {
      if (f.size() < 2)
        return RefuseImport(result, line, key + " needs a symbol");
      if (key == "HALL" && !symbol.empty() && !hall)
        continue; // the Hermann-Mauguin symbol is read
      symbol = f[1];
      hall = key == "HALL";
      // Underscores stand for the blanks of a Hall symbol; a
      // Hermann-Mauguin symbol is read without them.
      if (hall)
        std::replace(symbol.begin(), symbol.end(), '_', ' ');
      else
        std::erase(symbol, '_');
      groupLine = line;
    } else if (IsKeywordLine(l, "SYMM")) {
      symm.emplace_back(TrimImport(l.substr(4)));
      symmLine = symmLine ? symmLine : line;
    } else if (IsKeywordLine(l, "LATT")) {
      for (size_t k = 1; k < f.size(); k++) {
        const std::string v = Upper(f[k]);
        if (const auto number = ImportWholeIn(ImportNumber(v), -7, 7); number && *number != 0) {
          lattice = "PIRFABC"[std::abs(*number) - 1];
          centric = *number > 0;
        } else if (k == 1 && v.size() == 1 && std::string_view("PIRFABC").find(v[0]) != std::string_view::npos) {
          lattice = v[0];
        } else if (v.starts_with("C")) {
          centric = true;
        } else if (v.starts_with("N") || v.starts_with("A")) {
          centric = false;
        } else {
          return RefuseImport(result, line, "LATT \"" + f[k] + "\" names no lattice");
        }
      }
      symmLine = symmLine ? symmLine : line;
    } else if (l.size() >= 4 &&
               std::all_of(l.begin(), l.begin() + 4,
                           [](char ch) { return std::isupper(static_cast<unsigned char>(ch)); }) &&
               (l.size() == 4 || l[4] == ' ') && !ImportNumber(f.size() > 1 ? f[1] : "")) {
      continue; // another keyword
    } else if (f.size() >= 4 && std::any_of(f.begin() + 1, f.begin() + 4, [](const std::string &v) {
                 return ImportNumberShaped(v) || v.find('/') != std::string::npos;
               })) {
      // An atom, its coordinates mistyped or not: a typing slip ("0.l")
      // refuses the file rather than losing the atom.
      atoms.push_back({line, f});
    } else if (f.size() >= 2 && std::all_of(f.begin() + 1, f.end(), [](const std::string &v) {
                 return ImportNumberShaped(v) || v.find('/') != std::string::npos;
               })) {
      // An atom short of its coordinates: a line cut short, not one to skip.
      return RefuseImport(result, line, "the atom \"" + std::string(TrimImport(l)) + "\" needs three coordinates");
    } else {
      ImportWarning(*s, line, "\"" + std::string(TrimImport(l)) + "\" is no keyword or atom; the line is skipped.");
    }
  }
  if (!cellLine)
    return RefuseImport(result, 0, "it gives no CELL");
  if (!SetImportCell(*s, result.error, cellLine, cell))
    return false;
  if (hall && symm.empty()) {
    return RefuseImport(result, groupLine, "a Hall symbol alone is not read; SPGP or SYMM lines give the group");
  } else if (!symbol.empty() && !hall) {
    if (!SetSymmetryFromSymbol(*s, symbol, 0, groupLine))
      return RefuseImport(result, groupLine, "the space group \"" + symbol + "\" is not one this version knows");
  } else if (!SetSymmetryFromOperators(*s, DrawingOperators(symm, lattice, centric), symmLine, result.error)) {
    return false;
  }
  for (const Atom &a : atoms) {
    double xyz[3];
    for (size_t k = 0; k < 3; k++) {
      const auto v = ImportFraction(a.f[k + 1]);
      if (!v)
        return RefuseNumber(result, a.line, "coordinate", a.f[k + 1], "atom " + a.f[0]);
      xyz[k] = *v;
    }
    if (!AppendSite(result, *s, a.f[0], a.f.size() > 4 ? a.f[4] : a.f[0], xyz, a.line))
      return false;
  }
  if (!s->extras.title.empty())
    s->name = s->extras.title;
  return FinishImportedStructure(*s, result.error);
}

// ---- The absorption-spectroscopy program's atoms.inp ------------------------------

namespace {

std::string_view WithoutComment(std::string_view line) {
  const size_t mark = line.find_first_of("!%*#");
  return mark == std::string_view::npos ? line : line.substr(0, mark);
}

// Keyword-value tokens: blanks, "=" and "," separate them.
std::vector<std::string_view> PairTokens(std::string_view line) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::string_view(" \t=,").find(line[i]) != std::string_view::npos)
      i++;
    size_t j = i;
    while (j < line.size() && std::string_view(" \t=,").find(line[j]) == std::string_view::npos)
      j++;
    if (j > i)
      out.push_back(line.substr(i, j - i));
    i = j;
  }
  return out;
}

// The keyword that opens the list of sites, alone on its line.
bool OpensSiteList(const std::vector<std::string_view> &t) {
  return t.size() == 1 && (ImportEqualNoCase(t[0], "atoms") || ImportEqualNoCase(t[0], "atom"));
}

// The rest of the line after a token (title and space take it whole).
std::string_view RestOfLine(std::string_view line, std::string_view token) {
  const size_t from = static_cast<size_t>(token.data() + token.size() - line.data());
  std::string_view rest = TrimImport(line.substr(from));
  while (!rest.empty() && (rest[0] == '=' || rest[0] == ','))
    rest = TrimImport(rest.substr(1));
  return rest;
}

// Keywords whose value is one token: the cell, and those read past.
constexpr std::string_view kCellKeys[] = {"a", "b", "c", "alpha", "beta", "gamma"};
constexpr std::string_view kOneValueKeys[] = {"core",  "edge",   "rmax",    "rpath", "rss",  "rscf",
                                              "output", "argon", "nitrogen", "krypton", "helium", "xenon"};

// Nicknames the program accepts for the groups of common structures.
constexpr std::pair<std::string_view, std::string_view> kGroupNicknames[] = {
    {"cubic", "P m -3 m"},      {"cscl", "P m -3 m"}, {"perov", "P m -3 m"}, {"perovskite", "P m -3 m"},
    {"fcc", "F m -3 m"},        {"salt", "F m -3 m"}, {"nacl", "F m -3 m"},  {"diamond", "F d -3 m"},
    {"zincblende", "F -4 3 m"}, {"zns", "F -4 3 m"},  {"bcc", "I m -3 m"},   {"hex", "P 63/m m c"},
    {"hcp", "P 63/m m c"},      {"graphite", "P 63/m m c"}};

// "C_3I^2", "d_4^8", "c_2h^6": the Schoenflies symbol as the table spells
// it ("C3i(2)"); empty for text that is none.
std::string SchoenfliesOfKeyboard(std::string_view text) {
  const size_t caret = text.find('^');
  if (text.empty() || caret == std::string_view::npos || text.find(' ') != std::string_view::npos)
    return {};
  std::string sub, sup;
  bool inSup = false;
  for (size_t k = 1; k < text.size(); k++) {
    const char ch = text[k];
    if (ch == '^' || ch == '_') {
      inSup = ch == '^';
      continue;
    }
    (inSup ? sup : sub) += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  }
  if (sup.empty() || !std::all_of(sup.begin(), sup.end(), [](char ch) { return std::isdigit(static_cast<unsigned char>(ch)); }))
    return {};
  return std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])))) + sub + "(" + sup + ")";
}

// The group as the table names it: a nickname, a Schoenflies symbol, else
// the Hermann-Mauguin symbol with its lattice letter capital and the rest
// small ("P M M M", "f m 3 m").
std::string GroupSymbol(std::string_view text) {
  text = TrimImport(text);
  for (const auto &[nick, symbol] : kGroupNicknames)
    if (ImportEqualNoCase(text, nick))
      return std::string(symbol);
  if (std::string schoenflies = SchoenfliesOfKeyboard(text); !schoenflies.empty())
    return schoenflies;
  std::string out(text);
  for (size_t k = 0; k < out.size(); k++)
    out[k] = static_cast<char>(k == 0 ? std::toupper(static_cast<unsigned char>(out[k]))
                                      : std::tolower(static_cast<unsigned char>(out[k])));
  return out;
}

// The International Tables number and lattice letter of a symbol; number 0
// when unknown.
struct GroupOfSymbol {
  int number = 0;
  char lattice = 'P';
};
GroupOfSymbol FindGroup(const std::string &symbol) {
  std::string schoenflies, full;
  int16_t number = 0, system = 0, count = 0;
  uint8_t origin = 0;
  std::string converted = symbol;
  if (converted.find('(') == std::string::npos)
    ConvertSpaceGroupSymbol(converted, origin);
  std::string plain = symbol;
  if (GetSpacegroupDetails(converted, schoenflies, full, origin, 0, number, system, count) ||
      GetSpacegroupDetails(plain, schoenflies, full, 0, 0, number, system, count))
    return {number, full.empty() ? 'P' : full[0]};
  return {};
}

// The file gives only the constants its group leaves free: b and c are a
// unless given; a triclinic or monoclinic cell's angles are 90 degrees
// unless given, the other groups fix theirs: 90, and 120 for gamma on
// hexagonal axes. An R group with alpha and no c is on rhombohedral axes:
// a = b = c and alpha = beta = gamma.
void CompleteCell(const std::optional<double> given[6], GroupOfSymbol group, double cell[6]) {
  const double a = *given[0];
  const bool rhombohedral = group.lattice == 'R' && given[3] && !given[2];
  const bool hexagonal = group.number >= 143 && group.number <= 194 && !rhombohedral;
  const bool anglesFree = group.number <= 15;
  cell[0] = a;
  cell[1] = rhombohedral ? a : given[1].value_or(a);
  cell[2] = rhombohedral ? a : given[2].value_or(a);
  for (int k = 3; k < 6; k++)
    cell[k] = anglesFree     ? given[k].value_or(90.0)
              : rhombohedral ? *given[3]
              : hexagonal && k == 5 ? 120.0
                                    : 90.0;
}

} // namespace

bool IsATOMSXAFSFile(const ImportSource &source) {
  const auto lines = ImportLines(std::string_view(source.text).substr(0, 1 << 15));
  bool space = false, a = false;
  for (size_t n = 0; n < lines.size() && n < kDetectLines; n++) {
    const auto t = PairTokens(WithoutComment(lines[n]));
    if (t.empty())
      continue;
    if (ImportEqualNoCase(t[0], "title"))
      continue;
    if (OpensSiteList(t))
      return space && a;
    for (size_t k = 0; k < t.size(); k++) {
      space = space || (ImportEqualNoCase(t[k], "space") && k + 1 < t.size());
      if (ImportEqualNoCase(t[k], "space"))
        break;
      a = a || (k + 1 < t.size() && ImportEqualNoCase(t[k], "a") && ImportBeginsAsNumber(t[k + 1]));
    }
  }
  return false;
}

bool DoATOMSXAFSFile(const ImportSource &source, ImportResult &result) {
  if (RefuseCutInsideNumber(source, result))
    return false;
  ImportedStructure *s = BeginImportedStructure(result, source.name);
  if (!s)
    return false;
  const auto lines = ImportLines(source.text);
  std::optional<double> given[6];
  double shift[3] = {};
  std::string symbol;
  int cellLine = 0, spaceLine = 0;
  size_t n = 0;
  bool listed = false;
  for (; n < lines.size() && !listed; n++) {
    const std::string_view l = WithoutComment(lines[n]);
    const int line = static_cast<int>(n + 1);
    const auto t = PairTokens(l);
    listed = OpensSiteList(t);
    for (size_t k = 0; k < t.size(); k++) {
      if (ImportEqualNoCase(t[k], "title")) {
        if (s->extras.title.empty())
          s->extras.title = std::string(RestOfLine(l, t[k]));
        break;
      }
      if (ImportEqualNoCase(t[k], "space")) {
        symbol = GroupSymbol(RestOfLine(l, t[k]));
        spaceLine = line;
        break;
      }
      const auto *cellKey = std::find_if(std::begin(kCellKeys), std::end(kCellKeys),
                                         [&](std::string_view key) { return ImportEqualNoCase(t[k], key); });
      if (cellKey != std::end(kCellKeys) && k + 1 < t.size()) {
        const auto v = ImportNumber(t[k + 1]);
        if (!v)
          return RefuseNumber(result, line, "value", t[k + 1], *cellKey);
        given[cellKey - std::begin(kCellKeys)] = *v;
        cellLine = cellLine ? cellLine : line;
        k++;
      } else if (ImportEqualNoCase(t[k], "shift") && k + 3 < t.size()) {
        for (int j = 0; j < 3; j++) {
          const std::string_view value = t[k + 1 + static_cast<size_t>(j)];
          const auto v = ImportFraction(value);
          if (!v)
            return RefuseNumber(result, line, "shift", value);
          shift[j] = *v;
        }
        k += 3;
      } else if (std::any_of(std::begin(kOneValueKeys), std::end(kOneValueKeys),
                             [&](std::string_view key) { return ImportEqualNoCase(t[k], key); })) {
        k++;
      }
    }
  }
  if (!given[0])
    return RefuseImport(result, cellLine, "it gives no lattice constant a");
  if (symbol.empty())
    return RefuseImport(result, 0, "it names no space group (space)");
  const GroupOfSymbol group = FindGroup(symbol);
  if (group.number == 0)
    return RefuseImport(result, spaceLine, "the space group \"" + symbol + "\" is not one this version knows");
  double cell[6];
  CompleteCell(given, group, cell);
  if (!SetImportCell(*s, result.error, cellLine, cell))
    return false;
  for (; n < lines.size(); n++) {
    const std::string_view raw = TrimImport(lines[n]);
    // A line of dashes ends the list; what follows it is notes.
    if (raw.size() >= 2 && raw.find_first_not_of('-') == std::string_view::npos)
      break;
    const auto t = PairTokens(WithoutComment(lines[n]));
    const int line = static_cast<int>(n + 1);
    if (t.empty())
      continue;
    if (t.size() < 4)
      return RefuseImport(result, line, "an atom needs an element and three coordinates");
    double xyz[3];
    for (size_t k = 0; k < 3; k++) {
      const auto v = ImportFraction(t[k + 1]);
      if (!v)
        return RefuseNumber(result, line, "coordinate", t[k + 1], "atom " + std::string(t[0]));
      xyz[k] = *v + shift[k];
    }
    if (!AppendSite(result, *s, t.size() > 4 ? t[4] : t[0], t[0], xyz, line))
      return false;
  }
  if (!SetSymmetryFromSymbol(*s, symbol, 0, spaceLine))
    return RefuseImport(result, spaceLine, "the space group \"" + symbol + "\" is not one this version knows");
  if (!s->extras.title.empty())
    s->name = s->extras.title;
  return FinishImportedStructure(*s, result.error);
}

extern const ImportFormat gATOMSImport{"ATOMS", "ATOMS files", "inp", "", IsATOMSFile, DoATOMSFile};
extern const ImportFormat gATOMSXAFSImport{"ATOMS (XAFS)", "ATOMS XAFS files", "inp",
                                           "atoms.inp",    IsATOMSXAFSFile,    DoATOMSXAFSFile};
