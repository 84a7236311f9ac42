// The configuration files of a molecular-dynamics package (CONFIG, and
// REVCON, which it writes at the end of a run): a title; "levcfg imcon
// [atoms]", levcfg saying what each atom carries (0 positions, 1 and
// velocities, 2 and forces) and imcon the boundaries (0 none, 1 cubic,
// 2 orthorhombic, 3 any parallelepiped, 6 a slab periodic in x and y);
// when imcon > 0 the three cell vectors (A), one a line; then per atom a
// line of its name (and index), a line of x y z (A), and the velocity and
// force lines levcfg calls for, which are skipped.
//
// The package puts the origin at the cell's centre, so fractional
// coordinates are M^-1 r + 1/2. With imcon 0 the file is a molecule.
//
// An atom's element comes from its name (ElementOfLabel): the file gives no
// masses.
#include "StoredLimits.h"
#include "import/ElementOfName.h"
#include "import/ImportText.h"
#include "import/ImportTypes.h"
#include "import/SimulationBox.h"
#include "import/StructureFill.h"
#include "import/TextNumbers.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <set>
#include <string>

namespace {

constexpr long kMaxLevcfg = 2;
constexpr long kMaxImcon = 7;
constexpr long kSlabImcon = 6;

// levcfg and imcon of the second line, when it is such a line.
bool ReadKeys(std::string_view line, long &levcfg, long &imcon, std::optional<long> &natoms) {
  const auto t = ImportTokens(line);
  if (t.size() < 2)
    return false;
  const auto l = ImportWholeNumber(t[0]), i = ImportWholeNumber(t[1]);
  if (!l || !i || *l < 0 || *l > kMaxLevcfg || *i < 0 || *i > kMaxImcon)
    return false;
  levcfg = *l, imcon = *i;
  natoms = t.size() >= 3 ? ImportWholeNumber(t[2]) : std::nullopt;
  return true;
}

// The lengths (A) of the bonds of organic chemistry: C, H, N and O to one
// another, C-H to C-O.
constexpr double kOrganicBondShortest = 1.0, kOrganicBondLongest = 1.6;

bool IsOrganicElement(ElementCode e) {
  const std::string symbol = ElementSymbolText(e);
  return symbol == "C" || symbol == "H" || symbol == "N" || symbol == "O";
}

// A name of two or more capitals that reads as a metal, where its first
// letter alone is an element: "CA" (calcium), "HO" (holmium), "NA".
bool CapitalisedMetalName(std::string_view name, ElementCode element) {
  size_t letters = 0;
  while (letters < name.size() && std::isupper(static_cast<unsigned char>(name[letters])))
    letters++;
  if (letters < 2 || (letters < name.size() && std::isalpha(static_cast<unsigned char>(name[letters]))))
    return false;
  static const std::set<std::string, std::less<>> kNonMetals = {"H",  "He", "B",  "C", "N",  "O",  "F",
                                                                 "Ne", "Si", "P",  "S", "Cl", "Ar", "Ge",
                                                                 "As", "Se", "Br", "Kr", "Sb", "Te", "I",
                                                                 "Xe", "At", "Rn"};
  return !kNonMetals.contains(ElementSymbolText(element)) && ElementFromSymbol(name.substr(0, 1)).has_value();
}

// Whether a metal stands within the lengths of an organic bond of an atom
// of C, H, N or O, by the positions as written: the organic atoms sorted
// along x, each metal looking at those within the longest length along x.
bool AnyAtBondLength(const std::vector<std::array<double, 3>> &metals, std::vector<std::array<double, 3>> organic) {
  if (metals.empty() || organic.empty())
    return false;
  const auto byX = [](const std::array<double, 3> &p, const std::array<double, 3> &q) { return p[0] < q[0]; };
  std::sort(organic.begin(), organic.end(), byX);
  for (const auto &m : metals) {
    const std::array<double, 3> low{m[0] - kOrganicBondLongest, 0.0, 0.0};
    auto it = std::lower_bound(organic.begin(), organic.end(), low, byX);
    for (; it != organic.end() && (*it)[0] <= m[0] + kOrganicBondLongest; ++it) {
      ImportReadStep();
      const double dx = (*it)[0] - m[0], dy = (*it)[1] - m[1], dz = (*it)[2] - m[2];
      const double d2 = dx * dx + dy * dy + dz * dz;
      if (d2 >= kOrganicBondShortest * kOrganicBondShortest && d2 <= kOrganicBondLongest * kOrganicBondLongest)
        return true;
    }
  }
  return false;
}

} // namespace

