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
// space, a, b (= a), c (= a), alpha, beta, gamma (90), shift (added to
// every position); after the line `atoms`, one line a site: element, x, y,
// z and a tag (its label).
#include "import/ElementOfName.h"
#include "import/FractionNumbers.h"
#include "import/ImportSymmetry.h"
#include "import/ImportText.h"
#include "import/ImportTypes.h"
#include "import/StructureFill.h"
#include "import/TextNumbers.h"

#include "SymmetryCards.h"

#include <algorithm>
#include <cctype>
#include <optional>

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

constexpr std::string_view kDrawingKeywords[] = {"TITL", "CELL", "SPGP", "HALL", "SYMM", "LATT"};
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
        const auto v = k + 1 < f.size() ? ImportNumber(f[k + 1]) : std::nullopt;
        if (!v)
          return RefuseImport(result, line, "CELL needs six numbers");
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
    } else if (f.size() >= 4 && ImportNumber(f[1]).has_value()) {
      atoms.push_back({line, f});
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
        return RefuseImport(result, a.line,
                            "the coordinate \"" + a.f[k + 1] + "\" of atom " + a.f[0] + " is not a number");
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

// "P M M M", "f m 3 m": the lattice letter capital, the rest small.
std::string SymbolCase(std::string_view symbol) {
  std::string out(TrimImport(symbol));
  for (size_t k = 0; k < out.size(); k++)
    out[k] = static_cast<char>(k == 0 ? std::toupper(static_cast<unsigned char>(out[k]))
                                      : std::tolower(static_cast<unsigned char>(out[k])));
  return out;
}

} // namespace

bool IsATOMSXAFSFile(const ImportSource &source) {
  const auto lines = ImportLines(std::string_view(source.text).substr(0, 1 << 15));
  bool space = false, a = false;
  for (size_t n = 0; n < lines.size() && n < kDetectLines; n++) {
    const auto t = PairTokens(WithoutComment(lines[n]));
    if (t.empty())
      continue;
    if (ImportEqualNoCase(t[0], "atoms") && t.size() == 1)
      return space && a;
    space = space || ImportEqualNoCase(t[0], "space");
    for (size_t k = 0; k + 1 < t.size(); k++)
      a = a || (ImportEqualNoCase(t[k], "a") && ImportNumber(t[k + 1]));
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
  std::optional<double> cell[6];
  double shift[3] = {};
  std::string symbol;
  int cellLine = 0, spaceLine = 0;
  size_t n = 0;
  static constexpr std::string_view kCell[] = {"a", "b", "c", "alpha", "beta", "gamma"};
  for (; n < lines.size(); n++) {
    const std::string_view l = WithoutComment(lines[n]);
    const int line = static_cast<int>(n + 1);
    const auto t = PairTokens(l);
    if (!t.empty() && ImportEqualNoCase(t[0], "atoms") && t.size() == 1)
      break;
    for (size_t k = 0; k < t.size(); k++) {
      if (ImportEqualNoCase(t[k], "title") || ImportEqualNoCase(t[k], "space")) {
        const size_t from = static_cast<size_t>(t[k].data() + t[k].size() - l.data());
        std::string_view rest = TrimImport(l.substr(from));
        while (!rest.empty() && (rest[0] == '=' || rest[0] == ','))
          rest = TrimImport(rest.substr(1));
        if (ImportEqualNoCase(t[k], "title")) {
          s->extras.title = s->extras.title.empty() ? std::string(rest) : s->extras.title;
        } else {
          symbol = SymbolCase(rest);
          spaceLine = line;
        }
        break; // they take the rest of the line
      }
      const auto *which = std::find_if(std::begin(kCell), std::end(kCell),
                                       [&](std::string_view key) { return ImportEqualNoCase(t[k], key); });
      if (which != std::end(kCell) && k + 1 < t.size()) {
        const auto v = ImportNumber(t[k + 1]);
        if (!v)
          return RefuseImport(result, line,
                              "the value \"" + std::string(t[k + 1]) + "\" of " + std::string(*which) +
                                  " is not a number");
        cell[which - std::begin(kCell)] = *v;
        cellLine = cellLine ? cellLine : line;
        k++;
      } else if (ImportEqualNoCase(t[k], "shift") && k + 3 < t.size()) {
        for (int j = 0; j < 3; j++) {
          const auto v = ImportFraction(t[k + 1 + static_cast<size_t>(j)]);
          if (!v)
            return RefuseImport(result, line, "shift needs three numbers");
          shift[j] = *v;
        }
        k += 3;
      }
    }
  }
  if (!cell[0])
    return RefuseImport(result, cellLine, "it gives no lattice constant a");
  const double values[6] = {*cell[0],
                            cell[1].value_or(*cell[0]),
                            cell[2].value_or(*cell[0]),
                            cell[3].value_or(90.0),
                            cell[4].value_or(90.0),
                            cell[5].value_or(90.0)};
  if (!SetImportCell(*s, result.error, cellLine, values))
    return false;
  if (symbol.empty())
    return RefuseImport(result, 0, "it names no space group (space)");
  if (!SetSymmetryFromSymbol(*s, symbol, 0, spaceLine))
    return RefuseImport(result, spaceLine, "the space group \"" + symbol + "\" is not one this version knows");
  for (n++; n < lines.size(); n++) {
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
        return RefuseImport(result, line,
                            "the coordinate \"" + std::string(t[k + 1]) + "\" of atom " + std::string(t[0]) +
                                " is not a number");
      xyz[k] = *v + shift[k];
    }
    if (!AppendSite(result, *s, t.size() > 4 ? t[4] : t[0], t[0], xyz, line))
      return false;
  }
  if (!s->extras.title.empty())
    s->name = s->extras.title;
  return FinishImportedStructure(*s, result.error);
}

extern const ImportFormat gATOMSImport{"ATOMS", "ATOMS files", "inp", "", IsATOMSFile, DoATOMSFile};
extern const ImportFormat gATOMSXAFSImport{"ATOMS (XAFS)", "ATOMS XAFS files", "inp",
                                           "atoms.inp",    IsATOMSXAFSFile,    DoATOMSXAFSFile};
