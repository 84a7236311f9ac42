// Input to a shown structure window: keys, wheel, divider drags, gestures,
// the hand controller, auto-rotation and its sheet, and the notes' text
// commands, each sent as the user's events would arrive.
#include "structurewindow/AutoRotate.h"
#include "structurewindow/HandController.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/NotesPane.h"
#include "structurewindow/StructureWindow.h"
#include "structurewindow/Tools.h"
#include "structurewindow/WindowInput.h"
#include "browsers/InfoWindow.h"
#include "browsers/SiteBrowserView.h"
#include "overview/OverviewWindow.h"
#include "shell/Toolbars.h"
#include "ProgramEnvironment.h"
#include "AtomOperations.h"
#include "StructureArrays.h"
#include "documents/CacheDocuments.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/LogStore.h"

#include "PlotRange.h"
#include "Preferences.h"
#include "ViewOrientation.h"
#include "documents/CrystalDocument.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QWheelEvent>
#include <cmath>
#include <set>
#include <gtest/gtest.h>

#include "FakeHandController.h"

namespace fs = std::filesystem;

namespace {

class WindowInputTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / "NaCl.ovtx", nullptr));
    QCoreApplication::processEvents();
    w = GetMainWindow(FrontGraphWindow());
    ASSERT_NE(w, nullptr);
    window = w->Ref();
    w->ResizeContent(640, 480);
    // A window reused from an earlier test shows its whole sidebar again.
    ShowSidebar(window);
    if (!IsWindowShowingAtomsPane(window))
      ToggleAtomsPane(window);
    if (!IsWindowShowingNotesPane(window))
      ToggleNotesPane(window);
    w->show();
    QCoreApplication::processEvents();
    crystal = GetWindowCrystal(window);
    ClearWindowModified(window);
    ProcessCommand(FourCharsToLong("RotT"));
    gRotatorAngle = 2.0f;
    gRotateSelection = 0;
    // A divider pressed by an earlier test, however recently, makes no
    // double click with this test's first press.
    gVDividerLastTickCount = 0;
    gHDividerLastTickCount = 0;
  }
  void TearDown() override {
    StopAutoRotationForWindow(window);
    ClearWindowModified(window);
    DoCloseMainWindow(window);
    QCoreApplication::processEvents();
  }
  void Key(int key, Qt::KeyboardModifiers mods = {}, const QString &text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(w->GraphPane(), &press);
  }
  std::vector<float> Matrix() const {
    return std::vector<float>(crystal->orientationMatrix, crystal->orientationMatrix + 9);
  }
  void Mouse(QWidget *target, QEvent::Type type, QPoint contentPoint) {
    const QPointF local = target->mapFrom(w->Content(), contentPoint);
    QMouseEvent e(type, local, target->mapToGlobal(local), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &e);
  }
  void Gesture(Qt::NativeGestureType type, double value) {
    QNativeGestureEvent e(type, QPointingDevice::primaryPointingDevice(), 1, QPointF(50, 50), QPointF(50, 50),
                          QPointF(50, 50), value, QPointF(), 0);
    QApplication::sendEvent(w->GraphPane(), &e);
  }
  MainWindow *w = nullptr;
  WindowRef window = nullptr;
  CrystalRec *crystal = nullptr;
};

void ExpectMatrixNear(const std::vector<float> &a, const std::vector<float> &b) {
  for (int i = 0; i < 9; ++i)
    EXPECT_NEAR(a[size_t(i)], b[size_t(i)], 1e-5f) << "entry " << i;
}

TEST_F(WindowInputTest, RotationKeysTurnByTheKeyAngleAndEveryArrowMarksModified) {
  CrystalRec expected = *crystal;
  const float angles[3] = {0, -2, 0};
  ASSERT_TRUE(RotateXYZ(&expected, angles));
  Key(Qt::Key_Left);
  ExpectMatrixNear(Matrix(), std::vector<float>(expected.orientationMatrix, expected.orientationMatrix + 9));
  EXPECT_TRUE(IsWindowModified(window));

  ClearWindowModified(window);
  const float down[3] = {2, 0, 0};
  ASSERT_TRUE(RotateXYZ(&expected, down));
  Key(Qt::Key_Down);
  ExpectMatrixNear(Matrix(), std::vector<float>(expected.orientationMatrix, expected.orientationMatrix + 9));
  EXPECT_TRUE(IsWindowModified(window)) << "the down arrow's view change is kept too";
}

