// The short-list container against std::vector: the same elements after the
// same random edits, across the move from inside to the heap and back.
#include "InlineVector.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

namespace {

TEST(InlineVector, FollowsAStdVectorThroughRandomEdits) {
  std::mt19937 rng(7);
  InlineVector<uint32_t, 4> a;
  std::vector<uint32_t> b;
  for (int step = 0; step < 4000; ++step) {
    switch (rng() % 6) {
    case 0:
    case 1: {
      const uint32_t v = rng();
      a.push_back(v);
      b.push_back(v);
      break;
    }
    case 2: { // assign a run of 0 to 9 values, its own front among them
      std::vector<uint32_t> run(rng() % 10);
      for (uint32_t &v : run)
        v = rng();
      if (!run.empty() && !a.empty())
        run[0] = a.front();
      a.assign(run.begin(), run.end());
      b.assign(run.begin(), run.end());
      break;
    }
    case 3: {
      const size_t n = rng() % 9;
      a.resize(n);
      b.resize(n);
      break;
    }
    case 4: { // copies and moves keep the elements and leave the source usable
      InlineVector<uint32_t, 4> copy(a);
      InlineVector<uint32_t, 4> moved(std::move(copy));
      ASSERT_TRUE(copy.empty());
      copy.push_back(1);
      a = moved;
      a = std::move(moved);
      break;
    }
    default:
      if (!a.empty())
        a.push_back(a.back()); // an element of the list itself, as it may move
      if (!b.empty())
        b.push_back(b.back());
      break;
    }
    ASSERT_EQ(a, b) << "step " << step;
    ASSERT_EQ(static_cast<std::vector<uint32_t>>(a), b);
    ASSERT_GE(a.capacity(), a.size());
  }
}

} // namespace
