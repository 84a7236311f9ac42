// Two application-modal dialogs that ask for numbers: the rotation tool's
// step angle, and the grid of views of an object movie (rows and columns of
// frames and the pan angles they cover) with the movie's estimated size and
// a drawing of the grid.
//
// The dialogs are objects that tests fill and confirm; the blocking calls
// run them through `RunAppModalDialog`, which only the program leaves at
// its default (exec()).
#pragma once

#include "shell/Commands.h"

#include <QDialog>
#include <QLineF>
#include <QRectF>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// ---- Rotation angle ----------------------------------------------------------------

inline constexpr float kMinRotationAngle = 0.01f, kMaxRotationAngle = 359.99f;
// |angle| kept within 0.01 .. 359.99.
float ClampRotationAngle(float angle);
// "%.2f" without trailing zeros, then the degree sign ("15°").
std::string RotationAngleText(float angle);

class RotationAngleDialog : public QDialog {
public:
  explicit RotationAngleDialog(float angle, QWidget *parent = nullptr);
  bool Loaded() const { return loaded_; }
  bool UserOK() const { return userOK_; }
  // The field's value, clamped.
  float Angle() const;
  OSStatus Command(uint32_t command);

private:
  bool loaded_ = false;
  bool userOK_ = false;
};
// True on OK, with the angle; false on Cancel or when the dialog cannot be
// made (the angle is then untouched).
bool GetRotationAngle(float *angle);

// ---- Object movie options ------------------------------------------------------------

// The size text of the estimate: "%.1f MB" above 1 MB, "%ld kB" for a
// smaller size, "---- kB" for none.
std::string QTVRMovieSizeText(uint64_t bytes);
// The preview's grid in a view of the bounds: its outline and inner lines.
struct QTVRGrid {
  QRectF outline;
  std::vector<QLineF> lines;
};
QTVRGrid QTVRPreviewGrid(const QRectF &bounds, uint32_t rows, uint32_t columns);

class QTVROptionsDialog : public QDialog {
public:
  explicit QTVROptionsDialog(QWidget *parent = nullptr);
  bool Loaded() const { return loaded_; }
  bool UserOK() const { return userOK_; }
  OSStatus Command(uint32_t command);
  // Reads the pans from the fields and tests the options in order; on a
  // failure alerts, puts the focus into the field to mend and answers false.
  bool ValidQTVROptions();
  // Frames and the movie's size from the rows, columns and frame size.
  void GetQTVRMovieSize();

private:
  void FieldEdited(int id);
  bool loaded_ = false;
  bool userOK_ = false;
};
// Edits gQTVROptions in place; true on OK with valid options, false on
// Cancel or any failure.
bool GetQTVROptions();

// Runs a dialog application-modally; tests install a runner that fills and
// confirms it instead.
void RunAppModalDialog(QDialog &dialog);
void SetAppModalDialogRunner(std::function<void(QDialog &)> runner);
// OK (when `valid`) and Cancel of a dialog or sheet: closes it and notes the
// answer; other commands are not handled.
OSStatus CloseOnOKOrCancel(QDialog &dialog, uint32_t command, bool valid, bool *userOK);

void InstallAngleDialogs();
