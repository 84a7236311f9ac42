// The plain listings for people: the coordinates of the atoms shown, the
// coordination groups of the atoms shown, and the coordination of every atom
// of one unit cell assuming full bonding, plus the distances and angles
// report. Fixed-width text, not meant to be read back.
#pragma once

#include "StructureRecord.h"

#include <optional>
#include <string>
#include <string_view>

inline constexpr const char *kNoAtomsVisible =
    "No atoms visible. Please set the plot range to ensure that one or more atoms are visible.";
inline constexpr const char *kNeedsCrystalSymmetry = "Sorry, this command only works when crystal symmetry is present";
inline constexpr const char *kNoBondsDefined = "No bonds defined!";
inline constexpr const char *kNoBondsDefinedExplanation = "Please use the Edit Bonding command";
inline constexpr const char *kNoMemoryForBondSearch = "Sorry, insufficient memory for the bond search";

// A block atom is the centre itself when all three fractional differences
// from the centre are below this.
inline constexpr float kBlockCentreTolerance = 0.00001f;
// The distances report angles only among this many nearest neighbours.
inline constexpr size_t kMaxAngleNeighbours = 17;
// A neighbour list still full at the search radius is searched again at this
// fraction of it, down to the smallest radius below.
inline constexpr float kSearchRadiusShrink = 0.9f;
inline constexpr float kMinSearchRadius = 0.1f;

std::string FormatCoordinatesListing(const CrystalRec &c, std::string_view title, std::string_view version);
std::string FormatVisibleCoordinationListing(const CrystalRec &c, std::string_view title, std::string_view version);
// None when the first cell or the block of cells cannot be had.
std::optional<std::string> FormatCrystalCoordinationListing(const CrystalRec &c, std::string_view title,
                                                            std::string_view version);
// The report with a search radius of `radius` (A). The structure is not
// changed, though the neighbour search needs it writable.
std::string FormatBondsReport(CrystalRec &c, std::string_view title, std::string_view version, float radius);
// The capacity of the report's neighbour list for a search radius.
size_t BondsReportListCapacity(const CrystalRec &c, float radius);
