#include "EditorLists.h"

#include <QAbstractItemDelegate>
#include <QKeyEvent>
#include <QTableView>

QString ElementSymbolText(ElementCode code) {
  char s[2];
  ShortToTwoChars(code, s);
  return QString::fromLatin1(s, 2);
}

void MarkEditorCell(QWidget *editor, const QModelIndex &index) {
  if (!editor)
    return;
  editor->setProperty("row", index.row());
  editor->setProperty("column", index.column());
}

bool TabBetweenCells(QAbstractItemDelegate *delegate, QTableView *view, QObject *object, QEvent *event, int a, int b) {
  auto *editor = qobject_cast<QWidget *>(object);
  if (!editor || event->type() != QEvent::KeyPress || !editor->property("column").isValid())
    return false;
  const int key = static_cast<QKeyEvent *>(event)->key();
  const int column = editor->property("column").toInt();
  if ((key != Qt::Key_Tab && key != Qt::Key_Backtab) || (column != a && column != b))
    return false;
  const int row = editor->property("row").toInt();
  const int other = column == a ? b : a;
  emit delegate->commitData(editor);
  emit delegate->closeEditor(editor, QAbstractItemDelegate::NoHint);
  // Opened once the closed editor is gone.
  QMetaObject::invokeMethod(
      view, [view, row, other] { view->edit(view->model()->index(row, other)); }, Qt::QueuedConnection);
  return true;
}
