// The 3-D exports: mesh topology where a wrong reading hides, the export
// list rules, the STL layout, the COLLADA structure (every document these
// tests write goes through the structural checker), the commands on the
// recording host, and the dump the independent readers check
// (tests/oracle/export3d_oracle.py).
#include "../documents/DocumentTestSupport.h"

#include "ColladaChecker.h"
#include "PlotRange.h"
#include "RenderServices.h"
#include "export/Export3D.h"
#include "export/FixedText.h"
#include "render/BondDrawing.h"
#include "render/PlotPipeline.h"

#include "Polyhedra.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <tuple>

namespace {

using doctest::Window;

float Dot3(const Vertex &a, const Vertex &b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vertex Minus(const Vertex &a, const Vertex &b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
float Len(const Vertex &a) { return std::sqrt(Dot3(a, a)); }
Vertex CrossV(const Vertex &a, const Vertex &b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Runs a writer into a temporary file and answers the bytes.
template <typename Write> std::string Written(CrystalRec &c, Write write, Export3DContext *seen = nullptr) {
  const auto path = std::filesystem::temp_directory_path() / ("ov3d-written-" + std::to_string(::getpid()));
  Export3DContext ctx;
  ctx.gXP = &c;
  {
    AtomicFileWriter out(path);
    ExportStream stream(out);
    ctx.gFP = &stream;
    write(ctx);
    stream.Flush();
    EXPECT_TRUE(out.Commit());
  }
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::filesystem::remove(path);
  if (seen) {
    seen->gTriangles = ctx.gTriangles;
  }
  return bytes;
}

std::string Stl(CrystalRec &c, uint32_t *triangles = nullptr) {
  Export3DContext seen;
  std::string bytes = Written(
      c, [](Export3DContext &ctx) { WriteSTLFile(ctx); }, &seen);
  if (triangles)
    *triangles = seen.gTriangles;
  return bytes;
}

uint32_t StlCount(const std::string &bytes) {
  return uint32_t(uint8_t(bytes[80])) | uint32_t(uint8_t(bytes[81])) << 8 | uint32_t(uint8_t(bytes[82])) << 16 |
         uint32_t(uint8_t(bytes[83])) << 24;
}

// Writes the document and runs the structural check on it.
std::string Dae(CrystalRec &c, int *result = nullptr, const char *fail = nullptr) {
  COLLADAOptions options;
  options.version = "1.0.0";
  options.stamp = 1700000000;
  int r = 0;
  std::string text = Written(c, [&](Export3DContext &ctx) {
    ctx.failAllocationAt = fail;
    r = WriteCrystalData(ctx, options);
  });
  if (result)
    *result = r;
  if (r == 1) {
    const std::vector<std::string> problems = collada::CheckDocument(text);
    EXPECT_TRUE(problems.empty()) << problems.front();
  }
  return text;
}

size_t Count(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    n++;
  return n;
}

class Export3DTest : public ::testing::Test {
protected:
  FakeHost host;
  std::vector<std::unique_ptr<Window>> windows;
  void SetUp() override { gPrefs = gFactoryPrefs; }

  CrystalRec &Example(const std::string &stem) {
    windows.push_back(std::make_unique<Window>(host));
    Window &w = *windows.back();
    EXPECT_TRUE(OpenStructureFile(w.ref(), std::filesystem::path(OV_SOURCE_DIR) / "resources/examples" / (stem + ".ovtx")));
    return w.crystal();
  }
  WindowRef Front() { return windows.back()->ref(); }
  // The structure as the window would show it in a model.
  static void Show(CrystalRec &c, int model) {
    c.modelType = static_cast<int8_t>(model);
    ASSERT_TRUE(RenderSpheres(&c));
    if (model == kPolyhedralModel)
      DefinePendingPolyhedra(&c); // as the model's plot makes them
  }
  // Rutile with displacement parameters: Ti with principal ellipses and
  // axes, O cut away with principal ellipses.
  CrystalRec &RutileWithEllipsoids() {
    CrystalRec &c = Example("Rutile");
    c.ellipsoidData = 1;
    for (size_t s = 0; s < c.sites.size(); s++) {
      AsymmetricUnitRecord &site = c.sites[s];
      site.displacementType = kDisplacementAnisoU;
      const float U[9] = {0.006f, 0.001f, 0, 0.001f, 0.006f, 0, 0, 0, 0.004f + 0.002f * float(s)};
      std::copy(U, U + 9, site.tensor);
      site.ellipsoidStyle = s == 0 ? 22 : 18;
    }
    EXPECT_TRUE(RunNewCrystal(Front(), false, false, false));
    return c;
  }
  // Everything a model can carry: two-colour spheres, dashed bonds, a dashed
  // cell, vectors and the surface.
  static void Decorate(CrystalRec &c) {
    if (!c.spheres.empty())
      c.spheres[0].style = 19;
    for (int k = 0; k < c.bondSpecCount; k++)
      c.bondSpecs[size_t(k)].style = k % 2 ? kBondPhotoTwinBand : kBondDashedLine;
    c.unitCellOptions[1] = 0;
    c.surfaceOverlay = 1;
    c.cloudSameSphereColor = 0;
    for (uint32_t a = 0; a < 2 && a < c.atoms.size(); a++) {
      VectorRecord v;
      v.atom = a;
      v.style = uint8_t(a == 0 ? 2 : 1);
      v.uvw[0] = 0.1f;
      v.uvw[2] = 0.3f;
      c.vectors.push_back(v);
    }
    c.vectorCount = int32_t(c.vectors.size());
  }
};

// ---- Mesh topology ------------------------------------------------------------------------

TEST_F(Export3DTest, CylinderTopologyNormalsAndTrim) {
  CrystalRec c;
  c.plotScale = 40.0f;
  Export3DContext ctx;
  ctx.gXP = &c;
  // Sides: 2 pi R / edge with the edge within 4 to 15 pixels, at least 3.
  EXPECT_EQ(RoundObjectSides(ctx, 0.01f), 3u); // R 0.4 px
  EXPECT_EQ(RoundObjectSides(ctx, 0.5f), 31u); // R 20 px, edge 4
  EXPECT_EQ(RoundObjectSides(ctx, 2.5f), 41u); // R 100 px, edge 20 -> 15
  const Vertex P{0, 0, 0}, Q{1, 2, 3};
  for (uint32_t n : {1u, 2u, 8u}) {
    VertexArray v, nm;
    IndexArray ix;
    uint32_t s = 0;
    GenerateBondVertices(ctx, P, Q, n, &s, v, nm, ix, false, 0.5f, 0.4f, 0.1f);
    ASSERT_EQ(v.size(), size_t(s) * (n + 1));
    ASSERT_EQ(ix.size(), size_t(n) * s * 4 + size_t(n) * 2 * s);
    ASSERT_EQ(nm.size(), size_t(s) + 2);
    // The trim: 0.9 R cos(asin(r / R)) into each atom along the axis.
    const float len = Len(Q);
    const Vertex ring0 = v[0];
    const float along = Dot3(ring0, Q) / len;
    EXPECT_NEAR(along, 0.9f * 0.5f * std::cos(std::asin(0.1f / 0.5f)), 1e-5f);
    // Side normals: unit, radial, and each quad wound so that it faces the
    // way its normal points.
    for (uint32_t i = 0; i < s; i++) {
      EXPECT_NEAR(Len(nm[i]), 1.0f, 1e-5f);
      EXPECT_NEAR(Dot3(nm[i], Q), 0.0f, 1e-4f);
      const uint32_t *q = &ix[size_t(i) * 4];
      const Vertex face = CrossV(Minus(v[q[1]], v[q[0]]), Minus(v[q[2]], v[q[0]]));
      EXPECT_GT(Dot3(face, nm[i]), 0.0f);
    }
    // Caps: the start one faces back along the axis, the end one forward,
    // both wound outward.
    const size_t caps = size_t(n) * s * 4;
    const Vertex start = CrossV(Minus(v[ix[caps + 1]], v[ix[caps]]), Minus(v[ix[caps + 2]], v[ix[caps]]));
    EXPECT_LT(Dot3(start, Q), 0.0f);
    EXPECT_LT(Dot3(nm[s], Q), 0.0f);
    const size_t e = caps + s;
    const Vertex end = CrossV(Minus(v[ix[e + 1]], v[ix[e]]), Minus(v[ix[e + 2]], v[ix[e]]));
    EXPECT_GT(Dot3(end, Q), 0.0f);
    for (uint32_t k : ix)
      EXPECT_LT(k, v.size());
  }
  // No trim once the cylinder is as wide as the atom; nothing for an axis
  // that vanishes.
  VertexArray v, nm;
  IndexArray ix;
  uint32_t s = 0;
  GenerateBondVertices(ctx, P, Q, 1, &s, v, nm, ix, false, 0.1f, 0.1f, 0.2f);
  ASSERT_FALSE(v.empty());
  for (const Vertex &p : v)
    EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));
  EXPECT_NEAR(Dot3(v[0], Q) / Len(Q), 0.0f, 1e-5f);
  GenerateBondVertices(ctx, P, P, 1, &s, v, nm, ix, false, 0.0f, 0.0f, 0.1f);
  EXPECT_TRUE(v.empty());
}

TEST_F(Export3DTest, EllipsoidsAreClosedAndOutwardAndCutAwayOpensOneOctant) {
  CrystalRec c;
  c.plotScale = 30.0f;
  Export3DContext ctx;
  ctx.gXP = &c;
  const Vertex centre{1, -2, 0.5f};
  Vertex axes[3] = {{1 + 1.2f, -2, 0.5f}, {1, -2 + 0.8f, 0.5f + 0.1f}, {1, -2 - 0.05f, 0.5f + 0.5f}};
  // A closed surface wound outward: its face vectors sum to zero and its
  // signed volume is positive. Cutting the octant away keeps it closed and
  // takes an eighth of the volume.
  double volumes[2] = {0, 0};
  for (bool cut : {false, true}) {
    VertexArray v, n;
    IndexArray ix;
    SideFlagArray sides;
    ASSERT_TRUE(GenerateEllipsoidVertices(ctx, true, true, cut, axes, centre, v, n, sides, ix));
    ASSERT_EQ(ix.size() % 3, 0u);
    EXPECT_EQ(sides.size(), ix.size());
    ASSERT_EQ(n.size(), v.size());
    double sum[3] = {0, 0, 0}, area = 0, volume = 0;
    size_t flatFaces = 0;
    for (size_t k = 0; k < ix.size(); k += 3) {
      const Vertex a = Minus(v[ix[k]], centre), b = Minus(v[ix[k + 1]], centre), d = Minus(v[ix[k + 2]], centre);
      const Vertex face = CrossV(Minus(b, a), Minus(d, a));
      sum[0] += face.x, sum[1] += face.y, sum[2] += face.z;
      area += Len(face);
      volume += Dot3(a, CrossV(b, d)) / 6.0;
      for (uint32_t corner : {ix[k], ix[k + 1], ix[k + 2]})
        EXPECT_NEAR(Len(n[corner]), 1.0f, 1e-5f);
      const bool flat = Len(a) == 0.0f || Len(b) == 0.0f || Len(d) == 0.0f;
      flatFaces += flat;
      // Each corner's normal leans the way the face looks.
      if (Len(face) > 1e-6f) {
        for (uint32_t corner : {ix[k], ix[k + 1], ix[k + 2]})
          EXPECT_GT(Dot3(face, n[corner]), 0.0f) << "triangle " << k / 3;
      }
    }
    EXPECT_LT(std::sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]), 1e-4 * area);
    EXPECT_GT(volume, 0.0);
    EXPECT_EQ(flatFaces > 0, cut);
    volumes[cut] = volume;
  }
  EXPECT_NEAR(volumes[1] / volumes[0], 7.0 / 8.0, 0.01);
  // Rings: the count is a multiple of 4, and the sphere has 8k points per
  // ring, so the equator (the widest ring) holds twice as many points as
  // there are rings in a full turn.
  VertexArray v, n;
  IndexArray ix;
  SideFlagArray sides;
  Vertex sphere[3];
  SphereAxisEnds({0, 0, 0}, 1.0f, sphere);
  ASSERT_TRUE(GenerateEllipsoidVertices(ctx, false, false, false, sphere, {0, 0, 0}, v, n, sides, ix));
  std::set<std::tuple<float, float, float>> equatorPoints;
  for (const Vertex &p : v)
    if (std::fabs(p.z) < 1e-5f)
      equatorPoints.insert({p.x, p.y, p.z});
  const size_t equator = equatorPoints.size();
  // R = 30 px: edge = 7, 2 pi 30 / 7 = 26.9 -> 26 -> 28 rings, 56 equator points.
  EXPECT_EQ(equator, 56u);
  std::set<uint32_t> used(ix.begin(), ix.end());
  EXPECT_EQ(used.size(), v.size());
}

