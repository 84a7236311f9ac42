// XYZ files: frames of a count line, a comment line and one line per atom,
// "El x y z" in Angstrom, the element a symbol (any case, possibly followed
// by a label: "CL", "C01") or an atomic number. The extended form's comment
// holds key=value pairs: Lattice="ax ay az bx by bz cx cy cz" makes the frame
// a crystal in P 1, and Properties= says in which columns the species and the
// positions stand.
#include "CellFrame.h"
#include "import/ImportSymmetry.h"
#include "import/ImportText.h"
#include "import/NameEnding.h"
#include "import/SimulationBox.h"
#include "import/ImportTypes.h"
#include "import/StructureFill.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace {

// Atom lines the detector checks in a file its name does not call XYZ.
constexpr size_t kDetectedAtomLines = 20;
// The detector reads no further into the text.
constexpr size_t kDetectBytes = size_t{1} << 16;
// The widest property the Properties key may give (values per atom): wider
// than any per-atom tensor, and small enough that the columns of a comment
// line add up without overflow.
constexpr long kMaxPropertyWidth = 1024;

std::optional<long> CountOf(std::string_view line) {
  const auto tokens = ImportTokens(line);
  if (tokens.size() != 1)
    return std::nullopt;
  long n = 0;
  auto [end, ec] = std::from_chars(tokens[0].data(), tokens[0].data() + tokens[0].size(), n);
  if (ec != std::errc() || end != tokens[0].data() + tokens[0].size() || n < 1)
    return std::nullopt;
  return n;
}

// An element symbol, an atomic number, or "X", which other programs write
// for a placeholder atom.
std::optional<ElementCode> ElementOfToken(std::string_view token) {
  if (token == "X" || token == "x")
    return kPlaceholderElement;
  if (!token.empty() && std::isdigit(static_cast<unsigned char>(token[0]))) {
    long z = 0;
    auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), z);
    if (ec != std::errc() || end != token.data() + token.size())
      return std::nullopt;
    return ElementFromAtomicNumber(z);
  }
  return ElementFromSymbol(token);
}

// The value of key=value (or key="value with blanks") in an extended
// comment; none when the key is not there.
std::optional<std::string> ExtendedValue(std::string_view comment, std::string_view key) {
  size_t at = 0;
  while (at < comment.size()) {
    while (at < comment.size() && std::isspace(static_cast<unsigned char>(comment[at])))
      at++;
    const size_t keyStart = at;
    while (at < comment.size() && comment[at] != '=' && !std::isspace(static_cast<unsigned char>(comment[at])))
      at++;
    const std::string_view k = comment.substr(keyStart, at - keyStart);
    if (at >= comment.size() || comment[at] != '=') {
      at++;
      continue;
    }
    at++; // '='
    std::string value;
    if (at < comment.size() && (comment[at] == '"' || comment[at] == '\'')) {
      const char quote = comment[at++];
      const size_t close = comment.find(quote, at);
      const size_t stop = close == std::string_view::npos ? comment.size() : close;
      value.assign(comment.substr(at, stop - at));
      at = stop + 1;
    } else {
      const size_t start = at;
      while (at < comment.size() && !std::isspace(static_cast<unsigned char>(comment[at])))
        at++;
      value.assign(comment.substr(start, at - start));
    }
    if (ImportEqualNoCase(k, key))
      return value;
  }
  return std::nullopt;
}

// The comment as a window title: text with a letter in it, not the
// key=value pairs of the extended form nor a line of numbers.
bool CommentIsTitle(std::string_view comment) {
  comment = TrimImport(comment);
  if (comment.empty() || comment.find('=') != std::string_view::npos)
    return false;
  for (char ch : comment)
    if (std::isalpha(static_cast<unsigned char>(ch)))
      return true;
  return false;
}

// The columns of the species and of x (y, z follow) the Properties key
// gives ("species:S:1:pos:R:3:..."); the plain layout without it.
bool PropertyColumns(std::string_view comment, size_t &species, size_t &pos) {
  species = 0;
  pos = 1;
  const auto props = ExtendedValue(comment, "Properties");
  if (!props)
    return true;
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t k = 0; k <= props->size(); k++)
    if (k == props->size() || (*props)[k] == ':') {
      fields.push_back(props->substr(start, k - start));
      start = k + 1;
    }
  if (fields.size() % 3 != 0)
    return false;
  bool sawSpecies = false, sawPos = false;
  size_t column = 0;
  for (size_t k = 0; k + 2 < fields.size(); k += 3) {
    long width = 0;
    auto [end, ec] = std::from_chars(fields[k + 2].data(), fields[k + 2].data() + fields[k + 2].size(), width);
    if (ec != std::errc() || width < 1 || width > kMaxPropertyWidth)
      return false;
    if (ImportEqualNoCase(fields[k], "species") && !sawSpecies)
      species = column, sawSpecies = true;
    if (ImportEqualNoCase(fields[k], "pos") && width == 3 && !sawPos)
      pos = column, sawPos = true;
    column += static_cast<size_t>(width);
  }
  return sawSpecies && sawPos;
}

