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

CIFBlockTags::CIFBlockTags(const CIFBlock &block) : block_(block) {
  for (const CIFItem &item : block.items)
    if (!item.loop)
      tags_.emplace(CIFTagKey(item.tag), CIFColumn::Of(item, 0));
    else
      for (size_t c = 0; c < item.tags.size(); c++)
        tags_.emplace(CIFTagKey(item.tags[c]), CIFColumn::Of(item, c));
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
