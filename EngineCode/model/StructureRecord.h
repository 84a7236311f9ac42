// The structure record and the records of its arrays.
//
// `CrystalRec` holds one structure, crystal or molecule: its flags, the arrays
// it owns with their counts, the bond-specification table and the symmetry
// cards held inline, the cell, the view, the plot range and scale, the
// lattice plane and the display settings that a new structure takes from the
// preferences record (Preferences.h).
//
// Arrays are std::vector. Each array keeps its count in the record as well,
// as callers read it: an array is either empty (count 0) or holds exactly
// count records. Everyone else reaches the arrays through the accessors and
// operations of StructureArrays.h, which keep the two in step, keep indices
// dense and ordered, and renumber every index that pointed past a deleted
// record.
//
// Pictures (atom-type images, the background picture, thumbnails) belong to
// the renderer; here they are opaque shared handles, so copying a record
// never leaves two owners of one picture and dropping a handle frees it.
#pragma once

#include "DerivedLayers.h"
#include "HostServices.h"
#include "InlineVector.h"
#include "Utilities.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

// ---- Small shared types -----------------------------------------------------

// An image or region owned by the renderer (an off-screen pixel buffer, a
// mask, a loaded picture). The model only carries it; the renderer makes it
// and casts it back. Resetting the handle releases the picture.
using OVImageHandle = std::shared_ptr<void>;

// ---- Limits -------------------------------------------------------------------

inline constexpr int kMaxBondSpecs = 200;        // inline bond-specification table
inline constexpr int kMaxSymCards = 192;         // inline symmetry cards
inline constexpr int kSymcardSize = 26;          // three 7-character fields, two blank pairs, NUL
inline constexpr int kSpaceGroupSymbolSize = 21; // at most 20 characters and a NUL
inline constexpr int kSiteLabelSize = 8;         // at most 7 characters and a NUL
inline constexpr int kMaxSiteElements = 3;       // elements sharing one site
inline constexpr int kMaxPackedPolyVertices = 256;
inline constexpr int kPackedPolyHeaderSize = 10;
inline constexpr int kLatticePlaneMaxVertices = 6;

// The blank element code: two blanks.
inline constexpr ElementCode kBlankElement = 0x2020;

// Annotation kinds.
enum AnnotationKind : uint8_t { kAnnotationTextBox = 1, kAnnotationLine = 2, kAnnotationScaleBar = 3 };
// Depth-sort index entry kinds.
enum SortIndexKind : int8_t { kSortItemAtom = 1, kSortItemCellPoint = 2 };
// Site displacement types.
enum DisplacementType : uint32_t {
  kDisplacementNone = 0,
  kDisplacementIsotropic = 1,
  kDisplacementAnisoU = 2,
  kDisplacementAnisoB = 3,
};

// A symmetry operator as text: "%3s%-4s  %3s%-4s  %3s%-4s" and a NUL.
using Symcard = std::array<char, kSymcardSize>;

// ---- Records of the arrays ---------------------------------------------------

// One site of the asymmetric unit. Sites stand sorted by element.
struct AsymmetricUnitRecord {
  ElementCode elements[kMaxSiteElements] = {kBlankElement, kBlankElement, kBlankElement};
  float occupancies[kMaxSiteElements] = {0.0f, 0.0f, 0.0f};
  uint32_t atomType = 0;           // index into the atom types
  // The polyhedron display mode given (by the file, the user, the bond
  // search; 0-15, 12 a class of its own): written through SetGivenPolyMode.
  uint32_t polyMode = 0;
  uint32_t atomStyle = 14;         // AtomStyle
  uint32_t ellipsoidStyle = 13;    // EllipsoidStyle
  char label[kSiteLabelSize] = {}; // NUL-terminated, at most 7 characters
  uint32_t coordination = 0;       // coordination number
  uint8_t visible = 1;
  float xyz[3] = {0.0f, 0.0f, 0.0f}; // fractional
  float esd[3] = {0.0f, 0.0f, 0.0f}; // esds of the fractional coordinates
  uint8_t ignoreEllipsoid = 0;       // drawn without its thermal ellipsoid
  uint32_t displacementType = kDisplacementNone;
  float tensor[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}; // U or B, row by row
  float isoValue = 0.1f;                         // U(iso), A^2
  int32_t firstAtom = 1;                         // first generated atom
  int32_t lastAtom = 0;                          // last generated atom; below first: no atoms
  int32_t atomsPerCell = 0;                      // atoms the site generates in one cell
  // The disorder the file describes (BondSearch.h, alternative positions):
  // the assembly (0: the file's only one, or none named) and the group in
  // it (0: no group; below 0: disorder about a special position).
  int16_t disorderAssembly = 0;
  int16_t disorderGroup = 0;
  // The mode the site roles last derived for the site (Polyhedra.h), shown
  // over the given one; 0 for none. The structure's derived layers
  // (DerivedLayers.h) write it when a reader asks for the roles; it travels
  // with the site through every command that copies or reorders sites.
  mutable uint32_t derivedPolyMode = 0;
};

