// Macromolecular CIF (PDBx/mmCIF) models, as the Protein Data Bank writes
// them: the atom sites of each model (`_atom_site.pdbx_PDB_model_num`) at
// their Cartesian positions; a crystal when `_cell` gives a real cell, the
// positions made fractional through `_atom_sites.fract_transf_matrix` when
// the file gives it, else through the standard frame (a along x, b in the x-y
// plane); the group from `_symmetry.space_group_name_H-M` or
// `_space_group.name_H-M_alt`; anisotropic U from `_atom_site_anisotrop`
// (Cartesian, turned onto the crystal's axes); and the bonds `_struct_conn`
// lists, as the file's bonds. Of the alternate locations of a residue the
// first the file lists stays, as in PDB files.
#include "import/MMCIFMapping.h"

#include "StoredLimits.h"
#include "import/AlternateLocations.h"
#include "import/CellFrame.h"
#include "import/ElementOfName.h"
#include "import/ImportSymmetry.h"
#include "import/ImportText.h"
#include "import/StructureFill.h"

#include <algorithm>

#include <cmath>
#include <unordered_map>
#include <unordered_set>

namespace {

// The cell that entries without a crystal (NMR models) give.
constexpr double kPlaceholderCellTolerance = 1e-3;
// Less room per atom than any crystal leaves (the densest solids leave more
// than 5 A^3): such a cell is not the model's.
constexpr double kMinCellVolumePerAtom = 2.0; // A^3
constexpr double kEightPiSquared = 8.0 * M_PI * M_PI;
// A file's fractionalising matrix and vector that agree with the cell's own
// frame this closely are that frame written with fewer digits: the cell's
// is taken.
constexpr double kFrameMatrixRounding = 5e-6; // A^-1
constexpr double kFrameVectorRounding = 1e-6;

// The atom-site table.
enum AtomColumn : size_t {
  kX, kY, kZ, kType, kAtom, kAlt, kComp, kAsym, kSeq, kAuthSeq, kInsertion, kOccupancy, kB, kModel, kId
};

// An atom's place in its model: chain, residue and atom name. A residue is
// numbered by its sequence number, or by the author's (with the insertion
// code) where it has none (waters, ligands).
std::string AtomKey(std::string_view asym, std::string_view seq, std::string_view authSeq, std::string_view insertion,
                    std::string_view atom) {
  std::string key;
  key.reserve(asym.size() + seq.size() + authSeq.size() + insertion.size() + atom.size() + 4);
  key.append(asym).push_back('\x1f');
  if (!seq.empty())
    key.append(seq);
  else
    key.append(authSeq).append("\x1e").append(insertion);
  key.push_back('\x1f');
  key.append(atom);
  return key;
}

struct ModelAtoms {
  std::string number;
  int line = 0;
  std::vector<size_t> rows;                          // kept atom-site rows, in file order
  std::vector<std::pair<int, std::string>> warnings; // of its rows
  size_t structure = SIZE_MAX;                       // in the result; none beyond the most a file makes
  AlternateLocationChoice locations;                 // the location each residue keeps
};

class MMCIFReader {
public:
  MMCIFReader(const CIFBlockTags &tags, ImportResult &result) : tags_(tags), result_(result) {}

  bool Read() {
    atoms_ = tags_.Find("_atom_site_", {"cartn_x", "cartn_y", "cartn_z", "?type_symbol",
                                        "?label_atom_id|auth_atom_id", "?label_alt_id",
                                        "?label_comp_id|auth_comp_id", "?label_asym_id|auth_asym_id",
                                        "?label_seq_id", "?auth_seq_id", "?pdbx_pdb_ins_code", "?occupancy",
                                        "?b_iso_or_equiv", "?pdbx_pdb_model_num", "?id"});
    if (!ReadRows())
      return false;
    if (atomsOfFirstModel_ == 0)
      return true;
    ReadCell();
    siteOfRow_.assign(atoms_.Rows(), 0);
    for (ModelAtoms &m : models_)
      if (!Begin(m))
        return false;
    ReadAnisotropic();
    for (const ModelAtoms &m : models_)
      if (m.structure != SIZE_MAX) {
        ImportedStructure &s = result_.structures[m.structure];
        ReadBonds(s, m);
        if (!FinishImportedStructure(s, result_.error))
          return false;
      }
    return true;
  }

private:
  std::string_view Given(AtomColumn c, size_t r) const { return atoms_[c] ? atoms_[c].Given(r) : std::string_view(); }

