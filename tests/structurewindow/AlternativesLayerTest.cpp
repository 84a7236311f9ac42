// The alternatives a structure's bonds are judged by are those of its sites
// as they stand: an open derives them once, an edit of the sites and its
// Undo rebond from the sites they leave, and a crystal turned into a
// molecule is bonded as the molecule it became.
#include "ExampleWindowsTest.h"

#include "DerivedLayers.h"
#include "EditCrystalRecord.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "StructureTransforms.h"
#include "documents/UndoHistory.h"
#include "window/MainWindowData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

namespace {

// beta-sulfur: the ring S9-S16 at occupancy 1/2 lies on a centre of
// symmetry in two orientations 0.94-1.88 A apart; its own bonds are
// 2.02-2.05 A.
const std::filesystem::path kBetaSulfur = std::filesystem::path(OV_TEST_DATA) / "bonds" / "S8-Sulfur-beta.cif";
constexpr double kShortestRingBond = 2.0;

// The atoms' shortest bond (A), 99 for none.
double ShortestBond(const CrystalRec &c) {
  double shortest = 99.0;
  for (size_t a = 0; a < UsableAtomSize(c); a++)
    for (uint32_t b : c.atoms[a].bonds) {
      const float *p = c.atoms[a].cart, *q = c.atoms[b].cart;
      shortest = std::min(shortest, std::hypot(double(p[0]) - q[0], double(p[1]) - q[1], double(p[2]) - q[2]));
    }
  return shortest;
}

// The Edit Crystal sheet applied with the half ring made whole.
void MakeTheRingWhole(WindowRef window) {
  EditCrystalRec r;
  ASSERT_EQ(FillEditCrystalRecFromCrystal(GetWindowCrystal(window), &r), 0);
  ResolveEditSiteAtomTypes(&r, gPrefs);
  int whole = 0;
  for (EditSiteRec &site : r.sites)
    if (site.occupancies[0] == 0.5f) {
      site.occupancies[0] = 1.0f;
      whole++;
    }
  ASSERT_EQ(whole, 8);
  float cell[6] = {r.a, r.b, r.c, r.alpha, r.beta, r.gamma};
  ASSERT_EQ(CheckEditCrystalForApply(&r, r.spaceGroup, cell).result, EditCheckResult::kAccepted);
  ASSERT_TRUE(DoEditCrystal(window, &r));
}

class AlternativesLayerTest : public ExampleWindowsTest {};

TEST_F(AlternativesLayerTest, BondsFollowTheAlternativesOfTheSitesAsTheyStand) {
  const struct {
    const char *path;
    std::function<void(WindowRef)> act;
    bool ringApart; // the ring's orientations are alternatives
  } rows[] = {
      {"opened", [](WindowRef) {}, true},
      {"ring made whole", MakeTheRingWhole, false},
      {"ring made whole, undone",
       [](WindowRef window) {
         UndoBufferTimerProc();
         MakeTheRingWhole(window);
         UndoBufferTimerProc();
         ASSERT_EQ(ProcessCommand(kCmdUndo), kNoErr);
         AutoGenerateBonds(window);
       },
       true},
      {"crystal to molecule",
       [](WindowRef window) {
         CrystalToMolecule(window);
         ASSERT_TRUE(GetWindowCrystal(window)->molecule);
         AutoGenerateBonds(window);
       },
       true},
  };
  gPrefs = gFactoryPrefs;
  for (const auto &row : rows) {
    SCOPED_TRACE(row.path);
    CloseAllStructureWindows();
    const uint64_t before = DerivedLayers::AlternativesDerived();
    ASSERT_NE(Open(kBetaSulfur), nullptr);
    EXPECT_EQ(DerivedLayers::AlternativesDerived() - before, 1u) << "derived by the open";
    row.act(FrontGraphWindow());
    const double shortest = ShortestBond(*GetWindowCrystal(FrontGraphWindow()));
    EXPECT_EQ(shortest >= kShortestRingBond, row.ringApart) << shortest;
  }
}

} // namespace
