// The formatted trajectory (HISTORY) a molecular-dynamics package writes
// during a run: a title; "keytrj imcon natms", to which newer versions add
// the number of frames and of lines; then per frame
//   timestep  nstep  natms  keytrj  imcon  tstep  [time]
//   the three cell vectors (A), one a line, when imcon > 0 (some versions
//   write them, as zeros, without boundaries too)
//   per atom: "name index mass charge [displacement]", its position x y z
//   (A), then its velocity and its force lines as keytrj says (0 position
//   only, 1 and velocity, 2 and force), which are read past.
// imcon is the kind of boundaries (0 none, 1 cubic, 2 orthorhombic, 3 any
// parallelepiped, 6 a slab periodic in x and y); 4, 5 and 7 are shapes that
// are no cell and are refused. The package puts the origin at the cell's
// centre: a box's fractional coordinates are M^-1 r + 1/2, and every atom is
// put in the cell. Without boundaries a frame is a molecule.
//
// Each frame is one structure, named by its step. An atom's element comes
// from its mass and name (NamedMassElements): the mass decides where it and
// the name disagree ("CA" of 12.011 u is carbon), a name that is an
// element's symbol where the mass names no one element. The Log says which
// names were read how. The unformatted trajectory is no text and is refused by the
// path.
#include "StoredLimits.h"
#include "import/ElementOfMass.h"
#include "import/ImportText.h"
#include "import/ImportTypes.h"
#include "import/SimulationBox.h"
#include "import/StructureFill.h"

#include <map>
#include <string>

namespace {

constexpr long kMaxKeytrj = 2;
constexpr long kMaxImcon = 7;
constexpr long kSlabImcon = 6;

// keytrj and imcon of a header or timestep line's fields from `first` on.
bool Keys(const std::vector<std::string_view> &t, size_t first, long &keytrj, long &imcon) {
  if (t.size() < first + 2)
    return false;
  const auto k = ImportWholeNumber(t[first]), m = ImportWholeNumber(t[first + 1]);
  if (!k || !m || *k < 0 || *k > kMaxKeytrj || *m < 0 || *m > kMaxImcon)
    return false;
  keytrj = *k, imcon = *m;
  return true;
}

bool IsTimestepLine(std::string_view line) {
  const auto t = ImportTokens(line);
  return !t.empty() && t[0] == "timestep";
}

struct HistoryReader {
  const ImportSource &source;
  ImportResult &result;
  ImportTextLines lines;
  std::string title;