TEST_F(WindowInputTest, ToolLettersChooseToolsOnlyWithoutCommandAndTheSpaceBarLendsTheRotateTool) {
  Key(Qt::Key_Z, Qt::ControlModifier, "z");
  EXPECT_EQ(gCurrentTool, kToolRotate) << "Ctrl+Z belongs to the menus";
  Key(Qt::Key_Z, {}, "z");
  EXPECT_EQ(gCurrentTool, kToolMagnify);
  Key(Qt::Key_P, {}, "P");
  EXPECT_EQ(gCurrentTool, kToolPlane);

  Key(Qt::Key_Space, {}, " ");
  EXPECT_EQ(gCurrentTool, kToolRotate);
  // X11 repeats a held key as release-press pairs flagged as repeats.
  QKeyEvent repeatUp(QEvent::KeyRelease, Qt::Key_Space, {}, " ", true);
  QApplication::sendEvent(w->GraphPane(), &repeatUp);
  EXPECT_EQ(gCurrentTool, kToolRotate);
  QKeyEvent up(QEvent::KeyRelease, Qt::Key_Space, {}, " ");
  QApplication::sendEvent(w->GraphPane(), &up);
  EXPECT_EQ(gCurrentTool, kToolPlane);
  EXPECT_FALSE(gTemporaryRotationMode);
}

TEST_F(WindowInputTest, EscapeStopsAutoRotationFirst) {
  ASSERT_TRUE(DoAutoRotate(window, 0, 1, 0, false, false, 0));
  Key(Qt::Key_Escape);
  EXPECT_FALSE(IsWindowAutoRotating(window));
}

TEST_F(WindowInputTest, WheelZoomIsRefusedAtExactly500AndAcceptedBelow) {
  ASSERT_TRUE(DoChangePlotScale(crystal, 250.0f));
  const int height = w->GraphPane()->height();
  auto wheel = [&](int delta) {
    QWheelEvent e(QPointF(20, 20), w->GraphPane()->mapToGlobal(QPointF(20, 20)), QPoint(), QPoint(0, delta),
                  Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w->GraphPane(), &e);
  };
  // scale + 2 * (height / 2) * scale / height = 2 * scale = 500.
  wheel(-120 * height / 2);
  EXPECT_FLOAT_EQ(crystal->plotScale, 250.0f);
  wheel(-120);
  EXPECT_NEAR(crystal->plotScale, 250.0f + 500.0f / height, 1e-3f);
}

TEST_F(WindowInputTest, DividerDragToBelow80HidesTheSidebarAndKeepsItsWidth) {
  const int width = w->Panes().notes.Width(); // as laid out in this window
  const QPoint start = w->Divider()->geometry().center();
  Mouse(w->Divider(), QEvent::MouseButtonPress, start);
  Mouse(w->Divider(), QEvent::MouseButtonRelease, start);
  gVDividerLastTickCount = 0; // the next press is no double click
  Mouse(w->Divider(), QEvent::MouseButtonPress, start);
  Mouse(w->Divider(), QEvent::MouseMove, start + QPoint(width - 100, 0));
  EXPECT_EQ(GetWindowSidebarWidth(window), 100);
  EXPECT_TRUE(IsWindowShowingSidebar(window));
  Mouse(w->Divider(), QEvent::MouseMove, start + QPoint(width - 79, 0));
  Mouse(w->Divider(), QEvent::MouseButtonRelease, start + QPoint(width - 79, 0));
  EXPECT_FALSE(IsWindowShowingSidebar(window));
  EXPECT_EQ(GetWindowSidebarWidth(window), width);
}

