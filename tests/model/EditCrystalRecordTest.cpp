// The structure editor's record: filling it from a structure, its text
// rules, the checks of OK and the applies that rebuild the structure.
#include "EditCrystalRecord.h"

#include "BuildPipeline.h"
#include "CrystalFromSites.h"
#include "DumpInput.h"
#include "FakeHost.h"
#include "Preferences.h"
#include "RenderServices.h"
#include "SitePreparation.h"
#include "SpaceGroups.h"
#include "StructureArrays.h"
#include "window/MainWindowData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

ElementCode El(const char *symbol) { return TwoCharsToShort(symbol); }

EditSiteRec SiteWithLabel(const char *label) {
  EditSiteRec s;
  std::strncpy(s.label, label, sizeof(s.label) - 1);
  s.elements[0] = El("Si");
  s.occupancies[0] = 1.0f;
  return s;
}

// ---- Occupancy cells ----------------------------------------------------------------

struct OccupancyCase {
  const char *typed;
  const char *label;
  const char *e0, *e1;
  float o0, o1;
};

TEST(EditorText, OccupancyCellsParseAsTyped) {
  FakeHost host;
  const OccupancyCase cases[] = {
      {"Fe0.5Mg0.5", "X1", "Fe", "Mg", 0.5f, 0.5f},
      {"Fe Mg", "X1", "Fe", "Mg", 0.5f, 0.5f},
      {"Mg0.2Fe0.8", "X1", "Fe", "Mg", 0.8f, 0.2f}, // largest first
      {"fe", "X1", "Fe", "  ", 1.0f, 0.0f},
      {"OH", "X1", "OH", "  ", 1.0f, 0.0f},
      {"", "Ca3", "Ca", "  ", 1.0f, 0.0f}, // element from the label
      {"", "OH2", "OH", "  ", 1.0f, 0.0f},
      {"0.5", "X1", "  ", "  ", 0.0f, 0.0f}, // a number alone names nothing
      {"SI 0.25", "X1", "Si", "  ", 0.25f, 0.0f},
  };
  for (const OccupancyCase &c : cases) {
    EditSiteRec s = SiteWithLabel(c.label);
    ASSERT_TRUE(ParseOccupancyText(c.typed, &s)) << c.typed;
    EXPECT_EQ(s.elements[0], El(c.e0)) << c.typed;
    EXPECT_EQ(s.elements[1], El(c.e1)) << c.typed;
    EXPECT_FLOAT_EQ(s.occupancies[0], c.o0) << c.typed;
    EXPECT_FLOAT_EQ(s.occupancies[1], c.o1) << c.typed;
    EXPECT_EQ(s.elements[2], kBlankElement);
  }
  EXPECT_TRUE(host.alerts.empty());
}

TEST(EditorText, RefusedOccupancyCellsAlertAndKeepTheOldValue) {
  struct Bad {
    const char *typed, *label, *alert;
    bool stored;
  };
  const Bad bad[] = {
      {"", "3a", "Please enter an element symbol!", false},
      {"-Fe", "X1", "Element symbol must begin with a letter A-Z", false},
      {"Fe0.7Mg0.7", "X1", "Total site occupancy should not exceed 1 !", true}, // warned, stored
  };
  for (const Bad &b : bad) {
    FakeHost host;
    EditSiteRec s = SiteWithLabel(b.label);
    EXPECT_EQ(ParseOccupancyText(b.typed, &s), b.stored) << b.typed;
    ASSERT_EQ(host.alerts.size(), 1u) << b.typed;
    EXPECT_EQ(host.alerts[0].message, b.alert);
    EXPECT_EQ(host.alerts[0].type, kAlertCautionAlert);
    if (!b.stored)
      EXPECT_EQ(s.elements[0], El("Si")) << b.typed;
    else
      EXPECT_FLOAT_EQ(s.occupancies[0], 0.7f);
  }
}

TEST(EditorText, OccupancyDisplaysCompactAndEditable) {
  EditSiteRec s = SiteWithLabel("X1");
  EXPECT_EQ(OccupancyStringForSite(s, false), "Si");
  EXPECT_EQ(OccupancyStringForSite(s, true), "Si");
  s.elements[0] = El("Fe");
  s.occupancies[0] = 0.75f;
  s.elements[1] = El("O ");
  s.occupancies[1] = 0.125f;
  EXPECT_EQ(OccupancyStringForSite(s, false), "Fe0.75O0.125");
  EXPECT_EQ(OccupancyStringForSite(s, true), "Fe 0.75 O 0.125 ");
  EXPECT_EQ(SubscriptDigits("Fe0.75"), "Fe₀.₇₅");
}

