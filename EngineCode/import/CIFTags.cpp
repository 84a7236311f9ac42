// The data names of a parsed CIF block, its values and its tables.
#include "import/CIFTags.h"

#include "StoredLimits.h"

#include <cctype>
#include <cstdint>

static_assert(kMaxImportFileBytes <= UINT32_MAX, "a place in the text fits in 32 bits");

bool ReadCIFDocument(const ImportSource &source, CIFDocument &doc, ImportError &error) {
  if (source.text.size() > kMaxImportFileBytes) {
    error.line = 0;
    error.what = "it is larger than " + std::to_string(kMaxImportFileBytes >> 20) + " MB, the most this version reads";
    return false;
  }
  return ParseCIFDocument(source.text, source.name, doc, error.line, error.what);
}

std::string CIFTagKey(std::string_view tag) {
  std::string key(tag);
  for (char &ch : key)
    ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  const size_t dot = key.find('.');
  if (dot != std::string::npos)
    key[dot] = '_';
  return key;
}

// The usual form ("-0.1234(5)", "90") is read straight; anything else through
// the shared reader. The digits of a short number are taken as one integer
// and divided by a power of ten: both are exact in a double, so the one
// division rounds as a full conversion would.
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

CIFBlockTags::CIFBlockTags(const CIFBlock &block) : block_(block) {
  for (const CIFItem &item : block.items)
    if (!item.loop)
      tags_.emplace(CIFTagKey(item.tag), CIFColumn{&item, 0});
    else
      for (size_t c = 0; c < item.tags.size(); c++)
        tags_.emplace(CIFTagKey(item.tags[c]), CIFColumn{&item, c});
}

namespace {

// Calls `each` with every spelling of "a|b|c" behind the prefix, until it
// answers true.
template <typename Each> void ForEachSpelling(std::string_view prefix, std::string_view spellings, Each each) {
  std::string key;
  for (size_t from = 0; from <= spellings.size();) {
    size_t bar = spellings.find('|', from);
    if (bar == std::string_view::npos)
      bar = spellings.size();
    key.assign(prefix);
    key.append(spellings.substr(from, bar - from));
    if (each(key))
      return;
    from = bar + 1;
  }
}

} // namespace

CIFColumn CIFBlockTags::Named(std::string_view spellings) const {
  CIFColumn found;
  ForEachSpelling({}, spellings, [&](const std::string &key) {
    if (auto it = tags_.find(key); it != tags_.end())
      found = it->second;
    return bool(found);
  });
  return found;
}

std::string_view CIFBlockTags::Value(std::string_view spellings) const {
  std::string_view value;
  ForEachSpelling({}, spellings, [&](const std::string &key) {
    auto it = tags_.find(key);
    if (it == tags_.end() || it->second.Rows() == 0 || it->second.Null(0))
      return false;
    value = it->second.Text(0);
    return true;
  });
  return value;
}

CIFTable CIFBlockTags::Find(std::string_view prefix, std::span<const std::string_view> names) const {
  CIFTable table;
  table.columns_.reserve(names.size());
  std::vector<bool> optional;
  optional.reserve(names.size());
  for (std::string_view name : names) {
    optional.push_back(!name.empty() && name.front() == '?');
    if (optional.back())
      name.remove_prefix(1);
    CIFColumn column;
    ForEachSpelling(prefix, name, [&](const std::string &key) {
      if (auto it = tags_.find(key); it != tags_.end())
        column = it->second;
      return bool(column);
    });
    if (column && !optional.back() && !table.anchor_)
      table.anchor_ = column;
    table.columns_.push_back(column);
  }
  // A loop's columns stand in that loop; pairs go with pairs.
  const CIFItem *anchor = table.anchor_.item;
  table.found_ = anchor != nullptr;
  for (size_t k = 0; k < table.columns_.size(); k++) {
    CIFColumn &column = table.columns_[k];
    if (column && (anchor && anchor->loop ? column.item == anchor : !column.item->loop))
      continue;
    column = {};
    table.found_ = table.found_ && optional[k];
  }
  return table;
}