TEST_F(Export3DTest, OneFacePolyhedronIsWrittenBothWays) {
  CrystalRec &c = Example("Benzene");
  Show(c, kPolyhedralModel);
  // A planar ring of six carbon atoms as one face.
  std::vector<uint32_t> ring;
  for (uint32_t a = 0; a < c.atoms.size() && ring.size() < 6; a++)
    if (c.spheres[c.atoms[a].atomType].element == TwoCharsToShort("C "))
      ring.push_back(a);
  ASSERT_EQ(ring.size(), 6u);
  Polyhedron poly;
  poly.centreAtom = ring[0];
  poly.faceCount = 1;
  poly.faces.push_back({6, {ring.begin(), ring.end()}});
  AtomRecord centre = c.atoms[ring[0]];
  centre.polyhedron.Hold(poly);
  Export3DContext ctx;
  ctx.gXP = &c;
  VertexArray v, n;
  IndexArray ix;
  GeneratePolyVertices(ctx, centre, v, n, ix);
  ASSERT_EQ(v.size(), 6u);
  ASSERT_EQ(n.size(), 2u);
  ASSERT_EQ(ix.size(), 12u);
  EXPECT_FLOAT_EQ(n[0].x, -n[1].x);
  EXPECT_FLOAT_EQ(n[0].z, -n[1].z);
  EXPECT_GE(n[0].z, 0.0f);
  for (size_t k = 0; k < 6; k++)
    EXPECT_EQ(ix[6 + k], ix[5 - k]);
  EdgeSet edges;
  GeneratePolyEdges(poly, ix, edges);
  EXPECT_EQ(edges.Edges().size(), 6u);

  // In the files: the STL gains the fan twice (2 x 4 triangles) over the
  // edges-only mode; the COLLADA face list is the face twice, normals 0, 1.
  c.atoms[ring[0]].polyhedron.Hold(poly);
  SetGivenPolyMode(c.sites[c.atoms[ring[0]].site], 3);
  uint32_t edgesOnly = 0, faces = 0;
  Stl(c, &edgesOnly);
  SetGivenPolyMode(c.sites[c.atoms[ring[0]].site], 15);
  Stl(c, &faces);
  EXPECT_EQ(faces, edgesOnly + 8);
  const std::string text = Dae(c);
  const size_t list = text.find("material=\"OVPolyFace0\"");
  ASSERT_NE(list, std::string::npos);
  EXPECT_EQ(text.substr(text.rfind("<polylist count=\"", list), 18), "<polylist count=\"2");
  EXPECT_NE(text.find("<vcount>6 6</vcount>", list), std::string::npos);
  const size_t p = text.find("<p>", list);
  const std::string indices = text.substr(p + 3, text.find("</p>", p) - p - 3);
  std::istringstream words(indices);
  std::vector<int> normalsSeen;
  for (int vertex, normal; words >> vertex >> normal;)
    normalsSeen.push_back(normal);
  EXPECT_EQ(normalsSeen, std::vector<int>({0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1}));
}

