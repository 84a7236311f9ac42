// The symmetry options dialog: the symmetry of a crystal given by a
// space-group symbol (its operators listed for reference) or by a custom
// list of operators typed cell by cell, with the origin offset and the
// constrain-cell flag. Application-modal; the caller's record changes only
// through the dialog and is copied back by the caller on OK.
#pragma once

#include "StructureRecord.h"

#include <QDialog>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QAbstractItemModel;
class QLabel;
class QLineEdit;
class QTableView;

struct SymmetryOptionsRec {
  uint16_t count = 0; // 0: the symbol defines the symmetry
  std::array<Symcard, kMaxSymCards> cards{};
  std::string symbol;
  uint8_t originChoice = 0;
  char latticeLetter = 'P';
  float cellAngles[3] = {90.0f, 90.0f, 90.0f};
  float originOffset[3] = {0.0f, 0.0f, 0.0f};
  uint8_t constrainCell = 1;
  QWidget *window = nullptr;
  int16_t latticeIndex = 1; // 1-7: P A B C I F R
  int16_t mode = 1;         // 1 space group, 2 custom operators
  uint8_t accepted = 0;
};

inline constexpr const char *kLatticeLetterOrder = "PABCIFR";
inline constexpr int kMaxCellText = 20;

// ---- Logic without widgets -------------------------------------------------------------

// 1-based position of a letter in "PABCIFR"; 1 when absent.
int16_t LatticeIndexOf(char letter);
// The characters a cell keeps: "0.,123456789xXyYzZ+-/", comma as point, at
// most 20.
std::string FilterSymCellText(const std::string &typed);
// A card with one column (0-2) replaced by typed text; false, unchanged, when
// nothing is left of the text after filtering.
bool EditSymCardColumn(Symcard &card, int column, const std::string &typed);
// The 7-character field of a column.
std::string SymCardColumn(const Symcard &card, int column);
// An origin offset read from a field, with thirds and sixths made exact.
float SnapOriginOffset(float value);
// Drops exact duplicates, keeping the first of each in order.
void RemoveDuplicateSymCards(SymmetryOptionsRec &rec);
// The lines 'prGp' writes: a blank, the cards (with their centring copies
// when `withCentring` and the lattice is centred), a blank.
std::vector<std::string> SymmetryListingLines(const SymmetryOptionsRec &rec, bool withCentring);

// ---- The dialog ---------------------------------------------------------------------------

class SymmetryOptionsDialog : public QDialog {
public:
  explicit SymmetryOptionsDialog(SymmetryOptionsRec *rec, QWidget *parent = nullptr);
  ~SymmetryOptionsDialog() override;
  // A command of the dialog; 0 handled, -9874 not.
  int HandleCommand(uint32_t command);
  QTableView *List() const { return list_; }
  QLineEdit *SymbolField() const { return symbolField_; }
  SymmetryOptionsRec *Record() const { return rec_; }

  void DoToggleUseSpacegroup();
  void CustomizeSymmetryOptions();
  bool VerifySpacegroup();
  void UpdateSymOpsStatus();
  void DoShowGEPsButton();
  void DoRemoveGEPButton();
  void FillGEPDataBrowser();
  void ClearGEPDataBrowser();
  // Starts editing a cell and moves it to the next column on Tab.
  void EditCell(int row, int column);

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void AddGEP();
  bool TryOK();
  void Finish(bool accepted);

  SymmetryOptionsRec *rec_;
  QTableView *list_ = nullptr;
  QAbstractItemModel *model_ = nullptr;
  QLineEdit *symbolField_ = nullptr;
};

// Runs the dialog on the record; returns its accepted flag (0 when the
// dialog could not be made).
uint8_t GetSymmetryOptions(SymmetryOptionsRec *rec);
// Tests drive the dialog here instead of its modal loop: the driver fills
// and confirms the dialog object it receives.
extern std::function<void(SymmetryOptionsDialog *)> gSymmetryOptionsDriver;

void InstallSymmetryOptions();