  // The atom key of an atom-site row (its alternate location aside).
  std::string Key(size_t r) const {
    return AtomKey(Given(kAsym, r), Given(kSeq, r), Given(kAuthSeq, r), Given(kInsertion, r), Given(kAtom, r));
  }

  // False, the file refused, for a value that is given but is no number.
  bool ReadRows() {
    const size_t n = atoms_.Rows();
    cart_.resize(n);
    element_.resize(n);
    modelOfRow_.resize(n);
    std::unordered_map<std::string_view, size_t> modelOf;
    size_t model = 0;
    for (size_t r = 0; r < n; r++) {
      ImportReadStep();
      const int line = atoms_.Line(r);
      const std::string_view number = Given(kModel, r);
      if (models_.empty() || models_[model].number != number) {
        const auto [it, fresh] = modelOf.try_emplace(number, models_.size());
        if (fresh) {
          models_.emplace_back().number = number;
          models_.back().line = line;
        }
        model = it->second;
      }
      ModelAtoms &m = models_[model];
      modelOfRow_[r] = model;
      const std::string_view atom = Given(kAtom, r);
      auto name = [&] { return atom.empty() ? "row " + std::to_string(r + 1) : "\"" + std::string(atom) + "\""; };
      // A value that is given (not ? or .) but is no number is a mistyped
      // one: the file is refused, as a CIF is, rather than the atom changed.
      for (size_t k : {size_t{kX}, size_t{kY}, size_t{kZ}, size_t{kOccupancy}, size_t{kB}})
        if (const CIFColumn &c = atoms_[k]; c && !c.Null(r) && !c.Number(r))
          return RefuseNumber(result_, line,
                              k <= kZ             ? "coordinate"
                              : k == kOccupancy ? "occupancy"
                                                : "displacement",
                              c.Text(r), "the atom " + name());
      bool placed = true;
      for (size_t k = 0; k < 3 && placed; k++) {
        const auto v = atoms_[kX + k].Number(r);
        placed = v && std::fabs(v->value) <= stored::kFinite.high;
        if (placed)
          cart_[r][k] = v->value;
      }
      if (!placed) {
        m.warnings.emplace_back(line, "the atom " + name() + " has no Cartesian coordinates and is left out.");
        continue;
      }
      // Alternate locations: the first the file lists of each residue stays.
      // A residue is numbered as in AtomKey.
      const std::string_view seq = Given(kSeq, r);
      if (!m.locations.Keeps(Given(kAsym, r), seq.empty() ? Given(kAuthSeq, r) : seq,
                             seq.empty() ? Given(kInsertion, r) : std::string_view(), Given(kAlt, r))) {
        altLeft_++;
        continue;
      }
      std::optional<ElementCode> e;
      if (const std::string_view symbol = Given(kType, r); !symbol.empty())
        e = ImportEqualNoCase(symbol, "D") ? ElementFromSymbol("H") : ElementFromSymbol(symbol);
      if (!e && !atom.empty()) {
        std::string note;
        e = ElementOfStandardResidueAtom(Given(kComp, r), atom);
        if (!e && (e = ElementOfLabel(atom, &note)) && !note.empty())
          m.warnings.emplace_back(line, note);
      }
      if (!e) {
        m.warnings.emplace_back(line, "the element of the atom " + name() + " is not known; it is shown as \"" +
                                          ElementSymbolText(kPlaceholderElement) + "\".");
        e = kPlaceholderElement;
      }
      element_[r] = *e;
      m.rows.push_back(r);
    }
    // Models none of whose rows has a position make no structure.
    for (const ModelAtoms &m : models_)
      atomsOfFirstModel_ = atomsOfFirstModel_ > 0 ? atomsOfFirstModel_ : m.rows.size();
    return true;
  }

