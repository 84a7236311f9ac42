// The legal range of every stored number the drawing or the build trusts,
// and the one checker every reader applies: native documents (and through
// them cached views and history), the preferences file, the own text format
// and element-table files.
//
// Each row says what happens to a value outside its range (or not finite):
//   Refuse      the reader refuses the whole file with its own alert; used
//               where no default can stand in (a cell, a bond maximum, a
//               radius the build would multiply into pixels);
//   UseDefault  the value becomes the field's default (a blank structure's,
//               the factory preferences') and a Log line says so; used for
//               settings of the view that a default replaces harmlessly.
// A plot scale's default is 0: the structure is fitted to its window when
// it is opened.
#pragma once

#include "Preferences.h"
#include "StoredLimits.h"
#include "StructureRecord.h"

#include <string>
#include <vector>

enum class OutOfRange : uint8_t { Refuse, UseDefault };

struct StoredRange {
  const char *name;
  double low, high; // inclusive
  OutOfRange action;
};

// Plot range limits (fractional) and the largest span along one axis.
inline constexpr float kMaxPlotRangeCoordinate = 1000.0f;
inline constexpr float kMaxPlotRangeSpan = 100.0f;

namespace stored {
using enum OutOfRange;
// Cell.
inline constexpr StoredRange kCellLength{"cell length", 0.01, 10000.0, Refuse};
inline constexpr StoredRange kCellAngle{"cell angle", 0.01, 179.99, Refuse};
// View, range and scale.
inline constexpr StoredRange kPlotScale{"plot scale", 2.0, 500.0, UseDefault};
inline constexpr StoredRange kPlotRange{"plot range", -kMaxPlotRangeCoordinate, kMaxPlotRangeCoordinate, UseDefault};
inline constexpr StoredRange kFinite{"coordinate", -1.0e6, 1.0e6, Refuse};
inline constexpr StoredRange kViewDirection{"view direction", -1000.0, 1000.0, UseDefault};
// Radii (Angstrom) and their fractions.
inline constexpr StoredRange kAtomRadius{"atom-type radius", 0.0, kMaxStoredRadius, Refuse};
inline constexpr StoredRange kMinBallRadius{"minimum ball-and-stick radius", 0.0, kMaxStoredRadius, UseDefault};
inline constexpr StoredRange kFraction{"radius fraction", 0.0, 1.0, UseDefault};
inline constexpr StoredRange kBondRadius{"bond radius", 0.0, kMaxStoredRadius, UseDefault};
inline constexpr StoredRange kJointFactor{"stick joint factor", 0.0, 10.0, UseDefault};
inline constexpr StoredRange kEllipsoidProbability{"ellipsoid probability", 0.0, 1.0, UseDefault};
inline constexpr StoredRange kEllipsoidCriticalValue{"ellipsoid critical value", 0.0, 100.0, UseDefault};
inline constexpr StoredRange kBondLength{"bond maximum", 0.0, kMaxBondSpecLength, Refuse};
// Styles and kinds.
inline constexpr StoredRange kModelType{"model type", 1, 6, UseDefault};
inline constexpr StoredRange kStereoMode{"stereo mode", 1, 2, UseDefault};
inline constexpr StoredRange kAtomStyle{"atom style", 0, 20, UseDefault};
inline constexpr StoredRange kEllipsoidStyle{"ellipsoid style", 0, 31, UseDefault};
inline constexpr StoredRange kBondStyle{"bond style", 0, 12, UseDefault};
inline constexpr StoredRange kPolyMode{"polyhedron mode", 0, 15, UseDefault};
inline constexpr StoredRange kLabelType{"label type", 0, 5, UseDefault};
inline constexpr StoredRange kLabelSize{"label size", 1.0, 128.0, UseDefault};
inline constexpr StoredRange kFontSize{"font size", 1, 512, UseDefault};
// Lighting and depth.
inline constexpr StoredRange kReflectance{"reflection coefficient", 0.0, 1.0, UseDefault};
inline constexpr StoredRange kPhongExponent{"Phong exponent", 1, 1000, UseDefault};
inline constexpr StoredRange kIntensity{"light intensity", 0.0, 10.0, UseDefault};
inline constexpr StoredRange kLightVector{"light vector", -1.0, 1.0, UseDefault};
inline constexpr StoredRange kDepthCue{"depth-cue coefficient", 0.0, 1.0, UseDefault};
inline constexpr StoredRange kOpacity{"opacity", 0.0, 1.0, UseDefault};
inline constexpr StoredRange kPerspectiveDistance{"perspective distance", 0.1, 10000.0, UseDefault};
inline constexpr StoredRange kStereoAngle{"stereo angle", -90.0, 90.0, UseDefault};
inline constexpr StoredRange kStereoSeparation{"stereo separation", -1000.0, 1000.0, UseDefault};
inline constexpr StoredRange kLineWidth{"line width", 0.0, 64.0, UseDefault};
inline constexpr StoredRange kGradientAngle{"gradient angle", -3600.0, 3600.0, UseDefault};
inline constexpr StoredRange kGradientScale{"gradient scale", 0.01, 100.0, UseDefault};
inline constexpr StoredRange kMillerIndex{"lattice-plane index", -1000.0, 1000.0, UseDefault};
// Sites.
inline constexpr StoredRange kOccupancy{"occupancy", 0.0, 10.0, Refuse};
inline constexpr StoredRange kDisplacement{"displacement parameter", -1000.0, 1000.0, Refuse};
// Annotation points (fractions of the drawing) and vectors.
inline constexpr StoredRange kAnnotationPoint{"annotation position", -100.0, 100.0, UseDefault};
inline constexpr StoredRange kVectorComponent{"vector component", -1000.0, 1000.0, UseDefault};
// Preferences only: picture sizes and counts.
inline constexpr StoredRange kThumbnailHeight{"thumbnail height", 16, 1024, UseDefault};
inline constexpr StoredRange kExportResolution{"export resolution", 1, 2400, UseDefault};
inline constexpr StoredRange kFrameRate{"frame rate", 0.1, 240.0, UseDefault};
inline constexpr StoredRange kDistance{"distance", 0.0, 100.0, UseDefault};
inline constexpr StoredRange kPickerCount{"element picker count", 0, 10, UseDefault};
inline constexpr StoredRange kSidebarSplit{"sidebar split", 0.0, 1.0, UseDefault};
inline constexpr StoredRange kElementRadius{"element radius", 0.0, kMaxStoredRadius, UseDefault};
} // namespace stored

// The outcome of a check: refused with why, or the Log lines of the values
// put back to their defaults.
struct StoredValueReport {
  bool refused = false;
  std::string why;                // the first refused value
  std::vector<std::string> reset; // one line per value set to its default
};

// Checks a structure read from a file against the table (and, for a crystal,
// that its cell makes a cell). Values that take defaults are set; the
// report's lines are also written to the Log. False when the structure must
// be refused; `why` then names the value.
bool CheckStoredValues(CrystalRec &crystal, StoredValueReport *report = nullptr);
// The same for preferences read from the file: nothing is refused; a value
// out of range takes its factory value.
void CheckStoredPrefs(PrefsRecord &prefs, StoredValueReport *report = nullptr);
// One value against one row: true when it may stand.
bool StoredValueInRange(const StoredRange &range, double value);
// One value of a file that has no record of its own (an element-table
// line): out of range, it takes the fallback with a Log line; false then.
bool CheckStoredField(const StoredRange &range, float &field, float fallback);
// The reader's alert text for a refused structure.
std::string StoredValueRefusal(const StoredValueReport &report);
