// The legal ranges of stored numbers, as each reader applies them: damaged
// documents are refused or opened with the damaged value put back, and the
// damaged documents of tests/data/damaged open (or are refused) quickly.
#include "DocumentTestSupport.h"

#include "documents/CrystalDocument.h"
#include "documents/ElementTableFile.h"
#include "documents/FileBuffer.h"
#include "documents/PrefsFile.h"
#include "documents/StoredValueRanges.h"
#include "render/PlotPipeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace {

namespace fs = std::filesystem;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

fs::path Demo(const char *name) { return fs::path(OV_SOURCE_DIR) / "resources/Demo Files" / name; }

CrystalRec ReadSound(const char *name) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(ReadWholeFile(Demo(name), bytes));
  CrystalRec c;
  std::string why;
  EXPECT_TRUE(DecodeCrystalDocument(bytes, c, nullptr, &why)) << why;
  return c;
}

// One damaged field of a document: refused, or read back as `expected`.
struct DocumentCase {
  const char *what;
  std::function<void(CrystalRec &)> damage;
  bool refused;
  std::function<float(const CrystalRec &)> read;
  float expected;
  const char *named; // in the refusal or the Log line
};

TEST(StoredValueRanges, DocumentReaderRefusesOrResetsEachDamagedField) {
  FakeHost host;
  const DocumentCase cases[] = {
      {"plot scale", [](CrystalRec &c) { c.plotScale = 170670.0f; }, false,
       [](const CrystalRec &c) { return c.plotScale; }, kMaxPlotScale, "plot scale 170670 pixels/\u00C5"},
      {"NaN plot scale", [](CrystalRec &c) { c.plotScale = kNaN; }, false,
       [](const CrystalRec &c) { return c.plotScale; }, 0.0f, "plot scale"},
      {"atom-type radius", [](CrystalRec &c) { c.spheres[0].radius = 1000.0f; }, false,
       [](const CrystalRec &c) { return c.spheres[0].radius; }, kMaxStoredRadius, "atom-type radius 1000 \u00C5"},
      {"infinite radius", [](CrystalRec &c) { c.spheres[1].radius = kInf; }, false,
       [](const CrystalRec &c) { return c.spheres[1].radius; }, kMaxStoredRadius, "atom-type radius inf"},
      {"ball-and-stick minimum", [](CrystalRec &c) { c.minBSSphereRadius = 1000.0f; }, false,
       [](const CrystalRec &c) { return c.minBSSphereRadius; }, 0.2f, "minimum ball-and-stick radius"},
      {"model type 9", [](CrystalRec &c) { c.modelType = 9; }, false,
       [](const CrystalRec &c) { return float(c.modelType); }, 1.0f, "model type"},
      {"model type -3", [](CrystalRec &c) { c.modelType = -3; }, false,
       [](const CrystalRec &c) { return float(c.modelType); }, 1.0f, "model type"},
      {"angles of no cell", [](CrystalRec &c) { c.alpha = c.beta = c.gamma = 120.0f; }, true, nullptr, 0, "no cell"},
      {"zero cell length", [](CrystalRec &c) { c.b = 0.0f; }, true, nullptr, 0, "cell length"},
      {"bond maximum", [](CrystalRec &c) { c.bondSpecs[0].maxLength = 400.0f; }, false,
       [](const CrystalRec &c) { return c.bondSpecs[0].maxLength; }, kMaxBondSpecLength, "bond maximum 400"},
      {"bond minimum above maximum", [](CrystalRec &c) { c.bondSpecs[0].minLength = 3.0f; }, false,
       [](const CrystalRec &c) { return c.bondSpecs[0].minLength; }, 0.0f, "bond minimum 3"},
      {"light vector", [](CrystalRec &c) { c.lightDirection[1] = kInf; }, false,
       [](const CrystalRec &c) { return c.lightDirection[1]; }, 0.5f, "light vector"},
      {"reflectance", [](CrystalRec &c) { c.kD[0] = 2.0f; }, false, [](const CrystalRec &c) { return c.kD[0]; },
       0.75f, "reflection coefficient"},
      {"depth cue", [](CrystalRec &c) { c.lowerPlateauZ = -4.0f; }, false,
       [](const CrystalRec &c) { return c.lowerPlateauZ; }, 0.8f, "depth-cue"},
      {"perspective distance", [](CrystalRec &c) { c.viewDistance = 0.0f; }, false,
       [](const CrystalRec &c) { return c.viewDistance; }, 50.0f, "perspective distance"},
      {"site style", [](CrystalRec &c) { c.sites[0].atomStyle = 99; }, false,
       [](const CrystalRec &c) { return float(c.sites[0].atomStyle); }, 14.0f, "atom style"},
      {"plot range", [](CrystalRec &c) { c.plotRange[1] = 5000.0f; }, false,
       [](const CrystalRec &c) { return c.plotRange[1]; }, 1.0f, "plot range"},
      {"atom coordinate", [](CrystalRec &c) { c.atoms[0].cart[2] = kNaN; }, false,
       [](const CrystalRec &c) { return c.atoms[0].cart[2]; }, 0.0f, "coordinate nan"},
  };
  const CrystalRec sound = ReadSound("Rutile.ovdf");
  ASSERT_GE(sound.spheres.size(), 2u);
  ASSERT_GE(sound.bondSpecCount, 1);
  for (const DocumentCase &k : cases) {
    CrystalRec damaged = sound;
    k.damage(damaged);
    const std::vector<uint8_t> bytes = EncodeCrystalDocument(damaged, DocumentExtras{});
    CrystalRec back;
    std::string why;
    host.log.clear();
    const bool read = DecodeCrystalDocument(bytes, back, nullptr, &why);
    EXPECT_EQ(read, !k.refused) << k.what << ": " << why;
    if (k.refused) {
      EXPECT_NE(why.find(k.named), std::string::npos) << k.what << ": " << why;
    } else if (read) {
      EXPECT_EQ(k.read(back), k.expected) << k.what;
      EXPECT_NE(host.log.find(k.named), std::string::npos) << k.what << ": " << host.log;
    }
  }
}

