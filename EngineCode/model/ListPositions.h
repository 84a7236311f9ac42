// Removing the entries at a set of list positions, as the editors' lists do
// for their selected rows.
#pragma once

#include <algorithm>
#include <vector>

// Erases the entries at the given positions (any order, repeats and
// positions past the end ignored); the rest keep their order.
template <typename T> void EraseListPositions(std::vector<T> &list, std::vector<int> positions) {
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  for (auto it = positions.rbegin(); it != positions.rend(); ++it)
    if (*it >= 0 && *it < static_cast<int>(list.size()))
      list.erase(list.begin() + *it);
}
