// The modified mark as a user meets it: every command of the command table
// and the controls of the panes, each on a freshly opened document, then the
// document saved. The window is marked exactly when the saved document
// differs from the one opened (its structure, display settings and notes;
// the window's layout and the picture it carries are no change).
#include "browsers/SiteBrowserView.h"
#include "export/MovieWindows.h"
#include "overview/PreferencesDialog.h"
#include "shell/Forms.h"
#include "structurewindow/AtomPicker.h"
#include "structurewindow/HandController.h"
#include "structurewindow/WindowInput.h"

#include "Preferences.h"
#include "documents/CrystalDocument.h"
#include "documents/FileBuffer.h"
#include "relax/RelaxThread.h"

#include <QApplication>
#include <QLineEdit>
#include <QNativeGestureEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "DocumentContent.h"
#include "FakeHandController.h"
#include "FakeHost.h"
#include "ProgramEnvironment.h"
#include "SuiteHost.h"

namespace fs = std::filesystem;

namespace {

// The document's content: what saving writes but the window's layout and the
// preview picture, with the pixel positions every plot remakes left out;
// without the plot scale and the label size too for a window resized (they
// follow the pane, so that the picture keeps its proportion).
std::vector<uint8_t> Content(const fs::path &file, bool resized = false) {
  std::vector<uint8_t> bytes;
  std::string why;
  EXPECT_TRUE(ReadWholeFile(file, bytes, &why)) << why;
  CrystalRec c;
  DocumentExtras extras;
  EXPECT_TRUE(DecodeCrystalDocument(bytes, c, &extras, &why)) << why;
  if (resized)
    c.plotScale = c.labelSize = 0.0f;
  extras.preview.clear();
  extras.hasWindowSettings = false;
  return DocumentContent(std::move(c), extras);
}

// Dialogs and menus run modally by a command are cancelled as they come up.
class CancelModalDialogs {
public:
  CancelModalDialogs() {
    QObject::connect(&timer_, &QTimer::timeout, [] {
      if (QWidget *popup = QApplication::activePopupWidget())
        popup->close();
      else if (QWidget *modal = QApplication::activeModalWidget())
        modal->close();
    });
    timer_.start(20);
  }

private:
  QTimer timer_;
};

struct Case {
  std::string name;
  std::function<void(WindowRef)> act;
  bool resizes = false; // the window's layout changes, and with it the scale
};

class ModifiedMark : public StructureSheetTest {
protected:
  void SetUp() override {
    std::string pattern = (fs::path(::testing::TempDir()) / "ovmarkXXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    prefs_ = gPrefs;
    rotatorAngle_ = gRotatorAngle;
  }
  // What the cases changed of the program besides the documents goes back.
  void TearDown() override {
    CloseAll();
    fs::remove_all(folder_);
    if (gFillScreen)
      ProcessCommand(kCmdFillScreen);
    if (gPrefs.showToolbar != prefs_.showToolbar)
      ProcessCommand(FourCharsToLong("tbtg"));
    ProcessCommand(FourCharsToLong("RotT"));
    for (MainWindow *w : AllGraphWindows()) {
      WindowRef window = w->Ref();
      if (!IsWindowShowingRulers(window))
        ToggleRulers(window);
      ShowSidebar(window);
      if (!IsWindowShowingAtomsPane(window))
        ToggleAtomsPane(window);
      if (!IsWindowShowingNotesPane(window))
        ToggleNotesPane(window);
    }
    CachedFileRecord *recent = gPrefs.recentFiles, *favourites = gPrefs.favouriteFiles;
    gPrefs = prefs_;
    gPrefs.recentFiles = recent;
    gPrefs.favouriteFiles = favourites;
    gRotatorAngle = rotatorAngle_;
  }
  // The example as a document with its first atom selected (the selection
  // commands then have something to work on).
  fs::path Original(const char *example) {
    WindowRef window = nullptr;
    if (!OpenExample(example) || !(window = FrontGraphWindow()))
      return {};
    GetWindowCrystal(window)->atoms[0].selected = 1;
    const fs::path file = folder_ / (std::string(example) + ".ovdf");
    EXPECT_TRUE(DoWriteCrystalFile(window, file));
    CloseAll();
    return file;
  }
  // Runs the cases on fresh copies of the document; answers how many changed
  // it.
  int Run(const fs::path &original, const std::vector<Case> &cases) {
    const fs::path file = folder_ / "case.ovdf";
    int changed = 0;
    for (const Case &c : cases) {
      fs::copy_file(original, file, fs::copy_options::overwrite_existing);
      if (!OpenFSRefInWindow(file, nullptr)) {
        ADD_FAILURE() << c.name << ": the document did not open";
        continue;
      }
      QCoreApplication::processEvents();
      WindowRef window = FrontGraphWindow();
      EXPECT_FALSE(IsWindowModified(window)) << c.name << ": freshly opened";
      {
        CancelModalDialogs cancel;
        c.act(window);
        // A sheet the command opened is accepted as it stands, then any
        // that follow it; what is still open is cancelled.
        for (int round = 0; round < 3; round++)
          for (QDialog *sheet : OpenSheets())
            for (auto *button : sheet->findChildren<QPushButton *>())
              if ((button->property("command").toString() == "ok  " || button->objectName() == "okButton") &&
                  button->isVisible()) {
                button->click();
                QCoreApplication::processEvents();
                break;
              }
        for (QDialog *sheet : OpenSheets())
          sheet->reject();
        if (IsWindowAutoRotating(window)) {
          QTest::qWait(100); // a few frames
          ProcessCommand(kCmdAutoRotate);
        }
        if (IsWindowCalculationInProgress(window)) {
          QTest::qWait(1000); // some steps of the run reach the window
          ProcessCommand(kCmdCancelRelaxMolecule);
          EXPECT_TRUE(QTest::qWaitFor([] { return RelaxRunCount() == 0; }, 8000));
        }
        QCoreApplication::processEvents();
      }
      // The window must still hold the document for its save to say anything.
      MainWindow *w = GetMainWindow(window);
      if (w && IsWindowFileOpen(window) && w->File() == file) {
        const bool marked = IsWindowModified(window);
        EXPECT_TRUE(DoSaveWindow(window)) << c.name;
        const bool differs = Content(file, c.resizes) != Content(original, c.resizes);
        changed += differs;
        EXPECT_EQ(marked, differs) << c.name
                                   << (differs ? ": the document changed, unmarked" : ": marked, nothing changed");
      }
      CloseAll();
    }
    return changed;
  }
  // Every command of the table but those that end the program, close the
  // window, hand it to another program or rewrite the Overview's files.
  // Those that change the window's layout change the scale with the pane,
  // which is no change of the document's.
  static std::vector<Case> Commands() {
    const std::vector<uint32_t> resizing = {kCmdToggleRulers,        kCmdToggleSidebar,       kCmdToggleNotes,
                                            kCmdToggleAtoms,         kCmdFillScreen,          kCmdStandardSize,
                                            FourCharsToLong("ZooW"), FourCharsToLong("MinW"), FourCharsToLong("tbtg")};
    const std::vector<uint32_t> skipped = {kCmdQuit,
                                           kCmdClose,
                                           kCmdHelp,
                                           FourCharsToLong("MOHp"),
                                           FourCharsToLong("IWHp"),
                                           FourCharsToLong("*Fnd"),
                                           FourCharsToLong("Rmve"),
                                           FourCharsToLong("Rplc"),
                                           FourCharsToLong("-Cch")};
    std::vector<Case> cases;
    for (const CommandInfo &info : CommandTable())
      if (std::find(skipped.begin(), skipped.end(), info.code) == skipped.end())
        cases.push_back({CommandName(info.code) + " " + info.title,
                         [code = info.code](WindowRef) { ProcessCommand(code); },
                         std::find(resizing.begin(), resizing.end(), info.code) != resizing.end()});
    return cases;
  }
  // The controls of the window's panes and its other inputs.
  static std::vector<Case> Controls() {
    // The first site's cell, under its element row or in the flat list.
    auto sites = [](WindowRef window, uint32_t property) {
      SiteBrowserModel *model = GetGraphicsWindowSiteBrowserView(window)->Model();
      const QModelIndex first = model->index(0, 0);
      const QModelIndex parent = model->rowCount(first) > 0 ? first : QModelIndex();
      return model->index(0, model->ColumnOf(property), parent);
    };
    auto pane = [](WindowRef window) { return GetMainWindow(window)->GraphPane(); };
    // A trackpad gesture, drawn at once.
    auto gesture = [=](WindowRef window, Qt::NativeGestureType type, double value) {
      GetMainWindowData(window)->lastGestureTime = 0;
      GetWindowCrystal(window)->lastPlotDuration = 0;
      QNativeGestureEvent e(type, QPointingDevice::primaryPointingDevice(), 1, QPointF(50, 50), QPointF(50, 50),
                            QPointF(50, 50), value, QPointF(), 0);
      QApplication::sendEvent(pane(window), &e);
    };
    return {
        {"Sites pane: radius",
         [=](WindowRef window) {
           const QModelIndex cell = sites(window, kRadiusColumn);
           GetGraphicsWindowSiteBrowserView(window)->Model()->setData(cell, "3.5", Qt::EditRole);
         }},
        {"Sites pane: Show",
         [=](WindowRef window) {
           GetGraphicsWindowSiteBrowserView(window)->Model()->setData(sites(window, kShowColumn), Qt::Unchecked,
                                                                      Qt::CheckStateRole);
         }},
        {"Sites pane: Label",
         [=](WindowRef window) {
           GetGraphicsWindowSiteBrowserView(window)->Model()->setData(sites(window, kLabelColumn), Qt::Checked,
                                                                      Qt::CheckStateRole);
         }},
        {"Sites pane: colour swatch",
         [=](WindowRef window) {
           GetMainWindow(window)->show();
           SiteBrowserView *view = GetGraphicsWindowSiteBrowserView(window);
           const QModelIndex swatch = sites(window, kColourColumn);
           view->scrollTo(swatch);
           const QPoint centre = SiteBrowserDelegate::SwatchRect(view->visualRect(swatch)).center();
           FakeHost picker; // answers the colour picker
           picker.pickedColors.push_back(RGBColor{0, 65535, 0});
           QTest::mousePress(view->viewport(), Qt::LeftButton, {}, centre);
           QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, centre);
         }},
        {"Plot Scale sheet",
         [](WindowRef) {
           ProcessCommand(kCmdPlotScale);
           QDialog *sheet = OpenSheets().at(0);
           auto *field = FindControl<QLineEdit>(sheet, 1);
           field->setText("42.5");
           for (auto *b : sheet->findChildren<QPushButton *>())
             if (b->property("command").toString() == "ok  ")
               b->click();
         }},
        {"left arrow", [=](WindowRef window) { QTest::keyClick(pane(window), Qt::Key_Left); }},
        {"a click on the ruler",
         [](WindowRef window) {
           QWidget *ruler = GetMainWindow(window)->Ruler();
           QTest::mouseClick(ruler, Qt::LeftButton, {}, ruler->rect().center());
         }},
        {"trackpad rotation", [=](WindowRef window) { gesture(window, Qt::RotateNativeGesture, 5.0); }},
        {"trackpad zoom", [=](WindowRef window) { gesture(window, Qt::ZoomNativeGesture, 0.1); }},
        {"hand controller",
         [](WindowRef window) {
           FakeHandController device;
           SetHandController(&device);
           AssociateFrameListenerWithWindow(window);
           device.listener->OnConnect();
           HandFrame pinch;
           pinch.fingersPerHand = {5, 5};
           pinch.scaleProbability = 0.9f;
           pinch.rotationProbability = 0.1f;
           pinch.scaleFactor = 1.05f;
           device.listener->OnFrame(pinch);
           QCoreApplication::processEvents();
           SetHandController(nullptr);
           DissociateFrameListenerFromWindow();
         }},
        {"Preferences: factory settings",
         [](WindowRef) {
           SetPreferencesRunner([](PreferencesDialog &dialog) {
             dialog.SetChoice(3);
             dialog.Command(FourCharsToLong("ok  "));
             return true;
           });
           ProcessCommand(FourCharsToLong("Pref"));
           SetPreferencesRunner({});
         }},
    };
  }
  fs::path folder_;
  PrefsRecord prefs_;
  float rotatorAngle_ = 0.0f;
};

TEST_F(ModifiedMark, ShowsExactlyWhenTheSavedCrystalDiffers) {
  const fs::path original = Original("NaCl.ovtx");
  ASSERT_FALSE(original.empty());
  std::vector<Case> cases = Commands();
  for (Case &c : Controls())
    cases.push_back(std::move(c));
  EXPECT_GE(Run(original, cases), 40) << "too few cases changed the document to tell anything";
}

TEST_F(ModifiedMark, ShowsExactlyWhenTheSavedMoleculeDiffers) {
  const fs::path original = Original("Benzene.ovtx");
  ASSERT_FALSE(original.empty());
  std::vector<Case> cases = Commands();
  // The add-atom tool: a click on one atom, a Shift-click on another bonds
  // the two.
  cases.push_back({"add-atom tool: Shift-click bonds two atoms", [](WindowRef window) {
                     ProcessCommand(FourCharsToLong("At+T"));
                     DoShowAtomPickerWindow();
                     DoPresetButtons(gPresetOrganic);
                     DoChangeActiveElementButton(1);
                     MainWindow *w = GetMainWindow(window);
                     const CrystalRec *c = GetWindowCrystal(window);
                     auto at = [&](int32_t atom) { return QPoint(c->atoms[atom].pixel[0], c->atoms[atom].pixel[1]); };
                     QTest::mouseClick(w->GraphPane(), Qt::LeftButton, {}, at(0));
                     QTest::mouseClick(w->GraphPane(), Qt::LeftButton, Qt::ShiftModifier, at(3));
                     ProcessCommand(FourCharsToLong("ArwT"));
                   }});
  EXPECT_GE(Run(original, cases), 40) << "too few cases changed the document to tell anything";
}

// The close question's answers, counted.
class CountingDialogs : public NoShellDialogs {
public:
  int asked = 0;
  SaveChangesAnswer ConfirmSaveChanges(const std::string &, bool) override {
    ++asked;
    return SaveChangesAnswer::kCancel;
  }
};

// A radius typed into the sidebar's Sites pane: double-click, 3.5, Return.
TEST_F(ModifiedMark, ARadiusTypedIntoTheSitesPaneMarksTheWindowAndCloseAsks) {
  const fs::path original = Original("NaCl.ovtx");
  ASSERT_TRUE(OpenFSRefInWindow(original, nullptr));
  WindowRef window = FrontGraphWindow();
  MainWindow *w = GetMainWindow(window);
  w->show();
  QCoreApplication::processEvents();
  QAction *save = GetCommandAction(kCmdSave);
  UpdateActionStatus(save);
  EXPECT_FALSE(save->isEnabled()) << "a document as opened has nothing to save";

  SiteBrowserView *view = GetGraphicsWindowSiteBrowserView(window);
  SiteBrowserModel *model = view->Model();
  const QModelIndex element = model->index(0, 0);
  view->expand(element);
  const QModelIndex parent = model->rowCount(element) > 0 ? element : QModelIndex();
  const QModelIndex cell = model->index(0, model->ColumnOf(kRadiusColumn), parent);
  view->scrollTo(cell);
  const QPoint centre = view->visualRect(cell).center();
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                            QEvent::MouseButtonRelease}) {
    QMouseEvent e(type, centre, view->viewport()->mapToGlobal(centre), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &e);
  }
  auto *editor = view->findChild<QLineEdit *>();
  ASSERT_NE(editor, nullptr) << "the double-click opens the cell's editor";
  editor->selectAll();
  QTest::keyClicks(editor, "3.5");
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents(); // the editor commits once back in the event loop
  const CrystalRec *c = GetWindowCrystal(window);
  ASSERT_TRUE(std::any_of(c->spheres.begin(), c->spheres.end(), [](const SphereRecord &s) { return s.radius == 3.5f; }))
      << "the radius typed is the atom type's";

  // The title's mark follows a moment later.
  EXPECT_TRUE(QTest::qWaitFor([&] { return w->isWindowModified(); }, 2000));
  UpdateActionStatus(save);
  EXPECT_TRUE(save->isEnabled());
  CountingDialogs dialogs;
  ShellDialogs *before = &GetShellDialogs();
  SetShellDialogs(&dialogs);
  ProcessCommand(kCmdClose);
  SetShellDialogs(before);
  EXPECT_EQ(dialogs.asked, 1) << "Close asks before the change is lost";
  EXPECT_TRUE(IsWindowFileOpen(window));
}

