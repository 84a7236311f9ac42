// The style menus' tables: for each menu item, from item 1, the style code
// it sets (-1 for a separator), the type code of its icon and the icon's
// file name. The inspectors and the selection commands build their pop-up
// and menu items from these, so an item number always means the same style.
#pragma once

#include "Utilities.h"

#include <cstdint>
#include <span>

struct StyleIconEntry {
  int32_t style;     // the style code the item sets; -1: a separator
  uint32_t iconType; // icon type code, 0 for a separator
  char fileName[64]; // the icon file, empty for a separator
};

extern const StyleIconEntry gAtomStyleIconData[22];
extern const StyleIconEntry gEllipsoidStyleIconData[34];
// The polyhedron modes; the partial menu holds the first
// kPolyStylePartialItems items (the modes that draw no polyhedron).
extern const StyleIconEntry gPolyStyleIconData[18];
inline constexpr int kPolyStylePartialItems = 7;
extern const StyleIconEntry gBondStyleIconData[14];

// The icon drawn over an ellipsoid style icon when the ellipsoid is hidden.
inline constexpr uint32_t kEllipsoidHiddenIconType = FourCharsToLong("ESPS");
inline constexpr const char *kEllipsoidHiddenIconFile = "IC EllipsoidHidden.icns";

// The command items every style menu holds after its styles.
inline constexpr uint32_t kCmdAtomStyleDefault = FourCharsToLong("ASDf");
inline constexpr uint32_t kCmdAtomStyleMakeDefault = FourCharsToLong("ASMD");
inline constexpr uint32_t kCmdEllipsoidStyleDefault = FourCharsToLong("ESDf");
inline constexpr uint32_t kCmdEllipsoidStyleMakeDefault = FourCharsToLong("ESMD");
inline constexpr uint32_t kCmdPolyStyleDefault = FourCharsToLong("PSDf");
inline constexpr uint32_t kCmdPolyStyleMakeDefault = FourCharsToLong("PSMD");
inline constexpr uint32_t kCmdBondStyleDefault = FourCharsToLong("BSDf");
inline constexpr uint32_t kCmdBondStyleMakeDefault = FourCharsToLong("BSMD");

// The first item (from 1) whose code is `style`; 0 when none carries it.
int FindStyleMenuItem(std::span<const StyleIconEntry> table, int32_t style);
// The entry of that item, or none.
const StyleIconEntry *FindStyleIconEntry(std::span<const StyleIconEntry> table, int32_t style);

// Polyhedron modes that draw no polyhedron; only these are given to sites
// that are not polyhedral.
constexpr bool IsPolyModeWithoutPolyhedron(uint32_t mode) {
  return mode == 1 || mode == 2 || mode == 6 || mode == 7 || mode == 11 || mode == 12;
}
