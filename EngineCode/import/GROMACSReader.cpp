// The coordinate files of a molecular-dynamics package (".gro"): a title,
// the atom count, one fixed-column line per atom (residue number and name,
// atom name and number, x y z in nm, velocities that are skipped), then the
// box: three numbers for a rectangular box, nine for a triclinic one
// (v1x v2y v3z v1y v1z v2x v2z v3x v3y). Frames follow one another; each is
// a structure of its own. A box opens as a crystal in P 1; a box of zeros
// (a molecule in vacuum) as a molecule.
#include "StoredLimits.h"
#include "import/ImportTypes.h"
#include "import/ImportText.h"
#include "import/SimulationBox.h"
#include "import/StructureFill.h"

#include <cctype>
#include <cmath>
#include <map>
#include <string>

namespace {

constexpr double kNanometre = 10.0; // A
// Coordinates start at this column (0-based); their width follows from the
// distance between the first two decimal points.
constexpr size_t kFirstCoordinateColumn = 20;
constexpr size_t kMinCoordinateWidth = 4, kMaxCoordinateWidth = 30;

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char &c : out)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// The file has no element column: the element is told from the atom name,
// with the residue name where it decides. Force fields name an atom by its
// element's first letter followed by a position or a role ("CA" is a
// protein's alpha carbon, "OW", "HW1" water's), so one letter is taken,
// except for ions whose residue bears their name ("CA" in residue "CA" is
// calcium), the common ion names of force fields, halogens ("CL", "BR"),
// and names written in mixed case ("Cl", "Fe").
std::optional<ElementCode> ElementOfAtomName(std::string_view residue, std::string_view name) {
  size_t k = 0;
  while (k < name.size() && std::isdigit(static_cast<unsigned char>(name[k])))
    k++;
  name.remove_prefix(k);
  size_t letters = 0;
  while (letters < name.size() && std::isalpha(static_cast<unsigned char>(name[letters])))
    letters++;
  if (letters == 0)
    return std::nullopt;
  const std::string up = Upper(name.substr(0, letters));
  static const std::map<std::string, std::string_view> kIonNames = {
      {"SOD", "Na"}, {"CLA", "Cl"}, {"POT", "K"}, {"CAL", "Ca"}, {"CES", "Cs"}, {"LIT", "Li"}, {"RUB", "Rb"}};
  if (auto it = kIonNames.find(up); it != kIonNames.end())
    return ElementFromSymbol(it->second);
  std::string res = Upper(TrimImport(residue));
  while (!res.empty() && (res.back() == '+' || res.back() == '-' || std::isdigit(static_cast<unsigned char>(res.back()))))
    res.pop_back();
  const bool ion = res == up && letters == 2;
  const bool halogen = up.starts_with("CL") || up.starts_with("BR");
  const bool mixed = letters >= 2 && std::islower(static_cast<unsigned char>(name[1]));
  if (letters >= 2 && (ion || halogen || mixed))
    if (auto two = ElementFromSymbol(name.substr(0, 2)); two && ElementSymbolText(*two).size() == 2)
      return two;
  return ElementFromSymbol(name.substr(0, 1));
}

struct GroReader {
  const ImportSource &source;
  ImportResult &result;
  ImportTextLines lines;
  std::map<std::pair<std::string, std::string>, std::optional<ElementCode>> guesses;

  std::optional<ElementCode> Element(std::string_view residue, std::string_view name) {
    auto key = std::make_pair(std::string(TrimImport(residue)), std::string(name));
    auto it = guesses.find(key);
    if (it == guesses.end())
      it = guesses.emplace(std::move(key), ElementOfAtomName(residue, name)).first;
    return it->second;
  }

