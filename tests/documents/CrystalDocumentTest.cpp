// Round trips through the binary document, its refusals of damaged files
// and the safe save.
#include "DocumentTestSupport.h"

#include "documents/CrystalDocument.h"
#include "documents/DocumentArchive.h"
#include "documents/FileBuffer.h"
#include "Polyhedra.h"
#include "SymmetryCards.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>

namespace {

using doctest::Named;
using doctest::Window;

// Bitwise equality of one field (floats compare bit for bit).
#define SAME(x, y, f)                                                                                              \
  do {                                                                                                             \
    static_assert(sizeof((x).f) == sizeof((y).f));                                                                 \
    if (std::memcmp(&(x).f, &(y).f, sizeof((x).f)) != 0)                                                           \
      ADD_FAILURE() << where << ": " #f " differs";                                                                \
  } while (0)

// Polyhedra pending on both sides are the same (made from the same bonds);
// otherwise the polyhedra are compared made (copies: pending ones are made
// through the accessor).
void ExpectSameCrystal(CrystalRec a, CrystalRec b, const std::string &where) {
  const bool bothPending = a.derived.PolyhedraDue() && b.derived.PolyhedraDue();
  SAME(a, b, molecule); SAME(a, b, esdFlag); SAME(a, b, ellipsoidData); SAME(a, b, cardCount);
  SAME(a, b, spaceGroup); SAME(a, b, originChoice); SAME(a, b, originShift); SAME(a, b, latticeLetter);
  SAME(a, b, a); SAME(a, b, b); SAME(a, b, c); SAME(a, b, alpha); SAME(a, b, beta); SAME(a, b, gamma);
  SAME(a, b, cellEsds); SAME(a, b, atomsPerCell); SAME(a, b, metricTensor);
  for (int k = 0; k < a.cardCount; k++)
    EXPECT_EQ(CardText(a.symCards[k]), CardText(b.symCards[k])) << where;
  SAME(a, b, viewDirection); SAME(a, b, orientationMatrix); SAME(a, b, plotRange); SAME(a, b, na);
  SAME(a, b, nb); SAME(a, b, nc); SAME(a, b, plotScale); SAME(a, b, plotExtent); SAME(a, b, plotCentre);
  SAME(a, b, frontZ); SAME(a, b, backZ); SAME(a, b, minAtomRadius);
  SAME(a, b, plane.latticeNormal); SAME(a, b, plane.viewNormal); SAME(a, b, plane.vertexCount);
  SAME(a, b, plane.point); SAME(a, b, plane.hkl); SAME(a, b, plane.shown); SAME(a, b, plane.colour);
  SAME(a, b, plane.transparency);
  // Display settings.
  SAME(a, b, rulerUnits); SAME(a, b, showGrid); SAME(a, b, hiliteColor); SAME(a, b, stereoOn);
  SAME(a, b, stereoMode); SAME(a, b, kD); SAME(a, b, kA); SAME(a, b, kS); SAME(a, b, phongN);
  SAME(a, b, polyEdgeMode); SAME(a, b, ambientIntensity); SAME(a, b, pointIntensity); SAME(a, b, lightDirection);
  SAME(a, b, depthFading); SAME(a, b, lowerPlateauZ); SAME(a, b, lowerBaseZ); SAME(a, b, lowerMinOpacity);
  SAME(a, b, upperPlateauZ); SAME(a, b, upperBaseZ); SAME(a, b, upperMinOpacity); SAME(a, b, viewDistance);
  SAME(a, b, perspective); SAME(a, b, stereoAngle); SAME(a, b, stereoSeparation); SAME(a, b, modelType);
  SAME(a, b, surfaceOverlay); SAME(a, b, showUnitCell); SAME(a, b, showAxes); SAME(a, b, defaultAtomStyle);
  SAME(a, b, minBSSphereRadius); SAME(a, b, bsSphereRadFrac); SAME(a, b, defaultEllipsoidStyle);
  SAME(a, b, ellipsoidProbability); SAME(a, b, ellipsoidCriticalValue); SAME(a, b, ellipsoidSphereRadius);
  SAME(a, b, defaultPolyMode); SAME(a, b, defaultBondStyle); SAME(a, b, bondColor1); SAME(a, b, bondColor2);
  SAME(a, b, bondRadius); SAME(a, b, stickRadius); SAME(a, b, stickJointFactor); SAME(a, b, cloudSphereColor);
  SAME(a, b, cloudSphereType); SAME(a, b, cloudSphereRadFrac); SAME(a, b, cloudSphereTransparency);
  SAME(a, b, cloudSameSphereColor); SAME(a, b, unitCellLineWidth); SAME(a, b, unitCellColor);
  SAME(a, b, unitCellOptions); SAME(a, b, axesOption); SAME(a, b, axisColors); SAME(a, b, atomLabelType);
  SAME(a, b, atomLabelPos); SAME(a, b, labelFlag); SAME(a, b, labelSizeFollowsScale);
  EXPECT_EQ(a.labelFont.view(), b.labelFont.view()) << where;
  SAME(a, b, labelSize); SAME(a, b, backgroundGradient); SAME(a, b, gradientStyle); SAME(a, b, backgroundColor);
  SAME(a, b, gradientColors); SAME(a, b, gradientAngle); SAME(a, b, gradientScale);
  SAME(a, b, backgroundPictureMode);
  EXPECT_EQ(a.backgroundPicture, b.backgroundPicture) << where;

  ASSERT_EQ(a.siteCount, b.siteCount) << where;
  ASSERT_EQ(a.sites.size(), b.sites.size()) << where;
  for (size_t k = 0; k < a.sites.size(); k++) {
    const auto &s = a.sites[k], &t = b.sites[k];
    SAME(s, t, elements); SAME(s, t, occupancies); SAME(s, t, atomType);
    EXPECT_EQ(ShownPolyMode(s), ShownPolyMode(t)) << where;
    SAME(s, t, atomStyle); SAME(s, t, ellipsoidStyle); SAME(s, t, label); SAME(s, t, coordination);
    SAME(s, t, visible); SAME(s, t, xyz); SAME(s, t, esd); SAME(s, t, ignoreEllipsoid);
    SAME(s, t, displacementType); SAME(s, t, tensor); SAME(s, t, isoValue); SAME(s, t, firstAtom);
    SAME(s, t, lastAtom); SAME(s, t, atomsPerCell); SAME(s, t, disorderAssembly); SAME(s, t, disorderGroup);
  }
  ASSERT_EQ(a.sphereCount, b.sphereCount) << where;
  for (size_t k = 0; k < a.spheres.size(); k++) {
    const auto &s = a.spheres[k], &t = b.spheres[k];
    SAME(s, t, element); SAME(s, t, style); SAME(s, t, radius); SAME(s, t, drawnRadius); SAME(s, t, colour);
  }
  ASSERT_EQ(a.bondSpecCount, b.bondSpecCount) << where;
  for (int k = 0; k < a.bondSpecCount; k++) {
    const auto &s = a.bondSpecs[k], &t = b.bondSpecs[k];
    SAME(s, t, elementA); SAME(s, t, elementB); SAME(s, t, minLength); SAME(s, t, maxLength); SAME(s, t, style);
    SAME(s, t, colour1); SAME(s, t, colour2);
  }
  ASSERT_EQ(a.customBondSpecCount, b.customBondSpecCount) << where;
  for (size_t k = 0; k < a.customBondSpecs.size(); k++) {
    const auto &s = a.customBondSpecs[k], &t = b.customBondSpecs[k];
    SAME(s, t, atomA); SAME(s, t, atomB); SAME(s, t, style); SAME(s, t, colour1); SAME(s, t, colour2);
  }
  ASSERT_EQ(a.atomCount, b.atomCount) << where;
  ASSERT_EQ(a.atoms.size(), b.atoms.size()) << where;
  for (size_t k = 0; k < a.atoms.size(); k++) {
    const auto &s = a.atoms[k], &t = b.atoms[k];
    SAME(s, t, site); SAME(s, t, atomType); SAME(s, t, visible); SAME(s, t, selected); SAME(s, t, labelled);
    SAME(s, t, hasVector); SAME(s, t, flags); SAME(s, t, ellipsoidAxes); SAME(s, t, xyz); SAME(s, t, cart);
    SAME(s, t, pixel); SAME(s, t, bondCount);
    EXPECT_EQ(s.bonds, t.bonds) << where << " atom " << k;
    const Polyhedron *sp = bothPending ? nullptr : AtomPolyhedron(&a, s);
    const Polyhedron *tp = bothPending ? nullptr : AtomPolyhedron(&b, t);
    ASSERT_EQ(sp != nullptr, tp != nullptr) << where << " atom " << k;
    if (sp) {
      EXPECT_EQ(sp->centreAtom, tp->centreAtom);
      EXPECT_EQ(sp->flag, tp->flag);
      EXPECT_EQ(sp->vertexCount, tp->vertexCount);
      ASSERT_EQ(sp->faces.size(), tp->faces.size());
      for (size_t f = 0; f < sp->faces.size(); f++)
        EXPECT_EQ(sp->faces[f].vertices, tp->faces[f].vertices);
    }
  }
  ASSERT_EQ(a.vectorCount, b.vectorCount) << where;
  for (size_t k = 0; k < a.vectors.size(); k++) {
    const auto &s = a.vectors[k], &t = b.vectors[k];
    SAME(s, t, colour); SAME(s, t, atom); SAME(s, t, selected); SAME(s, t, style); SAME(s, t, uvw);
    SAME(s, t, headRadius); SAME(s, t, tipXYZ); SAME(s, t, tipCart); SAME(s, t, tipPixel);
  }
  ASSERT_EQ(a.textBoxCount, b.textBoxCount) << where;
  for (size_t k = 0; k < a.textBoxes.size(); k++) {
    const auto &s = a.textBoxes[k], &t = b.textBoxes[k];
    SAME(s, t, kind); SAME(s, t, selected); SAME(s, t, visible); SAME(s, t, shadow); SAME(s, t, textColor);
    SAME(s, t, backColor); SAME(s, t, fontNumber); SAME(s, t, fontStyle); SAME(s, t, fontSize);
    SAME(s, t, justification); SAME(s, t, frame); SAME(s, t, fill); SAME(s, t, spareScale);
    SAME(s, t, hasPointer); SAME(s, t, pointerTwoEnds); SAME(s, t, anchor); SAME(s, t, arrowHeads);
    SAME(s, t, pixel1); SAME(s, t, frac1); SAME(s, t, pixel2); SAME(s, t, frac2); SAME(s, t, boxRect);
    SAME(s, t, boxCentre); SAME(s, t, textLength);
    EXPECT_TRUE(s.text == t.text) << where;
  }
}
#undef SAME

// Gives the structure one of everything a user can add, with values no
// default has, so that a field the document drops shows.
void Decorate(CrystalRec &c) {
  c.esdFlag = 1;
  c.ellipsoidData = 1;
  for (int k = 0; k < 6; k++)
    c.cellEsds[k] = 0.001f * static_cast<float>(k + 1);
  for (size_t k = 0; k < c.sites.size(); k++) {
    AsymmetricUnitRecord &s = c.sites[k];
    s.esd[0] = 0.0001f, s.esd[1] = 0.0002f, s.esd[2] = 0.0003f;
    s.displacementType = k % 2 ? kDisplacementIsotropic : kDisplacementAnisoU;
    s.isoValue = 0.0123f;
    const float t[9] = {0.011f, 0.002f, -0.003f, 0.002f, 0.012f, 0.004f, -0.003f, 0.004f, 0.013f};
    std::copy(t, t + 9, s.tensor);
  }
  if (c.atoms.size() >= 2) {
    c.customBondSpecs.push_back({0, 1, 7, {1, 2, 3}, {4, 5, 6}});
    c.customBondSpecCount = 1;
    VectorRecord v;
    v.atom = 1;
    v.uvw[0] = 0.25f, v.uvw[1] = -0.5f, v.uvw[2] = 1.0f / 3.0f;
    v.colour = {100, 200, 300};
    v.style = 1;
    c.vectors.push_back(v);
    c.vectorCount = 1;
    c.atoms[1].hasVector = 1;
    c.atoms[0].selected = 1;
    c.atoms[0].labelled = 1;
  }
  TextBoxRecord box;
  box.text = u"Ca\u2082 \u03b1-phase \U0001F52C";
  box.textLength = static_cast<uint32_t>(box.text.size());
  box.frac1[0] = 0.1f, box.frac1[1] = 0.2f;
  TextBoxRecord line;
  line.kind = kAnnotationLine;
  line.frac2[0] = 0.7f;
  c.textBoxes = {box, line};
  c.textBoxCount = 2;
  c.plane.shown = 1;
  c.plane.hkl[0] = 2.0f;
  c.modelType = 3;
  c.backgroundPicture = "/home/someone/Pictures/paper.png";
  c.labelFont = MakeStr255("DejaVu Sans");
}

class DocumentTest : public ::testing::Test {
protected:
  FakeHost host;
  std::filesystem::path dir;
  void SetUp() override {
    gPrefs = gFactoryPrefs;
    dir = std::filesystem::temp_directory_path() /
          ("ovdoc-" + std::to_string(::getpid()) + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  void TearDown() override {
    gFailWritesAfterBytes = -1;
    std::filesystem::remove_all(dir);
  }
};

TEST_F(DocumentTest, EveryStructureComesBackBitExact) {
  std::string error;
  std::vector<Named> all = doctest::AllStructures(host, error);
  ASSERT_EQ(error, "");
  ASSERT_GT(all.size(), 100u);
  DocumentExtras extras;
  extras.notes = "Notes of the structure.\nSecond paragraph: \xc3\xa9t\xc3\xa9, \xe2\x84\xab.";
  extras.hasWindowSettings = true;
  extras.window.sidebarWidth = 311;
  extras.window.sidebarSplit = 0.3f;
  extras.window.notesFontName = MakeStr255("DejaVu Serif");
  for (Named &n : all) {
    Decorate(n.crystal);
    const std::vector<uint8_t> bytes = EncodeCrystalDocument(n.crystal, extras);
    CrystalRec back;
    DocumentExtras backExtras;
    std::string message;
    ASSERT_TRUE(DecodeCrystalDocument(bytes, back, &backExtras, &message)) << n.name << ": " << message;
    ExpectSameCrystal(n.crystal, back, n.name);
    EXPECT_EQ(backExtras.notes, extras.notes);
    EXPECT_TRUE(backExtras.window == extras.window);
    EXPECT_TRUE(backExtras.preview.empty()); // none written, none required
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(bytes.data()), 4), n.crystal.molecule ? "OVMF" : "OVDF");
  }
  EXPECT_TRUE(host.alerts.empty());
}

// An undo state keeps site roles still to be set: read back and asked for
// its modes, it gives the document the structure gives with its roles set
// at once, for every structure and example.
TEST_F(DocumentTest, RolesLeftToAnUndoStateAreTheRolesSetAtOnce) {
  std::string error;
  std::vector<Named> all = doctest::AllStructures(host, error);
  ASSERT_EQ(error, "");
  int pending = 0;
  for (Named &n : all) {
    SCOPED_TRACE(n.name);
    CrystalRec settled(n.crystal);
    DeriveDueSiteRoles(settled);
    const std::vector<uint8_t> expected = EncodeCrystalDocument(settled, {});
    const std::vector<uint8_t> state = EncodeCrystalDocument(n.crystal, {}, PendingRoles::kKept);
    pending += n.crystal.derived.RolesDue();
    // Setting the roles is no change to the undo state.
    EXPECT_TRUE(EncodeCrystalDocument(settled, {}, PendingRoles::kKept) == state);
    CrystalRec back;
    std::string message;
    ASSERT_TRUE(DecodeCrystalDocument(state, back, nullptr, &message)) << message;
    EXPECT_EQ(back.derived.RolesDue(), n.crystal.derived.RolesDue());
    DeriveDueSiteRoles(back);
    EXPECT_TRUE(EncodeCrystalDocument(back, {}) == expected);
  }
  EXPECT_GT(pending, 0);
}

// A structure of some hundred thousand atoms is encoded a range of atoms
// at a time: every atom, bond and polyhedron comes back in its place.
TEST_F(DocumentTest, ALargeStructureComesBackInOrder) {
  std::string error;
  std::vector<Named> all = doctest::AllStructures(host, error);
  ASSERT_FALSE(all.empty());
  const auto most = std::max_element(all.begin(), all.end(), [](const Named &x, const Named &y) {
    return x.crystal.atoms.size() < y.crystal.atoms.size();
  });
  CrystalRec &c = most->crystal;
  const std::vector<AtomRecord> cell = c.atoms;
  ASSERT_FALSE(cell.empty());
  const uint32_t n = static_cast<uint32_t>(cell.size());
  c.atoms.clear();
  for (uint32_t copy = 0; c.atoms.size() < 150000; copy++)
    for (uint32_t k = 0; k < n; k++) {
      AtomRecord t = cell[k];
      t.xyz[0] += static_cast<float>(copy);
      for (uint32_t &bond : t.bonds)
        bond += copy * n;
      t.bonds.push_back(copy * n + (k + 1) % n); // each atom's bond count differs by copy
      t.bondCount = static_cast<uint32_t>(t.bonds.size());
      if ((copy + k) % 7 == 0) {
        Polyhedron p;
        p.centreAtom = copy * n + k;
        p.vertexCount = 3;
        p.faces = {PolyFace{}, PolyFace{}};
        p.faces[0].vertices = {copy * n, copy * n + k, copy * n + (k + 1) % n};
        p.faces[0].vertexCount = 3;
        p.faces[1].vertices = {copy * n + k};
        p.faces[1].vertexCount = 1;
        p.faceCount = 2;
        t.polyhedron.Hold(std::move(p));
      }
      c.atoms.push_back(std::move(t));
    }
  c.atomCount = static_cast<int32_t>(c.atoms.size());
  const std::vector<uint8_t> bytes = EncodeCrystalDocument(c, DocumentExtras{});
  CrystalRec back;
  std::string message;
  ASSERT_TRUE(DecodeCrystalDocument(bytes, back, nullptr, &message)) << message;
  ExpectSameCrystal(c, back, most->name + " grown");
}

TEST_F(DocumentTest, WindowSavesAndOpensThroughTheFile) {
  std::string error;
  std::vector<Named> examples = doctest::ExampleStructures(host, error);
  ASSERT_FALSE(examples.empty());
  std::string savedNotes = "Kept notes";
  std::string openedNotes;
  gDocumentWindowHooks.getNotes = [&](WindowRef) { return savedNotes; };
  gDocumentWindowHooks.setNotes = [&](WindowRef, const std::string &text) { openedNotes = text; };
  Window source(host);
  source.crystal() = examples.front().crystal;
  SetWindowFileOpen(source.ref(), true);
  GetMainWindowData(source.ref())->windowModified = 1;
  GetMainWindowData(source.ref())->sidebarWidth = 199;
  const auto file = dir / "saved.ovdf";
  ASSERT_TRUE(DoWriteCrystalFile(source.ref(), file));
  EXPECT_EQ(GetMainWindowData(source.ref())->windowModified, 0);

  uint32_t type = 0, count = 0;
  EXPECT_EQ(FSRefGetFileType(file, &type), 0);
  EXPECT_EQ(type, source.crystal().molecule ? kMoleculeDocumentType : kCrystalDocumentType);
  ASSERT_TRUE(GetNumAtomsInCrystalFile(file, &count));
  EXPECT_EQ(count, static_cast<uint32_t>(source.crystal().atomCount));
  {
    // An atoms section of the older kind, 'ATOM' with a u16 count: the
    // little-endian u32 count begins with the same two bytes.
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadWholeFile(file, bytes));
    for (size_t k = 0; k + 4 <= bytes.size(); k++)
      if (std::memcmp(&bytes[k], "ATO7", 4) == 0)
        bytes[k + 3] = 'M';
    const auto old = dir / "old-atoms.ovdf";
    ASSERT_TRUE(WriteFileAtomically(old, bytes));
    count = 0;
    ASSERT_TRUE(GetNumAtomsInCrystalFile(old, &count));
    EXPECT_EQ(count, static_cast<uint32_t>(source.crystal().atomCount));
  }

