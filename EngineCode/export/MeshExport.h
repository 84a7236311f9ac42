// The mesh generator of the 3-D exports (binary STL and COLLADA).
//
// The 3-D writers draw no pixels: they turn the structure of one window into
// triangle meshes in view-Cartesian Angstrom. This file decides which objects
// are exported (the visibility rules follow the model type exactly as the
// screen does), builds the lists an export needs once (bonds, polyhedron
// hosts, vectors) and turns a bond, a vector, the cell frame, a sphere or
// thermal ellipsoid, the principal ellipses of an ellipsoid and a
// coordination polyhedron into vertex, normal and index arrays. Tessellation
// follows the object's size on the screen (plot scale in pixels per
// Angstrom), so an export looks like the window it came from.
//
// Everything reads the structure through an `Export3DContext` that the
// export command fills for one export and that the writers pass on. The
// structure is never changed.
//
// Sound behaviour where a literal reading would give broken geometry:
// - a bond end is not trimmed into its atom once the bond radius reaches the
//   atom radius (the trim would take asin of more than 1);
// - bonds and vectors whose axis is shorter than `kMinAxisLength` after the
//   trim, and dashed or dotted bonds too short for one dash (0 pieces), never
//   enter the export lists, so no writer references an empty mesh;
// - shared vertices are found by a hash of all three coordinates.
//
// Main thread only.
#pragma once

#include "RGBColor.h"
#include "StructureRecord.h"
#include "files/AtomicFileWriter.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// ---- Constants ---------------------------------------------------------------------------

// Sides of a round object: an edge of a fifth of the pixel radius, kept
// within 4 to 15 pixels; never fewer than 3 sides.
inline constexpr float kSideEdgeShare = 0.2f;
inline constexpr float kMinSideEdge = 4.0f;
inline constexpr float kMaxSideEdge = 15.0f;
inline constexpr uint32_t kMinSides = 3;
// Ellipsoid rings: the edge starts one pixel longer.
inline constexpr float kRingEdgeExtra = 1.0f;
// A bond end reaches this share of the way into its atom.
inline constexpr float kBondTrimShare = 0.9f;
// Shorter axes (Angstrom) have no perpendicular; such bonds and vectors are
// not exported.
inline constexpr float kMinAxisLength = 1e-6f;
// Bond radius in the wire-frame model: two pixels.
inline constexpr float kWireBondPixels = 2.0f;
// Line bond styles are a tenth of the cylinder radius.
inline constexpr float kLineBondRadiusDivisor = 10.0f;
// A dash of a dashed bond is ten pixels.
inline constexpr float kDashPixels = 10.0f;
// Dashed cell lines: one piece per three pixels of the longest edge, 2 to 128.
inline constexpr float kCellDashPixels = 3.0f;
inline constexpr uint32_t kMinCellPieces = 2;
inline constexpr uint32_t kMaxCellPieces = 128;
// The single framed cell sits at trunc((min + max + this) / 2) of the range.
inline constexpr float kSingleCellNudge = 1e-6f;
// The cell range: a first cell above this range minimum is left out, and so
// is a last cell reached by less than this fraction.
inline constexpr float kCellRangeLowCut = 0.25f;
inline constexpr float kCellRangeHighCut = 0.75f;
// Vector shafts: on an atom drawn smaller than this (Angstrom) the shaft is
// this share of the bond radius fraction; the head is 3 shafts wide and
// twice as long as wide.
inline constexpr float kBareVectorAtomRadius = 0.1f;
inline constexpr float kBareShaftShare = 0.1f;
inline constexpr float kHeadRadiusFactor = 3.0f;
inline constexpr float kHeadLengthFactor = 2.0f;
// Principal-ellipse bands: half a hundredth of the longest semi-axis wide,
// and pushed out 1 % from the ellipsoid.
inline constexpr float kBandWidthDivisor = 100.0f;
inline constexpr float kBandPushOut = 1.01f;
// Tolerances are multiples of the machine epsilon.
inline constexpr float kEpsilonMultiple = 512.0f;
// Polyhedron faces are translucent in these modes.
inline constexpr float kTranslucentFaceOpacity = 0.5f;
// Black edges on colours whose channels sum below this, else white.
inline constexpr uint32_t kDarkFaceChannelSum = 32768;

// ---- Mesh records -----------------------------------------------------------------------

struct Vertex {
  float x = 0.0f, y = 0.0f, z = 0.0f;
};

