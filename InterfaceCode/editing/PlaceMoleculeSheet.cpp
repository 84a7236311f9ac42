#include "PlaceMoleculeSheet.h"

#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "documents/PlaceMolecule.h"
#include "shell/ShellDialogs.h"
#include "window/MainWindowData.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QSortFilterProxyModel>

namespace {

// Folders and molecule documents, told by their header rather than their name.
class MoleculeFileFilter : public QSortFilterProxyModel {
public:
  using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
  bool filterAcceptsRow(int row, const QModelIndex &parent) const override {
    auto *model = qobject_cast<QFileSystemModel *>(sourceModel());
    if (!model)
      return true;
    const QModelIndex index = model->index(row, 0, parent);
    return model->isDir(index) || IsPlaceableMoleculeFile(model->filePath(index).toStdString());
  }
};

} // namespace

QFileDialog *ShowPlaceMoleculeSheet(WindowRef window) {
  MainWindow *parent = GetMainWindow(window);
  const CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  if (!parent || !c || !IsWindowFileOpen(window))
    return nullptr;
  auto *dialog = new QFileDialog(parent, "Please choose an Orvalisphere molecule file",
                                 QString::fromStdString(DialogStartFolder().string()));
  dialog->setOption(QFileDialog::DontUseNativeDialog); // the header filter needs our own list
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setProxyModel(new MoleculeFileFilter(dialog));
  dialog->setWindowModality(Qt::WindowModal);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  // The dialog belongs to the window: it cannot outlive it.
  QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [window](const QString &file) {
    NoteDialogFolder(file.toStdString());
    PlaceMoleculeFile(file.toStdString(), window);
  });
  dialog->open();
  return dialog;
}