  Window target(host);
  ASSERT_TRUE(OpenCrystalFile(target.ref(), file));
  ExpectSameCrystal(source.crystal(), target.crystal(), "opened");
  EXPECT_EQ(openedNotes, savedNotes);
  EXPECT_EQ(GetMainWindowData(target.ref())->sidebarWidth, 199);
  gDocumentWindowHooks = {};
}

// Files of some megabytes replace the file before them whole, whatever
// their sizes and tails, and the file replaced is only let go: another name
// for it still reads what it held. A disk that fills midway through
// leaves the target as it was and nothing beside it.
TEST_F(DocumentTest, LargeFilesReplaceTheOldFileWhole) {
  constexpr size_t kMB = size_t{1} << 20;
  struct Case {
    const char *name;
    size_t oldBytes; // 0: no file there before
    size_t newBytes;
    long failAfter; // -1: the disk has room
  };
  const Case cases[] = {
      {"a new file", 0, 3 * kMB + 17, -1},
      {"smaller than the old", 5 * kMB, 2 * kMB + 4095, -1},
      {"larger than the old, over several pieces", 2 * kMB, 19 * kMB + 1, -1},
      {"a small file over a large one", 3 * kMB, 100, -1},
      {"one byte short of the large writes", 3 * kMB, kMB - 1, -1},
      {"the disk full midway", 3 * kMB, 9 * kMB + 5, long(2 * kMB + 3)},
  };
  const auto bytesOf = [](size_t count, uint8_t seed) {
    std::vector<uint8_t> bytes(count);
    for (size_t k = 0; k < count; k++)
      bytes[k] = static_cast<uint8_t>((k * 131 + seed) ^ (k >> 12));
    return bytes;
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const auto folder = dir / c.name;
    std::filesystem::create_directories(folder);
    const auto file = folder / "large.ovdf", kept = folder / "kept";
    const std::vector<uint8_t> before = bytesOf(c.oldBytes, 1), after = bytesOf(c.newBytes, 2);
    if (c.oldBytes > 0) {
      ASSERT_TRUE(WriteFileAtomically(file, before));
      std::filesystem::create_hard_link(file, kept);
    }
    gFailWritesAfterBytes = c.failAfter;
    const bool written = WriteFileAtomically(file, after);
    gFailWritesAfterBytes = -1;
    EXPECT_EQ(written, c.failAfter < 0);
    std::vector<uint8_t> read;
    ASSERT_EQ(ReadWholeFile(file, read), c.failAfter < 0 || c.oldBytes > 0);
    EXPECT_TRUE(read == (written ? after : before));
    if (c.oldBytes > 0) {
      ASSERT_TRUE(ReadWholeFile(kept, read));
      EXPECT_TRUE(read == before);
    }
    EXPECT_EQ(size_t(std::distance(std::filesystem::directory_iterator(folder), {})), c.oldBytes > 0 ? 2u : 1u);
  }
}

