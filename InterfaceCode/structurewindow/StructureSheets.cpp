#include "StructureSheets.h"

#include "MainWindow.h"
#include "SmallSheet.h"
#include "shell/Commands.h"
#include "shell/Forms.h"
#include "ui_CopyGraphics.h"
#include "ui_InsertSpace.h"

#include "Alerts.h"
#include "export/PictureServices.h"
#include "window/MainWindowData.h"

#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <algorithm>
#include <cmath>
#include <cstdio>

float gScaleOutputPercent = 100.0f;
StructureSheetHooks gStructureSheetHooks;

namespace {

constexpr uint32_t kCmdCopyGraphics = FourCharsToLong("CpGr");

QString Format(const char *format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return QString::fromUtf8(text);
}

// The number at the start of a field ("800 px", "200%").
double Number(const QLineEdit *field) {
  QString text = field->text().trimmed();
  text.remove(QRegularExpression("[^0-9.eE+-].*$"));
  return text.toDouble();
}

class CopyGraphicsSheet : public SmallSheet {
public:
  CopyGraphicsSheet(WindowRef window, QWidget *parent, int width, int height)
      : SmallSheet(parent), window_(window), imageWidth_(width), imageHeight_(height) {
    ui_.setupUi(this);
    Field(4)->setText(Format("%.0f%%", gScaleOutputPercent));
    Field(6)->setText(Format("%.0f px", imageWidth_ * gScaleOutputPercent / 100.0));
    Field(8)->setText(Format("%.0f px", imageHeight_ * gScaleOutputPercent / 100.0));
    JoinButtonsAndArrows({5, 7, 9});
    for (int id : {4, 6, 8})
      connect(Field(id), &QLineEdit::textEdited, this, [this, id] { UpdateTextWithControl(this, Field(id)); });
  }

  QLineEdit *Field(int id) { return FindControl<QLineEdit>(this, id); }

  void Update(int id) {
    const double value = Number(Field(id));
    if (!(value > 0.0) || imageWidth_ < 1 || imageHeight_ < 1)
      return;
    const double aspect = double(imageWidth_) / imageHeight_;
    double scale = 0, width = 0, height = 0;
    switch (id) {
    case 4:
      scale = value;
      width = imageWidth_ * value / 100.0;
      height = imageHeight_ * value / 100.0;
      break;
    case 6:
      width = value;
      height = value / aspect;
      scale = value * 100.0 / imageWidth_;
      break;
    case 8:
      height = value;
      width = value * aspect;
      scale = value * 100.0 / imageHeight_;
      break;
    default:
      return;
    }
    if (id != 4)
      Field(4)->setText(Format("%.0f%%", scale));
    if (id != 6)
      Field(6)->setText(Format("%.0f px", width));
    if (id != 8)
      Field(8)->setText(Format("%.0f px", height));
  }

  int32_t SheetCommand(uint32_t command) override {
    switch (command) {
    case kCmdSheetHelp:
      MyOpenHelpPage("pages/CopyGraphicsSheet.html");
      return kNoErr;
    case kCmdSheetOk: {
      const long width = std::lround(std::trunc(Number(Field(6))));
      const long height = std::lround(std::trunc(Number(Field(8))));
      if (width < 1 || height < 1 || width > kMaxCopyGraphicsSide || height > kMaxCopyGraphicsSide) {
        char limit[128];
        std::snprintf(limit, sizeof limit, "Width and height must lie between 1 and %d pixels.", kMaxCopyGraphicsSide);
        MyCFCautionAlert("Please enter a valid picture size", limit);
        return kNoErr;
      }
      gScaleOutputPercent = static_cast<float>(Number(Field(4)));
      WindowRef window = window_;
      hide();
      CopyPixelImageToPasteboard(window, static_cast<int>(width), static_cast<int>(height));
      close();
      return kNoErr;
    }
    default:
      return kEventNotHandledErr;
    }
  }

protected:
  void Arrow(int id, int step) override {
    const int field = id - 1;
    const double value = Number(Field(field)) + step;
    if (!(value > 0.0))
      return;
    Field(field)->setText(Format(field == 4 ? "%.0f%%" : "%.0f px", value));
    Update(field);
  }
  void keyPressEvent(QKeyEvent *e) override {
    QDialog::keyPressEvent(e);
    for (int id : {4, 6, 8})
      if (Field(id)->hasFocus())
        Update(id);
  }

private:
  WindowRef window_;
  int imageWidth_, imageHeight_;
  Ui::CopyGraphics ui_;
};

class InsertSpaceSheet : public SmallSheet {
public:
  InsertSpaceSheet(WindowRef window, QWidget *parent, float initialWidth, float minimumWidth)
      : SmallSheet(parent), window_(window), minimum_(minimumWidth) {
    ui_.setupUi(this);
    Field()->setText(Format("%.2f", initialWidth));
    JoinButtonsAndArrows({2});
  }
  QLineEdit *Field() { return FindControl<QLineEdit>(this, 1); }

