#include "Preferences.h"
#include "StructureArrays.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

constexpr float kCriticalValueTolerance = 1e-4f;

class PreferencesTest : public ::testing::Test {
protected:
  void TearDown() override {
    gPrefs = gFactoryPrefs;
    InitOVGlobals();
  }
};

const ElementData *FindFactoryElement(const char *symbol) {
  ElementCode code = TwoCharsToShort(symbol);
  for (const ElementData &row : gFactoryPrefs.elementData)
    if (row.element == code)
      return &row;
  return nullptr;
}

float CriticalValueFor(float probability) {
  PrefsRecord prefs = gFactoryPrefs;
  prefs.ellipsoidProbability = probability;
  CrystalRec c;
  CopyPrefsToCrystal(&prefs, &c);
  return c.ellipsoidCriticalValue;
}

} // namespace

TEST(FactoryElementTable, HoldsNinetyTwoElementsAlphabeticallyThenBlankRows) {
  const auto &table = gFactoryPrefs.elementData;
  for (int k = 1; k < kFactoryElementCount; k++) {
    char a[3] = {}, b[3] = {};
    ShortToTwoChars(table[static_cast<size_t>(k - 1)].element, a);
    ShortToTwoChars(table[static_cast<size_t>(k)].element, b);
    EXPECT_LT(std::string(a), std::string(b)) << k;
    EXPECT_GT(table[static_cast<size_t>(k)].radius, 0.0f) << b;
  }
  for (size_t k = kFactoryElementCount; k < table.size(); k++)
    EXPECT_EQ(table[k].element, kBlankElement) << k;
  // Every element from H to U is there once.
  EXPECT_EQ(std::count_if(table.begin(), table.end(), [](const ElementData &r) { return r.element != kBlankElement; }),
            92);
  ASSERT_NE(FindFactoryElement("U"), nullptr);
  EXPECT_EQ(FindFactoryElement("Np"), nullptr);
}

TEST(FactoryElementTable, SpotValuesFromTheCitedSources) {
  // Shannon (1976): O2- VI 1.40, Si4+ VI 0.40, Fe2+ VI high spin 0.78.
  EXPECT_FLOAT_EQ(FindFactoryElement("O")->radius, 1.40f);
  EXPECT_FLOAT_EQ(FindFactoryElement("Si")->radius, 0.40f);
  EXPECT_FLOAT_EQ(FindFactoryElement("Fe")->radius, 0.78f);
  // Cordero et al. (2008) covalent radii where an ionic one makes no sense.
  EXPECT_FLOAT_EQ(FindFactoryElement("C")->radius, 0.76f);
  EXPECT_FLOAT_EQ(FindFactoryElement("H")->radius, 0.31f);
  // Colours: 8-bit channels scaled by 257.
  EXPECT_EQ(FindFactoryElement("O")->colour, (RGBColor{65535, 13 * 257, 13 * 257}));
  EXPECT_EQ(FindFactoryElement("H")->colour, kRGBWhite);
  const std::string notes(gFactoryPrefs.elementNotes);
  EXPECT_NE(notes.find("Shannon"), std::string::npos);
  EXPECT_LT(notes.size(), static_cast<size_t>(kElementNotesSize));
}

TEST_F(PreferencesTest, CopyingPreferencesResetsTheModelAndDerivesColourAndCriticalValue) {
  CrystalRec c;
  c.modelType = 2;
  c.surfaceOverlay = 1;
  PrefsRecord prefs = gFactoryPrefs;
  prefs.backgroundColor = {32767, 32767, 32767}; // sum 98301: dark
  prefs.stereoAngle = 6.0f;
  prefs.planeColor = {1, 2, 3};
  CopyPrefsToCrystal(&prefs, &c);
  EXPECT_EQ(c.modelType, 1);
  EXPECT_EQ(c.surfaceOverlay, 0);
  EXPECT_EQ(c.hiliteColor, kRGBWhite);
  EXPECT_FLOAT_EQ(c.stereoAngle, 6.0f);
  EXPECT_EQ(c.plane.colour, (RGBColor{1, 2, 3}));
  EXPECT_NEAR(c.ellipsoidCriticalValue, 1.5382f, kCriticalValueTolerance);

  prefs.backgroundColor = {32767, 32767, 32768}; // sum 98302: light
  CopyPrefsToCrystal(&prefs, &c);
  EXPECT_EQ(c.hiliteColor, kRGBBlack);

  CopyPrefsToCrystal(nullptr, &c); // absent records: nothing
  CopyPrefsToCrystal(&prefs, nullptr);
}