  // The crystal, when the file gives a real cell large enough for the atoms.
  void ReadCell() {
    const CIFTable cell =
        tags_.Find("_cell_", {"length_a", "length_b", "length_c", "angle_alpha", "angle_beta", "angle_gamma"});
    if (!cell)
      return;
    bool placeholder = true;
    for (size_t k = 0; k < 6; k++) {
      const auto v = cell[k].Number(0);
      if (!v)
        return;
      cell_[k] = v->value;
      placeholder = placeholder && std::fabs(v->value - (k < 3 ? 1.0 : 90.0)) < kPlaceholderCellTolerance;
    }
    cellLine_ = cell[0].Line(0);
    if (placeholder)
      return;
    ImportedStructure probe;
    ImportError why;
    std::string reason;
    double rows[3][3];
    StandardCellVectors(cell_[0], cell_[1], cell_[2], cell_[3], cell_[4], cell_[5], rows);
    const double volume = std::fabs(rows[0][0] * rows[1][1] * rows[2][2]);
    if (!SetImportCell(probe, why, cellLine_, cell_))
      reason = why.what;
    else if (volume < kMinCellVolumePerAtom * static_cast<double>(atomsOfFirstModel_))
      reason = "the cell (" + std::to_string(static_cast<int>(std::round(volume))) + " A^3) is too small for " +
               std::to_string(atomsOfFirstModel_) + " atoms";
    if (!reason.empty()) {
      cellWarning_ = "_cell: " + reason + "; the atoms are read as a molecule.";
      return;
    }
    crystal_ = FractionalisingRows(rows, S_);
    // The file's own fractionalising matrix (fractional = M x + v), where it
    // gives one that inverts and is another frame than the cell's.
    const CIFTable frame = tags_.Find(
        "_atom_sites_", {"fract_transf_matrix[1][1]", "fract_transf_matrix[1][2]", "fract_transf_matrix[1][3]",
                         "fract_transf_matrix[2][1]", "fract_transf_matrix[2][2]", "fract_transf_matrix[2][3]",
                         "fract_transf_matrix[3][1]", "fract_transf_matrix[3][2]", "fract_transf_matrix[3][3]",
                         "?fract_transf_vector[1]", "?fract_transf_vector[2]", "?fract_transf_vector[3]"});
    double M[3][3] = {}, v[3] = {0, 0, 0}, inverse[3][3];
    bool usable = bool(frame);
    for (size_t k = 0; k < 12 && usable; k++) {
      const auto value = frame[k] ? frame[k].Number(0) : std::nullopt;
      if (k < 9) {
        usable = value && std::isfinite(value->value);
        if (usable)
          M[k / 3][k % 3] = value->value;
      } else if (value && std::isfinite(value->value)) {
        v[k - 9] = value->value;
      }
    }
    bool same = true;
    for (int i = 0; i < 3; i++) {
      same = same && std::fabs(v[i]) <= kFrameVectorRounding;
      for (int j = 0; j < 3; j++)
        same = same && std::fabs(M[i][j] - S_[i][j]) <= kFrameMatrixRounding;
    }
    if (usable && !same && FractionalisingRows(M, inverse)) {
      std::copy(&M[0][0], &M[0][0] + 9, &S_[0][0]);
      std::copy(v, v + 3, shift_);
    }
  }