TEST(EditorText, CoordinatesSnapsAndLabels) {
  EXPECT_FLOAT_EQ(ReadFractionalCoordinate("2.25"), 0.25f);
  EXPECT_EQ(ReadFractionalCoordinate("1/3"), 0.33333334f);
  EXPECT_FLOAT_EQ(ReadFractionalCoordinate("1.7"), 1.7f);
  EXPECT_FLOAT_EQ(ReadFractionalCoordinate("-2.5"), -0.5f);
  // Single precision: 0.3333f * 10000 in double would truncate to 3332.
  EXPECT_EQ(SnapHexagonalCoordinate(0.3333f), 1.0f / 3.0f);
  EXPECT_EQ(SnapHexagonalCoordinate(0.33333f), 1.0f / 3.0f);
  EXPECT_EQ(SnapHexagonalCoordinate(0.6667f), 2.0f / 3.0f);
  EXPECT_EQ(SnapHexagonalCoordinate(0.1666f), 1.0f / 6.0f);
  EXPECT_EQ(SnapHexagonalCoordinate(0.8333f), 5.0f / 6.0f);
  EXPECT_EQ(SnapHexagonalCoordinate(-0.3333f), -0.3333f);
  EXPECT_EQ(SnapHexagonalCoordinate(0.25f), 0.25f);

  EditCrystalRec r;
  for (const char *e : {"Si", "O ", "O ", "Si"}) {
    EditSiteRec s;
    s.elements[0] = El(e);
    r.sites.push_back(s);
  }
  r.siteCount = 4;
  RelabelEditSites(&r);
  EXPECT_STREQ(r.sites[0].label, "Si1");
  EXPECT_STREQ(r.sites[1].label, "O1");
  EXPECT_STREQ(r.sites[2].label, "O2");
  EXPECT_STREQ(r.sites[3].label, "Si2");
}

TEST(EditorText, OriginAndStatusCaptions) {
  EditCrystalRec r;
  EXPECT_EQ(OriginOffsetText(r), "");
  r.originChoice = 2;
  EXPECT_EQ(OriginOffsetText(r), "Origin choice 2");
  r.originShift[0] = 0.5f;
  EXPECT_EQ(OriginOffsetText(r), "Origin Choice 2 plus offset  1/2   0    0 ");
  r.sites.resize(3);
  r.siteCount = 3;
  r.sites[1].selected = true;
  EXPECT_EQ(EditCrystalStatusText(r), "1 of 3 sites selected");
}

// ---- Atom types ------------------------------------------------------------------------

TEST(EditorAtomTypes, DeletingATypeRenumbersLaterOnes) {
  EditCrystalRec r;
  r.spheres = CreateEditCrystalSpheresArray(3);
  r.sphereCount = 3;
  for (int t : {0, 1, 2, 2}) {
    EditSiteRec s;
    s.atomType = t;
    r.sites.push_back(s);
  }
  r.siteCount = 4;
  DestroyEditCrystalSphereIndex(&r, 1);
  EXPECT_EQ(r.sphereCount, 2);
  EXPECT_EQ(r.sites[0].atomType, 0);
  EXPECT_EQ(r.sites[2].atomType, 1);
  DestroyEditCrystalSphereIndex(&r, 5); // out of range: nothing
  EXPECT_EQ(r.sphereCount, 2);
  ASSERT_NE(AppendEditCrystalSphere(&r), nullptr);
  EXPECT_EQ(r.sphereCount, 3);
  EXPECT_TRUE(CreateEditCrystalSpheresArray(0).empty());

  // Removing rows drops the types only they used.
  r.sites[0].selected = true; // type 0, used by no other row
  r.sites[2].selected = true; // type 1, still used by row 3
  EXPECT_EQ(RemoveSelectedEditSites(&r), 2);
  EXPECT_EQ(r.siteCount, 2);
  EXPECT_EQ(r.sphereCount, 2);
  EXPECT_EQ(r.sites[0].atomType, 0); // was 1
  EXPECT_EQ(r.sites[1].atomType, 0);
}