  // One frame from its title line; `next` is the line after it.
  bool Frame(size_t title, size_t &next) {
    const size_t countLine = title + 1;
    if (countLine >= lines.size())
      return RefuseImport(result, static_cast<int>(title) + 1, "the title is followed by no atom count");
    const auto tokens = ImportTokens(lines[countLine]);
    const auto count = tokens.empty() ? std::nullopt : ImportWholeNumber(tokens[0]);
    if (!count || *count < 0 || static_cast<size_t>(*count) > kMaxImportSites)
      return RefuseImport(result, static_cast<int>(countLine) + 1, "the atom count is not a number of atoms");
    const size_t n = static_cast<size_t>(*count), first = countLine + 1, boxLine = first + n;
    if (boxLine >= lines.size())
      return RefuseImport(result, static_cast<int>(lines.size()),
                          "the file ends before the frame's " + std::to_string(n) +
                              " atom lines and its box line are over");
    next = boxLine + 1;
    ImportedStructure *s = BeginImportedStructure(result, std::string(TrimImport(lines[title])), static_cast<int>(title + 1));
    if (!s)
      return true; // beyond the structures a file may hold: counted, not read
    s->extras.title = s->name;
    if (s->name.empty())
      s->name = source.name + " frame " + std::to_string(result.structures.size());

    double v[9] = {};
    const auto boxTokens = ImportTokens(lines[boxLine]);
    if (boxTokens.size() != 3 && boxTokens.size() != 9)
      return RefuseImport(result, static_cast<int>(boxLine) + 1,
                          "the box line holds " + std::to_string(boxTokens.size()) + " values, not 3 or 9");
    for (size_t k = 0; k < boxTokens.size(); k++) {
      const auto x = ImportNumber(boxTokens[k]);
      if (!x)
        return RefuseImport(result, static_cast<int>(boxLine) + 1,
                            "the box value \"" + std::string(boxTokens[k]) + "\" is not a number");
      v[k] = *x * kNanometre;
    }
    for (int k = 0; k < 3; k++)
      if (v[k] < 0.0)
        return RefuseImport(result, static_cast<int>(boxLine) + 1,
                            "the box side \"" + std::string(boxTokens[static_cast<size_t>(k)]) + "\" is negative");
    SimulationBox box;
    const double rows[3][3] = {{v[0], v[3], v[4]}, {v[5], v[1], v[6]}, {v[7], v[8], v[2]}};
    bool noBox = true;
    for (int i = 0; i < 3; i++)
      for (int j = 0; j < 3; j++) {
        box.vectors[i][j] = rows[i][j];
        noBox = noBox && rows[i][j] == 0.0;
      }
    if (noBox) {
      s->crystal.molecule = 1;
      ImportWarning(*s, static_cast<int>(boxLine + 1), "the box is zero: the frame opens as a molecule.");
    } else if (!SetImportBox(*s, box, result.error, static_cast<int>(boxLine + 1))) {
      return false;
    }

    ReserveImportSites(*s, n);
    size_t width = 0;
    for (size_t i = first; i < boxLine; i++) {
      const std::string_view line = lines[i];
      if (width == 0) {
        // The precision the file was written with: the distance between the
        // first two decimal points.
        const size_t p1 = line.find('.', kFirstCoordinateColumn);
        const size_t p2 = p1 == std::string_view::npos ? p1 : line.find('.', p1 + 1);
        if (p2 == std::string_view::npos || p2 - p1 < kMinCoordinateWidth || p2 - p1 > kMaxCoordinateWidth)
          return RefuseImport(result, static_cast<int>(i) + 1, "the atom line holds no coordinates in columns 21 on");
        width = p2 - p1;
      }
      double xyz[3];
      for (size_t k = 0; k < 3; k++) {
        const std::string_view field = TrimImport(ImportColumns(line, kFirstCoordinateColumn + 1 + k * width, width));
        const auto x = ImportNumber(field);
        if (!x)
          return RefuseImport(result, static_cast<int>(i) + 1,
                              field.empty() ? std::string("the atom line ends before its coordinates")
                                            : "the coordinate \"" + std::string(field) + "\" is not a number");
        xyz[k] = *x * kNanometre;
      }
      const std::string_view residue = ImportColumns(line, 6, 5);
      const std::string_view name = TrimImport(ImportColumns(line, 11, 5));
      const auto element = Element(residue, name);
      const bool ok =
          s->crystal.molecule
              ? AppendImportAtom(result, *s, name, element.value_or(kPlaceholderElement), xyz, static_cast<int>(i + 1)) != nullptr
              : AppendBoxAtom(result, *s, box, name, element.value_or(kPlaceholderElement), xyz,
                              static_cast<int>(i + 1));
      if (!ok)
        return false;
    }
    return FinishImportedStructure(*s, result.error);
  }