TEST_F(WindowInputTest, NotesHeaderDragMovesTheSplitAndHidesAPaneSqueezedBelow60) {
  MainWindowData *d = GetMainWindowData(window);
  ASSERT_TRUE(d->showAtoms && d->showNotes);
  const float split = d->sidebarSplit;
  const int atoms = w->Panes().atoms.Height();
  const QPoint start = w->NoteHeader()->geometry().center();
  gHDividerLastTickCount = 0;
  Mouse(w->NoteHeader(), QEvent::MouseButtonPress, start);
  Mouse(w->NoteHeader(), QEvent::MouseMove, start + QPoint(0, 30));
  EXPECT_EQ(w->Panes().atoms.Height(), atoms + 30);
  EXPECT_NEAR(d->sidebarSplit, float(atoms + 30) / w->Content()->height(), 1e-6f);
  Mouse(w->NoteHeader(), QEvent::MouseMove, start + QPoint(0, 30 - atoms));
  Mouse(w->NoteHeader(), QEvent::MouseButtonRelease, start);
  EXPECT_FALSE(IsWindowShowingAtomsPane(window));
  EXPECT_FLOAT_EQ(d->sidebarSplit, split);
  ToggleAtomsPane(window);
}

TEST_F(WindowInputTest, TitleBarCommandsActAndStillPassOn) {
  const uint8_t shown = gPrefs.showToolbar;
  EXPECT_EQ(ProcessCommand(FourCharsToLong("tbtg")), kEventNotHandledErr);
  EXPECT_NE(gPrefs.showToolbar, shown);
  gPrefs.showToolbar = shown;
}

TEST_F(WindowInputTest, RulerClickSwitchesUnits) {
  const uint8_t units = GetWindowRulerUnits(window);
  Mouse(w->Ruler(), QEvent::MouseButtonPress, w->Ruler()->geometry().center());
  EXPECT_NE(GetWindowRulerUnits(window), units);
}

TEST_F(WindowInputTest, GesturesGatherSmallAmountsAndKeepTheZoomBounds) {
  MainWindowData *d = GetMainWindowData(window);
  crystal->lastPlotDuration = 0;
  d->lastGestureTime = 0;
  CrystalRec expected = *crystal;
  const float turn[3] = {0, 0, 0.6f};
  ASSERT_TRUE(RotateXYZ(&expected, turn));
  const std::vector<float> before = Matrix();
  Gesture(Qt::RotateNativeGesture, 0.3);
  EXPECT_EQ(Matrix(), before) << "0.3 degrees gather";
  Gesture(Qt::RotateNativeGesture, 0.3);
  ExpectMatrixNear(Matrix(), std::vector<float>(expected.orientationMatrix, expected.orientationMatrix + 9));

  const float scale = crystal->plotScale;
  Gesture(Qt::ZoomNativeGesture, 0.0005);
  EXPECT_FLOAT_EQ(crystal->plotScale, scale);
  d->pendingMagnify = 1;
  ASSERT_TRUE(DoChangePlotScale(crystal, 400.0f));
  d->lastGestureTime = 0;
  Gesture(Qt::ZoomNativeGesture, 0.5); // 600 px/A: refused
  EXPECT_FLOAT_EQ(crystal->plotScale, 400.0f);
}

TEST_F(WindowInputTest, HandControllerEventsMergeIntoOneZoom) {
  FakeHandController device;
  SetHandController(&device);
  AssociateFrameListenerWithWindow(window);
  ASSERT_NE(device.listener, nullptr);
  device.listener->OnConnect();
  const float scale = crystal->plotScale;
  HandFrame fist;
  fist.fingersPerHand = {1};
  fist.scaleProbability = 1;
  fist.scaleFactor = 1.5f;
  device.listener->OnFrame(fist);
  QCoreApplication::processEvents();
  EXPECT_FLOAT_EQ(crystal->plotScale, scale) << "a fist posts nothing";

  HandFrame pinch;
  pinch.fingersPerHand = {5, 5};
  pinch.scaleProbability = 0.9f;
  pinch.rotationProbability = 0.1f;
  pinch.scaleFactor = 1.02f;
  for (int i = 0; i < 3; ++i)
    device.listener->OnFrame(pinch);
  QCoreApplication::processEvents();
  EXPECT_NEAR(crystal->plotScale, scale * 1.06f, 1e-3f);
  SetHandController(nullptr);
  DissociateFrameListenerFromWindow();
}