// An atom line: an element or atomic number and three numbers.
bool LooksLikeAtom(std::string_view line) {
  const auto t = ImportTokens(line);
  return t.size() >= 4 && ElementOfToken(t[0]) && ImportNumber(t[1]) && ImportNumber(t[2]) && ImportNumber(t[3]);
}

// The cell of three lattice vectors (rows) and its frame, which takes a
// Cartesian point to fractional coordinates.
struct Lattice {
  double rows[3][3];
  CellFrame frame;
  double cell[6];
};

// The lattice of a Lattice= value; a left-handed one keeps its hand
// (KeepBoxHand) when it is taken.
std::optional<Lattice> LatticeOf(std::string text) {
  // Some writers separate the numbers with commas too.
  std::replace(text.begin(), text.end(), ',', ' ');
  const auto t = ImportTokens(text);
  if (t.size() != 9)
    return std::nullopt;
  double rows[3][3];
  for (size_t k = 0; k < 9; k++) {
    const auto v = ImportNumber(t[k]);
    if (!v)
      return std::nullopt;
    rows[k / 3][k % 3] = *v;
  }
  Lattice lat;
  std::copy(&rows[0][0], &rows[0][0] + 9, &lat.rows[0][0]);
  if (!CellFrameOfRows(rows, lat.frame))
    return std::nullopt;
  return lat;
}

// One frame from its count line on; `next` is left at the line after it.
bool ReadFrame(const ImportTextLines &lines, size_t &next, long count, ImportResult &result,
               size_t frameNumber) {
  const size_t countLine = next;
  const int commentLine = static_cast<int>(countLine + 2);
  const std::string_view comment = countLine + 1 < lines.size() ? lines[countLine + 1] : std::string_view();
  const size_t available = lines.size() > countLine + 2 ? lines.size() - countLine - 2 : 0;
  if (available < static_cast<size_t>(count)) {
    if (frameNumber > 0) {
      // A trajectory cut short: the whole frames before stay.
      ImportWarning(result.structures.back(), static_cast<int>(countLine + 1),
                    "the count promises " + std::to_string(count) + " atoms, but the file ends after " +
                        std::to_string(available) + "; that last frame is left out.");
      next = lines.size();
      return true;
    }
    return RefuseImport(result, static_cast<int>(countLine + 1),
                        "the count promises " + std::to_string(count) + " atoms, but only " +
                            std::to_string(available) + " line(s) follow the comment");
  }
  const std::string trimmedComment(TrimImport(comment));
  ImportedStructure *s = BeginImportedStructure(result,
                                                CommentIsTitle(trimmedComment) && trimmedComment.size() <= 60
                                                    ? trimmedComment
                                                    : "frame " + std::to_string(frameNumber + 1),
                                                commentLine);
  if (!s) {
    next = countLine + 2 + static_cast<size_t>(count);
    return true;
  }
  if (CommentIsTitle(trimmedComment))
    s->extras.title = trimmedComment;
  size_t speciesColumn = 0, posColumn = 1;
  if (!PropertyColumns(comment, speciesColumn, posColumn))
    return RefuseImport(result, commentLine, "the Properties key names no species and pos columns");
  std::optional<Lattice> lattice;
  if (const auto text = ExtendedValue(comment, "Lattice")) {
    lattice = LatticeOf(*text);
    if (!lattice)
      return RefuseImport(result, commentLine, "the Lattice key holds no three independent vectors");
    const auto pbc = ExtendedValue(comment, "pbc");
    if (pbc && pbc->find_first_of("TtYy1") == std::string::npos) {
      ImportWarning(*s, commentLine, "the lattice is not periodic (pbc) and is left out.");
      lattice.reset();
    }
  }
  if (lattice) {
    KeepBoxHand(*s, lattice->rows, commentLine);
    CellFrameOfRows(lattice->rows, lattice->frame);
    CellOfRows(lattice->rows, lattice->cell);
    if (!SetImportCell(*s, result.error, commentLine, lattice->cell))
      return false;
    SetSymmetryFromSymbol(*s, "P 1", 0, commentLine);
  } else {
    s->crystal.molecule = 1;
  }
  for (long k = 0; k < count; k++) {
    const size_t index = countLine + 2 + static_cast<size_t>(k);
    const int line = static_cast<int>(index + 1);
    const auto t = ImportTokens(lines[index]);
    if (t.size() <= std::max(speciesColumn, posColumn + 2))
      return RefuseImport(result, line, "an atom line needs an element and three coordinates");
    double x[3];
    for (size_t d = 0; d < 3; d++) {
      const auto v = ImportNumber(t[posColumn + d]);
      if (!v)
        return RefuseImport(result, line, "the coordinate \"" + std::string(t[posColumn + d]) + "\" is not a number");
      x[d] = *v;
    }
    const std::string_view label = t[speciesColumn];
    auto element = ElementOfToken(label);
    if (!element) {
      ImportWarning(*s, line,
                    "\"" + std::string(label) + "\" names no element; the atom is kept as " +
                        ElementSymbolText(kPlaceholderElement) + ".");
      element = kPlaceholderElement;
    }
    // Atomic numbers become element symbols as labels.
    const std::string name =
        std::isdigit(static_cast<unsigned char>(label[0])) ? ElementSymbolText(*element) : std::string(label);
    AsymmetricUnitRecord *site = nullptr;
    if (lattice) {
      double f[3];
      FractionalFromCartesian(lattice->frame, x, f);
      site = AppendImportSite(result, *s, name, *element, f, line);
    } else {
      site = AppendImportAtom(result, *s, name, *element, x, line);
    }
    if (!site)
      return false;
  }
  next = countLine + 2 + static_cast<size_t>(count);
  return FinishImportedStructure(*s, result.error);
}

} // namespace

