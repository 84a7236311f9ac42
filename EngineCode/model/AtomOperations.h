// Small operations on a structure's atoms that the mouse tools, the
// selection commands, the site browser and hydrogen saturation share:
// selecting, showing and hiding atoms, sites and polyhedra, moving atoms and
// vectors, finding an atom by element and position, and appending molecule
// atoms. They change the structure's arrays only; replotting is the
// caller's business unless said otherwise. Main thread only.
#pragma once

#include "BasicTypes.h"
#include "HostServices.h"
#include "StructureRecord.h"

#include <cstdint>

// How an atom is drawn in the polyhedral model (in any other model every
// atom is of the sphere class).
enum AtomDisplayClass : uint8_t {
  kSphereClass = 0,     // drawn as a ball (modes 2, 6, 7, 11, 12)
  kVertexOnlyClass = 1, // not drawn; only a polyhedron vertex (mode 1)
  kPolyhedronClass = 2, // drawn as its coordination polyhedron (the rest)
};
AtomDisplayClass GetAtomDisplayClass(const CrystalRec &crystal, const AtomRecord &atom);

// An atom found by element and position must lie nearer than this (Angstrom).
inline constexpr float kSameAtomDistance = 0.001f;
// A site takes a moved atom's in-cell position when they differ by more
// than this in some fractional coordinate.
inline constexpr float kSiteMoveTolerance = 0.0001f;

// Over the sites whose first element is `element`, the atom nearest to the
// Cartesian point; true when it lies nearer than kSameAtomDistance. The first
// of equally near atoms wins.
bool FindAtomWithSymbolAndCoordinates(const CrystalRec *crystal, ElementCode element, const float xyz[3],
                                      int32_t *atom);

// ---- Selection ----------------------------------------------------------------------
void SelectAtom(CrystalRec *crystal, int32_t atom, bool flag);
void SelectPoly(CrystalRec *crystal, const Polyhedron *polyhedron, bool flag);
void SelectSite(CrystalRec *crystal, int32_t site);
// Deselects every atom, vector and annotation object and refreshes the Edit
// Annotation window.
void DeselectAllObjects(CrystalRec *crystal);

// ---- Visibility ---------------------------------------------------------------------
void ShowAtom(CrystalRec *crystal, int32_t atom);
void HideAtom(CrystalRec *crystal, int32_t atom);
void ShowSite(CrystalRec *crystal, int32_t site);
void HideSite(CrystalRec *crystal, int32_t site);
// Hides the polyhedron's centre and those vertices not held by another
// visible neighbour (in selection mode, one that is not itself selected).
void HidePoly(CrystalRec *crystal, const Polyhedron *polyhedron, bool selectionMode);
void HideSelectedPoly(CrystalRec *crystal, const Polyhedron *polyhedron);
void HideZappedPoly(CrystalRec *crystal, const Polyhedron *polyhedron);

// ---- Movement -----------------------------------------------------------------------
// Moves the selected atoms by a Cartesian shift (Angstrom). A crystal first
// asks to give up its symmetry; its atoms keep their cells and their sites
// take the wrapped positions.
void MoveSelectedAtoms(WindowRef window, const float delta[3]);
void MoveAtomByFractionalAmount(CrystalRec *crystal, int32_t atom, const float dfrac[3]);
void MoveAtomByAbsoluteAmount(CrystalRec *crystal, int32_t atom, const float dcart[3]);
// Moves the selected vectors' tips; a tip that would come too near its atom
// stays where it was.
void MoveSelectedVectors(CrystalRec *crystal, const float dcart[3]);

// ---- Creation -----------------------------------------------------------------------
// The first atom type of the element; else a new one (style 14) with the
// colour and radius of the element's row of the element table. -1 without
// memory.
int32_t AtomTypeForElement(CrystalRec &crystal, ElementCode element);
// Appends `count` atoms of the element at the Cartesian points (three floats
// each) to the window's molecule, one new site each, selected or not, at the
// end of the arrays. Nothing for a crystal, a window without a structure or
// missing arrays; without memory the caution alert "Atom creation failed!"
// and nothing changes. True when the atoms were added.
bool AddAtomsWithSymbolAtPoints(WindowRef window, ElementCode element, const float *points, int32_t count,
                                bool selected);
// The label of a new molecule site for atom index n (0-based): symbol and
// n + 1, cut to the label's 7 characters.
void MakeNewSiteLabel(ElementCode element, int64_t n, char label[kSiteLabelSize]);