TEST_F(PreferencesTest, CriticalValuesComeFromTheNearestTableRow) {
  EXPECT_NEAR(CriticalValueFor(0.01f), 0.3389f, kCriticalValueTolerance);
  EXPECT_NEAR(CriticalValueFor(0.012f), 0.3389f, kCriticalValueTolerance);
  EXPECT_NEAR(CriticalValueFor(0.10f), 0.7644f, kCriticalValueTolerance);
  EXPECT_NEAR(CriticalValueFor(0.75f), 2.0269f, kCriticalValueTolerance);
  EXPECT_NEAR(CriticalValueFor(0.99f), 3.3682f, kCriticalValueTolerance);
  EXPECT_NEAR(CriticalValueFor(0.999f), 4.0331f, kCriticalValueTolerance);
  EXPECT_NEAR(CriticalValueFor(0.9999f), 4.5943f, kCriticalValueTolerance);
  EXPECT_NEAR(CriticalValueFor(0.99999f), 5.0894f, kCriticalValueTolerance);
  EXPECT_NEAR(CriticalValueFor(2.0f), 5.9503f, kCriticalValueTolerance); // clamped to 1
  EXPECT_NEAR(CriticalValueFor(-1.0f), 0.3389f, kCriticalValueTolerance);
}

TEST_F(PreferencesTest, SavingSettingsAsPreferencesLeavesTheStructuresOwnFieldsBehind) {
  PrefsRecord prefs = gFactoryPrefs;
  prefs.stickJointFactor = 1.3f;
  prefs.backgroundPictureMode = 3;
  CrystalRec c;
  InitBlankCrystalRec(&c);
  c.stickJointFactor = 2.0f;
  c.backgroundPictureMode = 2;
  c.modelType = 4;
  c.unitCellLineWidth = 2.7f;
  c.labelFont = MakeStr255("Helvetica");
  c.kD[2] = 0.33f;
  c.showGrid = 1;
  CopyCrystalPrefs(&c, &prefs);
  EXPECT_FLOAT_EQ(prefs.stickJointFactor, 1.3f);
  EXPECT_EQ(prefs.backgroundPictureMode, 3);
  EXPECT_EQ(prefs.unitCellLineWidth, 2);
  EXPECT_EQ(prefs.labelFont.view(), "Helvetica");
  EXPECT_FLOAT_EQ(prefs.kD[2], 0.33f);
  EXPECT_EQ(prefs.showGrid, 1);

  CrystalRec back;
  CopyPrefsToCrystal(&prefs, &back);
  EXPECT_FLOAT_EQ(back.stickJointFactor, 1.3f);
  EXPECT_EQ(back.backgroundPictureMode, 3);
  EXPECT_FLOAT_EQ(back.unitCellLineWidth, 2.0f);
  EXPECT_EQ(back.modelType, 1);

  // A width the preferences field cannot hold is kept at its limit.
  c.unitCellLineWidth = 1e9f;
  CopyCrystalPrefs(&c, &prefs);
  EXPECT_EQ(prefs.unitCellLineWidth, 65535);
  c.unitCellLineWidth = -4.0f;
  CopyCrystalPrefs(&c, &prefs);
  EXPECT_EQ(prefs.unitCellLineWidth, 0);
}

