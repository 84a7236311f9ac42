// The text dump files a molecular-dynamics package writes during a run: a
// run of frames, each a series of "ITEM:" lines with their values under
// them:
//   ITEM: TIMESTEP                         the step
//   ITEM: UNITS, ITEM: TIME                one line each, when the run asked
//   ITEM: NUMBER OF ATOMS                  the count N
//   ITEM: BOX BOUNDS [xy xz yz] pp pp pp   three lines "lo hi [tilt]"
//   ITEM: BOX BOUNDS abc origin pp pp pp   three lines "ax ay az origin-x" ...
//   ITEM: ATOMS id type x y z ...          N lines of the named columns
//
// A tilted box's lines hold its bounding box and one tilt each ("xlo_bound
// xhi_bound xy", "ylo_bound yhi_bound xz", "zlo_bound zhi_bound yz"); the
// box itself is xlo = xlo_bound - min(0, xy, xz, xy + xz), xhi = xhi_bound -
// max(0, xy, xz, xy + xz), ylo = ylo_bound - min(0, yz), yhi = yhi_bound -
// max(0, yz), with the edges a = (xhi - xlo, 0, 0), b = (xy, yhi - ylo, 0),
// c = (xz, yz, zhi - zlo) from (xlo, ylo, zlo).
//
// Positions come from "x y z", else the unwrapped "xu yu zu", else the
// scaled "xs ys zs" or "xsu ysu zsu" (fractions of the box edges); every
// atom is put in the cell. The element comes from an "element" column, else
// from a "mass" column (the nearest standard atomic weight), else the atoms
// are placeholders and the Log names their types. A run on many processors
// writes the atoms in any order: each frame lists them by their IDs, so that
// an atom is the same site in every frame. Each frame is one structure, a
// crystal in P 1 named by its timestep. Binary dumps are no text and are
// refused by the path before any reader sees them.
#include "StoredLimits.h"
#include "import/ElementOfMass.h"
#include "import/ImportText.h"
#include "import/ImportTypes.h"
#include "import/SimulationBox.h"
#include "import/StructureFill.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>

namespace {

constexpr std::string_view kItem = "ITEM:";
// Coordinate columns in the order they are preferred, and whether they are
// fractions of the box.
constexpr struct {
  std::string_view x, y, z;
  bool scaled;
} kCoordinateColumns[] = {{"x", "y", "z", false},
                          {"xu", "yu", "zu", false},
                          {"xs", "ys", "zs", true},
                          {"xsu", "ysu", "zsu", true}};
constexpr size_t kNoColumn = static_cast<size_t>(-1);

// What follows "ITEM:", trimmed; empty for a line that is no item.
std::string_view ItemOf(std::string_view line) {
  line = TrimImport(line);
  return line.starts_with(kItem) ? TrimImport(line.substr(kItem.size())) : std::string_view();
}

struct DumpAtom {
  long id = 0;
  long type = 0;
  double position[3] = {}; // Cartesian (A), or fractions of the box when scaled
  ElementCode element = kPlaceholderElement;
  int line = 0;
};

struct DumpReader {
  const ImportSource &source;
  ImportResult &result;
  ImportTextLines lines;
  size_t i = 0; // the next line

  bool Fail(size_t index, std::string what) { return RefuseImport(result, static_cast<int>(index + 1), std::move(what)); }

  // The tokens of the value line after an item line.
  bool ValueLine(size_t item, std::vector<std::string_view> &tokens) {
    if (i >= lines.size() || !ItemOf(lines[i]).empty())
      return Fail(std::min(item + 1, lines.size() - 1), "the item \"" + std::string(ItemOf(lines[item])) +
                                                            "\" is followed by no value line");
    tokens = ImportTokens(lines[i++]);
    return true;
  }

  bool Read();
  bool Box(size_t item, SimulationBox &box);
  bool Atoms(size_t item, std::string_view name, long count, SimulationBox &box);

