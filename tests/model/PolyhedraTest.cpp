#include "Polyhedra.h"

#include "FakeHost.h"
#include "Geometry.h"
#include "PolyhedraStructures.h"
#include "StructureArrays.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr float kVolumeTolerance = 1e-3f; // relative
constexpr float kLengthTolerance = 1e-3f; // Angstrom

// A structure put together atom by atom: each atom is a site of its own, at
// a Cartesian position given directly (fractional = Cartesian / 10 in a
// 10 A cube).
struct Synthetic {
  CrystalRec c;

  explicit Synthetic(bool molecule = true) {
    InitBlankCrystalRec(&c);
    c.molecule = molecule ? 1 : 0;
    GetMetricTensor(c.a, c.b, c.c, c.alpha, c.beta, c.gamma, c.metricTensor);
    const float O[9] = {10, 0, 0, 0, 10, 0, 0, 0, 10};
    std::copy(O, O + 9, c.orientationMatrix);
  }

  uint32_t Add(const char *label, const char *element, float x, float y, float z) {
    const uint32_t index = static_cast<uint32_t>(c.atoms.size());
    AsymmetricUnitRecord site;
    std::snprintf(site.label, sizeof site.label, "%s", label);
    site.elements[0] = polytest::Element(element);
    site.occupancies[0] = 1.0f;
    site.xyz[0] = x / 10.0f, site.xyz[1] = y / 10.0f, site.xyz[2] = z / 10.0f;
    site.firstAtom = site.lastAtom = static_cast<int32_t>(index);
    site.atomsPerCell = 1;
    AtomRecord atom;
    atom.site = index;
    std::copy(site.xyz, site.xyz + 3, atom.xyz);
    atom.cart[0] = x, atom.cart[1] = y, atom.cart[2] = z;
    c.sites.push_back(site);
    c.atoms.push_back(atom);
    c.siteCount = c.atomCount = static_cast<int32_t>(c.atoms.size());
    return index;
  }

  // A centre with ligands at the given offsets from it, bonded in order.
  uint32_t Centre(const std::vector<std::array<float, 3>> &ligands, float cx = 0, float cy = 0, float cz = 0) {
    const uint32_t centre = Add("M", "Ti", cx, cy, cz);
    for (size_t k = 0; k < ligands.size(); ++k) {
      const std::string label = "L" + std::to_string(k + 1);
      const uint32_t l = Add(label.c_str(), "O", cx + ligands[k][0], cy + ligands[k][1], cz + ligands[k][2]);
      AddBondListEntry(&c, static_cast<int32_t>(centre), static_cast<int32_t>(l));
    }
    return centre;
  }

  const Polyhedron *Poly(uint32_t atom) { return AtomPolyhedron(&c, c.atoms[atom]); }
  float Distance(uint32_t i, uint32_t j) const { return VecBondDist(c.atoms[i].cart, c.atoms[j].cart); }
};

std::vector<uint32_t> FaceSizes(const Polyhedron &p) {
  std::vector<uint32_t> sizes;
  for (const PolyFace &f : p.faces)
    sizes.push_back(f.vertexCount);
  std::sort(sizes.begin(), sizes.end());
  return sizes;
}

// Every face's consecutive vertices (the last joined to the first) are an
// edge of the expected length: the outline is walked in order.
void ExpectOutlinesWalkEdges(const CrystalRec &c, const Polyhedron &p, float edge) {
  for (const PolyFace &f : p.faces) {
    ASSERT_EQ(f.vertices.size(), f.vertexCount);
    for (size_t i = 0; i < f.vertexCount; ++i) {
      const float d = VecBondDist(c.atoms[f.vertices[i]].cart, c.atoms[f.vertices[(i + 1) % f.vertexCount]].cart);
      EXPECT_NEAR(d, edge, kLengthTolerance) << "face edge " << i;
    }
  }
}

// Volume of a centrosymmetric octahedron from three non-opposite half
// diagonals: 4/3 |det(v1, v2, v3)|.
float CentrosymmetricOctahedronVolume(const CrystalRec &c, const Polyhedron &p) {
  const float *centre = c.atoms[p.centreAtom].cart;
  std::vector<std::array<double, 3>> picked;
  for (const PolyFace &f : p.faces)
    for (uint32_t v : f.vertices) {
      const float *x = c.atoms[v].cart;
      std::array<double, 3> d = {double(x[0]) - centre[0], double(x[1]) - centre[1], double(x[2]) - centre[2]};
      bool opposite = false;
      for (const auto &q : picked)
        if (std::fabs(q[0] + d[0]) + std::fabs(q[1] + d[1]) + std::fabs(q[2] + d[2]) < 1e-3 ||
            std::fabs(q[0] - d[0]) + std::fabs(q[1] - d[1]) + std::fabs(q[2] - d[2]) < 1e-3)
          opposite = true;
      if (!opposite && picked.size() < 3)
        picked.push_back(d);
    }
  if (picked.size() < 3)
    return 0.0f;
  const auto &a = picked[0], &b = picked[1], &e = picked[2];
  const double det =
      a[0] * (b[1] * e[2] - b[2] * e[1]) - a[1] * (b[0] * e[2] - b[2] * e[0]) + a[2] * (b[0] * e[1] - b[1] * e[0]);
  return static_cast<float>(4.0 / 3.0 * std::fabs(det));
}

bool LogHas(const FakeHost &host, const std::string &line) {
  const auto lines = host.LogLines();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// ---- Shapes ---------------------------------------------------------------------------

TEST(PolyhedraShapes, TetrahedronOctahedronAndCubeHaveTheirFacesAndVolumes) {
  FakeHost host;
  {
    Synthetic s;
    const float r = 1.2f;
    const uint32_t m = s.Centre({{r, r, r}, {r, -r, -r}, {-r, r, -r}, {-r, -r, r}});
    DefinePolyhedra(&s.c);
    const Polyhedron *p = s.Poly(m);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->centreAtom, m);
    EXPECT_EQ(p->vertexCount, 4u);
    EXPECT_EQ(FaceSizes(*p), (std::vector<uint32_t>{3, 3, 3, 3}));
    const float edge = 2.0f * std::sqrt(2.0f) * r;
    ExpectOutlinesWalkEdges(s.c, *p, edge);
    EXPECT_NEAR(GetPolyVolume(&s.c, p), edge * edge * edge / (6.0f * std::sqrt(2.0f)),
                kVolumeTolerance * 8.0f * r * r * r / 3.0f);
  }
  {
    Synthetic s;
    const float d = 2.0f;
    const uint32_t m = s.Centre({{d, 0, 0}, {-d, 0, 0}, {0, d, 0}, {0, -d, 0}, {0, 0, d}, {0, 0, -d}});
    DefinePolyhedra(&s.c);
    const Polyhedron *p = s.Poly(m);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->vertexCount, 6u);
    EXPECT_EQ(FaceSizes(*p), std::vector<uint32_t>(8, 3));
    ExpectOutlinesWalkEdges(s.c, *p, d * std::sqrt(2.0f));
    EXPECT_NEAR(GetPolyVolume(&s.c, p), 4.0f / 3.0f * d * d * d, kVolumeTolerance * 32.0f / 3.0f);
  }
  {
    Synthetic s;
    const float h = 1.3f;
    std::vector<std::array<float, 3>> corners;
    for (int k = 0; k < 8; ++k)
      corners.push_back({k & 1 ? h : -h, k & 2 ? h : -h, k & 4 ? h : -h});
    const uint32_t m = s.Centre(corners);
    DefinePolyhedra(&s.c);
    const Polyhedron *p = s.Poly(m);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->vertexCount, 8u);
    EXPECT_EQ(FaceSizes(*p), std::vector<uint32_t>(6, 4));
    ExpectOutlinesWalkEdges(s.c, *p, 2.0f * h);
    const float side = 2.0f * h;
    EXPECT_NEAR(GetPolyVolume(&s.c, p), side * side * side, kVolumeTolerance * side * side * side);
  }
}

