// The structure window's toolbar items keep their places when the Overview
// retitles the Play item.
#include "overview/OverviewWindow.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/Toolbars.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "CachedFiles.h"

#include <QApplication>
#include <QToolBar>
#include <gtest/gtest.h>

#include <map>

namespace {

TEST(ToolbarWidth, RetitledPlayItemMovesNoOtherItem) {
  ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / "NaCl.ovtx", nullptr));
  QCoreApplication::processEvents();
  MainWindow *w = GetMainWindow(FrontGraphWindow());
  QToolBar *bar = WindowToolbar(w);
  ASSERT_NE(bar, nullptr);
  if (!bar->isVisible())
    ProcessCommand(FourCharsToLong("tbtg"));
  w->show();
  // The window as wide as its toolbar asks, as the first window opens.
  w->resize(std::max(w->width(), bar->sizeHint().width()), w->height());
  QCoreApplication::processEvents();
  std::map<QAction *, QRect> places;
  for (QAction *action : bar->actions())
    if (QWidget *item = bar->widgetForAction(action); item && GetActionCommand(action))
      places[action] = item->geometry();

  ProcessCommand(FourCharsToLong("LExs")); // favourites now exist
  ProcessCommand(FourCharsToLong("*Fav"));
  DrawStatusbar();
  QCoreApplication::processEvents();
  ASSERT_GT(GetNumFavouriteFiles(), 0);
  for (auto &[action, place] : places) {
    if (GetActionCommand(action) == kCmdPlay) {
      EXPECT_EQ(action->text(), "Play Favourites");
    }
    EXPECT_EQ(bar->widgetForAction(action)->geometry(), place) << action->text().toStdString();
    EXPECT_TRUE(bar->widgetForAction(action)->isVisible()) << action->text().toStdString();
  }
  ProcessCommand(FourCharsToLong("-Cch"));
  ProcessCommand(FourCharsToLong("*Hst"));
  ClearWindowModified(w->Ref());
  DoCloseMainWindow(w->Ref());
  QCoreApplication::processEvents();
}

} // namespace
