// What the lists of the bonding and element editors share: element symbols
// as text, and Tab moving an edit between two cells of the same row.
#pragma once

#include "Utilities.h"

#include <QString>

class QAbstractItemDelegate;
class QEvent;
class QModelIndex;
class QObject;
class QTableView;
class QWidget;

// The two characters of the symbol, a one-letter symbol with its blank.
QString ElementSymbolText(ElementCode code);
// Records the editor's cell, for TabBetweenCells.
void MarkEditorCell(QWidget *editor, const QModelIndex &index);
// Tab or Backtab in the editor of column `a` or `b`: the edit is committed,
// the editor closed and the other cell of the row opened. True when the
// key was taken.
bool TabBetweenCells(QAbstractItemDelegate *delegate, QTableView *view, QObject *object, QEvent *event, int a, int b);