TEST(PolyhedraShapes, FlatSetsMakeOneFaceAndARaisedCentreMakesAPyramid) {
  FakeHost host;
  {
    // Square planar: one square in outline order, the centre not added.
    Synthetic s;
    const uint32_t m = s.Centre({{2, 0, 0}, {-2, 0, 0}, {0, 2, 0}, {0, -2, 0}});
    DefinePolyhedra(&s.c);
    const Polyhedron *p = s.Poly(m);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->faceCount, 1u);
    EXPECT_EQ(p->vertexCount, 4u);
    ExpectOutlinesWalkEdges(s.c, *p, 2.0f * std::sqrt(2.0f));
    EXPECT_EQ(std::count(p->faces[0].vertices.begin(), p->faces[0].vertices.end(), m), 0);
  }
  {
    // Three ligands around a centre in their plane: one triangle, bonds order.
    Synthetic s;
    const float h = std::sqrt(3.0f);
    const uint32_t m = s.Centre({{2, 0, 0}, {-1, h, 0}, {-1, -h, 0}});
    DefinePolyhedra(&s.c);
    const Polyhedron *p = s.Poly(m);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->faceCount, 1u);
    EXPECT_EQ(p->vertexCount, 3u);
    EXPECT_EQ(p->faces[0].vertices, (std::vector<uint32_t>{1, 2, 3}));
  }
  {
    // The same ligands with the centre 0.4 A above them: a tetrahedron with
    // the centre as its fourth vertex.
    Synthetic s;
    const float h = std::sqrt(3.0f);
    const uint32_t m = s.Centre({{2, 0, -0.4f}, {-1, h, -0.4f}, {-1, -h, -0.4f}});
    DefinePolyhedra(&s.c);
    const Polyhedron *p = s.Poly(m);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->vertexCount, 4u);
    EXPECT_EQ(FaceSizes(*p), std::vector<uint32_t>(4, 3));
    uint32_t count = 0;
    const auto vertices = GetPolyhedronVertices(p, &count);
    EXPECT_EQ(std::count(vertices.begin(), vertices.end(), m), 1);
  }
  {
    // 0.08 A above the plane is within the pyramid tolerance: a triangle.
    Synthetic s;
    const float h = std::sqrt(3.0f);
    const uint32_t m = s.Centre({{2, 0, -0.08f}, {-1, h, -0.08f}, {-1, -h, -0.08f}});
    DefinePolyhedra(&s.c);
    ASSERT_NE(s.Poly(m), nullptr);
    EXPECT_EQ(s.Poly(m)->vertexCount, 3u);
  }
}

TEST(PolyhedraShapes, OverlappingLigandsAreReportedAndTheSecondLeftOut) {
  FakeHost host;
  // Seven equidistant ligands: an octahedron and one ligand 0.05 A from +x.
  Synthetic s;
  const float d = 2.0f, angle = 0.05f / d;
  const uint32_t m = s.Centre({{d, 0, 0},
                               {-d, 0, 0},
                               {0, d, 0},
                               {0, -d, 0},
                               {0, 0, d},
                               {0, 0, -d},
                               {d * std::cos(angle), d * std::sin(angle), 0}});
  DefinePolyhedra(&s.c);
  EXPECT_TRUE(LogHas(host, "Warning: polyhedron contains overlapping atoms: L1 (No. 1) and L7 (No. 7)")) << host.log;
  ASSERT_EQ(host.colouredRuns.size(), 1u);
  EXPECT_EQ(host.colouredRuns[0].colour, kRGBRed);
  const Polyhedron *p = s.Poly(m);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->vertexCount, 6u);
  EXPECT_EQ(FaceSizes(*p), std::vector<uint32_t>(8, 3));
  uint32_t count = 0;
  const auto vertices = GetPolyhedronVertices(p, &count);
  EXPECT_EQ(std::count(vertices.begin(), vertices.end(), 7u), 0);
}

TEST(PolyhedraShapes, PointsThatAreNotAtomsAreReportedByPosition) {
  FakeHost host;
  Synthetic s;
  const float points[5][3] = {{2, 0, 0}, {0, 2, 0}, {0, 0, 2}, {-2, -2, -2}, {2.05f, 0, 0}};
  uint32_t vertices = 0;
  auto p = MakeFaces(&s.c, 5, points, &vertices);
  ASSERT_TRUE(p);
  EXPECT_EQ(vertices, 4u);
  EXPECT_TRUE(LogHas(host, "Warning: polyhedron contains overlapping atoms, at: {2.0000 0.0000 0.0000} and: "
                           "{2.0500 0.0000 0.0000} A"))
      << host.log;
}

TEST(PolyhedraShapes, AFlatSetWithAnOverlappingLigandStillMakesItsFace) {
  FakeHost host;
  // Square planar with a fifth ligand 0.05 A from the first: the overlap is
  // left out and the other four still make the square.
  Synthetic s;
  const float d = 2.0f, angle = 0.05f / d;
  const uint32_t m =
      s.Centre({{d, 0, 0}, {-d, 0, 0}, {0, d, 0}, {0, -d, 0}, {d * std::cos(angle), d * std::sin(angle), 0}});
  DefinePolyhedra(&s.c);
  const Polyhedron *p = s.Poly(m);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->faceCount, 1u);
  EXPECT_EQ(p->vertexCount, 4u);
  ExpectOutlinesWalkEdges(s.c, *p, d * std::sqrt(2.0f));
  EXPECT_FALSE(LogHas(host, "Polyhedral creation failed"));
}

TEST(PolyhedraShapes, ALigandInsideTheTetrahedronOfTheCentreAndThreeOthersIsDropped) {
  FakeHost host;
  // A distorted octahedron (+x farther) and a seventh ligand just inside the
  // face (+x, +y, +z), within the coplanar tolerance of it.
  Synthetic s;
  const std::vector<std::array<float, 3>> ligands = {{2.2f, 0, 0}, {-2, 0, 0}, {0, 2, 0},           {0, -2, 0},
                                                     {0, 0, 2},    {0, 0, -2}, {0.7f, 0.66f, 0.66f}};
  const uint32_t m = s.Centre(ligands);
  DefinePolyhedra(&s.c);
  const Polyhedron *p = s.Poly(m);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->vertexCount, 6u);
  EXPECT_EQ(FaceSizes(*p), std::vector<uint32_t>(8, 3));
  uint32_t count = 0;
  const auto vertices = GetPolyhedronVertices(p, &count);
  EXPECT_EQ(std::count(vertices.begin(), vertices.end(), 7u), 0);

  // Without the thinning the hull would take it into a face.
  float points[7][3];
  for (int k = 0; k < 7; ++k)
    std::copy(ligands[k].begin(), ligands[k].end(), points[k]);
  uint32_t distinct = 0;
  auto raw = MakeFaces(&s.c, 7, points, &distinct);
  ASSERT_TRUE(raw);
  EXPECT_EQ(distinct, 7u);
}