// A section of a later version is skipped, and so is an absent preview.
TEST_F(DocumentTest, UnknownSectionsAreSkipped) {
  std::string error;
  std::vector<Named> examples = doctest::ExampleStructures(host, error);
  ASSERT_FALSE(examples.empty());
  std::vector<uint8_t> bytes = EncodeCrystalDocument(examples.front().crystal, {});
  // Move the map 12 bytes on and put a section 'ZZZZ' with 4 bytes in front of it.
  uint32_t mapOffset = bytes[8] | bytes[9] << 8 | bytes[10] << 16 | static_cast<uint32_t>(bytes[11]) << 24;
  const uint8_t extra[12] = {'Z', 'Z', 'Z', 'Z', 4, 0, 0, 0, 1, 2, 3, 4};
  bytes.insert(bytes.begin() + mapOffset, extra, extra + 12);
  mapOffset += 12;
  for (int k = 0; k < 4; k++)
    bytes[8 + k] = static_cast<uint8_t>(mapOffset >> (8 * k));
  CrystalRec back;
  std::string message;
  ASSERT_TRUE(DecodeCrystalDocument(bytes, back, nullptr, &message)) << message;
  ExpectSameCrystal(examples.front().crystal, back, "with an unknown section");
}

std::vector<uint8_t> SmallDocument(FakeHost &host) {
  std::string error;
  std::vector<Named> examples = doctest::ExampleStructures(host, error);
  return EncodeCrystalDocument(examples.at(0).crystal, {});
}