TEST_F(WindowInputTest, OneTurnAt7DegreesRuns51FramesAndWritesOneLogLine) {
  EXPECT_FALSE(DoAutoRotate(window, 0, 0.05f, 0, false, false, 0));
  EXPECT_FALSE(IsWindowAutoRotating(window));
  const int logBefore = GetLogStore()->PlainText().count("Auto rotation through");
  ASSERT_TRUE(DoAutoRotate(window, 0, 7, 0, true, false, 0));
  // Starting again replaces the rotation: the window keeps one timer.
  ASSERT_TRUE(DoAutoRotate(window, 0, 7, 0, true, false, 0));
  EventLoopTimer *timer = GetAutoRotateTimer(window);
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(GetAutoRotation(window)->framesPerCycle, 51);
  int frames = 0;
  while (IsWindowAutoRotating(window) && frames < 100) {
    timer->proc();
    ++frames;
  }
  EXPECT_EQ(frames, 51);
  const QString log = GetLogStore()->PlainText();
  EXPECT_EQ(log.count("Auto rotation through") - logBefore, 1);
  EXPECT_TRUE(log.contains("Auto rotation through 51 steps took"));
  EXPECT_TRUE(log.contains("(capped at: 30.00)"));
  EXPECT_DOUBLE_EQ(NextAutoRotateDelay(0.5), 0.0);
  EXPECT_NEAR(NextAutoRotateDelay(0.01), 0.023333335, 1e-9);
}

TEST_F(WindowInputTest, RockingReversesEveryNineFramesWhateverTheStepsSign) {
  for (float step : {1.0f, -1.0f}) {
    ASSERT_TRUE(DoAutoRotate(window, 0, step, 0, false, true, 8));
    EventLoopTimer *timer = GetAutoRotateTimer(window);
    std::vector<int> reversals;
    float last = GetAutoRotation(window)->stepY;
    for (int frame = 1; frame <= 23; ++frame) {
      timer->proc();
      if (GetAutoRotation(window)->stepY != last)
        reversals.push_back(frame), last = GetAutoRotation(window)->stepY;
    }
    EXPECT_EQ(reversals, (std::vector<int>{5, 14, 23})) << "step " << step;
  }
  EXPECT_FALSE(DoAutoRotate(window, 0, 9, 0, false, true, 8));
}

TEST_F(WindowInputTest, AutoRotateSheetRefusesOutOfRangeFieldsAndClampsArrows) {
  QDialog *sheet = ShowAutoRotateSheet(window);
  ASSERT_NE(sheet, nullptr);
  auto *x = qobject_cast<QLineEdit *>(sheet->findChild<QLineEdit *>("field7"));
  ASSERT_NE(x, nullptr);
  sheet->findChild<QWidget *>("useX")->setProperty("checked", true);
  x->setText("400");
  AutoRotateSheetRecord r;
  EXPECT_EQ(ExtractAutoRotate(sheet, &r), 7);
  EXPECT_TRUE(sheet->isVisible());
  x->setText("3");
  EXPECT_EQ(ExtractAutoRotate(sheet, &r), 0);
  EXPECT_FLOAT_EQ(gSaveAutoRotate.angleX, 3.0f);
  sheet->reject();

  AutoRotateSheetRecord rock;
  rock.mode = 2;
  rock.rockLimit = 1.0f;
  EXPECT_EQ(ValidateAutoRotate(rock), 3) << "the rock limit must exceed 1";
  rock.rockLimit = 8;
  rock.angleY = 8.5f;
  EXPECT_EQ(ValidateAutoRotate(rock), 11);
  EXPECT_FLOAT_EQ(StepRockLimit(360, 0.1f), 360);
  EXPECT_FLOAT_EQ(StepRockLimit(-0.95f, 0.1f), 1.05f);
  EXPECT_FLOAT_EQ(StepYAngle(7.95f, 0.1f, true, 8), 8);
  EXPECT_FLOAT_EQ(StepAxisAngle(-359.95f, -0.1f), -360);
  EXPECT_EQ(FormatAutoRotateAngle(1), "1.00\u00B0");
}

// ---- The view keys, the toolbar and the menus ---------------------------------------

QAction *ToolbarItem(MainWindow *m, uint32_t code) {
  for (QAction *a : WindowToolbar(m)->actions())
    if (GetActionCommand(a) == code)
      return a;
  return nullptr;
}

