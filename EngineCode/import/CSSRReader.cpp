// CSSR files (the Cambridge layout): the cell lengths on line 1, the angles
// and space-group number on line 2, the atom count and the coordinate flag
// (0 fractional, 1 orthogonal) on line 3, a title on line 4, then one line
// per atom: serial, label, x y z and up to eight serials of bonded atoms.
// The layout puts each field in fixed columns; many programs write the same
// fields separated by blanks or tabs from column 1 instead, so every line is
// read by its fields.
#include "CellFrame.h"
#include "import/ImportSymmetry.h"
#include "import/ElementOfName.h"
#include "import/ImportText.h"
#include "import/ImportTypes.h"
#include "import/StructureFill.h"

#include "StoredLimits.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <unordered_map>

namespace {

constexpr int kMaxConnections = 8;
// The space groups by number.
constexpr double kLastSpaceGroup = 230.0;
// Serials beyond this are no serials of a file this program opens.
constexpr double kLargestSerial = 1e9;

bool WholeIn(const std::optional<double> &v, double low, double high) {
  return v && *v >= low && *v <= high && *v == std::round(*v);
}

// The last `count` numbers of a text; none when it holds fewer.
std::vector<double> LastNumbers(std::string_view text, size_t count) {
  std::vector<double> all;
  for (std::string_view t : ImportTokens(text))
    if (const auto v = ImportNumber(t))
      all.push_back(*v);
  if (all.size() < count)
    return {};
  return std::vector<double>(all.end() - static_cast<long>(count), all.end());
}

} // namespace

bool IsCSSRFile(const ImportSource &source) {
  const auto lines = ImportLines(std::string_view(source.text).substr(0, 1 << 14));
  if (lines.size() < 5)
    return false;
  // Line 1 holds the three lengths (in the fixed layout after 38 blank
  // columns; in the free one alone on the line); line 2 names the space
  // group with "SPGR".
  const bool lengths = TrimImport(ImportColumns(lines[0], 1, 38)).empty() || ImportTokens(lines[0]).size() == 3;
  return lengths && LastNumbers(lines[0], 3).size() == 3 && lines[1].find("SPGR") != std::string_view::npos;
}