// The mode a site shows as it stands, deriving nothing: the derived one, else
// the given one. What is read elsewhere goes through SitePolyMode.
inline uint32_t ShownPolyMode(const AsymmetricUnitRecord &site) {
  return site.derivedPolyMode ? site.derivedPolyMode : site.polyMode;
}
// The one way a site is given a mode: what was derived for it goes.
inline void SetGivenPolyMode(AsymmetricUnitRecord &site, uint32_t mode) {
  site.polyMode = mode;
  site.derivedPolyMode = 0;
}
// The group of the first alternate location a macromolecular file keeps; each
// further location kept is the next group (AlternateLocations.h), bonded
// within itself and to the atoms of no location, never to another location.
inline constexpr int16_t kKeptConformerGroup = 1;

// One face of a coordination polyhedron: its vertex atoms in order.
// Faces are triangles and squares but for a few: their vertices stay inside
// the face.
using FaceVertices = InlineVector<uint32_t, 4>;
struct PolyFace {
  uint32_t vertexCount = 0;
  FaceVertices vertices; // atom indices, vertexCount of them
};

// A coordination polyhedron of an atom.
struct Polyhedron {
  uint32_t centreAtom = 0;
  uint8_t flag = 0;
  uint32_t vertexCount = 0;
  uint32_t faceCount = 0;
  std::vector<PolyFace> faces; // faceCount of them
};

struct AtomRecord;
struct CrystalRec;

// An atom's coordination polyhedron, or none: the one way a structure's
// polyhedra are read. Polyhedra left to be made when first needed
// (DerivedLayers::PolyhedraDue, BondsMade in DerivedLayers.h) are made
// first, so that a save, an export, a report and every command see
// the polyhedra the polyhedral model draws. The atom is one of the
// structure's.
const Polyhedron *AtomPolyhedron(CrystalRec *crystal, const AtomRecord &atom);
// The same as the structure holds it, making none: none while its polyhedra
// are pending. What writes the structure out as it stands reads this, once
// for each atom: it is defined with the structure record, below.
inline const Polyhedron *AtomPolyhedronAsHeld(const CrystalRec &crystal, const AtomRecord &atom);

// A site's polyhedron display mode: the one way a built structure's modes
// are read. Roles left to be derived when first needed (BondsMade,
// DerivedLayers.h) are derived first, into the
// structure's derived layers, so that a save, an export, a window and every
// command see the modes the build would have set at once; nothing given
// changes. The site is one of the structure's.
uint32_t SitePolyMode(CrystalRec *crystal, size_t site);
uint32_t SitePolyMode(const CrystalRec &crystal, size_t site);
// Gives a site a mode, the roles first derived as SitePolyMode derives them:
// the mode is then the site's own (a mode the user chose stays). Setting the
// mode the site shows changes nothing.
void SetSitePolyMode(CrystalRec *crystal, size_t site, uint32_t mode);

// An atom's polyhedron as the structure holds it: it is read only through
// AtomPolyhedron. While the structure's polyhedra are pending it is none,
// or one made for a save (PolyhedraForSave, Polyhedra.h). What keeps held
// polyhedra in step with their atoms (made, dropped, renumbered, checked)
// reads nothing out.
class HeldPolyhedron {
public:
  void Hold(Polyhedron polyhedron) { value_ = std::move(polyhedron); }
  void Drop() { value_.reset(); }
  bool Held() const { return value_.has_value(); }
  // Every atom index it names, its centre's and its vertices', through
  // `renumber(uint32_t &)`.
  template <class Renumber> void RenumberAtoms(Renumber &&renumber) {
    if (!value_)
      return;
    renumber(value_->centreAtom);
    for (PolyFace &face : value_->faces)
      for (uint32_t &v : face.vertices)
        renumber(v);
  }
  // Why a held polyhedron does not fit a structure of `atoms` atoms (a face
  // count or a vertex count that disagrees with its list, an atom index
  // beyond the atoms); empty when it fits or none is held.
  std::string Misfit(size_t atoms) const;

private:
  friend const Polyhedron *AtomPolyhedron(CrystalRec *crystal, const AtomRecord &atom);
  friend const Polyhedron *AtomPolyhedronAsHeld(const CrystalRec &crystal, const AtomRecord &atom);
  std::optional<Polyhedron> value_;
};

