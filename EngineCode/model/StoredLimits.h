// The one table of limits of the stored numbers: every editor, sheet and
// command that sets one of these values accepts only what the table keeps,
// and every reader (native documents and through them cached views and
// history, the preferences file, the own text format, element-table files)
// holds what it reads to the same rows. So whatever the program lets a user
// type or make, it saves and reads back unchanged.
//
// Each row says what a reader does with a value outside its range:
//   Refuse      the file is refused: no structure can be built without it
//               (the cell);
//   Clamp       the nearest limit is used (a value that is not a number takes
//               the field's default);
//   UseDefault  the field's default is used (a blank structure's, the factory
//               preferences'): settings of the view that a default replaces
//               harmlessly.
// Either way the reader keeps the file and writes one Log line naming the
// file, the field and the value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// ---- Limits the editors share ---------------------------------------------------------

// The largest atom radius (A): the site list's radius column takes up to it,
// and so do the element table and the selection's atom sheet.
inline constexpr float kMaxStoredRadius = 100.0f;
// The smallest radius the site list takes (A).
inline constexpr double kMinTypedAtomRadius = 0.01;
// The stop alert of a radius editor given a radius outside these two.
inline constexpr const char *kRadiusOutOfBounds = "Atomic radius is out of bounds";
// A radius a user types: compared in double precision, so that 0.01 typed
// (just below 0.01 in single precision) is refused. Every typed radius is
// also one the own text format writes and reads (it takes radii above 0).
inline bool TypedRadiusInRange(float radius) {
  return static_cast<double>(radius) >= kMinTypedAtomRadius && static_cast<double>(radius) <= kMaxStoredRadius;
}
// The largest bond maximum (A): the longest contact the automatic bond search
// can keep, two atoms of the largest radius with its 15 % allowance
// (2 x 100 x 1.15), rounded up; Edit Bonding, the add-bond tool and
// Polyhedron from Selection make none longer.
inline constexpr float kMaxBondSpecLength = 231.0f;
// Plot scale (pixels per A): the Plot Scale sheet takes values strictly
// between its two limits; the automatic scale and the zoom commands keep
// within kMinStoredPlotScale and kMaxPlotScale, the smallest the renderer
// draws and the sheet's largest.
inline constexpr float kMinTypedPlotScale = 0.01f;
inline constexpr float kMaxPlotScale = 10000.0f;
inline constexpr float kMinStoredPlotScale = 0.001f;

// The text size the Text Style dialog takes for the Log and the notes
// (points).
inline constexpr int kMinTextStyleSize = 5;
inline constexpr int kMaxTextStyleSize = 256;

// Plot range limits (fractional) and the largest span along one axis.
inline constexpr float kMaxPlotRangeCoordinate = 1000.0f;
inline constexpr float kMaxPlotRangeSpan = 100.0f;

// What one foreign file may make: the sites (atoms) of all its structures
// together, its structures (data blocks, models, frames, records), and its
// bytes once inflated. A file beyond them is refused with the limit named.
inline constexpr size_t kMaxImportSites = 2000000;
inline constexpr size_t kMaxImportStructures = 1000;
inline constexpr size_t kMaxImportFileBytes = size_t{1} << 31;
// The warnings a reader keeps of one file; the rest are counted in the Log.
inline constexpr size_t kMaxImportWarnings = 1000;
// One warning's length at most (bytes), and the names one names before it
// counts the rest ("and 12 more").
inline constexpr size_t kMaxImportWarningLength = 1024;
inline constexpr size_t kMaxNamesInImportWarning = 6;
// The thinnest cell a file may give, between two opposite faces (A).
inline constexpr double kMinImportCellHeight = 1.0;
// The bytes of a label typed into a site editor (the record holds one more):
// 6 Latin letters, 3 of Greek, Hebrew or Arabic; a character that would not
// fit whole is left out.
inline constexpr size_t kMaxTypedLabelBytes = 6;
// The chooser asks before opening more windows than this at once.
inline constexpr size_t kMaxWindowsWithoutAsking = 20;

// ---- The table --------------------------------------------------------------------------

enum class OutOfRange : uint8_t { Refuse, Clamp, UseDefault };

struct StoredRange {
  const char *name;
  double low, high; // inclusive
  OutOfRange action;
  const char *unit = ""; // as Log lines show it after a value
};

// The value a reader keeps for `value`: within the row it stands; a finite
// value outside a Clamp row becomes the nearest limit; anything else the
// fallback.
inline double StoredValueKept(const StoredRange &range, double value, double fallback) {
  if (value == value && value >= range.low && value <= range.high)
    return value;
  if (range.action == OutOfRange::Clamp && value == value)
    return value < range.low ? range.low : range.high;
  return fallback;
}

