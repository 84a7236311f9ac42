// Preparing sites and atom types before a structure is built.
//
// Readers, editors and transformations tidy the asymmetric unit before they
// run the build (BuildPipeline.h): partial sites that share a position are
// merged into one mixed site, a mixed site's elements are ordered by
// occupancy, every site gets an atom type (one per element and style, with
// the element table's radius and colour), and sites can be given automatic
// colours and labels, turned grey, or sorted by element.
//
// Sorting sites renumbers nothing that points at a site: the atoms stay
// stale until the structure is rebuilt. Sorting a molecule moves sites and
// atoms together and renumbers every reference to an atom.
#pragma once

#include "StructureRecord.h"

#include <cstdint>

// ---- Tolerances ------------------------------------------------------------------

// The occupancies of one site (or one atom's) may add up to this much above 1
// before the sum is told or refused: a refinement leaves a mixed site's a
// little over, and single precision rounds typed values. The readers and
// the sites' checks share it.
inline constexpr double kOccupancySumSlack = 1e-3;

// Atom types of elements the element table lacks.
inline constexpr float kUnknownElementRadius = 1.0f;
inline constexpr RGBColor kUnknownElementColour{13107, 13107, 13107};
// The atom style every atom type takes from `SetSphereProperties`.
inline constexpr uint32_t kSphereDefaultStyle = 14;

// Automatic site colours: fully saturated hues spread evenly over the sites.
inline constexpr uint16_t kSiteColourSaturation = 65535;
inline constexpr uint16_t kSiteColourLightness = 32000;
inline constexpr uint32_t kHueScale = 65535;

// Automatic labels hold at most this many characters.
inline constexpr int kAutoLabelLength = 6;

// ---- Colours ---------------------------------------------------------------------

// A colour as hue, saturation and lightness, each 0 to 65535; the hue runs
// once round the colour circle from red (0) through green (21845) and blue
// (43690) back towards red.
struct HSLColor {
  uint16_t hue = 0;
  uint16_t saturation = 0;
  uint16_t lightness = 0;
};

// The RGB colour of an HSL colour (channels rounded to the nearest value).
void HSL2RGB(const HSLColor &hsl, RGBColor &rgb);

// ---- Atom types ------------------------------------------------------------------

// Makes the atom types afresh: the old ones are destroyed; each site in order
// gets the first atom type with its first element and its atom style, a new
// one being appended when there is none; then `SetSphereProperties`. Answers
// the atom-type array, or nullptr when there are no sites or no memory.
// Atoms keep whatever atom type they held.
SphereRecord *GenerateSpheres(CrystalRec *crystal);

// Every atom type takes the radius and colour of its element in the
// preferences' element table (all 200 rows searched, the first match wins),
// or radius 1.0 and dark grey for an element the table lacks; then every
// atom type's style becomes 14.
void SetSphereProperties(CrystalRec *crystal);

// Orders each mixed site's elements by occupancy, largest first (equal
// occupancies keep their order), over its pairs up to the first with
// occupancy 0 or a blank element. A site of two or three elements whose
// occupancies add up to more than 1 gets the red Log line "Warning: sum of
// occupancies for site no. %ld ('%s') is greater than one!" (index from 0).
void SortSiteOccupancies(CrystalRec *crystal);

// One atom type per site, coloured by hue: type i is a copy of site i's atom
// type (without its cached images) in the colour of hue trunc(i x 65535 /
// sites), full saturation and lightness 32000; site i and all its atoms take
// type i. Needs at least two sites; true when done.
bool AutoGenerateSiteColors(CrystalRec *crystal);

// Labels the sites by element and number: the sites of each first element
// are numbered from 1 in site order (sorted by element or not), and the
// element's site count n chooses the form, with d = 6 - (letters of the symbol) digits:
// symbol and decimal up to 10^d - 1, symbol and lower-case hexadecimal up to
// 16^d - 1, then (two-letter symbols only) first letter and decimal up to
// 10 x (10^d - 1), else first letter and hexadecimal cut to 6 characters.
// False without sites.
bool AutoGenerateSiteLabels(CrystalRec *crystal);

// Turns the atom types' colours, the axis, unit-cell and cloud-sphere colours
// and both colours of every bond specification into their grey values.
// False (nothing done) without atom types.
bool ConvertCrystalColorsToGreyscale(CrystalRec *crystal);

// ---- Sorting by element -------------------------------------------------------------

// Order of two sites: the two characters of the first element followed by
// the label, compared as site labels (so O2 comes before O10).
int32_t CompareAUByElementAndLabel(const AsymmetricUnitRecord &a, const AsymmetricUnitRecord &b);

// Puts the sites in the order of `CompareAUByElementAndLabel` (sites that
// compare equal keep their order). Moves sites only: atoms keep their old
// site indices until the structure is rebuilt. "No memory for sorting!"
// (stop alert) and false when the working copy cannot be made; true otherwise.
bool SortAUByElement(CrystalRec *crystal);

// Sorts a molecule's sites and atoms together (site k belongs to atom k) in
// the order of `CompareAUByElementAndLabel`, renumbering every bonds-list
// entry, polyhedron centre and vertex, vector and custom bond. A crystal gets
// the stop alert "cannot sort atoms for a crystal!". Nothing for fewer than
// two atoms or when sites and atoms do not pair up. False when nothing was
// sorted.
bool SortMoleculeByElement(CrystalRec *crystal);