TEST(PolyhedraShapes, ACuboctahedronHasEightTrianglesAndSixSquares) {
  FakeHost host;
  Synthetic s;
  std::vector<std::array<float, 3>> ligands;
  for (int axis = 0; axis < 3; ++axis)
    for (int k = 0; k < 4; ++k) {
      std::array<float, 3> p{0, 0, 0};
      p[(axis + 1) % 3] = k & 1 ? 1.5f : -1.5f;
      p[(axis + 2) % 3] = k & 2 ? 1.5f : -1.5f;
      ligands.push_back(p);
    }
  const uint32_t m = s.Centre(ligands);
  DefinePolyhedra(&s.c);
  const Polyhedron *p = s.Poly(m);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->vertexCount, 12u);
  std::vector<uint32_t> expected(8, 3);
  expected.insert(expected.end(), 6, 4);
  EXPECT_EQ(FaceSizes(*p), expected);
  const float edge = 1.5f * std::sqrt(2.0f);
  ExpectOutlinesWalkEdges(s.c, *p, edge);
  EXPECT_NEAR(GetPolyVolume(&s.c, p), 5.0f / 3.0f * std::sqrt(2.0f) * edge * edge * edge, 0.05f);
}

// ---- Angular order --------------------------------------------------------------------------

TEST(PolyhedraFaces, SortFollowsTheOutlineOfAFaceSlightlyOffItsPlane) {
  // A square whose corners stand alternately 0.03 A above and below the
  // plane (within the coplanar tolerance), given in every order with the
  // same first vertex: the sorted outline always walks the edges.
  const float A[3] = {1, 0, 0.03f}, B[3] = {0, 1, -0.03f}, C[3] = {-1, 0, 0.03f}, D[3] = {0, -1, -0.03f};
  const float *corners[4] = {A, B, C, D};
  std::vector<int> rest = {1, 2, 3};
  do {
    float points[4][3];
    const int order[4] = {0, rest[0], rest[1], rest[2]};
    for (int i = 0; i < 4; ++i)
      std::copy(corners[order[i]], corners[order[i]] + 3, points[i]);
    Polyhedron p;
    p.faceCount = 1;
    p.faces.resize(1);
    p.faces[0].vertexCount = 4;
    p.faces[0].vertices = {0, 1, 2, 3};
    SortFaceVertices(points, &p);
    ASSERT_EQ(p.faces[0].vertices[0], 0u);
    for (int i = 0; i < 4; ++i) {
      const float *a = points[p.faces[0].vertices[i]], *b = points[p.faces[0].vertices[(i + 1) % 4]];
      EXPECT_NEAR(VecBondDist(a, b), std::sqrt(2.0f + 0.06f * 0.06f), 1e-4f)
          << "order " << order[1] << order[2] << order[3] << " edge " << i;
    }
  } while (std::next_permutation(rest.begin(), rest.end()));
}

TEST(PolyhedraFaces, SortKeepsTrianglesAndStopsAtACollinearFace) {
  // Points 0-3 on a line; 4-7 a square given across its diagonals.
  const float points[8][3] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {5, 5, 0}, {6, 6, 0}, {6, 5, 0}, {5, 6, 0}};
  Polyhedron square;
  square.faceCount = 2;
  square.faces.resize(2);
  square.faces[0].vertexCount = 3;
  square.faces[0].vertices = {4, 2, 0};
  square.faces[1].vertexCount = 4;
  square.faces[1].vertices = {4, 5, 6, 7};
  SortFaceVertices(points, &square);
  EXPECT_EQ(square.faces[0].vertices, (std::vector<uint32_t>{4, 2, 0}));
  EXPECT_NE(square.faces[1].vertices, (std::vector<uint32_t>{4, 5, 6, 7}));
  EXPECT_EQ(square.faces[1].vertices[0], 4u);
  EXPECT_EQ(square.faces[1].vertices[2], 5u); // opposite corners stand apart

  // A collinear face stops the sorting: it and the faces after it keep their
  // order.
  Polyhedron p;
  p.faceCount = 2;
  p.faces.resize(2);
  p.faces[0].vertexCount = 4;
  p.faces[0].vertices = {0, 1, 2, 3};
  p.faces[1].vertexCount = 4;
  p.faces[1].vertices = {4, 5, 6, 7};
  SortFaceVertices(points, &p);
  EXPECT_EQ(p.faces[0].vertices, (std::vector<uint32_t>{0, 1, 2, 3}));
  EXPECT_EQ(p.faces[1].vertices, (std::vector<uint32_t>{4, 5, 6, 7}));
}

TEST(PolyhedraFaces, InternalAndDuplicateFaces) {
  // An octahedron: the plane through +x, +y, -x holds the centroid and has
  // points on both sides: internal. The face +x, +y, +z is a hull face.
  const float points[6][3] = {{2, 0, 0}, {0, 2, 0}, {-2, 0, 0}, {0, -2, 0}, {0, 0, 2}, {0, 0, -2}};
  const uint8_t usable[6] = {1, 1, 1, 1, 1, 1};
  const float centre[3] = {0, 0, 0};
  uint32_t face[6] = {0, 1, 2};
  int32_t count = 3;
  EXPECT_TRUE(IsInternalFace(6, points, centre, usable, &count, face));
  uint32_t hull[6] = {0, 1, 4};
  count = 3;
  EXPECT_FALSE(IsInternalFace(6, points, centre, usable, &count, hull));
  EXPECT_EQ(count, 3);

  // A plane holding every usable point is a flat polyhedron's face, even
  // through the centroid; an unusable point off the plane does not count.
  const float flat[5][3] = {{2, 0, 0}, {0, 2, 0}, {-2, 0, 0}, {0, -2, 0}, {0, 0, 3}};
  const uint8_t flatUsable[5] = {1, 1, 1, 1, 0};
  uint32_t square[5] = {0, 1, 2};
  count = 3;
  EXPECT_FALSE(IsInternalFace(5, flat, centre, flatUsable, &count, square));
  EXPECT_EQ(count, 4);
  EXPECT_EQ(square[3], 3u);

  Polyhedron p;
  p.faceCount = 1;
  p.faces.resize(1);
  p.faces[0].vertexCount = 4;
  p.faces[0].vertices = {3, 0, 2, 1}; // unsorted, as faces stand while they are built
  const uint32_t inside[4] = {0, 1, 2, 3}, outside[3] = {0, 1, 4};
  EXPECT_TRUE(IsDuplicateFace(inside, 3, &p));
  EXPECT_FALSE(IsDuplicateFace(outside, 3, &p));
  EXPECT_FALSE(IsDuplicateFace(inside, 4, &p)); // only larger faces count
}

TEST(PolyhedraFaces, GenPolyReportsWhenNoFaceIsFound) {
  FakeHost host;
  Synthetic s;
  const uint32_t a = s.Add("A", "O", 0, 0, 0), b = s.Add("B", "O", 1, 0, 0), c = s.Add("C", "O", 2, 0, 0),
                 d = s.Add("D", "O", 3, 0, 0);
  const uint32_t line[4] = {a, b, c, d};
  EXPECT_FALSE(GenPoly(&s.c, 4, line));
  EXPECT_TRUE(LogHas(host, "Polyhedral creation failed"));
  ASSERT_FALSE(host.colouredRuns.empty());
  EXPECT_EQ(host.colouredRuns.back().colour, kRGBRed);
  const uint32_t triangle[3] = {c, a, b}; // three atoms are taken as they are
  auto p = GenPoly(&s.c, 3, triangle);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->faces[0].vertices, (std::vector<uint32_t>{c, a, b}));
}

// ---- Which atoms get polyhedra ----------------------------------------------------------------

