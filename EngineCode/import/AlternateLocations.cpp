// The first alternate location of each residue position.
#include "import/AlternateLocations.h"

namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ')
    text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ')
    text.remove_suffix(1);
  return text;
}

} // namespace

bool AlternateLocationChoice::Keeps(std::string_view chain, std::string_view residueNumber,
                                    std::string_view insertion, std::string_view location) {
  location = Trimmed(location);
  if (location.empty() || location == "." || location == "?")
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
