// The structure editor's working copy of a structure.
//
// The Edit Crystal and Edit Molecule sheet never touches the window's
// `CrystalRec` while the user types: it edits an `EditCrystalRec` (cell,
// symmetry, the sites in display order, their atom types and a copy of the
// bond specifications). Accepting the sheet rebuilds the window's structure
// from the record (`DoEditCrystal`, `DoEditMolecule`).
//
// This file also holds the editor's text rules (occupancy cells, coordinate
// cells, relabelling, the checks of the OK step) as plain functions, so that
// they are the same whether typed in the sheet or run in a test.
#pragma once

#include "HostServices.h"
#include "RGBColor.h"
#include "StructureRecord.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct PrefsRecord;

// One site of the editor, in display order.
struct EditSiteRec {
  uint32_t itemId = 0; // the list's item number: position (from 1) at opening, then largest + 1
  char label[kSiteLabelSize] = {};
  float x = 0.0f, y = 0.0f, z = 0.0f; // fractional (crystal) or Cartesian Angstrom (molecule)
  ElementCode elements[kMaxSiteElements] = {kBlankElement, kBlankElement, kBlankElement};
  float occupancies[kMaxSiteElements] = {0.0f, 0.0f, 0.0f};
  int32_t atomType = 0; // index into the atom types; == sphereCount: none yet
  int32_t atomStyle = 14;
  int32_t ellipsoidStyle = 13;
  int32_t displacementType = kDisplacementNone; // 0 none, 1 Uiso, 2 Uij, 3 Bij
  float U[3][3] = {};                           // row by row
  float Uiso = 0.0f;
  int16_t disorderAssembly = 0; // kept as the file gave them
  int16_t disorderGroup = 0;
  bool selected = false; // the row is selected in the sheet's list
};

// One atom type of the editor.
struct EditSphereEntry {
  RGBColor colour;
  ElementCode element = kBlankElement;
  float radius = 1.0f; // Angstrom
  int32_t atomStyle = 14;
};

inline constexpr int kEditSpaceGroupSize = 256;

struct EditCrystalRec {
  uint8_t isMolecule = 0;
  uint8_t isNew = 0;
  std::string spaceGroup = "P 1";
  uint8_t originChoice = 0;
  float originShift[3] = {0.0f, 0.0f, 0.0f};
  char latticeLetter = 'P';
  uint16_t cardCount = 0; // 0: the symbol defines the symmetry
  std::array<Symcard, kMaxSymCards> cards{};
  uint16_t crystalSystem = 1;
  uint8_t constrainCell = 1;
  float a = 5.0f, b = 5.0f, c = 5.0f;
  float alpha = 90.0f, beta = 90.0f, gamma = 90.0f;
  int32_t siteCount = 0;
  std::vector<EditSiteRec> sites; // display order; siteCount of them
  int32_t sphereCount = 0;
  std::vector<EditSphereEntry> spheres; // sphereCount of them
  int32_t bondSpecCount = 0;
  std::array<BondSpec, kMaxBondSpecs> bondSpecs{};
  uint8_t hasDisplacement = 0;
};

// ---- The record ------------------------------------------------------------------

// Both flags and every default; empties the sites, atom types and bond
// specifications.
void InitBlankEditCrystalRec(EditCrystalRec *record, bool isMolecule, bool isNew);

// The structure's sites as editor sites, in site order (a molecule takes the
// Cartesian coordinates and atom type of atom i). Empty when the structure
// has no sites, or for a molecule no atoms.
std::vector<EditSiteRec> CopyCrystalSitesForEditing(const CrystalRec *crystal);

// Writes site i (and for a molecule atom i) of arrays already sized.
void CopyEditedSitesToCrystal(const std::vector<EditSiteRec> &sites, CrystalRec *crystal);

// Fills the record from the window's structure. Answers 0, or refuses with
// its alert (stop alerts "Sorry, this structure cannot be edited." / "Out of
// memory", "Error editing molecule:" / "Number of site types does not equal
// number of atoms") and answers non-zero; -1 when there is nothing to edit.
int FillEditCrystalRecFromCrystal(const CrystalRec *crystal, EditCrystalRec *record);

// ---- Atom types --------------------------------------------------------------------

std::vector<EditSphereEntry> CreateEditCrystalSpheresArray(int32_t n);
// One row more (blank); the array, or null when it cannot grow.
EditSphereEntry *AppendEditCrystalSphere(EditCrystalRec *record);
// Deletes row k and renumbers the sites that used later rows.
void DestroyEditCrystalSphereIndex(EditCrystalRec *record, int32_t k);
void DestroyEditCrystalSpheresArray(EditCrystalRec *record);
EditSphereEntry *GetEditCrystalSpheresArray(EditCrystalRec *record);

