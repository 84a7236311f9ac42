// The data files of a molecular-dynamics package: a comment line, a header
// of counts ("N atoms", "N bonds", "N atom types") and the box ("xlo xhi",
// "ylo yhi", "zlo zhi", the tilt factors "xy xz yz"), then sections, each a
// keyword line followed by its numbered lines: "Masses", "Atoms" (in the
// atom style its comment names, "Atoms # full", else the style told from
// the number of columns), "Bonds"; the rest is skipped. Anything after '#'
// is a comment. The box opens as a crystal in P 1.
//
// The file carries no element and no units: each atom type becomes the
// element its mass names (ElementOfStandardMass). Reduced (lj) units are
// told by every mass being exactly 1 (then the types are placeholders), a
// warning. Where no atom has an element and the file lists bonds, a bond
// specification of placeholders would bond every close pair: the atoms are
// read as a molecule of the listed bonds alone, without the box; a box denser than any matter in A is refused
// where every reader's cell is (StructureFill.h), placeholders not counted.
#include "StoredLimits.h"
#include "import/ElementOfMass.h"
#include "import/ImportTypes.h"
#include "import/ImportText.h"
#include "import/SimulationBox.h"
#include "import/StructureFill.h"

#include <algorithm>
#include <vector>
#include <cmath>
#include <map>
#include <string>
#include <unordered_map>

namespace {

// Where an atom style keeps the type and x (0-based columns, the atom ID
// being column 0) and how many columns it has before any image flags.
struct AtomStyle {
  std::string_view name;
  size_t type, x, columns;
};
constexpr AtomStyle kAtomStyles[] = {
    {"atomic", 1, 2, 5},    {"charge", 1, 3, 6},   {"bond", 2, 3, 6},      {"angle", 2, 3, 6},
    {"molecular", 2, 3, 6}, {"full", 2, 4, 7},     {"sphere", 1, 4, 7},    {"ellipsoid", 1, 4, 7},
    {"peri", 1, 4, 7},      {"body", 1, 4, 7},     {"dipole", 1, 3, 9},    {"dpd", 1, 3, 6},
    {"line", 2, 5, 8},      {"tri", 2, 5, 8},      {"template", 1, 5, 8},  {"electron", 1, 5, 8},
    {"spin", 1, 2, 9},      {"hybrid", 1, 2, 5},
};

const AtomStyle *StyleNamed(std::string_view name) {
  for (const AtomStyle &style : kAtomStyles)
    if (style.name == name)
      return &style;
  return nullptr;
}

std::string_view WithoutComment(std::string_view line) {
  const size_t hash = line.find('#');
  return TrimImport(hash == std::string_view::npos ? line : line.substr(0, hash));
}

bool StartsWithNumber(std::string_view line) {
  const auto tokens = ImportTokens(line);
  return !tokens.empty() && ImportNumber(tokens[0]).has_value();
}

struct Section {
  size_t keyword = 0;         // the index of its keyword line
  std::string_view comment;   // after '#' on the keyword line
  std::vector<size_t> lines;  // its data lines
};

struct DataReader {
  ImportResult &result;
  ImportTextLines lines;
};

// The style the columns of the Atoms lines show: 5 atomic, 7 full, 6
// molecular or charge, each with or without three image flags. A style
// whose type column holds a number beyond the types the header declares
// (a molecule ID taken for a type) is not the file's; none when no style
// fits. A header that declares no types lets the first style fit.
const AtomStyle *InferStyle(const DataReader &r, const Section &atoms, long types) {
  const size_t columns = ImportTokens(WithoutComment(r.lines[atoms.lines.front()])).size();
  std::vector<const AtomStyle *> candidates;
  if (columns == 5 || columns == 8)
    candidates = {StyleNamed("atomic")};
  else if (columns == 7 || columns == 10)
    candidates = {StyleNamed("full")};
  else if (columns == 6 || columns == 9)
    candidates = {StyleNamed("molecular"), StyleNamed("charge")};
  for (const AtomStyle *style : candidates) {
    const bool fits = std::all_of(atoms.lines.begin(), atoms.lines.end(), [&](size_t i) {
      const auto tokens = ImportTokens(WithoutComment(r.lines[i]));
      const auto t = tokens.size() > style->type ? ImportWholeNumber(tokens[style->type]) : std::nullopt;
      return t && *t >= 1 && (*t <= types || types == 0);
    });
    if (fits)
      return style;
  }
  return nullptr;
}

} // namespace

