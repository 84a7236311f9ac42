#include "StructureRecord.h"
#include "DerivedLayers.h"
#include "FakeHost.h"
#include "Preferences.h"
#include "StructureArrays.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

// Restores the program-wide preferences and templates after each test.
class StructureRecordTest : public ::testing::Test {
protected:
  void TearDown() override {
    gPrefs = gFactoryPrefs;
    InitOVGlobals();
  }
};

ElementCode El(const char *symbol) { return TwoCharsToShort(symbol); }

} // namespace

TEST_F(StructureRecordTest, BlankRecordIsAnEmptyP1CrystalWithThePreferencesDisplaySettings) {
  gPrefs.backgroundColor = {60000, 60000, 60000};
  gPrefs.labelSize = 14.0f;
  gPrefs.unitCellLineWidth = 3;
  std::unique_ptr<CrystalRec, void (*)(CrystalRec *)> c(CreateCrystalData(), DestroyCrystalData);
  ASSERT_TRUE(c);
  EXPECT_STREQ(c->spaceGroup, "P 1");
  EXPECT_EQ(c->latticeLetter, 'P');
  EXPECT_EQ(c->cardCount, 0);
  EXPECT_FLOAT_EQ(c->a, 10.0f);
  EXPECT_FLOAT_EQ(c->gamma, 90.0f);
  EXPECT_FLOAT_EQ(c->viewDirection[2], 1.0f);
  EXPECT_FLOAT_EQ(c->plotRange[1], 1.0f);
  EXPECT_FLOAT_EQ(c->plotScale, 100.0f);
  EXPECT_FLOAT_EQ(c->plane.hkl[0], 1.0f);
  EXPECT_EQ(c->modelType, 1);
  EXPECT_EQ(c->siteCount + c->atomCount + c->sphereCount + c->bondSpecCount + c->vectorCount, 0);
  EXPECT_EQ(GetCrystalAtomsArray(c.get()), nullptr);
  // Display settings come from the preferences, with the derived colour.
  EXPECT_FLOAT_EQ(c->labelSize, 14.0f);
  EXPECT_FLOAT_EQ(c->unitCellLineWidth, 3.0f);
  EXPECT_EQ(c->hiliteColor, kRGBBlack);
}

TEST_F(StructureRecordTest, ClearingEmptiesEveryArrayAndDropsTheBackgroundPicture) {
  CrystalRec c;
  InitBlankCrystalRec(&c);
  c.sites = *CreateAsymmetricUnit(2);
  c.siteCount = 2;
  c.atoms = *CreateAtomsArray(3, 0, 0, 0);
  c.atomCount = 3;
  AppendBlankSphere(&c);
  AppendBlankVector(&c);
  AppendBlankTextBox(&c);
  c.molecule = 1;
  std::strcpy(c.spaceGroup, "F d -3 m");
  auto picture = std::make_shared<int>(7);
  std::weak_ptr<int> watch = picture;
  c.backgroundPicture = "/tmp/back.png";
  c.backgroundPictureImage = picture;
  picture.reset();
  gOVPrinting = 1;
  gTrackBallRotn = 1;

  ClearCrystalRec(&c);
  EXPECT_TRUE(c.sites.empty() && c.atoms.empty() && c.spheres.empty() && c.vectors.empty() && c.textBoxes.empty());
  EXPECT_EQ(c.siteCount + c.atomCount + c.sphereCount + c.vectorCount + c.textBoxCount, 0);
  EXPECT_EQ(c.molecule, 0);
  EXPECT_STREQ(c.spaceGroup, "P 1");
  EXPECT_TRUE(c.backgroundPicture.empty());
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(gOVPrinting, 0);
  EXPECT_EQ(gTrackBallRotn, 0);
}

