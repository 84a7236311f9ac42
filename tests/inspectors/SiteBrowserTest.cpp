// The site browsers and the info window as a user meets them. The program
// (application, host, start-up) is the one this test program's environment
// builds for every inspector test.
#include "FakeHost.h"
#include "browsers/InfoWindow.h"
#include "browsers/SiteBrowserView.h"
#include "browsers/SiteCommands.h"
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "shell/Forms.h"
#include "structurewindow/InfoTip.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "BuildPipeline.h"
#include "Preferences.h"
#include "SiteAppearance.h"
#include "StructureArrays.h"
#include "window/MainWindowData.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QContextMenuEvent>
#include <QDialog>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <map>

#include "DialogScript.h"

namespace {

class SiteBrowserTest : public ::testing::Test {
protected:
  void TearDown() override {
    gPrefs.noticeColourSites = 1;
    gInfoWindowShowElements = 1;
    gPrefs.infoGroupByElement = 1;
    for (MainWindow *w : std::vector<MainWindow *>(AllGraphWindows())) {
      ClearWindowModified(w->Ref());
      DoCloseMainWindow(w->Ref());
    }
    if (gInfoWindow)
      gInfoWindow->hide();
    QCoreApplication::processEvents();
  }
  static WindowRef OpenExample(const char *name) {
    if (!OpenFSRefInWindow(ExamplesFolder() / name, nullptr))
      return nullptr;
    QCoreApplication::processEvents();
    return FrontGraphWindow();
  }
};

// The structure's site count the status bar should show.
QString Sites(WindowRef window) { return QString("%1 sites").arg(GetWindowCrystal(window)->siteCount); }

} // namespace

TEST_F(SiteBrowserTest, SidebarListsElementsAndSitesAndEditsThem) {
  WindowRef window = OpenExample("Pyrope.ovtx");
  ASSERT_NE(window, nullptr);
  SiteBrowserView *sidebar = GetGraphicsWindowSiteBrowserView(window);
  ASSERT_NE(sidebar, nullptr);
  SiteBrowserModel *model = sidebar->Model();
  EXPECT_EQ(model->columnCount(), 5); // no coordination column
  EXPECT_EQ(model->ColumnOf(kCoordinationColumn), -1);
  const CrystalRec &c = *GetWindowCrystal(window);
  ASSERT_GT(model->rowCount(), 1);
  // Every site under its element row.
  int sites = 0;
  for (int r = 0; r < model->rowCount(); r++) {
    const QModelIndex row = model->index(r, 0);
    EXPECT_TRUE(IsElementItem(model->ItemOf(row)));
    EXPECT_TRUE(sidebar->isExpanded(row));
    sites += model->rowCount(row);
  }
  EXPECT_EQ(sites, c.siteCount);
  // Unticking Show on the first element row hides its sites.
  const QModelIndex show = model->index(0, model->ColumnOf(kShowColumn));
  const uint32_t element = model->ItemOf(show);
  ASSERT_TRUE(model->setData(show, Qt::Unchecked, Qt::CheckStateRole));
  EXPECT_EQ(model->data(model->IndexOf(element, model->ColumnOf(kShowColumn)), Qt::CheckStateRole).toInt(),
            Qt::Unchecked);
  for (const AsymmetricUnitRecord &s : c.sites)
    EXPECT_EQ(s.elements[0] == element ? s.visible : 0, 0);
  // A radius typed into a site row's cell.
  const QModelIndex site = model->index(0, model->ColumnOf(kRadiusColumn), model->IndexOf(element));
  ASSERT_TRUE(model->setData(site, "1.23", Qt::EditRole));
  EXPECT_EQ(model->data(site, Qt::DisplayRole).toString(), " 1.23");
  // Collapsing a row is kept across refills.
  sidebar->collapse(model->IndexOf(element));
  UpdateSiteBrowser(window);
  EXPECT_FALSE(sidebar->isExpanded(model->IndexOf(element)));
  ProcessCommand(FourCharsToLong("IW+L"));
  EXPECT_TRUE(sidebar->isExpanded(model->IndexOf(element)));
  // A flat list.
  ProcessCommand(FourCharsToLong("IW%E"));
  EXPECT_EQ(model->rowCount(), c.siteCount);
  EXPECT_EQ(gPrefs.infoGroupByElement, 0);
}

