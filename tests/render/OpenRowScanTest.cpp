#include "render/OpenRowScan.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

TEST(OpenRowScan, FindsTheFirstAndLastOpenRowAskingEachRowOnceAndNoneBetween) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 4000; trial++) {
    // Runs of 0 to 20 rows (empty runs too), starting anywhere, a few open
    // rows or many.
    const int top = int(random() % 40) - 20;
    const int bottom = top + int(random() % 21) - 1;
    const unsigned chance = 1 + random() % 6;
    std::vector<bool> isOpen;
    for (int y = top; y <= bottom; y++)
      isOpen.push_back(random() % 8 < chance);
    // The reference: every row looked at.
    int first = bottom + 1, last = top - 1;
    for (int y = top; y <= bottom; y++)
      if (isOpen[size_t(y - top)]) {
        first = std::min(first, y);
        last = std::max(last, y);
      }

    std::vector<int> asked(isOpen.size(), 0);
    int prepared = top - 100;
    bool misuse = false;
    const PixelRows rows = FirstAndLastOpenRows(
        top, bottom, [&](int y) { prepared = y; },
        [&](int y, int k) {
          const int row = y + k;
          misuse = misuse || y != prepared || k < 0 || k > 3 || row < top || row > bottom;
          if (row < top || row > bottom)
            return false;
          asked[size_t(row - top)]++;
          return bool(isOpen[size_t(row - top)]);
        });
    ASSERT_FALSE(misuse) << "trial " << trial;
    if (first > last) {
      EXPECT_TRUE(rows.Empty()) << "trial " << trial;
    } else {
      EXPECT_EQ(rows.top, first) << "trial " << trial;
      EXPECT_EQ(rows.bottom, last) << "trial " << trial;
    }
    for (int y = top; y <= bottom; y++) {
      EXPECT_LE(asked[size_t(y - top)], 1) << "trial " << trial << " row " << y;
      if (first < last && y > first && y < last) {
        EXPECT_EQ(asked[size_t(y - top)], 0) << "trial " << trial << " row " << y;
      }
    }
  }
}
