// Crystallographic Information Files: every data block with a cell and at
// least one atom site with fractional coordinates is a structure. This file
// maps a parsed document (CIFDocument.h, read through CIFTags.h) to the
// structure record; the data names are read in both their older
// ("_atom_site_fract_x") and their dotted ("_atom_site.fract_x") spellings.
// A block of macromolecular models goes to MMCIFMapping.cpp.
//
// Sites given only by Cartesian coordinates (`_atom_site_Cartn_x`) are put
// in the cell through `_atom_sites_Cartn_tran_matrix_ij` and `_vector_i`
// (Cartesian = M fractional + v); a file without them is taken in the frame
// most programs write (a along x, b in the x-y plane), with a Log line. Such
// sites without a cell are a molecule.
//
// Symmetry comes from the file's own operators when it lists them, else from
// its Hall symbol, else from its Hermann-Mauguin symbol; the operators go
// through the engine's own detection (ImportSymmetry.h), so that a setting
// the table does not hold (an origin moved by c/3, say) stays as the file
// gives it.

#include "import/ImportTypes.h"

#include "StoredLimits.h"
#include "import/CIFTags.h"
#include "import/CellFrame.h"
#include "import/MMCIFMapping.h"
#include "import/ImportSymmetry.h"
#include "import/ImportText.h"
#include "import/StructureFill.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <unordered_map>

