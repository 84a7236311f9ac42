// WIEN2k structure files (.struct): Fortran fixed columns with the lattice
// type, the cell in bohr, every position of each atom class ("MULT"), and
// the symmetry operators at the end.
#include "FractionalPlaces.h"
#include "SymmetryCards.h"
#include "import/ImportTypes.h"
#include "import/ImportSymmetry.h"
#include "import/ElementOfName.h"
#include "import/ImportText.h"
#include "import/NameEnding.h"
#include "import/StructureFill.h"
#include "import/TextNumbers.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <cmath>
#include <string>

namespace {

constexpr double kBohr = 0.529177210903; // A
// Operators the file may list.
constexpr long kMaxFileOperators = 1000;
// An atomic number read as this far from a whole one is a virtual atom.
constexpr double kWholeZ = 1e-3;
// A rotation's entry taken to hexagonal axes is whole within this.
constexpr double kWholeEntry = 1e-6;
// No atomic number is larger.
constexpr double kLargestZ = 200.0;

using Vec = std::array<double, 3>;

struct Position {
  Vec xyz{};
  int line = 0;
};

struct AtomClass {
  std::string name;
  ElementCode element = kBlankElement;
  std::vector<Position> positions;
};

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// The text after "key=" ("X=0.12500000"), up to the next blank or key;
// empty when the key is missing.
std::string_view FieldText(std::string_view line, std::string_view key) {
  const size_t at = line.find(key);
  if (at == std::string_view::npos)
    return {};
  std::string_view rest = line.substr(at + key.size());
  size_t begin = 0;
  while (begin < rest.size() && rest[begin] == ' ')
    begin++;
  size_t end = begin;
  // The next key is a letter followed by '=' ("X=0.125Y=0.25"); any other
  // letter belongs to the field and makes it no number.
  while (end < rest.size() && rest[end] != ' ' &&
         !(std::isalpha(static_cast<unsigned char>(rest[end])) && end + 1 < rest.size() && rest[end + 1] == '='))
    end++;
  return rest.substr(begin, end - begin);
}

std::optional<double> Field(std::string_view line, std::string_view key) {
  const std::string_view text = FieldText(line, key);
  return text.empty() ? std::nullopt : ImportNumber(text);
}

class Reader {
public:
  Reader(const ImportSource &source, ImportResult &result)
      : source_(source), result_(result), lines_(ImportLines(source.text)) {}
  bool Read();

private:
  bool ReadCell(double cell[6]);
  bool ReadClass(size_t &line, AtomClass &atom, size_t index);
  void ReadOperators(size_t line);
  bool OperatorsOnHexagonalAxes();
  bool OperatorsMakeEveryPosition(const CentringVectors &centring, int count) const;