// ---- Export lists -------------------------------------------------------------------------

TEST_F(Export3DTest, BondSetFollowsTheModelRules) {
  CrystalRec &c = Example("Benzene");
  Export3DContext ctx;
  ctx.gXP = &c;
  Show(c, kBallAndStickModel);
  ASSERT_TRUE(MakeBondSet(ctx));
  const size_t all = ctx.gBonds.Count();
  ASSERT_GT(all, 0u);
  // Insertion order and one record per pair, lower index first.
  std::set<std::pair<uint32_t, uint32_t>> pairs;
  for (const BondRec &b : ctx.gBonds.Records()) {
    EXPECT_LT(b.a, b.b);
    EXPECT_TRUE(pairs.insert({b.a, b.b}).second);
  }
  // Space filling draws no bond; wire frame maps cylinders to lines.
  Show(c, kSpaceFillingModel);
  ASSERT_TRUE(MakeBondSet(ctx));
  EXPECT_EQ(ctx.gBonds.Count(), 0u);
  for (int k = 0; k < c.bondSpecCount; k++)
    c.bondSpecs[size_t(k)].style = kBondPhotoMultiBand;
  Show(c, kWireFrameModel);
  ASSERT_TRUE(MakeBondSet(ctx));
  ASSERT_EQ(ctx.gBonds.Count(), all);
  for (const BondRec &b : ctx.gBonds.Records()) {
    EXPECT_EQ(b.style, kBondSegmentedLine);
    EXPECT_EQ(b.pieces, 8u);
    EXPECT_FLOAT_EQ(b.bondRadius, 2.0f / c.plotScale);
    EXPECT_FALSE(ShouldDrawAtom(ctx, b.a));
  }
  // Dashed: an even number of pieces, 0 (and no bond) when too short.
  for (int k = 0; k < c.bondSpecCount; k++)
    c.bondSpecs[size_t(k)].style = kBondDashedLine;
  Show(c, kBallAndStickModel);
  ASSERT_TRUE(MakeBondSet(ctx));
  ASSERT_EQ(ctx.gBonds.Count(), all);
  for (const BondRec &b : ctx.gBonds.Records()) {
    EXPECT_EQ(b.pieces % 2, 0u);
    EXPECT_EQ(b.opacity2, 0.0f);
  }
  const float scale = c.plotScale;
  c.plotScale = 1.0f; // a dash of 10 A: every bond is shorter than half of it
  ASSERT_TRUE(MakeBondSet(ctx));
  EXPECT_EQ(ctx.gBonds.Count(), 0u);
  c.plotScale = scale;
  // Stick model: an atom with one bond carries no ball, with more a joint.
  for (int k = 0; k < c.bondSpecCount; k++)
    c.bondSpecs[size_t(k)].style = kBondPhotoRendered;
  Show(c, kStickModel);
  ASSERT_TRUE(MakeBondSet(ctx));
  for (uint32_t a = 0; a < c.atoms.size(); a++) {
    const uint32_t links = GetAtomConnectivity(ctx, a);
    EXPECT_EQ(ShouldDrawAtom(ctx, a), links != 1) << a;
  }
}