TEST(EditorAtomTypes, UnresolvedSitesFindOrMakeATypeFromTheElementTable) {
  gPrefs = gFactoryPrefs;
  EditCrystalRec r;
  EditSiteRec si;
  si.elements[0] = El("Si");
  si.atomType = 0;
  EditSiteRec xx = si;
  xx.elements[0] = El("Xx");
  r.sites = {si, si, xx};
  r.siteCount = 3;
  ResolveEditSiteAtomTypes(&r, gPrefs);
  ASSERT_EQ(r.sphereCount, 2);
  EXPECT_EQ(r.sites[0].atomType, 0);
  EXPECT_EQ(r.sites[1].atomType, 0);
  EXPECT_EQ(r.sites[2].atomType, 1);
  const ElementData *row = nullptr;
  for (const ElementData &d : gPrefs.elementData)
    if (d.element == El("Si") && !row)
      row = &d;
  ASSERT_NE(row, nullptr);
  EXPECT_FLOAT_EQ(r.spheres[0].radius, row->radius);
  EXPECT_EQ(r.spheres[0].colour, row->colour);
  EXPECT_FLOAT_EQ(r.spheres[1].radius, 1.0f);
  EXPECT_EQ(r.spheres[1].colour, (RGBColor{13107, 13107, 13107}));
}

// ---- The OK checks ---------------------------------------------------------------------

EditCrystalRec CheckedRecord(const char *group) {
  EditCrystalRec r;
  r.spaceGroup = group;
  EditSiteRec s = SiteWithLabel("Si1");
  s.x = 0.3333f;
  s.y = 0.33333f;
  s.z = 0.6667f;
  r.sites = {s};
  r.siteCount = 1;
  return r;
}

TEST(EditorChecks, HexagonalGroupsSnapAndOthersDoNot) {
  FakeHost host;
  EditCrystalRec hex = CheckedRecord("P 63 m c");
  hex.crystalSystem = EditCrystalSystem(hex);
  float cell[6] = {3.25f, 3.25f, 5.2f, 90, 90, 120};
  ASSERT_EQ(CheckEditCrystalForApply(&hex, "P 63 m c", cell).result, EditCheckResult::kAccepted);
  EXPECT_EQ(hex.sites[0].x, 1.0f / 3.0f);
  EXPECT_EQ(hex.sites[0].y, 1.0f / 3.0f);
  EXPECT_EQ(hex.sites[0].z, 2.0f / 3.0f);

  EditCrystalRec ortho = CheckedRecord("P m m m");
  float cell2[6] = {3, 4, 5, 90, 90, 90};
  ASSERT_EQ(CheckEditCrystalForApply(&ortho, "P m m m", cell2).result, EditCheckResult::kAccepted);
  EXPECT_EQ(ortho.sites[0].x, 0.3333f);
  EXPECT_EQ(ortho.sites[0].y, 0.33333f);
}

TEST(EditorChecks, RhombohedralAlphaIsCappedAndConstraintsApply) {
  FakeHost host;
  EditCrystalRec r = CheckedRecord("R -3 m");
  r.crystalSystem = 6;
  float cell[6] = {5, 5, 5, 125, 125, 125};
  ASSERT_EQ(CheckEditCrystalForApply(&r, "R -3 m", cell).result, EditCheckResult::kAccepted);
  EXPECT_FLOAT_EQ(r.alpha, 119.999f);
  EXPECT_FLOAT_EQ(r.beta, 119.999f);
  EXPECT_FLOAT_EQ(r.gamma, 119.999f);

  EditCrystalRec cubic = CheckedRecord("F m -3 m");
  float cell2[6] = {5.64f, 7, 8, 80, 90, 100};
  ASSERT_EQ(CheckEditCrystalForApply(&cubic, "F m -3 m", cell2).result, EditCheckResult::kAccepted);
  EXPECT_FLOAT_EQ(cubic.b, 5.64f);
  EXPECT_FLOAT_EQ(cubic.c, 5.64f);
  EXPECT_FLOAT_EQ(cubic.alpha, 90.0f);
  EXPECT_FLOAT_EQ(cubic.gamma, 90.0f);
}

