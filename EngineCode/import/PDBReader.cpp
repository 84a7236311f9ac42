// The Protein Data Bank's fixed-column coordinate entries: the ATOM and
// HETATM records of each model, their ANISOU tensors and CONECT bonds, and a
// crystal when CRYST1 gives a real cell.
//
// Columns (1-based, inclusive) as the format describes them:
//   ATOM/HETATM  7-11 serial, 13-16 name, 17 altLoc, 18-20 residue, 22 chain,
//                23-26 residue number, 27 insertion, 31-54 x y z, 77-78 element
//   ANISOU       7-11 serial, 29-70 U11 U22 U33 U12 U13 U23 (units of 1e-4 A^2)
//   CONECT       7-11 serial, 12-31 up to four bonded serials
//   CRYST1       7-54 a b c alpha beta gamma, 56-66 space group
//   SCALEn       11-40 row n of the fractionalising matrix, 46-55 its shift
// Serials beyond 99,999 may be hybrid-36 (as our own writer writes them).
#include "import/AlternateLocations.h"
#include "import/ElementOfName.h"
#include "import/ImportTypes.h"
#include "import/ImportSymmetry.h"
#include "import/ImportText.h"
#include "import/NameEnding.h"
#include "import/StructureFill.h"

#include "CellFrame.h"
#include "Preferences.h"
#include "StoredLimits.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <unordered_map>
#include <unordered_set>