  int32_t SheetCommand(uint32_t command) override {
    if (command == kCmdSheetOk) {
      bool ok = false;
      const float width = Field()->text().trimmed().toFloat(&ok);
      if (!ok || !(width > minimum_)) {
        char explanation[96];
        std::snprintf(explanation, sizeof explanation, "Width must be greater than %.2f Å", minimum_);
        MyCFCautionAlert("Please enter a valid width", explanation);
        return kNoErr;
      }
      WindowRef window = window_;
      close();
      // The window may have gone while the sheet was up.
      if (gStructureSheetHooks.insertSpace && GetMainWindow(window))
        gStructureSheetHooks.insertSpace(window, width);
      return kNoErr;
    }
    return kEventNotHandledErr;
  }

protected:
  void Arrow(int, int step) override {
    float value = std::fabs(Field()->text().trimmed().toFloat()) + step * kInsertSpaceStep;
    value = std::clamp(value, kInsertSpaceMinWidth, kInsertSpaceMaxWidth);
    Field()->setText(Format("%.2f", value));
  }

private:
  WindowRef window_;
  float minimum_;
  Ui::InsertSpace ui_;
};

} // namespace

QDialog *ShowCopyGraphicsSheet(WindowRef window) {
  MainWindow *w = GetMainWindow(window);
  if (!w || !IsWindowFileOpen(window) || !GetWindowCrystal(window))
    return nullptr;
  Rect bounds;
  GetWindowOffBounds(window, &bounds);
  auto *sheet = new CopyGraphicsSheet(window, w, bounds.Width(), bounds.Height());
  sheet->open();
  sheet->Field(4)->setFocus();
  SetCocoaCursor(kArrowCursor);
  return sheet;
}

void UpdateTextWithControl(QDialog *sheet, QWidget *control) {
  if (auto *s = dynamic_cast<CopyGraphicsSheet *>(sheet))
    s->Update(ControlID(control));
}

QDialog *ShowInsertSpaceSheet(WindowRef window, float initialWidth, float minimumWidth) {
  MainWindow *w = GetMainWindow(window);
  if (!w)
    return nullptr;
  auto *sheet = new InsertSpaceSheet(window, w, initialWidth, minimumWidth);
  sheet->open();
  sheet->Field()->setFocus();
  SetCocoaCursor(kArrowCursor);
  return sheet;
}

int32_t StructureSheetCommand(QDialog *sheet, uint32_t command) {
  auto *s = dynamic_cast<SmallSheet *>(sheet);
  return s ? s->Command(command) : kEventNotHandledErr;
}

void InstallStructureSheetCommands() {
  AddCommandHandler(
      [](uint32_t command, const QVariant &) -> OSStatus {
        if (command != kCmdCopyGraphics)
          return kEventNotHandledErr;
        ShowCopyGraphicsSheet(FrontGraphWindow());
        return kNoErr;
      },
      [](uint32_t command, QAction *action) -> OSStatus {
        if (command != kCmdCopyGraphics)
          return kEventNotHandledErr;
        action->setEnabled(IsWindowFileOpen(FrontGraphWindow()));
        return kNoErr;
      });
}