TEST(EditorChecks, RefusedInputsTable) {
  struct Bad {
    const char *group;
    float cell[6];
    int type;   // displacement type of the site
    float uiso; // its Uiso
    EditCheckResult result;
    int badCell;       // parameter to correct
    const char *alert; // empty: the sheet shows the cell alert itself
  };
  const Bad bad[] = {
      {"Q 99",
       {5, 5, 5, 90, 90, 90},
       0,
       0.1f,
       EditCheckResult::kBadSymbol,
       -1,
       "Please enter a space group symbol, or define general equivalent positions."},
      {"",
       {5, 5, 5, 90, 90, 90},
       0,
       0.1f,
       EditCheckResult::kBadSymbol,
       -1,
       "Please enter a space group symbol, or define general equivalent positions."},
      {"P 1", {5, 0, 5, 90, 90, 90}, 0, 0.1f, EditCheckResult::kBadCell, 1, ""},
      {"P 1", {5, 5, 5, 90, 90, 0.00001f}, 0, 0.1f, EditCheckResult::kBadCell, 5, ""},
      {"P 1", {5, 5, 5, 170, 170, 170}, 0, 0.1f, EditCheckResult::kAnglesMakeNoCell, 3, ""}, // no metric
      {"P 1",
       {5, 5, 5, 90, 90, 90},
       1,
       0.0f,
       EditCheckResult::kBadDisplacement,
       -1,
       "Invalid displacement parameters for site Si1"},
      {"P 1",
       {5, 5, 5, 90, 90, 90},
       1,
       100.0f,
       EditCheckResult::kBadDisplacement,
       -1,
       "Invalid displacement parameters for site Si1"},
      {"P 1",
       {5, 5, 5, 90, 90, 90},
       2,
       0.1f,
       EditCheckResult::kBadDisplacement,
       -1,
       "Invalid displacement parameters for site Si1"},
  };
  for (const Bad &b : bad) {
    FakeHost host;
    EditCrystalRec r = CheckedRecord(b.group);
    r.sites[0].displacementType = b.type;
    r.sites[0].Uiso = b.uiso; // a type-2 site keeps its zero tensor
    float cell[6];
    std::copy(b.cell, b.cell + 6, cell);
    const EditCheckOutcome out = CheckEditCrystalForApply(&r, b.group, cell);
    EXPECT_EQ(out.result, b.result) << b.group << " " << b.cell[1];
    EXPECT_EQ(out.badCellParameter, b.badCell);
    if (*b.alert) {
      ASSERT_EQ(host.alerts.size(), 1u);
      EXPECT_EQ(host.alerts[0].message, b.alert);
    } else {
      EXPECT_TRUE(host.alerts.empty());
    }
  }
  // The two displacement explanations.
  FakeHost host;
  EditCrystalRec r = CheckedRecord("P 1");
  r.sites[0].displacementType = 1;
  r.sites[0].Uiso = -1;
  float cell[6] = {5, 5, 5, 90, 90, 90};
  CheckEditCrystalForApply(&r, "P 1", cell);
  r.sites[0].displacementType = 3;
  CheckEditCrystalForApply(&r, "P 1", cell);
  ASSERT_EQ(host.alerts.size(), 2u);
  EXPECT_EQ(host.alerts[0].explanation,
            "Please edit the Uiso (isotropic) value, or choose a different parameter type from the popup menu");
  EXPECT_EQ(host.alerts[1].explanation, "(Please edit the Uij (anisotropic) fields, or choose a different parameter "
                                        "type from the popup menu.)");
}

// ---- Applying ------------------------------------------------------------------------

class EditorApply : public ::testing::Test {
protected:
  void SetUp() override {
    gPrefs = gFactoryPrefs;
    ASSERT_TRUE(InitMainWindowData(&window));
    window.mainData->fileOpen = 1;
    host.windows.push_back(&window);
    host.graphPane = Rect{0, 0, 300, 400};
  }
  void TearDown() override {
    EXPECT_EQ(CheckCrystalInvariants(C()), "");
    DestroyMainWindowData(&window);
    gPrefs = gFactoryPrefs;
  }
  CrystalRec &C() { return *GetWindowCrystal(&window); }

