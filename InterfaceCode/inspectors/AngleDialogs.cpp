#include "inspectors/AngleDialogs.h"

#include "inspectors/InspectorKit.h"
#include "shell/Forms.h"
#include "structurewindow/WindowInput.h"
#include "ui_QTVROptions.h"
#include "ui_RotationAngle.h"

#include "Alerts.h"
#include "HostServices.h"
#include "Utilities.h"
#include "export/MovieRecording.h"
#include "export/PictureServices.h"
#include "export/VideoRecorder.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

std::function<void(QDialog &)> &ModalRunner() {
  static std::function<void(QDialog &)> runner;
  return runner;
}

QLineEdit *Edit(const QDialog *dialog, int id) { return FindControl<QLineEdit>(const_cast<QDialog *>(dialog), id); }

} // namespace

void RunAppModalDialog(QDialog &dialog) {
  if (ModalRunner())
    ModalRunner()(dialog);
  else
    dialog.exec();
}

void SetAppModalDialogRunner(std::function<void(QDialog &)> runner) { ModalRunner() = std::move(runner); }

OSStatus CloseOnOKOrCancel(QDialog &dialog, uint32_t command, bool valid, bool *userOK) {
  if (command == FourCharsToLong("ok  ")) {
    if (!valid)
      return kNoErr;
    if (userOK)
      *userOK = true;
    dialog.accept();
    return kNoErr;
  }
  if (command != FourCharsToLong("not!"))
    return kEventNotHandledErr;
  if (userOK)
    *userOK = false;
  dialog.reject();
  return kNoErr;
}

// ---- Rotation angle ----------------------------------------------------------------

float ClampRotationAngle(float angle) { return std::clamp(std::fabs(angle), kMinRotationAngle, kMaxRotationAngle); }

std::string RotationAngleText(float angle) { return MyTrimSprintf("%.2f", double(angle)) + "°"; }

RotationAngleDialog::RotationAngleDialog(float angle, QWidget *parent) : QDialog(parent) {
  static Ui::RotationAngle form;
  form.setupUi(this);
  setWindowModality(Qt::ApplicationModal);
  QLineEdit *field = Edit(this, 1);
  auto *arrows = FindControl<LittleArrows>(this, 2);
  if (!field || !arrows)
    return;
  loaded_ = true;
  SetEditTextCString(field, RotationAngleText(angle));
  field->setFocus();
  field->selectAll();
  connect(arrows, &LittleArrows::Stepped, this, [this, field](int part) {
    const float step = part == kControlDownButtonPart ? -1.0f : 1.0f;
    SetEditTextCString(field, RotationAngleText(ClampRotationAngle(std::fabs(GetEditTextFloat(field)) + step)));
  });
  ConnectPaneCommands(this, [this](uint32_t command) { return Command(command); });
}

float RotationAngleDialog::Angle() const { return ClampRotationAngle(GetEditTextFloat(Edit(this, 1))); }

OSStatus RotationAngleDialog::Command(uint32_t command) { return CloseOnOKOrCancel(*this, command, true, &userOK_); }

bool GetRotationAngle(float *angle) {
  RotationAngleDialog dialog(*angle);
  if (!dialog.Loaded())
    return false;
  RunAppModalDialog(dialog);
  *angle = dialog.Angle();
  return dialog.UserOK();
}

// ---- Object movie options ------------------------------------------------------------

std::string QTVRMovieSizeText(uint64_t bytes) {
  char text[64];
  if (bytes > 1048576)
    std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / 1048576.0);
  else if (bytes != 0)
    std::snprintf(text, sizeof text, "%ld kB", long(bytes / 1024));
  else
    std::snprintf(text, sizeof text, "---- kB");
  return text;
}

