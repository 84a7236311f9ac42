// Model Options applied without a change changes nothing: the document saved
// before and after is the same to the byte and the window stays clean. And
// what a field takes is what its stored row keeps: a value typed beyond it
// stops at the limit, and that limit saved and opened again comes back with
// no Log line.
#include "inspectors/InspectorKit.h"
#include "inspectors/ModelOptions.h"
#include "inspectors/StyleMenus.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/Forms.h"
#include "shell/LogStore.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "window/MainWindowData.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

#include "../structurewindow/ExampleWindowsTest.h"
#include "DialogScript.h"
#include "ProgramEnvironment.h"

namespace fs = std::filesystem;

namespace {

class UnchangedInspectorTest : public ExampleWindowsTest {
protected:
  void SetUp() override {
    ExampleWindowsTest::SetUp();
    if (gModelOptionsWindow)
      gModelOptionsWindow->hide();
  }
  // Ctrl+M in the structure window, as the user opens the inspector.
  static void PressCtrlM(MainWindow *w) {
    if (gModelOptionsWindow)
      gModelOptionsWindow->hide();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    FocusGraphPane(w->Ref());
    QTest::keyClick(w->GraphPane(), Qt::Key_M, Qt::ControlModifier);
    ASSERT_NE(gModelOptionsWindow, nullptr);
    ASSERT_TRUE(gModelOptionsWindow->isVisible());
  }
  static QWidget *ClickTab(int tab) {
    auto *button = FindControl<QAbstractButton>(gModelOptionsWindow, gModelOptions.buttonIDs[size_t(tab)]);
    EXPECT_NE(button, nullptr) << tab;
    if (button)
      QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(gModelOptions.tab, tab);
    return gModelOptions.panes[size_t(tab)];
  }
};

TEST_F(UnchangedInspectorTest, ReturnOnEveryTabLeavesTheSavedDocumentAsItWas) {
  for (const char *example : {"Quartz.ovtx", "Benzene.ovtx", "Calcite.ovtx"}) {
    SCOPED_TRACE(example);
    MainWindow *w = Open(ExamplesFolder() / example);
    ASSERT_NE(w, nullptr);
    ExpectNoSavedChange(w, [&] {
      PressCtrlM(w);
      // Return in the window, then in each field that takes typing.
      for (int tab = 0; tab < kModelOptionsTabCount; tab++) {
        QWidget *pane = ClickTab(tab);
        ASSERT_NE(pane, nullptr);
        QTest::keyClick(gModelOptionsWindow, Qt::Key_Return);
        for (QLineEdit *field : pane->findChildren<QLineEdit *>())
          if (field->isEnabled() && field->isVisible() && !field->isReadOnly()) {
            field->setFocus();
            QTest::keyClick(field, Qt::Key_Return);
          }
      }
    });

    ClearWindowModified(w->Ref());
    DoCloseMainWindow(w->Ref());
    QCoreApplication::processEvents();
  }
}

TEST_F(UnchangedInspectorTest, AnEditedFieldAppliesAndAValueBeyondItsRowStopsAtTheLimitThatReopens) {
  MainWindow *w = Open(ExamplesFolder() / "Quartz.ovtx");
  ASSERT_NE(w, nullptr);
  PressCtrlM(w);
  // Below the old field's 5 pt, within what a label size may be.
  TypeIntoField(ClickTab(kLabelsTab), 504, "2.5");
  EXPECT_EQ(GetWindowCrystal(w->Ref())->labelSize, 2.5f);
  EXPECT_TRUE(IsWindowModified(w->Ref()));

  // One field of each kind: a plain number, a percentage of a fraction, an
  // opacity shown for a transparency, whole percentages.
  struct Case {
    int tab, id;
    const char *typed;
    float CrystalRec::*member;
    float limit;
  } cases[] = {
      {kAtomsTab, 110, "180", &CrystalRec::bsSphereRadFrac, 1.0f},
      {kCellTab, 305, "-40", &CrystalRec::cloudSphereTransparency, 1.0f},
      {kCellTab, 306, "99999", &CrystalRec::cloudSphereRadFrac, 10.0f},
      {kBondsTab, 210, "900", &CrystalRec::stickRadius, 5.0f},
      {kDepthTab, 833, "-300", &CrystalRec::stereoAngle, -90.0f},
  };
  // The surface fields take typing while the overlay shows, the stereo
  // fields while stereo is on.
  FindControl<QAbstractButton>(ClickTab(kCellTab), 309)->click();
  FindControl<QAbstractButton>(ClickTab(kDepthTab), 831)->click();
  for (const Case &c : cases) {
    TypeIntoField(ClickTab(c.tab), c.id, c.typed);
    EXPECT_EQ(GetWindowCrystal(w->Ref())->*c.member, c.limit) << c.typed;
  }
  SaveAs("limits.ovdf");
  const int logged = GetLogStore()->Length();
  MainWindow *reopened = Open(dialogs.saveFile);
  ASSERT_NE(reopened, w);
  EXPECT_EQ(GetLogStore()->PlainText().mid(logged).toStdString(), "");
  for (const Case &c : cases)
    EXPECT_EQ(GetWindowCrystal(reopened->Ref())->*c.member, c.limit) << c.typed;
}

TEST_F(UnchangedInspectorTest, ControlClickInTheAtomsListOpensTheWindowMenuNotAStyleMenu) {
  MainWindow *w = Open(ExamplesFolder() / "NaCl.ovtx");
  ASSERT_NE(w, nullptr);
  PressCtrlM(w);
  QWidget *list = FindControl(ClickTab(kAtomsTab), 101);
  ASSERT_NE(list, nullptr);
  int styleMenus = 0;
  SetStyleMenuPicker([&styleMenus](QMenu *, QPoint, QAction *) {
    ++styleMenus;
    return nullptr;
  });
  // The sphere icon of the Default row: a plain click there pops its style menu.
  QTest::mouseClick(list, Qt::LeftButton, Qt::ControlModifier, QPoint(139, 13));
  SetStyleMenuPicker({});
  auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
  EXPECT_EQ(styleMenus, 0);
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(menu->actions().contains(GetCommandAction(FourCharsToLong("svMO"))));
  menu->hide();
}

} // namespace