  // Opens the editor on the window's structure and presses OK unchanged.
  bool EditUnchanged(EditCrystalRec &r) {
    if (FillEditCrystalRecFromCrystal(&C(), &r) != 0)
      return false;
    ResolveEditSiteAtomTypes(&r, gPrefs);
    if (r.isMolecule) {
      CheckEditSiteDisplacements(&r);
      return DoEditMolecule(&window, &r);
    }
    float cell[6] = {r.a, r.b, r.c, r.alpha, r.beta, r.gamma};
    if (CheckEditCrystalForApply(&r, r.spaceGroup, cell).result != EditCheckResult::kAccepted)
      return false;
    return DoEditCrystal(&window, &r);
  }

  FakeHost host;
  OVWindowRecord window;
};

struct FileStructure {
  std::string title, error, group;
  float cell[6] = {};
  int origin = 0;
  std::vector<SiteIn> sites;
  std::vector<std::string> labels, elements;
};

TEST_F(EditorApply, OKUnchangedGivesBackEachCrystalOfTheTestData) {
  int checked = 0;
  for (const char *name : {"quartz.txt", "calcite.txt", "rutile.txt", "nacl.txt", "pyrope.txt", "diamond.txt"}) {
    auto structures = dumpinput::ReadStructures<FileStructure>(
        std::filesystem::path(OV_TEST_DATA) / "structures" / name, "stray",
        [](FileStructure &s, const std::string &key, std::istringstream &words, const std::string &, int) {
          if (key == "cell")
            dumpinput::ReadNumbers(words, s.cell);
          else if (key == "spacegroup")
            std::getline(words >> std::ws, s.group);
          else if (key == "origin")
            words >> s.origin;
          else if (key == "site") {
            dumpinput::Site site;
            if (dumpinput::ReadSite(words, site)) {
              s.labels.push_back(site.label);
              s.elements.push_back(site.element);
              s.sites.push_back({nullptr, nullptr, site.xyz[0], site.xyz[1], site.xyz[2]});
            }
          }
        });
    for (FileStructure &f : structures) {
      if (!f.error.empty() || f.sites.empty())
        continue;
      for (size_t i = 0; i < f.sites.size(); i++) {
        f.sites[i].label = f.labels[i].c_str();
        f.sites[i].element = f.elements[i].c_str();
      }
      FillCrystalFromSites(C(), f.cell, f.group.c_str(), f.sites);
      C().originChoice = static_cast<uint8_t>(f.origin);
      BondSpec &spec = C().bondSpecs[0];
      spec.elementA = spec.elementB = C().sites[0].elements[0];
      spec.maxLength = 3.0f;
      C().bondSpecCount = 1;
      SortAUByElement(&C()); // as the readers leave the sites
      ASSERT_TRUE(RunNewCrystal(&window, true, true, true)) << f.title;
      const CrystalRec before = C();
      EditCrystalRec r;
      ASSERT_TRUE(EditUnchanged(r)) << f.title;
      const CrystalRec &after = C();
      EXPECT_EQ(std::memcmp(&before.a, &after.a, 6 * sizeof(float)), 0) << f.title;
      EXPECT_STREQ(before.spaceGroup, after.spaceGroup) << f.title;
      EXPECT_EQ(before.originChoice, after.originChoice);
      EXPECT_EQ(before.latticeLetter, after.latticeLetter);
      ASSERT_EQ(before.siteCount, after.siteCount) << f.title;
      for (int32_t s = 0; s < after.siteCount; s++) {
        const AsymmetricUnitRecord &x = before.sites[static_cast<size_t>(s)];
        const AsymmetricUnitRecord &y = after.sites[static_cast<size_t>(s)];
        EXPECT_STREQ(x.label, y.label);
        EXPECT_EQ(x.elements[0], y.elements[0]);
        for (int k = 0; k < 3; k++)
          EXPECT_NEAR(x.xyz[k], y.xyz[k], 1e-4f) << f.title << " " << x.label;
      }
      EXPECT_EQ(before.bondSpecCount, after.bondSpecCount);
      EXPECT_EQ(before.atomCount, after.atomCount) << f.title;
      EXPECT_EQ(std::memcmp(before.orientationMatrix, after.orientationMatrix, sizeof(before.orientationMatrix)), 0)
          << f.title;
      EXPECT_EQ(std::memcmp(before.plotRange, after.plotRange, sizeof(before.plotRange)), 0);
      EXPECT_TRUE(IsWindowFileOpen(&window));
      checked++;
    }
  }
  EXPECT_GE(checked, 6);
}