TEST_F(StructureRecordTest, PurgingBondSpecsRemovesEveryPairNamingAGoneElementAndKeepsOrder) {
  CrystalRec c;
  for (const char *e : {"Si", "O "}) {
    SphereRecord *s = AppendBlankSphere(&c);
    ASSERT_NE(s, nullptr);
    c.spheres.back().element = El(e);
  }
  const char *pairs[][2] = {{"Si", "O "}, {"Al", "O "}, {"O ", "O "}, {"O ", "Al"}, {"Si", "Si"}};
  for (auto &p : pairs) {
    BondSpec &b = c.bondSpecs[static_cast<size_t>(c.bondSpecCount++)];
    b.elementA = El(p[0]);
    b.elementB = El(p[1]);
  }
  PurgeUnusedBondSpecs(&c);
  ASSERT_EQ(c.bondSpecCount, 3);
  EXPECT_EQ(c.bondSpecs[0].elementA, El("Si"));
  EXPECT_EQ(c.bondSpecs[1].elementA, El("O "));
  EXPECT_EQ(c.bondSpecs[2].elementB, El("Si"));
  EXPECT_EQ(c.bondSpecs[3].elementA, 0); // the freed slots are cleared

  // Without atom types nothing is purged.
  CrystalRec empty;
  empty.bondSpecCount = 1;
  empty.bondSpecs[0].elementA = El("Al");
  PurgeUnusedBondSpecs(&empty);
  EXPECT_EQ(empty.bondSpecCount, 1);
}

// A list of records that grows (the structures of a file of many models, as
// they are read) moves its records: their atoms and sites stay where they
// were, not copied record by record.
TEST_F(StructureRecordTest, GrowingAListOfRecordsMovesThemRatherThanCopyingThem) {
  struct Growth {
    const char *name;
    void (*grow)(std::vector<CrystalRec> &);
  };
  const Growth growths[] = {
      {"reserve", [](std::vector<CrystalRec> &v) { v.reserve(v.capacity() * 2 + 1); }},
      {"append",
       [](std::vector<CrystalRec> &v) {
         while (v.size() < v.capacity())
           v.emplace_back();
         v.emplace_back();
       }},
      {"resize", [](std::vector<CrystalRec> &v) { v.resize(v.capacity() + 1); }},
  };
  for (const Growth &g : growths) {
    std::vector<CrystalRec> records(3);
    std::vector<const AtomRecord *> atoms;
    std::vector<const AsymmetricUnitRecord *> sites;
    for (CrystalRec &c : records) {
      c.atoms = *CreateAtomsArray(2, 1, 1, 1);
      c.sites = *CreateAsymmetricUnit(2);
      atoms.push_back(c.atoms.data());
      sites.push_back(c.sites.data());
    }
    const size_t before = records.capacity();
    g.grow(records);
    ASSERT_GT(records.capacity(), before) << g.name << ": the list did not grow";
    for (size_t k = 0; k < atoms.size(); k++) {
      EXPECT_EQ(records[k].atoms.data(), atoms[k]) << g.name << " record " << k;
      EXPECT_EQ(records[k].sites.data(), sites[k]) << g.name << " record " << k;
    }
  }
}

TEST_F(StructureRecordTest, CheckElementSymbolBlanksAControlSecondCharacter) {
  EXPECT_EQ(CheckElementSymbol(0x4300), El("C "));
  EXPECT_EQ(CheckElementSymbol(0x430A), El("C "));
  EXPECT_EQ(CheckElementSymbol(El("Ca")), El("Ca"));
  EXPECT_EQ(CheckElementSymbol(El("C ")), El("C "));
}

TEST(PackedPolyRec, CreationIsBoundedTo256VertexBytes) {
  auto rec = CreatePackedPoly(256);
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->bytes.size(), 266u);
  EXPECT_EQ(rec->bytes[9], 0);
  EXPECT_FALSE(CreatePackedPoly(257));
  EXPECT_FALSE(CreatePackedPoly(-1));
}

TEST(PackedPolyRec, ReaderTakesExactlyTheAnnouncedBytes) {
  // Two triangles and one square: 2 x 3 + 4 = 10 vertex bytes, then more data.
  std::vector<uint8_t> data = {1, 0, 0, 0, 2, 1, 0, 0, 0, 0, 0, 1, 2, 0, 2, 3, 0, 1, 2, 3, 99, 98};
  PackedPolyRec rec;
  size_t used = 0;
  ASSERT_TRUE(ReadPackedPolyRec(data, &rec, &used));
  EXPECT_EQ(used, 20u);
  EXPECT_EQ(rec.bytes.size(), 20u);
  EXPECT_EQ(PackedPolyFaceCount(rec, 3), 2);
  EXPECT_EQ(PackedPolyFaceCount(rec, 4), 1);
  EXPECT_EQ(PackedPolyFaceCount(rec, 9), 0);
  std::vector<uint8_t> out;
  ASSERT_TRUE(WritePackedPolyRec(rec, out));
  EXPECT_EQ(out, std::vector<uint8_t>(data.begin(), data.begin() + 20));
}