using VertexArray = std::vector<Vertex>;
using IndexArray = std::vector<uint32_t>;
using SideFlagArray = std::vector<uint8_t>;

// Vertices as dictionary keys: exact equality on all three coordinates (a
// NaN coordinate is never equal), hashed on all three.
struct VertexEqual {
  bool operator()(const Vertex &a, const Vertex &b) const { return a.x == b.x && a.y == b.y && a.z == b.z; }
};
struct VertexHash {
  size_t operator()(const Vertex &v) const;
};

// Vertex -> index under VertexEqual: an open-addressed table, so that a mesh
// of thousands of vertices costs no allocation per vertex.
// Emptying it only moves a stamp on (a slot is in use when it carries the
// current stamp), so a table kept from one small mesh to the next costs
// nothing to clear.
class VertexDictionary {
public:
  // Empties the table and makes room for n vertices.
  void reserve(size_t n);
  // The index stored for v, or null.
  const uint32_t *Find(const Vertex &v) const;
  // Stores v -> index unless an equal vertex is there: answers the index
  // stored for v and whether it was new.
  std::pair<uint32_t, bool> Insert(const Vertex &v, uint32_t index);

private:
  struct Slot {
    Vertex v;
    uint32_t index = 0;
    uint32_t stamp = 0;
  };
  // Empties the table at a size of `slots`.
  void Reset(size_t slots);
  void Grow();
  std::vector<Slot> slots_;
  size_t count_ = 0;
  uint32_t stamp_ = 1;
};

// One exported bond. The key is the atom pair, lower index first.
struct BondRec {
  uint32_t a = 0;     // the lower atom index
  uint32_t b = 0;     // the higher
  uint16_t style = 0; // BondStyle after the model rules
  RGBColor colour1;   // the part next to atom a (even pieces)
  float opacity1 = 1.0f;
  RGBColor colour2;      // odd pieces
  float opacity2 = 1.0f; // 0 for dashed and dotted lines: the second colour is a gap
  float bondRadius = 0.0f;
  float radiusA = 0.0f; // how far the cylinder reaches into atom a
  float radiusB = 0.0f;
  Vertex start; // atom a, Cartesian
  Vertex end;   // atom b
  uint32_t pieces = 1;
};

// The bonds of one export, kept in the order they were added so that the
// files and their numbering are reproducible.
class BondSet {
public:
  bool Contains(uint32_t a, uint32_t b) const { return keys_.count(Key(a, b)) != 0; }
  void Add(const BondRec &bond);
  const std::vector<BondRec> &Records() const { return records_; }
  size_t Count() const { return records_.size(); }
  void Clear();

private:
  static uint64_t Key(uint32_t a, uint32_t b) { return (uint64_t{a} << 32) | b; }
  std::vector<BondRec> records_;
  std::unordered_set<uint64_t> keys_;
};

// A polyhedron edge: two vertex indices, the lower first.
struct EdgeRec {
  uint32_t first = 0;
  uint32_t second = 0;
};

// The distinct edges of a polyhedron in the order first met.
class EdgeSet {
public:
  void Add(uint32_t i, uint32_t j);
  const std::vector<EdgeRec> &Edges() const { return edges_; }
  void Clear();

private:
  std::vector<EdgeRec> edges_;
  std::unordered_set<uint64_t> keys_;
};

// ---- The output file --------------------------------------------------------------------

// A buffered output file. Bytes collect in memory and go to the file's
// writer in large writes; the writer remembers the first failure.
class ExportStream {
public:
  explicit ExportStream(AtomicFileWriter &file);
  ~ExportStream();
  ExportStream(const ExportStream &) = delete;
  ExportStream &operator=(const ExportStream &) = delete;

  // The buffer the writers append to; `Written` sends it on when full.
  std::string &Text() { return buffer_; }
  void Written() {
    if (buffer_.size() >= kFlushSize)
      Flush();
  }
  void Put(std::string_view bytes) {
    buffer_.append(bytes);
    Written();
  }
  // Sends everything buffered to the file.
  bool Flush();
  // Overwrites bytes at an offset from the start; writing goes on at the end.
  bool PatchAt(uint64_t offset, const void *bytes, size_t n);
  bool Failed() const { return !file_.Good(); }

private:
  static constexpr size_t kFlushSize = 1 << 20;
  AtomicFileWriter &file_;
  std::string buffer_;
};

