// A sheet or window that applies several values at once, accepted without an
// edit, leaves the document as it was: the saved bytes stay the same and the
// window is not marked. Each case first gives the values more digits than
// its sheet shows, as the user's own work does; one probe checks that an
// edited field still applies.
#include "editing/TransformCommands.h"
#include "inspectors/PlotRangeWindow.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/Forms.h"
#include "structurewindow/AnnotationEditing.h"
#include "structurewindow/AutoRotate.h"
#include "structurewindow/EditAnnotation.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "window/MainWindowData.h"

#include "ExampleWindowsTest.h"
#include "ProgramEnvironment.h"

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>

namespace fs = std::filesystem;

namespace {

// Opens the window's sheet with its command and accepts it as it opened.
void AcceptSheet(MainWindow *w, uint32_t command) {
  ProcessCommand(command);
  QDialog *sheet = OpenSheet(w);
  ASSERT_NE(sheet, nullptr);
  ClickOK(sheet);
  EXPECT_EQ(OpenSheet(w), nullptr) << "OK closed the sheet";
}

void ReturnInPlotRange(MainWindow *) {
  ProcessCommand(kCmdPlotRange);
  ASSERT_NE(gRangeWindow, nullptr);
  QTest::keyClick(FindControl<QLineEdit>(gRangeWindow, 1), Qt::Key_Return);
}

void LatticePlane(MainWindow *w, const char *h) {
  ProcessCommand(kCmdLatticePlaneSheet);
  QDialog *sheet = OpenSheet(w);
  ASSERT_NE(sheet, nullptr);
  Type(sheet, 1, h);
  FindControl<QSlider>(sheet, 7)->setValue(37);
  ClickOK(sheet);
}

void ApplyEditAnnotationWindow(MainWindow *) {
  ProcessCommand(FourCharsToLong("*EdA"));
  ASSERT_NE(EditAnnotationWindow(), nullptr);
  ClickOK(EditAnnotationWindow());
}

// The left arrow key turns the structure a few degrees.
void TurnWithArrowKey(MainWindow *w) {
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  FocusGraphPane(w->Ref());
  QTest::keyClick(w->GraphPane(), Qt::Key_Left);
}

// A text box of 200 points made while side-by-side stereo shows, which
// doubles to 400 when stereo goes off: more than the size field takes typed.
void DoubledTextBox(MainWindow *w) {
  if (GetWindowCrystal(w->Ref())->stereoMode != 2)
    ProcessCommand(FourCharsToLong("Pair"));
  ProcessCommand(FourCharsToLong("Ster"));
  ProcessCommand(kCmdAddAnnotationTextbox);
  ApplyEditAnnotationWindow(w);
  Type(EditAnnotationWindow(), 108, "200");
  ClickOK(EditAnnotationWindow());
  ProcessCommand(FourCharsToLong("Ster"));
  ASSERT_EQ(GetWindowCrystal(w->Ref())->textBoxes.at(0).fontSize, 400);
}

struct SheetCase {
  const char *name;
  std::function<void(MainWindow *)> prepare; // the user's earlier work
  std::function<void(MainWindow *)> accept;  // the sheet opened and accepted unchanged
};

const SheetCase kCases[] = {
    {"Plot Range",
     [](MainWindow *) {
       ProcessCommand(kCmdPlotRange);
       gRangeData.live = 0;
       SetRangeCommand(FourCharsToLong("Exyz"));
       QTest::keyClick(FindControl<QLineEdit>(gRangeWindow, 1), Qt::Key_Return);
     },
     ReturnInPlotRange},
    {"Plot Scale", [](MainWindow *) { ProcessCommand(kCmdZoomIn); },
     [](MainWindow *w) { AcceptSheet(w, kCmdPlotScale); }},
    {"Plot Size", [](MainWindow *) {}, [](MainWindow *w) { AcceptSheet(w, kCmdPlotSize); }},
    {"Lattice Plane", [](MainWindow *w) { LatticePlane(w, "0.33333"); },
     [](MainWindow *w) { AcceptSheet(w, kCmdLatticePlaneSheet); }},
    {"View Direction", TurnWithArrowKey, [](MainWindow *w) { AcceptSheet(w, kCmdViewDirectionSheet); }},
    {"Edit Annotation (text box)", [](MainWindow *) { ProcessCommand(kCmdAddAnnotationTextbox); },
     ApplyEditAnnotationWindow},
    {"Edit Annotation (text box doubled by stereo)", DoubledTextBox, ApplyEditAnnotationWindow},
    {"Edit Annotation (line)", [](MainWindow *) { ProcessCommand(kCmdAddAnnotationLine); }, ApplyEditAnnotationWindow},
    {"Edit Annotation (scale bar)", [](MainWindow *) { ProcessCommand(kCmdAddAnnotationScalebar); },
     ApplyEditAnnotationWindow},
};

using UnchangedSheetsTest = ExampleWindowsTest;

TEST_F(UnchangedSheetsTest, AcceptingASheetUnchangedChangesNoSavedByte) {
  for (const char *example : {"Quartz.ovtx", "Benzene.ovtx", "Calcite.ovtx"})
    for (const SheetCase &sheet : kCases) {
      SCOPED_TRACE(std::string(example) + ", " + sheet.name);
      MainWindow *w = Open(example);
      ASSERT_NE(w, nullptr);
      sheet.prepare(w);
      QCoreApplication::processEvents();
      ExpectNoSavedChange(w, [&] { sheet.accept(w); });
      CloseAllStructureWindows();
    }
}

// An edited field applies and its neighbours keep their stored values
// exactly; no field takes a value a document cannot keep.
TEST_F(UnchangedSheetsTest, EditedFieldsApplyWithinTheLimitsADocumentKeeps) {
  MainWindow *w = Open("Calcite.ovtx");
  ASSERT_NE(w, nullptr);
  const CrystalRec &c = *GetWindowCrystal(w->Ref());
  kCases[0].prepare(w);
  const float zmax = c.plotRange[5];
  Type(gRangeWindow, 3, "2");
  QTest::keyClick(FindControl<QLineEdit>(gRangeWindow, 3), Qt::Key_Return);
  EXPECT_EQ(c.plotRange[1], 2.0f);
  EXPECT_EQ(c.plotRange[5], zmax) << "an unedited field keeps its value";
  Type(gRangeWindow, 3, "150");
  EXPECT_FALSE(FindControl(gRangeWindow, 22)->isEnabled()) << "150 cells along a: wider than a document keeps";
  QTest::keyClick(FindControl<QLineEdit>(gRangeWindow, 3), Qt::Key_Return);
  EXPECT_EQ(c.plotRange[1], 2.0f);

  // Lattice-plane indices beyond what a document keeps are refused.
  ProcessCommand(kCmdLatticePlaneSheet);
  QDialog *plane = OpenSheet(w);
  ASSERT_NE(plane, nullptr);
  Type(plane, 1, "5000");
  EXPECT_FALSE(FindControl(plane, 10)->isEnabled());
  Type(plane, 1, "-1000");
  EXPECT_TRUE(FindControl(plane, 10)->isEnabled());
  plane->reject();

  // A size typed into the Edit Annotation window.
  ProcessCommand(kCmdAddAnnotationTextbox);
  ApplyEditAnnotationWindow(w);
  ASSERT_EQ(c.textBoxes.size(), 1u);
  Type(EditAnnotationWindow(), 108, "24");
  ClickOK(EditAnnotationWindow());
  EXPECT_EQ(c.textBoxes[0].fontSize, 24);
}

// The rotation options keep a typed step through an OK that changes nothing.
TEST_F(UnchangedSheetsTest, RotationOptionsKeepATypedStep) {
  MainWindow *w = Open("Quartz.ovtx");
  ASSERT_NE(w, nullptr);
  for (const bool type : {true, false}) {
    ProcessCommand(kCmdAutoRotateSheet);
    QDialog *sheet = OpenSheet(w);
    ASSERT_NE(sheet, nullptr);
    if (type)
      Type(sheet, 11, "1.234");
    FindControl<QLineEdit>(sheet, 11)->setFocus();
    QTest::keyClick(FindControl<QLineEdit>(sheet, 11), Qt::Key_Return);
    QCoreApplication::processEvents();
    const AutoRotateTimerRecord *turning = GetAutoRotation(w->Ref());
    ASSERT_NE(turning, nullptr);
    EXPECT_EQ(turning->stepY, 1.234f);
    StopAutoRotationForWindow(w->Ref());
  }
}

} // namespace
