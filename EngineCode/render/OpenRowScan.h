// The first and the last open row of a run of pixel rows, found with rows
// judged four at a time (the hidden pass works out four rows of a bond's
// footprint side by side).
#pragma once

#include "render/HiddenPrimitives.h"

#include <algorithm>

// The first and the last of the rows from `top` to `bottom` (both included)
// that are open; none when none is. `four(y)` prepares the rows y to y + 3
// (those past `bottom` among them are never asked about), and `open(y, k)`
// then says whether row y + k is open. Rows are asked about from the top
// down to the first open one, then from the bottom up to the last open one
// below it: a row is asked about at most once, and no row between the two
// found.
template <class Four, class Open> PixelRows FirstAndLastOpenRows(int top, int bottom, Four four, Open open) {
  while (top <= bottom) {
    four(top);
    const int n = std::min(4, bottom - top + 1);
    int k = 0;
    while (k < n && !open(top, k))
      k++;
    top += k;
    if (k < n)
      break;
  }
  while (bottom > top) {
    const int from = std::max(bottom - 3, top + 1);
    four(from);
    int k = bottom - from;
    while (k >= 0 && !open(from, k))
      k--;
    if (k >= 0) {
      bottom = from + k;
      break;
    }
    bottom = from - 1;
  }
  return top <= bottom ? PixelRows{int16_t(top), int16_t(bottom)} : PixelRows{1, 0};
}
