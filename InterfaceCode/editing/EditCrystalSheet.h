// The Edit Crystal and Edit Molecule sheet, and the commands that open it
// (Edit Crystal/Molecule, New Crystal, New Molecule).
//
// The sheet edits an `EditCrystalRec`; the window's structure changes only
// after the sheet closes with OK (`DoEditCrystal`, `DoEditMolecule`).
#pragma once

#include "EditCrystalRecord.h"
#include "HostServices.h"

#include <QDialog>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

class QLineEdit;
class QLabel;
class QTableView;
class SiteTableModel;

// Commands of our own for the menus.
inline constexpr uint32_t kCmdEditStructure = FourCharsToLong("EdSt");

// What the symmetry options dialog edits.
struct SymmetryOptionsState {
  uint16_t cardCount = 0;
  std::array<Symcard, kMaxSymCards> cards{};
  std::string symbol;
  char latticeLetter = 'P';
  uint8_t originChoice = 0;
  float alpha = 90.0f, beta = 90.0f, gamma = 90.0f;
  float originShift[3] = {0.0f, 0.0f, 0.0f};
  uint8_t constrainCell = 1;
};

// The explorer windows the sheet opens; the explorers install them
// (SpacegroupWindow.cpp, SymmetryOptions.cpp) when the program starts.
struct EditorHooks {
  // Shows the space-group browser on a group (Browse).
  void (*findSpacegroupInSpacegroupWindow)(const std::string &symbol, uint8_t originChoice, int setting) = nullptr;
  // The symmetry options dialog (Options); false when cancelled.
  bool (*getSymmetryOptions)(SymmetryOptionsState *state) = nullptr;
};
extern EditorHooks gEditorHooks;

// The displacement type last chosen from the type popup (0 to 3).
extern int gSaveLastADPType;

class EditCrystalSheet : public QDialog {
public:
  EditCrystalSheet(WindowRef window, std::unique_ptr<EditCrystalRec> record, QWidget *parent);
  ~EditCrystalSheet() override;

  // Runs one of the sheet's commands: 0 when handled, else
  // `kEventNotHandledErr` (also for `quit`, which closes the sheet first).
  int HandleCommand(uint32_t command);

  EditCrystalRec *Record() { return record_.get(); }
  WindowRef ParentWindow() const { return window_; }
  QTableView *SiteList() const { return list_; }
  SiteTableModel *Model() const { return model_; }
  QLineEdit *CellField(int i) const { return cellFields_[static_cast<size_t>(i)]; }
  QLineEdit *SymbolField() const { return symbolField_; }

  void DisplaySymmetry();
  void DisplayOriginOffset();
  void InitConstrainCellPars();
  void CheckSpacegroup();
  void UpdateEditCrystalStatus();
  // Reflects a selection change of the list in the record.
  void SyncSelection();

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void AddSite();
  void RemoveSites();
  void Relabel();
  void ToggleWidth();
  void Browse();
  void SymmetryOptions();
  bool TryOK();
  void ReadCellFields(float cell[6]) const;
  void Finish(int result);

  WindowRef window_;
  std::unique_ptr<EditCrystalRec> record_;
  QTableView *list_ = nullptr;
  SiteTableModel *model_ = nullptr;
  QLineEdit *symbolField_ = nullptr;
  QLabel *warningIcon_ = nullptr;
  std::array<QLineEdit *, 6> cellFields_{};
  int quitHandler_ = 0;
  bool unchanged_ = false; // OK found nothing to apply
};

// Opens the sheet on the window for the record; null when it cannot be made.
EditCrystalSheet *ShowEditCrystalSheet(WindowRef window, std::unique_ptr<EditCrystalRec> record);
// The open editor sheet of a window, or null.
EditCrystalSheet *GetEditCrystalSheet(WindowRef window);

// The Edit menu's editor command on the front structure window.
void DoShowEditCrystalSheet();
// New Crystal / New Molecule.
void DoShowNewCrystalSheet(bool isMolecule);
// The space-group browser's pick, for an open Edit Crystal sheet.
void ResetEditCrystalSymmetry(const std::string &symbol, int crystalSystem, uint8_t originChoice);

// Joins New Crystal, New Molecule and the editor command to the command chain.
void InstallEditorCommands();
