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

  // Atom records: name, position, then levcfg more lines.
  const size_t recordLines = 2 + static_cast<size_t>(levcfg);
  std::set<std::string> water;
  std::map<std::string, std::optional<ElementCode>> elementOfName;
  size_t read = 0;
  while (i < lines.size() && !TrimImport(lines[i]).empty()) {
    if (natoms && read == static_cast<size_t>(*natoms)) {
      ImportWarning(*s, static_cast<int>(i + 1), "the atoms after the " + std::to_string(*natoms) +
                                                     " the second line counts were left out.");
      break;
    }
    if (i + recordLines > lines.size())
      return RefuseImport(result, static_cast<int>(lines.size()),
                          "the file ends inside the record of atom " + std::to_string(read + 1));
    const auto name = ImportTokens(lines[i]);
    double xyz[3];
    std::string_view bad;
    if (!ImportLeadingNumbers(lines[i + 1], 3, xyz, &bad))
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
    std::string note;
    const std::optional<ElementCode> element = ElementOfLabel(name[0], &note);
    if (!note.empty() && water.insert(std::string(name[0])).second)
      ImportWarning(*s, static_cast<int>(i + 1), note);
    elementOfName.emplace(std::string(name[0]), element);
    const int line = static_cast<int>(i + 1);
    if (!(s->crystal.molecule
              ? AppendImportAtom(result, *s, name[0], element.value_or(kPlaceholderElement), xyz, line) != nullptr
              : AppendBoxAtom(result, *s, box, name[0], element.value_or(kPlaceholderElement), xyz, line)))
      return false;
    i += recordLines;
    read++;
  }
  if (natoms && read < static_cast<size_t>(*natoms))
    return RefuseImport(result, static_cast<int>(std::min(i + 1, lines.size())),
                        "the file holds " + std::to_string(read) + " of the " + std::to_string(*natoms) +
                            " atoms its second line counts");
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