TEST(PolyhedraDefinition, OnlyAtomsThatReachTheirCoordinationGetPolyhedra) {
  FakeHost host;
  Synthetic s(false); // a crystal: coordination numbers are the sites' own
  const uint32_t full = s.Centre({{2, 0, 0}, {-2, 0, 0}, {0, 2, 0}, {0, -2, 0}, {0, 0, 2}, {0, 0, -2}});
  const uint32_t cut = s.Centre({{2, 0, 0}, {-2, 0, 0}, {0, 2, 0}, {0, -2, 0}, {0, 0, 2}}, 5, 0, 0);
  s.c.sites[full].coordination = 6;
  s.c.sites[cut].coordination = 6;
  DefinePolyhedra(&s.c);
  EXPECT_NE(s.Poly(full), nullptr);
  EXPECT_EQ(s.Poly(cut), nullptr);

  // No atom reaches its coordination exactly: none is made, even for an atom
  // with more bonds than its coordination number.
  s.c.sites[full].coordination = 5;
  s.c.sites[cut].coordination = 6;
  DefinePolyhedra(&s.c);
  EXPECT_EQ(s.Poly(full), nullptr);
  EXPECT_EQ(s.Poly(cut), nullptr);
  // Once one atom does, the atom with more bonds than that is made too.
  s.c.sites[cut].coordination = 5;
  DefinePolyhedra(&s.c);
  EXPECT_NE(s.Poly(full), nullptr);
  EXPECT_NE(s.Poly(cut), nullptr);
}

// ---- Site display modes ---------------------------------------------------------------------------

TEST(PolyhedraModes, NewModesAreGivenAndUserModesSurvive) {
  FakeHost host;
  Synthetic s(false);
  // An octahedral centre (coordination 6) whose ligands have coordination 2.
  const uint32_t m = s.Centre({{2, 0, 0}, {-2, 0, 0}, {0, 2, 0}, {0, -2, 0}, {0, 0, 2}, {0, 0, -2}});
  s.c.sites[m].coordination = 6;
  for (uint32_t k = 1; k <= 6; ++k)
    s.c.sites[k].coordination = 2;
  SetGivenPolyMode(s.c.sites[m], kPolyModeUnset);          // no role yet: becomes a centre
  SetGivenPolyMode(s.c.sites[1], kPolyModeUnset);          // no role yet: becomes a vertex
  SetGivenPolyMode(s.c.sites[2], kPolyModeColourShaded);   // a low site drawn as a polyhedron: becomes a vertex
  SetGivenPolyMode(s.c.sites[3], kPolyModeAtomStickBonds); // chosen by the user: stays
  // A lone atom with no neighbours, and a pair of atoms of one site bonded
  // to each other (a site bonded to its own site).
  const uint32_t lone = s.Add("X", "Na", 9, 9, 9);
  const uint32_t pairA = s.Add("C1", "C", 7, 7, 7);
  const uint32_t pairB = s.Add("C1b", "C", 8.5f, 7, 7);
  s.c.atoms[pairB].site = pairA; // both atoms of site pairA
  s.c.sites[pairA].lastAtom = static_cast<int32_t>(pairB);
  AddBondListEntry(&s.c, static_cast<int32_t>(pairA), static_cast<int32_t>(pairB));
  s.c.sites[pairA].coordination = 1;
  s.c.sites[pairB].coordination = 0; // the spare site record of the second atom

  DefinePolyhedra(&s.c);
  EXPECT_EQ(ShownPolyMode(s.c.sites[m]), kPolyModeColourShaded);
  EXPECT_EQ(ShownPolyMode(s.c.sites[1]), kPolyModeVertex);
  EXPECT_EQ(ShownPolyMode(s.c.sites[2]), kPolyModeVertex);
  EXPECT_EQ(ShownPolyMode(s.c.sites[3]), kPolyModeAtomStickBonds);
  EXPECT_EQ(ShownPolyMode(s.c.sites[lone]), kPolyModeAtom);
  EXPECT_EQ(ShownPolyMode(s.c.sites[pairA]), kPolyModeWireBonds);
  // The polyhedron carries the centre site's mode at the time it was made.
  ASSERT_NE(s.Poly(m), nullptr);
  EXPECT_EQ(s.Poly(m)->flag, kPolyModeUnset);
  DefinePolyhedra(&s.c);
  EXPECT_EQ(s.Poly(m)->flag, kPolyModeColourShaded);

  // A centre mode on a site of coordination 2 that is no vertex becomes 11.
  Synthetic t(false);
  const uint32_t a = t.Add("A", "O", 0, 0, 0);
  const uint32_t b = t.Add("B", "Si", 1.6f, 0, 0);
  const uint32_t c = t.Add("C", "Si", -1.6f, 0, 0);
  AddBondListEntry(&t.c, int32_t(a), int32_t(b));
  AddBondListEntry(&t.c, int32_t(a), int32_t(c));
  t.c.sites[a].coordination = 2;
  t.c.sites[b].coordination = 1;
  t.c.sites[c].coordination = 1;
  SetGivenPolyMode(t.c.sites[a], kPolyModeColourShaded);
  DefinePolyhedra(&t.c);
  EXPECT_EQ(ShownPolyMode(t.c.sites[a]), kPolyModeWireBonds);
}

TEST(PolyhedraModes, AVertexOfAVertexIsNoVertex) {
  FakeHost host;
  Synthetic s(false);
  // A (coordination 2) bonds to B (coordination 3), which bonds to C
  // (coordination 6): B is a vertex of C, so A is not a vertex of B.
  const uint32_t a = s.Add("A", "H", 0, 0, 0);
  const uint32_t b = s.Add("B", "O", 1, 0, 0);
  const uint32_t c = s.Add("C", "Ti", 3, 0, 0);
  AddBondListEntry(&s.c, int32_t(a), int32_t(b));
  AddBondListEntry(&s.c, int32_t(b), int32_t(c));
  s.c.sites[a].coordination = 2;
  s.c.sites[b].coordination = 3;
  s.c.sites[c].coordination = 6;
  bool isVertex = true, own = true;
  CheckPolyVertexSite(&s.c, a, &isVertex, &own);
  EXPECT_FALSE(isVertex);
  EXPECT_FALSE(own);
  CheckPolyVertexSite(&s.c, b, &isVertex, &own);
  EXPECT_TRUE(isVertex);
  // A hidden neighbour does not count.
  s.c.atoms[c].visible = 0;
  CheckPolyVertexSite(&s.c, a, &isVertex, &own);
  EXPECT_TRUE(isVertex);
}

TEST(PolyhedraModes, ASiteBondedOnlyToAHigherCentreIsCheckedOverTheCrystal) {
  FakeHost host;
  Synthetic s(false);
  // A (coordination 1) is bonded only to B of higher coordination; over the
  // whole crystal an H-H specification as long as the cell edge makes A's
  // own image in the next cell its first coordinating site.
  const uint32_t a = s.Add("A", "H", 0, 0, 0);
  const uint32_t b = s.Add("B", "O", 1, 0, 0);
  AddBondListEntry(&s.c, int32_t(a), int32_t(b));
  s.c.sites[a].coordination = 1;
  s.c.sites[b].coordination = 3;
  s.c.bondSpecs[0].elementA = s.c.bondSpecs[0].elementB = polytest::Element("H");
  s.c.bondSpecs[0].maxLength = 10.0f;
  s.c.bondSpecCount = 1;
  bool isVertex = false, own = false;
  CheckPolyVertexSite(&s.c, a, &isVertex, &own);
  EXPECT_TRUE(own);
  EXPECT_EQ(ShownPolyMode(s.c.sites[a]), kPolyModeUnset) << "a question changes no mode";
  // A visible neighbour of no higher coordination settles the answer from
  // the bonds alone.
  Synthetic t(false);
  const uint32_t ta = t.Add("A", "H", 0, 0, 0);
  const uint32_t td = t.Add("D", "O", -1, 0, 0);
  const uint32_t tb = t.Add("B", "O", 1, 0, 0);
  AddBondListEntry(&t.c, int32_t(ta), int32_t(td));
  AddBondListEntry(&t.c, int32_t(ta), int32_t(tb));
  t.c.sites[ta].coordination = 1;
  t.c.sites[td].coordination = 1;
  t.c.sites[tb].coordination = 3;
  t.c.bondSpecs = s.c.bondSpecs;
  t.c.bondSpecCount = 1;
  CheckPolyVertexSite(&t.c, ta, &isVertex, &own);
  EXPECT_TRUE(isVertex);
  EXPECT_FALSE(own);
  EXPECT_EQ(ShownPolyMode(t.c.sites[ta]), kPolyModeUnset);
}

