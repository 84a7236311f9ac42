// DMol and Materials Studio archives (".car" one frame, ".arc" several):
//   !BIOSYM archive 3            (or "!MSI archive 3", the same layout)
//   PBC=ON                       (or OFF; 2D cells are read as molecules)
//   title
//   !DATE ...
//   PBC  a b c alpha beta gamma (P21/C)     only with PBC=ON
//   name  x y z  residue number  type  element  charge
//   end                          after each molecule; a second "end" ends the frame
// Positions are Cartesian, in the frame with a along x and b in the xy
// plane. With a cell the file lists every atom of the cell: those that are
// images of an earlier atom under the named group are left out, so the
// build makes each atom once.
#include "import/ImportTypes.h"

#include "CellFrame.h"
#include "FractionalPlaces.h"
#include "HostServices.h"
#include "SpaceGroups.h"
#include "StoredLimits.h"
#include "SymmetryCards.h"
#include "import/ImportSymmetry.h"
#include "import/ElementOfName.h"
#include "import/ImportText.h"
#include "import/StructureFill.h"

#include <algorithm>
#include <cmath>

namespace {

// An archive frame's title line holds the title in its first 64 columns
// and the frame's energy after them: the title is the text without it.
constexpr size_t kTitleColumns = 64;
std::string FrameTitle(std::string_view line) {
  const auto t = ImportTokens(line);
  if (t.size() > 1 && static_cast<size_t>(t.back().data() - line.data()) >= kTitleColumns && ImportNumber(t.back()))
    line = line.substr(0, static_cast<size_t>(t.back().data() - line.data()));
  return std::string(TrimImport(line));
}

bool IsEnd(std::string_view line) { return ImportEqualNoCase(TrimImport(line), "end"); }
bool IsBlank(std::string_view line) { return TrimImport(line).empty(); }

struct FileAtom {
  std::string label;
  ElementCode element = kBlankElement;
  double xyz[3] = {};
  int line = 0;
};

// The group's operators with their centring copies.
std::vector<GEP> GroupOperators(const CrystalRec &c) {
  std::array<Symcard, kMaxSymCards> cards{};
  uint16_t count = 0;
  char lattice = c.latticeLetter;
  if (c.cardCount > 0) {
    count = c.cardCount;
    std::copy(c.symCards.begin(), c.symCards.begin() + count, cards.begin());
  } else {
    std::string symbol(CStrView(std::span<const char>(c.spaceGroup)));
    if (!Spaceg(symbol, c.originChoice, c.alpha, c.beta, c.gamma, lattice, count, cards))
      return {};
  }
  int16_t nCentring = 0;
  CentringVectors centring;
  Bravais(EffectiveLatticeLetter(lattice, c.alpha, c.beta, c.gamma), nCentring, centring);
  std::vector<GEP> ops;
  for (uint16_t k = 0; k < count; k++)
    for (int16_t v = 0; v < nCentring; v++) {
      GEP g;
      Symcard2GEP(cards[k], g);
      for (int i = 0; i < 3; i++)
        g.translation[i] += centring[static_cast<size_t>(v)][static_cast<size_t>(i)];
      ops.push_back(g);
    }
  return ops;
}

// Leaves out atoms at the image of an earlier atom of the same element,
// through the places of the images of the atoms kept: linear in atoms times
// operators.
size_t DropSymmetryImages(std::vector<FileAtom> &atoms, const std::vector<GEP> &ops) {
  if (ops.size() <= 1)
    return 0;
  FractionalPlaces images(atoms.size());
  std::vector<FileAtom> kept;
  for (FileAtom &a : atoms) {
    ImportReadStep();
    // An atom at no place a structure holds is no image of another: the
    // fill leaves it out, with its line.
    if (!std::all_of(std::begin(a.xyz), std::end(a.xyz), [](double x) { return std::fabs(x) <= stored::kFinite.high; })) {
      kept.push_back(std::move(a));
      continue;
    }
    double u[3];
    for (int i = 0; i < 3; i++)
      u[i] = WrapFraction(a.xyz[i]);
    if (images.Find(u, a.element) != FractionalPlaces::kNone)
      continue;
    for (const GEP &g : ops) {
      double image[3];
      ApplyOperator(g, u, image);
      images.Insert(image, a.element);
    }
    kept.push_back(std::move(a));
  }
  const size_t dropped = atoms.size() - kept.size();
  atoms = std::move(kept);
  return dropped;
}

struct Reader {
  const ImportTextLines &lines;
  ImportResult &result;
  size_t i = 0;