TEST_F(PreferencesTest, TemplatesKeepTheStartUpDefaultsWhenThePreferencesChange) {
  gPrefs.defaultAtomStyle = 3;
  gPrefs.defaultEllipsoidStyle = 7;
  gPrefs.defaultIsoValue = 0.05f;
  gPrefs.vectorColor = {1, 2, 3};
  gPrefs.defaultBondStyle = 9;
  InitOVGlobals();
  gPrefs.defaultAtomStyle = 5; // changed later in the run

  auto sites = CreateAsymmetricUnit(1);
  ASSERT_TRUE(sites);
  EXPECT_EQ((*sites)[0].atomStyle, 3u);
  EXPECT_EQ((*sites)[0].ellipsoidStyle, 7u);
  EXPECT_FLOAT_EQ((*sites)[0].isoValue, 0.05f);
  EXPECT_EQ((*sites)[0].elements[2], kBlankElement);
  EXPECT_FLOAT_EQ((*sites)[0].tensor[4], 1.0f);
  EXPECT_EQ((*sites)[0].firstAtom, 1);

  CrystalRec c;
  EXPECT_EQ(AppendBlankSphere(&c)->style, 3u);
  EXPECT_FLOAT_EQ(c.spheres[0].radius, 1.0f);
  EXPECT_EQ(c.spheres[0].colour, (RGBColor{40000, 40000, 40000}));
  EXPECT_EQ(AppendBlankVector(&c)->colour, (RGBColor{1, 2, 3}));
  EXPECT_FLOAT_EQ(c.vectors[0].uvw[2], 1.0f);
  EXPECT_EQ(AppendBlankCustomBondSpec(&c)->style, 9);

  // The annotation template is fixed, whatever the preferences hold.
  TextBoxRecord *box = AppendBlankTextBox(&c);
  EXPECT_EQ(box->kind, kAnnotationTextBox);
  EXPECT_EQ(box->visible, 1);
  EXPECT_EQ(box->fontSize, 12);
  EXPECT_EQ(box->justification, 2);
  EXPECT_EQ(box->spare100, 100);
  EXPECT_EQ(box->spareOne, 1);
  EXPECT_FLOAT_EQ(box->spareScale, 1.0f);
  EXPECT_EQ(box->anchor, 9);
  EXPECT_EQ(box->arrowHeads, 0);
  EXPECT_EQ(box->backColor, kRGBWhite);

  AtomRecord atom;
  atom.selected = 1;
  atom.bonds = {4};
  atom.bondCount = 1;
  ClearAtomRecord(&atom);
  EXPECT_EQ(atom.visible, 1);
  EXPECT_EQ(atom.selected, 0);
  EXPECT_TRUE(atom.bonds.empty());
}

TEST_F(PreferencesTest, NewStructuresTakeTheCurrentPreferences) {
  gPrefs.perspective = 1;
  gPrefs.ellipsoidProbability = 0.9f;
  CrystalRec c;
  InitBlankCrystalRec(&c);
  EXPECT_EQ(c.perspective, 1);
  EXPECT_NEAR(c.ellipsoidCriticalValue, 2.5003f, kCriticalValueTolerance);
  // The factory display settings of the record and of the preferences agree.
  CrystalRec factory;
  CopyPrefsToCrystal(&gFactoryPrefs, &factory);
  CrystalRec defaults;
  EXPECT_EQ(std::memcmp(factory.kD, defaults.kD, sizeof factory.kD), 0);
  EXPECT_FLOAT_EQ(factory.lightDirection[2], 0.7071f);
  EXPECT_EQ(factory.defaultPolyMode, 15u);
  EXPECT_EQ(factory.labelFont.view(), "Verdana");
  EXPECT_EQ(factory.axisColors[1], (RGBColor{0, 34952, 0}));
  EXPECT_FLOAT_EQ(factory.lowerPlateauZ, 0.8f);
  EXPECT_EQ(factory.hiliteColor, kRGBWhite);
}
