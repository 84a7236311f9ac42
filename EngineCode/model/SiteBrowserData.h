// The site browser's logic, without widgets: which rows the list holds, what
// each cell shows, what a cell edit does to the structure, how rows sort, and
// the per-window expansion list of the element rows.
//
// Rows are named by 32-bit item IDs: an element row by its element code
// (always 65535 or less), a site row by 65536 + the site's index. Columns are
// named by four-character property codes ('Site', 'Show', 'Labl', 'Colr',
// 'Rads', 'CNum'). The widget layer (InterfaceCode/browsers) only maps these
// onto a tree view.
#pragma once

#include "StoredLimits.h"
#include "HostServices.h"
#include "RGBColor.h"
#include "StructureRecord.h"
#include "Utilities.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// ---- Items and columns ---------------------------------------------------------

inline constexpr uint32_t kSiteItemBase = 65536;
inline constexpr uint32_t kLastElementItem = 65535;

inline constexpr uint32_t kSiteColumn = FourCharsToLong("Site");
inline constexpr uint32_t kShowColumn = FourCharsToLong("Show");
inline constexpr uint32_t kLabelColumn = FourCharsToLong("Labl");
inline constexpr uint32_t kColourColumn = FourCharsToLong("Colr");
inline constexpr uint32_t kRadiusColumn = FourCharsToLong("Rads");
inline constexpr uint32_t kCoordinationColumn = FourCharsToLong("CNum");

// What a cell callback answers for a structure it cannot serve or a column
// it does not know.
inline constexpr int32_t kDataBrowserPropertyNotSupported = -4979;

// Check-box values of the tri-state columns.
enum SiteBrowserCheck : int { kCheckOff = 0, kCheckOn = 1, kCheckMixed = 2 };

inline bool IsElementItem(uint32_t item) { return item <= kLastElementItem; }
inline uint32_t SiteItem(int32_t site) { return kSiteItemBase + static_cast<uint32_t>(site); }
inline int32_t ItemSite(uint32_t item) { return static_cast<int32_t>(item - kSiteItemBase); }

// ---- Program-wide state ---------------------------------------------------------

// 1: site rows stand under one row per element; 0: a flat list of sites.
extern uint8_t gInfoWindowShowElements;
// The cell whose editability the list last asked about.
extern uint32_t gLastClickedItemID;
extern uint32_t gLastClickedPropertyID;
// Phrases naming coordination environments, indexed 0 to 23.
inline constexpr int kEnvStringCount = 24;
extern const char *const gEnvStrings[kEnvStringCount];

// ---- Expansion list ----------------------------------------------------------------

struct InfoDataEntry {
  ElementCode element = 0;
  uint8_t expanded = 1; // 1 = open
};
// One per structure window, kept in the window record.
struct InfoDataList {
  int32_t count = 0;
  std::vector<InfoDataEntry> entries;
};

// The window's list, none when it has none.
InfoDataList *GetInfoDataList(WindowRef window);
// Frees the old list and builds one entry per element of the atom types, in
// order, every one open; an empty list without atom types.
InfoDataList *CreateInfoDataList(WindowRef window);
// The window's list when every atom type's element has an entry; otherwise
// a new list (every element open again).
InfoDataList *VerifyInfoDataList(WindowRef window);
// Sets the expanded flag of the element's entry; nothing without one.
void SetInfoBrowserContainerOpen(WindowRef window, ElementCode element, bool open);
// True when the element's rows show: it has no entry or its entry is open.
bool InfoBrowserContainerOpen(WindowRef window, ElementCode element);
// Opens or closes every element and refills the browsers.
void SiteBrowserExpandList(WindowRef window, bool expanded);

// ---- Rows --------------------------------------------------------------------------

struct SiteBrowserRow {
  uint32_t item = 0;
  std::vector<uint32_t> children; // site rows of an element row
};

// The rows of the window's browsers, root first; false (and no rows) when
// the window holds no structure or the structure has no atom types. With
// element rows each element of the atom types, in order of first use, gets a
// row with its sites as children.
bool BuildSiteBrowserRows(WindowRef window, std::vector<SiteBrowserRow> *rows);
// The same for a structure.
std::vector<SiteBrowserRow> SiteBrowserRowsForCrystal(const CrystalRec *crystal, bool showElements);

// ---- Cells -------------------------------------------------------------------------

// The atom type of a row: the first atom type of the element for an element
// row; the site's (crystal) or the atom's on the site (molecule) for a site
// row. -1 when there is none.
int32_t SiteBrowserRowAtomType(const CrystalRec *crystal, uint32_t item);
// True when the window's structure can serve the cell callbacks.
bool SiteBrowserCanServe(WindowRef window);

// 'Show': kCheckOn, kCheckOff or kCheckMixed.
int SiteBrowserShowState(const CrystalRec *crystal, uint32_t item);
// 'Labl' over the visible atoms of the row's sites.
int SiteBrowserLabelState(const CrystalRec *crystal, uint32_t item);
// 'Rads' as "%5.2f"; empty without an atom type.
std::string SiteBrowserRadiusText(const CrystalRec *crystal, uint32_t item);
// 'CNum': "[%d] - %s" for a site row, empty for an element row.
std::string SiteBrowserCoordinationText(const CrystalRec *crystal, uint32_t item);
// The colour of the row's atom type; false without one.
bool SiteBrowserRowColour(const CrystalRec *crystal, uint32_t item, RGBColor *colour);
// 'Site' text: the site label, or the element symbol followed by " *" when
// two or more atom types carry the element.
std::string SiteBrowserSiteText(const CrystalRec *crystal, uint32_t item);
// Whether a column can be edited; also records the cell as the last asked.
bool SiteBrowserCellEditable(uint32_t item, uint32_t property);

// Edits. Each answers 0, or `kDataBrowserPropertyNotSupported` when the
// window cannot serve the cell; a change replots the window.
int32_t SiteBrowserSetShow(WindowRef window, uint32_t item, int value);
int32_t SiteBrowserSetLabel(WindowRef window, uint32_t item, int value);
// The text's first number as the new radius (single precision); refused
// with "Atomic radius is out of bounds" below 0.01 or above 100.
int32_t SiteBrowserSetRadius(WindowRef window, uint32_t item, std::string_view text);
int32_t SiteBrowserSetColour(WindowRef window, uint32_t item, const RGBColor &colour);
// The colour picker ("Colour:") on the row's colour, then the edit on OK.
int32_t SiteBrowserChooseColour(WindowRef window, uint32_t item);

// Sort order of two rows of one column: true when item1 sorts before item2.
// A site row against an element row writes "can't compare apples and
// oranges" to the Log and answers false.
bool SiteBrowserCompare(const CrystalRec *crystal, uint32_t item1, uint32_t item2, uint32_t property);

// ---- Coordination ------------------------------------------------------------------

// Index into gEnvStrings for the site's environment.
int GetAtomEnvironmentStringIndex(const CrystalRec *crystal, int32_t site);
// The phrase for the site; none without a window, structure or sites.
std::optional<std::string> GetCoordinationDescriptionForSite(WindowRef window, int32_t site);
std::optional<std::string> CoordinationDescriptionForSite(const CrystalRec *crystal, int32_t site);

// ---- Colours -----------------------------------------------------------------------

// The 16-bit hue of a colour (0 for greys).
uint16_t GetRGBColorHue(const RGBColor &colour);
// True when a sorts before b by hue, then saturation, then lightness.
bool CompareColorsByHSL(const RGBColor &a, const RGBColor &b);