RecordingHost *Host() { return dynamic_cast<RecordingHost *>(GetHostServices()); }

TEST_F(WindowInputTest, ZoomCentreAndScaleKeysRunTheCommandsOfTheToolbarAndMenu) {
  // Scaling fits the structure's extent to the pane's shorter side.
  ASSERT_TRUE(DoChangePlotScale(crystal, 3.0f));
  Key(Qt::Key_K, {}, "k");
  const float fitted = crystal->plotScale;
  const QSize pane = w->GraphPane()->size();
  EXPECT_NEAR(crystal->plotExtent * fitted, std::min(pane.width(), pane.height()), 1.0);
  Key(Qt::Key_Plus, {}, "+");
  EXPECT_FLOAT_EQ(crystal->plotScale, 2 * fitted);
  Key(Qt::Key_Equal, {}, "=");
  EXPECT_FLOAT_EQ(crystal->plotScale, 4 * fitted);
  ASSERT_TRUE(DoChangePlotScale(crystal, fitted));
  Key(Qt::Key_Minus, {}, "-");
  EXPECT_FLOAT_EQ(crystal->plotScale, fitted / 2);
  Key(Qt::Key_Underscore, {}, "_");
  EXPECT_FLOAT_EQ(crystal->plotScale, fitted / 4);
  ToolbarItem(w, kCmdZoomIn)->trigger();
  EXPECT_FLOAT_EQ(crystal->plotScale, fitted / 2);
  EXPECT_TRUE(IsWindowModified(window));

  // Centring: the centre goes back to the mean of the plotted atoms.
  double mean[3] = {0, 0, 0};
  int n = 0;
  for (int32_t i = 0; i < int32_t(crystal->atoms.size()); ++i)
    if (IsAtomPlotted(crystal, i)) {
      for (int k = 0; k < 3; ++k)
        mean[k] += crystal->atoms[size_t(i)].cart[k];
      ++n;
    }
  ASSERT_GT(n, 0);
  crystal->plotCentre[0] += 3.0f;
  crystal->plotCentre[1] -= 2.0f;
  Key(Qt::Key_C, {}, "c");
  for (int k = 0; k < 2; ++k)
    EXPECT_NEAR(crystal->plotCentre[k], mean[k] / n, 1e-4) << "axis " << k;
  EXPECT_FLOAT_EQ(crystal->plotScale, fitted / 2) << "centring keeps the scale";
}

TEST_F(WindowInputTest, TabHidesAndShowsTheFloatingWindows) {
  if (!gToolWindow || !gToolWindow->isVisible())
    ProcessCommand(FourCharsToLong("*Tls"));
  ASSERT_TRUE(gToolWindow && gToolWindow->isVisible());
  Key(Qt::Key_Tab);
  EXPECT_FALSE(gToolWindow->isVisible());
  Key(Qt::Key_Tab);
  EXPECT_TRUE(gToolWindow->isVisible());
  gToolWindow->hide();
}

TEST_F(WindowInputTest, RotateSelectionModeNeedsTwoSelectedAtoms) {
  Host()->alerts.clear();
  Key(Qt::Key_O, {}, "o");
  EXPECT_EQ(gRotateSelection, 0);
  ASSERT_EQ(Host()->alerts.size(), 1u);
  EXPECT_EQ(Host()->alerts[0].message, "Rotate Selection Mode");
  SelectAtom(crystal, 0, true);
  SelectAtom(crystal, 1, true);
  Key(Qt::Key_O, {}, "o");
  EXPECT_EQ(gRotateSelection, 1);
  Key(Qt::Key_O, {}, "o");
  EXPECT_EQ(gRotateSelection, 0);
  EXPECT_EQ(Host()->alerts.size(), 1u);
  DeselectAllObjects(crystal);
}