bool DoCSSRFile(const ImportSource &source, ImportResult &result) {
  const auto lines = ImportLines(source.text);
  // The first structure of a file is always begun.
  ImportedStructure *s = BeginImportedStructure(result, source.name);
  if (lines.size() < 4)
    return RefuseImport(result, static_cast<int>(lines.size()), "the file ends before its atoms");
  const auto lengths = LastNumbers(lines[0], 3);
  if (lengths.empty())
    return RefuseImport(result, 1, "line 1 needs the three cell lengths");
  const size_t spgr = lines[1].find("SPGR");
  const auto angles = LastNumbers(lines[1].substr(0, spgr), 3);
  if (angles.empty())
    return RefuseImport(result, 2, "line 2 needs the three cell angles");
  const double cell[6] = {lengths[0], lengths[1], lengths[2], angles[0], angles[1], angles[2]};
  if (!SetImportCell(*s, result.error, 1, cell))
    return false;
  long group = 1;
  if (spgr != std::string_view::npos) {
    std::string_view rest = lines[1].substr(spgr + 4);
    const size_t equals = rest.find('=');
    const auto t = ImportTokens(equals == std::string_view::npos ? rest : rest.substr(equals + 1));
    if (const auto n = t.empty() ? std::nullopt : ImportNumber(t[0])) {
      if (WholeIn(n, 1.0, kLastSpaceGroup) && SetSymmetryFromSymbol(*s, std::to_string(std::lround(*n)), 0, 2))
        group = std::lround(*n);
      else
        ImportWarning(*s, 2, "space group " + std::string(t[0]) + " is no space group; P 1 is taken.");
    }
  }
  if (group == 1)
    SetSymmetryFromSymbol(*s, "P 1", 0, 2);
  const auto head = ImportTokens(lines[2]);
  const auto count = head.empty() ? std::nullopt : ImportNumber(head[0]);
  if (!WholeIn(count, 0.0, static_cast<double>(kMaxImportSites)))
    return RefuseImport(result, 3, "line 3 needs the number of atoms (at most " + std::to_string(kMaxImportSites) + ")");
  const bool orthogonal = head.size() > 1 && ImportNumber(head[1]).value_or(0.0) == 1.0;
  s->extras.title = std::string(TrimImport(lines[3]));
  if (s->extras.title.empty() && head.size() > 2)
    s->extras.title = std::string(TrimImport(lines[2].substr(head[2].data() - lines[2].data())));

  // Orthogonal coordinates: a along x, b in the x-y plane.
  const CellFrame frame = StandardCellFrame(cell);
  std::unordered_map<long, uint32_t> siteOfSerial;
  std::vector<std::tuple<long, long, int>> connections; // (atom, partner, line)
  const size_t n = static_cast<size_t>(*count);
  size_t fieldsBefore = 0;
  for (size_t k = 0; k < n; k++) {
    const size_t line = 4 + k;
    const int number = static_cast<int>(line + 1);
    if (line >= lines.size())
      return RefuseImport(result, static_cast<int>(lines.size()),
                          "the file ends after " + std::to_string(k) + " of its " + std::to_string(n) + " atoms");
    const auto t = ImportTokens(lines[line]);
    // A file cut short in its last atom: that line holds fewer fields than
    // the one before it.
    if (line + 1 == lines.size() && k > 0 && t.size() < fieldsBefore)
      return RefuseImport(result, number, "the file ends inside the line of atom " + std::to_string(k + 1));
    fieldsBefore = t.size();
    if (t.size() < 5)
      return RefuseImport(result, number, "an atom needs a serial, a label and three coordinates");
    const auto serial = ImportNumber(t[0]);
    double xyz[3];
    for (size_t j = 0; j < 3; j++) {
      const auto c = ImportNumber(t[2 + j]);
      if (!c)
        return RefuseImport(result, number, "the coordinate \"" + std::string(t[2 + j]) + "\" is not a number");
      xyz[j] = *c;
    }
    if (orthogonal)
      FractionalFromCartesian(frame, xyz, xyz);
    const auto element = ElementOfLabel(*s, number, t[1]);
    if (!element)
      ImportWarning(*s, number, "atom " + std::string(t[1]) + " names no element; it is drawn as a placeholder.");
    if (!AppendImportSite(result, *s, t[1], element ? *element : kPlaceholderElement, xyz, number))
      return false;
    const long self = WholeIn(serial, 0.0, kLargestSerial) ? std::lround(*serial) : static_cast<long>(k + 1);
    siteOfSerial.emplace(self, static_cast<uint32_t>(k));
    for (size_t j = 5; j < t.size() && j < 5 + kMaxConnections; j++) {
      const auto other = ImportNumber(t[j]);
      if (!WholeIn(other, 0.0, kLargestSerial) || t[j].find('.') != std::string_view::npos)
        break; // the charge, or the end of the connections
      if (*other > 0)
        connections.emplace_back(self, std::lround(*other), number);
    }
  }
  if (RefuseCutInsideNumber(source, result))
    return false;
  // Each bond once, between atoms the file lists.
  std::vector<std::tuple<uint32_t, uint32_t, int>> pairs;
  pairs.reserve(connections.size());
  for (const auto &[a, b, line] : connections) {
    const auto i = siteOfSerial.find(a), j = siteOfSerial.find(b);
    if (i == siteOfSerial.end() || j == siteOfSerial.end()) {
      ImportWarning(*s, 0, "atom " + std::to_string(a) + " is bonded to atom " + std::to_string(b) +
                               ", which the file does not list; the bond is left out.");
      continue;
    }
    if (i->second != j->second)
      pairs.emplace_back(std::min(i->second, j->second), std::max(i->second, j->second), line);
  }
  // Each pair once, with the first line that lists it.
  std::sort(pairs.begin(), pairs.end());
  const auto samePair = [](const auto &x, const auto &y) {
    return std::get<0>(x) == std::get<0>(y) && std::get<1>(x) == std::get<1>(y);
  };
  pairs.erase(std::unique(pairs.begin(), pairs.end(), samePair), pairs.end());
  for (const auto &[i, j, line] : pairs)
    s->bonds.push_back({i, j, line});
  if (!s->extras.title.empty())
    s->name = s->extras.title;
  return FinishImportedStructure(*s, result.error);
}

extern const ImportFormat gCSSRImport{"CSSR", "CSSR files", "cssr", "", IsCSSRFile, DoCSSRFile};