bool IsLAMMPSFile(const ImportSource &source) {
  // Some header line "N atoms" and the box's "xlo xhi" among the first lines
  // after the comment.
  const auto lines = ImportLines(std::string_view(source.text).substr(0, 16384));
  bool atoms = false, box = false;
  for (size_t i = 1; i < lines.size() && i < 200; i++) {
    const auto tokens = ImportTokens(WithoutComment(lines[i]));
    if (tokens.size() == 2 && tokens[1] == "atoms" && ImportWholeNumber(tokens[0]))
      atoms = true;
    if (tokens.size() == 4 && tokens[2] == "xlo" && tokens[3] == "xhi")
      box = true;
  }
  return atoms && box;
}

bool DoLAMMPSFile(const ImportSource &source, ImportResult &result) {
  DataReader r{result, ImportLines(source.text)};
  if (RefuseCutInsideNumber(source, result))
    return false;
  // ---- The header.
  long natoms = -1, nbonds = 0, ntypes = 0;
  double lo[3] = {}, hi[3] = {}, tilt[3] = {0.0, 0.0, 0.0};
  bool boxSides[3] = {false, false, false};
  size_t boxLine = 0; // the last box line's index
  size_t sideLine[3] = {};
  size_t atomsLine = 0; // the index of the "N atoms" line
  size_t i = 1;
  for (; i < r.lines.size(); i++) {
    const std::string_view line = WithoutComment(r.lines[i]);
    if (line.empty())
      continue;
    if (!StartsWithNumber(line))
      break; // the first section
    const auto t = ImportTokens(line);
    auto keyword = [&](size_t values, std::string_view words) {
      std::string rest;
      for (size_t k = values; k < t.size(); k++)
        rest += (rest.empty() ? "" : " ") + std::string(t[k]);
      return rest == words;
    };
    auto count = [&](long &into) {
      const auto n = ImportWholeNumber(t[0]);
      if (!n || *n < 0)
        return RefuseImport(r.result, static_cast<int>(i) + 1,
                            "the count \"" + std::string(t[0]) + "\" is not a whole number");
      into = *n;
      return true;
    };
    auto numbers = [&](size_t n, double *into) {
      for (size_t k = 0; k < n; k++) {
        const auto v = ImportNumber(t[k]);
        if (!v)
          return RefuseImport(r.result, static_cast<int>(i) + 1,
                              "the box value \"" + std::string(t[k]) + "\" is not a number");
        into[k] = *v;
      }
      return true;
    };
    bool ok = true;
    if (keyword(1, "atoms")) {
      ok = count(natoms);
      atomsLine = i;
    }
    else if (keyword(1, "bonds"))
      ok = count(nbonds);
    else if (keyword(1, "atom types"))
      ok = count(ntypes);
    else if (t.size() == 4 && (keyword(2, "xlo xhi") || keyword(2, "ylo yhi") || keyword(2, "zlo zhi"))) {
      const size_t axis = static_cast<size_t>(t[2][0] - 'x');
      double v[2] = {0.0, 0.0};
      ok = numbers(2, v);
      if (ok && v[1] < v[0])
        return RefuseImport(r.result, static_cast<int>(i) + 1,
                            "the box's " + std::string(t[3]) + " is below its " + std::string(t[2]));
      lo[axis] = v[0], hi[axis] = v[1];
      boxSides[axis] = true;
      boxLine = sideLine[axis] = i;
    } else if (keyword(3, "xy xz yz")) {
      ok = numbers(3, tilt);
      boxLine = i;
    }
    if (!ok)
      return false;
  }
  if (natoms < 0)
    return RefuseImport(r.result, 0, "the header gives no atom count (\"N atoms\")");
  if (static_cast<size_t>(natoms) > kMaxImportSites)
    return RefuseImport(r.result, static_cast<int>(atomsLine) + 1,
                        "the file holds more than " + std::to_string(kMaxImportSites) +
                            " atoms, the most this version opens");

  // ---- The sections: each keyword line and the numbered lines after it.
  std::map<std::string, Section> sections;
  Section *current = nullptr;
  for (; i < r.lines.size(); i++) {
    const std::string_view line = WithoutComment(r.lines[i]);
    if (line.empty())
      continue;
    if (StartsWithNumber(line)) {
      if (current)
        current->lines.push_back(i);
      continue;
    }
    const size_t hash = r.lines[i].find('#');
    current = &sections[std::string(line)];
    current->keyword = i;
    current->lines.clear();
    current->comment = hash == std::string_view::npos ? std::string_view() : TrimImport(r.lines[i].substr(hash + 1));
  }
  auto checkCount = [&](const char *name, long expected) {
    const Section &s = sections[name];
    if (static_cast<long>(s.lines.size()) == expected)
      return true;
    return RefuseImport(r.result, static_cast<int>(s.keyword) + 1,
                        std::string("the ") + name + " section holds " + std::to_string(s.lines.size()) +
                            " lines where the header counts " + std::to_string(expected));
  };
  if (!sections.count("Atoms"))
    return RefuseImport(r.result, 0, "the file has no Atoms section");
  if (!checkCount("Atoms", natoms))
    return false;
  if (natoms == 0)
    return RefuseImport(r.result, static_cast<int>(sections["Atoms"].keyword) + 1, "the file holds no atoms");
  if (sections.count("Bonds") && !checkCount("Bonds", nbonds))
    return false;

  ImportedStructure *s = BeginImportedStructure(result, std::string(TrimImport(r.lines[0])));
  if (!s)
    return false;
  s->extras.title = s->name;
  if (s->name.empty())
    s->name = source.name;
  // ---- Masses: the elements of the atom types.
  std::map<long, double> masses;
  std::map<long, std::pair<std::string_view, int>> writtenMasses; // as written, on its line
  if (auto it = sections.find("Masses"); it != sections.end())
    for (size_t k : it->second.lines) {
      const auto t = ImportTokens(WithoutComment(r.lines[k]));
      const auto type = ImportWholeNumber(t[0]);
      const auto mass = t.size() >= 2 ? ImportNumber(t[1]) : std::nullopt;
      if (!type || !mass || *mass <= 0.0)
        return RefuseImport(r.result, static_cast<int>(k) + 1, "the line is not an atom type and its mass");
      masses[*type] = *mass;
      writtenMasses[*type] = {t[1], static_cast<int>(k) + 1};
    }
  const bool allOne =
      !masses.empty() && std::all_of(masses.begin(), masses.end(), [](const auto &m) { return m.second == 1.0; });
  if (allOne)
    ImportWarning(*s, 0,
                  "the file looks like one in reduced (lj) units (every mass is 1): lengths are read as A and the "
                  "atom types are placeholders.");
  std::map<long, ElementCode> elements;
  std::string mapping, unmatched;
  for (const auto &[type, mass] : masses) {
    const auto [written, line] = writtenMasses[type];
    const auto element = allOne ? std::nullopt : ElementOfStandardMass(*s, line, written);
    elements[type] = element.value_or(kPlaceholderElement);
    std::string &list = element ? mapping : unmatched;
    list += (list.empty() ? "" : ", ") + std::to_string(type) + " (" + MyTrimSprintf("%.4f", mass) + ")" +
            (element ? " " + ElementSymbolText(*element) : std::string());
  }
  if (!mapping.empty())
    ImportWarning(*s, 0, "atom types by their masses: " + mapping + ".");
  if (!unmatched.empty() && !allOne)
    ImportWarning(*s, 0, "atom types whose mass is no element's are placeholders: " + unmatched + ".");

  // The package would take -0.5 to 0.5 for a side the header leaves out;
  // no file that holds atoms does, and a header that seems to is damaged.
  for (int axis = 0; axis < 3; axis++)
    if (!boxSides[axis])
      return RefuseImport(r.result, 0,
                          std::string("the header gives no \"") + "xyz"[axis] + "lo " + "xyz"[axis] + "hi\" line");
  SimulationBox box;
  const double rows[3][3] = {{hi[0] - lo[0], 0.0, 0.0}, {tilt[0], hi[1] - lo[1], 0.0}, {tilt[1], tilt[2], hi[2] - lo[2]}};
  std::copy(&rows[0][0], &rows[0][0] + 9, &box.vectors[0][0]);
  std::copy(lo, lo + 3, box.origin);
  const auto bonds = sections.find("Bonds");
  const bool noElements = std::all_of(elements.begin(), elements.end(),
                                     [](const auto &e) { return e.second == kPlaceholderElement; });
  // A two-dimensional run: its atoms lie in a plane of a box only some
  // tenths thick along z, which no crystal is.
  const double thickness = hi[2] - lo[2];
  if (thickness > 0.0 && thickness < kMinImportCellHeight && tilt[1] == 0.0 && tilt[2] == 0.0) {
    s->crystal.molecule = 1;
    ImportWarning(*s, static_cast<int>(sideLine[2] + 1),
                  "the box is " + MyTrimSprintf("%g", thickness) +
                      " thick along z: a two-dimensional box; its atoms are read as a molecule.");
  } else if (noElements && bonds != sections.end() && !bonds->second.lines.empty()) {
    s->crystal.molecule = 1;
    ImportWarning(*s, static_cast<int>(bonds->second.keyword + 1),
                  "the atoms have no elements to tell the bonded pairs from the others: only the " +
                      std::to_string(bonds->second.lines.size()) +
                      " bonds the file lists are drawn, its atoms read as a molecule without the box.");
  } else if (!SetImportBox(*s, box, result.error, static_cast<int>(boxLine + 1))) {
    return false;
  }

  // ---- Atoms.
  Section &atoms = sections["Atoms"];
  std::string styleName(ImportTokens(atoms.comment).empty() ? std::string_view() : ImportTokens(atoms.comment)[0]);
  const AtomStyle *style = StyleNamed(styleName);
  if (!style) {
    style = InferStyle(r, atoms, ntypes);
    if (!style)
      return RefuseImport(r.result, static_cast<int>(atoms.lines.front()) + 1,
                          "the atom style cannot be told from the line's columns");
    ImportWarning(*s, static_cast<int>(atoms.keyword + 1),
                  (styleName.empty() ? std::string("no atom style is named") : "the atom style \"" + styleName + "\" is not known") +
                      "; the columns are read as style " + std::string(style->name) + ".");
  }
  std::unordered_map<long, uint32_t> indexOfId;
  indexOfId.reserve(static_cast<size_t>(natoms));
  std::map<long, size_t> typesWithoutMass;
  ReserveImportSites(*s, atoms.lines.size());
  std::vector<std::string_view> t;
  for (size_t k : atoms.lines) {
    ImportTokens(WithoutComment(r.lines[k]), t);
    // The style's columns, perhaps three image flags after them (hybrid
    // styles carry more of their own).
    if (t.size() < style->columns || (style->name != "hybrid" && t.size() != style->columns && t.size() != style->columns + 3))
      return RefuseImport(r.result, static_cast<int>(k) + 1,
                          "the atom line holds " + std::to_string(t.size()) + " values where style " +
                              std::string(style->name) + " has " + std::to_string(style->columns));
    const auto id = ImportWholeNumber(t[0]);
    const auto type = ImportWholeNumber(t[style->type]);
    if (!id || !type)
      return RefuseImport(r.result, static_cast<int>(k) + 1, "the atom ID or type is not a whole number");
    double xyz[3];
    for (size_t c = 0; c < 3; c++) {
      const auto v = ImportNumber(t[style->x + c]);
      if (!v)
        return RefuseImport(r.result, static_cast<int>(k) + 1,
                            "the coordinate \"" + std::string(t[style->x + c]) + "\" is not a number");
      xyz[c] = *v;
    }
    const size_t before = s->crystal.sites.size();
    if (!indexOfId.emplace(*id, static_cast<uint32_t>(before)).second)
      return RefuseImport(r.result, static_cast<int>(k) + 1, "the atom ID " + std::to_string(*id) + " is given twice");
    ElementCode element = kPlaceholderElement;
    if (auto it = elements.find(*type); it != elements.end())
      element = it->second;
    else
      typesWithoutMass[*type]++;
    const std::string label = ElementSymbolText(element) + std::to_string(*id);
    const int line = static_cast<int>(k + 1);
    if (!(s->crystal.molecule ? AppendImportAtom(result, *s, label, element, xyz, line) != nullptr
                              : AppendBoxAtom(result, *s, box, label, element, xyz, line)))
      return false;
    if (s->crystal.sites.size() == before)
      indexOfId[*id] = UINT32_MAX; // left out: its bonds go with it
  }
  if (!typesWithoutMass.empty()) {
    std::string list;
    for (const auto &[type, n] : typesWithoutMass)
      list += (list.empty() ? "" : ", ") + std::to_string(type);
    ImportWarning(*s, 0, "atom type(s) " + list + " have no mass: their atoms are placeholders.");
  }

  // ---- Bonds, between atom IDs.
  if (bonds != sections.end())
    for (size_t k : bonds->second.lines) {
      ImportTokens(WithoutComment(r.lines[k]), t);
      const auto a = t.size() >= 4 ? ImportWholeNumber(t[2]) : std::nullopt;
      const auto b = t.size() >= 4 ? ImportWholeNumber(t[3]) : std::nullopt;
      const auto ia = a ? indexOfId.find(*a) : indexOfId.end(), ib = b ? indexOfId.find(*b) : indexOfId.end();
      if (ia == indexOfId.end() || ib == indexOfId.end())
        return RefuseImport(r.result, static_cast<int>(k) + 1, "the bond joins no two atoms of the Atoms section");
      if (ia->second == UINT32_MAX || ib->second == UINT32_MAX)
        continue;
      s->bonds.push_back({ia->second, ib->second, static_cast<int>(k) + 1});
    }
  return FinishImportedStructure(*s, result.error);
}

extern const ImportFormat gLAMMPSImport{"LAMMPS", "LAMMPS data files", "lmp data lammps", "data data.*", IsLAMMPSFile, DoLAMMPSFile};
