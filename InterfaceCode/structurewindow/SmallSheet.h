// The frame of the structure window's small sheets: a window-modal dialog
// whose buttons carry their four-character commands (the dynamic property
// "command"), little arrows that report a step of +1 or -1, and the common
// commands Cancel ('not!', handled) and close ('quit', passed on).
#pragma once

#include "HostServices.h"
#include "Utilities.h"

#include <QDialog>
#include <initializer_list>

inline constexpr uint32_t kCmdSheetOk = FourCharsToLong("ok  ");
inline constexpr uint32_t kCmdSheetCancel = FourCharsToLong("not!");
inline constexpr uint32_t kCmdSheetQuit = FourCharsToLong("quit");
inline constexpr uint32_t kCmdSheetHelp = FourCharsToLong("Help");

class SmallSheet : public QDialog {
public:
  explicit SmallSheet(QWidget *parent);
  // Runs a command: 0 when handled, `kEventNotHandledErr` otherwise.
  int32_t Command(uint32_t command);

protected:
  // The sheet's own commands; the answer as for `Command`.
  virtual int32_t SheetCommand(uint32_t command) = 0;
  // A click on the little arrows with this control number.
  virtual void Arrow(int /*id*/, int /*step*/) {}
  // Joins the form's command buttons and the little arrows (QSpinBox
  // controls with these numbers) once the form is set up.
  void JoinButtonsAndArrows(std::initializer_list<int> arrows);
};