  // The 1-based number of line `index`, or of the last line when the file
  // ends before it.
  int LineOf(size_t index) const { return static_cast<int>(std::min(index + 1, lines.size())); }

  bool AtomLine(ImportedStructure &s, size_t at, FileAtom &atom) {
    const auto t = ImportTokens(lines[at]);
    std::optional<double> x, y, z;
    if (t.size() >= 4)
      x = ImportNumber(t[1]), y = ImportNumber(t[2]), z = ImportNumber(t[3]);
    if (t.size() >= 4 && (!x || !y || !z))
      return RefuseNumber(result, LineOf(at), "coordinate", !x ? t[1] : !y ? t[2] : t[3], "atom " + std::string(t[0]));
    if (!x || !y || !z)
      return RefuseImport(result, LineOf(at), "the atom line holds no name and three coordinates");
    atom = FileAtom{std::string(t[0]), kBlankElement, {*x, *y, *z}, static_cast<int>(at + 1)};
    std::optional<ElementCode> e;
    if (t.size() >= 8)
      if ((e = ElementFromSymbol(t[7])) && !ImportEqualNoCase(ElementSymbolText(*e), t[7]))
        e.reset();
    if (!e && (e = ElementOfLabel(s, atom.line, t[0])))
      ImportWarning(s, atom.line, "the atom has no element column; its element is taken from its name.");
    if (!e) {
      ImportWarning(s, atom.line, "the atom's element is not known; it is a placeholder.");
      e = kPlaceholderElement;
    }
    atom.element = *e;
    return true;
  }

  // One frame from line i: title, date, cell, then molecules each ended by
  // "end", the frame by a second "end".
  bool Frame(bool periodic, size_t ordinal) {
    const size_t first = i;
    std::string title;
    if (!ImportStartsNoCase(TrimImport(lines[i]), "!DATE"))
      title = FrameTitle(lines[i++]);
    ImportedStructure *s = BeginImportedStructure(result, title.empty() ? "frame " + std::to_string(ordinal) : title,
                                                  static_cast<int>(first + 1));
    ImportedStructure scratch; // the frames beyond the limit are read past
    ImportedStructure &out = s ? *s : scratch;
    out.extras.title = title;
    if (i < lines.size() && ImportStartsNoCase(TrimImport(lines[i]), "!DATE"))
      i++;
    double cell[6] = {};
    std::string group;
    size_t cellLine = i;
    if (i < lines.size() && ImportStartsNoCase(TrimImport(lines[i]), "PBC")) {
      const auto t = ImportTokens(lines[i]);
      bool numbers = t.size() >= 7;
      for (size_t k = 0; k < 6 && numbers; k++) {
        const auto v = ImportNumber(t[k + 1]);
        numbers = v.has_value();
        cell[k] = v.value_or(0.0);
      }
      if (periodic && !numbers)
        return RefuseImport(result, LineOf(i), "the PBC line gives no cell lengths and angles");
      const size_t open = lines[i].find('('), close = lines[i].rfind(')');
      if (open != std::string_view::npos && close != std::string_view::npos && close > open)
        group = TrimImport(lines[i].substr(open + 1, close - open - 1));
      i++;
    } else if (periodic) {
      return RefuseImport(result, LineOf(i), "the frame has no PBC line with its cell");
    }
    std::vector<FileAtom> atoms;
    bool ended = false;
    for (; i < lines.size(); i++) {
      if (IsBlank(lines[i]))
        continue;
      if (IsEnd(lines[i])) {
        // A second "end" (blank lines between allowed) ends the frame.
        size_t next = i + 1;
        while (next < lines.size() && IsBlank(lines[next]))
          next++;
        if (next >= lines.size() || IsEnd(lines[next])) {
          i = next + 1;
          ended = true;
          break;
        }
        continue;
      }
      if (!AtomLine(out, i, atoms.emplace_back()))
        return false;
    }
    if (!s)
      return true;
    if (!ended)
      ImportWarning(out, static_cast<int>(lines.size()), "the frame ends without its \"end\" line.");
    if (atoms.empty())
      return RefuseImport(result, LineOf(first), "the frame holds no atom");
    if (periodic) {
      if (!SetImportCell(out, result.error, static_cast<int>(cellLine + 1), cell))
        return false;
      if (group.empty() || !SetSymmetryFromSymbol(out, group, 0, static_cast<int>(cellLine + 1))) {
        if (!group.empty())
          ImportWarning(out, static_cast<int>(cellLine + 1),
                        "the space group \"" + group + "\" is not known; the atoms are read in P 1.");
        SetSymmetryFromSymbol(out, "P 1", 0, static_cast<int>(cellLine + 1));
      }
      // The file lists every atom of its cell: a cell without room for
      // them is refused before their images are filed.
      const auto matter = std::count_if(atoms.begin(), atoms.end(),
                                        [](const FileAtom &a) { return a.element != kPlaceholderElement; });
      if (std::string why = CellTooSmallFor(CellVolume(cell), static_cast<double>(matter)); !why.empty())
        return RefuseImport(result, static_cast<int>(cellLine + 1), why);
      // The file lists every atom of the cell, which tells no origin of a
      // group of two apart: it is settled before the images are dropped.
      ChooseUnnamedOrigin(out);
      const CellFrame frame = StandardCellFrame(cell);
      for (FileAtom &a : atoms)
        FractionalFromCartesian(frame, a.xyz, a.xyz);
      if (gShowProgress)
        WriteStatus("Leaving out the atoms that are images under the space group...");
      const size_t dropped = DropSymmetryImages(atoms, GroupOperators(out.crystal));
      if (dropped > 0)
        ImportWarning(out, static_cast<int>(cellLine + 1),
                      std::to_string(dropped) + " atom(s) are images of others under the space group \"" + group +
                          "\" and were left out.");
    } else {
      out.crystal.molecule = 1;
    }
    for (const FileAtom &a : atoms)
      if (!(periodic ? AppendImportSite(result, out, a.label, a.element, a.xyz, a.line)
                     : AppendImportAtom(result, out, a.label, a.element, a.xyz, a.line)))
        return false;
    if (!FinishImportedStructure(out, result.error)) {
      result.error.line = static_cast<int>(first + 1);
      return false;
    }
    return true;
  }
};

} // namespace

