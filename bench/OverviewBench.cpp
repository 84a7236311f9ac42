// Redrawing the Overview window's Favourites pane with 500 thumbnails that
// carry their previews: only the slots down to the pane's bottom are drawn.
#include "overview/OverviewPanes.h"
#include "overview/OverviewPrivate.h"

#include "CachedFiles.h"
#include "Preferences.h"
#include "documents/CacheDocuments.h"

#include "tools/HeadlessHost.h"
#include "tools/TempFiles.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>

namespace {

void BM_RedrawFavouritesPane(benchmark::State &state) {
  static int argc = 1;
  static char name[] = "bench_OverviewBench";
  static char *argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QApplication *app = new QApplication(argc, argv);
  (void)app;
  static HeadlessHost host;
  SetHostServices(&host);
  const std::filesystem::path file = benchtemp::Name("overview.ovtx");
  std::ofstream(file) << "TITL bench\n";
  QImage preview(144, 108, QImage::Format_RGB32);
  preview.fill(QColor(40, 60, 120));
  DestroyFavouriteFiles();
  for (int k = 0; k < 500; k++) {
    CachedFileRecord *node = CreateCachedFileRecord();
    node->fileRef = file;
    node->fileType = FourCharsToLong("OVDF");
    node->caption = "Structure " + std::to_string(k);
    SetCachedFileThumbnail(node, preview);
    AddItemToFavouriteFiles(node, kAddAtTail);
  }
  gPrefs.thumbnailHeight = 72;
  DoOverviewTabChoice(kFavouritesTab);
  GetOverviewWindow()->resize(600, 500);
  QCoreApplication::processEvents();
  SelectThumbnail(3);
  UpdateThumbnailRects();
  const QSize size = GetOverviewWindow()->pane->size();
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) {
    DrawThumbnails();
    QPainter p(&image);
    PaintThumbnails(p, GridBox{0, 0, size.width(), size.height()});
    p.end();
    benchmark::DoNotOptimize(image.constBits());
  }
  state.counters["slots"] = double(CurrentThumbnailLayout().boxes.size());
  std::filesystem::remove(file);
}
BENCHMARK(BM_RedrawFavouritesPane)->Unit(benchmark::kMillisecond);

} // namespace