// An atom's bonds: a usual coordination stays inside the atom record.
using BondList = InlineVector<uint32_t, 6>;

// One generated atom. The atoms of one site are contiguous, sites in order.
// The fields that the walks over every atom read (bond search, polyhedra,
// plotting) come first, so that they share the record's first cache lines.
struct AtomRecord {
  uint32_t site = 0;
  uint32_t atomType = 0; // equals the site's unless the user gave the atom its own
  uint8_t visible = 1;
  uint8_t selected = 0;
  uint8_t labelled = 0;
  uint8_t hasVector = 0;                // a vector is attached
  uint8_t flags[2] = {0, 0};            // carried and saved; no meaning in the model
  int16_t pixel[2] = {0, 0};            // x then y, written by the projection
  float xyz[3] = {0.0f, 0.0f, 0.0f};    // fractional
  float cart[3] = {0.0f, 0.0f, 0.0f};   // OrientationMatrix x xyz, Angstrom
  uint32_t bondCount = 0;               // entries of bonds
  BondList bonds;                       // indices of the bonded atoms, owned
  HeldPolyhedron polyhedron;             // its coordination polyhedron, owned
  float ellipsoidAxes[3][3] = {};       // fractional end points of the three axes
};

// An atom type shared by sites and atoms.
struct SphereRecord {
  ElementCode element = kBlankElement;
  uint32_t style = 14;      // AtomStyle
  float radius = 1.0f;      // Angstrom
  float drawnRadius = 1.0f; // radius drawn in the current model (renderer)
  RGBColor colour{40000, 40000, 40000};
  // Two pre-rendered images with their bounds (0, 0, 2r+1, 2r+1) and masks,
  // made and used by the renderer; the second serves the surface overlay.
  OVImageHandle image1;
  Rect bounds1;
  OVImageHandle mask1;
  OVImageHandle image2;
  Rect bounds2;
  OVImageHandle mask2;
};

// One pair of elements that bond between a minimum and a maximum length.
struct BondSpec {
  ElementCode elementA = 0;
  ElementCode elementB = 0; // a pair matches in either order
  float minLength = 0.0f;   // Angstrom
  float maxLength = 0.0f;   // Angstrom
  uint16_t style = 0;       // BondStyle
  RGBColor colour1;
  RGBColor colour2;
};

// Style and colours of one bond between two atoms, overriding its element
// pair's specification. A pair matches in either order.
struct CustomBondSpec {
  uint32_t atomA = 0;
  uint32_t atomB = 0;
  uint16_t style = 1; // BondStyle
  RGBColor colour1{45000, 45000, 45000};
  RGBColor colour2{45000, 45000, 45000};
};

// A vector (an arrow) drawn from an atom.
struct VectorRecord {
  RGBColor colour{65535, 0, 0};
  uint32_t atom = 0;
  uint8_t selected = 0;
  uint8_t style = 2;                     // 2: with a tail through the atom
  float uvw[3] = {0.0f, 0.0f, 1.0f};     // fractional components
  float headRadius = 0.0f;               // Angstrom, written by the drawing
  float tipXYZ[3] = {0.0f, 0.0f, 0.0f};  // fractional tip
  float tipCart[3] = {0.0f, 0.0f, 0.0f}; // Cartesian tip
  int16_t tipPixel[2] = {0, 0};          // x then y
};

// An annotation object: a text box, a line or arrow, or a scale bar. Its
// points are fractions of the drawing area (origin top-left); the pixel
// fields cache the last drawing at unit scale.
struct TextBoxRecord {
  uint8_t kind = kAnnotationTextBox;
  uint8_t selected = 0;
  uint8_t visible = 1;
  uint8_t shadow = 0; // set by the annotation editor
  RGBColor textColor = kRGBBlack;
  RGBColor backColor = kRGBWhite;
  int16_t fontNumber = 1;
  uint16_t fontStyle = 0; // 1 bold, 2 italic, 4 underline
  uint16_t fontSize = 12; // points at unit scale
  uint16_t justification = 2;
  uint8_t frame = 1;
  uint8_t fill = 1;
  uint8_t spare100 = 100;
  uint8_t spareOne = 1;
  float spareScale = 1.0f;
  uint8_t hasPointer = 0;
  uint8_t pointerTwoEnds = 0;
  uint8_t anchor = 9;
  uint8_t arrowHeads = 0;
  Point pixel1;
  float frac1[2] = {0.0f, 0.0f}; // x of the width, y of the height
  Point pixel2;
  float frac2[2] = {0.0f, 0.0f};
  Rect boxRect;
  float boxCentre[2] = {0.0f, 0.0f};
  uint32_t textLength = 0; // UTF-16 code units of text
  std::u16string text;     // owned; empty for lines and scale bars
};