TEST_F(Export3DTest, PolyhedralModelKeepsOnlyCentreBondsAndCompleteHosts) {
  CrystalRec &c = Example("Rutile");
  Show(c, kPolyhedralModel);
  Export3DContext ctx;
  ctx.gXP = &c;
  for (AsymmetricUnitRecord &s : c.sites)
    SetGivenPolyMode(s, 15); // faces: the bonds are hidden inside
  ASSERT_TRUE(MakeBondSet(ctx));
  EXPECT_EQ(ctx.gBonds.Count(), 0u);
  ASSERT_TRUE(MakePolyIndexList(ctx));
  ASSERT_FALSE(ctx.gPolyHosts.empty());
  for (uint32_t h : ctx.gPolyHosts)
    EXPECT_GE(c.atoms[h].bonds.size(), c.sites[c.atoms[h].site].coordination);
  // A mode that shows its bonds as wires keeps the bonds of the centres,
  // as lines; bonds between two non-centres never show.
  for (AsymmetricUnitRecord &s : c.sites)
    SetGivenPolyMode(s, 11);
  ASSERT_TRUE(MakeBondSet(ctx));
  ASSERT_GT(ctx.gBonds.Count(), 0u);
  for (const BondRec &b : ctx.gBonds.Records()) {
    const bool centreA = AtomPolyhedron(&c, c.atoms[b.a]) && AtomPolyhedron(&c, c.atoms[b.a])->centreAtom == b.a;
    const bool centreB = AtomPolyhedron(&c, c.atoms[b.b]) && AtomPolyhedron(&c, c.atoms[b.b])->centreAtom == b.b;
    EXPECT_TRUE(centreA || centreB);
    EXPECT_EQ(b.style, kBondPlainLine);
  }
  // The STL of a model whose bonds all hide in faces has no bond triangles:
  // the same count as with every bond style blank.
  for (AsymmetricUnitRecord &s : c.sites)
    SetGivenPolyMode(s, 15);
  uint32_t withBonds = 0, without = 0;
  Stl(c, &withBonds);
  for (int k = 0; k < c.bondSpecCount; k++)
    c.bondSpecs[size_t(k)].style = kBondBlank;
  Stl(c, &without);
  EXPECT_EQ(withBonds, without);
}

