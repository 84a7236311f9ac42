// The shell's questions to the user: open and save dialogs, the
// save-changes question and the font-and-size dialog.
//
// The program installs the Qt dialogs; tests install their own answers, so
// that no test ever waits for a person.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

enum class SaveChangesAnswer { kSave, kDontSave, kCancel };

class QDialog;
class QFileDialog;
class QPrinter;
class QWidget;

class ShellDialogs {
public:
  virtual ~ShellDialogs() = default;
  // The files chosen in the Open dialog; none when cancelled.
  virtual std::vector<std::filesystem::path> GetOpenFiles() = 0;
  // The file chosen in the Save dialog, proposing `proposedName` in
  // `folder`; none when cancelled.
  virtual std::optional<std::filesystem::path> GetSaveFile(const std::string &prompt, const std::string &proposedName,
                                                           const std::filesystem::path &folder) = 0;
  // Asks whether to save the changes of the named document before closing.
  virtual SaveChangesAnswer ConfirmSaveChanges(const std::string &documentName, bool quitting) = 0;
  // The modal font-and-size dialog: true on OK with the chosen values.
  virtual bool GetWindowOptions(std::string &fontFamily, int &pointSize) = 0;
  // The page setup and print dialogs on the printer: true on OK, the
  // printer then set as chosen. Dialogs that choose nothing cancel.
  virtual bool PageSetup(QPrinter &, QWidget * /*parent*/) { return false; }
  virtual bool PrintSetup(QPrinter &, QWidget * /*parent*/) { return false; }
};

// The folder the file dialogs start in: that of the file last opened or
// saved through them (the home folder before the first).
std::filesystem::path LastDialogFolder();
void NoteDialogFolder(const std::filesystem::path &file);
// The Qt file dialogs as the shell shows them; the caller owns them. The
// open dialog offers the documents the program reads; the save dialog the
// type of the proposed name's extension (documents by their own names).
QFileDialog *CreateOpenDialog(QWidget *parent);
QFileDialog *CreateSaveDialog(QWidget *parent, const std::string &prompt, const std::string &proposedName,
                              const std::filesystem::path &folder);
// The font-and-size dialog "WindowOptions" built from its form and filled
// from the values, its size arrows (5 to 256) and buttons joined; the caller
// owns it. After OK, `ReadWindowOptionsDialog` reads the values back (false
// for a size outside 5 to 256).
QDialog *CreateWindowOptionsDialog(QWidget *parent, const std::string &fontFamily, int pointSize);
bool ReadWindowOptionsDialog(QDialog *dialog, std::string &fontFamily, int &pointSize);

// The installed dialogs (the Qt ones unless a test replaced them).
ShellDialogs &GetShellDialogs();
// Installs `dialogs` (not owned); null puts the Qt dialogs back.
void SetShellDialogs(ShellDialogs *dialogs);
