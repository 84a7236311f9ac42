// Where windows go on the screen: every place that puts a window on screen,
// or makes one larger, keeps it there through here.
#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

// Moves the window so that its whole frame, title bar included, lies inside
// the usable area of its screen (inset 3 pixels); one larger than that area
// goes to its top-left corner. Its size stays: a structure window's size is
// its picture's. A window not yet shown has no frame yet; it is taken to
// get one like the program's other windows on screen.
void MoveWindowOnscreen(QWidget *window);

// The frame rectangle of a new window within `usable`: its frame's top-left
// corner put at `at`, its size and least size (`size`, `least`) grown by the
// frame's `margins`. Cascaded from `previous` (a frame; invalid for none) it
// goes `step` pixels below and right of it and shrinks to stay in the area;
// where that would leave less than the least size, that side starts again at
// the area's edge. Otherwise it is moved onto the area and shrinks only
// where larger. The window's size is the frame's less the margins.
QRect NewWindowFrame(QPoint at, QSize size, QSize least, const QMargins &margins, const QRect &usable,
                     const QRect &previous, int step);

// Places a new window, not yet shown, by NewWindowFrame: cascaded from
// `previous` (null for none) and fitted, frame and all, to the usable area
// of its screen. Its frame is taken from the program's windows on screen;
// with none to go by, the window is shrunk where it stands once the window
// manager has framed it.
void PlaceNewWindow(QWidget *window, const QWidget *previous, int step);