  // Begins the model's structure and appends its atoms.
  bool Begin(ModelAtoms &m) {
    if (m.rows.empty())
      return true;
    ImportedStructure *s = BeginImportedStructure(result_, "model " + (m.number.empty() ? "1" : m.number), m.line);
    if (!s)
      return true; // beyond the most structures a file makes: counted
    m.structure = result_.structures.size() - 1;
    s->extras.title = std::string(tags_.Block().name);
    if (crystal_) {
      if (!SetImportCell(*s, result_.error, cellLine_, cell_))
        return false;
      ReadSymmetry(*s);
    } else {
      s->crystal.molecule = 1;
      if (!cellWarning_.empty())
        ImportWarning(*s, cellLine_, cellWarning_);
    }
    const CIFColumn &occ = atoms_[kOccupancy], &b = atoms_[kB];
    size_t badOccupancy = 0;
    for (size_t r : m.rows) {
      ImportReadStep();
      AsymmetricUnitRecord *site;
      if (crystal_) {
        double f[3];
        for (int i = 0; i < 3; i++)
          f[i] = S_[i][0] * cart_[r][0] + S_[i][1] * cart_[r][1] + S_[i][2] * cart_[r][2] + shift_[i];
        site = AppendImportSite(result_, *s, Given(kAtom, r), element_[r], f, atoms_.Line(r));
      } else {
        site = AppendImportAtom(result_, *s, Given(kAtom, r), element_[r], cart_[r].data(), atoms_.Line(r));
      }
      if (!site)
        return false;
      siteOfRow_[r] = static_cast<uint32_t>(s->crystal.sites.size() - 1);
      site->disorderGroup = m.locations.Group(Given(kAlt, r));
      if (const auto o = occ ? occ.Number(r) : std::nullopt) {
        if (o->value >= 0.0 && o->value <= 1.0)
          site->occupancies[0] = static_cast<float>(o->value);
        else
          badOccupancy++;
      }
      if (const auto bIso = crystal_ && b ? b.Number(r) : std::nullopt; bIso && bIso->value > 0.0) {
        site->displacementType = kDisplacementIsotropic;
        site->isoValue = static_cast<float>(bIso->value / kEightPiSquared);
        s->crystal.ellipsoidData = 1;
      }
    }
    for (const auto &[line, text] : m.warnings)
      ImportWarning(*s, line, text);
    if (badOccupancy > 0)
      ImportWarning(*s, 0, std::to_string(badOccupancy) + " occupancy value(s) outside [0, 1] were taken as 1.");
    if (altLeft_ > 0)
      ImportWarning(*s, 0, std::to_string(altLeft_) +
                               " alternate location(s) were left out; the first location of each residue is kept.");
    return true;
  }

  void ReadSymmetry(ImportedStructure &s) {
    const CIFColumn column = tags_.Named("_symmetry_space_group_name_h-m|_space_group_name_h-m_alt");
    const std::string_view symbol = tags_.Value("_symmetry_space_group_name_h-m|_space_group_name_h-m_alt");
    const int line = column ? column.Line(0) : cellLine_;
    if (symbol.empty())
      ImportWarning(s, line, "the file gives no space group; P 1 is used.");
    else if (!SetSymmetryFromSymbol(s, symbol, 0, line))
      ImportWarning(s, line, "the space group \"" + std::string(symbol) + "\" is not known; P 1 is used.");
    else
      return;
    SetSymmetryFromSymbol(s, "P 1", 0, line);
  }

  // `_atom_site_anisotrop` by atom id: Cartesian U, turned onto the axes of
  // the crystal; a molecule shows no ellipsoids.
  void ReadAnisotropic() {
    const CIFTable aniso = tags_.Find("_atom_site_anisotrop_", {"id", "u[1][1]", "u[2][2]", "u[3][3]", "u[1][2]",
                                                                "u[1][3]", "u[2][3]"});
    if (aniso.Rows() == 0 || !atoms_[kId])
      return;
    std::unordered_map<std::string_view, size_t> rowOfId;
    for (const ModelAtoms &m : models_)
      if (m.structure != SIZE_MAX)
        for (size_t r : m.rows)
          rowOfId.emplace(Given(kId, r), r);
    std::vector<size_t> left(models_.size(), 0);
    for (size_t k = 0; k < aniso.Rows(); k++) {
      ImportReadStep();
      const auto it = rowOfId.find(aniso[0].Given(k));
      if (it == rowOfId.end())
        continue; // a location left out, or an atom without a position
      const size_t r = it->second;
      ImportedStructure &s = result_.structures[models_[modelOfRow_[r]].structure];
      double u[6];
      bool numbers = true;
      for (size_t j = 0; j < 6 && numbers; j++) {
        const auto v = aniso[j + 1].Number(k);
        numbers = v && std::isfinite(v->value);
        u[j] = numbers ? v->value : 0.0;
      }
      if (!numbers) {
        ImportWarning(s, aniso.Line(k), "the anisotropic displacement of the atom \"" +
                                            std::string(aniso[0].Given(k)) +
                                            "\" is not a set of numbers; it is left out.");
      } else if (!crystal_) {
        left[modelOfRow_[r]]++;
      } else {
        AsymmetricUnitRecord &site = s.crystal.sites[siteOfRow_[r]];
        CrystallographicUFromCartesian(S_, u, site.tensor);
        site.displacementType = kDisplacementAnisoU;
        s.crystal.ellipsoidData = 1;
      }
    }
    for (size_t m = 0; m < models_.size(); m++)
      if (left[m] > 0 && models_[m].structure != SIZE_MAX)
        ImportWarning(result_.structures[models_[m].structure], 0,
                      std::to_string(left[m]) +
                          " anisotropic tensor(s) of a structure without a crystal cell are not shown as ellipsoids.");
  }