// Every sound structure we ship or test with, built, passes the table
// untouched.
TEST(StoredValueRanges, SoundStructuresPassUntouched) {
  FakeHost host;
  std::string error;
  std::vector<doctest::Named> all = doctest::AllStructures(host, error);
  ASSERT_EQ(error, "");
  for (const char *name : {"Rutile.ovdf", "Quartz.ovdf", "Spinel.ovdf", "Benzene.ovmf"})
    all.push_back({name, ReadSound(name)});
  for (doctest::Named &n : all) {
    StoredValueReport report;
    EXPECT_TRUE(CheckStoredValues(n.crystal, &report)) << n.name << ": " << report.why;
    EXPECT_TRUE(report.reset.empty()) << n.name << ": " << (report.reset.empty() ? "" : report.reset.front());
  }
}

TEST(StoredValueRanges, PreferencesTakeFactoryValuesForDamagedFields) {
  FakeHost host;
  PrefsRecord damaged = gFactoryPrefs;
  damaged.minBSSphereRadius = 1000.0f;
  damaged.stickRadius = kNaN;
  damaged.phongN[0] = 0;
  damaged.elementData[3].radius = 1000.0f;
  damaged.thumbnailHeight = 60000;
  damaged.ambientIntensity = 0.3f; // sound: kept
  PrefsRecord back = gFactoryPrefs;
  ASSERT_TRUE(DecodePrefsFile(EncodePrefsFile(damaged), back));
  EXPECT_EQ(back.minBSSphereRadius, gFactoryPrefs.minBSSphereRadius);
  EXPECT_EQ(back.stickRadius, gFactoryPrefs.stickRadius);
  EXPECT_EQ(back.phongN[0], gFactoryPrefs.phongN[0]);
  EXPECT_EQ(back.elementData[3].radius, kMaxStoredRadius);
  EXPECT_EQ(back.thumbnailHeight, gFactoryPrefs.thumbnailHeight);
  EXPECT_EQ(back.ambientIntensity, 0.3f);
  EXPECT_NE(host.log.find("minimum ball-and-stick radius"), std::string::npos) << host.log;
}

TEST(StoredValueRanges, ElementTableFileTakesTheDefaultRadiusForADamagedOne) {
  FakeHost host;
  const std::string text = "ELMT\nO  1000 1 0 0\nNa nan 0 1 0\nCl 1.81 0 0 1\n";
  EditElementsRec table;
  ReadElementTableFile(std::span(reinterpret_cast<const uint8_t *>(text.data()), text.size()), table);
  ASSERT_EQ(table.entries.size(), 3u);
  EXPECT_EQ(table.entries[0].radius, kMaxStoredRadius);
  EXPECT_EQ(table.entries[1].radius, kDefaultElementRadius); // no number read
  EXPECT_FLOAT_EQ(table.entries[2].radius, 1.81f);
  EXPECT_NE(host.log.find("element radius"), std::string::npos) << host.log;
}