// ---- The export ---------------------------------------------------------------------------

// The state of one 3-D export.
struct Export3DContext {
  CrystalRec *gXP = nullptr;                  // the structure being exported
  ExportStream *gFP = nullptr;                // the open output file
  BondSet gBonds;                             // the bonds to export, one per atom pair
  std::vector<uint32_t> gConnections;         // exported bonds at each atom (by atom index)
  std::vector<uint32_t> gPolyHosts;           // atoms whose polyhedron is exported
  std::vector<uint32_t> gVectors;             // vectors to export
  float gUnitCellMin[3] = {0.0f, 0.0f, 0.0f}; // first framed cell index along a, b, c
  float gUnitCellMax[3] = {0.0f, 0.0f, 0.0f}; // last framed cell index + 1
  uint32_t gTriangles = 0;                    // STL triangles written
  // For tests: the step named here meets an allocation failure.
  const char *failAllocationAt = nullptr;
};

// Calls f(atom index, site) for every atom of every visible site, sites in
// order, each site's atoms first to last.
template <typename F> void ForEachSiteAtom(const CrystalRec &c, F f) {
  const size_t nAtoms = UsableAtomSize(c), nSites = UsableSiteSize(c);
  for (size_t s = 0; s < nSites; s++) {
    const AsymmetricUnitRecord &site = c.sites[s];
    if (!site.visible || site.firstAtom < 0)
      continue;
    const size_t last = std::min(static_cast<size_t>(std::max(site.lastAtom + 1, 0)), nAtoms);
    for (size_t a = static_cast<size_t>(site.firstAtom); a < last; a++)
      f(static_cast<uint32_t>(a), site);
  }
}

// Raises std::bad_alloc when the context's test hook names the step.
void CheckAllocation(const Export3DContext &ctx, const char *step);
// The stop alert of a failed allocation in a step:
// "A memory allocation request failed (<step>); export has been cancelled."
void AllocationFailureAlert(const char *step);

// Empties the export lists.
void ReleaseExportLists(Export3DContext &ctx);

// ---- Visibility ---------------------------------------------------------------------------

bool ShouldDrawSphere(const Export3DContext &ctx, uint32_t sphere);
bool ShouldDrawEllipsoid(const Export3DContext &ctx, uint32_t atom);
bool ShouldDrawAtom(const Export3DContext &ctx, uint32_t atom);
// Faces of the atom's polyhedron: their colour (the atom type's) and opacity.
bool ShouldDrawPolyFaces(const Export3DContext &ctx, uint32_t atom, RGBColor *colour, float *opacity);
// Edges of the atom's polyhedron: their colour and opacity.
bool ShouldDrawPolyEdges(const Export3DContext &ctx, uint32_t atom, RGBColor *colour, float *opacity);
// The atom's exported bonds; 0 when it has none.
uint32_t GetAtomConnectivity(const Export3DContext &ctx, uint32_t atom);

// ---- Export lists -----------------------------------------------------------------------

// Each fills its list; false (with the stop alert) after an allocation
// failure, the list left empty.
bool MakeBondSet(Export3DContext &ctx);
bool MakePolyIndexList(Export3DContext &ctx);
bool MakeVecIndexList(Export3DContext &ctx);

// ---- Generators ---------------------------------------------------------------------------

// Sides of a circle of radius r Angstrom at the structure's plot scale.
uint32_t RoundObjectSides(const Export3DContext &ctx, float r);

// A cylinder from P to Q in n pieces, its ends trimmed into the atoms of
// radii RP and RQ (0: untrimmed). Vertices side-major, (n + 1) per side;
// quads piece by piece, then the start and end caps of each piece; normals:
// one per side, then the start and the end cap. Empty for a degenerate axis.
void GenerateBondVertices(const Export3DContext &ctx, const Vertex &P, const Vertex &Q, uint32_t pieces,
                          uint32_t *sides, VertexArray &vertices, VertexArray &normals, IndexArray &indices, bool stick,
                          float startRadius, float endRadius, float bondRadius);
// The bond's ends after the trim into its atoms; false for an axis shorter
// than kMinAxisLength. `r` is the radius the cylinder is made with.
bool TrimmedBondEnds(const Export3DContext &ctx, const Vertex &P, const Vertex &Q, float RP, float RQ, float r,
                     Vertex *Pt, Vertex *Qt);
