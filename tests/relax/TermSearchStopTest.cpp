// A run stopped while its terms are being searched (the window closed, the
// program quitting) ends inside the search it is in, without finishing it.
#include "RelaxTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace relaxtest;

namespace {

// Acetaldehyde: every kind of term, the trigonal carbon an inversion centre.
const std::vector<AtomSpec> kAcetaldehyde = {
    {"C ", 0, 0, 0},           {"C ", 1.50f, 0, 0},          {"O ", 2.12f, 1.05f, 0},         {"H ", 2.05f, -0.95f, 0},
    {"H ", -0.36f, 1.03f, 0}, {"H ", -0.36f, -0.51f, 0.89f}, {"H ", -0.36f, -0.51f, -0.89f}};
const std::vector<std::pair<int, int>> kAcetaldehydeBonds = {{0, 1}, {1, 2}, {1, 3}, {0, 4}, {0, 5}, {0, 6}};

TEST(RelaxTermSearch, AStopDuringASearchEndsItThere) {
  struct Case {
    const char *countLine; // written by the finder once it has counted its terms
    std::function<size_t(const RelaxMoleculeData &)> listed;
  };
  const Case cases[] = {
      {"Number of bonded pairs", [](const RelaxMoleculeData &r) { return r.pairs.size(); }},
      {"Number of three-body angles", [](const RelaxMoleculeData &r) { return r.threes.size(); }},
      {"Number of inversion centres", [](const RelaxMoleculeData &r) { return r.inversions.size(); }},
      {"Number of dihedrals", [](const RelaxMoleculeData &r) { return r.dihedrals.size(); }},
      {"Number of non-bonded interactions", [](const RelaxMoleculeData &r) { return r.nonBonded.size(); }},
  };
  {
    auto whole = MakeRecord(kAcetaldehyde, kAcetaldehydeBonds);
    ASSERT_TRUE(TypeAndFind(*whole));
    for (const Case &k : cases)
      ASSERT_GT(k.listed(*whole), 0u) << k.countLine;
  }
  for (const Case &k : cases) {
    SCOPED_TRACE(k.countLine);
    std::vector<std::string> lines;
    auto r = MakeRecord(kAcetaldehyde, kAcetaldehydeBonds);
    // The stop arrives while the finder is between counting and listing.
    r->writeOutput = [&lines, &k](RelaxMoleculeData &rec, const char *text) {
      lines.emplace_back(text);
      if (lines.back().rfind(k.countLine, 0) == 0)
        rec.shared->stop = 1;
    };
    EXPECT_FALSE(TypeAndFind(*r));
    EXPECT_EQ(k.listed(*r), 0u);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind(k.countLine, 0), 0u) << "a stopped search is no failure: " << lines.back();
  }
}

} // namespace
