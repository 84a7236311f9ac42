#include "ShellDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFontDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {

class QtShellDialogs : public ShellDialogs {
public:
  std::vector<std::filesystem::path> GetOpenFiles() override {
    const QStringList names = QFileDialog::getOpenFileNames(QApplication::activeWindow(), "Open", QString(),
                                                            "Structures (*.ovdf *.ovmf *.ovtx);;All files (*)");
    std::vector<std::filesystem::path> files;
    for (const QString &name : names)
      files.emplace_back(name.toStdString());
    return files;
  }

  std::optional<std::filesystem::path> GetSaveFile(const std::string &prompt, const std::string &proposedName,
                                                   const std::filesystem::path &folder) override {
    const QString start = QString::fromStdString((folder / proposedName).string());
    const QString name =
        QFileDialog::getSaveFileName(QApplication::activeWindow(), QString::fromStdString(prompt), start);
    if (name.isEmpty())
      return std::nullopt;
    return std::filesystem::path(name.toStdString());
  }

  SaveChangesAnswer ConfirmSaveChanges(const std::string &documentName, bool quitting) override {
    QMessageBox box(QApplication::activeWindow());
    box.setIcon(QMessageBox::Warning);
    box.setText(QString("Do you want to save the changes you made in the document \"%1\"?")
                    .arg(QString::fromStdString(documentName)));
    box.setInformativeText(quitting ? "Your changes will be lost if you don't save them before quitting."
                                    : "Your changes will be lost if you don't save them.");
    QPushButton *save = box.addButton("Save", QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton("Cancel", QMessageBox::RejectRole);
    QPushButton *discard = box.addButton("Don't Save", QMessageBox::DestructiveRole);
    box.setDefaultButton(save);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == save)
      return SaveChangesAnswer::kSave;
    if (box.clickedButton() == discard)
      return SaveChangesAnswer::kDontSave;
    return SaveChangesAnswer::kCancel;
  }

  bool GetWindowOptions(std::string &fontFamily, int &pointSize) override {
    bool ok = false;
    QFont initial(QString::fromStdString(fontFamily), pointSize);
    QFont chosen = QFontDialog::getFont(&ok, initial, QApplication::activeWindow(), "Font");
    if (!ok)
      return false;
    fontFamily = chosen.family().toStdString();
    pointSize = chosen.pointSize() > 0 ? chosen.pointSize() : pointSize;
    return true;
  }
};

QtShellDialogs gQtDialogs;
ShellDialogs *gDialogs = nullptr;

} // namespace

ShellDialogs &GetShellDialogs() { return gDialogs ? *gDialogs : gQtDialogs; }
void SetShellDialogs(ShellDialogs *dialogs) { gDialogs = dialogs; }
