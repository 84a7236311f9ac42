// A simulation program's periodic box read as a crystal in P 1 whose cell is
// the box: the three box vectors give a, b, c and the angles between them,
// and each atom's Cartesian position (A) goes through the inverse of the box
// matrix, wrapped into [0, 1) so that every atom of the file is an atom of
// the cell, whichever side of the box's walls the file put it on.
#pragma once

#include "CellFrame.h"

#include "import/ImportTypes.h"

#include <optional>
#include <string_view>
#include <vector>

struct SimulationBox {
  double vectors[3][3] = {}; // rows: a, b, c (A), as the file gives them
  double origin[3] = {};     // the Cartesian position of fractional (0, 0, 0)
  CellFrame frame;           // the cell's frame, filled by SetImportBox
};

// Every reader's one rule for a left-handed box (rows: a, b, c): turned
// round to a right-handed cell that keeps the atoms' Cartesian positions
// (TurnBoxRightHanded), with a Log line on `line`. True when it was turned:
// a position given as fractions of the file's box then has its third
// fraction negated.
bool KeepBoxHand(ImportedStructure &s, double rows[3][3], int line);

// Sets the structure's cell from the box and its symmetry to P 1. False,
// with the error on `line`, for a box of no volume, or one thinner than a
// read cell may be (kMinImportCellHeight) between opposite faces. A
// left-handed box keeps its hand (KeepBoxHand): the frame is the turned
// box's, so AppendBoxAtom keeps every Cartesian position.
bool SetImportBox(ImportedStructure &s, SimulationBox &box, ImportError &error, int line);

// Puts a fractional position read from a box file into [0, 1). A position
// no structure holds (ImportPositionKept) is left out (false) with its line
// in the Log; one farther outside the box than the box's own size is
// wrapped and named in the Log, for the file may not mean it.
bool PlaceInBox(ImportedStructure &s, double xyz[3], int line);

// One more atom at a Cartesian position, placed in the cell (wrapped into
// [0, 1) by PlaceInBox, which may leave it out). False, with the error
// set, beyond the import limits.
bool AppendBoxAtom(ImportResult &result, ImportedStructure &s, const SimulationBox &box,
                                    std::string_view label, ElementCode element, const double cart[3], int line);

// A whole number as simulation files write counts, indices and types: digits
// with an optional sign, nothing else. None otherwise.
std::optional<long> ImportWholeNumber(std::string_view token);
