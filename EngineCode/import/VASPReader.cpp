// VASP structure files (POSCAR, CONTCAR, *.vasp): a scale, three lattice
// vectors, the species (VASP 5) and their counts, then one position per
// atom, fractional ("Direct") or Cartesian. The box opens as a crystal in
// P 1 whose cell is the box, with every atom of the file an atom of the
// cell.
#include "CellFrame.h"
#include "import/ImportText.h"
#include "import/ImportTypes.h"
#include "import/SimulationBox.h"
#include "import/StructureFill.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <string>

namespace {

// Species a file may list.
constexpr size_t kMaxSpecies = 200;

// The symbols a title names, as "NaCl" or "Fe O" (VASP 4 files often carry
// them there): each word without digits and delimiters, split at capitals.
std::vector<ElementCode> ElementsOfTitle(std::string_view title) {
  std::vector<ElementCode> out;
  for (std::string_view word : ImportTokens(title)) {
    std::string letters;
    for (char ch : word)
      if (std::isalpha(static_cast<unsigned char>(ch)))
        letters += ch;
      else if (!std::isdigit(static_cast<unsigned char>(ch)) && std::string_view("-_,.=").find(ch) == std::string_view::npos)
        letters += '#';
    std::vector<ElementCode> found;
    bool ok = !letters.empty();
    for (size_t i = 0; ok && i < letters.size();) {
      size_t j = i + 1;
      while (j < letters.size() && std::islower(static_cast<unsigned char>(letters[j])))
        j++;
      const std::string symbol = letters.substr(i, j - i);
      const auto e = std::isupper(static_cast<unsigned char>(symbol[0])) && symbol.size() <= 2
                         ? ElementFromSymbol(symbol)
                         : std::nullopt;
      ok = e.has_value() && ElementSymbolText(*e) == symbol;
      if (ok)
        found.push_back(*e);
      i = j;
    }
    if (ok)
      out.insert(out.end(), found.begin(), found.end());
  }
  return out;
}

class Reader {
public:
  Reader(const ImportSource &source, ImportResult &result)
      : source_(source), result_(result), lines_(ImportLines(source.text)) {}
  bool Read();

private:
  // The numbers of line `index`; false unless it starts with at least
  // `count`. A file that ends is refused at the line that is missing.
  bool Numbers(size_t index, size_t count, std::vector<double> &out, const char *what) {
    out.clear();
    const int line = static_cast<int>(index + 1);
    if (index >= lines_.size())
      return RefuseImport(result_, line, std::string("the file ends before ") + what);
    for (std::string_view t : ImportTokens(lines_[index])) {
      const auto v = ImportNumber(t);
      if (!v && out.size() < count)
        return RefuseNumber(result_, line, "value", t, what);
      if (!v)
        break;
      out.push_back(*v);
    }
    if (out.size() < count)
      return RefuseImport(result_, line, std::string(what) + " needs " + std::to_string(count) + " numbers");
    return true;
  }

