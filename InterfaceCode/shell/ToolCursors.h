// The program's own cursor images: the mouse tools' cursors and the sidebar
// dividers' resize cursors, drawn once at first use.
#pragma once

#include "HostServices.h"

#include <QCursor>

// The cursor for a cursor code; the standard shapes for the arrow, the
// watch, the cross and the hands.
QCursor ToolCursor(CocoaCursor cursor);
