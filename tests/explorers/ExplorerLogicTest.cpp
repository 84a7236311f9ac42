// The analysis windows' logic without widgets: ranges, binning, the bin
// slider, axis ticks, symbol typesetting and the operator cells.
#include "explorers/DistanceSearch.h"
#include "explorers/SpacegroupBrowser.h"
#include "explorers/SymmetryOptions.h"

#include "SymmetryCards.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(DistanceRange, SwapsRefusesAndSteps) {
  const RangeCheck swapped = CheckDistanceRange(2.5f, 1.0f);
  EXPECT_TRUE(swapped.swapped);
  EXPECT_EQ(swapped.minimum, 1.0f);
  EXPECT_EQ(swapped.maximum, 2.5f);
  EXPECT_EQ(swapped.error, RangeError::kNone);
  EXPECT_EQ(CheckDistanceRange(-1.0f, 2.0f).minimum, 0.0f);
  EXPECT_EQ(CheckDistanceRange(2.0f, 2.0f).error, RangeError::kEqual);
  EXPECT_EQ(CheckDistanceRange(0.0f, 0.05f).error, RangeError::kOutOfRange);
  EXPECT_EQ(CheckDistanceRange(0.0f, 121.0f).error, RangeError::kOutOfRange);
  // The arrows never cross the other end and stop at 0 / 0.1 and 120.
  EXPECT_NEAR(StepDistanceMinimum(2.95f, 3.0f, 20), 2.9f, 1e-5);
  EXPECT_EQ(StepDistanceMinimum(0.0f, 3.0f, 21), 0.0f);
  EXPECT_EQ(StepDistanceMinimum(119.95f, 120.0f, 20), 119.9f);
  EXPECT_NEAR(StepDistanceMaximum(2.0f, 2.05f, 21), 2.1f, 1e-5);
  EXPECT_EQ(StepDistanceMaximum(0.0f, 0.1f, 21), 0.1f);
  EXPECT_EQ(StepDistanceMaximum(0.0f, 120.0f, 20), 120.0f);
}

TEST(DistanceStatus, TextsOfTheSearch) {
  EXPECT_EQ(DistanceSearchStatus(100.0f, 1), "Found 1 distance");
  EXPECT_EQ(DistanceSearchStatus(100.0f, 12), "Found 12 distances");
  EXPECT_EQ(DistanceSearchStatus(0.0f, 0), "Search terminated (0% complete). Found 0 distances");
  EXPECT_EQ(DistanceSearchStatus(99.0f, 5), "Search terminated (99% complete). Found 5 distances");
}

TEST(BinSlider, EndsAndInverse) {
  EXPECT_NEAR(BinWidthFromSlider(1000), 1.0f, 1e-6);
  EXPECT_NEAR(BinWidthFromSlider(1), 0.001f, 1e-6);
  for (int v : {1, 250, 500, 900, 1000})
    EXPECT_NEAR(SliderFromBinWidth(BinWidthFromSlider(v)), v, 1) << v;
  bool clamped = false;
  EXPECT_EQ(ClampBinWidth(0.0001f, &clamped), kMinBinWidth);
  EXPECT_TRUE(clamped);
  EXPECT_EQ(ClampBinWidth(2.0f, &clamped), kMaxBinWidth);
  EXPECT_EQ(ClampBinWidth(0.05f, &clamped), 0.05f);
  EXPECT_FALSE(clamped);
}

// A record over a made-up structure: site 0 and 1 of element A, site 2 of B.
struct BinFixture {
  CrystalRec crystal;
  DistanceSearch search;
  BinFixture() {
    crystal.sites.resize(3);
    crystal.siteCount = 3;
    crystal.spheres.resize(2);
    crystal.sphereCount = 2;
    crystal.spheres[0].element = TwoCharsToShort("Na");
    crystal.spheres[1].element = TwoCharsToShort("Cl");
    crystal.sites[0].atomType = 0, crystal.sites[1].atomType = 0, crystal.sites[2].atomType = 1;
    search.toEntries.resize(2);
    search.toEntries[0].element = int16_t(TwoCharsToShort("Na"));
    search.toEntries[1].element = int16_t(TwoCharsToShort("Cl"));
    search.minDistance = 1.0f;
    search.maxDistance = 2.05f;
    search.binWidth = 0.1f;
    search.haveResults = true;
  }
};

