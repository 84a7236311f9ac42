// The commands that act on the selected atoms of a structure window:
// extending, inverting and clearing the selection, centring on it, labelling
// it, hiding and showing atoms. The helpers without a window work on a
// structure's arrays only; the commands end by replotting, which notes the
// window's change (the selection is saved with the document, so a changed
// selection marks it modified like any other change).
// Walks over bonds use explicit stacks and per-atom marks, so that long
// chains neither overflow the stack nor cost quadratic time. Main thread only.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

#include <cstdint>
#include <vector>

// ---- Helpers ----------------------------------------------------------------------------
// The number of selected atoms; the mean fractional and Cartesian coordinates
// of the selection (zeros when nothing is selected). Either output may be null.
int64_t GetCentreOfSelection(const CrystalRec &crystal, float fractional[3], float cartesian[3]);

// Appends to `list` (seeded by the caller with atom i) every visible atom
// reachable from i over bonds, depth first: each bonded neighbour that is
// visible and not yet listed is appended and searched in turn, in the order
// of the bond lists.
void GetAtomsInSameMolecule(const CrystalRec &crystal, int32_t i, std::vector<int32_t> &list);
// The size of that list, seeded with i; 0 for an atom out of range.
int64_t CountAtomsInSameMolecule(const CrystalRec &crystal, int32_t i);
// Depth first from atom i, selects every visible unselected atom reached
// through visible unselected neighbours. Answers how many were selected.
int64_t DoSelectAtomsInSameMolecule(CrystalRec &crystal, int32_t i);
// Extends the selection over bonds as far as it goes: from every visible
// selected atom of a visible site, each bonded atom that is visible, of a
// visible site and unselected is selected, and so on from it. Answers how
// many atoms were added.
int64_t DoSelectRelations(CrystalRec &crystal);
// Selects every unselected bonded neighbour (visible or not) of the atoms
// selected at the start. *total = selected before + newly selected. True
// when something was added.
bool DoSelectNearestRelations(CrystalRec &crystal, int64_t *total);
// True when some plotted selected atom is labelled.
bool SelectionIsLabelled(const CrystalRec &crystal);

// ---- Commands on the front window ---------------------------------------------------------
void DoSelectSymmetryRelatedSites(WindowRef window);
void DoSelectNeighbours(WindowRef window);
void DoSelectEntireMolecule(WindowRef window);
void DoDeselectEntirePlot(WindowRef window);
void DoInvertSelection(WindowRef window);
void DoSelectPlot(WindowRef window, bool atoms, bool vectors, bool annotations);
void DoCentreOnSelection(WindowRef window);
void ToggleSelectionLabels(WindowRef window);
void HideOtherAtoms(WindowRef window);
void HideSelectedAtoms(WindowRef window);
void DoHideSelectedAtoms(WindowRef window);
void ShowAllAtoms(WindowRef window);
// True when the window's structure has selected atoms; a structure with
// atoms but no selection gets the "No atoms selected!" caution first.
bool WindowHasSelection(WindowRef window);
// Keeps only the molecules of the selection on view: the selection is
// extended over bonds, every other plotted atom hidden, the selection
// cleared.
void HideOtherMolecules(WindowRef window);

// ---- Vectors, custom bonds and detaching --------------------------------------------------
// The custom bond specification of the pair in either order; false when none.
bool FindCustomBond(const CrystalRec &crystal, uint32_t i, uint32_t j, int32_t *index);
void DoDeleteAllVectors(WindowRef window);
// Deletes the selected vectors; an atom keeps its has-vector flag only while
// another vector still points at it.
void DeleteSelectedVectors(WindowRef window);
void DoResetCustomBonds(WindowRef window);
// Cuts every bond from a visible selected atom to an atom that is not both
// visible and selected.
void DetachSelectedAtoms(WindowRef window);

// ---- Atoms of their own appearance ------------------------------------------------------
// Counts, per atom type, the visible atoms that use it; MakeCustomAtomSphere
// keeps the counts up to date, so that recolouring many atoms never rescans
// the atom array.
std::vector<int32_t> CountVisibleAtomTypeUses(const CrystalRec &crystal);
// Gives one atom an atom type with these properties: an existing type with
// the same style, element and colour and a radius within 0.01; else its own
// type rewritten in place when that differs from its site's and no other
// visible atom uses it; else a new type. Answers the sphere array, nullptr
// without memory or for an atom out of range. `uses` (optional) are the
// counts above.
SphereRecord *MakeCustomAtomSphere(CrystalRec &crystal, int32_t atom, uint32_t style, ElementCode element, float radius,
                                   RGBColor colour, std::vector<int32_t> *uses = nullptr);
// MakeCustomAtomSphere with a new colour for every visible selected atom of
// a visible site, keeping its element, radius and style. Answers how many.
int64_t RecolourSelectedAtoms(CrystalRec &crystal, RGBColor colour);

// ---- Duplicating ---------------------------------------------------------------------------
// Molecule: every selected atom, in index order, gets a copy at the end of
// the arrays, shifted by the Cartesian offset (Angstrom), on a copy of its
// site; the copies are visible and selected, keep the labels, carry no
// vector or polyhedron, and are bonded to each other where their sources
// were bonded to visible selected atoms. The sources are deselected. Both
// grown arrays are made before either replaces the old, so that a failure
// ("Atom duplication failed!") leaves the structure as it was. Answers how
// many atoms were added. Crystals wait for the symmetry-discarding branch.
int64_t DuplicateSelectedMoleculeAtoms(CrystalRec &crystal, const float offset[3]);
// Asks for a colour ("atom colour:"), starting from the first visible
// selected atom's, and gives it to every visible selected atom of a visible
// site. Cancelled: nothing changes.
void DoChangeAtomColour(WindowRef window);