namespace {

// The cell CRYST1 holds in entries that are no crystal.
constexpr double kPlaceholderCellTolerance = 1e-3;
constexpr double kUnitsOfAnisou = 1e-4; // A^2 per unit
constexpr double kLargestDecimalSerial = 99999.0;

struct PDBAtom {
  std::string label;
  ElementCode element = kBlankElement;
  double cart[3] = {0, 0, 0};
  long serial = -1;
  int line = 0; // of its ATOM or HETATM record
  bool hasU = false;
  double U[6] = {0, 0, 0, 0, 0, 0}; // Cartesian U11 U22 U33 U12 U13 U23, A^2
  int16_t group = 0; // the disorder group of its alternate location (AlternateLocations.h)
};

// The first atom of each serial. Serials nearly always count up from 1,
// so those up to about twice the atoms indexed so far are held in a plain
// table; the rest (hybrid-36, gaps) in a map. Each serial is in one of them.
class SerialIndex {
public:
  void Reserve(size_t atoms) { dense_.reserve(2 * atoms + kDenseFloor); }
  // Notes the atom of a serial not yet noted.
  void Add(long serial, uint32_t atom) {
    if (Find(serial))
      return;
    if (serial >= 0 && static_cast<size_t>(serial) <= 2 * size_ + kDenseFloor) {
      if (static_cast<size_t>(serial) >= dense_.size())
        dense_.resize(static_cast<size_t>(serial) + 1, kNone);
      dense_[static_cast<size_t>(serial)] = atom;
    } else {
      sparse_.emplace(serial, atom);
    }
    size_++;
  }
  const uint32_t *Find(long serial) const {
    if (serial >= 0 && static_cast<size_t>(serial) < dense_.size())
      if (const uint32_t &atom = dense_[static_cast<size_t>(serial)]; atom != kNone)
        return &atom;
    const auto it = sparse_.find(serial);
    return it == sparse_.end() ? nullptr : &it->second;
  }
  bool Holds(long serial) const { return Find(serial) != nullptr; }
  size_t Size() const { return size_; }
  // visit(serial, atom) for every serial, in no particular order.
  template <class Visit> void ForEach(Visit visit) const {
    for (size_t k = 0; k < dense_.size(); k++)
      if (dense_[k] != kNone)
        visit(static_cast<long>(k), dense_[k]);
    for (const auto &[serial, atom] : sparse_)
      visit(serial, atom);
  }

private:
  static constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
  static constexpr size_t kDenseFloor = 1024;
  std::vector<uint32_t> dense_;
  std::unordered_map<long, uint32_t> sparse_;
  size_t size_ = 0;
};

struct PDBModel {
  std::string name;
  int line = 0;
  std::vector<PDBAtom> atoms;
  SerialIndex bySerial;
  std::vector<std::pair<int, std::string>> warnings; // of this model's records
  size_t warningsLeftOut = 0;                        // beyond kMaxImportWarnings
};

bool RecordIs(std::string_view line, std::string_view name) {
  if (line.size() < name.size() || line.substr(0, name.size()) != name)
    return false;
  // The rest of the six record-name columns is blank.
  for (size_t k = name.size(); k < 6 && k < line.size(); k++)
    if (line[k] != ' ')
      return false;
  return true;
}

// A serial field: decimal, or hybrid-36 beyond 99,999. -1 for blank or
// unreadable text.
long PDBSerialValue(std::string_view field) {
  field = TrimImport(field);
  if (field.empty())
    return -1;
  if (field.size() == 5 && std::isalpha(static_cast<unsigned char>(field[0]))) {
    const bool upper = std::isupper(static_cast<unsigned char>(field[0]));
    long v = 0;
    for (char ch : field) {
      int d = -1;
      if (ch >= '0' && ch <= '9')
        d = ch - '0';
      else if (upper && ch >= 'A' && ch <= 'Z')
        d = ch - 'A' + 10;
      else if (!upper && ch >= 'a' && ch <= 'z')
        d = ch - 'a' + 10;
      if (d < 0)
        return -1;
      v = v * 36 + d;
    }
    const long span = 26L * 36 * 36 * 36 * 36, offset = 10L * 36 * 36 * 36 * 36;
    return v - offset + 100000 + (upper ? 0 : span);
  }
  // Plain digits, as nearly every file writes them, are their value.
  if (std::all_of(field.begin(), field.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) {
    long v = 0;
    for (char ch : field)
      v = v * 10 + (ch - '0');
    return v;
  }
  // Five columns hold at most 99999; "9e99" fits them too.
  const auto v = ImportNumber(field);
  if (!v || *v < 0 || *v > kLargestDecimalSerial || *v != std::floor(*v))
    return -1;
  return static_cast<long>(*v);
}

// The element of an atom name (columns 13-16) when columns 77-78 are blank
// and the residue is no standard one (whose names start with their element,
// ElementOfStandardResidueAtom): a name that starts in column 14 (column 13
// blank or a digit) is a one-letter element; a four-letter hydrogen name of
// an ATOM record starts in column 13 ("HG11"); other names starting in
// column 13 are two-letter elements ("FE", "CL") where they name one.
std::optional<ElementCode> ElementOfAtomName(std::string_view name, bool hetatm) {
  if (name.size() < 2)
    return ElementFromSymbol(name);
  const char first = name[0];
  if (first == ' ' || std::isdigit(static_cast<unsigned char>(first)))
    return ElementFromSymbol(name.substr(1, 1));
  if (!hetatm && (first == 'H' || first == 'h') && TrimImport(name).size() == 4)
    return ElementFromSymbol("H");
  return ElementFromSymbol(name.substr(0, 2));
}

// The crystallographic Uij (on the reciprocal axes, the form the record
// holds) of a Cartesian U: S U S^t scaled by 1 / (a*_i a*_j), the rows of S
// being the reciprocal vectors.
void CrystallographicU(const double S[3][3], const double u[6], float tensor[9]) {
  const double U[3][3] = {{u[0], u[3], u[4]}, {u[3], u[1], u[5]}, {u[4], u[5], u[2]}};
  double len[3];
  for (int i = 0; i < 3; i++)
    len[i] = std::hypot(S[i][0], S[i][1], S[i][2]);
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) {
      double sum = 0.0;
      for (int k = 0; k < 3; k++)
        for (int l = 0; l < 3; l++)
          sum += S[i][k] * U[k][l] * S[j][l];
      tensor[3 * i + j] = static_cast<float>(sum / (len[i] * len[j]));
    }
}

// The bonds CONECT records give, each pair of serials once, found in each
// model in time linear in the model and the records: a serial is looked up
// through its own pairs or through the model's serials, whichever are fewer.
class ConectBonds {
public:
  void Add(long from, long to, int line) {
    const auto [it, fresh] = index_.try_emplace(Key(from, to), pairs_.size());
    if (fresh)
      pairs_.push_back({std::min(from, to), std::max(from, to), line, from, to});
    pairs_[it->second].records++;
    records_++;
  }
  // Once every record is read: the pairs of each serial, and the pairs that
  // name a location left out (they are said nowhere).
  void Index(const std::unordered_set<long> &dropped, std::string whole) {
    whole_ = std::move(whole);
    for (uint32_t k = 0; k < pairs_.size(); k++) {
      Pair &p = pairs_[k];
      bySerial_[p.a].push_back(k);
      bySerial_[p.b].push_back(k);
      p.dropped = dropped.count(p.a) > 0 || dropped.count(p.b) > 0;
      droppedRecords_ += p.dropped ? p.records : 0;
      if (!p.dropped)
        said_.push_back(k);
    }
  }
  // The model's bonds in the order of the records, and one warning for the
  // records naming atoms the model does not hold.
  void AddBonds(const PDBModel &m, ImportedStructure &s) const {
    s.bondsBesideImplied = true; // the residues' own bonds are implied
    // Each pair is found from its smaller serial only.
    std::vector<uint32_t> found;
    m.bySerial.ForEach([&](long serial, uint32_t) {
      const auto own = bySerial_.find(serial);
      if (own == bySerial_.end())
        return;
      if (own->second.size() <= m.bySerial.Size()) {
        for (uint32_t k : own->second) {
          const Pair &p = pairs_[k];
          if (p.a == serial && m.bySerial.Holds(p.b))
            found.push_back(k);
        }
      } else {
        m.bySerial.ForEach([&](long other, uint32_t) {
          if (other > serial)
            if (auto it = index_.find(Key(serial, other)); it != index_.end())
              found.push_back(static_cast<uint32_t>(it->second));
        });
      }
    });
    std::sort(found.begin(), found.end());
    size_t foundRecords = 0, foundDropped = 0;
    for (uint32_t k : found) {
      const Pair &p = pairs_[k];
      foundRecords += p.records;
      foundDropped += p.dropped ? p.records : 0;
      const uint32_t i = *m.bySerial.Find(p.a), j = *m.bySerial.Find(p.b);
      if (i != j)
        s.bonds.push_back({std::min(i, j), std::max(i, j), p.line});
    }
    const size_t missing = records_ - foundRecords - (droppedRecords_ - foundDropped);
    if (missing == 0)
      return;
    // The first record not in the model: found pairs come before it at most.
    for (uint32_t k : said_)
      if (!std::binary_search(found.begin(), found.end(), k)) {
        const Pair &p = pairs_[k];
        const long serial = m.bySerial.Holds(p.first) ? p.second : p.first;
        ImportWarning(s, p.line,
                      "CONECT names atom " + std::to_string(serial) + ", which the " + whole_ + " does not hold; " +
                          std::to_string(missing) + " such bond(s) were left out.");
        return;
      }
  }

private:
  struct Pair {
    long a = 0, b = 0; // a < b
    int line = 0;      // of the first record
    long first = 0, second = 0; // as the first record names them
    size_t records = 0;
    bool dropped = false;
  };
  static std::pair<long, long> Key(long from, long to) { return {std::min(from, to), std::max(from, to)}; }
  struct KeyHash {
    size_t operator()(const std::pair<long, long> &k) const {
      return std::hash<long>()(k.first) * 1000003u ^ std::hash<long>()(k.second);
    }
  };
  std::vector<Pair> pairs_;
  std::unordered_map<std::pair<long, long>, size_t, KeyHash> index_;
  std::unordered_map<long, std::vector<uint32_t>> bySerial_;
  std::vector<uint32_t> said_; // pairs naming no location left out, in order
  size_t records_ = 0, droppedRecords_ = 0;
  std::string whole_;
};

class PDBParser {
public:
  PDBParser(const ImportSource &source, ImportResult &result) : source_(source), result_(result) {}
  bool Parse();

private:
  // A warning of the model being read: each is kept once, with the
  // structure it belongs to, and no more than a structure shows.
  void Warn(int line, std::string text) {
    PDBModel &m = models_.back();
    if (m.warnings.size() < kMaxImportWarnings)
      m.warnings.emplace_back(line, std::move(text));
    else
      m.warningsLeftOut++;
  }
  // Starts a model; false beyond the most structures a file gives.
  bool StartModel(std::string number, int line) {
    closed_ = false;
    altChoice_ = {};
    skipModel_ = models_.size() >= kMaxImportStructures;
    if (skipModel_) {
      modelsLeftOut_++;
      return false;
    }
    models_.push_back({"model " + (number.empty() ? std::to_string(models_.size() + 1) : number), line, {}, {}, {}, 0});
    // Room for the first model's atoms is made at once rather than by
    // growing (nearly all files hold one model).
    if (models_.size() == 1) {
      models_.back().atoms.reserve(firstModelRecords_);
      models_.back().bySerial.Reserve(firstModelRecords_);
    }
    return true;
  }
  // The fractionalising matrix S and shift of the cell: the SCALE records
  // where they give a usable matrix, else the standard frame's inverse.
  void FractionalFrame(double S[3][3], double shift[3]) const;
  std::optional<ElementCode> ElementOfResidueAtom(std::string_view residue, std::string_view name, bool hetatm);
  bool ReadAtom(std::string_view l, int line);
  bool ReadAnisou(std::string_view l, int line);
  void ReadConect(std::string_view l, int line);
  bool Emit();

