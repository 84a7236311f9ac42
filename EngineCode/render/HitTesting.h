// What lies under a pixel of the graph pane: the frontmost annotation
// object, atom or vector (`FindClickedObject`), and the frontmost bond
// (`FindClickedBond`). Both read the pixel caches of the last plot (the
// atoms' pixel positions, the atom-type image bounds, the annotation
// objects' pixel fields) and take points in window coordinates, subtracting
// the graph pane's top-left corner themselves. Main thread only.
#pragma once

#include "BasicTypes.h"
#include "HostServices.h"
#include "StructureRecord.h"

#include <cstdint>

// What `FindClickedObject` reports.
enum ObjectHitKind : int16_t {
  kHitNothing = 0,
  kHitAtom = 1,
  kHitVector = 2,
  kHitAnnotationInside = 3,
  kHitAnnotationTip = 4,
  kHitAnnotationAnchor = 5,
  kHitAnnotationLine = 6,
  kHitAnnotationResizeFirst = 7, // 7 to 14: the eight resize handles
  kHitAnnotationBand = 15,
};

// Hit radius of every atom in the wire-frame model, and the radius that
// replaces one too small to aim at (pixels).
inline constexpr int32_t kWireFrameHitRadius = 5;
inline constexpr int32_t kMinHitRadius = 3;
inline constexpr int32_t kSmallHitRadius = 10;
// Pixels around a text box that still belong to it.
inline constexpr int kAnnotationBand = 3;
// How near a pointer line a point must lie (pixels).
inline constexpr float kPointerLineTolerance = 4.0f;
// Bonds: the box around a bond grows this much; a point this near a bond hits it.
inline constexpr int kBondBoxMargin = 5;
inline constexpr float kBondHitDistance = 10.0f;
// Depth to beat when no atom was hit.
inline constexpr float kNoHitDepth = -9.99e30f;

// The frontmost object under the point: its kind, index and (for an atom or
// a vector) hit radius in pixels. False (kind 0) when nothing is hit or the
// structure lacks sites, atoms, atom types or a depth-sort index.
bool FindClickedObject(WindowRef window, Point point, int16_t *kind, int32_t *index, int32_t *radius);
// The frontmost bond under the point; atomA is its nearer atom.
bool FindClickedBond(WindowRef window, Point point, int32_t *atomA, int32_t *atomB);
// True when the pane point lies inside some face of the polyhedron as drawn.
bool My2DPtInPoly(const CrystalRec *crystal, Point point, const Polyhedron *polyhedron);
// The annotation part under the pane point, objects from last to first; 0
// for none. Used by `FindClickedObject`.
int16_t FindClickedAnnotation(const CrystalRec *crystal, Point panePoint, int32_t *index);
// The hit radius of an atom in pixels (see `FindClickedObject`).
int32_t AtomHitRadius(const CrystalRec *crystal, uint32_t atom);
