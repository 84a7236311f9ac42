// Where windows go on the screen: every place that puts a window on screen,
// or makes one larger, keeps it there through here.
#pragma once

class QWidget;

// Keeps the window's whole frame, title bar included, inside the usable
// area of its screen (inset 3 pixels): moved in, and made smaller (within
// its minimum size) when it is larger than that area. A window not yet
// shown has no frame yet; it is taken to get one like the program's other
// windows on screen.
void MoveWindowOnscreen(QWidget *window);
