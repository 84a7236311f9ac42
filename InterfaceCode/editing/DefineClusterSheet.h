// The Define Cluster sheet: where a spherical cluster is centred (on the
// selected atoms, or on a site picked from a list of the asymmetric unit,
// flat or grouped under the elements) and its inner and outer radius. The
// structure changes only after the sheet has closed with valid fields.
#pragma once

#include "FragmentCommands.h"
#include "HostServices.h"
#include "Utilities.h"

#include <cstdint>

class QDialog;
class QTreeWidget;
class QTreeWidgetItem;

inline constexpr uint32_t kClusterCentreOnSelection = FourCharsToLong("rSel");
inline constexpr uint32_t kClusterCentreOnSite = FourCharsToLong("rSit");
inline constexpr uint32_t kClusterGroupByElement = FourCharsToLong("GrpE");
// Identifiers of the site list: element codes below, sites from here on.
inline constexpr uint32_t kSitePickerSiteBase = 65536;
// The radii lie within these (Angstrom); one arrow step changes them by kClusterRadiusStep.
inline constexpr float kClusterRadiusMin = 0.0f;
inline constexpr float kClusterRadiusMax = 1000.0f;
inline constexpr float kClusterRadiusStep = 0.01f;
// A double-click on a site accepts the sheet this long after it.
inline constexpr int kClusterDoubleClickDelayMs = 100;

// Opens the sheet on the window for the record (from MakeDefineClusterRec).
QDialog *ShowDefineClusterSheet(WindowRef window, const DefineClusterRec &record);
// The record the sheet edits; null for another dialog.
DefineClusterRec *GetDefineClusterPtr(QDialog *sheet);
// Runs one of the sheet's commands ('ok  ', 'not!', 'quit', rSel, rSit, GrpE);
// kEventNotHandledErr for others and for 'quit' after closing.
int32_t DefineClusterSheetCommand(QDialog *sheet, uint32_t command);
// Closes the sheet; with apply, builds the cluster from its record.
void CloseDefineClusterSheet(QDialog *sheet, bool apply);
// Validates the fields into the record, alerting on the first fault.
bool ExtractDefineCluster(QDialog *sheet);
void DefineClusterSetCentre(QDialog *sheet, uint16_t mode);
// One step of the inner (control 6) or outer (control 8) arrows; part 20 up, 21 down.
void DefineClusterArrowStep(QDialog *sheet, int arrowsID, int part);
// A double-click on the list's current item: arms the delayed acceptance
// when it is a site.
void DefineClusterDoubleClick(QDialog *sheet);

// Fills the list: grouped, one item per element of the atom types in order
// of first use, each opening onto its sites; flat, one item per site.
void LoadCrystalSitePicker(const CrystalRec &structure, QTreeWidget *list, bool grouped);
// Adds under `parent` (the list itself when null) the sites whose first
// element is `element`, every site for element 0.
void AddBrowserChildItems(QTreeWidget *list, QTreeWidgetItem *parent, ElementCode element, const CrystalRec &structure);
