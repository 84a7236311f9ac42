// The frames of a trajectory opened as the views of one window: the Views
// tab lists them in the file's order with the last selected, and loading a
// view (what each step of Play does) shows that frame's atoms.
#include "overview/OverviewWindow.h"
#include "overview/StructuresAsViews.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "StructureArrays.h"
#include "import/ImportPath.h"
#include "window/MainWindowData.h"

#include <QCoreApplication>
#include <cstring>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

float NaZ(WindowRef w) {
  for (const AsymmetricUnitRecord &s : GetWindowCrystal(w)->sites)
    if (std::strcmp(s.label, "Na+") == 0)
      return s.xyz[2];
  return -1.0f;
}

TEST(StructuresAsViews, TheFramesOfATrajectoryBecomeTheViewsOfOneWindow) {
  ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / "NaCl.ovtx", nullptr));
  WindowRef w = FrontGraphWindow();
  const fs::path file = fs::path(OV_TEST_DATA) / "import/dlpolyhistory/HISTORY";
  ImportResult result;
  std::string why;
  ASSERT_TRUE(ReadStructureFile(file, result, &why)) << why;
  ASSERT_TRUE(OpenStructuresAsViews(w, file, std::move(result.structures)));

  std::vector<std::string> captions;
  for (const CachedFileRecord *r = GetWindowViews(w); r; r = r->next)
    captions.push_back(r->caption);
  EXPECT_EQ(captions, (std::vector<std::string>{"timestep 100", "timestep 200"}));
  EXPECT_EQ(gOverviewTabChoice, kViewsTab);
  // The window shows the first frame, and its view is the one selected.
  EXPECT_EQ(GetRectIDWithCachePtr(ValidSelection()), 0);
  EXPECT_NEAR(NaZ(w), 0.5f, 1e-5f);
  for (int view : {0, 1}) {
    SelectThumbnail(view);
    EXPECT_EQ(ProcessCommand(kCmdLoadSelected), kNoErr);
    EXPECT_NEAR(NaZ(w), view == 0 ? 0.5f : 0.6f, 1e-5f) << view;
  }

  for (MainWindow *m : std::vector<MainWindow *>(AllGraphWindows())) {
    ClearWindowModified(m->Ref());
    DoCloseMainWindow(m->Ref());
  }
  QCoreApplication::processEvents();
}

} // namespace