  int boxLine = 0; // the last line of the frame's box (1-based)
};

bool DumpReader::Box(size_t item, SimulationBox &box) {
  const auto flags = ImportTokens(ItemOf(lines[item]).substr(std::string_view("BOX BOUNDS").size()));
  // Old versions wrote the tilts without naming them: a third value on
  // each line is a tilt whatever the item line says.
  const bool general = flags.size() >= 2 && flags[0] == "abc" && flags[1] == "origin";
  double v[3][4] = {};
  for (int row = 0; row < 3; row++) {
    std::vector<std::string_view> t;
    if (!ValueLine(item, t))
      return false;
    if (general ? t.size() != 4 : t.size() != 2 && t.size() != 3)
      return Fail(i - 1, "the box line holds " + std::to_string(t.size()) + " values, not " + (general ? "4" : "2 or 3"));
    for (size_t k = 0; k < t.size(); k++) {
      const auto n = ImportNumber(t[k]);
      if (!n)
        return Fail(i - 1, "the box value \"" + std::string(t[k]) + "\" is not a number");
      v[row][k] = *n;
    }
  }
  box = SimulationBox{};
  boxLine = static_cast<int>(i);
  if (general) {
    for (int row = 0; row < 3; row++) {
      std::copy(v[row], v[row] + 3, box.vectors[row]);
      box.origin[row] = v[row][3];
    }
    return true;
  }
  const double xy = v[0][2], xz = v[1][2], yz = v[2][2];
  const double xlo = v[0][0] - std::min({0.0, xy, xz, xy + xz}), xhi = v[0][1] - std::max({0.0, xy, xz, xy + xz});
  const double ylo = v[1][0] - std::min(0.0, yz), yhi = v[1][1] - std::max(0.0, yz);
  const double rows[3][3] = {{xhi - xlo, 0.0, 0.0}, {xy, yhi - ylo, 0.0}, {xz, yz, v[2][1] - v[2][0]}};
  std::copy(&rows[0][0], &rows[0][0] + 9, &box.vectors[0][0]);
  box.origin[0] = xlo, box.origin[1] = ylo, box.origin[2] = v[2][0];
  return true;
}

bool DumpReader::Atoms(size_t item, std::string_view name, long count, SimulationBox &box) {
  const auto columns = ImportTokens(ItemOf(lines[item]).substr(std::string_view("ATOMS").size()));
  auto column = [&](std::string_view key) {
    const auto it = std::find(columns.begin(), columns.end(), key);
    return it == columns.end() ? kNoColumn : static_cast<size_t>(it - columns.begin());
  };
  size_t xyz[3] = {kNoColumn, kNoColumn, kNoColumn};
  bool scaled = false;
  for (const auto &set : kCoordinateColumns) {
    const size_t c[3] = {column(set.x), column(set.y), column(set.z)};
    if (c[0] != kNoColumn && c[1] != kNoColumn && c[2] != kNoColumn) {
      std::copy(c, c + 3, xyz), scaled = set.scaled;
      break;
    }
  }
  if (xyz[0] == kNoColumn)
    return Fail(item, "the atoms have no x y z (nor xu, xs or xsu) columns");
  const size_t idColumn = column("id"), typeColumn = column("type"), elementColumn = column("element"),
               massColumn = column("mass");

  ImportedStructure *s = BeginImportedStructure(result, std::string(name), static_cast<int>(item + 1));
  if (!s) { // beyond the structures a file may hold: counted, not read
    i = std::min(lines.size(), i + static_cast<size_t>(count));
    return true;
  }
  s->extras.title = s->name;
  if (!SetImportBox(*s, box, result.error, boxLine))
    return false;

  std::vector<DumpAtom> atoms(static_cast<size_t>(count));
  // At most the lines left can be atoms.
  ReserveImportSites(*s, std::min(atoms.size(), lines.size() - i));
  std::map<double, std::optional<ElementCode>> elementOfMass;
  std::set<std::string> unknownNames;
  std::set<long> placeholderTypes;
  std::vector<std::string_view> tokens;
  for (DumpAtom &atom : atoms) {
    if (i >= lines.size() || !ItemOf(lines[i]).empty())
      return Fail(std::min(i, lines.size() - 1), "the frame holds " + std::to_string(&atom - atoms.data()) + " of the " +
                                                     std::to_string(count) + " atoms it counts");
    ImportTokens(lines[i], tokens);
    const std::vector<std::string_view> &t = tokens;
    atom.line = static_cast<int>(++i);
    if (t.size() != columns.size())
      return Fail(i - 1, "the atom line holds " + std::to_string(t.size()) + " values where the ATOMS item names " +
                             std::to_string(columns.size()) + " columns");
    for (int k = 0; k < 3; k++) {
      const auto v = ImportNumber(t[xyz[k]]);
      if (!v)
        return Fail(i - 1, "the coordinate \"" + std::string(t[xyz[k]]) + "\" is not a number");
      atom.position[k] = *v;
    }
    const auto id = idColumn == kNoColumn ? std::optional<long>(&atom - atoms.data() + 1) : ImportWholeNumber(t[idColumn]);
    const auto type = typeColumn == kNoColumn ? std::optional<long>(0) : ImportWholeNumber(t[typeColumn]);
    if (!id || !type)
      return Fail(i - 1, "the atom ID or type is not a whole number");
    atom.id = *id, atom.type = *type;
    std::optional<ElementCode> element;
    if (elementColumn != kNoColumn) {
      element = ElementFromSymbol(t[elementColumn]);
      if (!element)
        unknownNames.insert(std::string(t[elementColumn]));
    } else if (massColumn != kNoColumn) {
      const auto mass = ImportNumber(t[massColumn]);
      if (!mass)
        return Fail(i - 1, "the mass \"" + std::string(t[massColumn]) + "\" is not a number");
      auto it = elementOfMass.find(*mass);
      if (it == elementOfMass.end())
        it = elementOfMass.emplace(*mass, ElementOfStandardMass(*s, atom.line, t[massColumn])).first;
      element = it->second;
    }
    if (!element && elementColumn == kNoColumn)
      placeholderTypes.insert(atom.type);
    atom.element = element.value_or(kPlaceholderElement);
  }
  std::stable_sort(atoms.begin(), atoms.end(), [](const DumpAtom &a, const DumpAtom &b) { return a.id < b.id; });
  for (size_t k = 0; k < atoms.size(); k++) {
    DumpAtom &atom = atoms[k];
    if (k > 0 && atoms[k - 1].id == atom.id)
      return Fail(static_cast<size_t>(atom.line - 1), "the atom ID " + std::to_string(atom.id) + " is given twice");
    if (scaled) {
      const double f[3] = {atom.position[0], atom.position[1], atom.position[2]};
      for (int j = 0; j < 3; j++)
        atom.position[j] = box.origin[j] + f[0] * box.vectors[0][j] + f[1] * box.vectors[1][j] + f[2] * box.vectors[2][j];
    }
    if (!AppendBoxAtom(result, *s, box, ElementSymbolText(atom.element) + std::to_string(atom.id), atom.element,
                       atom.position, atom.line))
      return false;
  }

  auto list = [](const auto &items, auto text) {
    std::string out;
    for (const auto &entry : items)
      out += (out.empty() ? "" : ", ") + text(entry);
    return out;
  };
  if (!unknownNames.empty())
    ImportWarning(*s, 0, "these element names name no element and are drawn as placeholders: " +
                             list(unknownNames, [](const std::string &n) { return n; }) + ".");
  std::string byMass;
  for (const auto &[mass, element] : elementOfMass)
    if (element)
      byMass += (byMass.empty() ? "" : ", ") + MyTrimSprintf("%.4f", mass) + " " + ElementSymbolText(*element);
  if (!byMass.empty())
    ImportWarning(*s, 0, "elements by the atoms' masses: " + byMass + ".");
  if (!placeholderTypes.empty())
    ImportWarning(*s, 0, std::string(massColumn == kNoColumn ? "the dump gives no element or mass: "
                                                             : "masses that are no element's: ") +
                             (typeColumn == kNoColumn ? std::string("the atoms")
                                                      : "the atoms of type(s) " +
                                                            list(placeholderTypes, [](long t) { return std::to_string(t); })) +
                             " are placeholders.");
  return FinishImportedStructure(*s, result.error);
}

bool DumpReader::Read() {
  std::string name;
  long count = -1;
  bool haveBox = false;
  SimulationBox box;
  std::vector<std::string_view> t;
  while (i < lines.size()) {
    if (TrimImport(lines[i]).empty()) {
      i++;
      continue;
    }
    const size_t item = i++;
    const std::string_view what = ItemOf(lines[item]);
    if (what.empty())
      return Fail(item, "the line is no \"ITEM:\" line where one belongs");
    if (what == "TIMESTEP") {
      if (!ValueLine(item, t))
        return false;
      const auto step = t.size() == 1 ? ImportWholeNumber(t[0]) : std::nullopt;
      if (!step)
        return Fail(i - 1, "the timestep is not a whole number");
      name = "timestep " + std::to_string(*step);
      count = -1, haveBox = false;
    } else if (what == "UNITS" || what == "TIME") {
      if (!ValueLine(item, t))
        return false;
    } else if (what == "NUMBER OF ATOMS") {
      if (!ValueLine(item, t))
        return false;
      const auto n = t.size() == 1 ? ImportWholeNumber(t[0]) : std::nullopt;
      if (!n || *n < 1 || static_cast<size_t>(*n) > kMaxImportSites)
        return Fail(i - 1, "the atom count is not a number of atoms this version opens");
      count = *n;
    } else if (what.starts_with("BOX BOUNDS")) {
      if (!Box(item, box))
        return false;
      haveBox = true;
    } else if (what.starts_with("ATOMS")) {
      if (count < 0 || !haveBox)
        return Fail(item, std::string("the frame's atoms come before its ") +
                              (count < 0 ? "NUMBER OF ATOMS" : "BOX BOUNDS") + " item");
      if (name.empty())
        name = source.name + " frame " + std::to_string(result.structures.size() + result.structuresLeftOut + 1);
      if (!Atoms(item, name, count, box))
        return false;
      name.clear();
    } else {
      return Fail(item, "the item \"" + std::string(what) + "\" is not one of a dump of atoms");
    }
  }
  if (result.structures.empty())
    return Fail(lines.empty() ? 0 : lines.size() - 1, "the file ends before a frame's atoms");
  return true;
}

} // namespace

bool IsLAMMPSDumpFile(const ImportSource &source) {
  const auto lines = ImportLines(std::string_view(source.text).substr(0, 4096));
  for (std::string_view line : lines)
    if (!TrimImport(line).empty()) {
      const std::string_view item = ItemOf(line);
      return item == "TIMESTEP" || item == "UNITS" || item == "TIME" || item == "NUMBER OF ATOMS";
    }
  return false;
}

bool DoLAMMPSDumpFile(const ImportSource &source, ImportResult &result) {
  if (RefuseCutInsideNumber(source, result))
    return false;
  DumpReader reader{source, result, ImportLines(source.text)};
  return reader.Read();
}

extern const ImportFormat gLAMMPSDumpImport{"LAMMPS dump", "LAMMPS dump files", "lammpstrj", "dump.*",
                                            IsLAMMPSDumpFile, DoLAMMPSDumpFile};
