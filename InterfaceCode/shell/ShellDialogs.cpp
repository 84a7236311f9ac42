#include "ShellDialogs.h"

#include "Forms.h"
#include "structurewindow/EditAnnotation.h"
#include "ui_WindowOptions.h"

#include <QDialogButtonBox>
#include <QFontComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <memory>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPushButton>

namespace {

std::filesystem::path gLastDialogFolder;

// The document types by extension, as the file dialogs name them.
struct DocumentType {
  const char *extension;
  const char *name;
};
constexpr DocumentType kDocumentTypes[] = {
    {"ovdf", "Crystal documents"}, {"ovmf", "Molecule documents"}, {"ovtx", "Structure text files"}};

std::vector<std::filesystem::path> ChosenFiles(QFileDialog &dialog) {
  std::vector<std::filesystem::path> files;
  for (const QString &name : dialog.selectedFiles())
    files.emplace_back(name.toStdString());
  return files;
}

class QtShellDialogs : public ShellDialogs {
public:
  std::vector<std::filesystem::path> GetOpenFiles() override {
    std::unique_ptr<QFileDialog> dialog(CreateOpenDialog(QApplication::activeWindow()));
    if (dialog->exec() != QDialog::Accepted)
      return {};
    return ChosenFiles(*dialog);
  }

  std::optional<std::filesystem::path> GetSaveFile(const std::string &prompt, const std::string &proposedName,
                                                   const std::filesystem::path &folder) override {
    std::unique_ptr<QFileDialog> dialog(CreateSaveDialog(QApplication::activeWindow(), prompt, proposedName, folder));
    if (dialog->exec() != QDialog::Accepted)
      return std::nullopt;
    const std::vector<std::filesystem::path> files = ChosenFiles(*dialog);
    if (files.empty())
      return std::nullopt;
    return files.front();
  }

  bool PageSetup(QPrinter &printer, QWidget *parent) override {
    QPageSetupDialog dialog(&printer, parent);
    return dialog.exec() == QDialog::Accepted;
  }

  bool PrintSetup(QPrinter &printer, QWidget *parent) override {
    QPrintDialog dialog(&printer, parent);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    return dialog.exec() == QDialog::Accepted;
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
    std::unique_ptr<QDialog> dialog(CreateWindowOptionsDialog(QApplication::activeWindow(), fontFamily, pointSize));
    if (dialog->exec() != QDialog::Accepted)
      return false;
    return ReadWindowOptionsDialog(dialog.get(), fontFamily, pointSize);
  }
};

QtShellDialogs gQtDialogs;
ShellDialogs *gDialogs = nullptr;

} // namespace

ShellDialogs &GetShellDialogs() { return gDialogs ? *gDialogs : gQtDialogs; }
void SetShellDialogs(ShellDialogs *dialogs) { gDialogs = dialogs; }

std::filesystem::path LastDialogFolder() {
  return gLastDialogFolder.empty() ? std::filesystem::path(QDir::homePath().toStdString()) : gLastDialogFolder;
}

void NoteDialogFolder(const std::filesystem::path &file) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(file, ec);
  if (!ec && absolute.has_parent_path())
    gLastDialogFolder = absolute.parent_path();
}

QFileDialog *CreateOpenDialog(QWidget *parent) {
  auto *dialog = new QFileDialog(parent, "Open", QString::fromStdString(LastDialogFolder().string()));
  dialog->setFileMode(QFileDialog::ExistingFiles);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  QStringList filters{"Structures (*.ovdf *.ovmf *.ovtx)"};
  for (const DocumentType &t : kDocumentTypes)
    filters << QString("%1 (*.%2)").arg(t.name, t.extension);
  filters << "All files (*)";
  dialog->setNameFilters(filters);
  return dialog;
}

QFileDialog *CreateSaveDialog(QWidget *parent, const std::string &prompt, const std::string &proposedName,
                              const std::filesystem::path &folder) {
  auto *dialog = new QFileDialog(parent, QString::fromStdString(prompt), QString::fromStdString(folder.string()));
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  const std::string extension = std::filesystem::path(proposedName).extension().string();
  QStringList filters;
  if (extension.size() > 1) {
    const QString ext = QString::fromStdString(extension.substr(1));
    QString name = ext.toUpper() + " files";
    for (const DocumentType &t : kDocumentTypes)
      if (ext == t.extension)
        name = t.name;
    filters << QString("%1 (*.%2)").arg(name, ext);
    dialog->setDefaultSuffix(ext);
  }
  filters << "All files (*)";
  dialog->setNameFilters(filters);
  dialog->selectFile(QString::fromStdString(proposedName));
  return dialog;
}

QDialog *CreateWindowOptionsDialog(QWidget *parent, const std::string &fontFamily, int pointSize) {
  auto *dialog = new QDialog(parent);
  Ui::WindowOptions ui;
  ui.setupUi(dialog);
  auto *font = FindControl<QFontComboBox>(dialog, 1);
  auto *size = FindControl<QLineEdit>(dialog, 2);
  auto *arrows = FindControl<QSpinBox>(dialog, 3);
  if (font)
    font->setCurrentFont(QFont(QString::fromStdString(fontFamily)));
  if (size)
    size->setText(QString::asprintf("%.0f", double(pointSize)));
  if (arrows && size) {
    // The little arrows step the size field by one per step.
    arrows->setValue(0);
    QObject::connect(arrows, &QSpinBox::valueChanged, dialog, [arrows, size](int value) {
      if (value == 0)
        return;
      StepWindowOptionsSize(size, value > 0 ? 1 : -1);
      const QSignalBlocker block(arrows);
      arrows->setValue(0);
    });
  }
  if (auto *buttons = dialog->findChild<QDialogButtonBox *>()) {
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  }
  return dialog;
}

bool ReadWindowOptionsDialog(QDialog *dialog, std::string &fontFamily, int &pointSize) {
  auto *font = FindControl<QFontComboBox>(dialog, 1);
  auto *size = FindControl<QLineEdit>(dialog, 2);
  bool ok = false;
  const int v = size ? static_cast<int>(size->text().toDouble(&ok)) : 0;
  if (!ok || v < kMinOptionsFontSize || v > kMaxOptionsFontSize)
    return false;
  if (font)
    fontFamily = font->currentFont().family().toStdString();
  pointSize = v;
  return true;
}