QTVRGrid QTVRPreviewGrid(const QRectF &bounds, uint32_t rows, uint32_t columns) {
  QTVRGrid grid;
  QRectF r(bounds.x() + 8, bounds.y() + 4, bounds.width() - 16, bounds.height() - 8);
  const double cell = columns ? r.width() / columns : 0.0;
  const double side = rows ? std::min(r.height() / rows, cell) : 0.0;
  if (side > 0) {
    r.setHeight(rows * side + 1);
    r.moveTop(bounds.y() + (bounds.height() - r.height()) / 2);
  }
  if (cell > 1) {
    r.setWidth(cell > 2 ? columns * side + 1 : 2.0 * columns + 1);
    r.moveLeft(bounds.x() + (bounds.width() - r.width()) / 2);
  }
  grid.outline = r;
  for (uint32_t i = 1; rows >= 2 && i < rows; ++i) {
    const double y = r.top() + r.height() / rows * i;
    grid.lines.emplace_back(r.left(), y, r.right(), y);
  }
  for (uint32_t i = 1; columns >= 2 && i < columns; ++i) {
    const double x = r.left() + r.width() / columns * i;
    grid.lines.emplace_back(x, r.top(), x, r.bottom());
  }
  return grid;
}

namespace {

constexpr int kFramesText = 1, kSizeText = 2, kStartVPan = 3, kEndVPan = 4, kRows = 5, kStartHPan = 6,
              kEndHPan = 7, kColumns = 8, kPreview = 9, kModelImage = 13;

// Paints the grid of views into the preview view.
class PreviewPainter : public QObject {
public:
  using QObject::QObject;
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() != QEvent::Paint)
      return false;
    auto *view = static_cast<QWidget *>(watched);
    QPainter p(view);
    p.fillRect(view->rect(), Qt::black);
    const QTVRGrid grid = QTVRPreviewGrid(QRectF(view->rect()), gQTVROptions.rows, gQTVROptions.columns);
    p.setPen(QPen(QColor::fromRgbF(0.375f, 0.5625f, 0.75f), 1));
    p.drawRect(grid.outline);
    for (const QLineF &line : grid.lines)
      p.drawLine(line);
    return true;
  }
};

} // namespace

QTVROptionsDialog::QTVROptionsDialog(QWidget *parent) : QDialog(parent) {
  static Ui::QTVROptions form;
  form.setupUi(this);
  setWindowModality(Qt::ApplicationModal);
  for (int id : {kFramesText, kSizeText, kStartVPan, kEndVPan, kRows, kStartHPan, kEndHPan, kColumns, kPreview,
                 kModelImage})
    if (!FindControl(this, id))
      return;
  const QTVROptions &o = gQTVROptions;
  SetEditTextFormat(Edit(this, kStartVPan), "%.1f", o.startVPan);
  SetEditTextFormat(Edit(this, kEndVPan), "%.1f", o.endVPan);
  SetEditTextFormat(Edit(this, kRows), "%.0f", o.rows);
  SetEditTextFormat(Edit(this, kStartHPan), "%.1f", o.startHPan);
  SetEditTextFormat(Edit(this, kEndHPan), "%.1f", o.endHPan);
  SetEditTextFormat(Edit(this, kColumns), "%.0f", o.columns);
  GetQTVRMovieSize();
  const QImage model = MyLoadPictureResourceIntoImageRef("QTVR_Model.png");
  if (model.isNull()) {
    std::fputs("An error occurred\n", stderr);
    return;
  }
  FindControl<QLabel>(this, kModelImage)->setPixmap(QPixmap::fromImage(model));
  FindControl(this, kPreview)->installEventFilter(new PreviewPainter(this));
  for (int id : {kStartVPan, kEndVPan, kRows, kStartHPan, kEndHPan, kColumns})
    connect(Edit(this, id), &QLineEdit::textEdited, this, [this, id] { FieldEdited(id); });
  ConnectPaneCommands(this, [this](uint32_t command) { return Command(command); });
  Edit(this, kStartVPan)->setFocus();
  loaded_ = true;
}

void QTVROptionsDialog::FieldEdited(int id) {
  if (id == kRows)
    gQTVROptions.rows = uint32_t(std::max<int32_t>(0, GetEditTextLong(Edit(this, kRows))));
  else
    gQTVROptions.columns = uint32_t(std::max<int32_t>(0, GetEditTextLong(Edit(this, kColumns))));
  GetQTVRMovieSize();
  FindControl(this, kPreview)->repaint();
}