TEST_F(WindowInputTest, ASecondaryClickOnTheSiteListOpensTheSiteBrowserMenu) {
  auto *list = w->AtomsContainer()->findChild<SiteBrowserView *>();
  ASSERT_NE(list, nullptr);
  const QPoint at = list->viewport()->rect().center();
  QContextMenuEvent e(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
  QApplication::sendEvent(list->viewport(), &e);
  EXPECT_TRUE(InfoWinMenu()->isVisible());
  InfoWinMenu()->hide();
}

TEST_F(WindowInputTest, MenusHaveMnemonicsAndAltLettersTypeNothingIntoTheNotes) {
  std::set<QChar> letters;
  for (QAction *top : w->menuBar()->actions()) {
    const QString text = top->text();
    const qsizetype amp = text.indexOf('&');
    ASSERT_GE(amp, 0) << text.toStdString();
    EXPECT_TRUE(letters.insert(text[amp + 1].toLower()).second) << text.toStdString() << " shares its letter";
  }
  EXPECT_EQ(w->menuBar()->actions().back()->text(), "&Help");
  w->NotesView()->setPlainText("notes");
  ClearWindowModified(window);
  w->NotesView()->setFocus();
  for (int key : {Qt::Key_F, Qt::Key_Q}) {
    QKeyEvent alt(QEvent::KeyPress, key, Qt::AltModifier, key == Qt::Key_F ? "f" : "q");
    QApplication::sendEvent(w->NotesView(), &alt);
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(w->NotesView()->toPlainText(), "notes");
  EXPECT_FALSE(IsWindowModified(window));
}

TEST_F(WindowInputTest, ShowAllLabelsLabelsEveryAtomAndIsCheckedWhileTheyShow) {
  const QImage before = w->GraphPane()->grab().toImage();
  ASSERT_EQ(ProcessCommand(kCmdShowAllLabels), kNoErr);
  QAction *item = GetCommandAction(kCmdShowAllLabels);
  UpdateActionStatus(item);
  EXPECT_TRUE(item->isChecked());
  EXPECT_NE(w->GraphPane()->grab().toImage(), before) << "the labels are drawn";
  ProcessCommand(kCmdShowAllLabels);
  UpdateActionStatus(item);
  EXPECT_FALSE(item->isChecked());
  for (const AtomRecord &atom : crystal->atoms)
    EXPECT_FALSE(atom.labelled);
}

TEST_F(WindowInputTest, EachWindowsPlayItemShowsItsOwnViews) {
  ProcessCommand(FourCharsToLong("*Vuw"));
  ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / "Benzene.ovtx", nullptr));
  QCoreApplication::processEvents();
  MainWindow *other = GetMainWindow(FrontGraphWindow());
  ASSERT_NE(other, w);
  ASSERT_TRUE(DoCacheViewFile(window)); // the back window has a view, the front none
  DrawStatusbar();
  EXPECT_TRUE(ToolbarItem(w, kCmdPlay)->isEnabled());
  EXPECT_FALSE(ToolbarItem(other, kCmdPlay)->isEnabled());
  ClearWindowModified(other->Ref());
  DoCloseMainWindow(other->Ref());
  QCoreApplication::processEvents();
}

TEST_F(WindowInputTest, ClosingARotatingWindowBesideAnotherStopsItsTimer) {
  ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / "Benzene.ovtx", nullptr));
  QCoreApplication::processEvents();
  WindowRef rotating = FrontGraphWindow();
  ASSERT_NE(rotating, window);
  GetMainWindow(rotating)->show();
  ASSERT_TRUE(DoAutoRotate(rotating, 0, 5, 0, false, false, 0));
  QTest::qWait(50);
  ClearWindowModified(rotating);
  DoCloseMainWindow(rotating);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  // The queued frame fires after the window is gone.
  QTest::qWait(100);
  EXPECT_EQ(GetMainWindow(rotating), nullptr);
  ASSERT_TRUE(DoAutoRotate(window, 0, 5, 0, false, false, 0));
  QTest::qWait(50);
  EXPECT_TRUE(IsWindowAutoRotating(window)) << "the other window still rotates";
}

class NotesTest : public WindowInputTest {
protected:
  QTextEdit *Notes() { return w->NotesView(); }
  void Select(int from, int to) {
    QTextCursor c(Notes()->document());
    c.setPosition(from);
    c.setPosition(to, QTextCursor::KeepAnchor);
    Notes()->setTextCursor(c);
  }
  QTextCharFormat FormatAt(int pos) {
    QTextCursor c(Notes()->document());
    c.setPosition(pos + 1);
    return c.charFormat();
  }
};

