// The working record of the Edit Bonding sheet and the operations on it that
// need no widgets: filling it from a structure, adding, removing and editing
// specifications, their neighbour-count diagnostics and writing them back.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

// The counts of a specification whose diagnostics are not computed yet.
inline constexpr int32_t kBondCountUnknownMin = 999;
inline constexpr int32_t kBondCountUnknownMax = 0;
// The proposed maximum bond length is this factor times the radius sum.
inline constexpr float kMaxBondLengthFactor = 1.15f;
// An atom-type radius below this counts as 1 A in the proposed maximum.
inline constexpr float kSmallestUsableRadius = 0.01f;

// One element of the structure: its sites (those whose first element it is)
// lie from firstSite to lastSite, with other elements' sites between where
// the sites are not sorted by element.
struct EditBondElementEntry {
  ElementCode element = kBlankElement;
  float radius = 0.0f; // Angstrom, of the atom type of the element's first site
  int32_t firstSite = 0;
  int32_t lastSite = 0;
};

// One specification in the editor's list.
struct EditBondSpecNode {
  uint16_t number = 0; // shown plus 1
  ElementCode elementA = kBlankElement;
  ElementCode elementB = kBlankElement;
  float min = 0.0f;   // Angstrom
  float max = 0.0f;   // Angstrom
  uint16_t style = 1; // BondStyle
  RGBColor colour1;
  RGBColor colour2;
  int32_t minCountA = kBondCountUnknownMin; // fewest B neighbours of an A atom
  int32_t maxCountA = kBondCountUnknownMax; // most B neighbours of an A atom
  int32_t minCountB = kBondCountUnknownMin; // fewest A neighbours of a B atom
  int32_t maxCountB = kBondCountUnknownMax; // most A neighbours of a B atom
  bool diagnosticsPending = false;          // waiting for its counts to be made

  bool DiagnosticsKnown() const { return minCountA <= maxCountA; }
  void ForgetDiagnostics() {
    minCountA = minCountB = kBondCountUnknownMin;
    maxCountA = maxCountB = kBondCountUnknownMax;
  }
};

struct EditBondingRec {
  int16_t elementCount = 0;
  std::array<EditBondElementEntry, kMaxBondSpecs> elements{};
  uint16_t newStyle = 1;
  RGBColor newColours[2];
  int32_t specCount = 0;
  std::vector<EditBondSpecNode> specs; // list order; specCount entries
};

// Fills the record from the structure: one element row per run of sites with
// the same first element, the structure's default bond style and colours,
// and one node per specification whose two elements both have a row. False
// for a structure without sites or atom types.
bool FillEditBondingRec(const CrystalRec &crystal, EditBondingRec &record);

// The element's row number counted from 1; 0 when it has none.
int GetEditBondingMenuIndex(const EditBondingRec &record, ElementCode element);
// 1.15 times the radius sum of the two elements, each radius taken from the
// last row with the element; a missing row or a radius below 0.01 counts as
// 1 A.
float GetMaxBondLength(const EditBondingRec &record, ElementCode elementA, ElementCode elementB);

// Fills the node's four counts from the structure (crystal or molecule).
void BondDiagnostics(CrystalRec *crystal, EditBondSpecNode &node);

// Appends a specification between the first element and itself. False,
// after the alert "Bonds list is full!", when the list holds 200.
bool AddBondSpecNode(EditBondingRec &record);
// Removes the nodes at the given list positions.
void RemoveBondSpecNodes(EditBondingRec &record, std::vector<int> positions);
// A popup choice of element A (which 0) or B (1) by element row (from 1):
// min 0 and the proposed max for the new pair. False for no such row.
bool SetBondSpecElement(EditBondingRec &record, EditBondSpecNode &node, int which, int row);
// Min (which 0) or max (1) typed as text; unreadable text changes nothing.
bool SetBondSpecLengthFromText(EditBondSpecNode &node, int which, std::string_view text);
// "%.4f" without trailing zeros, then three blanks when shorter than 5.
std::string FormatBondLength(float length);

// A bond maximum above `kMaxBondSpecLength` (StoredLimits.h) is refused with
// the stop alert "Bond maximum too long" and why; true then. Every editor
// that writes a bond rule asks this first, so that no saved document
// holds a maximum its reader refuses.
bool RefuseBondMaximum(float max);

// Writes the nodes back as the structure's specifications (200 at most),
// marks the window modified and rebuilds the bonds.
void DoEditBonding(WindowRef window, CrystalRec *crystal, const EditBondingRec &record);
