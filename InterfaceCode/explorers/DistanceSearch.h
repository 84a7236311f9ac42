// The Distance Explorer's per-window search record and everything about it
// that needs no widget: building the From and To lists from a structure,
// range validation, the little-arrow steps, the histogram binning, the
// bin-width slider mapping, the axis ticks, the output list's cells and
// order, and the Log table.
#pragma once

#include "AutoBonds.h"
#include "Preferences.h"
#include "StructureRecord.h"
#include "Utilities.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using DistanceResult = DistanceExplorerResult;

struct DistanceFromEntry {
  uint8_t isElement = 0;
  uint8_t expanded = 0;    // element row: its children show
  ElementCode element = 0; // first character in the high byte
  uint32_t site = 0;       // site row: index in the asymmetric unit
  uint8_t checked = 0;
};

struct DistanceToEntry {
  int16_t element = 0;
  uint8_t checked = 1;
  float colour[4] = {0.5f, 0.5f, 0.5f, 1.0f};
  std::vector<uint32_t> bins; // binCount counts; empty until first binned
};

// The status line of a record without a search, or whose search was refused.
inline constexpr const char *kNoDistancesSearched = "No distances searched.";

struct DistanceSearch {
  std::vector<DistanceFromEntry> fromEntries;
  uint8_t groupByElement = 1;
  std::vector<DistanceToEntry> toEntries;
  float minDistance = 0.0f; // A
  float maxDistance = 3.0f; // A
  float binWidth = 0.01f;   // A, 0.001 .. 1.0
  uint32_t binCount = 0;
  uint8_t perUnitVolume = 0;
  uint8_t showBinLabels = 0;
  uint8_t elementColours = 1;
  uint8_t dropShadow = 0;
  uint8_t showGrid = 1;
  bool haveResults = false; // a search ran (results may still be empty)
  std::vector<DistanceResult> results;
  std::string status = kNoDistancesSearched; // the status line of the last search
  uint32_t ResultCount() const { return static_cast<uint32_t>(results.size()); }
};

// ---- Limits -----------------------------------------------------------------------

inline constexpr float kMinBinWidth = 0.001f;
inline constexpr float kMaxBinWidth = 1.0f;
inline constexpr float kMinSearchMaximum = 0.1f;
inline constexpr float kMaxSearchDistance = 120.0f;
inline constexpr float kRangeArrowStep = 0.1f;
inline constexpr int kBinSliderMin = 1;
inline constexpr int kBinSliderMax = 1000;
inline constexpr uint32_t kFirstListItemID = 1024;
inline constexpr uint32_t kOutputLoadChunk = 200000;
// Above this completed percentage a search counts as finished.
inline constexpr float kSearchCompletePercent = 99.0f;

// ---- Building -----------------------------------------------------------------------

// The element and sphere radius of a site, through its sphere style (the
// site's first element and radius 0 when it has none).
ElementCode DistanceSiteElement(const CrystalRec &crystal, uint32_t site);
float DistanceSiteRadius(const CrystalRec &crystal, uint32_t site);
std::string DistanceSiteLabel(const CrystalRec &crystal, uint32_t site);

// A new record with the preferences' settings; the lists come from the
// structure when `hasStructure`, else they stay empty.
std::unique_ptr<DistanceSearch> NewDistanceSearch(const CrystalRec *crystal, bool hasStructure, const PrefsRecord &prefs);
// Whether a record still describes the structure's elements and sites.
bool DistanceSearchMatchesCrystal(const DistanceSearch &search, const CrystalRec &crystal);
// Copies the record's settings into the preferences.
void CopyDistanceSearchToPrefs(const DistanceSearch &search, PrefsRecord &prefs);

// Index of the element row that owns a From row (itself for an element row);
// -1 when none.
int FromElementRowOf(const DistanceSearch &search, size_t row);
// Site rows of an element row: [first, end).
void FromChildRange(const DistanceSearch &search, size_t elementRow, size_t *first, size_t *end);
// The check state of a From row: 0 off, 1 on, 2 mixed (element rows).
int FromCheckState(const DistanceSearch &search, size_t row);
// Sets a From row's check box; an element row passes it to its sites.
void SetFromChecked(DistanceSearch &search, size_t row, bool checked);
// Whether some From row and some To row are checked.
bool DistanceSearchCanRun(const DistanceSearch &search);

