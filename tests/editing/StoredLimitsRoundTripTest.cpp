// Whatever an editor or command accepts is saved and read back unchanged: for
// each of them the largest and smallest value it takes goes into a document,
// the window's undo snapshot and the own text format, and comes back.
#include "editing/ElementsWindow.h"
#include "editing/FragmentCommandHandler.h"
#include "editing/PolyhedronSheet.h"
#include "inspectors/PlotSizeSheets.h"

#include "CachedFiles.h"
#include "PolyhedronFromSelection.h"
#include "SiteBrowserData.h"
#include "StoredLimits.h"
#include "documents/CrystalDocument.h"
#include "documents/PrefsFile.h"
#include "export/OwnTextWriter.h"

#include <QAbstractItemView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>

#include "SheetClosing.h"
#include "shell/Forms.h"
#include "SuiteHost.h"

namespace fs = std::filesystem;

namespace {

class LimitsHost : public QtHostServices {
public:
  std::vector<AlertRequest> alerts;
  int RunAlert(const AlertRequest &alert) override {
    alerts.push_back(alert);
    return 1;
  }
};

LimitsHost *gLimitsHost = nullptr;
fs::path gLimitsTemp;

// The structure as each reader gives it back.
struct ReadBack {
  CrystalRec document, history, text;
};

class StoredLimitsRoundTrip : public StructureSheetTest {
protected:
  HostServices *previous_ = nullptr;
  static void SetUpTestSuite() {
    gLimitsHost = JoinRunningProgram<LimitsHost>();
    char pattern[] = "/tmp/ovlimitsXXXXXX";
    gLimitsTemp = mkdtemp(pattern);
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    fs::remove_all(gLimitsTemp, ec);
  }
  void SetUp() override {
    previous_ = SetHostServices(gLimitsHost);
    gLimitsHost->alerts.clear();
  }
  void TearDown() override {
    CloseAll();
    SetHostServices(previous_);
  }

  static CrystalRec *OpenText(const std::string &name, const std::string &text) {
    const fs::path file = gLimitsTemp / name;
    std::ofstream(file) << text;
    if (!OpenFSRefInWindow(file, nullptr))
      return nullptr;
    QCoreApplication::processEvents();
    return GetWindowCrystal(FrontGraphWindow());
  }

  // Saves the window's structure as a document, as its undo snapshot and as
  // a text file, and opens each again the way the program does.
  static ReadBack SaveAndReopen(WindowRef window, const std::string &name) {
    ReadBack out;
    const CrystalRec &c = *GetWindowCrystal(window);
    const fs::path document = gLimitsTemp / (name + (c.molecule ? ".ovmf" : ".ovdf"));
    EXPECT_TRUE(DoWriteCrystalFile(window, document));
    EXPECT_TRUE(DoCacheHistoryFile(window));
    CachedFileRecord *snapshot = GetWindowHistory(window);
    EXPECT_NE(snapshot, nullptr);
    if (snapshot) {
      EXPECT_TRUE(ReadCrystalFile(&out.history, snapshot->fileRef));
    }
    const fs::path text = gLimitsTemp / (name + ".ovtx");
    std::ofstream(text) << FormatTextFile(c, name, "");
    const size_t alerts = gLimitsHost->alerts.size();
    EXPECT_TRUE(OpenFSRefInWindow(document, nullptr));
    out.document = *GetWindowCrystal(FrontGraphWindow());
    EXPECT_TRUE(OpenFSRefInWindow(text, nullptr));
    out.text = *GetWindowCrystal(FrontGraphWindow());
    QCoreApplication::processEvents();
    EXPECT_EQ(gLimitsHost->alerts.size(), alerts) << "no reader complains";
    return out;
  }