namespace {

// Rows of the atom-site loop this close (fractional, each axis) stand at one
// position: they are one site when their occupancies allow it.
constexpr double kSamePositionTolerance = 1e-4;
// Occupancies of the rows of one site may sum to 1 plus this much.
constexpr double kOccupancySumSlack = 1e-3;
// A fractional coordinate beyond this is no coordinate.
constexpr double kLargestFractional = 1e4;
constexpr double kEightPiSquared = 8.0 * M_PI * M_PI;

// ---- One block -------------------------------------------------------------------

// One row of the atom-site loop as read.
struct SiteRow {
  size_t row = 0;
  int line = 0;
  std::string_view label; // in the parsed document
  ElementCode element = kBlankElement;
  double xyz[3] = {};
  float esd[3] = {};
  double occupancy = 1.0;
  uint32_t displacement = kDisplacementNone;
  float iso = 0.0f;
  int multiplicity = 0; // as the file gives it; 0: not given
};

// Why a block holds no structure, for the refusal of a file without one.
enum class NotAStructure : uint8_t { NoCell, NoSites, BadCell };

bool SamePosition(const double a[3], const double b[3]) {
  for (int k = 0; k < 3; k++) {
    const double d = a[k] - b[k];
    if (std::fabs(d - std::round(d)) > kSamePositionTolerance)
      return false;
  }
  return true;
}

// Groups rows that stand at one position: each row's group is the index of
// the first row of a group within the tolerance of it (the site's position
// is its first row's). Linear in rows: a hash grid over the cell whose cells
// are ten times the tolerance, their faces half a cell off the usual special
// positions (0, 1/4, 1/2, ...), so that a row looks into a neighbour cell
// only when it lies that close to the face between them; a grid cell lists
// only the first rows of groups, which stand at least the tolerance apart,
// so that it holds a bounded few however many rows share a position.
std::vector<size_t> GroupRows(const std::vector<SiteRow> &rows) {
  constexpr int64_t kCells = static_cast<int64_t>(0.1 / kSamePositionTolerance);
  constexpr size_t kNone = ~size_t{0};
  // A grid cell's last row, in a table open-addressed by the cell's number
  // (no node per row); a slot holds the cell's number above its row.
  static_assert(kCells * kCells * kCells < (int64_t{1} << 31));
  static_assert(kMaxImportFileBytes / 2 < (uint64_t{1} << 32), "a row number fits in 32 bits");
  constexpr uint64_t kEmpty = ~uint64_t{0};
  size_t slots = 16;
  while (slots < 2 * rows.size())
    slots *= 2;
  std::vector<uint64_t> head(slots, kEmpty);
  // The slot of a cell, and the cell's last row (kNone before any).
  auto slot = [&](int64_t cellKey) -> uint64_t & {
    size_t h = static_cast<size_t>(cellKey) * 0x9E3779B97F4A7C15ull;
    for (h = (h >> 20) & (slots - 1);; h = (h + 1) & (slots - 1))
      if (head[h] == kEmpty || static_cast<int64_t>(head[h] >> 32) == cellKey)
        return head[h];
  };
  auto lastRow = [&](uint64_t entry) { return entry == kEmpty ? kNone : static_cast<size_t>(entry & 0xFFFFFFFFu); };
  std::vector<size_t> next(rows.size(), kNone), group(rows.size());
  for (size_t r = 0; r < rows.size(); r++) {
    int64_t cell[3];
    int lo[3], hi[3];
    for (int k = 0; k < 3; k++) {
      const double w = (rows[r].xyz[k] - std::floor(rows[r].xyz[k])) * static_cast<double>(kCells) + 0.5;
      cell[k] = static_cast<int64_t>(w);
      const double inside = w - static_cast<double>(cell[k]);
      if (cell[k] >= kCells)
        cell[k] -= kCells;
      lo[k] = inside < 0.1 ? -1 : 0;
      hi[k] = inside > 0.9 ? 1 : 0;
    }
    // The grid wraps with the cell (no division: a step is one cell).
    auto wrap = [](int64_t v) { return v < 0 ? v + kCells : v >= kCells ? v - kCells : v; };
    auto key = [&](int dx, int dy, int dz) {
      return (wrap(cell[0] + dx) * kCells + wrap(cell[1] + dy)) * kCells + wrap(cell[2] + dz);
    };
    size_t best = r;
    for (int dx = lo[0]; dx <= hi[0]; dx++)
      for (int dy = lo[1]; dy <= hi[1]; dy++)
        for (int dz = lo[2]; dz <= hi[2]; dz++)
          for (size_t other = lastRow(slot(key(dx, dy, dz))); other != kNone; other = next[other])
            if (other < best && SamePosition(rows[other].xyz, rows[r].xyz))
              best = other;
    group[r] = best;
    if (best != r)
      continue;
    const int64_t own = key(0, 0, 0);
    uint64_t &entry = slot(own);
    next[r] = lastRow(entry);
    entry = static_cast<uint64_t>(own) << 32 | r;
  }
  return group;
}

// The atom-site table: the coordinates, then what a row may add.
enum SiteColumn : size_t { kX, kY, kZ, kLabel, kType, kOccupancy, kUiso, kBiso, kAdpType, kCalcFlag, kMultiplicity };

// The labels of rows for a Log line: the first few, then how many more.
std::string RowLabels(const std::vector<SiteRow> &all, const std::vector<size_t> &rows) {
  constexpr size_t kNamed = 6;
  std::string labels;
  for (size_t k = 0; k < rows.size() && k < kNamed; k++)
    labels += (k == 0 ? "\"" : ", \"") + std::string(all[rows[k]].label) + "\"";
  if (rows.size() > kNamed)
    labels += " and " + std::to_string(rows.size() - kNamed) + " more";
  return labels;
}

class BlockReader {
public:
  BlockReader(const CIFBlockTags &tags, ImportResult &result) : block_(tags.Block()), tags_(tags), result_(result) {}