// Removes the sites whose `selected` flag is set, then every atom type no
// remaining site uses. Linear in sites plus types. Answers how many went.
int32_t RemoveSelectedEditSites(EditCrystalRec *record);

// Gives every site an atom type that matches its first element and style,
// appending types (radius and colour from the element table's first row of
// that element, else 1.0 and grey) where none matches.
void ResolveEditSiteAtomTypes(EditCrystalRec *record, const PrefsRecord &prefs);

// ---- Applying --------------------------------------------------------------------

// Whether the record, with the cell parameters `cell` (a, b, c, alpha, beta,
// gamma; ignored for a molecule), describes the structure the crystal holds
// now: same symmetry, cell, sites in the same order, atom types and bond
// specifications, bit for bit. Applying such a record would change nothing.
bool EditRecordMatchesCrystal(const EditCrystalRec &record, const float cell[6], const CrystalRec &crystal);

// Rebuild the window's structure from the record and run the build pipeline.
// The new structure is made aside and swapped in only when complete; if it
// cannot be made the old structure stays and the stop alert "Sorry, this
// structure cannot be edited." / "Out of memory" is shown. False then (and
// without a window or record, or for a record with no site, which changes
// nothing).
// A crystal whose atoms the plot range it keeps cannot hold (more than
// kMaxArrayRecords) is refused the same way, with the stop alert "No Memory
// for atoms".
bool DoEditCrystal(WindowRef window, EditCrystalRec *record);
// The same range check before the sheet closes: false, with the alert, when
// the edited crystal's atoms would not fit the window's plot range. True for
// a new structure, a molecule and whatever the check cannot build.
bool EditedCrystalFitsPlotRange(WindowRef window, const EditCrystalRec &record);
bool DoEditMolecule(WindowRef window, EditCrystalRec *record);

// ---- Text rules of the sheet -----------------------------------------------------

// The occupancy cell: compact (unselected row: "Fe0.5Mg0.5", digits later
// shown as subscripts) and editable (selected row: "Fe 0.5 Mg 0.5 ").
std::string OccupancyStringForSite(const EditSiteRec &site, bool editable);
// The same digits as Unicode subscripts, for display.
std::string SubscriptDigits(const std::string &text);

// Parses a typed occupancy cell into the site. False (site unchanged) after
// the refusing caution alert; a total above 1 warns and is stored.
bool ParseOccupancyText(const std::string &text, EditSiteRec *site);

// A typed fractional coordinate: whole cells beyond one are dropped (2.3 ->
// 0.3, 1.7 stays, -2.5 -> -0.5). Fractions like 1/3 are read.
float ReadFractionalCoordinate(const std::string &text);

// A label typed into the site's row: its first kMaxTypedLabelBytes bytes
// (StoredLimits.h), never half a character.
void SetTypedSiteLabel(EditSiteRec *site, std::string_view text);

// Labels every site by its first element and a running count per element.
void RelabelEditSites(EditCrystalRec *record);

// The hexagonal snap of the OK step: 1/6, 1/3, 2/3 and 5/6 typed to four
// places become exact single floats.
float SnapHexagonalCoordinate(float x);

// The status caption "%d of %d sites selected".
std::string EditCrystalStatusText(const EditCrystalRec &record);

// The origin caption.
std::string OriginOffsetText(const EditCrystalRec &record);

// True when the six values make a cell: lengths and angles at least 0.0001
// and a positive-definite metric tensor.
bool CellParametersMakeCell(float a, float b, float c, float alpha, float beta, float gamma);

// The steps of OK after the atom types: the symbol (without explicit cards),
// the cell constraints, the cell parameters, the hexagonal snap and the
// displacement check. On refusal the alert has been shown and the answer
// says what to do with the sheet.
enum class EditCheckResult {
  kAccepted,
  kBadSymbol,       // field emptied
  kNoOperators,     // field shows "????"
  kBadCell,         // focus cell parameter `badCellParameter`
  kAnglesMakeNoCell, // every value positive, but the angles close no cell; focus alpha
  kBadDisplacement, // site index in `badSite`
};
struct EditCheckOutcome {
  EditCheckResult result = EditCheckResult::kAccepted;
  int badCellParameter = -1; // 0..5: a, b, c, alpha, beta, gamma
  int badSite = -1;
};
// `cell` holds the six field values as typed; they are updated with the
// constrained values. `symbolText` is the space-group field's text.
EditCheckOutcome CheckEditCrystalForApply(EditCrystalRec *record, const std::string &symbolText, float cell[6]);
// The displacement check alone (also run for molecules).
EditCheckOutcome CheckEditSiteDisplacements(EditCrystalRec *record);

// The crystal system of the record's symbol (`CheckSymmetry`); 1 with cards.
uint16_t EditCrystalSystem(const EditCrystalRec &record);