  static float RadiusOf(const CrystalRec &c, const char *element) {
    for (const SphereRecord &t : c.spheres)
      if (t.element == TwoCharsToShort(element))
        return t.radius;
    return -1.0f;
  }
  static void TypeAndReturn(QLineEdit *field, const char *text) {
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
    QCoreApplication::processEvents();
  }
};

// The site list's radius column takes 0.011 to 100 A.
TEST_F(StoredLimitsRoundTrip, SiteListRadii) {
  for (const char *typed : {"100", "0.011"}) {
    ASSERT_NE(OpenExample("NaCl.ovtx"), nullptr);
    WindowRef window = FrontGraphWindow();
    ASSERT_EQ(SiteBrowserSetRadius(window, TwoCharsToShort("Na"), typed), 0);
    const float radius = RadiusOf(*GetWindowCrystal(window), "Na");
    ASSERT_FLOAT_EQ(radius, std::strtof(typed, nullptr));
    const ReadBack back = SaveAndReopen(window, std::string("sites-") + typed);
    EXPECT_EQ(RadiusOf(back.document, "Na"), radius) << typed;
    EXPECT_EQ(RadiusOf(back.history, "Na"), radius) << typed;
    EXPECT_NEAR(RadiusOf(back.text, "Na"), radius, 0.005) << typed << ": the format's two decimals";
    CloseAll();
  }
  EXPECT_TRUE(gLimitsHost->alerts.empty());
}

// The element table's radius cell, typed and confirmed with Return, then
// applied to the structure: the largest and smallest the table takes; one
// beyond them is refused with the site list's alert.
TEST_F(StoredLimitsRoundTrip, ElementTableRadii) {
  for (const char *typed : {"100.00", "0.011", "100.5", "0"}) {
    ASSERT_NE(OpenExample("NaCl.ovtx"), nullptr);
    WindowRef window = FrontGraphWindow();
    ASSERT_EQ(ProcessCommand(kCmdEditElements), kNoErr);
    ElementsWindow *editor = GetEditElementsWindow();
    ASSERT_NE(editor, nullptr);
    QTableView *list = editor->List();
    int row = -1;
    for (size_t k = 0; k < gEditElementsData->entries.size(); k++)
      if (gEditElementsData->entries[k].element == TwoCharsToShort("Na"))
        row = static_cast<int>(k);
    ASSERT_GE(row, 0);
    const float before = gEditElementsData->entries[size_t(row)].radius;
    const QModelIndex cell = list->model()->index(row, kColElementRadius);
    list->edit(cell);
    auto *field = qobject_cast<QLineEdit *>(list->indexWidget(cell));
    ASSERT_NE(field, nullptr);
    gLimitsHost->alerts.clear();
    TypeAndReturn(field, typed);
    const float value = std::strtof(typed, nullptr);
    if (value > kMaxStoredRadius || value < kMinTypedAtomRadius) {
      ASSERT_EQ(gLimitsHost->alerts.size(), 1u) << typed;
      EXPECT_EQ(gLimitsHost->alerts[0].message, "Atomic radius is out of bounds");
      EXPECT_EQ(gEditElementsData->entries[size_t(row)].radius, before);
      editor->hide();
      CloseAll();
      continue;
    }
    ASSERT_EQ(gEditElementsData->entries[size_t(row)].radius, value) << typed;
    ASSERT_EQ(editor->HandleCommand(kCmdApplyElements), kNoErr);
    ASSERT_EQ(RadiusOf(*GetWindowCrystal(window), "Na"), value);
    const ReadBack back = SaveAndReopen(window, std::string("elements-") + typed);
    EXPECT_EQ(RadiusOf(back.document, "Na"), value) << typed;
    EXPECT_EQ(RadiusOf(back.history, "Na"), value) << typed;
    EXPECT_NEAR(RadiusOf(back.text, "Na"), value, 0.005) << typed;
    editor->hide();
    CloseAll();
  }
}

// Polyhedron from Selection bonds the centre by a new specification reaching
// the farthest selected atom: up to the longest bond maximum, and no further.
TEST_F(StoredLimitsRoundTrip, PolyhedronFromSelectionMaxima) {
  gBondGenerationChoice = 1;
  for (const double half : {230.9, 0.6, 240.0}) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "MOLE  Orvalisphere molecule format\nTITL  pair\n\nATOM\nO   O1  %f 0 0\nO   O2  %f 0 0\n", half, -half);
    CrystalRec *c = OpenText("pair.ovtx", text);
    ASSERT_NE(c, nullptr);
    WindowRef window = FrontGraphWindow();
    for (AtomRecord &atom : c->atoms)
      atom.selected = 1;
    const int32_t specs = c->bondSpecCount;
    gLimitsHost->alerts.clear();
    QDialog *sheet = Sheet(kCmdPolyhedronFromSelection);
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(ClosesOnOK(MakePolyhedronSheetCommand, sheet));
    c = GetWindowCrystal(window);
    const float expected = float(half) + kBondSpecMargin;
    if (expected > kMaxBondSpecLength) {
      ASSERT_EQ(gLimitsHost->alerts.size(), 1u);
      EXPECT_EQ(gLimitsHost->alerts[0].message, "Bond maximum too long");
      EXPECT_EQ(c->bondSpecCount, specs);
      EXPECT_EQ(c->siteCount, 2) << "nothing changes";
      CloseAll();
      continue;
    }
    ASSERT_EQ(c->bondSpecCount, specs + 1);
    const BondSpec made = c->bondSpecs[size_t(specs)];
    EXPECT_NEAR(made.maxLength, expected, 1e-3);
    const ReadBack back = SaveAndReopen(window, "polyhedron");
    for (const CrystalRec *r : {&back.document, &back.history}) {
      ASSERT_EQ(r->bondSpecCount, specs + 1);
      EXPECT_EQ(r->bondSpecs[size_t(specs)].maxLength, made.maxLength);
      EXPECT_EQ(r->bondSpecs[size_t(specs)].minLength, made.minLength);
    }
    ASSERT_EQ(back.text.bondSpecCount, specs + 1);
    EXPECT_NEAR(back.text.bondSpecs[size_t(specs)].maxLength, made.maxLength, 0.0005) << "three decimals";
    CloseAll();
  }
}