  // The elements told from the atom names, said once in the first frame.
  void ReportGuesses() {
    if (result.structures.empty())
      return;
    WarningNames told, unknown;
    for (const auto &[key, element] : guesses)
      (element ? told : unknown)
          .Add(key.second + " (" + key.first + ")" + (element ? " " + ElementSymbolText(*element) : std::string()));
    ImportedStructure &s = result.structures.front();
    if (!told.Empty())
      ImportWarning(s, 0, "the file gives no elements; they were told from the atom names: " + told.Text() + ".");
    if (!unknown.Empty())
      ImportWarning(s, 0, "these atom names name no element and are drawn as placeholders: " + unknown.Text() + ".");
  }
};

} // namespace

bool IsGROMACSFile(const ImportSource &source) {
  // A title, a line of one count, then (unless the count is 0) an atom line
  // whose coordinates begin at column 21.
  const std::string_view text = std::string_view(source.text).substr(0, 8192);
  const auto lines = ImportLines(text);
  if (lines.size() < 3)
    return false;
  const auto tokens = ImportTokens(lines[1]);
  const auto count = tokens.size() == 1 ? ImportWholeNumber(tokens[0]) : std::nullopt;
  if (!count)
    return false;
  // A damaged count in a file named as ours: the reader says which line.
  if (*count < 0)
    return source.name.size() >= 4 && ImportEqualNoCase(std::string_view(source.name).substr(source.name.size() - 4), ".gro");
  if (*count == 0)
    return ImportTokens(lines[2]).size() == 3 || ImportTokens(lines[2]).size() == 9;
  const std::string_view atom = lines[2];
  const size_t p1 = atom.find('.', kFirstCoordinateColumn);
  const size_t p2 = p1 == std::string_view::npos ? p1 : atom.find('.', p1 + 1);
  if (p2 == std::string_view::npos || p2 - p1 < kMinCoordinateWidth || p2 - p1 > kMaxCoordinateWidth)
    return false;
  for (size_t k = 0; k < 3; k++)
    if (!ImportNumber(TrimImport(ImportColumns(atom, kFirstCoordinateColumn + 1 + k * (p2 - p1), p2 - p1))))
      return false;
  return ImportWholeNumber(TrimImport(ImportColumns(atom, 1, 5))).has_value();
}

bool DoGROMACSFile(const ImportSource &source, ImportResult &result) {
  if (RefuseCutInsideNumber(source, result))
    return false;
  GroReader reader{source, result, ImportLines(source.text), {}};
  size_t i = 0;
  while (i < reader.lines.size()) {
    // The title may be empty: the first line is always a title, and a blank
    // line after a frame is one when a lone count follows it; other blank
    // lines between frames are passed over.
    const bool countFollows = i + 1 < reader.lines.size() && ImportTokens(reader.lines[i + 1]).size() == 1 &&
                              ImportWholeNumber(TrimImport(reader.lines[i + 1])).has_value();
    if (i > 0 && TrimImport(reader.lines[i]).empty() && !countFollows) {
      i++;
      continue;
    }
    size_t next = i;
    if (!reader.Frame(i, next))
      return false;
    i = next;
  }
  reader.ReportGuesses();
  return !result.structures.empty();
}

extern const ImportFormat gGROMACSImport{"GROMACS", "GROMACS coordinate files", "gro", "", IsGROMACSFile, DoGROMACSFile};