  // Fills one structure of the block; nothing when the block is none.
  // False when the file must be refused.
  bool Read(std::optional<NotAStructure> &why) {
    std::array<std::string_view, 11> names = {"fract_x",        "fract_y",        "fract_z",
                                              "?label",         "?type_symbol",   "?occupancy",
                                              "?u_iso_or_equiv", "?b_iso_or_equiv", "?adp_type|thermal_displace_type",
                                              "?calc_flag",     "?symmetry_multiplicity"};
    CIFTable sites = tags_.Find("_atom_site_", names);
    if (!sites) {
      names[kX] = "cartn_x", names[kY] = "cartn_y", names[kZ] = "cartn_z";
      sites = tags_.Find("_atom_site_", names);
      cartesian_ = bool(sites);
    }
    const CIFTable cellTable =
        tags_.Find("_cell_", {"length_a", "length_b", "length_c", "angle_alpha", "angle_beta", "angle_gamma"});
    double cell[6] = {}, esd[6] = {};
    for (size_t k = 0; k < 6 && !molecule_; k++) {
      const auto v = cellTable ? cellTable[k].Number(0) : std::nullopt;
      if (!v && cellTable && !cellTable[k].Null(0)) {
        why = NotAStructure::BadCell;
        badCell_ = {cellTable[k].Line(0), "the cell value \"" + std::string(cellTable[k].Text(0)) + "\" is not a number"};
        return true;
      }
      molecule_ = !v && cartesian_;
      if (!v && !molecule_) {
        why = NotAStructure::NoCell;
        return true;
      }
      cell[k] = v ? v->value : 0.0;
      esd[k] = v ? v->esd : 0.0;
    }
    if (sites.Rows() == 0) {
      why = NotAStructure::NoSites;
      return true;
    }
    ImportedStructure *s = BeginImportedStructure(result_, std::string(block_.name));
    if (!s)
      return true; // beyond the most structures a file makes: counted
    s_ = s;
    ImportError cellError;
    if (molecule_) {
      s->crystal.molecule = 1;
    } else if (!SetImportCell(*s, cellError, cellTable[5].Line(0), cell, esd)) {
      result_.structures.pop_back();
      why = NotAStructure::BadCell;
      badCell_ = cellError;
      return true;
    }
    s->extras.title = std::string(block_.name);
    s->formula = std::string(TrimImport(tags_.Value("_chemical_formula_sum")));
    s->commonName = std::string(TrimImport(tags_.Value("_chemical_name_mineral")));
    if (s->commonName.empty())
      s->commonName = std::string(TrimImport(tags_.Value("_chemical_name_common")));
    s->extras.notes = std::string(tags_.Value("_publ_section_comment"));
    if (cartesian_ && !molecule_)
      CartesianFrame(cell, sites[kX].item->line);
    if (!ReadRows(sites))
      return false;
    if (rows_.empty()) {
      result_.structures.pop_back();
      why = NotAStructure::NoSites;
      return true;
    }
    if (!MakeSites() || !ReadAnisotropic() || (!molecule_ && !ReadSymmetry()))
      return false;
    return FinishImportedStructure(*s, result_.error);
  }

  const ImportError &BadCell() const { return badCell_; }

private:
  void Warn(int line, const std::string &text) { ImportWarning(*s_, line, text); }

  // Fractional from the file's Cartesian coordinates: its own frame, else
  // the usual one.
  void CartesianFrame(const double cell[6], int sitesLine) {
    const CIFTable frame = tags_.Find(
        "_atom_sites_cartn_tran_", {"matrix_11", "matrix_12", "matrix_13", "matrix_21", "matrix_22", "matrix_23",
                                    "matrix_31", "matrix_32", "matrix_33", "?vector_1", "?vector_2", "?vector_3"});
    double rows[3][3], v[3] = {0, 0, 0};
    bool given = bool(frame);
    for (size_t k = 0; k < 12 && given; k++) {
      const auto n = frame[k] ? frame[k].Number(0) : std::nullopt;
      if (k < 9 && !n)
        given = false;
      else if (k < 9)
        rows[k % 3][k / 3] = n->value; // the matrix's columns are the cell's vectors
      else if (n)
        v[k - 9] = n->value;
    }
    if (given && FractionalisingRows(rows, toFractional_)) {
      for (int i = 0; i < 3; i++)
        shift_[i] = -(toFractional_[i][0] * v[0] + toFractional_[i][1] * v[1] + toFractional_[i][2] * v[2]);
      return;
    }
    Warn(frame ? frame.Line(0) : sitesLine,
         std::string(given ? "the file's _atom_sites_Cartn_tran_matrix has no inverse"
                           : "the file gives no _atom_sites_Cartn_tran_matrix") +
             "; its Cartesian coordinates are taken with a along x and b in the x-y plane.");
    StandardCellVectors(cell[0], cell[1], cell[2], cell[3], cell[4], cell[5], rows);
    FractionalisingRows(rows, toFractional_);
  }

  // The position of a row: fractional, or Cartesian (A) in a molecule.
  // The numbers of one row's numeric columns (indexed by SiteColumn up to
  // kBiso), each parsed once; none for a column the table lacks or a null.
  using RowNumbers = std::array<std::optional<NumberWithEsd>, kBiso + 1>;