TEST_F(Export3DTest, CellFrameRangeAndDashes) {
  CrystalRec &c = Example("NaCl");
  Show(c, kBallAndStickModel);
  Export3DContext ctx;
  ctx.gXP = &c;
  std::vector<VertexArray> v, n;
  std::vector<IndexArray> ix;
  std::vector<uint32_t> pieces;
  uint32_t s = 0;
  c.unitCellOptions[0] = 1; // one cell
  c.unitCellOptions[1] = 0; // dashed
  for (float scale : {0.5f, 40.0f, 5000.0f}) {
    c.plotScale = scale;
    ASSERT_TRUE(GenerateUnitCellVertices(ctx, v, n, ix, pieces, &s, 1.0f));
    ASSERT_EQ(v.size(), 12u);
    for (uint32_t p : pieces) {
      EXPECT_GE(p, 2u);
      EXPECT_LE(p, 128u);
      EXPECT_EQ(p % 2, 0u);
    }
    for (int k = 0; k < 3; k++) {
      EXPECT_EQ(ctx.gUnitCellMin[k], std::trunc((c.plotRange[2 * k] + c.plotRange[2 * k + 1] + 1e-6f) * 0.5f));
      EXPECT_EQ(ctx.gUnitCellMax[k], ctx.gUnitCellMin[k] + 1.0f);
    }
  }
  c.unitCellOptions[1] = 1;
  ASSERT_TRUE(GenerateUnitCellVertices(ctx, v, n, ix, pieces, &s, 1.0f));
  EXPECT_EQ(std::set<uint32_t>(pieces.begin(), pieces.end()), std::set<uint32_t>{1});
}

// ---- STL ------------------------------------------------------------------------------------

TEST_F(Export3DTest, STLLayoutCountAndPieces) {
  CrystalRec &c = Example("Benzene");
  Show(c, kBallAndStickModel);
  // Nothing visible: the header and a count of 0.
  for (AsymmetricUnitRecord &s : c.sites)
    s.visible = 0;
  c.showUnitCell = 0;
  std::string bytes = Stl(c);
  ASSERT_EQ(bytes.size(), 84u);
  EXPECT_EQ(bytes.substr(0, 21), "Orvalisphere STL file");
  EXPECT_EQ(bytes.substr(21, 59), std::string(59, '\0'));
  EXPECT_EQ(StlCount(bytes), 0u);
  for (AsymmetricUnitRecord &s : c.sites)
    s.visible = 1;
  // Every model: the count is (size - 84) / 50 and each export its own.
  for (int model = 1; model <= 6; model++) {
    Show(c, model);
    uint32_t triangles = 0;
    bytes = Stl(c, &triangles);
    ASSERT_EQ((bytes.size() - 84) % 50, 0u);
    EXPECT_EQ(StlCount(bytes), (bytes.size() - 84) / 50) << model;
    EXPECT_EQ(StlCount(bytes), triangles);
    EXPECT_EQ(Stl(c).size(), bytes.size());
  }
  // Only the even pieces of a dashed bond are drawn, each a closed
  // cylinder: two triangles per side and s - 2 per cap.
  Show(c, kBallAndStickModel);
  for (AtomRecord &a : c.atoms)
    a.visible = 0;
  c.atoms[0].visible = 1;
  const uint32_t partner = c.atoms[0].bonds.at(0);
  c.atoms[partner].visible = 1;
  c.spheres[c.atoms[0].atomType].drawnRadius = 0.0f; // no atom triangles
  c.spheres[c.atoms[partner].atomType].drawnRadius = 0.0f;
  for (int k = 0; k < c.bondSpecCount; k++)
    c.bondSpecs[size_t(k)].style = kBondDashedLine;
  Export3DContext ctx;
  ctx.gXP = &c;
  ASSERT_TRUE(MakeBondSet(ctx));
  ASSERT_EQ(ctx.gBonds.Count(), 1u);
  const BondRec bond = ctx.gBonds.Records()[0];
  const uint32_t sides = RoundObjectSides(ctx, bond.bondRadius);
  EXPECT_EQ(StlCount(Stl(c)), bond.pieces / 2 * (2 * sides + 2 * (sides - 2)));
}

// ---- COLLADA -------------------------------------------------------------------------------

TEST_F(Export3DTest, EmptyModelOmitsEmptyLibrariesAndKeepsTheScene) {
  CrystalRec &c = Example("Benzene");
  Show(c, kWireFrameModel); // no atom-type effects either
  for (AsymmetricUnitRecord &s : c.sites)
    s.visible = 0;
  c.showUnitCell = 0;
  const std::string text = Dae(c);
  EXPECT_EQ(Count(text, "<library_effects>"), 0u);
  EXPECT_EQ(Count(text, "<library_materials>"), 0u);
  EXPECT_EQ(Count(text, "<library_geometries>"), 0u);
  EXPECT_EQ(Count(text, "<light id="), 3u);
  EXPECT_EQ(Count(text, "<camera id=\"OVCamera\">"), 1u);
  EXPECT_EQ(Count(text, "<node name="), 5u); // plot, camera, ambient and two lights
  EXPECT_EQ(text.find("<created>2023-11-14T22:13:20Z</created>\n<modified>2023-11-14T22:13:20Z</modified>"),
            text.find("<created>"));
  EXPECT_EQ(text.back(), '\n');
}

