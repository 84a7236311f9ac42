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
};

class QDialog;
class QWidget;
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