bool IsDLPOLYFile(const ImportSource &source) {
  const auto lines = ImportLines(std::string_view(source.text).substr(0, 4096));
  long levcfg = 0, imcon = 0;
  std::optional<long> natoms;
  if (lines.size() < 4 || !ReadKeys(lines[1], levcfg, imcon, natoms))
    return false;
  double v[3];
  size_t i = 2;
  for (; imcon > 0 && i < 5; i++)
    if (i >= lines.size() || !ImportLeadingNumbers(lines[i], 3, v))
      return false;
  // The first atom's name, which is no number (its position may be damaged:
  // the reader names the line).
  const auto name = i < lines.size() ? ImportTokens(lines[i]) : std::vector<std::string_view>();
  return !name.empty() && !ImportNumber(name[0]);
}

bool DoDLPOLYFile(const ImportSource &source, ImportResult &result) {
  const auto lines = ImportLines(source.text);
  if (RefuseCutInsideNumber(source, result))
    return false;
  long levcfg = 0, imcon = 0;
  std::optional<long> natoms;
  if (lines.size() < 2 || !ReadKeys(lines[1], levcfg, imcon, natoms))
    return RefuseImport(result, 2, "the second line is not \"levcfg imcon\" (levcfg 0 to 2, imcon 0 to 7)");
  if (imcon == 4 || imcon == 5 || imcon == 7)
    return RefuseImport(result, 2,
                        "boundaries of kind " + std::to_string(imcon) +
                            " (truncated octahedron, rhombic dodecahedron or hexagonal prism) are not read");
  if (natoms && (*natoms < 0 || static_cast<size_t>(*natoms) > kMaxImportSites))
    return RefuseImport(result, 2, "the atom count is not a number of atoms this version opens");
  ImportedStructure *s = BeginImportedStructure(result, std::string(TrimImport(lines[0])));
  if (!s)
    return false;
  s->extras.title = s->name;
  if (s->name.empty())
    s->name = source.name;

  SimulationBox box;
  size_t i = 2;
  if (imcon > 0) {
    for (int k = 0; k < 3; k++, i++)
      if (i >= lines.size() || !ImportLeadingNumbers(lines[i], 3, box.vectors[k]))
        return RefuseImport(result, static_cast<int>(std::min(i + 1, lines.size())),
                            "the line is not a cell vector of three numbers");
    for (int k = 0; k < 3; k++)
      box.origin[k] = -0.5 * (box.vectors[0][k] + box.vectors[1][k] + box.vectors[2][k]);
    if (!SetImportBox(*s, box, result.error, static_cast<int>(i)))
      return false;
    if (imcon == kSlabImcon)
      ImportWarning(*s, 2, "the boundaries are a slab, periodic in x and y only: the cell's c is the box's.");
  } else {
    s->crystal.molecule = 1;
  }

  // Atom records: name, position, then levcfg more lines. They are read
  // first and placed after, once the names' elements are settled.
  const size_t recordLines = 2 + static_cast<size_t>(levcfg);
  struct Record {
    std::string_view name;
    double xyz[3];
    int line;
  };
  std::vector<Record> records;
  while (i < lines.size() && !TrimImport(lines[i]).empty()) {
    if (natoms && records.size() == static_cast<size_t>(*natoms)) {
      ImportWarning(*s, static_cast<int>(i + 1), "the atoms after the " + std::to_string(*natoms) +
                                                     " the second line counts were left out.");
      break;
    }
    if (i + recordLines > lines.size())
      return RefuseImport(result, static_cast<int>(lines.size()),
                          "the file ends inside the record of atom " + std::to_string(records.size() + 1));
    const auto name = ImportTokens(lines[i]);
    Record r{name[0], {}, static_cast<int>(i + 1)};
    std::string_view bad;
    if (!ImportLeadingNumbers(lines[i + 1], 3, r.xyz, &bad))
      return bad.empty()
                 ? RefuseImport(result, static_cast<int>(i) + 2,
                                "the line is not the position (three numbers) of atom " + std::string(name[0]))
                 : RefuseNumber(result, static_cast<int>(i) + 2, "coordinate", bad, "atom " + std::string(name[0]));
    for (size_t k = 2; k < recordLines; k++)
      if (double skipped[3]; !ImportLeadingNumbers(lines[i + k], 3, skipped, &bad))
        return bad.empty() ? RefuseImport(result, static_cast<int>(i + k) + 1,
                                          std::string(k == 2 ? "the velocity" : "the force") + " line of atom " +
                                              std::string(name[0]) + " is not three numbers")
                           : RefuseNumber(result, static_cast<int>(i + k) + 1, k == 2 ? "velocity" : "force", bad,
                                          "atom " + std::string(name[0]));
    records.push_back(r);
    i += recordLines;
  }
  const size_t read = records.size();
  if (natoms && read < static_cast<size_t>(*natoms))
    return RefuseImport(result, static_cast<int>(std::min(i + 1, lines.size())),
                        "the file holds " + std::to_string(read) + " of the " + std::to_string(*natoms) +
                            " atoms its second line counts");

  std::set<std::string> water;
  std::map<std::string, std::optional<ElementCode>, std::less<>> elementOfName;
  for (const Record &r : records) {
    if (elementOfName.contains(r.name))
      continue;
    std::string note;
    const std::optional<ElementCode> element = ElementOfLabel(r.name, &note);
    if (!note.empty() && water.insert(std::string(r.name)).second)
      ImportWarning(*s, r.line, note);
    elementOfName.emplace(std::string(r.name), element);
  }
  // Force fields name atoms by types in capitals ("CA", "CO", "HO", "NA"):
  // read as symbols they are metals, so when such a metal stands at the
  // length of a bond of organic chemistry from C, H, N or O, the capitalised
  // names are types and are read by their first letter.
  std::vector<std::string_view> typeNames;
  for (const auto &[name, element] : elementOfName)
    if (element && CapitalisedMetalName(name, *element))
      typeNames.push_back(name);
  if (!typeNames.empty()) {
    std::vector<std::array<double, 3>> metals, organic;
    for (const Record &r : records) {
      const auto element = elementOfName.find(r.name)->second;
      if (std::find(typeNames.begin(), typeNames.end(), r.name) != typeNames.end())
        metals.push_back({r.xyz[0], r.xyz[1], r.xyz[2]});
      else if (element && IsOrganicElement(*element))
        organic.push_back({r.xyz[0], r.xyz[1], r.xyz[2]});
    }
    if (AnyAtBondLength(metals, organic)) {
      WarningNames types;
      for (std::string_view name : typeNames) {
        auto &element = elementOfName.find(name)->second;
        element = ElementFromSymbol(name.substr(0, 1));
        types.Add(std::string(name));
      }
      ImportWarning(*s, 0,
                    "the atom names " + types.Text() + " are force-field types, read by their first letter: as elements "
                    "they would put metals " + FormatFixed(kOrganicBondShortest, 1) + "-" +
                        FormatFixed(kOrganicBondLongest, 1) + " \u00C5 from C, H, N or O.");
    }
  }
  for (const Record &r : records) {
    const std::optional<ElementCode> element = elementOfName.find(r.name)->second;
    if (!(s->crystal.molecule
              ? AppendImportAtom(result, *s, r.name, element.value_or(kPlaceholderElement), r.xyz, r.line) != nullptr
              : AppendBoxAtom(result, *s, box, r.name, element.value_or(kPlaceholderElement), r.xyz, r.line)))
      return false;
  }
  // The file gives no elements: the names decide them, as the Log says.
  WarningNames told, unknown;
  for (const auto &[name, element] : elementOfName)
    element ? told.Add(name + " " + ElementSymbolText(*element)) : unknown.Add(name);
  if (!told.Empty())
    ImportWarning(*s, 0, "the file gives no elements; they were told from the atom names: " + told.Text() + ".");
  if (!unknown.Empty())
    ImportWarning(*s, 0, "these atom names name no element and are drawn as placeholders: " + unknown.Text() + ".");
  return FinishImportedStructure(*s, result.error);
}

extern const ImportFormat gDLPOLYImport{"DL_POLY", "DL_POLY configurations", "", "CONFIG* REVCON*", IsDLPOLYFile, DoDLPOLYFile};