// Drops each distance whose mirror is in the list: a distance from site A to
// an atom of site B (A and B differ) and one from B to an atom of A whose
// lengths differ by less than the mirror tolerance describe the same pair of
// atoms, and only the first of the two stays. Each distance pairs with at
// most one mirror, so A to B and B to A keep as many distances as the larger
// of the two directions has; a site's distances to images of itself all
// stay. The kept distances keep their order. Linear in the results.
void RemoveMirrorDistances(std::vector<DistanceResult> &results);

// ---- Range ------------------------------------------------------------------------

enum class RangeError { kNone, kEqual, kOutOfRange };
struct RangeCheck {
  float minimum = 0.0f;
  float maximum = 0.0f;
  bool swapped = false;
  RangeError error = RangeError::kNone;
};
// A negative minimum becomes 0; a minimum above the maximum swaps them; equal
// values and a maximum outside 0.1 .. 120 are refused.
RangeCheck CheckDistanceRange(float minimum, float maximum);
// The little arrows: part 21 steps down, any other part up.
float StepDistanceMinimum(float minimum, float maximum, int part);
float StepDistanceMaximum(float minimum, float maximum, int part);
// A bin width brought into 0.001 .. 1.0; `clamped` says whether it moved.
float ClampBinWidth(float width, bool *clamped);
float BinWidthFromSlider(int value);
int SliderFromBinWidth(float width);
// The status line after a search.
std::string DistanceSearchStatus(float percent, uint32_t count);

// ---- Histogram ---------------------------------------------------------------------

// Fills every To row's bins from the results. False, with every row's bins
// and binCount emptied, when the counts cannot be allocated.
bool BinDistanceResults(DistanceSearch &search, const CrystalRec *crystal);
uint32_t DistanceBinCount(float minimum, float maximum, float width);
// Total count of a bin over the To rows.
uint64_t DistanceBinTotal(const DistanceSearch &search, uint32_t bin);
// The bin's height: its total, or the total per unit shell volume.
double DistanceBinValue(const DistanceSearch &search, uint32_t bin, double count);

struct XAxisTick {
  double value = 0.0; // A
  double x = 0.0;     // pixels from the plot's left
  bool major = false; // first tick of a major interval
  bool labelled = false;
  std::string text;
};
// The x ticks over the range for a plot `plotWidth` pixels wide.
std::vector<XAxisTick> ComputeXTicks(float minimum, float maximum, double plotWidth);

struct YAxisScale {
  int divIndex = 0;
  int count = 0;       // ticks c
  double step = 0.0;   // t
  double top = 0.0;    // c x t
  double major = 0.0;  // G
  int decimals = 0;    // k
};
YAxisScale ComputeYAxis(double ymax, double plotHeight);

// The help tag of the bin under a point of the plot (pixels from the plot's
// left); empty when the bin is outside or empty.
std::string DistanceBinTip(const DistanceSearch &search, double xInPlot, double plotWidth);

// ---- Output list ---------------------------------------------------------------------

// The text of a result's cell for a column code ('bNum', 'Bond', ...).
std::string DistanceOutputCell(const DistanceSearch &search, const CrystalRec &crystal, uint32_t index,
                               uint32_t property);
// Whether result a sorts before result b by a column.
bool DistanceOutputLess(const DistanceSearch &search, const CrystalRec &crystal, uint32_t a, uint32_t b,
                        uint32_t property);
// The result indices ordered by a column, ascending (stable).
std::vector<uint32_t> SortDistanceOutput(const DistanceSearch &search, const CrystalRec &crystal, uint32_t property);
// Writes the result table to the Log (buffered) and flushes.
void WriteDistanceResultsToLog(const DistanceSearch &search, const CrystalRec &crystal);
