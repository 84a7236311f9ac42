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
#include "UnitCell.h"
#include "import/CIFTags.h"
#include "import/CellFrame.h"
#include "import/MMCIFMapping.h"
#include "import/ImportSymmetry.h"
#include "import/ElementOfName.h"
#include "import/ImportText.h"
#include "import/MixedSites.h"
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

// A fractional coordinate beyond this is no coordinate.
constexpr double kLargestFractional = 1e4;
constexpr double kEightPiSquared = 8.0 * M_PI * M_PI;

// ---- One block -------------------------------------------------------------------

// One row of the atom-site loop as read, but for its position (kept in a
// list of their own, as the search for rows at one place reads them). Its
// fields are packed: a large file holds a row per atom.
struct SiteRow {
  std::string_view label; // in the parsed document
  double occupancy = 1.0;
  float esd[3] = {};
  float iso = 0.0f;
  int line = 0;
  ElementCode element = kBlankElement;
  int16_t assembly = 0; // disorder assembly and group (StructureRecord.h)
  int16_t group = 0;
  uint8_t multiplicity = 0; // as the file gives it (at most 192); 0: not given
  uint8_t displacement = kDisplacementNone;
  bool occupancyGiven = false;
};

// Why a block holds no structure, for the refusal of a file without one.
enum class NotAStructure : uint8_t { NoCell, NoSites, BadCell };

// The atom-site table: the coordinates, then what a row may add.
enum SiteColumn : size_t {
  kX, kY, kZ, kLabel, kType, kOccupancy, kUiso, kBiso, kAdpType, kCalcFlag, kMultiplicity, kAssembly, kGroup
};

// Disorder codes beyond a 16-bit group, and codes that are no number (the
// dictionary allows any code), are told apart from this number up.
constexpr int kFirstNamedDisorderCode = 1000;

// A disorder code as a number, 0 for none: a whole number in range as it
// stands, any other code numbered in order of first appearance.
int16_t DisorderCode(std::string_view text, std::unordered_map<std::string, int16_t> &named) {
  if (text.empty())
    return 0;
  if (const auto v = ImportNumber(text); v && *v == std::round(*v) && std::fabs(*v) < kFirstNamedDisorderCode)
    return static_cast<int16_t>(*v);
  const auto [it, fresh] = named.try_emplace(std::string(text), 0);
  if (fresh)
    it->second = static_cast<int16_t>(std::min<size_t>(kFirstNamedDisorderCode + named.size() - 1, INT16_MAX));
  return it->second;
}

// The labels of rows for a Log line: the first few, then how many more.
std::string RowLabels(const std::vector<SiteRow> &all, const std::vector<size_t> &rows) {
  WarningNames labels;
  for (size_t r : rows)
    labels.Add("\"" + std::string(all[r].label) + "\"");
  return labels.Text();
}

class BlockReader {
public:
  BlockReader(const CIFBlockTags &tags, ImportResult &result) : block_(tags.Block()), tags_(tags), result_(result) {}

