// Text reports on a structure window's structure, written to the Log: the
// chemical formula, the coordinate and bond listings, the porosity and the
// density. Only what is visible counts: a site by its visible flag, an atom
// by its own flag on a visible site, a bond from its atom of lower index to
// a visible partner.
#pragma once

#include "HostServices.h"

#include <cstdint>
#include <string>
#include <string_view>

// Visible bonds of the window's structure, each counted once; 0 without a
// structure, sites or atoms.
uint32_t CountVisibleBonds(WindowRef window);

// "Chemical formula data for ..." with the bulk and display formulas, and a
// subtitle banner.
void PrintChemicalFormula(WindowRef window);
// The visible atoms' coordinates as a table; the Log is shown.
void DoListCoordinates(WindowRef window);
// The visible bonds with their lengths, and their total.
void DoListBonds(WindowRef window);
// Filled and void space of the cell; the Log is shown.
void PrintCrystalPorosity(WindowRef window);
// Density, atoms per cell and the atom and site densities of a crystal.
void PrintCrystalDensity(WindowRef window);

// The display formula of the visible atoms: per element, in order of first
// appearance, the symbol, a blank, the trimmed count and a blank.
std::string DisplayFormula(WindowRef window, int32_t *atoms, int32_t *sites, int32_t *elements);
// Each digit 0-9 of the text as its Unicode subscript (U+2080 to U+2089).
std::string ConvertNumericCharsToSubscripts(std::string_view text);
