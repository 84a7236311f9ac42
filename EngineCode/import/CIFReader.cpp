// Crystallographic Information Files: every data block with a cell and at
// least one atom site with fractional coordinates is a structure. The syntax
// is parsed by gemmi's CIF grammar (this is the one file that includes
// gemmi), with actions that keep views of the text; the data names
// are read in both their older ("_atom_site_fract_x") and their dotted
// ("_atom_site.fract_x") spellings.
//
// Symmetry comes from the file's own operators when it lists them, else from
// its Hall symbol, else from its Hermann-Mauguin symbol; the operators go
// through the engine's own detection (ImportSymmetry.h), so that a setting
// the table does not hold (an origin moved by c/3, say) stays as the file
// gives it.

#include "import/ImportTypes.h"

#include "StoredLimits.h"
#include "import/ImportSymmetry.h"
#include "import/ImportText.h"
#include "import/StructureFill.h"

// Debian's gemmi comes without its bundled printf: should a header here reach
// for it, the standard one is taken.
#define USE_STD_SNPRINTF
#include <gemmi/cif.hpp>
#include <gemmi/symmetry.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <unordered_map>

namespace cif = gemmi::cif;

namespace {

// Rows of the atom-site loop this close (fractional, each axis) stand at one
// position: they are one site when their occupancies allow it.
constexpr double kSamePositionTolerance = 1e-4;
// Occupancies of the rows of one site may sum to 1 plus this much.
constexpr double kOccupancySumSlack = 1e-3;
// A fractional coordinate beyond this is no coordinate.
constexpr double kLargestFractional = 1e4;
constexpr double kEightPiSquared = 8.0 * M_PI * M_PI;

// ---- Parsing ---------------------------------------------------------------------
// gemmi's grammar with actions of our own: values are places in the text
// (no copy of each), and each loop row keeps the line it starts on.

// A loop's value: where it stands in the text, in half a view's room (the
// text is at most kMaxImportFileBytes long), as loops hold most of a file.
struct ValuePlace {
  uint32_t offset = 0, size = 0;
};
static_assert(kMaxImportFileBytes <= UINT32_MAX, "a place in the text fits in 32 bits");

struct Item {
  bool loop = false;
  int line = 0;
  std::string_view tag, value;         // a pair
  std::vector<std::string_view> tags;  // a loop
  // A loop: its values, the `count` from `first` on in the document's one
  // list of every loop's values (one list grows, not one a loop), and the
  // text they stand in.
  const std::vector<ValuePlace> *values = nullptr;
  size_t first = 0, count = 0;
  const char *text = nullptr;
  std::vector<int> rowLines; // a loop: the line of each row