// A point of the unit-cell frame, drawn in depth order with the atoms.
struct CellPoint {
  float cart[3] = {0.0f, 0.0f, 0.0f};
  int16_t pixel[2] = {0, 0}; // x then y
  uint8_t labelled = 0;
  int8_t linkCount = 0;       // at most 2
  uint32_t links[2] = {0, 0}; // the cell points it is joined to
};

// One entry of the depth-sort index: an atom or a cell point.
struct SortIndexEntry {
  uint32_t index = 0;
  int8_t kind = kSortItemAtom;
};

// A voxel. The record keeps a slot for a voxel array that nothing fills.
struct VoxelRecord {
  float value = 0.0f;
};

// The stored form of a polyhedron: a 10-byte header whose bytes 4 to 9 count
// the faces with 3 to 8 vertices, then one byte per vertex (its position in
// the central atom's bonds list), faces grouped by size. At most 256 vertex
// bytes.
struct PackedPolyRec {
  std::vector<uint8_t> bytes; // header and vertex bytes
};

inline constexpr int kPackedPolyMinFaceSize = 3;
inline constexpr int kPackedPolyMaxFaceSize = 8;
inline constexpr int kPackedPolyCountsOffset = 4; // header byte of the 3-vertex face count

// A zeroed packed record of 10 + n bytes; refused for n outside 0 to 256.
std::optional<PackedPolyRec> CreatePackedPoly(int32_t n);
void DestroyPackedPoly(PackedPolyRec *rec);
// The number of faces with `size` (3 to 8) vertices; 0 for another size or a
// record too short to hold its header.
int32_t PackedPolyFaceCount(const PackedPolyRec &rec, int32_t size);
// The number of vertex bytes a header announces: the sum over the face
// sizes of size x count. `header` holds at least 10 bytes.
int32_t PackedPolyVertexBytes(const uint8_t *header);
// Reads one packed record from the front of `data`. The record is refused
// (false, out untouched) when data cannot hold the header, when the header
// announces more than 256 vertex bytes, or when data ends before the vertex
// bytes do: nothing is ever read past the end of data. On success *consumed
// is 10 + the vertex bytes.
bool ReadPackedPolyRec(std::span<const uint8_t> data, PackedPolyRec *out, size_t *consumed);
// Appends the record to out; false, and nothing written, when its length
// disagrees with its header or it holds more than 256 vertex bytes.
bool WritePackedPolyRec(const PackedPolyRec &rec, std::vector<uint8_t> &out);

// The saved state of one visible atom across a regeneration.
struct AtomVisibilityEntry {
  char label[kSiteLabelSize] = {};
  float cart[3] = {0.0f, 0.0f, 0.0f};
  uint8_t selected = 0;
  uint8_t used = 0;
};

// ---- Lattice plane ------------------------------------------------------------

struct LatticePlaneVertex {
  float xyz[3] = {0.0f, 0.0f, 0.0f};  // fractional
  float cart[3] = {0.0f, 0.0f, 0.0f}; // view Cartesian
  int16_t pixel[2] = {0, 0};          // h, v as last drawn
};

struct LatticePlane {
  float latticeNormal[3] = {0.0f, 0.0f, 0.0f}; // fractional components
  float viewNormal[3] = {0.0f, 0.0f, 0.0f};    // unit, view Cartesian
  int16_t spare[2] = {0, 0};
  uint16_t vertexCount = 0; // 0 to 6
  LatticePlaneVertex vertices[kLatticePlaneMaxVertices];
  float point[3] = {0.0f, 0.0f, 0.0f}; // a point of the plane, view Cartesian
  float hkl[3] = {1.0f, 1.0f, 1.0f};   // Miller indices
  uint8_t shown = 0;
  RGBColor colour;
  float transparency = 0.5f; // 0 opaque to 1 clear
};