// ---- Vertices and intactness ------------------------------------------------------------------

TEST(PolyhedraVertices, DistinctVerticesInOrderAndIntactness) {
  FakeHost host;
  Synthetic s;
  const uint32_t m = s.Centre({{2, 0, 0}, {-2, 0, 0}, {0, 2, 0}, {0, -2, 0}, {0, 0, 2}, {0, 0, -2}});
  DefinePolyhedra(&s.c);
  const Polyhedron *p = s.Poly(m);
  ASSERT_NE(p, nullptr);
  uint32_t count = 0;
  const auto vertices = GetPolyhedronVertices(p, &count);
  ASSERT_EQ(count, 6u);
  EXPECT_EQ(std::set<uint32_t>(vertices.begin(), vertices.end()), (std::set<uint32_t>{1, 2, 3, 4, 5, 6}));
  // Order of first appearance over the faces.
  std::vector<uint32_t> seen;
  for (const PolyFace &f : p->faces)
    for (uint32_t v : f.vertices)
      if (std::find(seen.begin(), seen.end(), v) == seen.end())
        seen.push_back(v);
  EXPECT_EQ(vertices, seen);
  EXPECT_TRUE(IsPolyhedronIntact(&s.c, p));
  s.c.atoms[4].visible = 0;
  EXPECT_TRUE(host.log.empty());
  EXPECT_FALSE(IsPolyhedronIntact(&s.c, p));
  s.c.atoms[4].visible = 1;

  Polyhedron short_ = *p;
  short_.vertexCount = 7;
  EXPECT_EQ(GetPolyhedronVertices(&short_, &count).size(), 6u);
  EXPECT_TRUE(LogHas(host, "Polyhedron contains fewer vertices than expected"));
  EXPECT_FALSE(IsPolyhedronIntact(&s.c, &short_));
  Polyhedron none;
  EXPECT_TRUE(GetPolyhedronVertices(&none, &count).empty());
  EXPECT_EQ(count, 0u);
}

TEST(PolyhedraVertices, AtomWithOrthoCoordsIsTheFirstAtExactlyThatPlace) {
  Synthetic s;
  s.Add("A", "O", 1, 2, 3);
  s.Add("B", "O", 4, 5, 6);
  s.Add("C", "O", 4, 5, 6);
  const float at[3] = {4, 5, 6}, near[3] = {4, 5, 6.0001f};
  uint32_t atom = 99;
  EXPECT_TRUE(GetAtomWithOrthoCoords(&s.c, at, &atom));
  EXPECT_EQ(atom, 1u);
  EXPECT_FALSE(GetAtomWithOrthoCoords(&s.c, near, &atom));
}

// ---- Packed form ----------------------------------------------------------------------------------

std::vector<std::vector<uint32_t>> SortedFaces(const Polyhedron &p) {
  std::vector<std::vector<uint32_t>> faces;
  for (const PolyFace &f : p.faces)
    faces.emplace_back(f.vertices);
  std::sort(faces.begin(), faces.end());
  return faces;
}

TEST(PolyhedraPacked, RoundTripKeepsEveryFaceAndGroupsThemBySize) {
  FakeHost host;
  Synthetic s;
  // A square pyramid: one square and four triangles.
  const uint32_t m = s.Centre({{2, 0, 0}, {-2, 0, 0}, {0, 2, 0}, {0, -2, 0}, {0, 0, 2.5f}});
  DefinePolyhedra(&s.c);
  const Polyhedron *p = s.Poly(m);
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(FaceSizes(*p), (std::vector<uint32_t>{3, 3, 3, 3, 4}));
  SetGivenPolyMode(s.c.sites[m], 9);

  auto packed = PackPolyhedron(&s.c, m);
  ASSERT_TRUE(packed);
  ASSERT_EQ(packed->bytes.size(), 10u + 16u);
  EXPECT_EQ(packed->bytes[0], 0);
  EXPECT_EQ(packed->bytes[4], 4); // four triangles
  EXPECT_EQ(packed->bytes[5], 1); // one square
  for (int k = 6; k < 10; ++k)
    EXPECT_EQ(packed->bytes[static_cast<size_t>(k)], 0);
  // Vertices as positions in the bonds list: atom 1 + position.
  for (size_t k = 10; k < packed->bytes.size(); ++k)
    EXPECT_LT(packed->bytes[k], 5);
  // The last four bytes are the square.
  std::vector<uint32_t> square(packed->bytes.end() - 4, packed->bytes.end());
  for (uint32_t &v : square)
    v = s.c.atoms[m].bonds[v];
  const auto it = std::find_if(p->faces.begin(), p->faces.end(), [](const PolyFace &f) { return f.vertexCount == 4; });
  EXPECT_EQ(square, it->vertices);

  packed->bytes[0] = 13;
  auto back = UnpackPoly(&s.c, m, &*packed);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->centreAtom, m);
  EXPECT_EQ(back->flag, 13);
  EXPECT_EQ(back->vertexCount, 5u);
  EXPECT_EQ(back->faceCount, 5u);
  EXPECT_EQ(SortedFaces(*back), SortedFaces(*p));
  EXPECT_NEAR(GetPolyVolume(&s.c, &*back), GetPolyVolume(&s.c, p), 1e-5f);
  EXPECT_TRUE(host.log.empty()) << host.log;
}

TEST(PolyhedraPacked, CorruptRecordsAreRefusedWithTheirMessage) {
  FakeHost host;
  Synthetic s;
  const uint32_t m = s.Centre({{2, 0, 0}, {-2, 0, 0}, {0, 2, 0}, {0, -2, 0}, {0, 0, 2}, {0, 0, -2}});
  DefinePolyhedra(&s.c);
  auto good = PackPolyhedron(&s.c, m);
  ASSERT_TRUE(good);
  ASSERT_EQ(good->bytes.size(), 10u + 24u);
  const std::string invalid = "Invalid polyhedron saved for atom 0 (M)";

  struct Case {
    const char *what;
    PackedPolyRec rec;
  };
  std::vector<Case> cases;
  {
    PackedPolyRec r = *good;
    r.bytes[12] = 6; // past the six bonds
    cases.push_back({"vertex past the bonds list", r});
  }
  {
    PackedPolyRec r = *good;
    r.bytes[4] = 9; // announces 27 vertex bytes, holds 24
    cases.push_back({"header longer than the record", r});
  }
  {
    PackedPolyRec r = *good;
    r.bytes.resize(20);
    cases.push_back({"record cut short", r});
  }
  {
    PackedPolyRec r = *good;
    r.bytes[9] = 255; // 255 faces of eight: far beyond 256 vertex bytes
    r.bytes.resize(10 + 24 + 2040, 0);
    cases.push_back({"more than 256 vertex bytes", r});
  }
  {
    PackedPolyRec r;
    r.bytes = {0, 0, 0, 0, 1};
    cases.push_back({"shorter than its header", r});
  }
  for (const Case &k : cases) {
    host.log.clear();
    host.colouredRuns.clear();
    EXPECT_FALSE(UnpackPoly(&s.c, m, &k.rec)) << k.what;
    EXPECT_EQ(host.LogLines(), std::vector<std::string>{invalid}) << k.what;
    ASSERT_EQ(host.colouredRuns.size(), 1u) << k.what;
    EXPECT_EQ(host.colouredRuns[0].colour, kRGBRed) << k.what;
  }

  // No faces, no record, an atom without bonds: none, silently.
  host.log.clear();
  PackedPolyRec empty;
  empty.bytes.assign(10, 0);
  EXPECT_FALSE(UnpackPoly(&s.c, m, &empty));
  EXPECT_FALSE(UnpackPoly(&s.c, m, nullptr));
  EXPECT_FALSE(UnpackPoly(&s.c, 99, &*good));
  EXPECT_TRUE(host.log.empty()) << host.log;
  s.c.atoms[m].bonds.clear();
  s.c.atoms[m].bondCount = 0;
  EXPECT_FALSE(UnpackPoly(&s.c, m, &*good));
  EXPECT_TRUE(host.log.empty()) << host.log;
}