TEST(DistanceBins, CountsPerToElementAndCutsTheLastBin) {
  BinFixture f;
  f.search.results = {{0, 2, 1.05f, 0}, {0, 2, 1.06f, 0}, {1, 0, 1.95f, 0}, {1, 2, 2.05f, 0}, {0, 0, 0.5f, 0}};
  ASSERT_TRUE(BinDistanceResults(f.search, &f.crystal));
  // 1.05 / 0.1 is not a whole number of bins: 11 bins, the last cut at 2.05.
  EXPECT_EQ(f.search.binCount, 11u);
  EXPECT_EQ(f.search.toEntries[1].bins[0], 2u);
  EXPECT_EQ(f.search.toEntries[0].bins[9], 1u);
  // 2.05 falls in the last bin [2.0, 2.1): counted; 0.5 is below the range.
  EXPECT_EQ(f.search.toEntries[1].bins[10], 1u);
  EXPECT_EQ(DistanceBinTotal(f.search, 0), 2u);
  f.search.perUnitVolume = 1;
  const double shell = 4.0 * M_PI / 3.0 * (std::pow(1.1, 3) - 1.0);
  EXPECT_NEAR(DistanceBinValue(f.search, 0, 2.0), 2.0 / shell, 1e-4);
  // The tip of the first bin names its range and count.
  EXPECT_EQ(DistanceBinTip(f.search, 1.0, 105.0), "1.00\u20131.10 \u00c5 [2]");
  EXPECT_EQ(DistanceBinTip(f.search, 50.0, 105.0), "");
}

TEST(DistanceBins, RangeOfOneAngstromUsesTenthTicks) {
  const std::vector<XAxisTick> one = ComputeXTicks(1.0f, 2.0f, 400.0);
  ASSERT_GE(one.size(), 2u);
  EXPECT_NEAR(one[1].value - one[0].value, 0.01, 1e-9); // 0.1 A major, 10 subdivisions
  EXPECT_EQ(one[0].text, "1.00");
  const std::vector<XAxisTick> more = ComputeXTicks(1.0f, 2.01f, 400.0);
  EXPECT_NEAR(more[1].value - more[0].value, 0.1, 1e-9); // 1 A major
  // Labels stay at least 20 pixels apart on a long range.
  const std::vector<XAxisTick> wide = ComputeXTicks(0.0f, 100.0f, 300.0);
  int labelled = 0;
  for (const XAxisTick &t : wide)
    labelled += t.labelled;
  EXPECT_GT(labelled, 1);
  EXPECT_LE(labelled, 11);
  // Nothing for an empty range instead of endless ticks.
  EXPECT_TRUE(ComputeXTicks(2.0f, 2.0f, 300.0).empty());
}

TEST(DistanceBins, YAxisStepsAndDecimals) {
  const YAxisScale y = ComputeYAxis(47.0, 300.0);
  EXPECT_NEAR(y.step, 5.0, 1e-9);
  EXPECT_EQ(y.count, 10);
  EXPECT_EQ(y.decimals, 0);
  const YAxisScale small = ComputeYAxis(0.034, 300.0);
  EXPECT_NEAR(small.top, small.count * small.step, 1e-12);
  EXPECT_GE(small.top, 0.034);
  EXPECT_EQ(small.decimals, small.step < 0.01 ? 3 : 2);
}

// ---- Space-group lists and typesetting ----------------------------------------------

double FixedWidth(const std::string &text, GlyphFont, bool, int size) { return double(text.size()) * size / 2.0; }

