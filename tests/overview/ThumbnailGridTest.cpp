// The thumbnail grid's geometry and the playback rules, as pure functions.
#include "overview/ThumbnailGrid.h"
#include "overview/OverviewWindow.h"

#include "Utilities.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

TEST(ThumbnailGrid, ANarrowPaneGivesOneColumnAndAPinnedSlider) {
  const ThumbnailLayout layout = LayoutThumbnails(GridBox{0, 0, 58, 300}, 96, 5, 0);
  EXPECT_EQ(layout.columns, 1);
  EXPECT_EQ(layout.width, 42); // cut to the pane width less 16
  const SliderSetting s = ThumbnailSlider(58, layout.width);
  EXPECT_EQ(s.minimum, 999);
  EXPECT_EQ(s.maximum, 999);
  EXPECT_EQ(s.value, 999);
}

TEST(ThumbnailGrid, TheGridKeepsAnExtraRowAndPlacesSlotsByMargin) {
  // Three columns of 96 + 8 and three rows of 72 + 20 fit the pane exactly.
  const GridBox pane{0, 0, 8 + 3 * 104, 3 * 92};
  const ThumbnailLayout layout = LayoutThumbnails(pane, 96, 6, 10);
  EXPECT_EQ(layout.columns, 3);
  EXPECT_EQ(layout.boxes.size(), 12u); // four rows for six thumbnails
  EXPECT_EQ(layout.boxes[4], (GridBox{112, 8 - 10 + 92, 208, 8 - 10 + 92 + 72}));
  // Many thumbnails: rows for all of them.
  EXPECT_EQ(LayoutThumbnails(pane, 96, 40, 0).boxes.size(), 42u);
  // Scrolling: everything below the pane, and the arrow step from the track.
  EXPECT_EQ(ThumbnailScrollMaximum(276, 72, 40, 3), 8 - 276 + 92 * 14);
  EXPECT_EQ(ThumbnailScrollMaximum(276, 72, 6, 3), 0);
  EXPECT_EQ(ThumbnailLineStep(100, 100, 230), 1); // ceil(100 / (200 x 0.5))
  EXPECT_EQ(ThumbnailLineStep(1000, 100, 30), 1); // no track
}

TEST(ThumbnailGrid, SliderAndRefitFollowTheColumnCount) {
  int width = 0;
  EXPECT_TRUE(GetThumbnailWidthForNumCols(320, 3, &width));
  EXPECT_EQ(width, 96);
  EXPECT_FALSE(GetThumbnailWidthForNumCols(320, 7, &width)); // 44 per column is below 52
  EXPECT_FALSE(GetThumbnailWidthForNumCols(320, 0, &width));
  const SliderSetting s = ThumbnailSlider(320, 96);
  EXPECT_EQ(s.value, 997);
  EXPECT_EQ(ThumbnailWidthForSlider(320, 998, 96), 148);
  EXPECT_EQ(ThumbnailWidthForSlider(320, 993, 96), 96); // seven columns: no usable width
  // Shrinking below the width shrinks the thumbnails; growing back returns
  // to the target; a single column never steps down to none.
  EXPECT_EQ(RefitThumbnailWidth(100, 3, 96), 84);
  EXPECT_EQ(RefitThumbnailWidth(320, 1, 96), 96);
  EXPECT_EQ(RefitThumbnailWidth(60, 1, 200), 44);
}

TEST(ThumbnailGrid, HitTestsOfImagesAndCaptions) {
  const GridBox pane{0, 0, 320, 276};
  const ThumbnailLayout layout = LayoutThumbnails(pane, 96, 2, 0);
  EXPECT_EQ(ThumbnailIndexAtPoint(layout, pane, 10, 10), 0);
  EXPECT_EQ(ThumbnailIndexAtPoint(layout, pane, 4, 10), -1); // the margin
  EXPECT_EQ(ThumbnailIndexAtPoint(layout, pane, 120, 100 + 10), 4);
  EXPECT_EQ(CaptionIndexAtPoint(layout, pane, 20, 8 + 72 + 5), 0);
  // A caption band past the end of the list is a hit beyond the count.
  EXPECT_EQ(CaptionIndexAtPoint(layout, pane, 230, 8 + 72 + 5), 2);
  EXPECT_EQ(ThumbnailIndexAtPoint(layout, pane, 10, 400), -1); // outside the pane
  // Scrolling to a slot in the lower half shows its caption.
  const GridBox low = layout.boxes[7];
  EXPECT_EQ(ScrollDeltaToShowSlot(pane, low, 250), low.bottom + 20 - 276);
  EXPECT_EQ(ScrollDeltaToShowSlot(pane, GridBox{8, -30, 104, 42}, 10), -38);
}