// Offsets into a document: the map's offset in the header, and a section's
// payload found through the map.
uint32_t U32At(const std::vector<uint8_t> &b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void PutU32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
  for (int k = 0; k < 4; k++)
    b[at + static_cast<size_t>(k)] = static_cast<uint8_t>(v >> (8 * k));
}
size_t SectionOffset(const std::vector<uint8_t> &b, const char *tag) {
  const uint32_t map = U32At(b, 8);
  const uint32_t n = U32At(b, map + 8);
  for (uint32_t k = 0; k < n; k++) {
    const size_t e = map + 12 + 12 * k;
    if (std::memcmp(&b[e], tag, 4) == 0)
      return U32At(b, e + 4);
  }
  return 0;
}

TEST_F(DocumentTest, DamagedFilesAreRefusedWithTheirReason) {
  const std::vector<uint8_t> good = SmallDocument(host);
  struct Case {
    const char *what;
    std::function<void(std::vector<uint8_t> &)> damage;
    const char *explanation;
  };
  const Case cases[] = {
      {"empty", [](auto &b) { b.clear(); }, "The file is empty."},
      {"truncated header", [](auto &b) { b.resize(10); }, "The document is truncated."},
      {"truncated", [](auto &b) { b.resize(b.size() / 2); },
       "The document is truncated or damaged: its file map lies past the end."},
      {"wrong magic", [](auto &b) { b[0] = 'X'; }, "The file is not an Orvalisphere document."},
      {"older layout", [](auto &b) { std::memcpy(b.data(), "OVD5", 4); },
       "The document is in an older layout that this version of Orvalisphere does not read."},
      {"map first", [](auto &b) { PutU32(b, 8, 16); }, "The document is damaged: its file map comes first."},
      {"section past the end",
       [](auto &b) {
         const size_t map = U32At(b, 8);
         PutU32(b, map + 12 + 8, 0x7FFFFFF0u); // the first entry's length
       },
       "The document is truncated or damaged: a section lies past the end."},
      {"site count overflows",
       [](auto &b) { PutU32(b, SectionOffset(b, "SITE") + 8, 0xFFFFFFFFu); },
       "The document is damaged: its section 'SITE' is not sound."},
      {"atom count overflows",
       [](auto &b) { PutU32(b, SectionOffset(b, "ATO7") + 8, 0x40000001u); },
       "The document is damaged: its section 'ATO7' is not sound."},
      {"bond to no atom",
       [](auto &b) {
         // The first atom's site index points past the sites.
         PutU32(b, SectionOffset(b, "ATO7") + 12, 999999u);
       },
       "The document is damaged: an atom names a site or an atom type that does not exist."},
  };
  for (const Case &c : cases) {
    std::vector<uint8_t> bytes = good;
    c.damage(bytes);
    const auto file = dir / "bad.ovdf";
    {
      std::ofstream out(file, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    host.alerts.clear();
    CrystalRec crystal;
    EXPECT_FALSE(ReadCrystalFile(&crystal, file)) << c.what;
    ASSERT_EQ(host.alerts.size(), 1u) << c.what;
    EXPECT_EQ(host.alerts[0].message, kDocumentReadAlert) << c.what;
    EXPECT_EQ(host.alerts[0].explanation, "\"bad.ovdf\" could not be read. " + std::string(c.explanation)) << c.what;
    EXPECT_EQ(crystal.atomCount, 0) << c.what;
    uint32_t count = 0;
    if (std::string(c.what) == "map first" || std::string(c.what) == "empty") {
      EXPECT_FALSE(GetNumAtomsInCrystalFile(file, &count)) << c.what;
    }
  }
  host.alerts.clear();
  CrystalRec crystal;
  EXPECT_FALSE(ReadCrystalFile(&crystal, dir));
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].explanation, "\"" + dir.filename().string() + "\" could not be read: it is a folder, not a file.");
}