  const ImportSource &source_;
  ImportResult &result_;
  ImportTextLines lines_;
  ImportedStructure *s_ = nullptr;
  std::vector<AtomClass> classes_;
  std::vector<GEP> ops_;
};

bool Reader::ReadCell(double cell[6]) {
  const std::string_view l = lines_[3];
  const auto tokens = ImportTokens(l);
  bool free = tokens.size() == 6;
  for (size_t k = 0; free && k < 6; k++)
    free = ImportNumber(tokens[k]).has_value();
  for (size_t k = 0; k < 6; k++) {
    // Fortran 6F10.6: the fields may run together ("90.000000120.000000").
    const std::string_view field = free ? tokens[k] : TrimImport(ImportColumns(l, 1 + 10 * k, 10));
    const auto v = ImportNumber(field);
    if (!v && k < 3)
      return RefuseNumber(result_, 4, "cell length", field);
    cell[k] = v ? *v : 0.0;
  }
  return true;
}

bool Reader::ReadClass(size_t &line, AtomClass &atom, size_t index) {
  const std::string which = "atom " + std::to_string(index + 1);
  auto position = [&](size_t n) -> bool {
    if (n >= lines_.size())
      return RefuseImport(result_, static_cast<int>(lines_.size() + 1),
                          "the file ends before the positions of " + which);
    Position p;
    p.line = static_cast<int>(n + 1);
    // "ATOM  -1: X=0.12500000 Y=...", or in older files the index and three
    // numbers.
    const std::string_view l = lines_[n];
    const auto tokens = ImportTokens(l);
    const bool labelled = Contains(l, "X=");
    const char *keys[3] = {"X=", "Y=", "Z="};
    for (size_t k = 0; k < 3; k++) {
      const std::string_view text = labelled ? FieldText(l, keys[k]) : tokens.size() >= 4 ? tokens[1 + k] : std::string_view{};
      const auto v = ImportNumber(text);
      if (!v)
        return RefuseNumber(result_, static_cast<int>(n + 1), std::string(1, keys[k][0]) + " coordinate", text, which);
      p.xyz[k] = *v;
    }
    atom.positions.push_back(p);
    return true;
  };
  if (!position(line))
    return false;
  line++;
  std::optional<double> mult;
  if (line < lines_.size()) {
    const auto tokens = ImportTokens(lines_[line]);
    mult = Contains(lines_[line], "MULT=") ? Field(lines_[line], "MULT=")
           : tokens.empty()                ? std::nullopt
                                           : ImportNumber(tokens[0]);
  }
  if (!mult || *mult < 1 || *mult > 192 || *mult != std::round(*mult))
    return RefuseImport(result_, static_cast<int>(line + 1),
                        "the multiplicity (MULT=) of " + which + " is missing or no count");
  line++;
  for (long k = 1; k < std::lround(*mult); k++, line++)
    if (!position(line))
      return false;
  if (line >= lines_.size())
    return RefuseImport(result_, static_cast<int>(line + 1), "the file ends before the name of " + which);
  const std::string_view nameLine = lines_[line];
  atom.name = std::string(TrimImport(ImportColumns(nameLine, 1, 10)));
  std::optional<ElementCode> element;
  // "Z: 22.0", or in older files the last number of the line.
  const auto nameTokens = ImportTokens(nameLine.substr(std::min<size_t>(10, nameLine.size())));
  auto z = Field(nameLine, "Z:");
  if (!z && nameTokens.size() >= 3)
    z = ImportNumber(nameTokens.back());
  if (z && *z >= 0.0 && *z <= kLargestZ) {
    element = ElementFromAtomicNumber(std::lround(*z));
    if (element && std::fabs(*z - std::round(*z)) > kWholeZ)
      ImportWarning(*s_, static_cast<int>(line + 1),
                    which + " has the atomic number " + FormatFixed(*z, 3) + "; it is drawn as " +
                        ElementSymbolText(*element) + ".");
  }
  if (!element)
    element = ElementOfLabel(*s_, static_cast<int>(line + 1), atom.name);
  if (!element) {
    ImportWarning(*s_, static_cast<int>(line + 1), which + " names no element; it is drawn as a placeholder.");
    element = kPlaceholderElement;
  }
  atom.element = *element;
  line++;
  // The local rotation matrix: three lines, with or without their heading.
  line += 3;
  return true;
}

void Reader::ReadOperators(size_t line) {
  while (line < lines_.size() && TrimImport(lines_[line]).empty())
    line++;
  // "  48      NUMBER OF SYMMETRY OPERATIONS", or the number alone.
  if (line >= lines_.size() ||
      !(Contains(lines_[line], "SYMMETRY OPERATIONS") || ImportTokens(lines_[line]).size() == 1))
    return;
  const auto count = ImportNumber(TrimImport(ImportColumns(lines_[line], 1, 4)));
  if (!count || *count < 1 || *count > kMaxFileOperators) {
    ImportWarning(*s_, static_cast<int>(line + 1), "the number of symmetry operators is no count; they are not read.");
    return;
  }
  line++;
  for (long k = 0; k < std::lround(*count); k++) {
    GEP g;
    for (int row = 0; row < 3; row++, line++) {
      const std::string_view l = line < lines_.size() ? lines_[line] : std::string_view();
      // Fortran 3I2,F11.8: " 0-1 0 0.50000000".
      for (int col = 0; col < 3; col++) {
        const auto v = ImportNumber(TrimImport(ImportColumns(l, 1 + 2 * static_cast<size_t>(col), 2)));
        if (!v || std::fabs(*v) > 1.0) {
          ImportWarning(*s_, static_cast<int>(line + 1),
                        "symmetry operator " + std::to_string(k + 1) + " is damaged; the operators are not used.");
          ops_.clear();
          return;
        }
        g.rotation[row][col] = static_cast<int16_t>(*v);
      }
      const auto t = ImportNumber(TrimImport(ImportColumns(l, 7, 11)));
      g.translation[row] = t ? *t : 0.0;
    }
    line++; // the operator's number
    ops_.push_back(g);
  }
}

// Rhombohedral coordinates on the hexagonal axes of the obverse setting.
Vec HexagonalFromRhombohedral(const Vec &r) {
  return {(2.0 * r[0] - r[1] - r[2]) / 3.0, (r[0] + r[1] - 2.0 * r[2]) / 3.0, (r[0] + r[1] + r[2]) / 3.0};
}

// The operators, read on rhombohedral axes, on the hexagonal ones: W
// becomes H W H^-1 and w becomes H w, with H the change of axes above and
// H^-1 its inverse (hexagonal coordinates to rhombohedral ones). False when
// an operator is no operator of the lattice (a rotation that is not whole).
bool Reader::OperatorsOnHexagonalAxes() {
  constexpr int kRhombohedralOfHexagonal[3][3] = {{1, 0, 1}, {-1, 1, 1}, {0, -1, 1}};
  for (GEP &g : ops_) {
    GEP h;
    for (int i = 0; i < 3; i++) {
      Vec column{};
      for (int k = 0; k < 3; k++)
        column[static_cast<size_t>(k)] = kRhombohedralOfHexagonal[k][i];
      Vec image{};
      for (int k = 0; k < 3; k++)
        for (int m = 0; m < 3; m++)
          image[static_cast<size_t>(k)] += g.rotation[k][m] * column[static_cast<size_t>(m)];
      const Vec moved = HexagonalFromRhombohedral(image);
      for (int k = 0; k < 3; k++) {
        const double whole = std::round(moved[static_cast<size_t>(k)]);
        if (std::fabs(moved[static_cast<size_t>(k)] - whole) > kWholeEntry)
          return false;
        h.rotation[k][i] = static_cast<int16_t>(whole);
      }
    }
    const Vec t = HexagonalFromRhombohedral({g.translation[0], g.translation[1], g.translation[2]});
    for (int k = 0; k < 3; k++)
      h.translation[k] = t[static_cast<size_t>(k)];
    g = h;
  }
  return true;
}

// True when the operators take the first position of each class to all of
// its others: the first positions and the operators then make the cell.
bool Reader::OperatorsMakeEveryPosition(const CentringVectors &centring, int count) const {
  if (ops_.empty())
    return false;
  // The images of each class's first position, kept by class.
  FractionalPlaces images;
  for (size_t k = 0; k < classes_.size(); k++)
    for (const GEP &g : ops_) {
      double image[3];
      ApplyOperator(g, classes_[k].positions[0].xyz.data(), image);
      for (int c = 0; c < count; c++) {
        double moved[3];
        for (int i = 0; i < 3; i++)
          moved[i] = image[i] + centring[static_cast<size_t>(c)][static_cast<size_t>(i)];
        images.Insert(moved, static_cast<uint32_t>(k));
      }
    }
  for (size_t k = 0; k < classes_.size(); k++)
    for (const Position &p : classes_[k].positions)
      if (images.Find(p.xyz.data(), static_cast<uint32_t>(k)) == FractionalPlaces::kNone)
        return false;
  return true;
}

bool Reader::Read() {
  s_ = BeginImportedStructure(result_, source_.name);
  if (lines_.size() < 4)
    return RefuseImport(result_, static_cast<int>(lines_.size() + 1), "the file ends before the cell");
  s_->extras.title = std::string(TrimImport(lines_[0]));
  const std::string lattice(TrimImport(ImportColumns(lines_[1], 1, 4)));
  auto nat = ImportNumber(TrimImport(ImportColumns(lines_[1], 28, 3)));
  if (!nat)
    if (const size_t colon = lines_[1].find(':'); colon != std::string_view::npos) {
      const auto t = ImportTokens(lines_[1].substr(colon + 1));
      nat = t.empty() ? std::nullopt : ImportNumber(t[0]);
    }
  if (!nat || *nat < 1 || *nat != std::round(*nat))
    return RefuseImport(result_, 2, "the number of atoms (NONEQUIV.ATOMS) is missing or no count");
  // Each atom takes at least six lines.
  if (*nat > static_cast<double>(lines_.size()))
    return RefuseImport(result_, 2, "the number of atoms (NONEQUIV.ATOMS) is more than the file holds");
  double cell[6];
  if (!ReadCell(cell))
    return false;
  // The lengths are in bohr whatever "unit=" on line 3 says: that word sets
  // the units of the program's output, not of this file.
  for (int k = 0; k < 3; k++)
    cell[k] *= kBohr;
  // The lattice type: its centring and the angles it implies.
  char letter = 'P';
  if (lattice == "H" || lattice == "R") {
    cell[3] = cell[4] = 90.0;
    cell[5] = 120.0;
    letter = lattice[0];
  } else if (lattice == "F" || lattice == "B" || lattice == "CXY" || lattice == "CYZ") {
    cell[3] = cell[4] = cell[5] = 90.0;
    letter = lattice == "F" ? 'F' : lattice == "B" ? 'I' : lattice == "CXY" ? 'C' : 'A';
  } else if (lattice == "CXZ") {
    cell[3] = cell[4] = 90.0;
    letter = 'B';
  } else if (lattice != "P") {
    return RefuseImport(result_, 2, "\"" + lattice + "\" is no lattice type (P, F, B, CXY, CYZ, CXZ, R or H)");
  }
  for (int k = 3; k < 6; k++)
    if (cell[k] == 0.0)
      cell[k] = 90.0; // an angle left blank
  if (!SetImportCell(*s_, result_.error, 4, cell))
    return false;

  size_t line = 4;
  for (long k = 0; k < std::lround(*nat); k++) {
    AtomClass &atom = classes_.emplace_back();
    if (!ReadClass(line, atom, static_cast<size_t>(k)))
      return false;
  }
  ReadOperators(line);

  if (letter == 'R') {
    // Positions and operators on rhombohedral axes; the cell on hexagonal
    // ones (obverse).
    for (AtomClass &atom : classes_)
      for (Position &p : atom.positions)
        p.xyz = HexagonalFromRhombohedral(p.xyz);
    if (!OperatorsOnHexagonalAxes())
      ops_.clear();
  }
  int16_t count = 0;
  CentringVectors centring{};
  Bravais(letter, count, centring);
  count = std::max<int16_t>(count, 1);
  const bool useOperators = OperatorsMakeEveryPosition(centring, count);
  if (!ops_.empty() && !useOperators)
    ImportWarning(*s_, 0,
                  "the symmetry operators do not make the positions the file lists; the positions are used as "
                  "they stand.");
  std::vector<GEP> operators;
  if (useOperators) {
    for (int c = 0; c < count; c++)
      for (GEP g : ops_) {
        for (int k = 0; k < 3; k++)
          g.translation[k] += centring[static_cast<size_t>(c)][static_cast<size_t>(k)];
        operators.push_back(g);
      }
  } else {
    for (int c = 0; c < count; c++) {
      GEP g;
      for (int k = 0; k < 3; k++) {
        g.rotation[k][k] = 1;
        g.translation[k] = centring[static_cast<size_t>(c)][static_cast<size_t>(k)];
      }
      operators.push_back(g);
    }
  }
  if (!SetSymmetryFromOperators(*s_, operators, 2, result_.error))
    return false;
  for (size_t k = 0; k < classes_.size(); k++) {
    const AtomClass &atom = classes_[k];
    const size_t n = useOperators ? 1 : atom.positions.size();
    for (size_t j = 0; j < n; j++) {
      const Position &p = atom.positions[j];
      const std::string label = atom.name.empty() ? ElementSymbolText(atom.element) + std::to_string(k + 1)
                                                  : atom.name + (n > 1 ? "_" + std::to_string(j + 1) : "");
      if (!AppendImportSite(result_, *s_, label, atom.element, p.xyz.data(), p.line))
        return false;
    }
  }
  if (!s_->extras.title.empty())
    s_->name = s_->extras.title;
  return FinishImportedStructure(*s_, result_.error);
}

} // namespace

