// A favourite whose file has gone stays in the Favourites, its caption
// marked in red, until the user removes it.
#include "overview/OverviewPanes.h"
#include "overview/OverviewWindow.h"
#include "overview/OverviewPrivate.h"
#include "shell/FileCommands.h"
#include "CachedFiles.h"
#include "documents/CacheDocuments.h"

#include <QApplication>
#include <QImage>
#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

// Pixels of the caption band under the slot that are plainly red.
int RedCaptionPixels(const QImage &picture, const GridBox &slot) {
  int red = 0;
  for (int y = slot.bottom + 2; y < slot.bottom + 18 && y < picture.height(); y++)
    for (int x = slot.left; x < slot.right && x < picture.width(); x++) {
      const QColor c = picture.pixelColor(x, y);
      red += c.red() > 150 && c.green() < 90 && c.blue() < 90;
    }
  return red;
}

TEST(MissingFavourite, StaysListedAndIsMarkedUntilRemoved) {
  QTemporaryDir folder;
  const std::filesystem::path dir = folder.path().toStdString();
  std::filesystem::copy_file(ExamplesFolder() / "NaCl.ovtx", dir / "Salt.ovtx");
  std::filesystem::copy_file(ExamplesFolder() / "Rutile.ovtx", dir / "Gone.ovtx");
  DestroyFavouriteFiles();
  ASSERT_TRUE(DoCacheFavouriteFile(dir / "Salt.ovtx", nullptr));
  ASSERT_TRUE(DoCacheFavouriteFile(dir / "Gone.ovtx", nullptr));
  DoShowOverviewWindow();
  GetOverviewWindow()->resize(440, 360);
  DoOverviewTabChoice(kFavouritesTab);
  QCoreApplication::processEvents();
  std::filesystem::remove(dir / "Gone.ovtx");

  DrawOverviewFavouriteThumbnails();
  DoOverviewTabChoice(kFavouritesTab);
  QCoreApplication::processEvents();
  EXPECT_EQ(GetNumFavouriteFiles(), 2) << "the entry stays until the user removes it";
  UpdateThumbnailRects();
  const QImage picture = GetOverviewWindow()->pane->grab().toImage();
  ASSERT_GE(CurrentThumbnailLayout().boxes.size(), 2u);
  EXPECT_EQ(RedCaptionPixels(picture, CurrentThumbnailLayout().boxes[0]), 0) << "the file that is there";
  EXPECT_GT(RedCaptionPixels(picture, CurrentThumbnailLayout().boxes[1]), 10) << "the file that is gone";
  DestroyFavouriteFiles();
}

} // namespace
