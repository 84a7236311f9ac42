// The data names of a parsed CIF block and their values, as the mappings to
// a structure read them. A name is looked up in one spelling, whichever the
// file wrote ("_atom_site_fract_x" or "_atom_site.fract_x", any case); the
// columns of one category are found together, as a table.
#pragma once

#include "import/CIFDocument.h"
#include "import/ImportText.h"
#include "import/ImportTypes.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Parses the text of a source, refusing text beyond the import limit.
bool ReadCIFDocument(const ImportSource &source, CIFDocument &doc, ImportError &error);

// A data name in one spelling: lower case, the category's dot made "_".
std::string CIFTagKey(std::string_view tag);
// A value without its quotes; a text field without its semicolons and the
// line ends and blanks around its text. Inline: every value of a loop
// passes through it.
inline std::string_view CIFUnquoted(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '\'' || v.front() == '"') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  if (v.size() >= 2 && v.front() == ';') {
    // The field's text stands between the line ends of its opening and
    // closing semicolons.
    v = v.substr(1, v.size() - 2);
    while (!v.empty() && (v.front() == '\n' || v.back() == '\n'))
      v = TrimImport(v.front() == '\n' ? v.substr(1) : v.substr(0, v.size() - 1));
    return TrimImport(v);
  }
  return v;
}
// A number with its esd in parentheses ("-0.1234(5)"): the usual form read
// inline, as a loop holds mostly numbers; anything else through the shared
// reader.
inline std::optional<NumberWithEsd> CIFNumber(std::string_view t) {
  double value = 0.0;
  int decimals = 0;
  const size_t used = ImportPlainDecimal(t, value, decimals);
  if (used != 0 && used == t.size())
    return NumberWithEsd{value, 0.0};
  constexpr size_t kLongestEsd = 11; // "(" nine digits ")"
  const size_t rest = t.size() - used;
  if (used == 0 || t[used] != '(' || rest < 3 || t.back() != ')' || rest > kLongestEsd)
    return ImportNumberWithEsd(t);
  long esd = 0;
  for (size_t k = used + 1; k + 1 < t.size(); k++) {
    if (static_cast<unsigned>(t[k] - '0') > 9u)
      return ImportNumberWithEsd(t);
    esd = esd * 10 + (t[k] - '0');
  }
  return NumberWithEsd{value, static_cast<double>(esd) / kImportPowersOfTen[decimals]};
}
inline bool CIFIsNull(std::string_view raw) { return raw.empty() || raw == "?" || raw == "."; }

// Where a data name's values stand in a block: a single pair, or a column of
// a loop. Empty when the block has no such name.
struct CIFColumn {
  const CIFItem *item = nullptr;
  size_t column = 0;
  // A loop's column: its first value's place, the row's stride, the text.
  const CIFValuePlace *place = nullptr;
  size_t stride = 0;
  const char *text = nullptr;

  static CIFColumn Of(const CIFItem &item, size_t column) {
    // A loop without values has no first value to point at (and no rows).
    if (!item.loop || item.count == 0)
      return {&item, column};
    return {&item, column, item.values->data() + item.first + column, item.tags.size(), item.text};
  }
  explicit operator bool() const { return item != nullptr; }
  size_t Rows() const {
    if (!item)
      return 0;
    return item->loop ? item->count / item->tags.size() : 1;
  }
  std::string_view Raw(size_t row) const {
    if (!place)
      return item->value;
    const CIFValuePlace &p = place[row * stride];
    return {text + p.offset, p.size};
  }
  bool Null(size_t row) const { return CIFIsNull(Raw(row)); }
  std::string_view Text(size_t row) const { return CIFUnquoted(Raw(row)); }
  // The text of a value, empty for a null one.
  std::string_view Given(size_t row) const {
    const std::string_view raw = Raw(row);
    return CIFIsNull(raw) ? std::string_view() : CIFUnquoted(raw);
  }
  std::optional<NumberWithEsd> Number(size_t row) const {
    const std::string_view raw = Raw(row);
    return CIFIsNull(raw) ? std::nullopt : CIFNumber(CIFUnquoted(raw));
  }
  // The line a row starts on (a pair's own line).
  int Line(size_t row) const {
    const CIFPlainList<int> &rows = item->rowLines;
    return item->loop && row < rows.size() ? rows[row] : item->line;
  }
};

// The columns of one category read together.
class CIFTable {
public:
  // Every required name is there.
  explicit operator bool() const { return found_; }
  size_t Rows() const { return found_ ? anchor_.Rows() : 0; }
  // The k-th name's column (empty for an optional name the table lacks).
  const CIFColumn &operator[](size_t k) const { return columns_[k]; }
  // The line a row starts on.
  int Line(size_t row) const { return anchor_.Line(row); }

private:
  friend class CIFBlockTags;
  bool found_ = false;
  CIFColumn anchor_; // the first required name's
  std::vector<CIFColumn> columns_;
};

// The data names of one block, each in its one spelling. Names are asked for
// in that spelling; "|" separates the spellings of one name
// ("_symmetry_equiv_pos_as_xyz|_space_group_symop_operation_xyz"), the first
// the block has is taken.
class CIFBlockTags {
public:
  explicit CIFBlockTags(const CIFBlock &block);

  const CIFBlock &Block() const { return block_; }
  // The column of the first of the spellings the block has.
  CIFColumn Named(std::string_view spellings) const;
  // The first value of the first of the spellings that has one.
  std::string_view Value(std::string_view spellings) const;
  // A table: the names after a prefix, "?" before an optional one
  // (`Find("_atom_site_", {"fract_x", "fract_y", "fract_z", "?label"})`).
  // The required names stand in one loop, the first one's, or are all pairs
  // (a table of one row); an optional name counts only with them, so that a
  // column of another loop says nothing of these rows.
  CIFTable Find(std::string_view prefix, std::span<const std::string_view> names) const;
  CIFTable Find(std::string_view prefix, std::initializer_list<std::string_view> names) const {
    return Find(prefix, std::span<const std::string_view>(names.begin(), names.size()));
  }
  int FirstLine() const { return block_.items.empty() ? 0 : block_.items.front().line; }

private:
  const CIFBlock &block_;
  struct KeyHash {
    using is_transparent = void;
    size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
  };
  std::unordered_map<std::string, CIFColumn, KeyHash, std::equal_to<>> tags_;
};