  // `_struct_conn`: each bond once, both atoms in this model; hydrogen bonds
  // and bonds to symmetry copies are no bonds of the model. The rows are
  // read once for every model, rows naming the same two atoms (a file may
  // list its bonds again for each model) as one, and a model looks up the
  // rows that name its atoms by the atoms it holds: the cost is the model's
  // atoms and the distinct rows it holds, not every row again for every
  // model.
  void ReadBonds(ImportedStructure &s, const ModelAtoms &m) {
    s.bondsBesideImplied = true; // the residues' own bonds are implied
    if (!connRead_)
      ReadConnections();
    if (conn_.empty())
      return;
    std::unordered_map<std::string, size_t> rowOfAtom;
    rowOfAtom.reserve(m.rows.size());
    for (size_t r : m.rows) {
      ImportReadStep();
      rowOfAtom.try_emplace(Key(r), r);
    }
    // The rows whose atoms the model holds (or whose first atom is at a
    // location left out), in the order of the table, with their bonds.
    std::vector<std::pair<size_t, uint64_t>> held; // (row, a << 32 | b), b == a for no bond
    for (const auto &[key, r1] : rowOfAtom) {
      ImportReadStep();
      const auto named = connOfFirst_.find(key);
      if (named == connOfFirst_.end())
        continue;
      for (size_t k : named->second) {
        ImportReadStep();
        const Connection &bond = conn_[k];
        // A bond of a location left out is none of the kept atom's.
        if (!bond.alt1.empty() && Given(kAlt, r1) != bond.alt1) {
          held.emplace_back(k, uint64_t{0});
          continue;
        }
        const auto second = rowOfAtom.find(bond.key2);
        if (second == rowOfAtom.end())
          continue;
        if (!bond.alt2.empty() && Given(kAlt, second->second) != bond.alt2) {
          held.emplace_back(k, uint64_t{0});
          continue;
        }
        const uint32_t a = std::min(siteOfRow_[r1], siteOfRow_[second->second]);
        const uint32_t b = std::max(siteOfRow_[r1], siteOfRow_[second->second]);
        held.emplace_back(k, (uint64_t{a} << 32) | (a == b ? a : b));
      }
    }
    std::sort(held.begin(), held.end());
    std::unordered_set<uint64_t> seen;
    size_t missing = connRows_;
    for (const auto &[k, pair] : held)
      missing -= conn_[k].rows;
    int firstMissing = 0;
    for (size_t k = 0; k <= held.size(); k++) {
      if (k == held.size() || held[k].first != k) {
        if (k < conn_.size())
          firstMissing = conn_[k].line;
        break;
      }
    }
    for (const auto &[k, pair] : held) {
      const uint32_t a = static_cast<uint32_t>(pair >> 32), b = static_cast<uint32_t>(pair);
      if (pair != 0 && a != b && seen.insert(pair).second)
        s.bonds.push_back({a, b, conn_[k].line});
    }
    if (missing > 0)
      ImportWarning(s, firstMissing, "_struct_conn names an atom the " +
                                         std::string(models_.size() > 1 ? "model" : "file") + " does not hold; " +
                                         std::to_string(missing) + " such bond(s) were left out.");
  }