TEST_F(EditorApply, AChangedCellPassesTheViewFlagAndAnUnchangedOneKeepsTheView) {
  const float cell[6] = {4.0f, 4.0f, 4.0f, 90, 90, 90};
  FillCrystalFromSites(C(), cell, "P m -3 m", {{"Si1", "Si", 0, 0, 0}});
  ASSERT_TRUE(RunNewCrystal(&window, true, true, true));
  // A turned view that the view direction alone would not give.
  const float turned[9] = {0.0f, 4.0f, 0.0f, -4.0f, 0.0f, 0.0f, 0.0f, 0.0f, 4.0f};
  std::copy(turned, turned + 9, C().orientationMatrix);

  EditCrystalRec same;
  ASSERT_TRUE(EditUnchanged(same));
  EXPECT_EQ(std::memcmp(C().orientationMatrix, turned, sizeof(turned)), 0);

  ASSERT_EQ(FillEditCrystalRecFromCrystal(&C(), &same), 0);
  same.a = std::nextafter(4.0f, 5.0f); // the last digit
  same.constrainCell = 0;
  ResolveEditSiteAtomTypes(&same, gPrefs);
  ASSERT_TRUE(DoEditCrystal(&window, &same));
  EXPECT_NE(std::memcmp(C().orientationMatrix, turned, sizeof(turned)), 0);
}

TEST_F(EditorApply, BondSpecsNeedBothElementsFirstOnASiteAndEllipsoidsNeedDisplacements) {
  const float cell[6] = {5, 5, 5, 90, 90, 90};
  FillCrystalFromSites(C(), cell, "P 1", {{"Si1", "Si", 0, 0, 0}, {"O1", "O", 0.5f, 0, 0}});
  C().sites[1].elements[1] = El("Mg"); // Mg only as a second element
  C().sites[1].occupancies[0] = 0.5f;
  C().sites[1].occupancies[1] = 0.5f;
  const char *pairs[3][2] = {{"Si", "O "}, {"Si", "Mg"}, {"O ", "O "}};
  for (int i = 0; i < 3; i++) {
    C().bondSpecs[static_cast<size_t>(i)].elementA = El(pairs[i][0]);
    C().bondSpecs[static_cast<size_t>(i)].elementB = El(pairs[i][1]);
    C().bondSpecs[static_cast<size_t>(i)].maxLength = 3.0f;
  }
  C().bondSpecCount = 3;
  ASSERT_TRUE(RunNewCrystal(&window, true, true, true));
  C().modelType = kThermalEllipsoidModel;
  EditCrystalRec r;
  ASSERT_TRUE(EditUnchanged(r));
  ASSERT_EQ(C().bondSpecCount, 2);
  EXPECT_EQ(C().bondSpecs[0].elementB, El("O "));
  EXPECT_EQ(C().bondSpecs[1].elementA, El("O "));
  EXPECT_EQ(C().modelType, kBallAndStickModel);
  EXPECT_EQ(C().ellipsoidData, 0);
}

TEST_F(EditorApply, RefusedRecordsLeaveTheStructureAlone) {
  const float cell[6] = {5, 5, 5, 90, 90, 90};
  FillCrystalFromSites(C(), cell, "P 1", {{"Si1", "Si", 0, 0, 0}});
  ASSERT_TRUE(RunNewCrystal(&window, true, true, true));
  EditCrystalRec r;
  ASSERT_EQ(FillEditCrystalRecFromCrystal(&C(), &r), 0);
  r.sites[0].atomType = 7; // never resolved
  EXPECT_FALSE(DoEditCrystal(&window, &r));
  EXPECT_EQ(C().siteCount, 1);
  EXPECT_GT(C().atomCount, 0);

  // A molecule whose sites and atoms do not pair up cannot be edited.
  C().molecule = 1;
  C().atomCount = 2;
  C().atoms.resize(2);
  EXPECT_NE(FillEditCrystalRecFromCrystal(&C(), &r), 0);
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Error editing molecule:");
  EXPECT_EQ(host.alerts[0].explanation, "Number of site types does not equal number of atoms");
  C().molecule = 0;
  RunNewCrystal(&window, true, true, true);
}

