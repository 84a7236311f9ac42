// Transformations of a window's whole structure, as opposed to single atoms:
// a molecule put into a cell and a crystal's visible atoms made a molecule,
// automatic bonding, bending the selection round a cylinder, inserting space
// at the lattice plane, slicing at it and showing it.
//
// These are the apply steps: the commands that ask first (notices, sheets)
// live in the interface and call these once the user has answered. Main
// thread only.
#pragma once

#include "HostServices.h"
#include "RGBColor.h"
#include "StructureRecord.h"

#include <cstdint>

// ---- Molecule and crystal ---------------------------------------------------------

// A molecule's extent below this (Angstrom) is raised to it for the
// proposed cell.
inline constexpr float kMinMoleculeExtent = 0.4f;
// The Cartesian extents of all the molecule's atoms along x, y and z, each
// at least kMinMoleculeExtent. False without atoms.
bool GetMoleculeExtents(const CrystalRec &crystal, float extents[3]);
// The cell edge proposed for a molecule of the given extent along it
// (Angstrom): kMoleculeCellFactor times the extent, and never less than the
// extent plus kMoleculeCellPadding, so that even a flat molecule keeps
// clear of its images along every axis.
inline constexpr float kMoleculeCellFactor = 1.5f;
inline constexpr float kMoleculeCellPadding = 3.0f;
float ProposedMoleculeCellLength(float extent);

// Puts the window's molecule into a P 1 cell (lengths in Angstrom, angles in
// degrees): the view looks down c with a along the screen's x axis, the
// molecule's centroid goes to the cell's centre (or to its origin when
// `atOrigin`), each atom's site takes its fractional position wrapped into
// the cell; the cell is shown and the crystal built and marked modified.
// False when the window holds no molecule with atoms or the cell is not valid.
bool MoleculeToCrystal(WindowRef window, float a, float b, float c, float alpha, float beta, float gamma,
                       bool atOrigin);

// Makes the window's crystal a molecule of its visible atoms, each on a site
// of its own (a copy of its old site); bonds to hidden atoms, vectors and
// custom bonds on hidden atoms go, the rest are renumbered; polyhedra are
// made again; the cell is hidden. Nothing without visible atoms.
void CrystalToMolecule(WindowRef window);

// Replaces the bond specifications with those of the automatic search, then
// bonds, polyhedra, replot; the window is marked modified.
void AutoGenerateBonds(WindowRef window);

// ---- Bending ---------------------------------------------------------------------

// The radius proposed for bending the visible selected atoms of visible
// sites: their Cartesian x spread over 2 pi. 0 without such atoms.
float ProposeBendRadius(const CrystalRec &crystal);
// Bends those atoms round a cylinder of radius R whose axis runs along z
// below them: x' = xmid + h sin t, y' = y - h (1 - cos t) with t = (x -
// xmid)/R and h = y - ymin + R, then everything lifted by the largest drop.
// A molecule's sites follow their atoms. Re-dimensions the plot, replots and
// marks the window modified. False (nothing changed) for fewer than two
// such atoms or R not above 0.
bool DoBendLattice(WindowRef window, float radius);

// ---- Insert space at the lattice plane ---------------------------------------------

inline constexpr float kDefaultInsertSpaceWidth = 5.0f;
// The smallest cell length inserting space may leave (Angstrom).
inline constexpr float kMinCellLengthAfterInsert = 0.0001f;

// The steps before the Insert Space sheet: the plane must show (else the
// stop alert "Please display the lattice plane") and the user must agree
// that the symmetry will go. *lowest is the smallest width the sheet
// accepts: minus twice the distance of the nearest first-cell atom from the
// plane through the centre of its outline. Nothing of the structure changes
// here. False when the command ends here.
bool PrepareInsertSpace(WindowRef window, float *lowest);
// Opens a slab of `width` Angstrom at the lattice plane, moved to the centre
// of its outline: the symmetry is discarded, the atoms on the far side of
// the plane from the origin move along the plane's normal by the width,
// each cell length grows by the width times the cosine of its acute angle
// with the normal, the plane is hidden and the crystal rebuilt with the same
// view, and the window marked modified. A width that would leave a length
// below kMinCellLengthAfterInsert is refused with the caution alert "Error
// in cell parameter". False when nothing changed.
bool InsertSpace(WindowRef window, float width);

// ---- Slicing and the lattice plane --------------------------------------------------

// Selects the plotted atoms (depth-sort index) on the smaller side of the
// lattice plane, the positive side on a tie; answers how many are selected.
int64_t SelectSliceSide(CrystalRec &crystal);

// Shows or hides the lattice plane (showing sets it up afresh; hiding while
// the plane tool is current chooses the rotate tool), replots and marks the
// window modified.
void ShowHideLatticePlane(WindowRef window, bool show);
void ToggleLatticePlane(WindowRef window);

// What the lattice-plane sheet edits.
struct LatticePlaneSheetRecord {
  float hkl[3] = {1, 1, 1};
  float position[3] = {0, 0, 0};        // a point of the plane, view Cartesian
  float initialPosition[3] = {0, 0, 0}; // the same when the sheet opened
  float opacity = 0.5f;                 // 1 - transparency
  RGBColor colour;
};
LatticePlaneSheetRecord MakeLatticePlaneSheetRecord(const CrystalRec &crystal);
// Takes the sheet's indices, colour and opacity and shows the plane: a plane
// already shown stays at the sheet's position, one newly shown goes through
// the plot centre.
void DoShowLatticePlane(WindowRef window, const LatticePlaneSheetRecord &record);
