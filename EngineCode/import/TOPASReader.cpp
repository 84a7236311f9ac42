// Structures of the profile-refinement program's input language (.str,
// .inp): free-form keywords, "'" to the end of a line and "/* */" comments,
// quoted strings. Each `str` is a structure, read from:
//   phase_name N                 its name;
//   a b c al be ga V             the cell (an angle left out is 90), or a
//                                lattice macro: Cubic(a),
//                                Tetragonal(a, c), Hexagonal(a, c),
//                                Trigonal(a, c), Rhombohedral(a, al),
//                                Orthorhombic(a, b, c), Monoclinic(a, b, c,
//                                be), Triclinic(a, b, c, al, be, ga);
//   space_group S                a symbol or a number;
//   site L x V y V z V occ El V [occ El V ...] beq V
//                                a site (up to three elements; "occ El V El
//                                V" is read too).
// A value V is a number, led by a parameter name, "!name" or "@", followed by
// an esd ("`", "`_0.002" or ":0.002") and limits ("min 0 max 1"), all read
// past. A value given as an equation ("= 2 * a;") or a macro call cannot be
// followed: the file is refused at that line. Macro definitions are passed
// over, and so are rigid bodies (`rigid`, `z_matrix`, ...), each with a Log
// line: the sites they move keep the positions their site lines give.
// Everything else (the powder patterns, the refinement keywords) is read
// past.
#include "import/ImportSymmetry.h"
#include "import/ImportText.h"
#include "import/ImportTypes.h"
#include "import/SiteDisplacement.h"
#include "import/StructureFill.h"
#include "import/TextNumbers.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <string>

namespace {

constexpr size_t kDetectBytes = 1 << 16;
// The angle (degrees) of a cell that gives none.
constexpr double kRightAngle = 90.0;

struct Token {
  std::string_view text;
  int line = 0;
};

bool Punctuation(char ch) { return std::string_view("(),{};=").find(ch) != std::string_view::npos; }

std::vector<Token> Tokenise(std::string_view text) {
  std::vector<Token> out;
  int line = 1;
  size_t i = 0;
  while (i < text.size()) {
    const char ch = text[i];
    if (ch == '\n') {
      line++, i++;
    } else if (std::isspace(static_cast<unsigned char>(ch))) {
      i++; // blanks, and the other white space a damaged file may hold
    } else if (ch == '\'') {
      while (i < text.size() && text[i] != '\n')
        i++;
    } else if (text.substr(i, 2) == "/*") {
      const size_t end = text.find("*/", i + 2);
      const size_t stop = end == std::string_view::npos ? text.size() : end + 2;
      line += static_cast<int>(
          std::count(text.begin() + static_cast<long>(i), text.begin() + static_cast<long>(stop), '\n'));
      i = stop;
    } else if (ch == '"') {
      const size_t end = text.find('"', i + 1);
      const size_t stop = end == std::string_view::npos ? text.size() : end + 1;
      out.push_back({text.substr(i, stop - i), line});
      i = stop;
    } else if (Punctuation(ch)) {
      out.push_back({text.substr(i, 1), line});
      i++;
    } else {
      size_t j = i;
      while (j < text.size() && !std::isspace(static_cast<unsigned char>(text[j])) && !Punctuation(text[j]) &&
             text[j] != '\'' && text[j] != '"')
        j++;
      out.push_back({text.substr(i, j - i), line});
      i = j;
    }
  }
  return out;
}

std::string_view Unquoted(std::string_view s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"')
    return s.substr(1, s.size() - 2);
  return s;
}

bool IsName(std::string_view t) {
  if (!t.empty() && t[0] == '!')
    t.remove_prefix(1);
  return !t.empty() && (std::isalpha(static_cast<unsigned char>(t[0])) || t[0] == '_') &&
         std::all_of(t.begin(), t.end(),
                     [](char ch) { return std::isalnum(static_cast<unsigned char>(ch)) || ch == '_'; });
}

// An element as an occupancy names it: "Si", "O-2", "Fe3+".
bool IsElementToken(std::string_view t) {
  size_t letters = 0;
  while (letters < t.size() && std::isalpha(static_cast<unsigned char>(t[letters])))
    letters++;
  return letters >= 1 && letters <= 2 &&
         std::all_of(t.begin() + static_cast<long>(letters), t.end(),
                     [](char ch) { return std::isdigit(static_cast<unsigned char>(ch)) || ch == '+' || ch == '-'; }) &&
         ElementFromSymbol(t).has_value();
}

// "0.1234`_0.0002", "0.1234`", "0.1234:0.0002": the value.
std::optional<double> RefinedNumber(std::string_view t) {
  const size_t mark = t.find_first_of("`:");
  return ImportNumber(mark == std::string_view::npos ? t : t.substr(0, mark));
}

struct Site {
  int line = 0;
  std::string label;
  double xyz[3] = {};
  std::vector<std::pair<std::string, double>> occ;
  std::optional<double> beq;
};

struct Str {
  int line = 0;
  std::string name;
  std::array<std::optional<double>, 6> cell;
  int cellLine = 0;
  std::string group;
  int groupLine = 0;
  std::vector<Site> sites;
};

class Parser {
public:
  Parser(const ImportSource &source, ImportResult &result)
      : source_(source), result_(result), t_(Tokenise(source.text)) {}
  bool Read();

private:
  bool End() const { return i_ >= t_.size(); }
  std::string_view Peek(size_t ahead = 0) const { return i_ + ahead < t_.size() ? t_[i_ + ahead].text : ""; }
  int Line() const { return i_ < t_.size() ? t_[i_].line : (t_.empty() ? 0 : t_.back().line); }
  bool Refuse(int line, std::string what) { return RefuseImport(result_, line, std::move(what)); }
  std::optional<double> Value(std::string_view what);
  bool Lattice(Str &s);
  bool ReadSite(Str &s);
  void SkipBlock(std::string_view what);
  bool Build(Str &s);