  bool Position(const RowNumbers &numbers, SiteRow &row) const {
    for (size_t k = 0; k < 3; k++) {
      const auto &v = numbers[kX + k];
      if (!v || !(std::fabs(v->value) <= (cartesian_ ? stored::kFinite.high : kLargestFractional)))
        return false;
      row.xyz[k] = v->value;
      row.esd[k] = cartesian_ ? 0.0f : static_cast<float>(v->esd);
    }
    if (cartesian_ && !molecule_) {
      const double x[3] = {row.xyz[0], row.xyz[1], row.xyz[2]};
      for (int i = 0; i < 3; i++) {
        row.xyz[i] = toFractional_[i][0] * x[0] + toFractional_[i][1] * x[1] + toFractional_[i][2] * x[2] + shift_[i];
        if (!(std::fabs(row.xyz[i]) <= kLargestFractional))
          return false;
      }
    }
    return true;
  }

  // False, the file refused, for a value that is no number.
  bool ReadRows(const CIFTable &sites) {
    const CIFColumn &cLabel = sites[kLabel], &cType = sites[kType], &cOcc = sites[kOccupancy],
                    &cAdp = sites[kAdpType], &cCalc = sites[kCalcFlag], &cMult = sites[kMultiplicity];
    const size_t n = sites.Rows();
    rows_.reserve(n);
    for (size_t r = 0; r < n; r++) {
      const int line = sites.Line(r);
      SiteRow row;
      row.row = r;
      row.line = line;
      row.label = cLabel ? cLabel.Given(r) : std::string_view();
      auto name = [&] { return row.label.empty() ? "row " + std::to_string(r + 1) : "\"" + std::string(row.label) + "\""; };
      if (cCalc && ImportEqualNoCase(cCalc.Text(r), "dum")) {
        Warn(line, "the dummy atom " + name() + " is left out.");
        continue;
      }
      // A value that is given (not ? or .) but is no number is a mistyped
      // one: the file is refused rather than the atom quietly changed.
      RowNumbers numbers;
      for (size_t k : {size_t{kX}, size_t{kY}, size_t{kZ}, size_t{kOccupancy}, size_t{kUiso}, size_t{kBiso}})
        if (const CIFColumn &c = sites[k]; c && !c.Null(r) && !(numbers[k] = c.Number(r)))
          return RefuseImport(result_, line,
                              std::string(k <= kZ ? "the coordinate" : k == kOccupancy ? "the occupancy" : "the displacement") +
                                  " \"" + std::string(c.Text(r)) + "\" of the atom " + name() + " is not a number");
      if (!Position(numbers, row)) {
        Warn(line, "the atom " + name() + (cartesian_ ? " has no Cartesian" : " has no fractional") +
                       " coordinates and is left out.");
        continue;
      }
      std::optional<ElementCode> e;
      if (const std::string_view symbol = cType ? cType.Given(r) : std::string_view(); !symbol.empty())
        e = ElementFromSymbol(symbol);
      if (!e && !row.label.empty())
        e = ElementFromSymbol(row.label);
      if (!e) {
        Warn(line, "the element of the atom " + name() + " is not known; it is shown as \"" +
                       ElementSymbolText(kPlaceholderElement) + "\".");
        e = kPlaceholderElement;
      }
      row.element = *e;
      if (cOcc && !cOcc.Null(r)) {
        const auto &o = numbers[kOccupancy];
        if (!o || o->value <= 0.0 || o->value > 1.0 + kOccupancySumSlack) {
          Warn(line, "the occupancy of the atom " + name() + " (" + std::string(cOcc.Text(r)) +
                         ") lies outside (0, 1]; it is taken as 1.");
        } else {
          row.occupancy = std::min(1.0, o->value);
        }
      }
      const std::string_view adpType = cAdp ? cAdp.Given(r) : std::string_view();
      const std::optional<NumberWithEsd> &u = numbers[kUiso], &b = numbers[kBiso];
      if ((u || b) && !molecule_) {
        const double value = u ? u->value : b->value / kEightPiSquared;
        if (value > 0.0) {
          row.displacement = kDisplacementIsotropic;
          row.iso = static_cast<float>(value);
        } else if (!ImportStartsNoCase(adpType, "Uani") && !ImportStartsNoCase(adpType, "Bani")) {
          Warn(line, "the isotropic displacement of the atom " + name() + " is not positive and is left out.");
        }
      }
      if (const auto m = cMult ? cMult.Number(r) : std::nullopt; m && m->value >= 1.0 && m->value <= 192.0)
        row.multiplicity = static_cast<int>(m->value);
      rows_.push_back(std::move(row));
    }
    return true;
  }