TEST_F(EditorApply, AMoleculeRoundTripsThroughItsCartesianSites) {
  EditCrystalRec r;
  InitBlankEditCrystalRec(&r, true, true);
  const char *elements[3] = {"O ", "H ", "H "};
  const float xyz[3][3] = {{0, 0, 0}, {0.96f, 0, 0}, {-0.24f, 0.93f, 0}};
  for (int i = 0; i < 3; i++) {
    EditSiteRec s;
    s.elements[0] = El(elements[i]);
    s.occupancies[0] = 1;
    s.x = xyz[i][0], s.y = xyz[i][1], s.z = xyz[i][2];
    s.atomType = 0;
    r.sites.push_back(s);
  }
  r.siteCount = 3;
  RelabelEditSites(&r);
  ResolveEditSiteAtomTypes(&r, gPrefs);
  ASSERT_TRUE(DoEditMolecule(&window, &r));
  ASSERT_EQ(C().molecule, 1);
  ASSERT_EQ(C().siteCount, 3);
  ASSERT_EQ(C().atomCount, 3);

  EditCrystalRec again;
  ASSERT_EQ(FillEditCrystalRecFromCrystal(&C(), &again), 0);
  ASSERT_EQ(again.siteCount, 3);
  // Sorted by element: H1, H2, O1; Cartesian positions kept relative.
  EXPECT_STREQ(again.sites[2].label, "O1");
  const float dx = again.sites[0].x - again.sites[2].x, dy = again.sites[0].y - again.sites[2].y,
              dz = again.sites[0].z - again.sites[2].z;
  EXPECT_NEAR(std::sqrt(dx * dx + dy * dy + dz * dz), 0.96f, 1e-3f);
}

} // namespace

namespace {

// Wurtzite typed into the editor with its hexagonal positions to four places
// and built; writes "label element x y z" for every atom of the first cell.
// The oracle (tests/oracle/editor_oracle.py) compares them with gemmi's cell
// contents of the exact positions.
TEST_F(EditorApply, DumpWurtziteTypedToFourPlaces) {
  const char *outPath = std::getenv("OV_EDITOR_DUMP_OUT");
  if (!outPath)
    GTEST_SKIP() << "set OV_EDITOR_DUMP_OUT to write the wurtzite cell built by the editor";
  EditCrystalRec r;
  InitBlankEditCrystalRec(&r, false, true);
  const char *typed[2][4] = {{"Zn", "0.3333", "0.6667", "0"}, {"O", "0.3333", "0.6667", "0.382"}};
  for (const auto &row : typed) {
    EditSiteRec s;
    s.atomType = 0;
    std::snprintf(s.label, sizeof s.label, "%s1", row[0]);
    ASSERT_TRUE(ParseOccupancyText(row[0], &s));
    s.x = ReadFractionalCoordinate(row[1]);
    s.y = ReadFractionalCoordinate(row[2]);
    s.z = ReadFractionalCoordinate(row[3]);
    r.sites.push_back(s);
  }
  r.siteCount = 2;
  r.spaceGroup = "P 63 m c";
  r.crystalSystem = EditCrystalSystem(r);
  ResolveEditSiteAtomTypes(&r, gPrefs);
  float cell[6] = {3.25f, 3.25f, 5.207f, 90, 90, 120};
  ASSERT_EQ(CheckEditCrystalForApply(&r, "P 63 m c", cell).result, EditCheckResult::kAccepted);
  ASSERT_TRUE(DoEditCrystal(&window, &r));
  FILE *out = std::fopen(outPath, "w");
  ASSERT_NE(out, nullptr);
  const CrystalRec &c = C();
  for (const AtomRecord &a : c.atoms) {
    if (a.xyz[0] < 0 || a.xyz[0] >= 1 || a.xyz[1] < 0 || a.xyz[1] >= 1 || a.xyz[2] < 0 || a.xyz[2] >= 1)
      continue;
    const AsymmetricUnitRecord &s = c.sites[a.site];
    char el[3] = {};
    ShortToTwoChars(s.elements[0], el);
    std::fprintf(out, "%s %s %.9g %.9g %.9g\n", s.label, el, a.xyz[0], a.xyz[1], a.xyz[2]);
  }
  std::fclose(out);
}

} // namespace