  const ImportSource &source_;
  ImportResult &result_;
  std::vector<Token> t_;
  size_t i_ = 0;
  std::vector<std::pair<int, std::string>> passed_; // Log lines: line, text
};

// A refinable value; none (error set) when it is no number or one that
// cannot be followed.
std::optional<double> Parser::Value(std::string_view what) {
  const int line = Line();
  auto cannot = [&](std::string_view how) -> std::optional<double> {
    Refuse(line,
           "the " + std::string(what) + " is given by " + std::string(how) + ", which this version cannot follow");
    return std::nullopt;
  };
  if (Peek() == "@")
    i_++;
  else if (IsName(Peek()) && Peek(1) != "(" && !RefinedNumber(Peek()))
    i_++; // the parameter's name
  if (Peek() == "=")
    return cannot("an equation");
  if (Peek(1) == "(")
    return cannot("a macro");
  const auto v = RefinedNumber(Peek());
  if (!v) {
    Refuse(line, "the " + std::string(what) + " \"" + std::string(Peek()) + "\" is not a number");
    return std::nullopt;
  }
  i_++;
  while (Peek() == "min" || Peek() == "max" || Peek() == "del") {
    i_++;
    if (RefinedNumber(Peek()))
      i_++;
  }
  return v;
}

bool Parser::Lattice(Str &s) {
  static constexpr std::pair<std::string_view, std::string_view> kMacros[] = {
      {"Cubic", "a"},         {"Tetragonal", "ac"},    {"Hexagonal", "ac"},    {"Trigonal", "ac"},
      {"Rhombohedral", "aA"}, {"Orthorhombic", "abc"}, {"Monoclinic", "abcB"}, {"Triclinic", "abcABG"}};
  const std::string_view name = Peek();
  const auto *macro =
      std::find_if(std::begin(kMacros), std::end(kMacros), [&](const auto &m) { return m.first == name; });
  s.cellLine = Line();
  i_ += 2; // the name and "("
  double v[6] = {};
  const std::string_view args = macro->second;
  for (size_t k = 0; k < args.size(); k++) {
    if (k > 0) {
      if (Peek() != ",")
        return Refuse(Line(), std::string(name) + " needs " + std::to_string(args.size()) + " values");
      i_++;
    }
    const auto x = Value(std::string(name) + " value");
    if (!x)
      return false;
    v[k] = *x;
  }
  if (Peek() != ")")
    return Refuse(Line(), std::string(name) + " needs " + std::to_string(args.size()) + " values");
  i_++;
  double a = v[0], b = v[0], c = v[0], al = kRightAngle, be = kRightAngle, ga = kRightAngle;
  if (name == "Tetragonal")
    c = v[1];
  else if (name == "Hexagonal" || name == "Trigonal")
    c = v[1], ga = 120;
  else if (name == "Rhombohedral")
    al = be = ga = v[1];
  else if (name == "Orthorhombic" || name == "Monoclinic" || name == "Triclinic")
    b = v[1], c = v[2];
  if (name == "Monoclinic")
    be = v[3];
  if (name == "Triclinic")
    al = v[3], be = v[4], ga = v[5];
  s.cell = {a, b, c, al, be, ga};
  return true;
}

bool Parser::ReadSite(Str &s) {
  Site site;
  site.line = Line();
  i_++;
  site.label = std::string(Unquoted(Peek()));
  i_++;
  bool haveXYZ[3] = {};
  while (!End()) {
    const std::string_view k = Peek();
    if (k == "x" || k == "y" || k == "z") {
      i_++;
      const auto v = Value(std::string(k) + " of site " + site.label);
      if (!v)
        return false;
      site.xyz[k[0] - 'x'] = *v;
      haveXYZ[k[0] - 'x'] = true;
    } else if (k == "occ") {
      i_++;
      while (true) {
        const std::string element(Peek());
        i_++;
        const auto v = Value("occupancy of site " + site.label);
        if (!v)
          return false;
        site.occ.emplace_back(element, *v);
        if (Peek() == "occ")
          i_++;
        else if (!IsElementToken(Peek()) || !RefinedNumber(Peek(1)))
          break;
      }
    } else if (k == "beq") {
      i_++;
      const auto v = Value("beq of site " + site.label);
      if (!v)
        return false;
      site.beq = v;
    } else if (k == "num_posns" || k == "rand_xyz") {
      i_++;
      if (!Value(std::string(k) + " of site " + site.label))
        return false;
    } else {
      break; // the site's end
    }
  }
  if (!haveXYZ[0] || !haveXYZ[1] || !haveXYZ[2])
    return Refuse(site.line, "site " + site.label + " needs x, y and z");
  if (site.occ.empty())
    return Refuse(site.line, "site " + site.label + " names no element (occ)");
  s.sites.push_back(std::move(site));
  return true;
}

// A braced block after its keyword, or the keyword's own words up to the
// next site or structure: passed over with a Log line.
void Parser::SkipBlock(std::string_view what) {
  const int line = Line();
  i_++;
  while (!End() && Peek() != "{" && Peek() != "site" && Peek() != "str" && Peek() != "rigid")
    i_++;
  if (Peek() == "{") {
    int depth = 0;
    do {
      depth += Peek() == "{" ? 1 : Peek() == "}" ? -1 : 0;
      i_++;
    } while (!End() && depth > 0);
  }
  passed_.emplace_back(line, std::string(what));
}

bool Parser::Build(Str &s) {
  ImportedStructure *is = BeginImportedStructure(result_, s.name.empty() ? source_.name : s.name, s.line);
  if (!is)
    return false;
  is->extras.title = s.name;
  for (const auto &[line, what] : passed_)
    ImportWarning(*is, line, what);
  for (size_t k = 0; k < 3; k++)
    if (!s.cell[k])
      return Refuse(s.line, std::string("the structure gives no cell ") + std::array<const char *, 3>{"a", "b", "c"}[k]);
  // An angle left out is a right angle, as the program's own default.
  for (size_t k = 3; k < 6; k++)
    if (!s.cell[k])
      s.cell[k] = kRightAngle;
  const double cell[6] = {*s.cell[0], *s.cell[1], *s.cell[2], *s.cell[3], *s.cell[4], *s.cell[5]};
  if (!SetImportCell(*is, result_.error, s.cellLine, cell))
    return false;
  if (s.group.empty()) {
    ImportWarning(*is, s.line, "the structure names no space group; P 1 is taken.");
    s.group = "P 1";
  }
  if (!SetSymmetryFromSymbol(*is, s.group, 0, s.groupLine))
    return Refuse(s.groupLine, "the space group \"" + s.group + "\" is not one this version knows");
  for (const Site &site : s.sites) {
    AsymmetricUnitRecord *first = nullptr;
    for (size_t k = 0; k < site.occ.size(); k++) {
      const auto &[symbol, occ] = site.occ[k];
      auto element = ElementFromSymbol(symbol);
      if (!element) {
        element = kPlaceholderElement;
        ImportWarning(*is, site.line,
                      "site " + site.label + " names no element (\"" + symbol + "\"); it is drawn as a placeholder.");
      }
      if (k == 0) {
        first = AppendImportSite(result_, *is, site.label, *element, site.xyz, site.line);
        if (!first)
          return false;
        first->occupancies[0] = ImportFloat(occ);
      } else if (k < kMaxSiteElements) {
        first->elements[k] = *element;
        first->occupancies[k] = ImportFloat(occ);
      } else {
        ImportWarning(*is, site.line,
                      "site " + site.label + " holds more than " + std::to_string(kMaxSiteElements) + " elements; " +
                          symbol + " is left out.");
      }
    }
    if (site.beq)
      SetSiteBiso(is->crystal, *first, *site.beq);
  }
  return FinishImportedStructure(*is, result_.error);
}

bool Parser::Read() {
  std::vector<Str> strs;
  static constexpr std::string_view kCell[] = {"a", "b", "c", "al", "be", "ga"};
  static constexpr std::string_view kLattices[] = {"Cubic",        "Tetragonal",   "Hexagonal",  "Trigonal",
                                                   "Rhombohedral", "Orthorhombic", "Monoclinic", "Triclinic"};
  while (!End()) {
    const std::string_view k = Peek();
    if (k == "str") {
      strs.push_back({Line(), "", {}, 0, "", 0, {}});
      i_++;
      continue;
    }
    if (k == "macro") {
      SkipBlock("a macro definition is passed over.");
      continue;
    }
    if (k == "rigid" || k == "z_matrix") {
      SkipBlock("a rigid body (" + std::string(k) +
                ") is passed over; its sites keep the positions their site "
                "lines give.");
      continue;
    }
    if (strs.empty()) {
      i_++;
      continue;
    }
    Str &s = strs.back();
    const auto cell = std::find(std::begin(kCell), std::end(kCell), k);
    if (cell != std::end(kCell) && Peek(1) != "(") {
      if (!s.cellLine)
        s.cellLine = Line();
      i_++;
      const auto v = Value("cell value " + std::string(k));
      if (!v)
        return false;
      s.cell[static_cast<size_t>(cell - std::begin(kCell))] = *v;
    } else if (std::find(std::begin(kLattices), std::end(kLattices), k) != std::end(kLattices) && Peek(1) == "(") {
      if (!Lattice(s))
        return false;
    } else if (k == "phase_name") {
      i_++;
      s.name = std::string(Unquoted(Peek()));
      i_++;
    } else if (k == "space_group") {
      i_++;
      s.groupLine = Line();
      s.group = std::string(Unquoted(Peek()));
      i_++;
    } else if (k == "site") {
      if (!ReadSite(s))
        return false;
    } else {
      i_++;
    }
  }
  if (strs.empty())
    return Refuse(0, "it holds no structure (str)");
  for (Str &s : strs)
    if (!Build(s))
      return false;
  return true;
}

} // namespace

bool IsTOPASFile(const ImportSource &source) {
  // A structure needs `str` and its sites; the group or a lattice macro
  // makes it this language.
  const auto tokens = Tokenise(std::string_view(source.text).substr(0, kDetectBytes));
  bool str = false, site = false, group = false;
  for (const Token &t : tokens) {
    str = str || t.text == "str";
    site = site || t.text == "site";
    group = group || t.text == "space_group" || t.text == "phase_name";
  }
  return str && site && group;
}

bool DoTOPASFile(const ImportSource &source, ImportResult &result) {
  return !RefuseCutInsideNumber(source, result) && Parser(source, result).Read();
}

extern const ImportFormat gTOPASImport{"TOPAS", "TOPAS files", "str inp", "", IsTOPASFile, DoTOPASFile};