TEST(PolyhedraPacked, MissingVerticesAreReportedAndTheRecordStillUsed) {
  FakeHost host;
  Synthetic s;
  const uint32_t m = s.Centre({{2, 0, 0}, {-2, 0, 0}, {0, 2, 0}, {0, -2, 0}, {0, 0, 2}, {0, 0, -2}});
  PackedPolyRec r;
  r.bytes = {0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 2, 4, 2, 1, 4};
  auto p = UnpackPoly(&s.c, m, &r);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->vertexCount, 4u);
  EXPECT_EQ(p->faces[0].vertices, (std::vector<uint32_t>{1, 3, 5}));
  EXPECT_EQ(p->faces[1].vertices, (std::vector<uint32_t>{3, 2, 5}));
  EXPECT_TRUE(LogHas(host, "The polyhedron around atom 0 (M) was incorrectly saved. Please re-save this file.\n"))
      << host.log;
}

TEST(PolyhedraPacked, PolyhedraThatCannotBeStoredAreNotPacked) {
  FakeHost host;
  Synthetic s;
  const float h = std::sqrt(3.0f);
  const uint32_t m = s.Centre({{2, 0, -0.4f}, {-1, h, -0.4f}, {-1, -h, -0.4f}});
  DefinePolyhedra(&s.c);
  ASSERT_NE(s.Poly(m), nullptr);
  // A pyramid holds its centre, which is not in its own bonds list.
  EXPECT_FALSE(PackPolyhedron(&s.c, m));
  // A face of nine vertices has no count byte.
  Polyhedron big;
  big.faceCount = 1;
  big.vertexCount = 9;
  big.faces.resize(1);
  big.faces[0].vertexCount = 9;
  big.faces[0].vertices = {1, 2, 3, 1, 2, 3, 1, 2, 3};
  s.c.atoms[m].polyhedron.Hold(big);
  EXPECT_FALSE(PackPolyhedron(&s.c, m));
  s.c.atoms[m].polyhedron.Drop();
  EXPECT_FALSE(PackPolyhedron(&s.c, m));
}

// ---- Real structures ------------------------------------------------------------------------------

struct Counted {
  int withPolyhedron = 0;
  int fullyBonded = 0;
};

Counted CountPolyhedra(CrystalRec &c, uint32_t site) {
  Counted k;
  for (const AtomRecord &atom : c.atoms) {
    if (atom.site != site)
      continue;
    if (atom.bondCount == c.sites[site].coordination)
      ++k.fullyBonded;
    if (AtomPolyhedron(&c, atom))
      ++k.withPolyhedron;
  }
  return k;
}

uint32_t SiteOf(const CrystalRec &c, const char *label) {
  for (uint32_t s = 0; s < c.sites.size(); ++s)
    if (std::string(c.sites[s].label) == label)
      return s;
  ADD_FAILURE() << "no site " << label;
  return 0;
}

// The smallest distance between two distinct vertices of a polyhedron.
float ShortestVertexDistance(const CrystalRec &c, const Polyhedron &p) {
  uint32_t count = 0;
  const auto v = GetPolyhedronVertices(&p, &count);
  float best = 1e9f;
  for (size_t i = 0; i < v.size(); ++i)
    for (size_t j = i + 1; j < v.size(); ++j)
      best = std::min(best, VecBondDist(c.atoms[v[i]].cart, c.atoms[v[j]].cart));
  return best;
}

TEST(PolyhedraStructures, RutileTitaniumOctahedra) {
  FakeHost host;
  CrystalRec c;
  ASSERT_EQ(polytest::BuildCrystal(c, polytest::Rutile(), 2, 2, 3), "");
  const uint32_t ti = SiteOf(c, "Ti"), o = SiteOf(c, "O");
  ASSERT_EQ(c.sites[ti].coordination, 6u);
  ASSERT_EQ(c.sites[o].coordination, 3u);
  DefinePolyhedra(&c);
  const Counted k = CountPolyhedra(c, ti);
  EXPECT_GT(k.fullyBonded, 0);
  EXPECT_EQ(k.withPolyhedron, k.fullyBonded);
  // Octahedron volume from the two Ti-O distances and the O-Ti-O angle, as
  // three half diagonals: 4/3 |det|.
  for (const AtomRecord &atom : c.atoms) {
    if (atom.site != ti || !AtomPolyhedron(&c, atom))
      continue;
    const Polyhedron &p = *AtomPolyhedron(&c, atom);
    EXPECT_EQ(p.vertexCount, 6u);
    EXPECT_EQ(FaceSizes(p), std::vector<uint32_t>(8, 3));
    EXPECT_NEAR(GetPolyVolume(&c, &p), CentrosymmetricOctahedronVolume(c, p), 1e-3f);
    // The convex hull of the six nearest O (scipy.spatial.ConvexHull):
    // 9.9062 A³.
    EXPECT_NEAR(GetPolyVolume(&c, &p), 9.9062f, 2e-3f);
  }
  // Each oxygen sits in the plane of its three titanium atoms: one triangle.
  for (const AtomRecord &atom : c.atoms)
    if (atom.site == o && AtomPolyhedron(&c, atom)) {
      EXPECT_EQ(AtomPolyhedron(&c, atom)->faceCount, 1u);
      EXPECT_EQ(AtomPolyhedron(&c, atom)->vertexCount, 3u);
    }
  EXPECT_EQ(ShownPolyMode(c.sites[ti]), kPolyModeColourShaded);
  EXPECT_EQ(ShownPolyMode(c.sites[o]), kPolyModeVertex);
  EXPECT_TRUE(host.log.empty()) << host.log;
  ClearCrystalRec(&c);
}