// Ctrl+W at once after a change, before the window settles, still asks.
TEST_F(ModifiedMark, CtrlWAtOnceAfterAChangeAsks) {
  const fs::path original = Original("NaCl.ovtx");
  ASSERT_TRUE(OpenFSRefInWindow(original, nullptr));
  MainWindow *w = GetMainWindow(FrontGraphWindow());
  w->show();
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  FocusGraphPane(w->Ref());
  ProcessCommand(FourCharsToLong("RotT")); // the arrows turn the structure
  CountingDialogs dialogs;
  ShellDialogs *before = &GetShellDialogs();
  SetShellDialogs(&dialogs);
  QTest::keyClick(w->GraphPane(), Qt::Key_Left);
  QTest::keyClick(w->GraphPane(), Qt::Key_W, Qt::ControlModifier);
  SetShellDialogs(before);
  EXPECT_EQ(dialogs.asked, 1);
  EXPECT_TRUE(IsWindowFileOpen(w->Ref()));
}

// Save dialogs answered with one file, the close question counted.
class MovieDialogs : public CountingDialogs {
public:
  fs::path file;
  std::optional<fs::path> GetSaveFile(const std::string &, const std::string &, const fs::path &) override {
    return file;
  }
};

TEST_F(ModifiedMark, ARotationMovieLeavesTheDocumentAsItWas) {
  const fs::path original = Original("Rutile.ovtx"), file = folder_ / "case.ovdf";
  ASSERT_TRUE(fs::copy_file(original, file));
  ASSERT_TRUE(OpenFSRefInWindow(file, nullptr));
  WindowRef window = FrontGraphWindow();
  MainWindow *w = GetMainWindow(window);
  w->show();
  QCoreApplication::processEvents();
  gPrefs.movieFrames = 7; // steps of 360/7 degrees, none of them exact
  MovieDialogs dialogs;
  dialogs.file = folder_ / "turn.mov";
  ShellDialogs *before = &GetShellDialogs();
  SetShellDialogs(&dialogs);
  ProcessCommand(kCmdExportRotationMovie);
  QWidget *options = QApplication::activeModalWidget();
  ASSERT_NE(options, nullptr);
  options->findChild<QPushButton *>("okButton")->click();
  QCoreApplication::processEvents();
  SetShellDialogs(before);
  ASSERT_TRUE(fs::exists(dialogs.file)) << GetLogStore()->PlainText().toStdString();

  QTest::qWait(600); // past the undo timer
  EXPECT_FALSE(w->isWindowModified());
  EXPECT_FALSE(IsWindowModified(window)) << "Quit would ask for nothing";
  ASSERT_TRUE(DoSaveWindow(window));
  EXPECT_EQ(Content(file), Content(original)) << "the saved document is the one opened";
}

} // namespace
