// Transformations of a crystal's unit cell that keep every atom where it is
// in space. So far: giving up the space-group symmetry, and asking the user's
// consent before an edit of individual atoms has to give it up.
//
// These work on the structure embedded in a structure window and end in the
// build pipeline (BuildPipeline.h), which regenerates and replots. Molecules
// are never handled here.
#pragma once

#include "HostServices.h"

// Reduces the window's crystal to space group "P 1", keeping every atom of
// the cell: each distinct symmetry copy of each site becomes a site of its
// own (same label), the symmetry cards are dropped, the lattice becomes P
// and the origin choice 0; the crystal is rebuilt without a new view or
// scale, its atoms' visibility and selection are carried over (matched by
// site label and Cartesian position) and the window is replotted.
// Nothing happens to a crystal that already has a single operator. True
// when the crystal has a single operator afterwards; false, with the crystal
// as it was, when the full-cell sites cannot be made, and false when the
// rebuild stopped (the window may then be closed: do not touch it again).
bool DiscardSymmetry(WindowRef window);

// Whether an edit of individual atoms of the window's structure may go on:
// false without a structure (no record or no sites) and for a molecule; true
// at once for a crystal that already has P 1 symmetry; otherwise the user is
// asked (caution alert: the localized texts "Request_Discard_Symmetry" and
// "Request_Discard_Symmetry_2", buttons "Continue" and "Cancel"). On
// Continue the symmetry is discarded (`DiscardSymmetry`) and the answer is
// whether that succeeded; Cancel answers false and changes nothing.
bool UserAgreesToDiscardSymmetry(WindowRef window);

// Installs `UserAgreesToDiscardSymmetry` as the consent that turning only the
// selected atoms of a crystal asks for (ViewOrientation.h). Start-up calls it
// once; until then a crystal that is not P 1 is never turned in parts.
void InstallDiscardSymmetryConsent();
