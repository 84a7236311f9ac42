// Editing the selected atoms of a structure window: vectors, duplicates,
// new coordinates, new element and appearance, deletion, atom and bond
// styles. The sheets that collect the values fill the records below and
// hand them to the apply operations here; the rules the sheets follow while
// they are open are the pure functions of this file. Main thread only.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

#include <cstdint>
#include <string>
#include <vector>

// ---- Vectors --------------------------------------------------------------------------------
struct DefineVectorRec {
  float uvw[3] = {1.0f, 1.0f, 1.0f}; // fractional components
  float length = 0.0f;               // Angstrom
  uint8_t fixedLength = 0;
  RGBColor colour{65535, 0, 0};
  uint16_t style = 1;
  bool newVector = true; // false: the selected vectors are edited
};
// The vector sheet's values kept between uses.
extern DefineVectorRec gDefaultVectorRecord;

inline constexpr float kMinVectorLength = 0.1f;
inline constexpr float kMaxVectorLength = 10000.0f;
inline constexpr float kVectorLengthStep = 0.01f;

// The Cartesian length of the direction through the orientation matrix (0
// for a zero vector), stored in the record and answered.
float AutoCalculateVectorLength(const float orientation[9], DefineVectorRec &record);
// Scales the direction to the record's length. A zero direction gets the
// caution "Vector has zero length!" and becomes [001] of that length; then
// false.
bool AdjustVectorIndicesToLength(const float orientation[9], DefineVectorRec &record);
// One click of the length arrows: the magnitude of the typed length moved by
// 0.01 up or down and kept within 0.1 to 10000.
float StepVectorLength(float typed, bool up);
// The sheet may be accepted only with a length of at least 0.1.
inline bool VectorLengthAccepted(float length) { return length >= kMinVectorLength; }

// The record for a new vector (a copy of gDefaultVectorRecord): false, after
// the alert, without a selection.
bool PrepareAddVector(WindowRef window, DefineVectorRec *record);
// The record of the first selected vector, or of vector `vector` (which
// becomes selected) when that is not negative: false when there is none.
bool PrepareEditVector(WindowRef window, DefineVectorRec *record, int32_t vector = -1);
// Applies the sheet: keeps the record as gDefaultVectorRecord; a new vector
// on every plotted selected atom, or the selected vectors edited.
void DoDefineVector(WindowRef window, const DefineVectorRec &record);

// ---- Duplicating ----------------------------------------------------------------------------
struct DuplicateAtomsRec {
  uint8_t useOffset = 0;
  float dx = 1.0f, dy = 0.0f, dz = 0.0f; // Angstrom along the view axes
};
// The Duplicate Atoms sheet's values kept between uses.
extern DuplicateAtomsRec gSaveDuplicateAtoms;
// Copies the selected atoms, shifted by a Cartesian offset (Angstrom). A
// crystal first gives up its symmetry (asking), copies each site with a
// selected atom (a zero offset becomes 0.001 A along x), rebuilds, and shows
// and selects the copies; a molecule copies each selected atom with its
// bonds to the other copies.
void DuplicateSelectedAtoms(WindowRef window, float dx, float dy, float dz);

// ---- Coordinates ----------------------------------------------------------------------------
struct EditSelCoordsRec {
  int32_t selectedCount = 0;
  uint16_t editMode = 1; // 1 absolute, 2 relative
  uint16_t basis = 1;    // 1 fractional, 2 Cartesian
  float fractional[3] = {};
  float cartesian[3] = {}; // Angstrom
  float shift[3] = {};
};
// The captions of the three value fields and which vector they show.
struct CoordsFieldsLayout {
  const char *captions[3];
  float *values;
};
CoordsFieldsLayout CoordsFields(EditSelCoordsRec &record);
// The record for the sheet: the first selected visible atom's coordinates,
// relative mode with more than one atom. False (after the alert or a refused
// symmetry discard) when the sheet must not open.
bool PrepareEditSelectionCoords(WindowRef window, EditSelCoordsRec *record);
// Moves every selected atom by xyz (moveAll) or puts the first visible
// selected atom at xyz; in a crystal, which gives up its symmetry first,
// the other atoms of its site follow.
void DoEditSelectionCoordinates(WindowRef window, const float xyz[3], bool fractional, bool moveAll);

// ---- Element and appearance -----------------------------------------------------------------
struct EditSelSpecsRec {
  ElementCode element = kBlankElement;
  char label[8] = {};
  RGBColor colour{};
  float radius = 1.0f;
  uint32_t style = 14;
  // As found on the atom.
  ElementCode foundElement = kBlankElement;
  char foundLabel[8] = {};
  RGBColor foundColour{};
  float foundRadius = 1.0f;
};
// The element table's colour and radius of an element; false when the
// preferences' table has no row for it.
bool LookUpElementData(ElementCode element, RGBColor *colour, float *radius);
// The element typed into the sheet: one or two characters, a missing second
// one a blank. False for an empty text.
bool ElementFromText(const std::string &text, ElementCode *element);
// Sets the label, cut to 7 characters.
void SetSpecsLabel(EditSelSpecsRec &record, const std::string &label);
// The record for the sheet from the first selected visible atom. False
// (after the caution or a refused symmetry discard) when the sheet must not
// open.
bool PrepareEditSelectionSpecs(WindowRef window, EditSelSpecsRec *record);
// Whether the record differs from what was found on the atom.
bool SelectionSpecsEdited(const EditSelSpecsRec &record);
// Writes what the record changed to every visible selected atom's site
// (a crystal gives up its symmetry first); nothing when it changed nothing.
void DoEditSelectionSpecs(WindowRef window, const EditSelSpecsRec &record);

// ---- Deleting -------------------------------------------------------------------------------
// The selected atoms of a molecule or the selected sites of a crystal go,
// after the user confirms.
void DeleteSelectedAtoms(WindowRef window);
void DoDeleteSelectedAtoms(WindowRef window);
// Deletes the molecule's atoms marked in `doomed` (and their sites) at
// once, as deleting them one by one would: bonds to them, their vectors,
// custom bonds and atom types no longer used go, every other index follows.
void DestroyMoleculeAtoms(CrystalRec &crystal, const std::vector<uint8_t> &doomed);
void DoDeleteSelectedSites(WindowRef window);

// ---- Atom and bond styles -------------------------------------------------------------------
// Atoms of a crystal take their sites' types again; a molecule's site
// browser recolours its atoms by element.
void DoResetCustomAtoms(WindowRef window);
// Every visible selected atom of a visible site takes the atom style,
// keeping element, radius and colour.
void ChangeSelectedAtomsStyle(WindowRef window, uint32_t style);

struct CustomBondStyleRec {
  uint16_t style = 1; // BondStyle
  RGBColor colour1{};
  RGBColor colour2{};
};
// The first bonded pair of visible selected atoms; false when there is none.
bool FindSelectedBondedPair(const CrystalRec &crystal, uint32_t *i, uint32_t *j);
// Every bond between visible selected atoms takes the style and colours;
// a pair without a custom bond gets one. False when memory ran out.
bool ApplyCustomBondStyle(CrystalRec &crystal, const CustomBondStyleRec &record);
void DoCustomBondStyle(WindowRef window, const CustomBondStyleRec &record);