bool IsWIEN2kFile(const ImportSource &source) {
  // The lattice type, the cell in ten-column fields, then a position.
  const auto lines = ImportLines(std::string_view(source.text).substr(0, 1 << 14));
  if (lines.size() < 7)
    return false;
  // A file named .struct needs only the layout, as does one whose second
  // line counts the inequivalent atoms in the format's words: the reader
  // names a lattice type it does not know, or a cell length that is no
  // number.
  const std::string_view lattice = TrimImport(ImportColumns(lines[1], 1, 4));
  bool known = NameEndsWith(source.name, {".struct"}) || Contains(lines[1], "NONEQUIV.ATOMS");
  if (!known) {
    for (std::string_view type : {"P", "F", "B", "CXY", "CYZ", "CXZ", "R", "H"})
      known = known || lattice == type;
    for (size_t k = 0; known && k < 3; k++)
      known = ImportNumber(TrimImport(ImportColumns(lines[3], 1 + 10 * k, 10))).has_value();
  }
  const auto position = ImportTokens(lines[4]);
  return known && (Contains(lines[4], "X=") ||
                   (position.size() == 4 && std::all_of(position.begin(), position.end(), [](std::string_view t) {
                      return ImportNumber(t).has_value();
                    })));
}

bool DoWIEN2kFile(const ImportSource &source, ImportResult &result) {
  return !RefuseCutInsideNumber(source, result) && Reader(source, result).Read();
}

extern const ImportFormat gWIEN2kImport{"WIEN2k", "WIEN2k structure files", "struct", "", IsWIEN2kFile, DoWIEN2kFile};
