#include "import/SimulationBox.h"

#include "StoredLimits.h"
#include "import/ImportSymmetry.h"
#include "import/StructureFill.h"
#include "import/TextNumbers.h"

#include <algorithm>
#include <cmath>
#include <limits>

bool KeepBoxHand(ImportedStructure &s, double rows[3][3], int line) {
  if (!TurnBoxRightHanded(rows))
    return false;
  ImportWarning(s, line,
                "the box is left-handed: its third vector is turned round, so the atoms keep their places "
                "(not their mirror image).");
  return true;
}

bool SetImportBox(ImportedStructure &s, SimulationBox &box, ImportError &error, int line) {
  double rows[3][3];
  std::copy(&box.vectors[0][0], &box.vectors[0][0] + 9, &rows[0][0]);
  KeepBoxHand(s, rows, line);
  if (!CellFrameOfRows(rows, box.frame)) {
    error = {line, "the box has no volume"};
    return false;
  }
  double cell[6];
  CellOfRows(rows, cell);
  // The read cell's own limit, in the words of a box.
  if (!(ThinnestCellHeight(cell) >= kMinImportCellHeight)) {
    error = {line, "the box is thinner than " + std::to_string(static_cast<int>(kMinImportCellHeight)) +
                       " A between two of its faces"};
    return false;
  }
  if (!SetImportCell(s, error, line, cell))
    return false;
  s.crystal.cardCount = 0;
  if (!SetSymmetryFromSymbol(s, "P 1", 0, line)) {
    error = {line, "the box could not be given the symmetry P 1"};
    return false;
  }
  return true;
}

bool PlaceInBox(ImportedStructure &s, double xyz[3], int line) {
  if (!ImportPositionKept(s, xyz, line))
    return false;
  bool far = false;
  for (int k = 0; k < 3; k++)
    far = far || xyz[k] < -1.0 || xyz[k] > 2.0;
  if (far)
    ImportWarning(s, line, "the atom lies farther outside the box than the box is wide; it is put into the box.");
  for (int k = 0; k < 3; k++)
    xyz[k] = WrapFraction(xyz[k]);
  return true;
}

bool AppendBoxAtom(ImportResult &result, ImportedStructure &s, const SimulationBox &box,
                                    std::string_view label, ElementCode element, const double cart[3], int line) {
  const double r[3] = {cart[0] - box.origin[0], cart[1] - box.origin[1], cart[2] - box.origin[2]};
  double xyz[3];
  FractionalFromCartesian(box.frame, r, xyz);
  return !PlaceInBox(s, xyz, line) || AppendImportSite(result, s, label, element, xyz, line) != nullptr;
}

std::optional<long> ImportWholeNumber(std::string_view token) { return ParseIntegerToken(token); }