  std::string_view Value(size_t k) const {
    const ValuePlace &place = (*values)[first + k];
    return {text + place.offset, place.size};
  }
};
struct Block {
  std::string_view name;
  std::vector<Item> items;
};
struct Document {
  const char *text = nullptr;      // the whole text
  std::vector<ValuePlace> values; // the values of every loop
  std::vector<Block> blocks;
  std::vector<Item> frame; // save frames: parsed, not read
  std::vector<Item> *items = nullptr;
  size_t loopColumn = 0; // the column of the open loop's next value
};

// A loop whose values do not fill its rows names its own first line.
struct LoopShortError {
  int line;
  size_t values, columns;
};

template <typename Rule> struct ParseAction : tao::pegtl::nothing<Rule> {};
template <> struct ParseAction<cif::rules::datablockname> {
  template <typename Input> static void apply(const Input &in, Document &d) {
    d.blocks.push_back({in.string_view(), {}});
    d.items = &d.blocks.back().items;
  }
};
template <> struct ParseAction<cif::rules::str_global> {
  template <typename Input> static void apply(const Input &, Document &d) {
    d.blocks.push_back({"global_", {}});
    d.items = &d.blocks.back().items;
  }
};
template <> struct ParseAction<cif::rules::framename> {
  template <typename Input> static void apply(const Input &, Document &d) {
    d.frame.clear();
    d.items = &d.frame;
  }
};
template <> struct ParseAction<cif::rules::endframe> {
  template <typename Input> static void apply(const Input &, Document &d) {
    d.items = d.blocks.empty() ? &d.frame : &d.blocks.back().items;
  }
};
template <> struct ParseAction<cif::rules::item_tag> {
  template <typename Input> static void apply(const Input &in, Document &d) {
    Item &item = d.items->emplace_back();
    item.tag = in.string_view();
    item.line = static_cast<int>(in.iterator().line);
  }
};
template <> struct ParseAction<cif::rules::item_value> {
  template <typename Input> static void apply(const Input &in, Document &d) { d.items->back().value = in.string_view(); }
};
template <> struct ParseAction<cif::rules::str_loop> {
  template <typename Input> static void apply(const Input &in, Document &d) {
    Item &item = d.items->emplace_back();
    item.loop = true;
    item.line = static_cast<int>(in.iterator().line);
    item.text = d.text;
    item.values = &d.values;
    item.first = d.values.size();
    d.loopColumn = 0;
  }
};
template <> struct ParseAction<cif::rules::loop_tag> {
  template <typename Input> static void apply(const Input &in, Document &d) {
    d.items->back().tags.push_back(in.string_view());
  }
};
template <> struct ParseAction<cif::rules::loop_value> {
  template <typename Input> static void apply(const Input &in, Document &d) {
    Item &item = d.items->back();
    // A running column rather than a division per value.
    if (d.loopColumn == 0)
      item.rowLines.push_back(static_cast<int>(in.iterator().line));
    if (++d.loopColumn == item.tags.size())
      d.loopColumn = 0;
    const std::string_view v = in.string_view();
    d.values.push_back({static_cast<uint32_t>(v.data() - d.text), static_cast<uint32_t>(v.size())});
    item.count++;
  }
};
template <> struct ParseAction<cif::rules::loop> {
  template <typename Input> static void apply(const Input &, Document &d) {
    const Item &item = d.items->back();
    if (item.count % item.tags.size() != 0)
      throw LoopShortError{item.line, item.count, item.tags.size()};
  }
};

bool ParseDocument(const ImportSource &source, Document &doc, ImportError &error) {
  if (source.text.size() > kMaxImportFileBytes) {
    error.line = 0;
    error.what = "it is larger than " + std::to_string(kMaxImportFileBytes >> 20) + " MB, the most this version reads";
    return false;
  }
  doc.text = source.text.data();
  try {
    tao::pegtl::memory_input<> in(source.text.data(), source.text.size(), source.name);
    tao::pegtl::parse<cif::rules::file, ParseAction, cif::Errors>(in, doc);
  } catch (const LoopShortError &e) {
    error.line = e.line;
    error.what = "the loop that starts here has " + std::to_string(e.values) + " values for its " +
                 std::to_string(e.columns) + " columns: a value is missing or one too many, or a data name " +
                 "stands among its values";
    return false;
  } catch (const tao::pegtl::parse_error &e) {
    error.line = e.positions().empty() ? 0 : static_cast<int>(e.positions().front().line);
    error.what = "the text is no CIF syntax (" + std::string(e.message()) + ")";
    return false;
  } catch (const std::exception &e) {
    error.line = 0;
    error.what = std::string("the text is no CIF syntax (") + e.what() + ")";
    return false;
  }
  return true;
}

// ---- Values ----------------------------------------------------------------------

// A data name in one spelling: lower case, the category's dot made "_".
std::string TagKey(std::string_view tag) {
  std::string key(tag);
  for (char &ch : key)
    ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  const size_t dot = key.find('.');
  if (dot != std::string::npos)
    key[dot] = '_';
  return key;
}

// A value without its quotes; a text field without its semicolons.
std::string_view Unquoted(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '\'' || v.front() == '"') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  if (v.size() >= 2 && v.front() == ';')
    return TrimImport(v.substr(1, v.size() - 2));
  return v;
}