  const ImportSource &source_;
  ImportResult &result_;
  std::vector<PDBModel> models_;
  size_t firstModelRecords_ = 0; // ATOM and HETATM records before the first ENDMDL
  bool closed_ = false, skipModel_ = false;
  size_t modelsLeftOut_ = 0;
  std::optional<std::array<double, 6>> cell_;
  int cellLine_ = 0;
  std::string spaceGroup_;
  double scale_[3][4] = {};
  int scaleRows_ = 0;
  ConectBonds conect_;
  AlternateLocationChoice altChoice_; // of the model being read
  std::unordered_set<long> altDropped_; // serials of the locations left out
  size_t altLeft_ = 0;
  // The elements of the residues' atom names found so far (a protein
  // repeats a few hundred), by ResidueAtomKey; at most kMostNamesKept.
  std::unordered_map<uint64_t, std::optional<ElementCode>> elementOfName_;
  // Of the whole file (its cell), said with each model: at most a few.
  std::vector<std::pair<int, std::string>> warnings_;
};

// A residue's name (columns 18-20), an atom's name (13-16) and the record
// kind in one number: the fields' lengths (a line may end inside them) and
// their seven bytes.
uint64_t ResidueAtomKey(std::string_view residue, std::string_view name, bool hetatm) {
  uint64_t key = (uint64_t{hetatm} << 5) | (residue.size() << 3) | name.size();
  for (const std::string_view field : {residue, name})
    for (size_t k = 0; k < field.size(); k++)
      key = key << 8 | static_cast<unsigned char>(field[k]);
  return key;
}

// The element of an atom name when columns 77-78 give none: the standard
// residues' rule, else the name's own.
std::optional<ElementCode> PDBParser::ElementOfResidueAtom(std::string_view residue, std::string_view name,
                                                            bool hetatm) {
  constexpr size_t kMostNamesKept = 4096;
  const uint64_t key = ResidueAtomKey(residue, name, hetatm);
  if (const auto it = elementOfName_.find(key); it != elementOfName_.end())
    return it->second;
  std::optional<ElementCode> element = ElementOfStandardResidueAtom(residue, name);
  if (!element)
    element = ElementOfAtomName(name, hetatm);
  if (elementOfName_.size() < kMostNamesKept)
    elementOfName_.emplace(key, element);
  return element;
}

bool PDBParser::ReadAtom(std::string_view l, int line) {
  if (models_.empty() || closed_)
    StartModel({}, line);
  if (skipModel_)
    return true;
  PDBModel &m = models_.back();
  double xyz[3];
  for (int k = 0; k < 3; k++) {
    const std::string_view field = ImportColumns(l, 31 + 8 * static_cast<size_t>(k), 8);
    const auto v = ImportNumber(field);
    if (!v)
      return RefuseImport(result_, line,
                          std::string("the ") + "xyz"[k] + " coordinate " +
                              (TrimImport(field).empty() ? "" : "\"" + std::string(TrimImport(field)) + "\" ") +
                              "(columns " + std::to_string(31 + 8 * k) + "-" + std::to_string(38 + 8 * k) +
                              ") is not a number");
    xyz[k] = *v;
  }
  const long serial = PDBSerialValue(ImportColumns(l, 7, 5));
  // Alternate locations: the first of each residue stays.
  if (!altChoice_.Keeps(ImportColumns(l, 22, 1), ImportColumns(l, 23, 4), ImportColumns(l, 27, 1),
                        ImportColumns(l, 17, 1))) {
    altLeft_++;
    if (serial >= 0)
      altDropped_.insert(serial);
    return true;
  }
  const std::string_view name = ImportColumns(l, 13, 4);
  const bool hetatm = RecordIs(l, "HETATM");
  PDBAtom atom;
  atom.label = std::string(TrimImport(name));
  atom.group = altChoice_.Group(ImportColumns(l, 17, 1));
  std::string_view symbol = TrimImport(ImportColumns(l, 77, 2));
  std::optional<ElementCode> element;
  // Old files put other things there (a segment's digits): only letters
  // are an element.
  const bool letters =
      std::all_of(symbol.begin(), symbol.end(), [](char ch) { return std::isalpha(static_cast<unsigned char>(ch)); });
  if (!symbol.empty() && letters)
    element = ImportEqualNoCase(symbol, "D") ? ElementFromSymbol("H") : ElementFromSymbol(symbol);
  else
    element = ElementOfResidueAtom(ImportColumns(l, 18, 3), name, hetatm);
  if (!element) {
    Warn(line, "atom \"" + atom.label + "\" names no element (" +
                   std::string(symbol.empty() || !letters ? TrimImport(name) : symbol) + "); it is kept as " +
                   ElementSymbolText(kPlaceholderElement) + ".");
    element = kPlaceholderElement;
  }
  if (atom.label.empty())
    atom.label = ElementSymbolText(*element);
  atom.element = *element;
  std::copy(xyz, xyz + 3, atom.cart);
  atom.serial = serial;
  atom.line = line;
  if (serial >= 0)
    m.bySerial.Add(serial, static_cast<uint32_t>(m.atoms.size()));
  m.atoms.push_back(std::move(atom));
  return true;
}

bool PDBParser::ReadAnisou(std::string_view l, int line) {
  if (skipModel_ || models_.empty())
    return true;
  PDBModel &m = models_.back();
  const long serial = PDBSerialValue(ImportColumns(l, 7, 5));
  if (altDropped_.count(serial))
    return true;
  const uint32_t *atomOfSerial = m.bySerial.Find(serial);
  if (!atomOfSerial) {
    Warn(line, "ANISOU names atom " + std::string(TrimImport(ImportColumns(l, 7, 5))) +
                   ", which comes before it in no ATOM record; it is left out.");
    return true;
  }
  double U[6];
  for (size_t k = 0; k < 6; k++) {
    const auto v = ImportNumber(ImportColumns(l, 29 + 7 * k, 7));
    if (!v) {
      Warn(line, "the ANISOU record holds a value that is not a number; it is left out.");
      return true;
    }
    U[k] = *v * kUnitsOfAnisou;
  }
  PDBAtom &atom = m.atoms[*atomOfSerial];
  atom.hasU = true;
  std::copy(U, U + 6, atom.U);
  return true;
}

void PDBParser::ReadConect(std::string_view l, int line) {
  const long from = PDBSerialValue(ImportColumns(l, 7, 5));
  for (size_t k = 0; k < 4; k++) {
    const long to = PDBSerialValue(ImportColumns(l, 12 + 5 * k, 5));
    if (from >= 0 && to >= 0 && from != to)
      conect_.Add(from, to, line);
  }
}

bool PDBParser::Parse() {
  const ImportTextLines lines = ImportLines(source_.text);
  // The lines are walked in order, each from the end of the one before.
  for (const std::string_view l : lines) {
    if (RecordIs(l, "ENDMDL") || RecordIs(l, "END"))
      break;
    firstModelRecords_ += RecordIs(l, "ATOM") || RecordIs(l, "HETATM");
  }
  int line = 0;
  for (const std::string_view l : lines) {
    line++;
    if (RecordIs(l, "ATOM") || RecordIs(l, "HETATM")) {
      if (!ReadAtom(l, line))
        return false;
    } else if (RecordIs(l, "ANISOU")) {
      if (!ReadAnisou(l, line))
        return false;
    } else if (RecordIs(l, "CONECT")) {
      ReadConect(l, line);
    } else if (RecordIs(l, "MODEL")) {
      std::string number(TrimImport(ImportColumns(l, 11, 4)));
      if (!models_.empty() && !closed_ && !skipModel_ && models_.back().atoms.empty())
        models_.back().name = "model " + number; // atoms come after it, not before
      else
        StartModel(std::move(number), line);
    } else if (RecordIs(l, "ENDMDL")) {
      closed_ = true;
    } else if (RecordIs(l, "CRYST1")) {
      std::array<double, 6> cell{};
      bool ok = true;
      static constexpr size_t kFirst[6] = {7, 16, 25, 34, 41, 48}, kWidth[6] = {9, 9, 9, 7, 7, 7};
      for (int k = 0; k < 6 && ok; k++) {
        const auto v = ImportNumber(ImportColumns(l, kFirst[k], kWidth[k]));
        ok = v.has_value();
        if (ok)
          cell[static_cast<size_t>(k)] = *v;
      }
      if (!ok)
        return RefuseImport(result_, line, "the CRYST1 record's cell is not six numbers");
      cell_ = cell;
      cellLine_ = line;
      spaceGroup_ = std::string(TrimImport(ImportColumns(l, 56, 11)));
    } else if (l.size() >= 6 && (RecordIs(l, "SCALE1") || RecordIs(l, "SCALE2") || RecordIs(l, "SCALE3"))) {
      const int row = l[5] - '1';
      bool ok = true;
      for (size_t k = 0; k < 4 && ok; k++) {
        const auto v = ImportNumber(ImportColumns(l, k < 3 ? 11 + 10 * k : 46, 10));
        ok = v.has_value();
        if (ok)
          scale_[row][k] = *v;
      }
      if (ok)
        scaleRows_ |= 1 << row;
    } else if (RecordIs(l, "END")) {
      break;
    }
  }
  std::erase_if(models_, [](const PDBModel &m) { return m.atoms.empty(); });
  return Emit();
}

void PDBParser::FractionalFrame(double S[3][3], double shift[3]) const {
  const CellFrame frame = StandardCellFrame(cell_->data());
  std::copy(&frame.reciprocal[0][0], &frame.reciprocal[0][0] + 9, &S[0][0]);
  std::fill(shift, shift + 3, 0.0);
  if (scaleRows_ != 7)
    return;
  double det = 0.0;
  for (int i = 0; i < 3; i++)
    det += scale_[0][i] *
           (scale_[1][(i + 1) % 3] * scale_[2][(i + 2) % 3] - scale_[1][(i + 2) % 3] * scale_[2][(i + 1) % 3]);
  if (std::isfinite(det) && std::fabs(det) > 1e-12)
    for (int i = 0; i < 3; i++) {
      for (int j = 0; j < 3; j++)
        S[i][j] = scale_[i][j];
      shift[i] = scale_[i][3];
    }
}

bool PDBParser::Emit() {
  if (models_.empty() || models_[0].atoms.empty())
    return RefuseImport(result_, 0, "it holds no ATOM or HETATM record with coordinates");
  const bool placeholder = cell_ && std::fabs((*cell_)[0] - 1.0) < kPlaceholderCellTolerance &&
                           std::fabs((*cell_)[1] - 1.0) < kPlaceholderCellTolerance &&
                           std::fabs((*cell_)[2] - 1.0) < kPlaceholderCellTolerance &&
                           std::fabs((*cell_)[3] - 90.0) < kPlaceholderCellTolerance &&
                           std::fabs((*cell_)[4] - 90.0) < kPlaceholderCellTolerance &&
                           std::fabs((*cell_)[5] - 90.0) < kPlaceholderCellTolerance;
  bool crystal = cell_ && !placeholder;
  // Fractional = S x + shift: the standard frame's inverse when the file
  // gives no SCALE records.
  double S[3][3] = {}, shift[3] = {};
  if (crystal) {
    // A cell that is no cell, or one without room for the largest model's
    // atoms, is not the models' crystal: the atoms are read as a molecule.
    ImportedStructure probe;
    ImportError why;
    std::string reason;
    if (!SetImportCell(probe, why, cellLine_, cell_->data())) {
      reason = why.what;
    } else {
      FractionalFrame(S, shift);
      if (!SetSymmetryFromSymbol(probe, spaceGroup_, 0, cellLine_))
        SetSymmetryFromSymbol(probe, "P 1", 0, cellLine_);
      const auto largest = std::max_element(models_.begin(), models_.end(), [](const PDBModel &x, const PDBModel &y) {
        return x.atoms.size() < y.atoms.size();
      });
      for (const PDBAtom &a : largest->atoms) {
        AsymmetricUnitRecord &site = probe.crystal.sites.emplace_back(gBlankAU);
        for (int i = 0; i < 3; i++)
          site.xyz[i] = static_cast<float>(S[i][0] * a.cart[0] + S[i][1] * a.cart[1] + S[i][2] * a.cart[2] + shift[i]);
      }
      reason = CellWithoutRoom(probe.crystal);
    }
    if (!reason.empty()) {
      warnings_.emplace_back(cellLine_, "CRYST1: " + reason + "; the atoms are read as a molecule.");
      crystal = false;
    }
  }
  conect_.Index(altDropped_, models_.size() > 1 ? "model" : "file");
  for (PDBModel &m : models_) {
    ImportedStructure *s = BeginImportedStructure(result_, m.name, m.line);
    if (!s)
      break;
    if (crystal) {
      if (!SetImportCell(*s, result_.error, cellLine_, cell_->data()))
        return false;
      if (!SetSymmetryFromSymbol(*s, spaceGroup_, 0, cellLine_)) {
        ImportWarning(*s, cellLine_, "the space group \"" + spaceGroup_ + "\" is not known; P 1 is used.");
        SetSymmetryFromSymbol(*s, "P 1", 0, cellLine_);
      }
    } else {
      s->crystal.molecule = 1;
    }
    ReserveImportSites(*s, m.atoms.size());
    size_t anisoLeft = 0;
    for (const PDBAtom &a : m.atoms) {
      AsymmetricUnitRecord *site = nullptr;
      if (crystal) {
        double f[3];
        for (int i = 0; i < 3; i++)
          f[i] = S[i][0] * a.cart[0] + S[i][1] * a.cart[1] + S[i][2] * a.cart[2] + shift[i];
        site = AppendImportSite(result_, *s, a.label, a.element, f, a.line);
        if (site && a.hasU) {
          site->displacementType = kDisplacementAnisoU;
          CrystallographicU(S, a.U, site->tensor);
          s->crystal.ellipsoidData = 1;
        }
      } else {
        site = AppendImportAtom(result_, *s, a.label, a.element, a.cart, a.line);
        anisoLeft += a.hasU ? 1 : 0;
      }
      if (!site)
        return false;
      site->disorderGroup = a.group;
    }
    if (anisoLeft > 0)
      ImportWarning(*s, 0,
                    std::to_string(anisoLeft) +
                        " ANISOU tensor(s) of a structure without a crystal cell are not shown as ellipsoids.");
    conect_.AddBonds(m, *s);
    if (altLeft_ > 0)
      ImportWarning(*s, 0,
                    std::to_string(altLeft_) +
                        " alternate location(s) were left out; the first location of each residue is kept.");
    for (const auto &[line, text] : warnings_)
      ImportWarning(*s, line, text);
    for (const auto &[line, text] : m.warnings)
      ImportWarning(*s, line, text);
    s->extras.warningsLeftOut += m.warningsLeftOut;
    m.warnings = {};
    if (modelsLeftOut_ > 0)
      result_.structuresLeftOut += modelsLeftOut_, modelsLeftOut_ = 0;
    if (!FinishImportedStructure(*s, result_.error))
      return false;
  }
  return !result_.structures.empty();
}

bool KnownRecord(std::string_view line) {
  static const std::unordered_set<std::string_view> kRecords = {
      "HEADER", "OBSLTE", "TITLE",  "SPLIT",  "CAVEAT", "COMPND", "SOURCE", "KEYWDS", "EXPDTA", "NUMMDL",
      "MDLTYP", "AUTHOR", "REVDAT", "SPRSDE", "JRNL",   "REMARK", "DBREF",  "DBREF1", "DBREF2", "SEQADV",
      "SEQRES", "MODRES", "HET",    "HETNAM", "HETSYN", "FORMUL", "HELIX",  "SHEET",  "SSBOND", "LINK",
      "CISPEP", "SITE",   "CRYST1", "ORIGX1", "ORIGX2", "ORIGX3", "SCALE1", "SCALE2", "SCALE3", "MTRIX1",
      "MTRIX2", "MTRIX3", "MODEL",  "USER",   "TER",    "ENDMDL", "CONECT", "MASTER", "END",    "ANISOU"};
  return kRecords.count(TrimImport(ImportColumns(line, 1, 6))) > 0;
}

} // namespace