bool IsDMolFile(const ImportSource &source) {
  const size_t start = source.text.find_first_not_of(" \t\n");
  if (start == std::string::npos)
    return false;
  const std::string_view text = std::string_view(source.text).substr(start);
  return ImportStartsNoCase(text, "!BIOSYM archive") || ImportStartsNoCase(text, "!MSI archive");
}

bool DoDMolFile(const ImportSource &source, ImportResult &result) {
  if (RefuseCutInsideNumber(source, result))
    return false;
  const auto lines = ImportLines(source.text);
  Reader reader{lines, result, 0};
  size_t &i = reader.i;
  while (i < lines.size() && IsBlank(lines[i]))
    i++;
  i++; // "!BIOSYM archive 3" or "!MSI archive 3"
  while (i < lines.size() && IsBlank(lines[i]))
    i++;
  if (i >= lines.size() || !ImportStartsNoCase(TrimImport(lines[i]), "PBC="))
    return RefuseImport(result, reader.LineOf(i), "the archive has no \"PBC=\" line after its first");
  const std::string_view pbc = TrimImport(TrimImport(lines[i]).substr(4));
  const bool periodic = ImportEqualNoCase(pbc, "ON");
  const int pbcLine = static_cast<int>(i + 1);
  i++;
  for (size_t ordinal = 1;; ordinal++) {
    size_t next = i;
    while (next < lines.size() && IsBlank(lines[next]))
      next++;
    if (next >= lines.size())
      break;
    if (!reader.Frame(periodic, ordinal))
      return false;
  }
  if (result.structures.empty())
    return RefuseImport(result, reader.LineOf(lines.size() - 1), "the file ends before its first frame");
  if (!periodic && !ImportEqualNoCase(pbc, "OFF"))
    for (ImportedStructure &s : result.structures)
      ImportWarning(s, pbcLine, "\"PBC=" + std::string(pbc) + "\" is no three-dimensional cell; the atoms are read as a molecule.");
  return true;
}

extern const ImportFormat gDMolImport{"DMol", "DMol archives", "car arc", "", IsDMolFile, DoDMolFile};