// A number with its esd. The usual form ("-0.1234(5)", "90") is read
// straight; anything else through the shared reader. The digits of a short
// number are taken as one integer and divided by a power of ten: both are
// exact in a double, so the one division rounds as a full conversion would.
std::optional<NumberWithEsd> CIFNumber(std::string_view t) {
  static constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7,
                                            1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  constexpr int kMostExactDigits = 15; // below 2^53
  const char *p = t.data(), *const end = p + t.size();
  const bool negative = p != end && *p == '-';
  if (negative)
    p++;
  uint64_t digits = 0;
  const char *const first = p;
  for (; p != end && *p >= '0' && *p <= '9'; p++)
    digits = digits * 10 + static_cast<uint64_t>(*p - '0');
  const ptrdiff_t before = p - first;
  ptrdiff_t decimals = 0;
  if (p != end && *p == '.') {
    const char *const point = ++p;
    for (; p != end && *p >= '0' && *p <= '9'; p++)
      digits = digits * 10 + static_cast<uint64_t>(*p - '0');
    decimals = p - point;
    if (decimals == 0)
      return ImportNumberWithEsd(t);
  }
  if (before == 0 || before + decimals > kMostExactDigits)
    return ImportNumberWithEsd(t);
  double value = static_cast<double>(digits) / kPowersOfTen[decimals];
  if (negative)
    value = -value;
  if (p == end)
    return NumberWithEsd{value, 0.0};
  if (*p != '(' || end - p < 3 || end[-1] != ')' || end - p > 11)
    return ImportNumberWithEsd(t);
  long esd = 0;
  for (p++; p != end - 1; p++) {
    if (*p < '0' || *p > '9')
      return ImportNumberWithEsd(t);
    esd = esd * 10 + (*p - '0');
  }
  return NumberWithEsd{value, static_cast<double>(esd) / kPowersOfTen[decimals]};
}

bool IsNull(std::string_view raw) { return raw.empty() || raw == "?" || raw == "."; }

// Where a data name's values stand in a block: a single pair, or a column
// of a loop.
struct Column {
  const Item *item = nullptr;
  size_t column = 0;

  explicit operator bool() const { return item != nullptr; }
  size_t Rows() const {
    if (!item)
      return 0;
    return item->loop ? item->count / item->tags.size() : 1;
  }
  std::string_view Raw(size_t row) const {
    return item->loop ? item->Value(row * item->tags.size() + column) : item->value;
  }
  bool Null(size_t row) const { return IsNull(Raw(row)); }
  std::string_view Text(size_t row) const { return Unquoted(Raw(row)); }
  // The text of a value, empty for a null one.
  std::string_view Given(size_t row) const {
    const std::string_view raw = Raw(row);
    return IsNull(raw) ? std::string_view() : Unquoted(raw);
  }
  std::optional<NumberWithEsd> Number(size_t row) const {
    const std::string_view raw = Raw(row);
    return IsNull(raw) ? std::nullopt : CIFNumber(Unquoted(raw));
  }
  bool SameLoop(const Column &other) const { return item && item == other.item; }
};

// The data names of one block, each in its one spelling.
class BlockTags {
public:
  explicit BlockTags(const Block &block) : block_(block) {
    for (const Item &item : block.items)
      if (!item.loop)
        tags_.emplace(TagKey(item.tag), Column{&item, 0});
      else
        for (size_t c = 0; c < item.tags.size(); c++)
          tags_.emplace(TagKey(item.tags[c]), Column{&item, c});
  }

  Column Find(std::initializer_list<std::string_view> names) const {
    for (std::string_view n : names)
      if (auto it = tags_.find(n); it != tags_.end())
        return it->second;
    return {};
  }
  // The first value of the first of the names that has one.
  std::string_view Value(std::initializer_list<std::string_view> names) const {
    for (std::string_view n : names)
      if (auto it = tags_.find(n); it != tags_.end() && it->second.Rows() > 0 && !it->second.Null(0))
        return it->second.Text(0);
    return {};
  }
  // The line of a row of the column's loop (the line of the pair for a pair).
  static int Line(const Column &col, size_t row) {
    const std::vector<int> &rows = col.item->rowLines;
    return row < rows.size() ? rows[row] : col.item->line;
  }
  int FirstLine() const { return block_.items.empty() ? 0 : block_.items.front().line; }

private:
  const Block &block_;
  struct KeyHash {
    using is_transparent = void;
    size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
  };
  std::unordered_map<std::string, Column, KeyHash, std::equal_to<>> tags_;
};

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
// the first row at its position. Linear in rows: a hash grid over the cell
// whose cells are ten times the tolerance, their faces half a cell off the
// usual special positions (0, 1/4, 1/2, ...), so that a row looks into a
// neighbour cell only when it lies that close to the face between them.
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
    group[r] = best == r ? r : group[best];
    const int64_t own = key(0, 0, 0);
    uint64_t &entry = slot(own);
    next[r] = lastRow(entry);
    entry = static_cast<uint64_t>(own) << 32 | r;
  }
  return group;
}

