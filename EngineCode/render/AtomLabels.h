// Atom labels and the corner labels of the unit-cell frame.
//
// A labelled atom gets a short text beside it (site label, element, atom
// number, height or fractional coordinates) on a bearing around the atom:
// the structure's fixed label position or, with automatic placement, the
// middle of the widest angular gap between the atom's drawn bonds, so that
// the text does not lie on a bond. Bearings are degrees clockwise from
// straight up on the screen (0 above, 90 right, 180 below, 270 left).
//
// Labels fade with depth like the atoms, shrink with perspective, and are
// drawn anti-aliased and translucent when the depth cue makes them so. The
// model walk calls `LabelAtom` right after each labelled atom and
// `LabelCellPoint` for labelled cell points, in the highlight colour.
//
// The only state is each atom's last bearing, kept in the atom record's two
// flag bytes between plots: it keeps automatic placement steady while the
// structure turns and is shared by the two images of a stereo pair.
//
// Main thread only: uses and changes the current port's text size and
// colours.
#pragma once

#include "HostServices.h"
#include "RGBColor.h"
#include "StructureRecord.h"
#include "Utilities.h"

#include <array>
#include <cstdint>
#include <string_view>

// Free-sector slots: one per degree, slot i covering bearings i to i + 1.
inline constexpr int kBearingSlots = 360;
inline constexpr uint8_t kSlotFree = 1;
inline constexpr uint8_t kSlotOccupied = 0;
using BearingSlots = std::array<uint8_t, kBearingSlots>;

// Label types.
enum AtomLabelType : uint8_t {
  kLabelSite = 1,
  kLabelElement = 2,
  kLabelAtomNumber = 3,
  kLabelHeight = 4,
  kLabelFractional = 5,
};
// The label position that centres the label on its atom.
inline constexpr int8_t kLabelCentred = 2;

// Labels are never smaller than this (points).
inline constexpr float kMinPlottedLabelSize = 5.0f;
// Half the text height as a share of the label size.
inline constexpr float kLabelHalfHeight = 0.386f;
// Labels clear the atom's drawn radius by this factor.
inline constexpr float kLabelClearance = 1.1f;
// Automatic placement leaves atoms drawn smaller than this many pixels to
// the fixed bearing.
inline constexpr int32_t kMinPlacedAtomPixels = 2;
// Half-width in degrees of a bond between spheres that do not overlap in the
// space-filling model.
inline constexpr int kApartSpheresHalfWidth = 10;
// A label stays in its last gap unless the widest gap is this many degrees
// wider, and only while its own gap is at least this wide.
inline constexpr int kBearingHysteresis = 15;
inline constexpr int kMinKeptSector = 31;
// Labels are centred on their anchor within this many degrees of straight up
// or straight down.
inline constexpr float kCentredBearingSpan = 5.0f;
// Depth opacity below which a label is not drawn.
inline constexpr float kMinLabelOpacity = 0.001f;

// The label text of an atom by the structure's label type; false without
// the arrays (or for an atom or site out of range).
bool GetAtomLabel(const CrystalRec *crystal, uint32_t atom, Str255 &text);
// The fixed bearing of a label position 1 to 9; false and 0 for any other.
bool GetAtomLabelPosition(int32_t position, float &bearing);
// Automatic placement: the middle of the widest free gap between the atom's
// drawn bonds (the fixed bearing when there is none), kept in the atom's
// previous gap when that is nearly as wide; stored as its last bearing.
void OptimizeAtomLabelPosition(CrystalRec *crystal, uint32_t atom, float &bearing);

// The longest run of free slots, the first met among equally long ones;
// false when the slots are all alike.
bool GetMaxFreeSector(const BearingSlots &slots, int &start, int &end);
// The run of equal slots holding slot `bearing` (0 to 359); false when the
// slots are all alike.
bool GetSectorForBearing(const BearingSlots &slots, int bearing, int &start, int &end);
// Whether the bearing lies in the run from start to end (which may wrap past
// 359); all three are first brought into 0 to 359.
bool BearingLiesInSector(int bearing, int start, int end);
// Adds or subtracts 360 until the bearing lies in 0 to 359.
void BringBearingIntoRange(int &bearing);

// The stored last bearing of an atom, in whole degrees.
int16_t GetAtomLastLabelBearing(const AtomRecord &atom);
void SetAtomLastLabelBearing(AtomRecord &atom, int16_t bearing);

// The label size at view height z: the structure's label size, shrunk by
// perspective, at least 5.
float GetObjectLabelSizeForPlotting(const CrystalRec *crystal, float z);
// Draws a label with its baseline starting at pixel (x, y): below opacity 1
// anti-aliased in the label font with the opacity as alpha; otherwise in the
// port's own font and size with the colour over the background colour.
void DrawObjectLabelAtPoint(const CrystalRec *crystal, std::string_view text, int32_t x, int32_t y, RGBColor colour,
                            float size, float opacity);
// Draws one atom's label at depth t (0 back, 1 front).
void LabelAtom(CrystalRec *crystal, uint32_t atom, float t, RGBColor colour);

// The corner label of a cell point: "O" for the first point, else "A", "B"
// or "C" by the axis along which it lies furthest from the first point.
bool GetCellLabel(const CrystalRec *crystal, uint32_t point, Str255 &text);
// Draws a cell point's corner label, placed by the label position.
void LabelCellPoint(CrystalRec *crystal, uint32_t point, RGBColor colour, float opacity);

// Sets every atom's labelled flag of the window's structure to `on`, then
// replots, refreshes the site browser and marks the window modified.
void ShowAllLabels(WindowRef window, bool on);
// Shows all labels when the first atom is unlabelled, else hides them.
void ToggleShowAllLabels(WindowRef window);
