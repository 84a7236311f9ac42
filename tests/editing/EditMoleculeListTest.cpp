// The Edit Molecule sheet lists the structure's sites in the structure's
// own order.
#include "editing/EditCrystalSheet.h"
#include "editing/SiteTableModel.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "window/MainWindowData.h"

#include <QApplication>
#include <QTableView>
#include <gtest/gtest.h>

namespace {

TEST(EditMoleculeList, SitesAreListedInTheStructuresOrder) {
  ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / "Benzene.ovtx", nullptr));
  QCoreApplication::processEvents();
  WindowRef window = FrontGraphWindow();
  const CrystalRec &c = *GetWindowCrystal(window);
  ASSERT_TRUE(c.molecule);
  ASSERT_EQ(ProcessCommand(kCmdEditStructure), 0);
  EditCrystalSheet *sheet = GetEditCrystalSheet(window);
  ASSERT_NE(sheet, nullptr);
  // The rows as the list shows them, against the structure's site labels.
  QAbstractItemModel *shown = sheet->SiteList()->model();
  ASSERT_EQ(shown->rowCount(), c.siteCount);
  for (int row = 0; row < c.siteCount; ++row)
    EXPECT_EQ(shown->index(row, 0).data().toString().toStdString(), std::string(c.sites[size_t(row)].label))
        << row;
  sheet->HandleCommand(FourCharsToLong("not!"));
  QCoreApplication::processEvents();
  ClearWindowModified(window);
  DoCloseMainWindow(window);
  QCoreApplication::processEvents();
}

} // namespace