TEST_F(SiteBrowserTest, InfoWindowFollowsTheFrontWindowAndComesBackTheSame) {
  WindowRef nacl = OpenExample("NaCl.ovtx");
  ASSERT_NE(nacl, nullptr);
  ProcessCommand(FourCharsToLong("*Inf"));
  ASSERT_NE(gInfoWindow, nullptr);
  QWidget *built = gInfoWindow;
  SiteBrowserView *browser = GetInfoWindowSiteBrowser();
  ASSERT_NE(browser, nullptr);
  EXPECT_EQ(browser->Model()->columnCount(), 6);
  EXPECT_EQ(InfoStatusbarText(), Sites(nacl));
  const int naclRows = browser->Model()->rowCount();
  // Another structure window in front: the list and the count follow it.
  WindowRef pyrope = OpenExample("Pyrope.ovtx");
  ASSERT_NE(pyrope, nullptr);
  UpdateFloatingWindows();
  EXPECT_EQ(InfoStatusbarText(), Sites(pyrope));
  EXPECT_NE(Sites(pyrope), Sites(nacl));
  EXPECT_EQ(browser->Model()->Window(), pyrope);
  const QModelIndex firstSite =
      browser->Model()->index(0, browser->Model()->ColumnOf(kCoordinationColumn), browser->Model()->index(0, 0));
  EXPECT_TRUE(browser->Model()->data(firstSite, Qt::DisplayRole).toString().startsWith("["));
  // Closing hides it; the command brings back the same window.
  browser->collapse(browser->Model()->index(0, 0));
  gInfoWindow->close();
  EXPECT_FALSE(gInfoWindow->isVisible());
  ProcessCommand(FourCharsToLong("*tAI"));
  EXPECT_EQ(gInfoWindow, built);
  EXPECT_TRUE(gInfoWindow->isVisible());
  EXPECT_FALSE(browser->isExpanded(browser->Model()->index(0, 0)));
  EXPECT_NE(naclRows, 0);
  // A right click or a Control-click anywhere opens the site commands.
  QContextMenuEvent right(QContextMenuEvent::Mouse, QPoint(5, 5), browser->viewport()->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(browser->viewport(), &right);
  ASSERT_NE(gInfoWinMenu, nullptr);
  EXPECT_TRUE(gInfoWinMenu->isVisible());
  EXPECT_TRUE(gInfoWinMenu->actions().contains(GetCommandAction(FourCharsToLong("IWcC"))));
  gInfoWinMenu->hide();
  QTest::mouseClick(browser->viewport(), Qt::LeftButton, Qt::ControlModifier, QPoint(5, 5));
  EXPECT_TRUE(gInfoWinMenu->isVisible());
  gInfoWinMenu->hide();
  // Without a structure only the separator line shows.
  for (MainWindow *w : std::vector<MainWindow *>(AllGraphWindows())) {
    ClearWindowModified(w->Ref());
    DoCloseMainWindow(w->Ref());
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(InfoStatusbarText(), "");
}

TEST_F(SiteBrowserTest, MenuStatusAndNotices) {
  WindowRef window = OpenExample("Pyrope.ovtx");
  ASSERT_NE(window, nullptr);
  QAction *grouped = GetCommandAction(FourCharsToLong("IW*E"));
  QAction *flat = GetCommandAction(FourCharsToLong("IW%E"));
  QAction *expand = GetCommandAction(FourCharsToLong("IW+L"));
  UpdateAllCommandStatus();
  EXPECT_TRUE(grouped->isChecked());
  EXPECT_FALSE(flat->isChecked());
  EXPECT_TRUE(expand->isEnabled());
  // Grouping again while grouped changes nothing: a collapsed row stays so.
  SiteBrowserView *sidebar = GetGraphicsWindowSiteBrowserView(window);
  const QModelIndex first = sidebar->Model()->index(0, 0);
  sidebar->collapse(first);
  ProcessCommand(FourCharsToLong("IW*E"));
  EXPECT_FALSE(sidebar->isExpanded(sidebar->Model()->index(0, 0)));
  ProcessCommand(FourCharsToLong("IW%E"));
  UpdateAllCommandStatus();
  EXPECT_TRUE(flat->isChecked());
  EXPECT_FALSE(expand->isEnabled());
  EXPECT_FALSE(GetCommandAction(FourCharsToLong("IW-L"))->isEnabled());

  // Ticking the box of the colour-by-element notice silences both colour
  // commands; Cancel runs nothing.
  auto sheet = [window] { return GetMainWindow(window)->findChild<QDialog *>("DontShowAgainSheet"); };
  const int types = GetWindowCrystal(window)->sphereCount;
  ProcessCommand(FourCharsToLong("IWcE"));
  ASSERT_NE(sheet(), nullptr);
  sheet()->findChild<QPushButton *>("cancelButton")->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(GetWindowCrystal(window)->sphereCount, types);
  EXPECT_FALSE(IsWindowModified(window));
  ProcessCommand(FourCharsToLong("IWcE"));
  ASSERT_NE(sheet(), nullptr);
  FindControl<QCheckBox>(sheet(), 3)->setChecked(true);
  sheet()->findChild<QPushButton *>("okButton")->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(gPrefs.noticeColourSites, 0);
  ProcessCommand(FourCharsToLong("IWcC")); // at once, without a sheet
  EXPECT_EQ(sheet(), nullptr);
  const CrystalRec &c = *GetWindowCrystal(window);
  EXPECT_EQ(c.sphereCount, c.siteCount); // coloured by coordination: one type per site
  EXPECT_TRUE(IsWindowModified(window));
}

TEST_F(SiteBrowserTest, AClickOnASwatchPicksTheColour) {
  WindowRef window = OpenExample("NaCl.ovtx");
  ASSERT_NE(window, nullptr);
  GetMainWindow(window)->show();
  SiteBrowserView *sidebar = GetGraphicsWindowSiteBrowserView(window);
  SiteBrowserModel *model = sidebar->Model();
  const QModelIndex swatch = model->index(0, model->ColumnOf(kColourColumn), model->index(0, 0));
  const uint32_t item = model->ItemOf(swatch);
  ASSERT_FALSE(IsElementItem(item));
  sidebar->scrollTo(swatch); // a narrow sidebar scrolls its columns
  const QPoint centre = SiteBrowserDelegate::SwatchRect(sidebar->visualRect(swatch)).center();
  FakeHost fake; // answers the colour picker
  fake.pickedColors.push_back(RGBColor{0, 65535, 0});
  QTest::mousePress(sidebar->viewport(), Qt::LeftButton, {}, centre);
  QTest::mouseRelease(sidebar->viewport(), Qt::LeftButton, {}, centre);
  RGBColor now;
  ASSERT_TRUE(SiteBrowserRowColour(GetWindowCrystal(window), item, &now));
  EXPECT_EQ(now, (RGBColor{0, 65535, 0}));
  EXPECT_TRUE(fake.pickedColors.empty());
}

TEST_F(SiteBrowserTest, HelpOpensTheSiteListPage) {
  FakeHost fake; // stands in for the program's host while it lives
  EXPECT_EQ(DoSiteCommand(FourCharsToLong("IWHp")), kNoErr);
  ASSERT_EQ(fake.helpPages, std::vector<std::string>{"Reference/Interface/SiteBrowser.html"});
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(OV_SOURCE_DIR) / "resources/help" / fake.helpPages[0]));
  EXPECT_EQ(DoSiteCommand(FourCharsToLong("Ball")), kEventNotHandledErr);
}