TEST(ThumbnailGrid, DropTargetsAndTheMovesThatChangeNothing) {
  const GridBox pane{0, 0, 8 + 5 * 104, 300};
  const ThumbnailLayout layout = LayoutThumbnails(pane, 96, 4, 0);
  const int y = 40;
  // Just right of the second thumbnail and just left of the fourth: the
  // third stays where it is.
  const DropTarget rightOfSecond = ThumbnailDropTarget(layout, pane, 4, layout.boxes[1].right - 10, y);
  EXPECT_EQ(rightOfSecond.index, 1);
  EXPECT_FALSE(rightOfSecond.before);
  EXPECT_TRUE(DropChangesNothing(2, rightOfSecond));
  const DropTarget leftOfFourth = ThumbnailDropTarget(layout, pane, 4, layout.boxes[3].left + 5, y);
  EXPECT_TRUE(leftOfFourth.before);
  EXPECT_TRUE(DropChangesNothing(2, leftOfFourth));
  EXPECT_FALSE(DropChangesNothing(0, leftOfFourth));
  // Past the last slot: the last thumbnail, after it.
  const DropTarget past = ThumbnailDropTarget(layout, pane, 4, layout.boxes[4].left + 30, y);
  EXPECT_EQ(past.index, 3);
  EXPECT_FALSE(past.before);
  EXPECT_EQ(MovedOrder(4, 0, 3, false), (std::vector<int>{1, 2, 3, 0}));
  EXPECT_EQ(MovedOrder(4, 3, 0, true), (std::vector<int>{3, 0, 1, 2}));
  // A target that is the moved record leaves the list as it was.
  EXPECT_EQ(MovedOrder(4, 2, 3, true), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_TRUE(MovedOrder(4, 2, 9, true).empty());
}

TEST(PlayRules, BounceRestartAndLoopOff) {
  auto sequence = [](int count, bool loop, int mode, int steps) {
    std::vector<int> shown{0};
    int direction = 1, index = 0;
    for (int k = 0; k < steps && index >= 0; k++) {
      index = NextPlayIndex(index, count, loop, mode, &direction);
      if (index >= 0)
        shown.push_back(index);
    }
    return shown;
  };
  EXPECT_EQ(sequence(3, true, 2, 5), (std::vector<int>{0, 1, 2, 1, 0, 1}));
  EXPECT_EQ(sequence(3, true, 1, 3), (std::vector<int>{0, 1, 2, 0}));
  EXPECT_EQ(sequence(3, false, 1, 9), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(sequence(1, true, 2, 9), (std::vector<int>{0})); // a bounce over one ends at once
}

TEST(PlayRules, PresetsSecondsAndSpinStep) {
  PlaySettings s;
  ASSERT_TRUE(PlayPresetSettings(FourCharsToLong("Spin"), &s));
  EXPECT_EQ(MatchPlayPreset(s), FourCharsToLong("Spin"));
  s.seconds = 9;
  EXPECT_EQ(MatchPlayPreset(s), FourCharsToLong("Cust"));
  ASSERT_TRUE(PlayPresetSettings(FourCharsToLong("Slid"), &s));
  s.fullScreen = 1;
  EXPECT_EQ(MatchPlayPreset(s), FourCharsToLong("Cust"));
  EXPECT_FLOAT_EQ(ClampPlaySeconds(-5), 5);
  EXPECT_FLOAT_EQ(ClampPlaySeconds(0), 0.01f);
  EXPECT_FLOAT_EQ(ClampPlaySeconds(120), 60);
  EXPECT_FLOAT_EQ(PlayRotationStep(0.5f, 10.0f), 18.0f);
  EXPECT_FLOAT_EQ(PlayRotationStep(0.001f, 10.0f), 1.0f);
  EXPECT_EQ(ThumbnailBadgeText(".exp"), "GSAS");
  EXPECT_EQ(ThumbnailBadgeText(".Res"), "SHELX");
  EXPECT_EQ(ThumbnailBadgeText(""), "TEXT");
  EXPECT_EQ(ThumbnailBadgeText(".cif"), "CIF");
}

TEST(BatchNames, TitlesNeverLeaveTheFolderNorReplaceAnItem) {
  namespace fs = std::filesystem;
  char pattern[] = "/tmp/ovbatchXXXXXX";
  const fs::path folder = mkdtemp(pattern);
  EXPECT_EQ(UniqueBatchFile(folder, "../../etc/x", "png"), folder / ".._.._etc_x.png");
  EXPECT_EQ(UniqueBatchFile(folder, "..", "png"), folder / "Untitled.png");
  std::ofstream(folder / "Quartz.png") << "taken";
  fs::create_directory(folder / "Quartz 2.png");
  EXPECT_EQ(UniqueBatchFile(folder, "Quartz", "png"), folder / "Quartz 3.png");
  fs::remove_all(folder);
}

} // namespace