  // Rows at one position whose occupancies allow it become one site.
  bool MakeSites() {
    // A molecule's atoms stay apart.
    std::vector<size_t> group(rows_.size());
    if (molecule_)
      std::iota(group.begin(), group.end(), size_t{0});
    else
      group = GroupRows(rows_);
    // The members of each group, in file order.
    std::unordered_map<size_t, std::vector<size_t>> members;
    for (size_t r = 0; r < rows_.size(); r++)
      if (group[r] != r)
        members[group[r]].push_back(r);
    CrystalRec &c = s_->crystal;
    c.sites.reserve(rows_.size());
    s_->labels.reserve(rows_.size());
    merged_.assign(rows_.size(), 0);
    std::vector<size_t> rows;
    std::vector<std::pair<ElementCode, double>> parts;
    siteOfRow_.assign(rows_.size(), 0);
    for (size_t r = 0; r < rows_.size(); r++) {
      if (merged_[r])
        continue;
      rows.assign(1, r);
      if (group[r] == r && !members.empty())
        if (auto it = members.find(r); it != members.end())
          rows.insert(rows.end(), it->second.begin(), it->second.end());
      // The elements of the rows, the same element's occupancies added.
      parts.clear();
      double sum = 0.0;
      for (size_t m : rows) {
        sum += rows_[m].occupancy;
        auto it = std::find_if(parts.begin(), parts.end(), [&](const auto &p) { return p.first == rows_[m].element; });
        if (it == parts.end())
          parts.emplace_back(rows_[m].element, rows_[m].occupancy);
        else
          it->second += rows_[m].occupancy;
      }
      // A refinement may leave the occupancies of a mixed site, one row per
      // element, a little over 1: it is still one site. Rows of one element
      // that overfill a position are atoms written twice.
      const bool overfilled = sum > 1.0 + kOccupancySumSlack;
      const bool oneSite =
          rows.size() > 1 && parts.size() <= kMaxSiteElements && (!overfilled || parts.size() == rows.size());
      if (oneSite && overfilled) {
        char text[32];
        std::snprintf(text, sizeof text, "%.4g", sum);
        Warn(rows_[r].line, "the atoms " + RowLabels(rows_, rows) + " at one position are one mixed site, but " +
                                "their occupancies sum to " + text + ".");
      }
      if (rows.size() > 1 && !oneSite) {
        Warn(rows_[r].line, "the atoms " + RowLabels(rows_, rows) + " stand at one position but " +
                                (parts.size() > kMaxSiteElements ? "hold more than three elements"
                                                                 : "their occupancies sum to more than 1") +
                                "; they stay separate sites.");
        rows.erase(rows.begin() + 1, rows.end());
        parts.assign(1, {rows_[r].element, rows_[r].occupancy});
      } else if (oneSite) {
        for (size_t m : rows)
          merged_[m] = 1;
      }
      const SiteRow &first = rows_[r];
      AsymmetricUnitRecord *site =
          molecule_ ? AppendImportAtom(result_, *s_, first.label, first.element, first.xyz, first.line)
                    : AppendImportSite(result_, *s_, first.label, first.element, first.xyz, first.line);
      if (!site)
        return false;
      for (size_t k = 0; k < parts.size(); k++) {
        site->elements[k] = parts[k].first;
        site->occupancies[k] = static_cast<float>(std::min(1.0, parts[k].second));
      }
      std::copy(first.esd, first.esd + 3, site->esd);
      if (first.esd[0] > 0.0f || first.esd[1] > 0.0f || first.esd[2] > 0.0f)
        c.esdFlag = 1;
      if (first.displacement != kDisplacementNone) {
        site->displacementType = first.displacement;
        site->isoValue = first.iso;
        c.ellipsoidData = 1;
      }
      for (size_t m : rows)
        siteOfRow_[m] = c.sites.size() - 1;
    }
    return true;
  }