class BlockReader {
public:
  BlockReader(const Block &block, const BlockTags &tags, ImportResult &result)
      : block_(block), tags_(tags), result_(result) {}

  // Fills one structure of the block; nothing when the block is none.
  // False when the file must be refused.
  bool Read(std::optional<NotAStructure> &why) {
    const Column x = tags_.Find({"_atom_site_fract_x"}), y = tags_.Find({"_atom_site_fract_y"}),
                 z = tags_.Find({"_atom_site_fract_z"});
    double cell[6], esd[6];
    static constexpr std::string_view kCellNames[6] = {"_cell_length_a",    "_cell_length_b",   "_cell_length_c",
                                                       "_cell_angle_alpha", "_cell_angle_beta", "_cell_angle_gamma"};
    int cellLine = 0;
    for (int k = 0; k < 6; k++) {
      const Column col = tags_.Find({kCellNames[k]});
      const auto v = col && col.Rows() > 0 ? col.Number(0) : std::nullopt;
      if (!v) {
        why = NotAStructure::NoCell;
        return true;
      }
      cell[k] = v->value;
      esd[k] = v->esd;
      cellLine = col.item->line;
    }
    if (!x || !x.SameLoop(y) || !x.SameLoop(z) || x.Rows() == 0) {
      why = NotAStructure::NoSites;
      return true;
    }
    ImportedStructure *s = BeginImportedStructure(result_, std::string(block_.name));
    if (!s)
      return true; // beyond the most structures a file makes: counted
    s_ = s;
    ImportError cellError;
    if (!SetImportCell(*s, cellError, cellLine, cell, esd)) {
      result_.structures.pop_back();
      why = NotAStructure::BadCell;
      badCell_ = cellError;
      return true;
    }
    s->extras.title = std::string(block_.name);
    s->formula = std::string(TrimImport(tags_.Value({"_chemical_formula_sum"})));
    s->extras.notes = std::string(tags_.Value({"_publ_section_comment"}));
    ReadRows(x, y, z);
    if (rows_.empty()) {
      result_.structures.pop_back();
      why = NotAStructure::NoSites;
      return true;
    }
    if (!MakeSites() || !ReadAnisotropic() || !ReadSymmetry())
      return false;
    return FinishImportedStructure(*s, result_.error);
  }

  const ImportError &BadCell() const { return badCell_; }

private:
  void Warn(int line, const std::string &text) { ImportWarning(*s_, line, text); }

  void ReadRows(const Column &x, const Column &y, const Column &z) {
    const Column label = tags_.Find({"_atom_site_label"}), type = tags_.Find({"_atom_site_type_symbol"}),
                 occ = tags_.Find({"_atom_site_occupancy"}), uiso = tags_.Find({"_atom_site_u_iso_or_equiv"}),
                 biso = tags_.Find({"_atom_site_b_iso_or_equiv"}),
                 adp = tags_.Find({"_atom_site_adp_type", "_atom_site_thermal_displace_type"}),
                 calc = tags_.Find({"_atom_site_calc_flag"});
    // Columns of another loop than the coordinates' say nothing of these rows.
    auto ours = [&](const Column &c) { return c.SameLoop(x) ? c : Column{}; };
    const Column cLabel = ours(label), cType = ours(type), cOcc = ours(occ), cU = ours(uiso), cB = ours(biso),
                 cAdp = ours(adp), cCalc = ours(calc);
    const size_t n = x.Rows();
    rows_.reserve(n);
    for (size_t r = 0; r < n; r++) {
      const int line = BlockTags::Line(x, r);
      SiteRow row;
      row.row = r;
      row.line = line;
      row.label = cLabel ? cLabel.Given(r) : std::string_view();
      auto name = [&] { return row.label.empty() ? "row " + std::to_string(r + 1) : "\"" + std::string(row.label) + "\""; };
      if (cCalc && ImportEqualNoCase(cCalc.Text(r), "dum")) {
        Warn(line, "the dummy atom " + name() + " is left out.");
        continue;
      }
      bool placed = true;
      const Column *coords[3] = {&x, &y, &z};
      for (int k = 0; k < 3 && placed; k++) {
        const auto v = coords[k]->Number(r);
        placed = v && std::fabs(v->value) <= kLargestFractional;
        if (placed) {
          row.xyz[k] = v->value;
          row.esd[k] = static_cast<float>(v->esd);
        }
      }
      if (!placed) {
        Warn(line, "the atom " + name() + " has no fractional coordinates and is left out.");
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
        const auto o = cOcc.Number(r);
        if (!o || o->value <= 0.0 || o->value > 1.0 + kOccupancySumSlack) {
          Warn(line, "the occupancy of the atom " + name() + " (" + std::string(cOcc.Text(r)) +
                         ") lies outside (0, 1]; it is taken as 1.");
        } else {
          row.occupancy = std::min(1.0, o->value);
        }
      }
      const std::string_view adpType = cAdp ? cAdp.Given(r) : std::string_view();
      std::optional<NumberWithEsd> u = cU ? cU.Number(r) : std::nullopt;
      std::optional<NumberWithEsd> b = cB ? cB.Number(r) : std::nullopt;
      if (u || b) {
        const double value = u ? u->value : b->value / kEightPiSquared;
        if (value > 0.0) {
          row.displacement = kDisplacementIsotropic;
          row.iso = static_cast<float>(value);
        } else if (!ImportStartsNoCase(adpType, "Uani") && !ImportStartsNoCase(adpType, "Bani")) {
          Warn(line, "the isotropic displacement of the atom " + name() + " is not positive and is left out.");
        }
      }
      rows_.push_back(std::move(row));
    }
  }