TEST_F(SiteBrowserTest, InfoTipNamesTheCoordination) {
  WindowRef window = OpenExample("NaCl.ovtx");
  ASSERT_NE(window, nullptr);
  CrystalRec &c = *GetWindowCrystal(window);
  int32_t atom = -1;
  for (int32_t k = 0; k < c.atomCount && atom < 0; k++)
    if (c.atoms[size_t(k)].bonds.size() >= 2 && c.atoms[size_t(k)].visible)
      atom = k;
  ASSERT_GE(atom, 0);
  // Every atom of rock salt sits in an octahedron, whether or not its
  // neighbours are all in the plot.
  EXPECT_TRUE(InfoPlainTextForAtom(&c, atom, true).contains("\n\tCoordination:\toctahedral"));
  // A coordination number that the neighbours do not bear out has no word.
  c.sites[c.atoms[size_t(atom)].site].coordination = 7;
  EXPECT_FALSE(InfoPlainTextForAtom(&c, atom, true).contains("Coordination:"));
}

TEST_F(SiteBrowserTest, EquivalentEnvironmentsReadTheSameGeometryWord) {
  // What the Sites window's coordination column shows, by site label.
  auto words = [](WindowRef window) {
    UpdateFloatingWindows();
    SiteBrowserView *browser = GetInfoWindowSiteBrowser();
    std::map<std::string, std::string> out;
    if (!browser || browser->Model()->Window() != window)
      return out;
    SiteBrowserModel *m = browser->Model();
    const CrystalRec &c = *GetWindowCrystal(window);
    for (int r = 0; r < m->rowCount(); r++)
      for (int k = 0; k < m->rowCount(m->index(r, 0)); k++) {
        const QModelIndex site = m->index(k, 0, m->index(r, 0));
        const std::string label = c.sites[size_t(ItemSite(m->ItemOf(site)))].label;
        out[label] = m->data(m->index(k, m->ColumnOf(kCoordinationColumn), m->index(r, 0)), Qt::DisplayRole)
                         .toString()
                         .toStdString();
      }
    return out;
  };
  // Rock salt: Na and Cl each sit in an octahedron of the other, though no
  // Na of the one-cell plot has all six neighbours in it.
  WindowRef nacl = OpenExample("NaCl.ovtx");
  ASSERT_NE(nacl, nullptr);
  ProcessCommand(FourCharsToLong("*Inf"));
  std::map<std::string, std::string> seen = words(nacl);
  EXPECT_EQ(seen["Na1"], "[6] - octahedral");
  EXPECT_EQ(seen["Cl1"], "[6] - octahedral");
  // Benzene with the few hundredths of an Angstrom of noise a relaxation
  // leaves: every carbon is bonded to two carbons and a hydrogen in the
  // ring's plane.
  WindowRef benzene = OpenExample("Benzene.ovtx");
  ASSERT_NE(benzene, nullptr);
  CrystalRec &c = *GetWindowCrystal(benzene);
  const float noise[6] = {0.012f, -0.017f, 0.021f, -0.008f, 0.015f, -0.02f};
  for (int32_t k = 0; k < c.atomCount; k++)
    for (int i = 0; i < 3; i++)
      c.atoms[size_t(k)].cart[i] += noise[(k + 2 * i) % 6];
  ASSERT_TRUE(RunNewBonding(benzene, &c));
  seen = words(benzene);
  for (const char *carbon : {"C1", "C2", "C3", "C4", "C5", "C6"})
    EXPECT_EQ(seen[carbon], "[3] - tri-planar") << carbon;
  EXPECT_EQ(seen["H1"], "[1] - one-sided");
}