TEST(PackedPolyRec, CorruptLengthsAreRefusedWithoutReadingPastTheData) {
  PackedPolyRec rec;
  rec.bytes = {5};
  size_t used = 77;
  // Header cut short.
  std::vector<uint8_t> shortHeader = {0, 0, 0, 0, 1};
  EXPECT_FALSE(ReadPackedPolyRec(shortHeader, &rec, &used));
  // The header announces 8 octahedral faces (24 bytes) but only 5 follow.
  std::vector<uint8_t> truncated = {0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5};
  EXPECT_FALSE(ReadPackedPolyRec(truncated, &rec, &used));
  // Counts that add up to more than 256 vertex bytes: 40 faces of 8 = 320.
  std::vector<uint8_t> tooMany(400, 0);
  tooMany[9] = 40;
  EXPECT_FALSE(ReadPackedPolyRec(tooMany, &rec, &used));
  // The output is left as it was.
  EXPECT_EQ(rec.bytes, std::vector<uint8_t>{5});
  EXPECT_EQ(used, 77u);

  // The writer refuses a record whose length disagrees with its header.
  PackedPolyRec bad;
  bad.bytes = {0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 2}; // one triangle, two vertex bytes
  std::vector<uint8_t> out;
  EXPECT_FALSE(WritePackedPolyRec(bad, out));
  EXPECT_TRUE(out.empty());
}

// What each way of changing a structure moves of its input revisions: what
// is named moves and nothing else; a build and a record cleared or made
// afresh move every input; a copy keeps them.
TEST_F(StructureRecordTest, EachChangeMovesTheRevisionsOfWhatItChanged) {
  constexpr uint32_t kAll = kChangeAtoms | kChangeSites | kChangeBonds | kChangeRange | kChangeGroups;
  const struct {
    const char *change;
    std::function<void(CrystalRec &)> apply;
    uint32_t moved;
  } rows[] = {
      {"bonds told", [](CrystalRec &c) { NoteStructureChange(&c, kChangeBonds); }, kChangeBonds},
      {"atoms and sites told", [](CrystalRec &c) { NoteStructureChange(&c, kChangeAtoms | kChangeSites); },
       kChangeAtoms | kChangeSites},
      {"groups told", [](CrystalRec &c) { NoteStructureChange(&c, kChangeGroups); }, kChangeGroups},
      {"nothing told", [](CrystalRec &c) { NoteStructureChange(&c, 0); }, 0},
      {"a build started", [](CrystalRec &c) { StructureBuildStarts(&c); }, kAll},
      {"bonds made", [](CrystalRec &c) { BondsMade(&c); }, kChangeBonds},
      {"bonds made again", [](CrystalRec &c) { BondsMadeAgain(&c); }, kChangeBonds},
      {"cleared", [](CrystalRec &c) { ClearCrystalRec(&c); }, kAll},
      {"replaced by a new record", [](CrystalRec &c) { c = CrystalRec{}; }, kAll},
      {"replaced by its copy", [](CrystalRec &c) { c = CrystalRec(c); }, 0},
  };
  for (const auto &row : rows) {
    CrystalRec c;
    NoteStructureChange(&c, kAll);
    const InputRevisions before = c.derived.Revisions();
    row.apply(c);
    const InputRevisions after = c.derived.Revisions();
    for (int k = 0; k < kStructureInputs; ++k)
      EXPECT_EQ(after.of[k] != before.of[k], (row.moved >> k & 1u) != 0) << row.change << ", input " << k;
  }
  // Two records made afresh share no revision: what one derived never
  // passes for the other's.
  const CrystalRec first, second;
  for (int k = 0; k < kStructureInputs; ++k)
    EXPECT_NE(first.derived.Revisions().of[k], second.derived.Revisions().of[k]) << "input " << k;
}