  const ImportSource &source_;
  ImportResult &result_;
  ImportTextLines lines_;
};

bool Reader::Read() {
  if (RefuseCutInsideNumber(source_, result_))
    return false;
  ImportedStructure *s = BeginImportedStructure(result_, source_.name);
  const std::string title(TrimImport(lines_.empty() ? std::string_view() : lines_[0]));
  s->extras.title = title;
  std::vector<double> v;
  if (!Numbers(1, 1, v, "the scale"))
    return false;
  std::array<double, 3> scale = {v[0], v[0], v[0]};
  if (v.size() >= 3 && v[0] > 0.0 && v[1] > 0.0 && v[2] > 0.0)
    scale = {v[0], v[1], v[2]}; // a scale per axis
  double box[3][3];
  for (size_t k = 0; k < 3; k++) {
    if (!Numbers(2 + k, 3, v, "a lattice vector"))
      return false;
    std::copy_n(v.begin(), 3, box[k]);
  }
  constexpr int kBoxLine = 3;
  if (scale[0] < 0.0) {
    // A negative scale is the volume of the box.
    const double volume = std::fabs(SignedBoxVolume(box));
    if (!(volume > 0.0))
      return RefuseImport(result_, kBoxLine, "the lattice vectors span no volume");
    scale.fill(std::cbrt(-scale[0] / volume));
  }
  for (auto &row : box)
    for (size_t j = 0; j < 3; j++)
      row[j] *= scale[j];
  // A left-handed box is turned round: direct coordinates then have their
  // third fraction negated, so the atoms stay where they are.
  const bool flip = KeepBoxHand(*s, box, kBoxLine);
  CellFrame frame;
  if (scale[0] == 0.0 || !CellFrameOfRows(box, frame))
    return RefuseImport(result_, kBoxLine, "the lattice vectors span no volume");

  // The species line (VASP 5), then the counts.
  size_t line = 5;
  if (line >= lines_.size())
    return RefuseImport(result_, static_cast<int>(line + 1), "the file ends before the atom counts");
  std::vector<std::string_view> species;
  int speciesLine = 0;
  auto firstTokens = ImportTokens(lines_[line]);
  if (!firstTokens.empty() && !ImportNumber(firstTokens[0])) {
    species = firstTokens;
    speciesLine = static_cast<int>(line + 1);
    line++;
  }
  std::vector<long> counts;
  if (line >= lines_.size())
    return RefuseImport(result_, static_cast<int>(line + 1), "the file ends before the atom counts");
  for (std::string_view t : ImportTokens(lines_[line])) {
    const auto n = ImportNumber(t);
    if (!n)
      break;
    if (*n < 0.0 || *n != std::round(*n) || *n > 1e8)
      return RefuseImport(result_, static_cast<int>(line + 1), "the atom count \"" + std::string(t) + "\" is no count");
    counts.push_back(static_cast<long>(*n));
  }
  if (counts.empty() || counts.size() > kMaxSpecies)
    return RefuseImport(result_, static_cast<int>(line + 1), "the atom counts are missing");
  line++;

  std::vector<ElementCode> elements(counts.size(), kPlaceholderElement);
  if (!species.empty()) {
    for (size_t k = 0; k < counts.size(); k++) {
      const auto e = k < species.size() ? ElementFromSymbol(species[k]) : std::nullopt;
      if (e)
        elements[k] = *e;
      else
        ImportWarning(*s, speciesLine,
                      "species " + std::to_string(k + 1) + " names no element; its atoms are drawn as placeholders.");
    }
  } else {
    const auto named = ElementsOfTitle(title);
    if (named.size() >= counts.size()) {
      std::copy_n(named.begin(), counts.size(), elements.begin());
      std::string list;
      for (size_t k = 0; k < counts.size(); k++)
        list += (k ? " " : "") + ElementSymbolText(elements[k]);
      ImportWarning(*s, 1, "the file names no species; the title's elements are taken (" + list + ").");
    } else {
      ImportWarning(*s, 0,
                    "the file names no species, nor does its title; the atoms are drawn as placeholders.");
    }
  }

  if (line < lines_.size() && ImportStartsNoCase(TrimImport(lines_[line]), "s"))
    line++; // Selective dynamics: the flags after each position are skipped
  if (line >= lines_.size())
    return RefuseImport(result_, static_cast<int>(line + 1), "the file ends before the positions");
  const std::string_view mode = TrimImport(lines_[line]);
  const bool cartesian = ImportStartsNoCase(mode, "c") || ImportStartsNoCase(mode, "k");
  line++;

  // Cartesian positions: fractional through the inverse of the box.
  for (size_t k = 0; k < counts.size(); k++)
    for (long n = 0; n < counts[k]; n++, line++) {
      if (!Numbers(line, 3, v, "a position"))
        return false;
      double xyz[3] = {v[0], v[1], flip ? -v[2] : v[2]};
      if (cartesian) {
        const double x[3] = {v[0] * scale[0], v[1] * scale[1], v[2] * scale[2]};
        FractionalFromCartesian(frame, x, xyz);
      }
      if (!PlaceInBox(*s, xyz, static_cast<int>(line + 1)))
        continue;
      const std::string label = ElementSymbolText(elements[k]) + std::to_string(n + 1);
      if (!AppendImportSite(result_, *s, label, elements[k], xyz, static_cast<int>(line + 1)))
        return false;
    }

  double cell[6];
  CellOfRows(box, cell);
  if (!SetImportCell(*s, result_.error, kBoxLine, cell))
    return false;
  s->crystal.latticeLetter = 'P';
  if (!title.empty())
    s->name = title;
  return FinishImportedStructure(*s, result_.error);
}

} // namespace

bool IsVASPFile(const ImportSource &source) {
  // A title, a scale, three vectors of three numbers, then counts (after
  // the species in VASP 5).
  const auto lines = ImportLines(std::string_view(source.text).substr(0, 1 << 16));
  if (lines.size() < 8)
    return false;
  auto numbers = [&](size_t k) {
    size_t n = 0;
    for (std::string_view t : ImportTokens(lines[k])) {
      if (!ImportNumber(t))
        return n;
      n++;
    }
    return n;
  };
  if (numbers(1) != 1 && numbers(1) != 3)
    return false;
  for (size_t k = 2; k < 5; k++)
    if (numbers(k) != 3)
      return false;
  const size_t counts = numbers(5) > 0 ? 5 : 6;
  if (numbers(counts) == 0 || counts + 1 >= lines.size())
    return false;
  std::string_view next = TrimImport(lines[counts + 1]);
  if (ImportStartsNoCase(next, "s") && counts + 2 < lines.size())
    next = TrimImport(lines[counts + 2]);
  return ImportStartsNoCase(next, "d") || ImportStartsNoCase(next, "c") || ImportStartsNoCase(next, "k");
}

bool DoVASPFile(const ImportSource &source, ImportResult &result) { return Reader(source, result).Read(); }

extern const ImportFormat gVASPImport{"VASP", "VASP structure files", "vasp", "POSCAR* CONTCAR*", IsVASPFile, DoVASPFile};
