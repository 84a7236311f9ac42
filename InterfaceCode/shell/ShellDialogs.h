// The shell's questions to the user: open and save dialogs, the
// save-changes question and the font-and-size dialog.
//
// The program installs the Qt dialogs; tests install their own answers, so
// that no test ever waits for a person.
#pragma once

#include "HostServices.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

enum class SaveChangesAnswer { kSave, kDontSave, kCancel };

class QDialog;
class QFileDialog;
#include "StructureChooser.h"

#include <QStringList>
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
  // Closes that question while it is up, answered Cancel (files handed to
  // the program stop a quit that asks it).
  virtual void WithdrawSaveQuestion() {}
  // The modal font-and-size dialog: true on OK with the chosen values.
  virtual bool GetWindowOptions(std::string &fontFamily, int &pointSize) = 0;
  // The page setup and print dialogs on the printer: true on OK, the
  // printer then set as chosen. Dialogs that choose nothing cancel.
  virtual bool PageSetup(QPrinter &, QWidget * /*parent*/) { return false; }
  virtual bool PrintSetup(QPrinter &, QWidget * /*parent*/) { return false; }
  // The structures of a file of several that the user picks in the
  // chooser; nothing picked when cancelled. Dialogs that show nothing pick
  // the first.
  virtual StructureChoice ChooseStructures(const std::filesystem::path & /*file*/,
                                           const std::vector<StructureSummary> & /*structures*/) {
    return {{0}, false};
  }
};

// The folder every file dialog starts in (open, save, exports, print to
// file, folder choices): the document folder of the window the dialog is
// for (the front structure window when none is named), else the folder last
// used in any dialog, else the home folder.
std::filesystem::path DialogStartFolder(WindowRef window = nullptr);
// The folder last used in a dialog (the home folder before the first); each
// dialog notes the file or folder the user chose in it.
std::filesystem::path LastDialogFolder();
void NoteDialogFolder(const std::filesystem::path &file);
void NoteDialogFolderChosen(const std::filesystem::path &folder);
// Remembers the file a window's structure was read from, documents and text
// files alike: its folder is the window's document folder while the window
// bears its name.
void NoteDocumentFolder(WindowRef window, const std::filesystem::path &file);
// A modal folder choice and a modal choice of files to open, both starting
// in the start folder; none when cancelled.
std::optional<std::filesystem::path> RunFolderDialog(const std::string &message);
std::vector<std::filesystem::path> RunOpenFilesDialog(const std::string &message, const std::string &filter);
// The page setup dialog of the shell over the printer's page layout: paper
// size, orientation and margins; the caller owns it. After OK,
// `ApplyPageSetupDialog` sets the printer's page layout from it.
QDialog *CreatePageSetupDialog(const QPrinter &printer, QWidget *parent);
void ApplyPageSetupDialog(QDialog *dialog, QPrinter &printer);
// Print to file proposes the window's document name in the start folder;
// the print dialog's file field takes it when the dialog shows.
void ProposePrintFile(QDialog *printDialog, QPrinter &printer);
// The Qt file dialogs as the shell shows them; the caller owns them. The
// open dialog offers the documents the program reads; the save dialog the
// type of the proposed name's extension (documents by their own names).
QFileDialog *CreateOpenDialog(QWidget *parent);
// The name filters of every dialog that opens structures: all structure
// files, one per readable format, then all files.
QStringList StructureFileNameFilters();
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