// The Plot Scale sheet takes what lies strictly between 0.01 and 10000
// pixels per A; Auto Scale fits a 460 A molecule below 2.
TEST_F(StoredLimitsRoundTrip, PlotScalesOfTheSheetAndAutoScale) {
  for (const char *typed : {"9999.99", "0.011"}) {
    ASSERT_NE(OpenExample("Rutile.ovtx"), nullptr);
    WindowRef window = FrontGraphWindow();
    QDialog *sheet = DoShowPlotScaleSheet(window);
    ASSERT_NE(sheet, nullptr);
    TypeAndReturn(FindControl<QLineEdit>(sheet, 1), typed);
    QCoreApplication::processEvents();
    const float scale = GetWindowCrystal(window)->plotScale;
    ASSERT_FLOAT_EQ(scale, std::strtof(typed, nullptr)) << typed;
    const ReadBack back = SaveAndReopen(window, std::string("scale-") + typed);
    EXPECT_EQ(back.document.plotScale, scale) << typed;
    EXPECT_EQ(back.history.plotScale, scale) << typed;
    CloseAll();
  }
  EXPECT_TRUE(gLimitsHost->alerts.empty());

  ASSERT_NE(OpenText("long.ovtx", "MOLE  Orvalisphere molecule format\nTITL  long\n\nATOM\nO   O1  230 0 0\n"
                                  "O   O2  -230 0 0\n"),
            nullptr);
  WindowRef window = FrontGraphWindow();
  ASSERT_EQ(ProcessCommand(kCmdAutoScale), kNoErr);
  const float scale = GetWindowCrystal(window)->plotScale;
  ASSERT_LT(scale, 2.0f);
  ASSERT_GT(scale, 0.0f);
  const ReadBack back = SaveAndReopen(window, "autoscale");
  EXPECT_EQ(back.document.plotScale, scale);
  EXPECT_EQ(back.history.plotScale, scale);
}

} // namespace
