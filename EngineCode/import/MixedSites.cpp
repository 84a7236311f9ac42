#include "import/MixedSites.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

MixedSite JoinAtOnePlace(std::span<const std::pair<ElementCode, double>> atoms) {
  MixedSite site;
  for (const auto &[element, occupancy] : atoms) {
    site.sum += occupancy;
    auto it = std::find_if(site.parts.begin(), site.parts.end(),
                           [same = element](const auto &p) { return p.first == same; });
    if (it == site.parts.end())
      site.parts.emplace_back(element, occupancy);
    else
      it->second += occupancy;
  }
  if (site.parts.empty())
    return site;
  // Most sites hold one element: nothing to order, and no sort's buffer.
  if (site.parts.size() > 1)
    std::stable_sort(site.parts.begin(), site.parts.end(), [](const auto &a, const auto &b) { return a.second > b.second; });
  const ElementCode leading = site.parts.front().first;
  bool found = false;
  for (size_t k = 0; k < atoms.size(); k++)
    if (atoms[k].first == leading && (!found || atoms[k].second > atoms[site.lead].second)) {
      site.lead = k;
      found = true;
    }
  const bool overfilled = site.sum > 1.0 + kOccupancySumSlack;
  site.joined = atoms.size() > 1 && site.parts.size() <= static_cast<size_t>(kMaxSiteElements) &&
                (!overfilled || site.parts.size() == atoms.size());
  return site;
}

std::string MixedSiteWarning(const MixedSite &site, size_t atoms, std::string_view labels) {
  if (atoms < 2)
    return {};
  if (site.joined) {
    if (site.sum <= 1.0 + kOccupancySumSlack)
      return {};
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", site.sum);
    return "the atoms " + std::string(labels) + " at one position are one mixed site, but their occupancies sum to " +
           text + ".";
  }
  return "the atoms " + std::string(labels) + " stand at one position but " +
         (site.parts.size() > static_cast<size_t>(kMaxSiteElements) ? "hold more than three elements"
                                                                    : "their occupancies sum to more than 1") +
         "; they stay separate sites.";
}
