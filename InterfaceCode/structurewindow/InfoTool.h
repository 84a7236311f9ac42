// The info tool of the arrow tool: what lies under the mouse is highlighted
// (an atom with its bonds, or a bond) and an atom gets its info tip after a
// pause. Also the Log reports about an atom: its site, its bonds and the
// angles around it.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

#include <cstdint>
#include <string>

// The atom the info tool last identified; kNoInfoAtom for none.
inline constexpr int32_t kNoInfoAtom = 999999999;
extern int32_t gInfoAtomNum;

// One hover step at the window point; with isClick it also inverts the
// window's measurement lock and writes the report of a bond under the mouse.
void DoInfoTool(WindowRef window, Point point, bool isClick);
// Highlights the atom with its bonds and arms the info-tip timer.
void RequestWriteAtomInfo(WindowRef window, int32_t atom);
// The timer's action: shows the tip when the mouse still rests on the atom.
void WriteAtomInfoTimerProc(int32_t atom);
// The info-tip timer (tests fire it by hand).
EventLoopTimer &InfoTipTimer();
// The atom highlight with its bonds and bond lengths.
void WriteAtomInfo(WindowRef window, int32_t atom);
// The bond highlight and, with isClick, the bond report.
void WriteBondInfo(WindowRef window, int32_t atomA, int32_t atomB, bool isClick);
// The site's composition: "Fe" for a full site, "Fe 0.5 Mg 0.5" for a shared one.
std::string GetOccupancyCharsForSite(const CrystalRec *crystal, uint32_t site);
// The site, bond and angle tables of the atom to the Log.
void FWriteSiteInfo(WindowRef window, int32_t atom);
void FWriteBondInfo(WindowRef window, int32_t atom);
void FWriteAngleInfo(WindowRef window, int32_t atom);

// The info tip (InfoTip.cpp installs these at start-up): shows the tip of
// the atom in the window, removes the window's tip, and whether the mouse
// lies over it.
extern void (*gCreateInfoTipHook)(WindowRef window, int32_t atom);
extern void (*gRemoveInfoTipHook)(WindowRef window);
extern bool (*gMouseOverInfoTipHook)(WindowRef window, Point point);
