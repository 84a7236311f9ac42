// The first alternate location of each residue position, and the groups of
// the locations kept.
#include "import/AlternateLocations.h"

#include "StructureRecord.h"

#include <algorithm>

namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ')
    text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ')
    text.remove_suffix(1);
  return text;
}

bool IsBlankLocation(std::string_view location) { return location.empty() || location == "." || location == "?"; }

} // namespace

bool AlternateLocationChoice::Keeps(std::string_view chain, std::string_view residueNumber,
                                    std::string_view insertion, std::string_view location) {
  location = Trimmed(location);
  if (IsBlankLocation(location))
    return true;
  std::string key(Trimmed(chain));
  key += '\x1f';
  key += Trimmed(residueNumber);
  key += '\x1f';
  const std::string_view code = Trimmed(insertion);
  if (code != "." && code != "?")
    key += code;
  const auto [it, fresh] = first_.try_emplace(std::move(key), location);
  return fresh || it->second == location;
}

int16_t AlternateLocationChoice::Group(std::string_view location) {
  location = Trimmed(location);
  if (IsBlankLocation(location))
    return 0;
  auto it = std::find(kept_.begin(), kept_.end(), location);
  if (it == kept_.end())
    it = kept_.insert(kept_.end(), std::string(location));
  return static_cast<int16_t>(std::min<ptrdiff_t>(kKeptConformerGroup + (it - kept_.begin()), INT16_MAX));
}
