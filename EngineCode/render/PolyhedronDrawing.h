// Drawing one atom of the polyhedral model: its coordination polyhedron as
// edges, translucent faces, solid faces, hatched faces or lit faces, with or
// without the central atom, or the atom with wire or stick bonds to its
// ligands. Also the face outlines as polygons and regions (hit-testing a
// face), the polyhedron's centroid and the edge colour (the model export).
//
// Site polyhedron display modes (PolyhedronDisplayMode, Polyhedra.h):
//   0, 1   nothing                 2      the atom alone (the model walk)
//   3-5    edges, hidden ones dashed; 4 with the atom, 5 with atom and bonds
//   6, 11  wire lines to the ligands, with (6) or without (11) the atom
//   7, 12  bonds to the ligands at bond (7) or stick (12) radius
//   8-10   translucent faces, back faces first, then front faces; 9 and 10
//          with the atom (and bonds) between them
//   13     opaque faces in the atom-type colour, framed white or black
//   14     white faces framed and hatched in the atom-type colour
//   15     lit, depth-shaded faces and their visible edges
//
// Everything draws into the current port and, for the anti-aliased lines,
// into the raster target (GetCurrentPixGlobals), at the pixel positions the
// projection last gave the atoms.
//
// Main thread only: `MakePoly` keeps its face and edge state in file-level
// storage for its helpers, so it is not re-entrant.
#pragma once

#include "StructureRecord.h"
#include "graphics/Region.h"

#include <cstdint>
#include <optional>

// ---- What the polyhedral model borrows from the rest of the plot ----------------------
// The ligand bonds, the central atom, its vectors and its label are drawn by
// the plot pipeline's own routines, reached through this table so that a
// test can record the calls (SetModelDrawingHooks); an entry left empty
// draws nothing.
struct ModelDrawingHooks {
  // One atom at depth t with its label, clipped to a mask when one is given
  // (the pipeline's PlotAndLabelAtom).
  void (*plotAndLabelAtom)(CrystalRec *crystal, uint32_t atom, float t, std::optional<ovgfx::Region> mask) = nullptr;
  // A bond between atoms a and b cut at the two radii (Angstrom), of bond
  // radius bondRadius, at depth t, in a plot of width x height (MakeBond).
  void (*makeBond)(const CrystalRec *crystal, uint32_t a, uint32_t b, float radiusA, float radiusB, float bondRadius,
                   float t, int32_t width, int32_t height) = nullptr;
  // A wire-frame line between a and b cut at the two radii (PlotWireFrameLine).
  void (*plotWireFrameLine)(CrystalRec *crystal, uint32_t a, uint32_t b, float radiusA, float radiusB,
                            float t) = nullptr;
  // The small yellow selection mark of an atom not drawn as a sphere
  // (DrawSelectedWireFrameAtom).
  void (*drawSelectedWireFrameAtom)(CrystalRec *crystal, uint32_t atom) = nullptr;
  // The parts of an atom's vectors behind and in front of it.
  void (*drawVectorBelowAtom)(CrystalRec *crystal, uint32_t atom) = nullptr;
  void (*drawVectorAboveAtom)(CrystalRec *crystal, uint32_t atom) = nullptr;
  // An atom's label in a colour at depth t (LabelAtom).
  void (*labelAtom)(CrystalRec *crystal, uint32_t atom, float t, RGBColor colour) = nullptr;
};
void SetModelDrawingHooks(const ModelDrawingHooks &hooks);
const ModelDrawingHooks &GetModelDrawingHooks();

// ---- Constants -----------------------------------------------------------------------------
// Face lighting: a cosine below this counts as unlit; a reflection below
// this gives no highlight.
inline constexpr float kPolyMinLitCosine = 0.00001f;
// Polyhedron edge modes: 2 darker (or lighter on a dark face), 3 half-way
// to white, 4 black; any other gives no edges of their own.
inline constexpr int8_t kPolyEdgeShaded = 2;
inline constexpr int8_t kPolyEdgePale = 3;
inline constexpr int8_t kPolyEdgeBlack = 4;
// Mode 2 edges: a face whose channels sum below this is lightened by the
// share, otherwise darkened by the factor.
inline constexpr uint32_t kPolyEdgeDarkSum = 32768;
inline constexpr float kPolyEdgeLighten = 0.15f;
inline constexpr float kPolyEdgeDarken = 0.85f;
// Mode 13 frames are white on faces whose channels sum below this.
inline constexpr uint32_t kPolyFrameWhiteBelowSum = 98302;
// From this resolution on the frames of modes 13 and 14 grow with it.
inline constexpr int kPolyFrameGrowsAbove = 143;
// Mode 14: hatch lines per face.
inline constexpr int kPolyHatchLines = 8;

// ---- One atom of the polyhedral model ------------------------------------------------------
// The model walk (PlotPolyhedral) calls these by the site's mode, back to
// front.

// The polyhedron of one atom by its site's mode (3 to 5, 8 to 10, 13 to 15;
// above 15 only the selection, vertex atoms and label). Nothing when the
// atom has no polyhedron, a ligand or its site is hidden, or (in a crystal)
// the atom has fewer bonds than its site's coordination number.
void MakePoly(CrystalRec *crystal, uint32_t atom, float depth);
// The atom with bonds to its ligands (modes 5, 7, 10 and 12).
void MakePolyBallAndStick(CrystalRec *crystal, uint32_t atom, float depth);
// The atom with wire lines to its ligands (mode 6 with the atom, 11 without).
void MakePolyWireFrame(CrystalRec *crystal, uint32_t atom, float depth, int16_t withAtom);

// ---- Faces -----------------------------------------------------------------------------------

// The face outline through its vertex atoms' pixel positions, closed back to
// the first vertex; none without a face or atoms, or for a vertex out of range.
// It is drawn as it is, however far it reaches past the picture: the port
// makes only the visible rows of a polygon (PolygonClip.h).
std::optional<ovgfx::Polygon> MakePolyFaceHdl(const CrystalRec *crystal, const PolyFace *face);
// The same outline as a region.
std::optional<ovgfx::Region> MakeRegionFaceHdl(const CrystalRec *crystal, const PolyFace *face);
// Frames a face with anti-aliased lines of the width along each edge, the
// last vertex joined to the first.
void FramePolyFace(const CrystalRec *crystal, const PolyFace *face, RGBColor colour, int16_t width);

// Lit and depth-shaded colour of face `face` of the polyhedron `MakePoly` is
// drawing, seen from the front (side +1) or from behind (side -1); `factor`
// is the depth cue's opacity.
void ColorPolyFace(const CrystalRec *crystal, uint32_t face, int side, RGBColor &colour, float &factor, float depth);
// Paints face `face` of that polyhedron lit from the front.
void PlotPolyFaceShaded(const CrystalRec *crystal, uint32_t face, float depth);
// The edge colour of the structure's polyhedron edge mode for a face colour,
// depth-shaded; false when edges take no colour of their own.
bool GetPolyFrameColor(const CrystalRec *crystal, float depth, RGBColor faceColour, RGBColor &colour, float &factor);
// Draws the visible edges (front) and/or the hidden edges, dashed (back),
// of that polyhedron; below a factor of 1 the pen blends.
void DrawPolyEdges(const CrystalRec *crystal, bool front, RGBColor colour, bool back, float factor);
// Mean Cartesian position of the distinct vertex atoms over all faces; false
// when there is none.
bool GetPolyCentroid(const Polyhedron *polyhedron, const std::vector<AtomRecord> &atoms, float centroid[3]);