TEST_F(Export3DTest, BondHalvesTransparencyAndNumbering) {
  CrystalRec &c = Example("Benzene");
  Show(c, kBallAndStickModel);
  for (int k = 0; k < c.bondSpecCount; k++)
    c.bondSpecs[size_t(k)].style = kBondDashedLine;
  const std::string text = Dae(c);
  Export3DContext ctx;
  ctx.gXP = &c;
  ASSERT_TRUE(MakeBondSet(ctx));
  const size_t bonds = ctx.gBonds.Count();
  // Dashed bonds: the gap half has no effect, material, geometry or node;
  // the numbers still run through every bond.
  EXPECT_EQ(Count(text, "<effect id=\"OVBondEffect"), bonds);
  EXPECT_EQ(Count(text, "-1\""), 0u);
  EXPECT_NE(text.find("OVBondGeometry" + std::to_string(bonds - 1) + "-0"), std::string::npos);
  EXPECT_EQ(Count(text, "<node name=\"OVBond"), bonds);
  // Opacity 1 writes no transparency; the translucent atom style does.
  EXPECT_EQ(Count(text, "<transparency>"), 0u);
  c.spheres[0].style = 13;
  const std::string translucent = Dae(c);
  EXPECT_EQ(Count(translucent, "<transparency>"), 1u);
  EXPECT_NE(translucent.find("<float>0.500000</float>"), std::string::npos);
}

TEST_F(Export3DTest, EveryModelWritesAValidDocument) {
  CrystalRec &rutile = RutileWithEllipsoids();
  Decorate(rutile);
  CrystalRec &benzene = Example("Benzene");
  Decorate(benzene);
  for (CrystalRec *c : {&rutile, &benzene})
    for (int model = 1; model <= 6; model++) {
      Show(*c, model);
      int result = 0;
      const std::string text = Dae(*c, &result);
      EXPECT_EQ(result, 1) << model;
      EXPECT_EQ(text.find("nan"), std::string::npos);
      if (model == kThermalEllipsoidModel && c == &rutile) {
        EXPECT_GT(Count(text, "OVEllipseAttrGeometry"), 0u);
        EXPECT_GT(Count(text, "<lines count="), 0u);
        EXPECT_EQ(Count(text, "<effect id=\"OVJointEffect"), 0u);
      }
    }
}

// Every atom's positions, normals and corners, and every bond's normals, in
// the document are the generator's mesh as printf writes it, whether the
// writer formatted the numbers or took text it had written for an earlier
// object: spheres of two kinds and two-colour corners (most arrays repeat),
// and thermal ellipsoids of many orientations (more distinct arrays than
// the writer keeps).
TEST_F(Export3DTest, DocumentArraysAreTheMeshesAsPrintfWritesThem) {
  auto f3 = [](float v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f", double(v));
    return std::string(buf);
  };
  auto points = [&](const VertexArray &v, const float *centre) {
    std::string text;
    for (const Vertex &p : v) {
      const float shift[3] = {centre ? centre[0] : 0.0f, centre ? centre[1] : 0.0f, centre ? centre[2] : 0.0f};
      text += f3(p.x - shift[0]) + " " + f3(p.y - shift[1]) + " " + f3(p.z - shift[2]) + "  ";
    }
    return text;
  };
  // The arrays of a document by id.
  auto arrays = [](const std::string &doc) {
    std::map<std::string, std::string> found;
    const std::string open = "<float_array id=\"";
    for (size_t at = doc.find(open); at != std::string::npos; at = doc.find(open, at + 1)) {
      const size_t id = at + open.size(), from = doc.find('>', at) + 1;
      found[doc.substr(id, doc.find('"', id) - id)] = doc.substr(from, doc.find("</float_array>", from) - from);
    }
    return found;
  };
  CrystalRec &rocksalt = Example("NaCl");
  ASSERT_TRUE(SetPlotRange(Front(), 0, 1.5f, 0, 1.5f, 0, 1.5f));
  Show(rocksalt, kBallAndStickModel);
  rocksalt.spheres[1].style = 19;
  rocksalt.showUnitCell = 0;
  CrystalRec &rutile = RutileWithEllipsoids();
  ASSERT_TRUE(SetPlotRange(Front(), 0, 2, 0, 2, 0, 2));
  Show(rutile, kThermalEllipsoidModel);
  for (CrystalRec *c : {&rocksalt, &rutile}) {
    const std::string doc = Dae(*c);
    std::map<std::string, std::string> array = arrays(doc);
    size_t geometry = 0;
    Export3DContext ctx;
    ctx.gXP = c;
    ASSERT_TRUE(MakeBondSet(ctx));
    VertexArray v, n;
    IndexArray ix;
    SideFlagArray sides;
    size_t number = 0, checked = 0;
    std::set<std::string> distinctNormals;
    ForEachSiteAtom(*c, [&](uint32_t a, const AsymmetricUnitRecord &site) {
      if (!ShouldDrawAtom(ctx, a))
        return;
      const AtomRecord &atom = c->atoms[a];
      const SphereRecord &type = c->spheres[atom.atomType];
      const Vertex centre{atom.cart[0], atom.cart[1], atom.cart[2]};
      Vertex axes[3];
      if (c->modelType == kThermalEllipsoidModel && !site.ignoreEllipsoid) {
        EllipsoidAxisEnds(ctx, atom, axes);
        ASSERT_TRUE(GenerateEllipsoidVertices(ctx, false, false, IsCutAwayEllipsoidStyle(site.ellipsoidStyle), axes,
                                              centre, v, n, sides, ix));
      } else {
        SphereAxisEnds(centre, type.drawnRadius, axes);
        ASSERT_TRUE(GenerateEllipsoidVertices(ctx, IsTwoColourAtomStyle(type.style), IsEightSectorAtomStyle(type.style),
                                              false, axes, centre, v, n, sides, ix));
      }
      const std::string id = std::to_string(number++);
      ASSERT_EQ(array["OVAtomPositions" + id], points(v, c->plotCentre)) << id;
      const std::string normals = points(n, nullptr);
      ASSERT_EQ(array["OVAtomNormals" + id], normals) << id;
      distinctNormals.insert(normals);
      std::string corners;
      for (size_t k = 0; k < ix.size(); k++) {
        corners += std::to_string(ix[k]) + " ";
        if (!sides.empty())
          corners += sides[k] ? "1 " : "0 ";
      }
      geometry = doc.find(
          "<triangles count=\"" + std::to_string(ix.size() / 3) + "\" material=\"OVAtomTriangle" + id + "\"", geometry);
      const size_t p = doc.find("<p>", geometry);
      ASSERT_EQ(doc.substr(p + 3, corners.size() + 4), corners + "</p>") << id;
      checked++;
    });
    EXPECT_GT(checked, 40u);
    EXPECT_EQ(checked, Count(doc, "<geometry id=\"OVAtomGeometry"));
    if (c == &rutile) {
      EXPECT_GT(distinctNormals.size(), 20u);
    }
    size_t b = 0;
    for (const BondRec &bond : ctx.gBonds.Records()) {
      uint32_t s = 0;
      GenerateBondVertices(ctx, bond.start, bond.end, bond.pieces, &s, v, n, ix, true, bond.radiusA, bond.radiusB,
                           bond.bondRadius);
      const std::string id = std::to_string(b++) + "-0";
      if (!v.empty() && bond.opacity1 > 0.0f) {
        ASSERT_EQ(array["OVBondNormals" + id], points(n, nullptr)) << id;
        ASSERT_EQ(array["OVBondPositions" + id], points(v, c->plotCentre)) << id;
      }
    }
    EXPECT_GT(b, 0u);
  }
}