bool IsPDBFile(const ImportSource &source) {
  // An ATOM or HETATM record with coordinates in their columns. Content
  // alone must show nothing but the format's records before it; a name that
  // says PDB is enough with the atom record.
  const bool named = NameEndsWith(source.name, {".pdb", ".ent"});
  size_t start = 0, lines = 0;
  bool firstKnown = false;
  while (start < source.text.size()) {
    size_t end = source.text.find('\n', start);
    if (end == std::string::npos)
      end = source.text.size();
    const std::string_view l(source.text.data() + start, end - start);
    start = end + 1;
    if (TrimImport(l).empty())
      continue;
    if (RecordIs(l, "ATOM") || RecordIs(l, "HETATM")) {
      for (size_t k = 0; k < 3; k++)
        if (!ImportNumber(ImportColumns(l, 31 + 8 * k, 8)))
          return false;
      return true;
    }
    const bool known = KnownRecord(l);
    if (!named && !known)
      return false;
    if (lines++ == 0)
      firstKnown = known;
  }
  // A file named PDB that begins as one is PDB: the reader says what is
  // missing.
  return named && firstKnown;
}

bool DoPDBFile(const ImportSource &source, ImportResult &result) {
  if (RefuseCutInsideNumber(source, result))
    return false;
  PDBParser parser(source, result);
  return parser.Parse();
}

extern const ImportFormat gPDBImport{"PDB", "PDB files", "pdb ent", "", IsPDBFile, DoPDBFile};