  // The anisotropic loop, as U, B or beta, by label.
  bool ReadAnisotropic() {
    // The record's forms: U, or beta (2 pi^2 a*_i a*_j U_ij), each a table of
    // the label and the 11 22 33 12 13 23 entries.
    struct Form {
      CIFTable table;
      uint32_t type;
      double scale;
    };
    const Form forms[] = {
        {tags_.Find("_atom_site_aniso_", {"label", "u_11", "u_22", "u_33", "u_12", "u_13", "u_23"}),
         kDisplacementAnisoU, 1.0},
        {tags_.Find("_atom_site_aniso_", {"label", "b_11", "b_22", "b_33", "b_12", "b_13", "b_23"}),
         kDisplacementAnisoU, 1.0 / kEightPiSquared},
        {tags_.Find("_atom_site_aniso_", {"label", "beta_11", "beta_22", "beta_33", "beta_12", "beta_13", "beta_23"}),
         kDisplacementAnisoB, 1.0}};
    const Form *form = std::find_if(std::begin(forms), std::end(forms), [](const Form &f) { return bool(f.table); });
    if (form == std::end(forms))
      return true;
    if (molecule_) {
      Warn(form->table.Line(0), "the anisotropic displacements of a structure without a cell are left out.");
      return true;
    }
    // The first row of each label, in a table open-addressed by the label's
    // hash (no node per row).
    constexpr size_t kNoRow = ~size_t{0};
    size_t slots = 16;
    while (slots < 2 * rows_.size())
      slots *= 2;
    std::vector<size_t> rowOfLabel(slots, kNoRow);
    auto slotOf = [&](std::string_view l) -> size_t & {
      for (size_t h = std::hash<std::string_view>{}(l) & (slots - 1);; h = (h + 1) & (slots - 1))
        if (rowOfLabel[h] == kNoRow || rows_[rowOfLabel[h]].label == l)
          return rowOfLabel[h];
    };
    for (size_t m = 0; m < rows_.size(); m++)
      if (size_t &row = slotOf(rows_[m].label); !rows_[m].label.empty() && row == kNoRow)
        row = m;
    const CIFTable &t = form->table;
    const CIFColumn &label = t[0];
    CrystalRec &c = s_->crystal;
    for (size_t r = 0; r < label.Rows(); r++) {
      const int line = t.Line(r);
      const std::string_view name = label.Text(r);
      const size_t labelRow = name.empty() ? kNoRow : slotOf(name);
      if (labelRow == kNoRow)
        continue; // a dummy or skipped atom, said already
      double v[6];
      bool ok = true;
      for (size_t k = 0; k < 6 && ok; k++) {
        const auto n = t[k + 1].Number(r);
        ok = n.has_value();
        if (ok)
          v[k] = n->value * form->scale;
      }
      if (!ok) {
        if (!t[1].Null(r))
          Warn(line, "the anisotropic displacement of the atom \"" + std::string(name) + "\" is not a set of numbers; it is left out.");
        continue;
      }
      AsymmetricUnitRecord &site = c.sites[siteOfRow_[labelRow]];
      const float tensor[9] = {static_cast<float>(v[0]), static_cast<float>(v[3]), static_cast<float>(v[4]),
                               static_cast<float>(v[3]), static_cast<float>(v[1]), static_cast<float>(v[5]),
                               static_cast<float>(v[4]), static_cast<float>(v[5]), static_cast<float>(v[2])};
      std::copy(tensor, tensor + 9, site.tensor);
      site.displacementType = form->type;
      c.ellipsoidData = 1;
    }
    return true;
  }