  // Rows at one position whose occupancies allow it become one site.
  bool MakeSites() {
    const std::vector<size_t> group = GroupRows(rows_);
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
      const bool oneSite = rows.size() > 1 && sum <= 1.0 + kOccupancySumSlack && parts.size() <= kMaxSiteElements;
      if (rows.size() > 1 && !oneSite) {
        std::string labels;
        for (size_t m : rows)
          labels += (labels.empty() ? "\"" : ", \"") + std::string(rows_[m].label) + "\"";
        Warn(rows_[r].line, "the atoms " + labels + " stand at one position but " +
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
      AsymmetricUnitRecord *site = AppendImportSite(result_, *s_, first.label, first.element, first.xyz, first.line);
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
    const Column label = tags_.Find({"_atom_site_aniso_label"});
    if (!label)
      return true;
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
    // The record's forms: U, or beta (2 pi^2 a*_i a*_j U_ij).
    struct Form {
      const char *stem;
      uint32_t type;
      double scale;
    };
    static constexpr Form kForms[] = {{"_atom_site_aniso_u_", kDisplacementAnisoU, 1.0},
                                      {"_atom_site_aniso_b_", kDisplacementAnisoU, 1.0 / kEightPiSquared},
                                      {"_atom_site_aniso_beta_", kDisplacementAnisoB, 1.0}};
    static constexpr const char *kIndices[6] = {"11", "22", "33", "12", "13", "23"};
    for (const Form &form : kForms) {
      Column cols[6];
      bool all = true;
      for (int k = 0; k < 6; k++) {
        const std::string name = std::string(form.stem) + kIndices[k];
        cols[k] = tags_.Find({name});
        all = all && cols[k].SameLoop(label);
      }
      if (!all)
        continue;
      CrystalRec &c = s_->crystal;
      for (size_t r = 0; r < label.Rows(); r++) {
        const int line = tags_.Line(label, r);
        const std::string_view name = label.Text(r);
        const size_t labelRow = name.empty() ? kNoRow : slotOf(name);
        if (labelRow == kNoRow)
          continue; // a dummy or skipped atom, said already
        double v[6];
        bool ok = true;
        for (int k = 0; k < 6 && ok; k++) {
          const auto n = cols[k].Number(r);
          ok = n.has_value();
          if (ok)
            v[k] = n->value * form.scale;
        }
        if (!ok) {
          if (!cols[0].Null(r))
            Warn(line, "the anisotropic displacement of the atom \"" + std::string(name) + "\" is not a set of numbers; it is left out.");
          continue;
        }
        AsymmetricUnitRecord &site = c.sites[siteOfRow_[labelRow]];
        const float t[9] = {static_cast<float>(v[0]), static_cast<float>(v[3]), static_cast<float>(v[4]),
                            static_cast<float>(v[3]), static_cast<float>(v[1]), static_cast<float>(v[5]),
                            static_cast<float>(v[4]), static_cast<float>(v[5]), static_cast<float>(v[2])};
        std::copy(t, t + 9, site.tensor);
        site.displacementType = form.type;
        c.ellipsoidData = 1;
      }
      break;
    }
    return true;
  }

  bool ReadSymmetry() {
    const Column ops = tags_.Find({"_space_group_symop_operation_xyz", "_symmetry_equiv_pos_as_xyz"});
    const std::string_view hm =
        tags_.Value({"_space_group_name_h-m_alt", "_symmetry_space_group_name_h-m", "_space_group_name_h-m_ref",
                     "_space_group_name_h-m_full"});
    const std::string_view hall = tags_.Value({"_space_group_name_hall", "_symmetry_space_group_name_hall"});
    if (ops && ops.Rows() > 0) {
      std::vector<std::string> list;
      list.reserve(ops.Rows());
      for (size_t r = 0; r < ops.Rows(); r++)
        if (!ops.Null(r))
          list.emplace_back(ops.Text(r));
      if (!list.empty())
        return SetSymmetryFromOperators(*s_, list, ops.item->line, result_.error, hm);
    }
    const Column hallCol = tags_.Find({"_space_group_name_hall", "_symmetry_space_group_name_hall"});
    if (!hall.empty()) {
      std::vector<std::string> list;
      try {
        const gemmi::GroupOps g = gemmi::symops_from_hall(std::string(hall).c_str());
        for (const gemmi::Op &so : g.sym_ops)
          for (const gemmi::Op::Tran &t : g.cen_ops)
            list.push_back(so.add_centering(t).wrap().triplet());
      } catch (const std::exception &) {
        list.clear();
      }
      if (!list.empty())
        return SetSymmetryFromOperators(*s_, list, hallCol.item->line, result_.error, hm);
      Warn(hallCol.item->line, "the Hall symbol \"" + std::string(hall) + "\" names no group.");
    }
    const Column hmCol = tags_.Find({"_space_group_name_h-m_alt", "_symmetry_space_group_name_h-m",
                                     "_space_group_name_h-m_ref", "_space_group_name_h-m_full"});
    const int hmLine = hmCol ? hmCol.item->line : tags_.FirstLine();
    std::string_view symbol = hm;
    if (symbol.empty())
      symbol = tags_.Value({"_space_group_it_number", "_symmetry_int_tables_number"});
    if (!symbol.empty()) {
      int origin = 0;
      const std::string_view code = TrimImport(tags_.Value({"_space_group_it_coordinate_system_code"}));
      if (code == "1" || code == "2")
        origin = code[0] - '0';
      if (SetSymmetryFromSymbol(*s_, symbol, origin, hmLine))
        return true;
      Warn(hmLine, "the space group \"" + std::string(symbol) + "\" is not known; the structure is read in P 1.");
    } else {
      Warn(tags_.FirstLine(), "the file gives no symmetry; the structure is read in P 1.");
    }
    return SetSymmetryFromSymbol(*s_, "P 1", 0, hmLine);
  }

  const Block &block_;
  const BlockTags &tags_;
  ImportResult &result_;
  ImportedStructure *s_ = nullptr;
  std::vector<SiteRow> rows_;
  std::vector<uint8_t> merged_; // rows taken into an earlier row's site
  std::vector<size_t> siteOfRow_; // the site each row became
  ImportError badCell_;
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
  Document doc;
  if (!ParseDocument(source, doc, result.error))
    return false;
  std::optional<NotAStructure> firstWhy;
  ImportError firstBadCell;
  for (size_t b = 0; b < doc.blocks.size(); b++) {
    const BlockTags tags(doc.blocks[b]);
    BlockReader reader(doc.blocks[b], tags, result);
    std::optional<NotAStructure> why;
    if (!reader.Read(why))
      return false;
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
                              ? "it holds no atom site with fractional coordinates"
                              : "it holds no data block with a unit cell (_cell_length_a to _cell_angle_gamma)";
    }
    return false;
  }
  return true;
}

extern const ImportFormat gCIFImport{"CIF", "CIF files", "cif", "", IsCIFFile, DoCIFFile};