// ---- The structure record ------------------------------------------------------

struct CrystalRec {
  // Header and owned arrays.
  uint8_t molecule = 0;      // 1 molecule, 0 crystal
  uint8_t esdFlag = 0;       // cell and coordinate esds are known (and saved)
  uint8_t ellipsoidData = 0; // sites carry displacement parameters, atoms axis points
  std::vector<AsymmetricUnitRecord> sites;
  std::vector<AtomRecord> atoms;
  // What is derived from the structure (site roles, polyhedra), what of it
  // is due and what changed: read and derived through SitePolyMode and
  // AtomPolyhedron, which change nothing given.
  mutable DerivedLayers derived;
  std::vector<SphereRecord> spheres;
  std::array<BondSpec, kMaxBondSpecs> bondSpecs{}; // first bondSpecCount used
  std::vector<CustomBondSpec> customBondSpecs;
  std::vector<CellPoint> cellPoints;
  std::vector<VoxelRecord> voxels;
  std::vector<SortIndexEntry> sortIndex;
  std::vector<VectorRecord> vectors;
  std::vector<TextBoxRecord> textBoxes;
  std::array<Symcard, kMaxSymCards> symCards{}; // first cardCount used
  int32_t siteCount = 0;
  int32_t atomCount = 0;
  int32_t sphereCount = 0;
  int32_t bondSpecCount = 0; // at most 200
  int32_t customBondSpecCount = 0;
  int32_t cellPointCount = 0;
  int32_t voxelCount = 0;
  int32_t sortIndexCount = 0;
  int32_t vectorCount = 0;
  int32_t textBoxCount = 0;

  // Symmetry and cell.
  uint16_t cardCount = 0; // at most 192; 0: operators from the table
  char spaceGroup[kSpaceGroupSymbolSize] = "P 1";
  uint8_t originChoice = 0;                         // 1: first of two origin choices
  float originShift[3] = {0.0f, 0.0f, 0.0f};        // fractional
  char latticeLetter = 'P';                         // P, A, B, C, I, F or R
  float a = 10.0f, b = 10.0f, c = 10.0f;            // Angstrom
  float alpha = 90.0f, beta = 90.0f, gamma = 90.0f; // degrees
  float cellEsds[6] = {0, 0, 0, 0, 0, 0};           // a, b, c, alpha, beta, gamma
  int32_t atomsPerCell = 0;
  float metricTensor[9] = {};

  // View, range and scale.
  float viewDirection[3] = {0.0f, 0.0f, 1.0f};               // direct-lattice u, v, w into the screen
  float orientationMatrix[9] = {};                           // fractional to view Cartesian
  float plotRange[6] = {0.0f, 1.0f, 0.0f, 1.0f, 0.0f, 1.0f}; // xmin, xmax, ymin, ymax, zmin, zmax
  int32_t na = 0, nb = 0, nc = 0;                            // whole cells along a, b, c
  float plotScale = 100.0f;                                  // pixels per Angstrom
  float plotExtent = 0.0f;
  float plotCentre[3] = {0.0f, 0.0f, 0.0f};
  float frontZ = 0.0f;
  float backZ = 0.0f;
  float minAtomRadius = 0.0f; // smallest drawn atom radius

  LatticePlane plane;