  // Fills one structure of the block; nothing when the block is none.
  // False when the file must be refused.
  bool Read(std::optional<NotAStructure> &why) {
    std::array<std::string_view, 13> names = {"fract_x",        "fract_y",        "fract_z",
                                              "?label",         "?type_symbol",   "?occupancy",
                                              "?u_iso_or_equiv", "?b_iso_or_equiv", "?adp_type|thermal_displace_type",
                                              "?calc_flag",     "?symmetry_multiplicity",
                                              "?disorder_assembly", "?disorder_group"};
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
    s->commonName = std::string(TrimImport(tags_.Value("_chemical_name_mineral")));
    s->mineralName = !s->commonName.empty();
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
    if (molecule_)
      return FinishImportedStructure(*s, result_.error);
    // The sites as read: those the finish leaves out shift the rest.
    const size_t siteCount = s->crystal.sites.size();
    return FinishImportedStructure(*s, result_.error, CellRoom::Held, [this, siteCount] {
      if (s_->crystal.sites.size() == siteCount)
        ShareUngivenOccupancies();
    });
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

  bool Position(const RowNumbers &numbers, SiteRow &row, std::array<double, 3> &xyz) const {
    for (size_t k = 0; k < 3; k++) {
      const auto &v = numbers[kX + k];
      if (!v || !(std::fabs(v->value) <= (cartesian_ ? stored::kFinite.high : kLargestFractional)))
        return false;
      xyz[k] = v->value;
      row.esd[k] = cartesian_ ? 0.0f : static_cast<float>(v->esd);
    }
    if (cartesian_ && !molecule_) {
      const double x[3] = {xyz[0], xyz[1], xyz[2]};
      for (size_t i = 0; i < 3; i++) {
        xyz[i] = toFractional_[i][0] * x[0] + toFractional_[i][1] * x[1] + toFractional_[i][2] * x[2] + shift_[i];
        if (!(std::fabs(xyz[i]) <= kLargestFractional))
          return false;
      }
    }
    return true;
  }

  // False, the file refused, for a value that is no number.
  bool ReadRows(const CIFTable &sites) {
    const CIFColumn &cLabel = sites[kLabel], &cType = sites[kType], &cOcc = sites[kOccupancy],
                    &cAdp = sites[kAdpType], &cCalc = sites[kCalcFlag],
                    &cMult = sites[kMultiplicity], &cAssembly = sites[kAssembly], &cGroup = sites[kGroup];
    // The codes of assemblies and of groups that are no numbers.
    std::unordered_map<std::string, int16_t> assemblies, groups;
    const size_t n = sites.Rows();
    rows_.reserve(n);
    positions_.reserve(n);
    // One array for every row: a row clears the six numbers it reads, where
    // clearing the whole array took a large share of a row's time.
    RowNumbers numbers;
    for (size_t r = 0; r < n; r++) {
      const int line = sites.Line(r);
      SiteRow row;
      row.line = line;
      row.label = cLabel ? cLabel.Given(r) : std::string_view();
      auto name = [&] { return row.label.empty() ? "row " + std::to_string(r + 1) : "\"" + std::string(row.label) + "\""; };
      if (cCalc && ImportEqualNoCase(cCalc.Text(r), "dum")) {
        Warn(line, "the dummy atom " + name() + " is left out.");
        continue;
      }
      // A value that is given (not ? or .) but is no number is a mistyped
      // one: the file is refused rather than the atom quietly changed.
      for (size_t k : {size_t{kX}, size_t{kY}, size_t{kZ}, size_t{kOccupancy}, size_t{kUiso}, size_t{kBiso}}) {
        const CIFColumn &c = sites[k];
        numbers[k].reset();
        if (!c || c.Null(r))
          continue;
        // Taken field by field: a copy of the whole optional would read back
        // its flag's byte, just written, as part of a wider word.
        const std::optional<NumberWithEsd> v = c.Number(r);
        if (v)
          numbers[k].emplace(*v);
        else
          return RefuseImport(result_, line,
                              std::string(k <= kZ ? "the coordinate" : k == kOccupancy ? "the occupancy" : "the displacement") +
                                  " \"" + std::string(c.Text(r)) + "\" of the atom " + name() + " is not a number");
      }
      std::array<double, 3> xyz{};
      if (!Position(numbers, row, xyz)) {
        Warn(line, "the atom " + name() + (cartesian_ ? " has no Cartesian" : " has no fractional") +
                       " coordinates and is left out.");
        continue;
      }
      std::optional<ElementCode> e;
      if (const std::string_view symbol = cType ? cType.Given(r) : std::string_view(); !symbol.empty())
        e = ElementFromSymbol(symbol);
      if (!e && !row.label.empty())
        e = ElementOfLabel(*s_, line, row.label);
      if (!e) {
        Warn(line, "the element of the atom " + name() + " is not known; it is shown as \"" +
                       ElementSymbolText(kPlaceholderElement) + "\".");
        e = kPlaceholderElement;
      }
      row.element = *e;
      if (cOcc && !cOcc.Null(r)) {
        row.occupancyGiven = true;
        const auto &o = numbers[kOccupancy];
        // An occupancy of 0 is kept as given (the structure's finish says
        // so once).
        if (!o || o->value < 0.0 || o->value > 1.0 + kOccupancySumSlack) {
          Warn(line, "the occupancy of the atom " + name() + " (" + std::string(cOcc.Text(r)) +
                         ") lies outside [0, 1]; it is taken as 1.");
        } else {
          row.occupancy = std::min(1.0, o->value);
        }
      }
      const std::string_view adpType = cAdp ? cAdp.Given(r) : std::string_view();
      const std::optional<NumberWithEsd> &u = numbers[kUiso], &b = numbers[kBiso];
      if ((u || b) && !molecule_) {
        const double value = u ? u->value : b->value / kEightPiSquared;
        if (value > 0.0) {
          row.displacement = static_cast<uint8_t>(kDisplacementIsotropic);
          row.iso = static_cast<float>(value);
        } else if (!ImportStartsNoCase(adpType, "Uani") && !ImportStartsNoCase(adpType, "Bani")) {
          Warn(line, "the isotropic displacement of the atom " + name() + " is not positive and is left out.");
        }
      }
      if (const auto m = cMult ? cMult.Number(r) : std::nullopt; m && m->value >= 1.0 && m->value <= 192.0)
        row.multiplicity = static_cast<uint8_t>(m->value);
      // Groups without an assembly are of the file's one assembly.
      row.group = cGroup ? DisorderCode(cGroup.Given(r), groups) : 0;
      if (row.group != 0 && cAssembly)
        row.assembly = DisorderCode(cAssembly.Given(r), assemblies);
      rows_.push_back(row);
      positions_.push_back(xyz);
    }
    return true;
  }

  // A site none of whose rows gives an occupancy, with images closer than a
  // bond, is one atom at several places: its occupancy is divided among them.
  void ShareUngivenOccupancies() {
    CrystalRec &c = s_->crystal;
    std::vector<uint8_t> given(c.sites.size(), 0);
    for (size_t r = 0; r < rows_.size(); r++)
      if (rows_[r].occupancyGiven && siteOfRow_[r] < given.size())
        given[siteOfRow_[r]] = 1;
    if (std::all_of(given.begin(), given.end(), [](uint8_t g) { return g != 0; }))
      return;
    int32_t nOps = 0;
    const auto ops = CrystalOperators(c, &nOps);
    if (!ops)
      return;
    for (size_t site = 0; site < given.size() && site < leadRow_.size(); site++) {
      if (given[site])
        continue;
      const int32_t places = ShareOccupancyAmongCloseImages(&c, site, *ops);
      if (places > 1) {
        char share[32];
        std::snprintf(share, sizeof share, "%.3f", double(c.sites[site].occupancies[0]));
        const SiteRow &row = rows_[leadRow_[site]];
        Warn(row.line, "the atom " + std::string(row.label) + " gives no occupancy and its images lie " +
                           std::to_string(places) + " at a time closer than a bond: they are places of one atom, " +
                           "each of occupancy " + share + ".");
      }
    }
  }

  // Rows at one position that are parts of one disorder (different groups
  // of one assembly) are alternatives, never one atom: each group's rows
  // there make a site of their own, bonded to its own part only. `group`
  // maps each row to the first row at its position; afterwards to the first
  // row at its position of its own group where the position holds parts.
  void KeepAlternativesApart(std::vector<size_t> &group) const {
    const auto part = [&](size_t r) { return std::pair{rows_[r].assembly, rows_[r].group}; };
    // Per position, the first row of each part met there.
    std::unordered_map<size_t, std::vector<size_t>> leads;
    bool anyParts = false;
    for (size_t r = 0; r < rows_.size(); r++)
      if (group[r] != r || leads.count(r)) {
        std::vector<size_t> &seen = leads[group[r]];
        if (seen.empty())
          seen.push_back(group[r]);
        if (std::none_of(seen.begin(), seen.end(), [&](size_t m) { return part(m) == part(r); }))
          seen.push_back(r);
      }
    for (auto &[first, seen] : leads) {
      // Parts: two non-zero groups of one assembly.
      bool parts = false;
      for (size_t i = 0; i < seen.size() && !parts; i++)
        for (size_t j = i + 1; j < seen.size() && !parts; j++)
          parts = rows_[seen[i]].group != 0 && rows_[seen[j]].group != 0 &&
                  rows_[seen[i]].assembly == rows_[seen[j]].assembly;
      if (!parts)
        seen.clear();
      anyParts = anyParts || parts;
    }
    if (!anyParts)
      return;
    for (size_t r = 0; r < rows_.size(); r++) {
      const auto it = leads.find(group[r]);
      if (it == leads.end() || it->second.empty())
        continue;
      group[r] = *std::find_if(it->second.begin(), it->second.end(), [&](size_t m) { return part(m) == part(r); });
    }
  }

  // Rows at one position whose occupancies allow it become one site.
  bool MakeSites() {
    // A molecule's atoms stay apart.
    std::vector<size_t> group;
    if (molecule_) {
      group.resize(rows_.size());
      std::iota(group.begin(), group.end(), size_t{0});
    } else {
      group = GroupAtOnePlace(positions_);
      KeepAlternativesApart(group);
    }
    // The members of each group, in file order.
    std::unordered_map<size_t, std::vector<size_t>> members;
    for (size_t r = 0; r < rows_.size(); r++)
      if (group[r] != r)
        members[group[r]].push_back(r);
    CrystalRec &c = s_->crystal;
    ReserveImportSites(*s_, rows_.size());
    merged_.assign(rows_.size(), 0);
    std::vector<size_t> rows;
    std::vector<std::pair<ElementCode, double>> atoms;
    siteOfRow_.assign(rows_.size(), 0);
    leadRow_.clear();
    leadRow_.reserve(rows_.size());
    MixedSite mixed;
    for (size_t r = 0; r < rows_.size(); r++) {
      if (merged_[r])
        continue;
      rows.assign(1, r);
      if (group[r] == r && !members.empty())
        if (auto it = members.find(r); it != members.end())
          rows.insert(rows.end(), it->second.begin(), it->second.end());
      if (rows.size() == 1) {
        // A row alone at its place is a site of its one element, as
        // JoinAtOnePlace makes it.
        mixed.parts.assign(1, {rows_[r].element, rows_[r].occupancy});
        mixed.sum = rows_[r].occupancy;
        mixed.joined = false;
        mixed.lead = 0;
      } else {
        // The elements of the rows, the same element's occupancies added.
        atoms.clear();
        for (size_t m : rows)
          atoms.emplace_back(rows_[m].element, rows_[m].occupancy);
        mixed = JoinAtOnePlace(atoms);
      }
      // Only rows at one position have anything to be warned of, and only
      // then are their labels written out.
      if (rows.size() > 1)
        if (const std::string w = MixedSiteWarning(mixed, rows.size(), RowLabels(rows_, rows)); !w.empty())
          Warn(rows_[r].line, w);
      if (rows.size() > 1 && !mixed.joined) {
        rows.erase(rows.begin() + 1, rows.end());
        mixed.parts.assign(1, {rows_[r].element, rows_[r].occupancy});
      } else if (mixed.joined) {
        for (size_t m : rows)
          merged_[m] = 1;
      }
      const std::vector<std::pair<ElementCode, double>> &parts = mixed.parts;
      // A mixed site is named as its largest share and keeps that row's
      // position, esd and displacement.
      const size_t lead = rows[mixed.joined ? mixed.lead : 0];
      leadRow_.push_back(static_cast<uint32_t>(lead));
      const SiteRow &leading = rows_[lead];
      const double *xyz = positions_[lead].data();
      AsymmetricUnitRecord *site = molecule_ ? AppendImportAtom(result_, *s_, leading.label, leading.element, xyz, leading.line)
                                             : AppendImportSite(result_, *s_, leading.label, leading.element, xyz, leading.line);
      if (!site)
        return false;
      for (size_t k = 0; k < parts.size(); k++) {
        site->elements[k] = parts[k].first;
        site->occupancies[k] = static_cast<float>(std::min(1.0, parts[k].second));
      }
      std::copy(leading.esd, leading.esd + 3, site->esd);
      if (leading.esd[0] > 0.0f || leading.esd[1] > 0.0f || leading.esd[2] > 0.0f)
        c.esdFlag = 1;
      if (leading.displacement != kDisplacementNone) {
        site->displacementType = leading.displacement;
        site->isoValue = leading.iso;
        c.ellipsoidData = 1;
      }
      // Rows of different groups merged at one position leave the site in
      // none.
      if (std::all_of(rows.begin(), rows.end(), [&](size_t m) {
            return rows_[m].group == leading.group && rows_[m].assembly == leading.assembly;
          })) {
        site->disorderAssembly = leading.assembly;
        site->disorderGroup = leading.group;
      }
      for (size_t m : rows)
        siteOfRow_[m] = static_cast<uint32_t>(c.sites.size() - 1);
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
    // A mixed site takes the tensor of its leading row, or else of the first
    // of its rows the loop gives.
    std::vector<uint8_t> given(c.sites.size(), 0);
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
      const size_t siteIndex = siteOfRow_[labelRow];
      if (given[siteIndex] && leadRow_[siteIndex] != labelRow)
        continue;
      given[siteIndex] = 1;
      AsymmetricUnitRecord &site = c.sites[siteIndex];
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
      std::vector<int> &multiplicities = s_->multiplicities;
      multiplicities.assign(s_->crystal.sites.size(), 0);
      for (size_t r = 0; r < rows_.size(); r++)
        if (int &m = multiplicities[siteOfRow_[r]]; m == 0)
          m = rows_[r].multiplicity;
      if (SetSymmetryFromSymbol(*s_, symbol, origin, hmLine))
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
  std::vector<std::array<double, 3>> positions_; // of each row: fractional, or Cartesian (A) in a molecule
  std::vector<uint8_t> merged_; // rows taken into an earlier row's site
  // Numbers of rows and sites, in 32 bits: a row takes a value of the text,
  // which is held to 32-bit places (CIFDocument.h).
  std::vector<uint32_t> siteOfRow_; // the site each row became
  std::vector<uint32_t> leadRow_;   // the row each site takes its label and values from
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