TEST(PolyhedraStructures, SpinelTetrahedraAndOctahedra) {
  FakeHost host;
  CrystalRec c;
  ASSERT_EQ(polytest::BuildCrystal(c, polytest::Spinel(), 2, 2, 2), "");
  const uint32_t mg = SiteOf(c, "Mg"), al = SiteOf(c, "Al"), o = SiteOf(c, "O");
  ASSERT_EQ(c.sites[mg].coordination, 4u);
  ASSERT_EQ(c.sites[al].coordination, 6u);
  ASSERT_EQ(c.sites[o].coordination, 4u);
  DefinePolyhedra(&c);
  for (uint32_t site : {mg, al}) {
    const Counted k = CountPolyhedra(c, site);
    EXPECT_GT(k.fullyBonded, 0);
    EXPECT_EQ(k.withPolyhedron, k.fullyBonded);
  }
  for (const AtomRecord &atom : c.atoms) {
    if (!AtomPolyhedron(&c, atom))
      continue;
    const Polyhedron &p = *AtomPolyhedron(&c, atom);
    if (atom.site == mg) {
      // A regular tetrahedron: V = e³ / (6 √2).
      EXPECT_EQ(FaceSizes(p), std::vector<uint32_t>(4, 3));
      const float e = ShortestVertexDistance(c, p);
      ExpectOutlinesWalkEdges(c, p, e);
      EXPECT_NEAR(GetPolyVolume(&c, &p), e * e * e / (6.0f * std::sqrt(2.0f)), 1e-3f);
    } else if (atom.site == al) {
      EXPECT_EQ(FaceSizes(p), std::vector<uint32_t>(8, 3));
      EXPECT_NEAR(GetPolyVolume(&c, &p), CentrosymmetricOctahedronVolume(c, p), 1e-3f);
    }
  }
  EXPECT_EQ(ShownPolyMode(c.sites[mg]), kPolyModeColourShaded);
  EXPECT_EQ(ShownPolyMode(c.sites[al]), kPolyModeColourShaded);
  EXPECT_EQ(ShownPolyMode(c.sites[o]), kPolyModeVertex);
  ClearCrystalRec(&c);
}

TEST(PolyhedraStructures, FluoriteCubesAndTheirPackedForm) {
  FakeHost host;
  CrystalRec c;
  ASSERT_EQ(polytest::BuildCrystal(c, polytest::Fluorite(), 2, 2, 2), "");
  const uint32_t ca = SiteOf(c, "Ca"), f = SiteOf(c, "F");
  ASSERT_EQ(c.sites[ca].coordination, 8u);
  ASSERT_EQ(c.sites[f].coordination, 4u);
  DefinePolyhedra(&c);
  const Counted k = CountPolyhedra(c, ca);
  EXPECT_GT(k.fullyBonded, 0);
  EXPECT_EQ(k.withPolyhedron, k.fullyBonded);
  const float half = c.a / 2.0f;
  int checked = 0;
  for (uint32_t i = 0; i < c.atoms.size(); ++i) {
    const AtomRecord &atom = c.atoms[i];
    if (!AtomPolyhedron(&c, atom))
      continue;
    const Polyhedron &p = *AtomPolyhedron(&c, atom);
    if (atom.site == ca) {
      EXPECT_EQ(FaceSizes(p), std::vector<uint32_t>(6, 4));
      ExpectOutlinesWalkEdges(c, p, half);
      EXPECT_NEAR(GetPolyVolume(&c, &p), half * half * half, 1e-3f);
      auto packed = PackPolyhedron(&c, i);
      ASSERT_TRUE(packed);
      EXPECT_EQ(packed->bytes[5], 6);
      auto back = UnpackPoly(&c, i, &*packed);
      ASSERT_TRUE(back);
      EXPECT_EQ(SortedFaces(*back), SortedFaces(p));
      ++checked;
    } else if (atom.site == f) {
      const float e = half * std::sqrt(2.0f);
      EXPECT_EQ(FaceSizes(p), std::vector<uint32_t>(4, 3));
      EXPECT_NEAR(GetPolyVolume(&c, &p), e * e * e / (6.0f * std::sqrt(2.0f)), 1e-3f);
    }
  }
  EXPECT_GT(checked, 0);
  EXPECT_EQ(ShownPolyMode(c.sites[f]), kPolyModeVertex);
  ClearCrystalRec(&c);
}

TEST(PolyhedraStructures, PerovskiteOctahedraAndCuboctahedra) {
  FakeHost host;
  CrystalRec c;
  ASSERT_EQ(polytest::BuildCrystal(c, polytest::Perovskite(), 3, 3, 3), "");
  const uint32_t ti = SiteOf(c, "Ti"), sr = SiteOf(c, "Sr");
  ASSERT_EQ(c.sites[ti].coordination, 6u);
  ASSERT_EQ(c.sites[sr].coordination, 12u);
  DefinePolyhedra(&c);
  const float a = c.a;
  int cuboctahedra = 0;
  for (const AtomRecord &atom : c.atoms) {
    if (!AtomPolyhedron(&c, atom))
      continue;
    const Polyhedron &p = *AtomPolyhedron(&c, atom);
    if (atom.site == ti) {
      EXPECT_NEAR(GetPolyVolume(&c, &p), a * a * a / 6.0f, 1e-3f);
    } else if (atom.site == sr) {
      std::vector<uint32_t> expected(8, 3);
      expected.insert(expected.end(), 6, 4);
      EXPECT_EQ(FaceSizes(p), expected);
      const float e = a / std::sqrt(2.0f);
      ExpectOutlinesWalkEdges(c, p, e);
      EXPECT_NEAR(GetPolyVolume(&c, &p), 5.0f / 3.0f * std::sqrt(2.0f) * e * e * e, 1e-2f);
      ++cuboctahedra;
    }
  }
  EXPECT_EQ(cuboctahedra, CountPolyhedra(c, sr).fullyBonded);
  EXPECT_GT(cuboctahedra, 0);
  ClearCrystalRec(&c);
}

TEST(PolyhedraStructures, CoordinatingSitesOverTheWholeCrystal) {
  FakeHost host;
  CrystalRec c;
  ASSERT_EQ(polytest::BuildCrystal(c, polytest::Rutile(), 1, 1, 1), "");
  const uint32_t ti = SiteOf(c, "Ti"), o = SiteOf(c, "O");
  std::vector<int32_t> around;
  EXPECT_EQ(GetCoordinatingAtoms(&c, ti, &around), 6);
  EXPECT_EQ(around, std::vector<int32_t>(6, int32_t(o)));
  EXPECT_EQ(GetCoordinatingAtoms(&c, o, &around), 3);
  EXPECT_EQ(around, std::vector<int32_t>(3, int32_t(ti)));
  // The list stops at the coordination number.
  c.sites[ti].coordination = 4;
  EXPECT_EQ(GetCoordinatingAtoms(&c, ti, &around), 4);

  // With every atom hidden the roles come from the whole crystal: O is a
  // vertex of Ti.
  c.sites[ti].coordination = 6;
  for (AtomRecord &atom : c.atoms)
    atom.visible = 0;
  bool isVertex = false, own = true;
  CheckPolyVertexSite(&c, o, &isVertex, &own);
  EXPECT_TRUE(isVertex);
  EXPECT_FALSE(own);
  CheckPolyVertexSite(&c, ti, &isVertex, &own);
  EXPECT_FALSE(isVertex);
  ClearCrystalRec(&c);
}