  bool Fail(size_t index, std::string what) { return RefuseImport(result, static_cast<int>(index + 1), std::move(what)); }
  bool Frame(size_t &i);
};

// One frame from its timestep line; `i` is left on the line after it.
bool HistoryReader::Frame(size_t &i) {
  const size_t stepLine = i++;
  const auto t = ImportTokens(lines[stepLine]);
  long keytrj = 0, imcon = 0;
  const auto step = t.size() >= 2 ? ImportWholeNumber(t[1]) : std::nullopt;
  const auto natms = t.size() >= 3 ? ImportWholeNumber(t[2]) : std::nullopt;
  if (!step || !natms || !Keys(t, 3, keytrj, imcon))
    return Fail(stepLine, "the line is not \"timestep nstep natms keytrj imcon\" (keytrj 0 to 2, imcon 0 to 7)");
  if (*natms < 1 || static_cast<size_t>(*natms) > kMaxImportSites)
    return Fail(stepLine, "the atom count is not a number of atoms this version opens");
  if (imcon == 4 || imcon == 5 || imcon == 7)
    return Fail(stepLine, "boundaries of kind " + std::to_string(imcon) +
                              " (truncated octahedron, rhombic dodecahedron or hexagonal prism) are not read");
  const size_t recordLines = 2 + static_cast<size_t>(keytrj);
  // Some versions write the three cell lines (zeros) without boundaries too:
  // an atom's line begins with its name, a cell line with a number.
  double ignored[3];
  const size_t cellLines = imcon > 0 || (i < lines.size() && ImportLeadingNumbers(lines[i], 3, ignored)) ? 3 : 0;
  const size_t end = i + cellLines + static_cast<size_t>(*natms) * recordLines;
  ImportedStructure *s = BeginImportedStructure(result, "timestep " + std::to_string(*step), static_cast<int>(stepLine + 1));
  if (!s) { // beyond the structures a file may hold: counted, not read
    i = std::min(end, lines.size());
    return true;
  }
  s->extras.title = s->name;
  s->extras.notes = title;

  SimulationBox box;
  if (imcon > 0) {
    for (int k = 0; k < 3; k++, i++)
      if (i >= lines.size() || !ImportLeadingNumbers(lines[i], 3, box.vectors[k]))
        return Fail(std::min(i, lines.size() - 1), "the line is not a cell vector of three numbers");
    for (int k = 0; k < 3; k++)
      box.origin[k] = -0.5 * (box.vectors[0][k] + box.vectors[1][k] + box.vectors[2][k]);
    if (!SetImportBox(*s, box, result.error, static_cast<int>(i)))
      return false;
    if (imcon == kSlabImcon)
      ImportWarning(*s, static_cast<int>(stepLine + 2),
                    "the boundaries are a slab, periodic in x and y only: the cell's c is the box's.");
  } else {
    s->crystal.molecule = 1;
    i += cellLines;
  }

  NamedMassElements elements;
  for (long n = 0; n < *natms; n++, i += recordLines) {
    if (i + recordLines > lines.size() || IsTimestepLine(lines[i]))
      return Fail(std::min(i, lines.size() - 1), "the frame holds " + std::to_string(n) + " of the " +
                                                     std::to_string(*natms) + " atoms its timestep line counts");
    const auto head = ImportTokens(lines[i]);
    const auto mass = head.size() >= 3 ? ImportNumber(head[2]) : std::nullopt;
    if (!mass)
      return Fail(i, "the line is not an atom's \"name index mass charge\"");
    double xyz[3], skipped[3];
    std::string_view bad;
    if (!ImportLeadingNumbers(lines[i + 1], 3, xyz, &bad))
      return bad.empty()
                 ? Fail(i + 1, "the line is not the position (three numbers) of atom " + std::string(head[0]))
                 : RefuseNumber(result, static_cast<int>(i + 2), "coordinate", bad, "atom " + std::string(head[0]));
    for (size_t k = 2; k < recordLines; k++)
      if (!ImportLeadingNumbers(lines[i + k], 3, skipped, &bad))
        return bad.empty() ? Fail(i + k, std::string(k == 2 ? "the velocity" : "the force") + " line of atom " +
                                             std::string(head[0]) + " is not three numbers")
                           : RefuseNumber(result, static_cast<int>(i + k + 1), k == 2 ? "velocity" : "force", bad,
                                          "atom " + std::string(head[0]));
    const int line = static_cast<int>(i + 1);
    const ElementCode element = elements.Element(*s, line, head[0], head[2]);
    if (!(s->crystal.molecule ? AppendImportAtom(result, *s, head[0], element, xyz, line) != nullptr
                              : AppendBoxAtom(result, *s, box, head[0], element, xyz, line)))
      return false;
  }

  elements.Log(*s);
  return FinishImportedStructure(*s, result.error);
}

} // namespace

bool IsDLPOLYHistoryFile(const ImportSource &source) {
  const auto lines = ImportLines(std::string_view(source.text).substr(0, 4096));
  long keytrj = 0, imcon = 0;
  if (lines.size() < 3)
    return false;
  const auto t = ImportTokens(lines[1]);
  return (t.size() == 3 || t.size() == 5) && Keys(t, 0, keytrj, imcon) && ImportWholeNumber(t[2]) &&
         IsTimestepLine(lines[2]);
}

bool DoDLPOLYHistoryFile(const ImportSource &source, ImportResult &result) {
  if (RefuseCutInsideNumber(source, result))
    return false;
  HistoryReader r{source, result, ImportLines(source.text), {}};
  long keytrj = 0, imcon = 0;
  if (r.lines.size() < 3 || !Keys(ImportTokens(r.lines[1]), 0, keytrj, imcon))
    return r.Fail(1, "the second line is not \"keytrj imcon natms\" (keytrj 0 to 2, imcon 0 to 7)");
  r.title = std::string(TrimImport(r.lines[0]));
  size_t i = 2;
  while (i < r.lines.size()) {
    if (TrimImport(r.lines[i]).empty()) {
      i++;
      continue;
    }
    if (!IsTimestepLine(r.lines[i]))
      return r.Fail(i, "the line is no \"timestep\" line where a frame begins");
    if (!r.Frame(i))
      return false;
  }
  if (result.structures.empty())
    return r.Fail(r.lines.size() - 1, "the file holds no frame");
  return true;
}

extern const ImportFormat gDLPOLYHistoryImport{"DL_POLY HISTORY", "DL_POLY trajectories", "", "HISTORY*",
                                               IsDLPOLYHistoryFile, DoDLPOLYHistoryFile};