TEST_F(SiteBrowserTest, ResetCustomAtomsGivesAMoleculeItsElementColoursBack) {
  WindowRef window = OpenExample("Benzene.ovtx");
  ASSERT_NE(window, nullptr);
  MainWindow *w = GetMainWindow(window);
  auto redPixels = [w] {
    const QImage p = w->GraphPane()->grab().toImage();
    int red = 0;
    for (int y = 0; y < p.height(); y++)
      for (int x = 0; x < p.width(); x++) {
        const QRgb c = p.pixel(x, y);
        red += qRed(c) > 180 && qGreen(c) < 60 && qBlue(c) < 60;
      }
    return red;
  };
  ASSERT_EQ(redPixels(), 0);
  // One atom of the first atom's element, not the first, made red through
  // Atom Colour.
  CrystalRec &c = *GetWindowCrystal(window);
  size_t last = 0;
  for (size_t k = 0; k < c.atoms.size(); k++)
    if (c.spheres[c.atoms[k].atomType].element == c.spheres[c.atoms[0].atomType].element)
      last = k;
  ASSERT_NE(last, 0u);
  c.atoms[last].selected = 1;
  AnswerNextDialog<QColorDialog>([](QColorDialog *dialog) {
    dialog->setCurrentColor(Qt::red);
    dialog->accept();
  });
  ProcessCommand(FourCharsToLong("AtCl"));
  ProcessCommand(FourCharsToLong("SlNo"));
  ASSERT_GT(redPixels(), 20);
  // Reset asks through the colour-by-element notice, then recolours.
  ProcessCommand(FourCharsToLong("CARs"));
  auto *sheet = w->findChild<QDialog *>("DontShowAgainSheet");
  ASSERT_NE(sheet, nullptr);
  sheet->findChild<QPushButton *>("okButton")->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(redPixels(), 0);
}