namespace stored {
using enum OutOfRange;
// Cell.
inline constexpr StoredRange kCellLength{"cell length", 0.01, 10000.0, Refuse, " \u00C5"};
inline constexpr StoredRange kCellAngle{"cell angle", 0.01, 179.99, Refuse, "\u00B0"};
// View, range and scale. A plot scale that is not a number takes 0: the
// structure is fitted to its window when it is opened.
inline constexpr StoredRange kPlotScale{"plot scale", kMinStoredPlotScale, kMaxPlotScale, Clamp, " pixels/\u00C5"};
inline constexpr StoredRange kPlotRange{"plot range", -kMaxPlotRangeCoordinate, kMaxPlotRangeCoordinate, UseDefault};
inline constexpr StoredRange kFinite{"coordinate", -1.0e6, 1.0e6, Clamp};
inline constexpr StoredRange kViewDirection{"view direction", -1000.0, 1000.0, UseDefault};
// Radii (Angstrom) and their fractions.
inline constexpr StoredRange kAtomRadius{"atom-type radius", 0.0, kMaxStoredRadius, Clamp, " \u00C5"};
inline constexpr StoredRange kMinBallRadius{"minimum ball-and-stick radius", 0.0, kMaxStoredRadius, UseDefault, " \u00C5"};
inline constexpr StoredRange kFraction{"radius fraction", 0.0, 1.0, UseDefault};
// The surface spheres' radius as a share of the atom's: at least the atom.
inline constexpr StoredRange kSurfaceRadiusFraction{"surface sphere radius fraction", 1.0, 10.0, UseDefault};
inline constexpr StoredRange kBondRadius{"bond radius", 0.0, 5.0, UseDefault, " \u00C5"};
inline constexpr StoredRange kVectorHeadRadius{"vector head radius", 0.0, 5.0, UseDefault, " \u00C5"};
// The Atoms tab's ellipsoid sphere radius: its field and little arrows take
// 0.1 to 10 A (a value typed beyond applies the nearest limit).
inline constexpr StoredRange kEllipsoidSphereRadius{"ellipsoid sphere radius", 0.1, 10.0, Clamp, " \u00C5"};
inline constexpr StoredRange kJointFactor{"stick joint factor", 0.0, 10.0, UseDefault};
inline constexpr StoredRange kEllipsoidProbability{"ellipsoid probability", 0.0, 1.0, UseDefault};
inline constexpr StoredRange kEllipsoidCriticalValue{"ellipsoid critical value", 0.0, 100.0, UseDefault};
inline constexpr StoredRange kBondLength{"bond maximum", 0.0, kMaxBondSpecLength, Clamp, " \u00C5"};
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
// The text sizes of the Log and of the notes, as the Text Style dialog takes them.
inline constexpr StoredRange kLogTextSize{"Log text size", kMinTextStyleSize, kMaxTextStyleSize, UseDefault, " pt"};
inline constexpr StoredRange kNotesTextSize{"notes text size", kMinTextStyleSize, kMaxTextStyleSize, UseDefault, " pt"};
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
inline constexpr StoredRange kOccupancy{"occupancy", 0.0, 10.0, Clamp};
inline constexpr StoredRange kDisplacement{"displacement parameter", -1000.0, 1000.0, Clamp};
// Annotation points (fractions of the drawing) and vectors.
inline constexpr StoredRange kAnnotationPoint{"annotation position", -100.0, 100.0, UseDefault};
inline constexpr StoredRange kVectorComponent{"vector component", -1000.0, 1000.0, UseDefault};
// Preferences only: picture sizes and counts.
inline constexpr StoredRange kThumbnailHeight{"thumbnail height", 16, 1024, UseDefault};
// What the picture export's resolution field keeps (dots per inch).
inline constexpr StoredRange kExportResolution{"export resolution", 1, 65535, UseDefault, " dpi"};
inline constexpr StoredRange kFrameRate{"frame rate", 0.1, 240.0, UseDefault};
inline constexpr StoredRange kDistance{"distance", 0.0, 100.0, UseDefault};
inline constexpr StoredRange kPickerCount{"element picker count", 0, 10, UseDefault};
inline constexpr StoredRange kSidebarSplit{"sidebar split", 0.0, 1.0, UseDefault};
inline constexpr StoredRange kElementRadius{"element radius", 0.0, kMaxStoredRadius, Clamp, " \u00C5"};

// Font names: a name is kept when it is text a font can be called by (not
// empty, not only spaces, no control characters); otherwise the field's
// default font is used. Bytes that are not UTF-8 are older files' 8-bit
// names and are kept.
struct StoredFontName {
  const char *name;
};
inline constexpr StoredFontName kLogFont{"Log font"};
inline constexpr StoredFontName kNotesFont{"notes font"};
inline constexpr StoredFontName kWindowFont{"window font"};
inline constexpr StoredFontName kLabelFont{"label font"};
inline constexpr StoredFontName kAnnotationFont{"annotation font"};
} // namespace stored

// Whether a font name read from a file may stand (the rule above).
bool StoredFontNameValid(std::string_view name);

// ---- Showing stored values ----------------------------------------------------------------

// A stored value as an editor shows it: `decimals` decimals (".2f" style),
// or as many more as it takes for the text to read back as the same float,
// so that OK on an unchanged editor keeps the value it showed. The number
// of decimals that takes, at most nine (beyond, StoredValueText answers in
// "%.9g").
int StoredValueDecimals(float value, int decimals);
std::string StoredValueText(float value, int decimals);
