// The space-group browser's logic without widgets: three linked lists
// (crystal system, lattice letter, symbol) over the space-group table, the
// lookup of a typed symbol, the arrow keys, and the typesetting of symbols
// and of the information panel as glyph runs that a painter draws.
#pragma once

#include "SpaceGroupTable.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// ---- Lists drawn by the program --------------------------------------------------

// A scrolling list drawn in a pane, with its own scroll bar. Rows are
// 1-based; a selection of 0 or -1 is none.
struct NibList {
  int paneLeft = 0, paneTop = 0, paneRight = 0, paneBottom = 0;
  int16_t columnCount = 1;
  std::array<int16_t, 9> columns{5};
  int16_t rowHeight = 18;
  int16_t selection = 0;
  int16_t firstVisibleRow = 1;
  int16_t minimumRow = 1;
  int16_t visibleRows = 0;
  int16_t rowCount = 0;
  // The scroll bar's range and value.
  int16_t scrollMinimum = 1, scrollMaximum = 1, scrollValue = 1;
};

void InitNibList(NibList &list, int16_t rowCount, int16_t rowHeight, int16_t firstRow, int left, int top, int right,
                 int bottom);
void ResizeNibList(NibList *list, int left, int top, int right, int bottom);
void SetNibListScroll(NibList &list, int16_t rowCount);
void NibListScrollToSelection(NibList &list);
// The first visible row set (scroll bar value too), clamped to the range.
void SetNibListFirstRow(NibList &list, int row);
// The list row under a pane point, or -1 for none.
int NibListRowAt(const NibList &list, int y);

// ---- The browser record -------------------------------------------------------------

struct SymbolListEntry {
  std::string text;      // as listed, maybe with " [origin 1]" or " [origin 2]"
  int16_t tableRow = 0;  // row of gSpacegroups
  uint8_t extraSetting = 0;
};

struct SpacegroupWinRec {
  NibList systemList, latticeList, symbolList;
  uint8_t showAllSettings = 0;
  uint8_t infoShown = 1;
  uint16_t infoPaneHeight = 0;
  int16_t systemCount = 8;
  std::string latticeLetters = "_";
  int16_t latticeCount = 0;
  std::vector<SymbolListEntry> entries; // entry k-1 is row k
  SpacegroupWinRec() {
    systemList.visibleRows = 8;
    SetNibListScroll(systemList, systemCount);
  }
  int16_t SymbolCount() const { return int16_t(entries.size()); }
};

extern const char *const kSystemNames[9];      // list texts, row 0 empty
extern const char *const kSystemPanelNames[9]; // panel names by system code

// The setting text of a table row's setting code; empty for none.
std::string CellChoiceDescriptor(int setting);

void InitLatticeList(SpacegroupWinRec &rec);
void InitSymbolList(SpacegroupWinRec &rec);
// The table row of the selected symbol, or -1.
int SelectedSpacegroupRow(const SpacegroupWinRec &rec);
// A click in a list at row `row` (1-based; -1 outside the rows). Which list:
// 1 system, 3 lattice, 5 symbol.
void ClickSpacegroupList(SpacegroupWinRec &rec, int paneID, int row);
// Selects the group of a symbol in the three lists; false (the caller
// beeps) when unknown.
bool FindSpacegroupInLists(SpacegroupWinRec &rec, const std::string &symbol, uint8_t originChoice, int setting);
// Arrow keys (28 left, 29 right, 30 up, 31 down).
void TypeInSpacegroupLists(SpacegroupWinRec &rec, int key);
// The 'tUnS' toggle.
void ToggleShowAllSettings(SpacegroupWinRec &rec);

// What the information panel shows for the selection.
struct SpacegroupPanel {
  bool valid = false;   // every list has a selection
  bool extraSetting = false;
  std::string fieldText; // the symbol field
  std::string handOver;  // what the crystal editor receives
  std::string shortSymbol, schoenflies, fullSymbol, systemName, siteText, settingText;
  int number = 0, system = 0, originChoice = 0, operators = 0, multiplicity = 0;
  float shift[3] = {0, 0, 0};
};
SpacegroupPanel DescribeSpacegroupSelection(const SpacegroupWinRec &rec);
// Operators of the general position with centring: n x the lattice factor.
int SpacegroupMultiplicity(char lattice, int system, int operators);

// ---- Typesetting -----------------------------------------------------------------------

enum class GlyphFont { kSerif, kSans };
struct GlyphRun {
  std::string text;
  bool italic = false;
  int size = 12;
  double x = 0.0, baseline = 0.0; // y grows downward
  bool overbar = false;
  double overbarY = 0.0;      // the bar's top
  double overbarPen = 1.0;    // its thickness
  double width = 0.0;         // the run's advance
  bool rule = false;          // a fraction rule: a line, not text
  GlyphFont font = GlyphFont::kSerif;
  int colour = 0;             // 0 black, 1 red, 2 dark grey
};
// Width of a text in a font (pixels).
using GlyphMeasure = std::function<double(const std::string &text, GlyphFont font, bool italic, int size)>;

// A space-group symbol: italic letters, subscript screw digits, overbars
// from '-', the extra blank after '/', and an origin suffix. Returns where
// the pen ends.
double PrintSpacegroup(std::vector<GlyphRun> &runs, const std::string &symbol, int size, double h, double v,
                       const GlyphMeasure &measure, int colour = 0);
// The Schoenflies symbol "D2h(13)": D, subscript 2h, superscript 13.
double PrintSchoenflies(std::vector<GlyphRun> &runs, const std::string &symbol, double h, int top,
                        const GlyphMeasure &measure, int colour = 0);
// Every text of the panel in the rectangle.
std::vector<GlyphRun> SpacegroupPanelRuns(const SpacegroupPanel &panel, int left, int top, int right, int bottom,
                                          const GlyphMeasure &measure);