// ---- Commands and failures -------------------------------------------------------------------

TEST_F(Export3DTest, CommandsDialogsAndFailures) {
  CrystalRec &c = Example("NaCl");
  Show(c, kBallAndStickModel);
  host.windowTitle = "NaCl";
  EXPECT_EQ(DoExport3DCommand(Front(), FourCharsToLong("xCIF")), -9874);
  // A cancelled dialog writes nothing.
  EXPECT_EQ(DoExport3DCommand(Front(), kCmdExportSTL), 0);
  ASSERT_EQ(host.saveDialogs.size(), 1u);
  EXPECT_EQ(host.saveDialogs[0], std::make_pair(std::string("Save STL file"), std::string("NaCl.stl")));
  const auto dir = std::filesystem::temp_directory_path() / ("ov3d-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  host.savePaths = {dir / "a.stl", dir / "a.dae", dir / "missing" / "b.dae"};
  EXPECT_TRUE(DoWriteSTLFile(Front()));
  EXPECT_EQ(DoWriteCOLLADAFile(Front(), true), 1);
  EXPECT_EQ(host.saveDialogs.back(), std::make_pair(std::string("Save COLLADA schema file"), std::string("NaCl.dae")));
  EXPECT_EQ(DoWriteCOLLADAFile(Front(), true), 0);
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Sorry, there was an error whilst attempting to open the file.");
  std::ifstream dae(dir / "a.dae");
  const std::string text((std::istreambuf_iterator<char>(dae)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(collada::CheckDocument(text).empty());
  EXPECT_NE(text.find("<authoring_tool> Orvalisphere for Linux 1.0.0 </authoring_tool>"), std::string::npos);
  EXPECT_EQ(std::filesystem::file_size(dir / "a.stl") % 50, 34u);
  // A full device is a write failure, told and not reported as success.
  if (std::filesystem::exists("/dev/full")) {
    host.savePaths = {"/dev/full"};
    EXPECT_FALSE(DoWriteSTLFile(Front()));
    EXPECT_EQ(host.alerts.back().message, "Sorry, there was an error whilst writing the file.");
    EXPECT_TRUE(std::filesystem::exists("/dev/full")); // a device is never removed
  }
  std::filesystem::remove_all(dir);

  // Allocation failures name their step. The lists: nothing written.
  host.alerts.clear();
  for (const char *step : {"MakeBondSet", "MakePolyIndexList", "MakeVecIndexList"}) {
    const std::string bytes = Written(c, [&](Export3DContext &ctx) {
      ctx.failAllocationAt = step;
      EXPECT_FALSE(WriteSTLFile(ctx));
    });
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(host.alerts.back().message,
              std::string("A memory allocation request failed (") + step + "); export has been cancelled.");
  }
  // An STL body stops alone; the count still matches the records.
  const std::string partial = Written(c, [](Export3DContext &ctx) {
    ctx.failAllocationAt = "WriteAtomGeometries";
    EXPECT_TRUE(WriteSTLFile(ctx));
  });
  EXPECT_EQ(StlCount(partial), (partial.size() - 84) / 50);
  EXPECT_GT(StlCount(partial), 0u); // bonds and cell still written
  EXPECT_EQ(host.alerts.back().message,
            "A memory allocation request failed (WriteAtomGeometries); export has been cancelled.");
  // A COLLADA section ends the export.
  for (const char *step :
       {"WriteAtomGeometries", "WriteBondGeometriesCallback", "WriteUnitCellGeometries", "GenerateEllipsoidVertices"}) {
    int result = 1;
    Dae(c, &result, step);
    EXPECT_EQ(result, 0) << step;
    EXPECT_EQ(host.alerts.back().message,
              std::string("A memory allocation request failed (") + step + "); export has been cancelled.");
  }
}

// Writes the STL and COLLADA files of a crystal and a molecule in every
// model, with our counts, for tests/oracle/export3d_oracle.py; skipped
// unless asked.
TEST_F(Export3DTest, OracleDump) {
  const char *out = std::getenv("OV_EXPORT3D_DUMP_DIR");
  if (!out)
    GTEST_SKIP() << "run by tests/oracle/export3d_oracle.py";
  const std::filesystem::path folder(out);
  std::ofstream manifest(folder / "manifest.txt");
  CrystalRec &rutile = RutileWithEllipsoids();
  Decorate(rutile);
  for (AsymmetricUnitRecord &s : rutile.sites)
    SetGivenPolyMode(s, 15); // polyhedra in the polyhedral model
  CrystalRec &benzene = Example("Benzene");
  Decorate(benzene);
  const std::pair<const char *, CrystalRec *> all[] = {{"rutile", &rutile}, {"benzene", &benzene}};
  for (const auto &[name, c] : all)
    for (int model = 1; model <= 6; model++) {
      Show(*c, model);
      const std::string stem = std::string(name) + "-" + std::to_string(model);
      uint32_t triangles = 0;
      std::ofstream(folder / (stem + ".stl"), std::ios::binary) << Stl(*c, &triangles);
      const std::string dae = Dae(*c);
      std::ofstream(folder / (stem + ".dae"), std::ios::binary) << dae;
      const auto counts = collada::PrimitiveCounts(dae);
      auto get = [&](const char *k) { return counts.count(k) ? counts.at(k) : 0L; };
      manifest << stem << "\t" << triangles << "\t" << get("triangles") << "\t" << get("polylist") << "\t"
               << get("lines") << "\t" << Count(dae, "<geometry id=") << "\t" << Count(dae, "<material id=") << "\n";
    }
}

} // namespace

namespace {

// The checker itself catches the faults it is there for.
TEST(ColladaChecker, FindsBrokenReferencesAndCounts) {
  FakeHost host;
  gPrefs = gFactoryPrefs;
  Window w(host);
  ASSERT_TRUE(OpenStructureFile(w.ref(), std::filesystem::path(OV_SOURCE_DIR) / "resources/examples/NaCl.ovtx"));
  CrystalRec &c = w.crystal();
  c.modelType = kBallAndStickModel;
  ASSERT_TRUE(RenderSpheres(&c));
  const std::string good = Dae(c);
  ASSERT_TRUE(collada::CheckDocument(good).empty());
  auto broken = [&](const std::string &from, const std::string &to) {
    std::string text = good;
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    return collada::CheckDocument(text);
  };
  EXPECT_FALSE(broken("url=\"#OVAtomGeometry0\"", "url=\"#OVAtomGeometry999\"").empty());
  EXPECT_FALSE(broken("<triangles count=\"", "<triangles count=\"1").empty());
  EXPECT_FALSE(broken("<p>0 ", "<p>999999 ").empty());
  EXPECT_FALSE(broken("</float_array>", " 1.0</float_array>").empty());
  EXPECT_FALSE(broken("<effect id=\"OVAtomEffect0\">", "<effect id=\"OVAtomEffect1\">").empty());
}

// The numbers of the mesh files: every float written as printf writes it,
// ties to even included, and other doubles as well.
TEST(Export3DNumbers, FixedTextIsPrintfs) {
  std::mt19937 rng(17);
  std::uniform_int_distribution<uint32_t> bits;
  std::vector<double> values = {0.0, -0.0, 0.0625, -0.0625, 0.0005, 1.0005, 2.5e-4, -4e-4, 999999999.0, 1e9, 3.4e38,
                                65535.0 / 65535.0, 40000.0 / 65535.0, std::nan(""), HUGE_VAL, 0.1, 1.0 / 3.0};
  for (int k = 0; k < 200000; k++) {
    float f;
    const uint32_t b = bits(rng);
    std::memcpy(&f, &b, sizeof f);
    values.push_back(k % 2 ? double(f) : double(static_cast<float>(static_cast<int32_t>(b) % 2000000) / 1024.0f));
  }
  char ours[kMaxFixedChars], theirs[512];
  for (double v : values)
    for (int precision : {1, 2, 3, 4, 5, 6}) {
      const double shown = std::isfinite(v) ? v : 0.0;
      std::snprintf(theirs, sizeof theirs, "%.*f", precision, shown);
      const std::string text(ours, WriteFixed(ours, v, precision));
      ASSERT_EQ(text, theirs) << v << " at " << precision;
    }
  // Whole numbers, at every change of length.
  char digits[24];
  for (uint64_t v = 1; v < UINT64_MAX / 10; v *= 10)
    for (uint64_t w : {v - 1, v, v + 1, 2 * v - 1, 10 * v - 1})
      ASSERT_EQ(std::string(digits, WriteDecimal(digits, w)), std::to_string(w));
  ASSERT_EQ(std::string(digits, WriteDecimal(digits, UINT64_MAX)), std::to_string(UINT64_MAX));
}

} // namespace