TEST_F(DocumentTest, FailedSaveKeepsThePreviousDocument) {
  std::string error;
  std::vector<Named> examples = doctest::ExampleStructures(host, error);
  ASSERT_GE(examples.size(), 2u);
  const auto file = dir / "keep.ovdf";
  ASSERT_TRUE(WriteCrystalFile(examples[0].crystal, {}, file));
  std::vector<uint8_t> before;
  ASSERT_TRUE(ReadWholeFile(file, before));

  gFailWritesAfterBytes = 100; // the disk fills up part way through
  host.alerts.clear();
  EXPECT_FALSE(WriteCrystalFile(examples[1].crystal, {}, file));
  gFailWritesAfterBytes = -1;
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, kDocumentWriteAlert);
  EXPECT_NE(host.alerts[0].explanation.find("the file on disk was left as it was"), std::string::npos);
  std::vector<uint8_t> after;
  ASSERT_TRUE(ReadWholeFile(file, after));
  EXPECT_EQ(after, before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1)
      << "the temporary file was left behind";
}

TEST(FileBuffer, ReadsStopAtTheEndAndWritesAtTheCapacity) {
  const uint8_t bytes[5] = {1, 2, 3, 4, 5};
  FileBuffer b = FileBuffer::ForReading(bytes);
  uint32_t v = 0;
  EXPECT_EQ(BufferReadU32(b, v), 0);
  EXPECT_EQ(v, 0x04030201u);
  EXPECT_EQ(BufferReadU32(b, v), kBufferReadOverrun);
  uint8_t u = 0;
  EXPECT_EQ(BufferReadU8(b, u), kBufferReadOverrun) << "a failed buffer stays failed";
  FileBuffer w;
  w.fixedCapacity = 6;
  EXPECT_EQ(BufferWriteU32(w, 1), 0);
  EXPECT_EQ(BufferWriteU32(w, 2), kBufferWriteOverrun);
  EXPECT_EQ(w.out.size(), 4u);
}