TEST(SpacegroupLists, TriclinicAndOriginChoices) {
  SpacegroupWinRec rec;
  ClickSpacegroupList(rec, 1, 1);
  EXPECT_EQ(rec.latticeLetters, "_P");
  ClickSpacegroupList(rec, 3, 1);
  ASSERT_EQ(rec.SymbolCount(), 2);
  EXPECT_EQ(rec.entries[0].text, "P 1");
  EXPECT_EQ(rec.entries[1].text, "P -1");
  ClickSpacegroupList(rec, 5, 2);
  ToggleShowAllSettings(rec);
  EXPECT_EQ(rec.latticeLetters, "_PABCIF");
  // The letter and the symbol stay chosen while they are still listed.
  EXPECT_EQ(rec.latticeList.selection, 1);
  ASSERT_GE(rec.symbolList.selection, 1);
  EXPECT_EQ(rec.entries[size_t(rec.symbolList.selection - 1)].text, "P -1");
  // "P n n n" is listed twice with all settings, once per origin.
  ASSERT_TRUE(FindSpacegroupInLists(rec, "P n n n", 2, 0));
  int listed = 0;
  for (const SymbolListEntry &e : rec.entries)
    listed += e.text.rfind("P n n n [origin ", 0) == 0;
  EXPECT_EQ(listed, 2);
  EXPECT_EQ(rec.entries[size_t(rec.symbolList.selection - 1)].text, "P n n n [origin 2]");
  // Clicking below the rows clears the selection and empties the lists below.
  ClickSpacegroupList(rec, 1, -1);
  EXPECT_EQ(rec.systemList.selection, -1);
  EXPECT_EQ(rec.SymbolCount(), 0);
  EXPECT_FALSE(FindSpacegroupInLists(rec, "Q 7", 0, 0));
}

TEST(SpacegroupLists, ArrowKeysWalkTheChain) {
  SpacegroupWinRec rec;
  TypeInSpacegroupLists(rec, 31); // nothing selected: nothing happens
  EXPECT_EQ(rec.systemList.selection, 0);
  ClickSpacegroupList(rec, 1, 2);
  TypeInSpacegroupLists(rec, 29);
  EXPECT_EQ(rec.latticeList.selection, 1);
  TypeInSpacegroupLists(rec, 29);
  EXPECT_EQ(rec.symbolList.selection, 1);
  for (int i = 0; i < 40; i++)
    TypeInSpacegroupLists(rec, 31);
  EXPECT_EQ(rec.symbolList.selection, rec.SymbolCount());
  TypeInSpacegroupLists(rec, 28);
  EXPECT_EQ(rec.symbolList.selection, 0);
}

TEST(SpacegroupTypesetting, ScrewAxesOverbarsAndSchoenflies) {
  std::vector<GlyphRun> runs;
  PrintSpacegroup(runs, "P 21/c", 36, 10, 100, FixedWidth);
  ASSERT_EQ(runs.size(), 6u);
  EXPECT_TRUE(runs[0].italic);
  EXPECT_EQ(runs[3].text, "1");
  EXPECT_EQ(runs[3].size, 18);
  EXPECT_EQ(runs[3].baseline, 100 + 18 / 4);
  // From the slash on each glyph stands one pixel right.
  EXPECT_EQ(runs[5].x, runs[4].x + runs[4].width + 1.0);
  EXPECT_TRUE(runs[5].italic);
  runs.clear();
  PrintSpacegroup(runs, "P -1", 14, 0, 50, FixedWidth);
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_TRUE(runs[2].overbar);
  EXPECT_EQ(runs[2].overbarY, 50 - 14 * 7 / 8);
  runs.clear();
  PrintSchoenflies(runs, "D2h(13)", 0, 0, FixedWidth);
  ASSERT_EQ(runs.size(), 5u);
  EXPECT_EQ(runs[0].size, 36);
  EXPECT_EQ(runs[1].baseline, 62);
  EXPECT_TRUE(runs[2].italic);
  EXPECT_EQ(runs[3].baseline, 40);
  EXPECT_EQ(runs[3].x, runs[1].x);
}

