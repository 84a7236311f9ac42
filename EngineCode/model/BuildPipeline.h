// The build pipeline: from a structure's cell, symmetry and sites (or a
// molecule's atoms) to a plotted structure window.
//
// Every change that alters what a structure window shows, beyond a pure view
// or style change, ends in one of these: the readers of documents and text
// formats, the editors and transformations, window synchronisation and undo.
// They run on the main thread to completion and end by redrawing the window,
// so callers do not replot again.
//
//   RunNewCrystal   cell, space group and sites -> atom types, the atoms of
//                   the plot range, coordination, bonds, polyhedra, scale,
//                   plot.
//   RunNewMolecule  the molecule's atoms -> a cubic box around them, atom
//                   types, bonds, polyhedra, scale, plot.
//   RunNewBonding   coordination, bonds and polyhedra again, then a replot.
//
// Status texts go to the status window only while gShowProgress is set; the
// build line and warnings go to the Log.
//
// The window itself belongs to the interface: the build shows it, reads its
// title and, when a crystal cannot be generated at all, asks for it to be
// closed, through the host services (HostServices.h). Without a host none of
// that happens and the title is empty.
#pragma once

#include "HostServices.h"
#include "SitePreparation.h"
#include "StructureRecord.h"

#include <string>

// ---- Failed builds ---------------------------------------------------------------

// Ends a build that cannot go on: closes the status window and asks the
// host to close the window (`HostServices::CloseWindow`). The crystal build
// ends here when its cell cannot be generated or no atoms are left after the
// plot range was applied; the caller must not touch the window afterwards.
void CloseWindowAfterFailedBuild(WindowRef window);

// ---- Texts ------------------------------------------------------------------------

inline constexpr const char *kBuildLogPrefix = "> Plotting the structure of: ";
inline constexpr const char *kBuildLogFormula = "; calculated formula: ";
// The formula is added to the build line only while the line stays shorter.
inline constexpr size_t kBuildLogLineLimit = 1024;

// ---- Molecule box -------------------------------------------------------------------

// A molecule's box edge is this many times its largest span, or the default
// edge when that comes out below the minimum.
inline constexpr float kMoleculeBoxFactor = 1.2f;
inline constexpr float kMoleculeBoxMinimum = 1.0f;
inline constexpr float kMoleculeBoxDefault = 10.0f;

// The range the atoms of one freshly generated cell stand in, before the
// requested range is applied.
inline constexpr float kFirstCellRangeMax = 0.999f;

// ---- Builds -------------------------------------------------------------------------

// Builds the window's crystal and shows the window:
//  1. model type 6 (thermal ellipsoids) without ellipsoid data becomes 1;
//  2. a cell that is not valid is refused ("The unit cell is not valid.")
//     and nothing else happens;
//  3. the metric tensor; atom types purged of unused ones or made afresh
//     ("Error generating atom spheres" when none result: nothing else
//     happens); symmetry copies among the sites removed; one cell generated
//     (failure: the window is closed); orientation and Cartesian coordinates
//     (the orientation recomputed from the view direction when
//     applyViewDirection is set); the build line with the formula in the Log;
//     coordination numbers;
//  4. the requested plot range applied from one cell (atoms grown cell by
//     cell, bonds made; a range refused as too large for memory leaves the
//     first cell, bonded; without atoms afterwards the window is closed);
//  5. the old plot centre put back unless recentre is set; polyhedra; the
//     plot dimensioned; the scale fitted when rescale is set or the scale is
//     0; off-screen images rebuilt, plot, window shown, floating windows
//     updated;
//  6. with bond specifications: "No bonds found!" when none matched at all,
//     or two red Log lines when some specification found nothing.
// True when the window was plotted; false when the build stopped (after a
// false from a closed window, the caller must not touch the window again).
bool RunNewCrystal(WindowRef window, bool applyViewDirection, bool recentre, bool rescale);

// Builds the window's molecule inside a cubic box of 1.2 times its largest
// span (10 A when that is below 1 A): space group "P 1", cell and axes off,
// every atom visible with its site's atom type, atom types purged or made,
// the build line, bonds from the specifications when makeBonds is set,
// coordination numbers from the bond counts, fractional coordinates from the
// Cartesian ones, range 0 to 1, dimensions, scale, polyhedra and the plot.
// A window that holds a file is then shown, marked modified and the floating
// windows updated. False (nothing done) without a structure or for a crystal.
bool RunNewMolecule(WindowRef window, bool applyViewDirection, bool recentre, bool rescale, bool makeBonds);

// Redoes a structure's coordination, bonds and polyhedra and replots the
// window: a crystal's coordination numbers and bonds are searched again; a
// molecule keeps its bonds and each site takes its atom's bond count as its
// coordination number. Then polyhedra, the plot, and the window is marked
// modified. False (nothing done) without a structure or, for a molecule,
// without sites or atoms.
bool RunNewBonding(WindowRef window, CrystalRec *crystal);