// The damaged documents of tests/data/damaged (made by make_damaged.py from
// the demo documents), opened into a window the way File > Open does and
// rebuilt: each is refused with the reader's alert or opens with its damage
// undone.
struct DamagedCase {
  const char *file;
  bool opens;
  const char *named; // in the alert or the Log
};

TEST(StoredValueRanges, DamagedDocumentsOpenRefusedOrMended) {
  const DamagedCase cases[] = {
      {"PlotScale170670.ovdf", true, "PlotScale170670.ovdf: the plot scale 170670"},
      {"AtomRadius1000.ovdf", true, "AtomRadius1000.ovdf: the atom-type radius 1000"},
      {"MinBallRadius1000.ovmf", true, "minimum ball-and-stick radius"},
      {"InvalidCell.ovdf", false, "no cell"},
      {"ModelType9.ovdf", true, "model type"},
  };
  for (const DamagedCase &k : cases) {
    FakeHost host;
    doctest::Window w(host);
    const bool opened = OpenCrystalFile(w.ref(), fs::path(OV_TEST_DATA) / "damaged" / k.file);
    bool built = false;
    if (opened)
      built = w.crystal().molecule ? RunNewMolecule(w.ref(), false, false, false, true)
                                   : RunNewCrystal(w.ref(), false, false, false);
    EXPECT_EQ(opened, k.opens) << k.file;
    if (!opened) {
      ASSERT_FALSE(host.alerts.empty()) << k.file;
      EXPECT_EQ(host.alerts.front().message, kDocumentReadAlert);
      EXPECT_NE(host.alerts.front().explanation.find(k.named), std::string::npos) << host.alerts.front().explanation;
      continue;
    }
    EXPECT_TRUE(built) << k.file;
    EXPECT_NE(host.log.find(k.named), std::string::npos) << k.file << ": " << host.log;
    const CrystalRec &c = w.crystal();
    EXPECT_GE(c.plotScale, kMinStoredPlotScale) << k.file;
    EXPECT_LE(c.plotScale, kMaxPlotScale) << k.file;
    EXPECT_LE(c.minBSSphereRadius, kMaxStoredRadius) << k.file;
    EXPECT_GE(c.modelType, 1) << k.file;
    EXPECT_LE(c.modelType, 6) << k.file;
    // The picture was made at the window's size, and every atom image fits it.
    for (const SphereRecord &t : c.spheres)
      EXPECT_LE(t.bounds1.right - t.bounds1.left, 513) << k.file;
  }
}

// The widest values the table keeps draw within the window: atoms of 100 A
// at 10000 pixels per A (images held to the window), and a whole structure at
// 0.001 pixels per A, in the models that draw atom images and polyhedra.
// (What they cost is measured in bench/PolyhedraScaleBench.)
TEST(StoredValueRanges, TheWidestValuesDrawWithinTheWindow) {
  FakeHost host;
  CrystalRec wide = ReadSound("Rutile.ovdf");
  for (SphereRecord &t : wide.spheres)
    t.radius = kMaxStoredRadius;
  for (const float scale : {kMaxPlotScale, kMinStoredPlotScale})
    for (const int8_t model : {kBallAndStickModel, kSpaceFillingModel, kPolyhedralModel}) {
      doctest::Window w(host);
      CrystalRec read;
      std::string why;
      CrystalRec copy = wide;
      copy.plotScale = scale;
      copy.modelType = model;
      ASSERT_TRUE(DecodeCrystalDocument(EncodeCrystalDocument(copy, DocumentExtras{}), read, nullptr, &why)) << why;
      ASSERT_EQ(read.plotScale, scale);
      w.crystal() = std::move(read);
      SetWindowFileOpen(w.ref(), true);
      ASSERT_TRUE(RunNewCrystal(w.ref(), false, false, false));
      const CrystalRec &c = w.crystal();
      EXPECT_EQ(c.plotScale, scale);
      for (const SphereRecord &t : c.spheres) {
        EXPECT_EQ(t.radius, kMaxStoredRadius);
        // Half the window's side, or 1024 pixels before the first plot has
        // sized the window: never the 2 million pixels of 100 A at 10000.
        EXPECT_LE(t.bounds1.right - t.bounds1.left, 2 * 1024 + 1) << scale << " model " << int(model);
      }
    }
  EXPECT_TRUE(host.alerts.empty());
}

} // namespace