  // Display settings. Their twins in the preferences record fill them
  // (CopyPrefsToCrystal); the highlight colour, model type, surface overlay,
  // ellipsoid critical value, background picture and image, diffraction link,
  // last plot duration and stereo image in progress are the structure's own.
  uint8_t rulerUnits = 1; // 1 Angstrom, 2 nanometre
  uint8_t showGrid = 0;
  RGBColor hiliteColor = kRGBWhite;
  uint8_t stereoOn = 0;
  int8_t stereoMode = 1; // 1 red/blue, 2 side-by-side
  // Reflectance per surface: atom, bond, polyhedron, cloud.
  float kD[4] = {0.75f, 0.9f, 0.9f, 1.0f};
  float kA[4] = {0.25f, 0.5f, 0.5f, 0.5f};
  float kS[4] = {1.0f, 1.0f, 0.0f, 0.0f};
  uint16_t phongN[4] = {30, 10, 1, 1};
  int8_t polyEdgeMode = 2;
  float ambientIntensity = 1.0f;
  float pointIntensity = 1.0f;
  float lightDirection[3] = {-0.5f, 0.5f, 0.7071f};
  uint8_t depthFading = 0;
  float lowerPlateauZ = 0.8f, lowerBaseZ = 0.0f, lowerMinOpacity = 0.0f;
  float upperPlateauZ = 1.0f, upperBaseZ = 1.0f, upperMinOpacity = 1.0f;
  float viewDistance = 50.0f;
  uint8_t perspective = 0;
  float stereoAngle = 4.0f;      // degrees
  float stereoSeparation = 0.0f; // centimetres
  int8_t modelType = 1;          // ModelType 1-6
  uint8_t surfaceOverlay = 0;
  uint8_t showUnitCell = 1;
  uint8_t showAxes = 1;
  uint32_t defaultAtomStyle = 14;
  float minBSSphereRadius = 0.2f;
  float bsSphereRadFrac = 0.4f;
  uint32_t defaultEllipsoidStyle = 13;
  float ellipsoidProbability = 0.5f;
  float ellipsoidCriticalValue = 1.5382f;
  float ellipsoidSphereRadius = 0.2f;
  uint32_t defaultPolyMode = 15;
  uint16_t defaultBondStyle = 1;
  RGBColor bondColor1{45000, 45000, 45000};
  RGBColor bondColor2{45000, 45000, 45000};
  float bondRadius = 0.25f;
  float stickRadius = 0.5f;
  float stickJointFactor = 1.1f;
  RGBColor cloudSphereColor{65535, 65535, 0};
  int8_t cloudSphereType = 2;
  float cloudSphereRadFrac = 1.0f;
  float cloudSphereTransparency = 0.4f;
  uint8_t cloudSameSphereColor = 1;
  float unitCellLineWidth = 1.0f;
  RGBColor unitCellColor{0, 0, 65535};
  uint8_t unitCellOptions[4] = {0, 0, 1, 1};
  int8_t axesOption = 1;
  RGBColor axisColors[3] = {{65535, 0, 0}, {0, 34952, 0}, {8738, 8738, 65535}};
  uint8_t atomLabelType = 1;
  int8_t atomLabelPos = 4;
  uint8_t labelFlag = 1;             // automatic label placement
  uint8_t labelSizeFollowsScale = 1; // label size scales with the plot scale
  Str255 labelFont = MakeStr255("Verdana");
  float labelSize = 10.0f; // points
  uint8_t backgroundGradient = 0;
  uint32_t gradientStyle = 5;
  RGBColor backgroundColor = kRGBBlack;
  RGBColor gradientColors[2] = {kRGBWhite, kRGBBlack};
  float gradientAngle = 0.0f;
  float gradientScale = 1.0f;
  std::filesystem::path backgroundPicture; // empty: none
  uint16_t backgroundPictureMode = 1;      // tiled, centred or scaled
  OVImageHandle backgroundPictureImage;    // the picture loaded at natural size
  uint32_t diffractionLinkID = 0;          // 0: not linked
  float lastPlotDuration = 0.0f;           // seconds
  uint32_t stereoImageInProgress = 0;      // 0 single, 2 first, 1 second image
};

inline const Polyhedron *AtomPolyhedronAsHeld(const CrystalRec &crystal, const AtomRecord &atom) {
  return !crystal.derived.PolyhedraDue() && atom.polyhedron.value_ ? &*atom.polyhedron.value_ : nullptr;
}

// ---- Records in use ----------------------------------------------------------------

// How many records of an array are in use: the record's count, kept within
// [0, what the array holds], so that a count out of step with its array never
// indexes past it. The count is an int32_t, so the result always fits one; the
// size_t forms are the same number for index arithmetic on the vectors.
inline size_t UsableRecords(size_t held, int32_t count) {
  return std::min(held, static_cast<size_t>(std::max(count, 0)));
}
inline size_t UsableSiteSize(const CrystalRec &c) { return UsableRecords(c.sites.size(), c.siteCount); }
inline size_t UsableAtomSize(const CrystalRec &c) { return UsableRecords(c.atoms.size(), c.atomCount); }
inline size_t UsableSphereSize(const CrystalRec &c) { return UsableRecords(c.spheres.size(), c.sphereCount); }
inline int32_t UsableSiteCount(const CrystalRec &c) { return static_cast<int32_t>(UsableSiteSize(c)); }
inline int32_t UsableAtomCount(const CrystalRec &c) { return static_cast<int32_t>(UsableAtomSize(c)); }
inline int32_t UsableSphereCount(const CrystalRec &c) { return static_cast<int32_t>(UsableSphereSize(c)); }
