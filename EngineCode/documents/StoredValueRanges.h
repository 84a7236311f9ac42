// The one checker every reader applies to the table of StoredLimits.h:
// native documents (and through them cached views and history), the
// preferences file, the own text format and element-table files.
#pragma once

#include "Preferences.h"
#include "StoredLimits.h"
#include "StructureRecord.h"

#include <cmath>
#include <string>
#include <string_view>
#include <vector>

// The outcome of a check: refused with why, or the Log lines of the values
// the reader changed.
struct StoredValueReport {
  bool refused = false;
  std::string why;                // the first refused value
  std::vector<std::string> reset; // one line per value clamped or set to its default
};

// How a Log line begins when it names no file.
inline constexpr const char *kStoredLead = "The stored ";

// Checks a structure read from a file against the table (and, for a crystal,
// that its cell makes a cell). Values out of range are clamped or take their
// defaults, one line each in the report, which names `source` (the file);
// with `log` the lines also go to the Log. False only when the structure
// must be refused (no cell); `why` then names the value.
bool CheckStoredValues(CrystalRec &crystal, StoredValueReport *report = nullptr, std::string_view source = {},
                       bool log = true);
// The same for preferences read from the file: nothing is refused; a value
// out of range is clamped or takes its factory value.
void CheckStoredPrefs(PrefsRecord &prefs, StoredValueReport *report = nullptr, std::string_view source = {});
// One value against one row: true when it may stand. Inline: a structure's
// check asks it for every field of every site and atom.
inline bool StoredValueInRange(const StoredRange &range, double value) {
  return std::isfinite(value) && value >= range.low && value <= range.high;
}
// One value of a file that has no record of its own (an element-table
// line): out of range, it is clamped or takes the fallback, with a Log line
// naming `source`; false then.
bool CheckStoredField(const StoredRange &range, float &field, float fallback, std::string_view source = {});
// The reader's alert text for a refused structure.
std::string StoredValueRefusal(const StoredValueReport &report);
