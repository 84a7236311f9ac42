// Printing a structure window: File > Page Setup… and File > Print….
//
// Each structure window keeps its own page format (its print info) for as
// long as it lives. A page holds the window's picture re-plotted at the
// printer's resolution, as large as the printable area allows with the
// graph pane's proportions; labels, line widths, the axes and the
// annotation objects grow with the plot as they do for picture export.
#pragma once

#include "Commands.h"
#include "HostServices.h"
#include "Utilities.h"

#include <cstdint>

class QPrinter;

// Pages are plotted at the printer's resolution, but never finer than this
// (dots per inch): a finer plot only costs memory.
inline constexpr int kMaxPrintPlotRes = 300;

// The window's printer with its page format, made on first use; null for a
// window that is not a structure window.
QPrinter *MyCreatePrintInfoForWindow(WindowRef window);
// Draws the window's structure on one page of the printer, which must be
// ready to paint on: 0, or -1 when nothing could be plotted.
int ImageMainWindow(WindowRef window, QPrinter &printer);

// The page setup and print dialogs for the window; the print dialog's OK
// prints one page.
void DoPageSetup(WindowRef window);
void DoPrintWindow(WindowRef window);

// Joins Page Setup and Print to the command chain.
void InstallPrintingCommands();