// Fields written into room made for them take the bytes the appending
// writer gives them (little-endian, as laid out by hand here), and the
// writer ends just past them.
TEST(PlacedWriter, WritesWhatTheAppendingWriterWrites) {
  const auto check = [](const char *what, const auto &write, const std::vector<uint8_t> &expected) {
    FileBuffer b;
    SectionWriter appending{b};
    write(appending);
    EXPECT_EQ(b.out, expected) << what;
    std::vector<uint8_t> room(expected.size() + 1, 0xEE);
    PlacedWriter placed{room.data()};
    write(placed);
    EXPECT_EQ(placed.at, room.data() + expected.size()) << what;
    EXPECT_EQ(std::vector<uint8_t>(room.begin(), room.end() - 1), expected) << what;
    EXPECT_EQ(room.back(), 0xEE) << what;
  };
  const uint32_t words[3] = {1, 0x0A0B0C0D, 0xFFFFFFFE};
  const float axis[3] = {1.0f, -2.0f, 0.5f};
  const Str255 label = MakeStr255("ab");
  const RGBColor colour{1, 2, 0xFEDC};
  check("byte", [](auto &a) { a(uint8_t{0xAB}); }, {0xAB});
  check("short", [](auto &a) { a(int16_t{-2}); }, {0xFE, 0xFF});
  check("word", [](auto &a) { a(uint32_t{0x01020304}); }, {4, 3, 2, 1});
  check("double", [](auto &a) { a(-2.0); }, {0, 0, 0, 0, 0, 0, 0, 0xC0});
  check("words", [&](auto &a) { a.Words(words, 3); }, {1, 0, 0, 0, 0x0D, 0x0C, 0x0B, 0x0A, 0xFE, 0xFF, 0xFF, 0xFF});
  check("floats", [&](auto &a) { Xfer(a, axis); }, {0, 0, 0x80, 0x3F, 0, 0, 0, 0xC0, 0, 0, 0, 0x3F});
  check("label", [&](auto &a) { Xfer(a, label); }, {2, 'a', 'b'});
  check("colour", [&](auto &a) { Xfer(a, colour); }, {1, 0, 2, 0, 0xDC, 0xFE});
}

TEST(LineReaders, EveryLineEndAndNoCharacterLost) {
  const std::string longLine(300, 'x');
  const std::string text = "one\rtwo\nthree\r\n\r\n" + longLine + "\nlast";
  const std::vector<std::string> expected = {"one", "two", "three", "", std::string(254, 'x'), std::string(46, 'x'),
                                             "last"};
  FileBuffer b = FileBuffer::ForReading(std::span(reinterpret_cast<const uint8_t *>(text.data()), text.size()));
  std::vector<std::string> got;
  std::string line;
  while (GetLineFromFileBuffer(b, line) >= 0)
    got.push_back(line);
  EXPECT_EQ(got, expected);

  std::FILE *f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  got.clear();
  while (MyGetLine(f, line) >= 0) {
    got.push_back(line);
    if (got.size() == 3) { // step back over "three\r\n" once
      ASSERT_TRUE(MyUnGetLine(f, line));
      ASSERT_EQ(MyGetLine(f, line), 5);
      EXPECT_EQ(line, "three");
    }
  }
  std::fclose(f);
  EXPECT_EQ(got, expected);
}

} // namespace
