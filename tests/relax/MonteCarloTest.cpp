// The annealing's ends, its generator, and the Newton minimiser's steps.
#include "RelaxTestSupport.h"

#include "relax/MonteCarlo.h"
#include "relax/NewtonMinimiser.h"
#include "relax/RelaxEnergies.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace relaxtest;

TEST(RelaxGenerator, DoubleArithmeticAboveTwoToThe53) {
  // Reference states from Python floats (the same IEEE double operations).
  // The exact integer recurrence would give 4285738389 for the first: the
  // product passes 2^53 and rounds.
  double state = 4294967295.0;
  EXPECT_EQ(AdvanceRelaxGenerator(&state) * 4294967296.0, 4285738392.0);
  double seed = 12345.0;
  const double expected[] = {2261707219.0, 4088320304.0, 2817183504.0};
  for (double e : expected) {
    const double before = seed;
    const long pick = GenerateRandomInt(0, 10, &seed);
    EXPECT_EQ(seed, e) << before;
    EXPECT_EQ(pick, static_cast<long>(std::floor(e / 4294967296.0 * 10)));
  }
  double zero = 0.0;
  EXPECT_EQ(GenerateRandomDouble(2.0, 3.0, &zero), 2.0); // 0 is a fixed point
}

TEST(RelaxMonteCarlo, RunsToItsEnds) {
  // H2 at its r0 (0.708 Å, no other term): relaxed before any move.
  std::vector<std::string> lines;
  auto h2 = MakeRecord({{"H ", 0, 0, 0}, {"H ", 0.708f, 0, 0}}, {{0, 1}}, &lines);
  int plots = 0;
  h2->requestPlot = [&](RelaxMoleculeData &) { ++plots; };
  EXPECT_EQ(RelaxMoleculeWithSeed(*h2, 99.0), 0);
  EXPECT_EQ(lines.back(), "Molecule fully relaxed.");
  EXPECT_EQ(lines[lines.size() - 2], "Starting Monte Carlo relaxation");
  EXPECT_EQ(lines[0], "Applying potentials");
  EXPECT_EQ(h2->atoms[1].x, 0.708f);
  EXPECT_EQ(plots, 0);
  EXPECT_STREQ(h2->message, "Plotting structure at step 1...");

  // The stop byte is read at the start of every step.
  lines.clear();
  auto stretched = MakeRecord({{"H ", 0, 0, 0}, {"H ", 0.9f, 0, 0}}, {{0, 1}}, &lines);
  stretched->requestPlot = [](RelaxMoleculeData &rec) {
    if (rec.requestCount++ == 50)
      rec.shared->stop = 1;
  };
  EXPECT_EQ(RelaxMoleculeWithSeed(*stretched, 5.0), 0);
  ASSERT_EQ(lines.back().rfind("Run terminated at Step ", 0), 0u) << lines.back();

  // A stop asked for before the term search: no terms are searched and
  // the annealing never starts.
  lines.clear();
  auto stopped = MakeRecord({{"H ", 0, 0, 0}, {"H ", 0.9f, 0, 0}}, {{0, 1}}, &lines);
  stopped->shared->stop = 1;
  EXPECT_EQ(RelaxMoleculeWithSeed(*stopped, 5.0), -1);
  EXPECT_TRUE(stopped->pairs.empty());
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Starting Monte Carlo relaxation"), 0);

  // Every atom fixed, even with a zero generator state: ends without a move.
  lines.clear();
  auto fixed = MakeRecord({{"H ", 0, 0, 0, true}, {"H ", 0.9f, 0, 0, true}}, {{0, 1}}, &lines);
  EXPECT_EQ(RelaxMoleculeWithSeed(*fixed, 0.0), 0);
  EXPECT_EQ(lines.back(), "Every atom is fixed: nothing to relax.");
  EXPECT_EQ(fixed->atoms[1].x, 0.9f);
}

TEST(RelaxMonteCarlo, AnnealsWaterAndLeavesFixedAtomsAlone) {
  std::vector<std::string> lines;
  auto r = MakeRecord({{"O ", 0, 0, 0, true}, {"H ", 1.05f, 0.1f, 0}, {"H ", -0.1f, 0.9f, 0.2f}}, {{0, 1}, {0, 2}},
                      &lines);
  ASSERT_TRUE(TypeAndFind(*r));
  double energy = CalculateTotalEnergy(*r), state = 2024.0;
  ASSERT_EQ(RunMonteCarlo(*r, &energy, &state), 0);
  // The running energy, updated move by move, ends where a full sum puts it.
  EXPECT_NEAR(energy, CalculateTotalEnergy(*r), 1e-9 * energy);
  EXPECT_EQ(r->atoms[0].x, 0.0f);
  EXPECT_EQ(r->atoms[0].y, 0.0f);
  auto dist = [&](int a, int b) {
    return std::hypot(r->atoms[a].x - r->atoms[b].x, r->atoms[a].y - r->atoms[b].y, r->atoms[a].z - r->atoms[b].z);
  };
  EXPECT_NEAR(dist(0, 1), 0.9584, 0.01);
  EXPECT_NEAR(dist(0, 2), 0.9584, 0.01);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Too few moves being accepted - skipping ahead"), lines.end());
}

TEST(RelaxNewton, ClampsStepsAndConvergesAtAMinimum) {
  std::vector<std::string> lines;
  // H2 stretched by 1 Å: one iteration moves no coordinate by more than 0.6 x 0.1 Å.
  auto h2 = MakeRecord({{"H ", 0, 0, 0}, {"H ", 1.708f, 0, 0}}, {{0, 1}}, &lines);
  ASSERT_TRUE(TypeAndFind(*h2));
  h2->shared->stop = 0;
  int calls = 0;
  h2->requestPlot = [&](RelaxMoleculeData &rec) {
    if (++calls == 1)
      rec.shared->stop = 1;
  };
  lines.clear();
  EXPECT_EQ(RelaxMoleculeLS(*h2), 0);
  EXPECT_FLOAT_EQ(h2->atoms[0].x, 0.06f);
  EXPECT_FLOAT_EQ(h2->atoms[1].x, 1.648f);
  EXPECT_EQ(lines, (std::vector<std::string>{":-|", "Run terminated at least-squares iteration 1"}));

  // Water relaxed by Newton steps, then relaxed again: done at the first iteration.
  auto water = MakeRecord({{"O ", 0, 0, 0}, {"H ", 1.0f, 0.05f, 0}, {"H ", -0.2f, 0.93f, 0.1f}}, {{0, 1}, {0, 2}},
                          &lines);
  ASSERT_TRUE(TypeAndFind(*water));
  for (int run = 0; run < 5; ++run)
    ASSERT_EQ(RelaxMoleculeLS(*water), 0);
  lines.clear();
  ASSERT_EQ(RelaxMoleculeLS(*water), 0);
  EXPECT_EQ(lines, (std::vector<std::string>{":-D", "Calculation finished after 1 iterations"}));
  const double point[2] = {0, 2};
  EXPECT_EQ(EvaluateFunction(point), 0.0);
}