// The cylinder radius of a bond record as the generator makes it.
float BondCylinderRadius(const Export3DContext &ctx, bool stick, float bondRadius);

// An arrow: shaft cylinder (one piece) and cone. Normals: the shaft's, then
// the tip (the unit axis), one per head side and the base (negated axis).
// False after an allocation failure.
bool GenerateVectorVertices(const Export3DContext &ctx, const VectorRecord &vector, VertexArray &vertices,
                            VertexArray &normals, IndexArray &indices, uint32_t *shaftSides, uint32_t *headSides);

// One cylinder per edge of the framed cells, with its piece count; sets the
// context's cell range. False after an allocation failure.
bool GenerateUnitCellVertices(Export3DContext &ctx, std::vector<VertexArray> &vertices,
                              std::vector<VertexArray> &normals, std::vector<IndexArray> &indices,
                              std::vector<uint32_t> &pieces, uint32_t *sides, float lineWidth);

// A triangulated ellipsoid (a sphere of radius R is passed as the end points
// centre + (R,0,0), (0,R,0), (0,0,R)). With the two-colour flag one side
// flag per corner; the cut-away flag opens the front octant. False after an
// allocation failure.
bool GenerateEllipsoidVertices(const Export3DContext &ctx, bool twoColour, bool eightSector, bool cutAway,
                               const Vertex axes[3], const Vertex &centre, VertexArray &vertices, VertexArray &normals,
                               SideFlagArray &sides, IndexArray &indices);
// Adds one triangle of an ellipsoid: outward winding, shared vertices through
// the dictionary (smooth), normals radial (smooth) or the face's.
void AddTriangleInfo(bool twoColour, bool eightSector, bool smooth, const Vertex &centre, const Vertex &c0,
                     const Vertex &c1, const Vertex &c2, VertexDictionary &dictionary, VertexArray &vertices,
                     VertexArray &normals, SideFlagArray &sides, IndexArray &indices);

// The principal-ellipse bands (arrays 0 to 2, quads) and the principal axes
// (array 3, segment pairs) of an atom's ellipsoid; one normal per band point.
void GenerateEllipsoidAttrVerts(const Export3DContext &ctx, uint32_t atom, const Vertex axes[3], const Vertex &centre,
                                VertexArray vertices[4], IndexArray indices[4], VertexArray &normals);

// The faces of the atom's polyhedron, outward, each face's corners in turn;
// one normal per face. A single face is emitted twice (front and back).
void GeneratePolyVertices(const Export3DContext &ctx, const AtomRecord &atom, VertexArray &vertices,
                          VertexArray &normals, IndexArray &indices);
// The distinct edges of the polyhedron, from the face indices
// `GeneratePolyVertices` made.
void GeneratePolyEdges(const Polyhedron &polyhedron, const IndexArray &indices, EdgeSet &edges);

// Reflectance of an object kind: 1 bonds, 2 polyhedra, 3 clouds, any other
// value atoms.
void GetRenderingCoefficients(const Export3DContext &ctx, int kind, float *kD, float *kA, float *kS, uint16_t *N);

// ---- Vector helpers of the writers ------------------------------------------------------

void AverageSTLNormal4(const Vertex &a, const Vertex &b, const Vertex &c, const Vertex &d, Vertex *out);
void AverageSTLNormal3(const Vertex &a, const Vertex &b, const Vertex &c, Vertex *out);
void AddToSTLVector(Vertex *v, float x, float y, float z);
void CopyToSTLVector(Vertex *v, float x, float y, float z);
// The point minus the structure's view centre.
void CopyToCentralisedSTLVector(const Export3DContext &ctx, Vertex *v, const float p[3]);

// The atom's axis end points in view coordinates (the orientation matrix
// times its fractional end points).
void EllipsoidAxisEnds(const Export3DContext &ctx, const AtomRecord &atom, Vertex axes[3]);
// Axis end points of a sphere of radius r about the centre.
void SphereAxisEnds(const Vertex &centre, float r, Vertex axes[3]);
// Whether the site's ellipsoid style opens the front octant.
bool IsCutAwayEllipsoidStyle(uint32_t style);
// Whether an atom style is drawn in two colours, and in eight sectors.
bool IsTwoColourAtomStyle(uint32_t style);
bool IsEightSectorAtomStyle(uint32_t style);
// The ball-joint radius of the stick model.
float BallJointRadius(const Export3DContext &ctx);