void QTVROptionsDialog::GetQTVRMovieSize() {
  QTVROptions &o = gQTVROptions;
  o.rows = std::max<uint32_t>(o.rows, 1);
  o.columns = std::max<uint32_t>(o.columns, 1);
  o.frames = o.rows * o.columns;
  FindControl<QLabel>(this, kFramesText)->setText(QString::number(o.frames));
  if (gCompressedImageSize == 0)
    if (WindowRef window = FrontGraphWindow())
      if (const OVImageHandle image = GetWindowOffScreen(window))
        gCompressedImageSize = CompressedImageSize(OffScreenPixels(image));
  // Sixty-four bits: a large grid of large frames does not wrap around.
  o.movieSize = uint64_t(gCompressedImageSize) * o.frames;
  FindControl<QLabel>(this, kSizeText)->setText(QString::fromStdString(QTVRMovieSizeText(o.movieSize)));
}

bool QTVROptionsDialog::ValidQTVROptions() {
  QTVROptions &o = gQTVROptions;
  o.startVPan = GetEditTextFloat(Edit(this, kStartVPan));
  o.endVPan = GetEditTextFloat(Edit(this, kEndVPan));
  o.startHPan = GetEditTextFloat(Edit(this, kStartHPan));
  o.endHPan = GetEditTextFloat(Edit(this, kEndHPan));
  auto fail = [this](const char *message, int field) {
    MyCFStopAlert(message);
    Edit(this, field)->setFocus();
    Edit(this, field)->selectAll();
    return false;
  };
  if (o.rows == 0)
    return fail("No rows!", kRows);
  if (o.rows >= 2 && o.startVPan == o.endVPan)
    return fail("Multiple rows require different Start and End VPan values!", kEndVPan);
  if (o.columns == 0)
    return fail("No columns!", kColumns);
  if (o.columns >= 2 && o.startHPan == o.endHPan)
    return fail("Multiple columns require different Start and End HPan values!", kEndHPan);
  return true;
}

OSStatus QTVROptionsDialog::Command(uint32_t command) {
  if (command == FourCharsToLong("Help")) {
    MyOpenHelpPage("pages/QTVROptions.html");
    return kEventNotHandledErr;
  }
  if (command == FourCharsToLong("ok  ") && !ValidQTVROptions())
    return kNoErr;
  return CloseOnOKOrCancel(*this, command, true, &userOK_);
}

bool GetQTVROptions() {
  QTVROptionsDialog dialog;
  // A dialog that cannot be made answers no, never an earlier run's yes.
  if (!dialog.Loaded())
    return false;
  RunAppModalDialog(dialog);
  return dialog.UserOK();
}

// ---- The rotation-angle menu ---------------------------------------------------------

namespace {

struct AnglePreset {
  uint32_t command;
  float angle;
};
const AnglePreset kAnglePresets[] = {
    {kCmdRotationAngle1, 1.0f},   {kCmdRotationAngle2, 2.0f},   {kCmdRotationAngle5, 5.0f},
    {kCmdRotationAngle10, 10.0f}, {kCmdRotationAngle15, 15.0f}, {kCmdRotationAngle30, 30.0f},
    {kCmdRotationAngle45, 45.0f}, {kCmdRotationAngle90, 90.0f}};

} // namespace

void InstallAngleDialogs() {
  static bool installed = false;
  if (installed)
    return;
  installed = true;
  AddCommandHandler(
      [](uint32_t command, const QVariant &) {
        for (const AnglePreset &p : kAnglePresets)
          if (command == p.command) {
            gRotatorAngle = p.angle;
            return kNoErr;
          }
        if (command != kCmdRotationAngleOther)
          return kEventNotHandledErr;
        float angle = gRotatorAngle;
        if (GetRotationAngle(&angle))
          gRotatorAngle = angle;
        return kNoErr;
      },
      [](uint32_t command, QAction *action) {
        for (const AnglePreset &p : kAnglePresets)
          if (command == p.command) {
            action->setCheckable(true);
            action->setChecked(gRotatorAngle == p.angle);
            return kNoErr;
          }
        if (command != kCmdRotationAngleOther)
          return kEventNotHandledErr;
        bool preset = false;
        for (const AnglePreset &p : kAnglePresets)
          preset = preset || gRotatorAngle == p.angle;
        action->setCheckable(true);
        action->setChecked(!preset);
        return kNoErr;
      });
  MovieHooks &hooks = GetMovieHooks();
  hooks.getQTVROptions = [](QTVROptions &) { return GetQTVROptions(); };
}