  // The `_struct_conn` rows that may be bonds of a model, in the order of
  // the table, filed by their first atom.
  void ReadConnections() {
    connRead_ = true;
    const CIFTable conn = tags_.Find(
        "_struct_conn_",
        {"ptnr1_label_asym_id|ptnr1_auth_asym_id", "?ptnr1_label_seq_id", "?ptnr1_auth_seq_id",
         "?pdbx_ptnr1_pdb_ins_code", "ptnr1_label_atom_id|ptnr1_auth_atom_id", "?pdbx_ptnr1_label_alt_id",
         "ptnr2_label_asym_id|ptnr2_auth_asym_id", "?ptnr2_label_seq_id", "?ptnr2_auth_seq_id",
         "?pdbx_ptnr2_pdb_ins_code", "ptnr2_label_atom_id|ptnr2_auth_atom_id", "?pdbx_ptnr2_label_alt_id",
         "?conn_type_id", "?ptnr1_symmetry", "?ptnr2_symmetry"});
    auto given = [&](size_t k, size_t r) { return conn[k] ? conn[k].Given(r) : std::string_view(); };
    for (size_t r = 0; r < conn.Rows(); r++) {
      ImportReadStep();
      if (ImportEqualNoCase(given(12, r), "hydrog"))
        continue;
      const std::string_view sym1 = given(13, r), sym2 = given(14, r);
      if ((!sym1.empty() && sym1 != "1_555") || (!sym2.empty() && sym2 != "1_555"))
        continue;
      connRows_++;
      std::string key1 = AtomKey(given(0, r), given(1, r), given(2, r), given(3, r), given(4, r));
      std::string key2 = AtomKey(given(6, r), given(7, r), given(8, r), given(9, r), given(10, r));
      const std::string_view alt1 = given(5, r), alt2 = given(11, r);
      std::string whole = key1;
      whole.append("\x1d").append(key2).append("\x1d").append(alt1).append("\x1d").append(alt2);
      const auto [same, fresh] = connOfAtoms_.try_emplace(std::move(whole), conn_.size());
      if (!fresh) {
        conn_[same->second].rows++;
        continue;
      }
      Connection &bond = conn_.emplace_back();
      bond.key2 = std::move(key2);
      bond.alt1 = alt1;
      bond.alt2 = alt2;
      bond.line = conn.Line(r);
      connOfFirst_[std::move(key1)].push_back(conn_.size() - 1);
    }
  }

  struct Connection {
    std::string key2;             // the second atom's key
    std::string_view alt1, alt2;  // the locations named, in the text
    int line = 0;                 // of the first row naming them
    size_t rows = 1;              // the rows naming them
  };
  bool connRead_ = false;
  std::vector<Connection> conn_; // distinct, in the order of their first rows
  size_t connRows_ = 0;          // the rows that may be bonds
  std::unordered_map<std::string, size_t> connOfAtoms_;
  std::unordered_map<std::string, std::vector<size_t>> connOfFirst_;

  const CIFBlockTags &tags_;
  ImportResult &result_;
  CIFTable atoms_;
  std::vector<std::array<double, 3>> cart_; // of each row
  std::vector<ElementCode> element_;         // of each row
  std::vector<ModelAtoms> models_;
  std::vector<size_t> modelOfRow_;  // of each row
  std::vector<uint32_t> siteOfRow_; // of each kept row, in its model's structure
  size_t altLeft_ = 0, atomsOfFirstModel_ = 0;
  double cell_[6] = {};
  int cellLine_ = 0;
  std::string cellWarning_;
  bool crystal_ = false;
  double S_[3][3] = {}, shift_[3] = {}; // fractional = S x + shift
};

} // namespace

bool IsMMCIFBlock(const CIFBlockTags &tags) {
  return tags.Named("_atom_site_cartn_x") &&
         (tags.Named("_atom_site_label_atom_id") || tags.Named("_atom_site_auth_atom_id") ||
          tags.Named("_atom_site_group_pdb") || tags.Named("_atom_site_pdbx_pdb_model_num"));
}

bool ReadMMCIFBlock(const CIFBlockTags &tags, ImportResult &result) {
  MMCIFReader reader(tags, result);
  return reader.Read();
}