TEST(PolyhedraStructures, CoordinatingSitesReachAcrossAnObliqueCell) {
  FakeHost host;
  // A monoclinic cell (beta = 120 degrees, a = c = 5 A): from A at
  // x = 0.9 the image of B one cell back, at dx = -0.91, lies 3.94 A away,
  // farther along a than a reach of max / a = 0.8 cells covers.
  CrystalRec c;
  polytest::CrystalInput in{"P 1",
                            0,
                            {5.0f, 6.0f, 5.0f, 90.0f, 120.0f, 90.0f},
                            {{"A", "Na", 0.9f, 0.0f, 0.5f}, {"B", "Cl", 0.99f, 0.0f, 0.045f}},
                            {{"Na", "Cl", 0.0f, 4.0f}}};
  ASSERT_EQ(polytest::BuildCrystal(c, in, 1, 1, 1), "");
  const uint32_t na = SiteOf(c, "A"), cl = SiteOf(c, "B");
  // Reference: every image of B within 4 A of A, counted by brute force.
  const float *O = c.orientationMatrix;
  float origin[3];
  MatMul(O, c.sites[na].xyz, origin);
  int expected = 0;
  for (int i = -3; i <= 3; ++i)
    for (int j = -3; j <= 3; ++j)
      for (int k = -3; k <= 3; ++k) {
        const float image[3] = {c.sites[cl].xyz[0] + i, c.sites[cl].xyz[1] + j, c.sites[cl].xyz[2] + k};
        float p[3];
        MatMul(O, image, p);
        if (VecBondDist(p, origin) <= 4.0f)
          ++expected;
      }
  ASSERT_GT(expected, 0);
  c.sites[na].coordination = 100;
  std::vector<int32_t> around;
  EXPECT_EQ(GetCoordinatingAtoms(&c, na, &around), expected);
  ClearCrystalRec(&c);
}

TEST(PolyhedraDefinition, EscapeLeavesNoPolyhedraAndTellsTheUser) {
  FakeHost host;
  CrystalRec c;
  // 11 x 11 x 11 perovskite cells: over a thousand centres.
  ASSERT_EQ(polytest::BuildCrystal(c, polytest::Perovskite(), 11, 11, 11, 10.0f), "");
  const uint32_t sr = SiteOf(c, "Sr");
  SetGivenPolyMode(c.sites[sr], kPolyModeUnset);
  host.tick = 200000; // the clock moves 0.2 s at every reading: a long build
  host.cancelAnswers = {false, true};
  DefinePolyhedra(&c);
  EXPECT_GE(host.cancelChecks, 2);
  for (const AtomRecord &atom : c.atoms)
    EXPECT_FALSE(AtomPolyhedron(&c, atom));
  EXPECT_NE(host.log.find("Polyhedra cancelled: the structure is shown without polyhedra.\r"), std::string::npos);
  EXPECT_EQ(ShownPolyMode(c.sites[sr]), kPolyModeColourShaded); // the site modes are still set

  // Not pressed, or a quick build (never asked): every centre has its
  // polyhedron.
  host.log.clear();
  DefinePolyhedra(&c);
  EXPECT_GT(CountPolyhedra(c, sr).fullyBonded, 0);
  host.tick = 0;
  host.cancelAnswers = {true, true};
  const int checks = host.cancelChecks;
  DefinePolyhedra(&c);
  EXPECT_EQ(host.cancelChecks, checks);
  EXPECT_GT(CountPolyhedra(c, sr).fullyBonded, 0);
  EXPECT_EQ(host.log.find("cancelled"), std::string::npos);
  ClearCrystalRec(&c);
}

TEST(PolyhedraStructures, CoordinatingSitesOfADamagedPositionOrAnAbsurdReachAreNone) {
  FakeHost host;
  CrystalRec c;
  ASSERT_EQ(polytest::BuildCrystal(c, polytest::Rutile(), 1, 1, 1), "");
  const uint32_t ti = SiteOf(c, "Ti");
  std::vector<int32_t> around;
  // A position far beyond any integer grid index.
  c.sites[ti].xyz[0] = 1e30f;
  c.derived.Note(kChangeSites); // as the site editor tells its edits
  EXPECT_EQ(GetCoordinatingAtoms(&c, ti, &around), 0);
  c.sites[ti].xyz[0] = std::numeric_limits<float>::infinity();
  c.derived.Note(kChangeSites);
  EXPECT_EQ(GetCoordinatingAtoms(&c, ti, &around), 0);
  // A reach of a million cells: refused at once rather than walked.
  c.sites[ti].xyz[0] = 0.0f;
  c.derived.Note(kChangeSites);
  for (int32_t k = 0; k < c.bondSpecCount; ++k)
    c.bondSpecs[static_cast<size_t>(k)].maxLength = 5e6f;
  EXPECT_EQ(GetCoordinatingAtoms(&c, ti, &around), 0);
  ClearCrystalRec(&c);
}

TEST(PolyhedraStructures, CoordinatingSitesAgreeWithEveryTranslationTried) {
  FakeHost host;
  // A triclinic cell with 60 sites of three elements at scattered places;
  // the list of every site is compared with a count over every image within
  // three cells.
  CrystalRec c;
  polytest::CrystalInput in{"P 1",
                            0,
                            {9.1f, 8.3f, 10.2f, 80.0f, 95.0f, 104.0f},
                            {},
                            {{"Si", "O", 0.0f, 3.2f}, {"Na", "O", 0.0f, 3.6f}, {"O", "O", 0.0f, 2.9f}}};
  static char labels[60][8];
  const char *elements[3] = {"Si", "O", "Na"};
  uint32_t seed = 12345u;
  auto next = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<float>(seed >> 8) / 16777216.0f;
  };
  for (int k = 0; k < 60; ++k) {
    std::snprintf(labels[k], sizeof labels[k], "%s%d", elements[k % 3], k);
    const float x = next(), y = next(), z = next();
    in.sites.push_back({labels[k], elements[k % 3], x, y, z});
  }
  ASSERT_EQ(polytest::BuildCrystal(c, in, 1, 1, 1), "");
  const float *O = c.orientationMatrix;
  auto maxFor = [&](ElementCode a, ElementCode b) {
    for (int32_t k = 0; k < c.bondSpecCount; ++k) {
      const BondSpec &spec = c.bondSpecs[static_cast<size_t>(k)];
      if ((spec.elementA == a && spec.elementB == b) || (spec.elementA == b && spec.elementB == a))
        return spec.maxLength;
    }
    return -1.0f;
  };
  for (uint32_t s = 0; s < c.sites.size(); ++s) {
    float origin[3];
    MatMul(O, c.sites[s].xyz, origin);
    std::vector<int32_t> expected;
    for (uint32_t t = 0; t < c.sites.size(); ++t) {
      const float dmax = maxFor(c.sites[s].elements[0], c.sites[t].elements[0]);
      if (dmax < 0.0f)
        continue;
      const AtomRecord &atom = c.atoms[static_cast<size_t>(c.sites[t].firstAtom)];
      for (int i = -3; i <= 3; ++i)
        for (int j = -3; j <= 3; ++j)
          for (int k = -3; k <= 3; ++k) {
            const float image[3] = {atom.xyz[0] + i, atom.xyz[1] + j, atom.xyz[2] + k};
            float p[3];
            MatMul(O, image, p);
            const float d = VecBondDist(p, origin);
            if (d <= dmax && !(t == s && d < 0.01f))
              expected.push_back(static_cast<int32_t>(t));
          }
    }
    c.sites[s].coordination = 1000;
    std::vector<int32_t> around;
    EXPECT_EQ(GetCoordinatingAtoms(&c, s, &around), static_cast<int32_t>(expected.size())) << c.sites[s].label;
    EXPECT_EQ(around, expected) << c.sites[s].label;
    // Cut at the coordination number, in the same order.
    c.sites[s].coordination = 3;
    EXPECT_EQ(GetCoordinatingAtoms(&c, s, &around), std::min<int32_t>(3, static_cast<int32_t>(expected.size())));
    expected.resize(std::min<size_t>(3, expected.size()));
    EXPECT_EQ(around, expected) << c.sites[s].label;
  }
  // The questions change no mode.
  for (const AsymmetricUnitRecord &site : c.sites)
    EXPECT_EQ(ShownPolyMode(site), kPolyModeUnset) << site.label;
  ClearCrystalRec(&c);
}

} // namespace
