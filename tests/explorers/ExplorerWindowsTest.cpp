// The Distance Explorer, the space-group browser and the symmetry options
// dialog driven as a user drives them, on the program's example structures.
#include "editing/EditCrystalSheet.h"
#include "explorers/DistanceExplorer.h"
#include "explorers/DistanceHistogram.h"
#include "explorers/SpacegroupWindow.h"
#include "explorers/SymmetryOptions.h"
#include "inspectors/InspectorKit.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/Forms.h"
#include "shell/QtHostServices.h"
#include "shell/Startup.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "SymmetryCards.h"
#include "window/MainWindowData.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QTableView>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

#include "ProgramEnvironment.h"

namespace fs = std::filesystem;

namespace {

class ExplorerHost : public QtHostServices {
public:
  std::vector<AlertRequest> alerts;
  std::string log;
  int beeps = 0;
  unsigned modifiers = 0;
  fs::path saveTo;
  int RunAlert(const AlertRequest &alert) override {
    alerts.push_back(alert);
    return 1;
  }
  void LogAppend(std::string_view text, const RGBColor &colour, size_t coloured) override {
    log += text;
    QtHostServices::LogAppend(text, colour, coloured);
  }
  void Beep() override { beeps++; }
  unsigned CurrentModifiers() override { return modifiers; }
  int SaveFileDialog(std::string_view, std::string_view proposed, fs::path *file) override {
    proposedName = std::string(proposed);
    *file = saveTo;
    return saveTo.empty() ? kUserCanceledErr : 0;
  }
  std::string proposedName;
};

ExplorerHost *gHost = nullptr;

ProgramEnvironmentFor<ExplorerHost> *const gProgram = new ProgramEnvironmentFor<ExplorerHost>("ovexpl", &gHost);
const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(gProgram);

class Explorers : public ::testing::Test {
protected:
  void SetUp() override {
    gHost->alerts.clear();
    gHost->log.clear();
    gHost->beeps = 0;
    gHost->modifiers = 0;
  }
  void TearDown() override {
    gSymmetryOptionsDriver = nullptr;
    for (MainWindow *w : std::vector<MainWindow *>(AllGraphWindows())) {
      if (EditCrystalSheet *sheet = GetEditCrystalSheet(w->Ref()))
        sheet->HandleCommand(FourCharsToLong("not!"));
      QCoreApplication::processEvents();
      ClearWindowModified(w->Ref());
      DoCloseMainWindow(w->Ref());
    }
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  static MainWindow *OpenExample(const char *name) {
    if (!OpenFSRefInWindow(ExamplesFolder() / name, nullptr))
      return nullptr;
    QCoreApplication::processEvents();
    return GetMainWindow(FrontGraphWindow());
  }
  static void Type(int id, const char *text) {
    auto *field = FindControl<QLineEdit>(gDistanceWindow, id);
    field->setFocus();
    field->setText(text);
    QTest::keyClick(field, Qt::Key_Return);
  }
  static QString Status() { return FindControl<QLabel>(gDistanceWindow, 17)->text(); }
  // Checks the element row of a From list entry through the list's model.
  static void CheckFrom(const char *element) {
    QAbstractItemModel *m = gFromBrowser->model();
    for (int r = 0; r < m->rowCount(); r++)
      if (m->index(r, 0).data().toString().trimmed() == element) {
        ASSERT_TRUE(m->setData(m->index(r, 0), Qt::Checked, Qt::CheckStateRole));
      }
  }
};

TEST_F(Explorers, ALookupBeforeTheBrowserExistsOnlyBeeps) {
  if (gSpacegroupWindow)
    GTEST_SKIP() << "the browser was built by an earlier test";
  FindSpacegroupInSpacegroupWindow("P 21/c", 0, 0);
  EXPECT_EQ(gHost->beeps, 1);
  EXPECT_EQ(gSpacegroupWindow, nullptr);
}

TEST_F(Explorers, SearchesFromCheckedSitesAndListsTheResult) {
  ASSERT_NE(OpenExample("NaCl.ovtx"), nullptr);
  DoShowDistanceWindow();
  DistanceSearch *s = GetCurrentDistanceSearch();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(gDistanceWindow->windowTitle().toStdString(), "Distance Explorer for " + gHost->WindowTitle(FrontGraphWindow()));
  ASSERT_EQ(s->toEntries.size(), 2u);
  EXPECT_FALSE(FindControl(gDistanceWindow, 12)->isEnabled()); // no From site checked yet
  Type(8, "2.0");
  Type(10, "3.0");
  CheckFrom("Na");
  EXPECT_TRUE(FindControl(gDistanceWindow, 12)->isEnabled());
  ASSERT_TRUE(s->haveResults);
  // Rock salt: six Cl at a/2 from each Na, nothing else between 2 and 3 A.
  EXPECT_EQ(s->ResultCount(), 6u);
  EXPECT_EQ(Status(), "Found 6 distances");
  EXPECT_EQ(gOutputBrowser->model()->rowCount(), 6);
  EXPECT_EQ(gOutputBrowser->model()->index(0, 1).data().toString(), "Na - Cl");
  EXPECT_EQ(s->toEntries[1].bins.size(), s->binCount);
  EXPECT_EQ(DistanceBinTotal(*s, uint32_t((2.8201f - 2.0f) / s->binWidth)), 6u);
  // The Log table.
  ASSERT_EQ(DistanceWindowCommand(FourCharsToLong("LOut")), 0);
  EXPECT_NE(gHost->log.find("Distances found:\r" + std::string(55, '-') + "\r"), std::string::npos);
  EXPECT_NE(gHost->log.find("   1. Na - Cl     Na1    -  Cl1      2.8201   1.00\r"), std::string::npos) << gHost->log.substr(0, 600);
  // Unchecking the only Na site leaves its element row checked: the button
  // stays on, and the engine refuses a search without sites.
  QAbstractItemModel *m = gFromBrowser->model();
  QModelIndex na;
  for (int r = 0; r < m->rowCount(); r++)
    if (m->index(r, 0).data().toString().trimmed() == "Na")
      na = m->index(r, 0);
  ASSERT_TRUE(m->setData(m->index(0, 0, na), Qt::Unchecked, Qt::CheckStateRole));
  EXPECT_TRUE(FindControl(gDistanceWindow, 12)->isEnabled());
  EXPECT_EQ(Status(), "Search terminated (0% complete). Found 0 distances");
  EXPECT_FALSE(s->haveResults);
  CheckFrom("Na");
  // From both ends: each Na Cl contact is listed once.
  CheckFrom("Cl");
  EXPECT_EQ(Status(), "Found 6 distances");
  // Unchecking every To element: no search, and the Search button goes off.
  DistanceWindowCommand(FourCharsToLong("-STo"));
  EXPECT_EQ(Status(), "No distances searched.");
  EXPECT_FALSE(s->haveResults);
}

TEST_F(Explorers, ASwappedRangeBeepsOnceAndARefusedOneKeepsTheLastRange) {
  ASSERT_NE(OpenExample("NaCl.ovtx"), nullptr);
  DoShowDistanceWindow();
  DistanceSearch *s = GetCurrentDistanceSearch();
  CheckFrom("Na");
  gHost->beeps = 0;
  FindControl<QLineEdit>(gDistanceWindow, 8)->setText("2.5");
  Type(10, "1.0");
  EXPECT_EQ(gHost->beeps, 1);
  EXPECT_EQ(FindControl<QLineEdit>(gDistanceWindow, 8)->text(), QString::fromUtf8("1.00 \u00c5"));
  EXPECT_EQ(FindControl<QLineEdit>(gDistanceWindow, 10)->text(), QString::fromUtf8("2.50 \u00c5"));
  EXPECT_EQ(s->minDistance, 1.0f);
  Type(10, "1.0");
  ASSERT_EQ(gHost->alerts.size(), 1u);
  EXPECT_EQ(gHost->alerts[0].message, "Invalid bond range");
  Type(10, "500");
  ASSERT_EQ(gHost->alerts.size(), 2u);
  EXPECT_EQ(gHost->alerts[1].explanation, "Maximum distance should be between 0.10 and 120 A.");
  EXPECT_EQ(Status(), "No distances searched.");
  // The record keeps the last valid range, so the histogram stays drawable.
  EXPECT_EQ(s->maxDistance, 2.5f);
  QImage image(400, 300, QImage::Format_ARGB32);
  QPainter painter(&image);
  DrawDistanceSearchGraph(painter, s, QRectF(0, 0, 400, 300));
}

TEST_F(Explorers, EachWindowKeepsItsRecordUntilItCloses) {
  MainWindow *salt = OpenExample("NaCl.ovtx");
  DoShowDistanceWindow();
  CheckFrom("Cl");
  DistanceSearch *first = GetCurrentDistanceSearch();
  ASSERT_TRUE(first && first->haveResults);
  EXPECT_TRUE(Status().startsWith("Found"));
  MainWindow *quartz = OpenExample("Quartz.ovtx");
  ASSERT_NE(quartz, nullptr);
  UpdateFloatingWindowsNow();
  DistanceSearch *second = GetCurrentDistanceSearch();
  ASSERT_NE(second, first);
  // The status speaks of the front window's (empty) result.
  EXPECT_EQ(gOutputBrowser->model()->rowCount(), 0);
  EXPECT_EQ(Status(), "No distances searched.");
  EXPECT_EQ(second->toEntries.size(), 2u); // O and Si
  EXPECT_EQ(gToBrowser->model()->index(0, 0).data().toString().trimmed(), "O"); // by symbol
  EXPECT_EQ(DisposeWindowDistanceSearch(quartz->Ref()), 0);
  EXPECT_EQ(DisposeWindowDistanceSearch(quartz->Ref()), kWindowPropertyNotFound);
  EXPECT_EQ(GetMainWindowData(salt->Ref())->distanceSearch.get(), first);
  // Ungrouped, the From list shows the sites alone.
  UpdateFloatingWindowsNow();
  FindControl<QAbstractButton>(gDistanceWindow, 7)->click();
  EXPECT_EQ(GetCurrentDistanceSearch()->groupByElement, 0);
  EXPECT_EQ(gFromBrowser->model()->rowCount(), int(GetCurrentDistanceSearch()->fromEntries.size()) - 2);
  EXPECT_EQ(gFromBrowser->model()->index(0, 0).data().toString(), "O1");
}

TEST_F(Explorers, HistogramBarsTakeTheElementColourAndTheGraphExportsAsPdf) {
  ASSERT_NE(OpenExample("NaCl.ovtx"), nullptr);
  DoShowDistanceWindow();
  Type(8, "2.0");
  Type(10, "4.5");
  CheckFrom("Na");
  DistanceSearch *s = GetCurrentDistanceSearch();
  ASSERT_TRUE(s->haveResults);
  s->dropShadow = 0;
  QImage image(480, 320, QImage::Format_ARGB32);
  image.fill(Qt::black);
  {
    QPainter painter(&image);
    DrawDistanceSearchGraph(painter, s, QRectF(0, 0, 480, 320));
  }
  const QColor cl = QColor::fromRgbF(s->toEntries[1].colour[0], s->toEntries[1].colour[1], s->toEntries[1].colour[2]);
  // The Na-Cl bar at 2.82 A: its middle, half way up the plot.
  const double x = 50 + (2.8201 - 2.0) / 2.5 * (480 - 58);
  EXPECT_EQ(image.pixelColor(int(x + 0.5 * s->binWidth / 2.5 * 422), 320 - 50 - 20).rgb(), cl.rgb());
  EXPECT_EQ(image.pixelColor(60, 320 - 50 - 20).rgb(), QColor(Qt::white).rgb());
  // Export: the proposed name, and the file's information in its last trailer.
  gHost->saveTo = gProgram->Temp() / "graph.pdf";
  ASSERT_EQ(DistanceWindowCommand(FourCharsToLong("xGrf")), 0);
  EXPECT_EQ(gHost->proposedName, gHost->WindowTitle(FrontGraphWindow()) + " - Bond Histogram.pdf");
  QFile file(QString::fromStdString(gHost->saveTo.string()));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray pdf = file.readAll();
  EXPECT_TRUE(pdf.startsWith("%PDF"));
  EXPECT_GT(pdf.lastIndexOf("/Info"), pdf.lastIndexOf("trailer"));
  gHost->saveTo.clear();
  // Copy: the same drawing as PDF on the clipboard.
  ASSERT_EQ(DistanceWindowCommand(FourCharsToLong("cGrf")), 0);
  const QMimeData *mime = QApplication::clipboard()->mimeData();
  ASSERT_NE(mime, nullptr);
  EXPECT_TRUE(mime->data("application/pdf").startsWith("%PDF"));
}

TEST_F(Explorers, OutputSortsByBondWithDistancesWithinAPair) {
  ASSERT_NE(OpenExample("Quartz.ovtx"), nullptr);
  DoShowDistanceWindow();
  Type(8, "1.0");
  Type(10, "3.5");
  DistanceWindowCommand(FourCharsToLong("+SFr"));
  DistanceSearch *s = GetCurrentDistanceSearch();
  ASSERT_TRUE(s->haveResults);
  ASSERT_GT(s->ResultCount(), 10u);
  gOutputBrowser->sortByColumn(1, Qt::AscendingOrder);
  QAbstractItemModel *m = gOutputBrowser->model();
  for (int r = 1; r < m->rowCount(); r++) {
    const QString a = m->index(r - 1, 1).data().toString(), b = m->index(r, 1).data().toString();
    ASSERT_LE(a, b);
    if (a == b) {
      ASSERT_LE(m->index(r - 1, 4).data().toString().toDouble(), m->index(r, 4).data().toString().toDouble());
    }
  }
}

TEST_F(Explorers, BrowserFindsTypedSymbolsAndHandsThemToTheEditor) {
  DoShowSpacegroupWindow();
  auto *field = FindControl<QLineEdit>(gSpacegroupWindow, 10);
  field->setFocus();
  field->setText("P 1 21 1");
  QTest::keyClick(field, Qt::Key_Return);
  EXPECT_EQ(gSpacegroupWinRec.systemList.selection, 2);
  const int row = SelectedSpacegroupRow(gSpacegroupWinRec);
  ASSERT_GE(row, 0);
  EXPECT_STREQ(gSpacegroups[row].fullSymbol, "P 1 21 1");
  gHost->beeps = 0;
  const int before = gSpacegroupWinRec.symbolList.selection;
  FindSpacegroupInSpacegroupWindow("X 99", 0, 0);
  EXPECT_EQ(gHost->beeps, 1);
  EXPECT_EQ(gSpacegroupWinRec.symbolList.selection, before);

  // The editor's browse command shows its symbol; a pick changes the editor.
  ASSERT_EQ(ProcessCommand(kCmdNewCrystal), 0);
  EditCrystalSheet *sheet = GetEditCrystalSheet(FrontGraphWindow());
  ASSERT_NE(sheet, nullptr);
  sheet->SymbolField()->setText("P 21/c");
  sheet->HandleCommand(FourCharsToLong("brwS"));
  ASSERT_GE(SelectedSpacegroupRow(gSpacegroupWinRec), 0);
  EXPECT_STREQ(gSpacegroups[SelectedSpacegroupRow(gSpacegroupWinRec)].shortSymbol, "P 21/c");
  TypeInSpacegroupWindow(31);
  const std::string next = gSpacegroups[SelectedSpacegroupRow(gSpacegroupWinRec)].shortSymbol;
  EXPECT_EQ(sheet->SymbolField()->text().toStdString(), next);
}

TEST_F(Explorers, SymmetryOptionsListsAGroupAndReturnsCustomOperators) {
  SymmetryOptionsRec rec;
  rec.symbol = "I 4/m m m";
  gSymmetryOptionsDriver = [](SymmetryOptionsDialog *d) {
    SymmetryOptionsRec *r = d->Record();
    EXPECT_EQ(r->mode, 1);
    EXPECT_EQ(r->count, 16);
    EXPECT_EQ(r->latticeLetter, 'I');
    // Listing with Alt held: each operator and its body-centred copy.
    gHost->modifiers = kOptionKey;
    d->HandleCommand(FourCharsToLong("prGp"));
    // Selecting a row turns the dialog to custom operators.
    d->List()->selectRow(0);
    EXPECT_EQ(r->mode, 2);
    // Remove rows 1 and 3.
    d->List()->clearSelection();
    d->List()->selectionModel()->select(d->List()->model()->index(1, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    d->List()->selectionModel()->select(d->List()->model()->index(3, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const std::string keep2(CardText(r->cards[2]));
    d->HandleCommand(FourCharsToLong("rmvG"));
    EXPECT_EQ(r->count, 14);
    EXPECT_EQ(std::string(CardText(r->cards[1])), keep2);
    FindControl<QLineEdit>(d, 14)->setText("0.1667");
    FindControl<QLineEdit>(d, 15)->setText("0.334");
    FindControl<QLineEdit>(d, 16)->setText("100000.3"); // whole cells go before the float rounds the fraction
    d->HandleCommand(FourCharsToLong("ok  "));
  };
  ASSERT_EQ(GetSymmetryOptions(&rec), 1);
  EXPECT_EQ(rec.count, 14);
  EXPECT_TRUE(rec.symbol.empty());
  EXPECT_EQ(rec.latticeLetter, 'I');
  EXPECT_EQ(rec.originOffset[0], 1.0f / 6.0f);
  EXPECT_EQ(rec.originOffset[1], 0.334f);
  EXPECT_EQ(rec.originOffset[2], 0.3f);
  EXPECT_NE(gHost->log.find("   -x       -y       +z  \r1/2-x    1/2-y    1/2+z  \r"), std::string::npos)
      << gHost->log;
}

TEST_F(Explorers, SymmetryOptionsRefusesBadInputAndFillsTheEmptyList) {
  SymmetryOptionsRec rec;
  rec.symbol = "Q 9";
  gSymmetryOptionsDriver = [](SymmetryOptionsDialog *d) {
    d->HandleCommand(FourCharsToLong("ok  "));
    EXPECT_EQ(d->Record()->accepted, 0);
    d->HandleCommand(FourCharsToLong("not!"));
  };
  EXPECT_EQ(GetSymmetryOptions(&rec), 0);
  ASSERT_EQ(gHost->alerts.size(), 1u);
  // Typing a symbol empties the listed operators until they are shown again.
  SymmetryOptionsRec typed;
  typed.symbol = "P 21/c";
  gSymmetryOptionsDriver = [](SymmetryOptionsDialog *d) {
    EXPECT_EQ(d->Record()->count, 4);
    d->SymbolField()->setFocus();
    QTest::keyClick(d->SymbolField(), Qt::Key_Backspace);
    EXPECT_EQ(d->Record()->count, 0);
    EXPECT_TRUE(FindControl(d, 4)->isEnabled());
    QTest::keyClicks(d->SymbolField(), "c");
    QTest::keyClick(d->SymbolField(), Qt::Key_Return);
    EXPECT_EQ(d->Record()->count, 4);
    d->HandleCommand(FourCharsToLong("not!"));
  };
  EXPECT_EQ(GetSymmetryOptions(&typed), 0);
  EXPECT_EQ(gHost->alerts.size(), 1u);
  EXPECT_EQ(gHost->alerts[0].message, "Please enter a valid spacegroup symbol");

  // Custom mode: a full list refuses another operator; an empty one returns
  // the identity; duplicates go.
  SymmetryOptionsRec full;
  full.count = kMaxSymCards;
  for (Symcard &c : full.cards)
    c = MakeSymcard(kIdentityCard);
  gSymmetryOptionsDriver = [](SymmetryOptionsDialog *d) {
    d->HandleCommand(FourCharsToLong("addG"));
    EXPECT_EQ(d->Record()->count, kMaxSymCards);
    d->HandleCommand(FourCharsToLong("ok  "));
  };
  ASSERT_EQ(GetSymmetryOptions(&full), 1);
  EXPECT_EQ(gHost->alerts.back().message, "Cannot add any more GEPs - the list is full.");
  EXPECT_EQ(full.count, 1);
  SymmetryOptionsRec empty;
  empty.count = 1;
  empty.cards[0] = MakeSymcard(kIdentityCard);
  gSymmetryOptionsDriver = [](SymmetryOptionsDialog *d) {
    d->List()->selectRow(0);
    d->HandleCommand(FourCharsToLong("rmvG"));
    EXPECT_EQ(d->Record()->count, 0);
    d->HandleCommand(FourCharsToLong("ok  "));
  };
  ASSERT_EQ(GetSymmetryOptions(&empty), 1);
  EXPECT_EQ(empty.count, 1);
  EXPECT_EQ(std::string(CardText(empty.cards[0])), kIdentityCard);
}

TEST_F(Explorers, TheEditorsOptionsCommandRoundTripsAGroup) {
  ASSERT_EQ(ProcessCommand(kCmdNewCrystal), 0);
  EditCrystalSheet *sheet = GetEditCrystalSheet(FrontGraphWindow());
  ASSERT_NE(sheet, nullptr);
  sheet->SymbolField()->setText("P 21/c");
  gSymmetryOptionsDriver = [](SymmetryOptionsDialog *d) {
    EXPECT_EQ(d->Record()->count, 4);
    SetPopupValue(FindControl<QComboBox>(d, 1), 2);
    d->HandleCommand(FourCharsToLong("tSPG"));
    d->HandleCommand(FourCharsToLong("ok  "));
  };
  sheet->HandleCommand(FourCharsToLong("sOps"));
  EXPECT_EQ(sheet->Record()->cardCount, 4);
  EXPECT_TRUE(sheet->Record()->spaceGroup.empty());
}

} // namespace