bool IsXYZFile(const ImportSource &source) {
  // The head of the text only: its last line may be cut where the head ends.
  const std::string_view text = source.text;
  const std::string_view head = text.substr(0, kDetectBytes);
  ImportTextLines lines = ImportLines(head);
  // A line the head cuts is kept apart: its first words still show a named
  // file's layout.
  std::string_view cut;
  if (head.size() < text.size() && !lines.empty()) {
    cut = lines.back();
    lines = ImportLines(head.substr(0, static_cast<size_t>(cut.data() - head.data())));
  }
  size_t first = 0;
  while (first < lines.size() && TrimImport(lines[first]).empty())
    first++;
  if (first >= lines.size())
    return false;
  const auto count = CountOf(lines[first]);
  // A file named XYZ needs only the layout: a count, a comment and a line of
  // four words. The reader says what is wrong with the rest.
  if (count && NameEndsWith(source.name, {".xyz", ".extxyz"})) {
    if (first + 2 < lines.size())
      return ImportTokens(lines[first + 2]).size() >= 4;
    return first + 2 == lines.size() && ImportTokens(cut).size() >= 4;
  }
  if (!count || first + 2 >= lines.size())
    return false;
  if (!LooksLikeAtom(lines[first + 2]))
    return false;
  // By content alone, the whole first frame must be there: a count line
  // followed directly by atoms (with no comment) is another format. The
  // lines are counted, not listed.
  const size_t total = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + (text.back() == '\n' ? 0 : 1);
  if (total - first - 2 < static_cast<size_t>(*count))
    return false;
  const size_t check = std::min({static_cast<size_t>(*count), kDetectedAtomLines, lines.size() - first - 2});
  for (size_t k = 0; k < check; k++)
    if (!LooksLikeAtom(lines[first + 2 + k]))
      return false;
  return true;
}

// Content that marks an XYZ file under any name, damaged as it may be: a
// count, a comment, then an atom line that begins with an element's symbol.
bool XYZMarks(const ImportSource &source) {
  const auto lines = ImportLines(std::string_view(source.text).substr(0, kDetectBytes));
  size_t first = 0;
  while (first < lines.size() && TrimImport(lines[first]).empty())
    first++;
  if (first + 2 >= lines.size() || !CountOf(lines[first]))
    return false;
  const auto atom = ImportTokens(lines[first + 2]);
  return atom.size() >= 4 && std::isalpha(static_cast<unsigned char>(atom[0][0])) &&
         ElementFromSymbol(atom[0]).has_value();
}

bool DoXYZFile(const ImportSource &source, ImportResult &result) {
  if (RefuseCutInsideNumber(source, result))
    return false;
  const ImportTextLines lines = ImportLines(source.text);
  size_t next = 0;
  size_t frame = 0;
  while (next < lines.size()) {
    if (TrimImport(lines[next]).empty()) {
      next++;
      continue;
    }
    const auto count = CountOf(lines[next]);
    if (!count)
      return RefuseImport(result, static_cast<int>(next + 1), "a frame must begin with its number of atoms");
    if (!ReadFrame(lines, next, *count, result, frame))
      return false;
    frame++;
  }
  return !result.structures.empty() || RefuseImport(result, 0, "it holds no atom");
}

extern const ImportFormat gXYZImport{"XYZ", "XYZ files", "xyz extxyz", "", IsXYZFile, DoXYZFile, XYZMarks};
