// Where windows go on the screen: every place that puts a window on screen,
// or makes one larger, keeps it there through here.
#pragma once

class QWidget;

// Moves the window so that its whole frame, title bar included, lies inside
// the usable area of its screen (inset 3 pixels); one larger than that area
// goes to its top-left corner. Its size stays: a structure window's size is
// its picture's. A window not yet shown has no frame yet; it is taken to
// get one like the program's other windows on screen.
void MoveWindowOnscreen(QWidget *window);