  bool ReadSymmetry() {
    constexpr std::string_view kHM = "_space_group_name_h-m_alt|_symmetry_space_group_name_h-m|"
                                     "_space_group_name_h-m_ref|_space_group_name_h-m_full";
    constexpr std::string_view kHall = "_space_group_name_hall|_symmetry_space_group_name_hall";
    const CIFColumn ops = tags_.Named("_space_group_symop_operation_xyz|_symmetry_equiv_pos_as_xyz");
    const std::string_view hm = tags_.Value(kHM);
    const std::string_view hall = tags_.Value(kHall);
    if (ops.Rows() > 0) {
      std::vector<std::string> list;
      list.reserve(ops.Rows());
      for (size_t r = 0; r < ops.Rows(); r++)
        if (!ops.Null(r))
          list.emplace_back(ops.Text(r));
      if (!list.empty())
        return SetSymmetryFromOperators(*s_, list, ops.item->line, result_.error, hm);
    }
    if (!hall.empty()) {
      const int hallLine = tags_.Named(kHall).item->line;
      const std::vector<std::string> list = HallSymbolOperators(hall);
      if (!list.empty())
        return SetSymmetryFromOperators(*s_, list, hallLine, result_.error, hm);
      Warn(hallLine, "the Hall symbol \"" + std::string(hall) + "\" names no group.");
    }
    const CIFColumn hmCol = tags_.Named(kHM);
    const int hmLine = hmCol ? hmCol.item->line : tags_.FirstLine();
    std::string_view symbol = hm;
    if (symbol.empty())
      symbol = tags_.Value("_space_group_it_number|_symmetry_int_tables_number");
    if (!symbol.empty()) {
      int origin = 0;
      const std::string_view code = TrimImport(tags_.Value("_space_group_it_coordinate_system_code"));
      if (code == "1" || code == "2")
        origin = code[0] - '0';
      // A two-origin symbol without its origin: the multiplicities the file
      // gives may tell which.
      std::vector<int> multiplicities(s_->crystal.sites.size(), 0);
      for (size_t r = 0; r < rows_.size(); r++)
        if (int &m = multiplicities[siteOfRow_[r]]; m == 0)
          m = rows_[r].multiplicity;
      if (SetSymmetryFromSymbol(*s_, symbol, origin, hmLine, multiplicities))
        return true;
      Warn(hmLine, "the space group \"" + std::string(symbol) + "\" is not known; the structure is read in P 1.");
    } else {
      Warn(tags_.FirstLine(), "the file gives no symmetry; the structure is read in P 1.");
    }
    return SetSymmetryFromSymbol(*s_, "P 1", 0, hmLine);
  }

  const CIFBlock &block_;
  const CIFBlockTags &tags_;
  ImportResult &result_;
  ImportedStructure *s_ = nullptr;
  std::vector<SiteRow> rows_;
  std::vector<uint8_t> merged_; // rows taken into an earlier row's site
  std::vector<size_t> siteOfRow_; // the site each row became
  ImportError badCell_;
  bool cartesian_ = false; // the sites are given by Cartesian coordinates
  bool molecule_ = false;  // ... and the block gives no cell
  double toFractional_[3][3] = {}, shift_[3] = {}; // of Cartesian coordinates: fractional = S x + shift
};

} // namespace

bool IsCIFFile(const ImportSource &source) {
  // A CIF's first word, past blanks and comments, opens a data block.
  std::string_view t = source.text;
  size_t k = 0;
  while (k < t.size()) {
    const char ch = t[k];
    if (ch == ' ' || ch == '\t' || ch == '\n') {
      k++;
    } else if (ch == '#') {
      const size_t end = t.find('\n', k);
      k = end == std::string_view::npos ? t.size() : end + 1;
    } else {
      return ImportStartsNoCase(t.substr(k), "data_") || ImportStartsNoCase(t.substr(k), "global_");
    }
  }
  return false;
}

bool DoCIFFile(const ImportSource &source, ImportResult &result) {
  if (RefuseCutInsideNumber(source, result))
    return false;
  CIFDocument doc;
  if (!ReadCIFDocument(source, doc, result.error))
    return false;
  std::optional<NotAStructure> firstWhy;
  ImportError firstBadCell;
  for (size_t b = 0; b < doc.blocks.size(); b++) {
    const CIFBlockTags tags(doc.blocks[b]);
    std::optional<NotAStructure> why;
    BlockReader reader(tags, result);
    if (IsMMCIFBlock(tags)) {
      const size_t before = result.structures.size();
      if (!ReadMMCIFBlock(tags, result))
        return false;
      if (result.structures.size() == before && result.structuresLeftOut == 0)
        why = NotAStructure::NoSites;
    } else if (!reader.Read(why)) {
      return false;
    }
    if (why && (!firstWhy || *why > *firstWhy)) {
      firstWhy = why;
      if (*why == NotAStructure::BadCell)
        firstBadCell = reader.BadCell();
    }
  }
  if (result.structures.empty()) {
    if (firstWhy == NotAStructure::BadCell) {
      result.error = firstBadCell;
    } else {
      result.error.line = 0;
      result.error.what = firstWhy == NotAStructure::NoSites
                              ? "it holds no atom site with fractional or Cartesian coordinates"
                              : "it holds no data block with a unit cell (_cell_length_a to _cell_angle_gamma)";
    }
    return false;
  }
  return true;
}

extern const ImportFormat gCIFImport{"CIF", "CIF files", "cif", "", IsCIFFile, DoCIFFile};