TEST(SpacegroupTypesetting, OriginLinesOfBothChoices) {
  SpacegroupWinRec rec;
  ASSERT_TRUE(FindSpacegroupInLists(rec, "P n n n", 1, 0));
  SpacegroupPanel p = DescribeSpacegroupSelection(rec);
  EXPECT_EQ(p.multiplicity, 8);
  EXPECT_EQ(p.schoenflies, "D2h(2)");
  std::vector<GlyphRun> runs = SpacegroupPanelRuns(p, 0, 0, 400, 190, FixedWidth);
  auto texts = [&] {
    std::string all;
    for (const GlyphRun &r : runs)
      all += r.rule ? "_" : r.text;
    return all;
  };
  EXPECT_NE(texts().find("ORIGIN CHOICE 1: origin at 2 2 2 at  1_4 , 1_4 , 1_4  from origin 2"), std::string::npos)
      << texts();
  ASSERT_TRUE(FindSpacegroupInLists(rec, "P n n n", 2, 0));
  runs = SpacegroupPanelRuns(DescribeSpacegroupSelection(rec), 0, 0, 400, 190, FixedWidth);
  EXPECT_NE(texts().find("origin at 1 at  - 1_4 , - 1_4 , - 1_4  from origin 1"), std::string::npos) << texts();
  EXPECT_EQ(SpacegroupMultiplicity('R', 5, 6), 18);
  EXPECT_EQ(SpacegroupMultiplicity('R', 6, 6), 6);
  EXPECT_EQ(CellChoiceDescriptor(112), "HEXAGONAL AXES");
}

// ---- Operator cells --------------------------------------------------------------------

TEST(SymmetryCells, FilterSnapAndDuplicates) {
  EXPECT_EQ(FilterSymCellText("1,5x"), "1.5x");
  EXPECT_EQ(FilterSymCellText("a+q*y"), "+y");
  Symcard card = MakeSymcard(kIdentityCard);
  EXPECT_FALSE(EditSymCardColumn(card, 0, "abc"));
  EXPECT_EQ(std::string(CardText(card)), kIdentityCard);
  // A long typed field never overruns the card.
  EXPECT_TRUE(EditSymCardColumn(card, 1, "1/2+y+y+y+y+y+y+y+y+y+y+y+y"));
  EXPECT_TRUE(EditSymCardColumn(card, 2, "-z"));
  EXPECT_EQ(SymCardColumn(card, 2).substr(0, 5), "   -z");
  EXPECT_EQ(SnapOriginOffset(0.1667f), 1.0f / 6.0f);
  EXPECT_EQ(SnapOriginOffset(0.3333f), 1.0f / 3.0f);
  EXPECT_EQ(SnapOriginOffset(0.3339f), 1.0f / 3.0f);
  EXPECT_EQ(SnapOriginOffset(0.6667f), 2.0f / 3.0f);
  EXPECT_EQ(SnapOriginOffset(0.8333f), 5.0f / 6.0f);
  EXPECT_EQ(SnapOriginOffset(0.334f), 0.334f);
  EXPECT_EQ(SnapOriginOffset(0.834f), 0.834f);
  SymmetryOptionsRec rec;
  rec.count = 3;
  rec.cards[0] = MakeSymcard(kIdentityCard);
  rec.cards[1] = MakeSymcard("   -x       -y       -z  ");
  rec.cards[2] = MakeSymcard(kIdentityCard);
  RemoveDuplicateSymCards(rec);
  EXPECT_EQ(rec.count, 2);
  EXPECT_EQ(std::string(CardText(rec.cards[1])), "   -x       -y       -z  ");
}

TEST(SymmetryCells, ListingWithCentringCopies) {
  SymmetryOptionsRec rec;
  rec.latticeLetter = 'I';
  rec.count = 1;
  rec.cards[0] = MakeSymcard(kIdentityCard);
  const std::vector<std::string> plain = SymmetryListingLines(rec, false);
  EXPECT_EQ(plain.size(), 3u);
  const std::vector<std::string> centred = SymmetryListingLines(rec, true);
  ASSERT_EQ(centred.size(), 4u);
  EXPECT_EQ(centred[2], "1/2+x    1/2+y    1/2+z  ");
  // An R lattice on rhombohedral axes has no centring copies.
  rec.latticeLetter = 'R';
  rec.cellAngles[0] = rec.cellAngles[1] = rec.cellAngles[2] = 80.0f;
  EXPECT_EQ(SymmetryListingLines(rec, true).size(), 3u);
}

} // namespace