TEST_F(NotesTest, SuperscriptAndSubscriptFollowTheSizeRules) {
  ClearWindowTextObject(window);
  Notes()->setPlainText("x2 y8");
  Select(1, 2);
  DoTextSize(12);
  DoTextBaseline(1);
  EXPECT_DOUBLE_EQ(FormatAt(1).property(kCrossShiftProperty).toDouble(), 6.0);
  EXPECT_DOUBLE_EQ(FormatAt(1).fontPointSize(), 9.0);
  DoTextBaseline(1);
  EXPECT_DOUBLE_EQ(FormatAt(1).property(kCrossShiftProperty).toDouble(), 0.0);
  EXPECT_DOUBLE_EQ(FormatAt(1).fontPointSize(), 12.0);
  Select(4, 5);
  DoTextSize(8);
  DoTextBaseline(0);
  EXPECT_NEAR(FormatAt(4).property(kCrossShiftProperty).toDouble(), -2.64, 1e-6);
  EXPECT_DOUBLE_EQ(FormatAt(4).fontPointSize(), 8.0);
  EXPECT_TRUE(IsWindowModified(window));

  // A selection of mixed sizes checks the 9-point item.
  Select(0, 5);
  QAction *nine = GetCommandAction(FourCharsToLong("TS09"));
  QAction *twelve = GetCommandAction(FourCharsToLong("TS12"));
  UpdateActionStatus(nine);
  UpdateActionStatus(twelve);
  EXPECT_TRUE(nine->isChecked());
  EXPECT_FALSE(twelve->isChecked());
}

TEST_F(NotesTest, KernAndOverbarLeaveTheFirstCharacterAlone) {
  ClearWindowTextObject(window);
  Notes()->setPlainText("AB");
  Select(0, 1);
  DoTextBackspace();
  DoTextAddOverbar();
  EXPECT_EQ(Notes()->toPlainText(), "AB");
  Select(1, 2);
  DoTextBackspace();
  EXPECT_LT(FormatAt(1).property(kBeforeShiftProperty).toDouble(), 0.0);
  DoTextAddOverbar();
  EXPECT_EQ(Notes()->toPlainText(), QString("AB") + QChar(0x2014));
  EXPECT_GT(FormatAt(2).property(kCrossShiftProperty).toDouble(), 0.0);
}

TEST_F(NotesTest, LongUnicodeImporterTextIsAppendedWholeWithTheCaretAtTheTop) {
  ClearWindowTextObject(window);
  const std::string line = std::string(300, 'a') + " \u03b1-\u03b2 \u00c5";
  CopyCFStringToNotebook(window, line);
  EXPECT_EQ(Notes()->toPlainText(), QString::fromStdString(line));
  EXPECT_EQ(Notes()->textCursor().position(), 0);
}

TEST_F(NotesTest, NotesKeepEveryAttributeThroughSaveAndReopen) {
  ClearWindowTextObject(window);
  Notes()->setPlainText("Fe2O3 bold red");
  Select(2, 3);
  DoTextBaseline(0);
  Select(6, 10);
  DoTextStyle(kFaceBold | kFaceShadow);
  Select(11, 14);
  DoTextColor(gMenuTextColor[2]);
  DoTextJustification(kJustCentre);
  const fs::path file = fs::temp_directory_path() / "ov_notes_roundtrip.ovdf";
  ASSERT_TRUE(DoWriteCrystalFile(window, file));
  ClearWindowTextObject(window);
  ASSERT_TRUE(LoadCrystalFileIntoWindow(window, file, false));
  fs::remove(file);
  EXPECT_EQ(Notes()->toPlainText(), "Fe2O3 bold red");
  EXPECT_NEAR(FormatAt(2).property(kCrossShiftProperty).toDouble(), -0.33 * 12, 1e-5);
  EXPECT_EQ(FormatAt(7).property(kFaceProperty).toInt(), kFaceBold | kFaceShadow);
  EXPECT_EQ(FormatAt(12).foreground().color(), QColor(255, 0, 0));
  EXPECT_TRUE(Notes()->document()->lastBlock().blockFormat().alignment() & Qt::AlignHCenter);
}

} // namespace
