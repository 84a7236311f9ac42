#include "export/MovieWindows.h"

#include "shell/Commands.h"
#include "shell/Forms.h"
#include "structurewindow/StructureWindow.h"
#include "ui_RotationMovie.h"
#include "ui_VideoRecorder.h"

#include "Preferences.h"
#include "export/MovieRecording.h"
#include "export/QTVRMovie.h"
#include "export/VideoRecorder.h"
#include "render/OffScreen.h"
#include "window/MainWindowData.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>

#include <cstdio>

namespace {

constexpr uint32_t kCmdOK = FourCharsToLong("ok  ");
constexpr uint32_t kCmdCancel = FourCharsToLong("not!");

// "%f" with its trailing zeros (and a bare point) trimmed.
QString TrimmedNumber(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%f", v);
  QString s = QString::fromLatin1(text);
  while (s.contains('.') && (s.endsWith('0') || s.endsWith('.'))) {
    const bool point = s.endsWith('.');
    s.chop(1);
    if (point)
      break;
  }
  return s;
}

QString Printed(const char *format, double v) {
  char text[64];
  std::snprintf(text, sizeof text, format, v);
  return QString::fromLatin1(text);
}

// The little arrows are spin boxes held at 0; a step reports its direction.
void WatchArrows(QSpinBox *arrows, const std::function<void(bool down)> &step) {
  arrows->setValue(0);
  QObject::connect(arrows, &QSpinBox::valueChanged, arrows, [arrows, step](int v) {
    if (v == 0)
      return;
    const QSignalBlocker block(arrows);
    arrows->setValue(0);
    step(v < 0);
  });
}

// Our own button pictures: record dot, pause bars, stop square,
// compression squeeze, QTVR globe, linear strip.
QIcon ButtonPicture(int controlID) {
  QPixmap pixmap(24, 24);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(60, 60, 60));
  switch (controlID) {
  case 1:
    p.setBrush(QColor(200, 30, 30));
    p.drawEllipse(QRectF(5, 5, 14, 14));
    break;
  case 2:
    p.drawRect(QRectF(6, 5, 4, 14));
    p.drawRect(QRectF(14, 5, 4, 14));
    break;
  case 3:
    p.drawRect(QRectF(6, 6, 12, 12));
    break;
  case 5:
    p.drawPolygon(QPolygonF({QPointF(3, 5), QPointF(11, 12), QPointF(3, 19)}));
    p.drawPolygon(QPolygonF({QPointF(21, 5), QPointF(13, 12), QPointF(21, 19)}));
    break;
  case 6:
    p.setPen(QPen(QColor(60, 60, 60), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(4, 4, 16, 16));
    p.drawEllipse(QRectF(9, 4, 6, 16));
    p.drawLine(QPointF(4, 12), QPointF(20, 12));
    break;
  case 7:
    for (int x = 3; x < 21; x += 6)
      p.drawRect(QRectF(x, 7, 4, 10));
    break;
  default:
    break;
  }
  return QIcon(pixmap);
}

VideoRecorderWindow *gVideoWindow = nullptr;

// Our compression settings dialog: codec, quality, depth, and the size of
// one frame compressed with them.
bool RunCompressionDialog(SpatialSettings &settings,
                          const std::function<uint32_t(const SpatialSettings &)> &frameSize) {
  QDialog dialog;
  dialog.setWindowTitle(QObject::tr("Compression Settings"));
  auto *form = new QFormLayout(&dialog);
  auto *codec = new QComboBox;
  const uint32_t codecs[] = {ovmovie::kCodecAnimation, ovmovie::kCodecPhotoJPEG, ovmovie::kCodecPNG};
  for (uint32_t c : codecs)
    codec->addItem(QString::fromLatin1(ovmovie::CompressorName(c)), c);
  codec->setCurrentIndex(std::max(0, codec->findData(settings.codecType)));
  auto *quality = new QSlider(Qt::Horizontal);
  quality->setRange(0, 1024);
  quality->setValue(int(settings.spatialQuality));
  auto *depth = new QComboBox;
  depth->addItem(QObject::tr("Millions of Colours"), 24);
  depth->addItem(QObject::tr("Millions of Colours+"), 32);
  depth->setCurrentIndex(settings.depth == 24 ? 0 : 1);
  auto *size = new QLabel;
  form->addRow(QObject::tr("Compressor:"), codec);
  form->addRow(QObject::tr("Quality:"), quality);
  form->addRow(QObject::tr("Depth:"), depth);
  form->addRow(QObject::tr("One frame:"), size);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  form->addRow(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto read = [&] {
    SpatialSettings s = settings;
    s.codecType = codec->currentData().toUInt();
    s.spatialQuality = uint32_t(quality->value());
    s.depth = int16_t(depth->currentData().toInt());
    return s;
  };
  auto update = [&] { size->setText(QString::fromStdString(VideoDataSizeText(frameSize(read())))); };
  QObject::connect(codec, &QComboBox::currentIndexChanged, &dialog, update);
  QObject::connect(quality, &QSlider::sliderReleased, &dialog, update);
  QObject::connect(depth, &QComboBox::currentIndexChanged, &dialog, update);
  update();
  if (dialog.exec() != QDialog::Accepted)
    return false;
  settings = read();
  return true;
}

} // namespace

// ---- Rotation movie options ----------------------------------------------------

RotationMovieDialog::RotationMovieDialog(QWidget *parent) : QDialog(parent), ui_(new Ui::RotationMovie) {
  ui_->setupUi(this);
  setWindowModality(Qt::ApplicationModal);
  setAttribute(Qt::WA_DeleteOnClose);
  SetDefaultRotationMovieSettings();
  WatchArrows(ui_->framesArrows, [this](bool down) { ArrowPressed(4, down); });
  WatchArrows(ui_->durationArrows, [this](bool down) { ArrowPressed(9, down); });
  connect(ui_->framesField, &QLineEdit::textEdited, this, &RotationMovieDialog::UpdateSubtext);
  connect(ui_->durationField, &QLineEdit::textEdited, this, &RotationMovieDialog::UpdateSubtext);
  connect(ui_->okButton, &QPushButton::clicked, this, [this] { Command(kCmdOK); });
  connect(ui_->cancelButton, &QPushButton::clicked, this, [this] { Command(kCmdCancel); });
  connect(ui_->compressionButton, &QPushButton::clicked, this, [this] { Command(kCmdMovieOptions); });
}

RotationMovieDialog::~RotationMovieDialog() = default;

QWidget *RotationMovieDialog::Control(int controlID) const {
  return FindControl(const_cast<RotationMovieDialog *>(this), controlID);
}

double RotationMovieDialog::Frames() const { return ui_->framesField->text().trimmed().toDouble(); }
double RotationMovieDialog::Duration() const { return ui_->durationField->text().trimmed().toDouble(); }

void RotationMovieDialog::SetDefaultRotationMovieSettings() {
  const double frames = gPrefs.movieFrames;
  const double rate = gPrefs.movieFrameRate > 0 ? gPrefs.movieFrameRate : 1;
  ui_->durationField->setText(TrimmedNumber(frames / rate));
  ui_->framesField->setText(Printed("%.0f", frames));
  ui_->loopBox->setChecked(gPrefs.movieLoop);
  ui_->playAllBox->setChecked(gPrefs.moviePlayAll);
  UpdateSubtext();
}

void RotationMovieDialog::UpdateSubtext() {
  const double n = Frames(), d = Duration();
  ui_->intervalText->setText(QString::fromStdString(RotationIntervalText(n)));
  ui_->rateText->setText(QString::fromStdString(RotationFrameRateText(n, d)));
  ui_->okButton->setEnabled(RotationSettingsValid(n, d));
}

bool RotationMovieDialog::SaveRotationMovieSettings() {
  return SaveRotationMovieValues(Frames(), Duration(), ui_->loopBox->isChecked(), ui_->playAllBox->isChecked());
}

void RotationMovieDialog::ArrowPressed(int controlID, bool down) {
  if (controlID == 4) {
    if (auto next = StepRotationFrames(Frames(), down))
      ui_->framesField->setText(Printed("%.0f", *next));
  } else if (controlID == 9) {
    if (auto next = StepRotationDuration(Duration(), down))
      ui_->durationField->setText(Printed("%.1f", *next));
  }
  UpdateSubtext();
}

void RotationMovieDialog::Command(uint32_t command) {
  if (command == kCmdMovieOptions) {
    SaveRotationMovieSettings();
    GetVideoSettingsForGraphicsWindow(FrontGraphWindow());
    SetDefaultRotationMovieSettings();
  } else if (command == kCmdOK) {
    const bool record = SaveRotationMovieSettings();
    hide();
    if (record)
      DoExportRotationMovie(FrontGraphWindow());
    close();
  } else if (command == kCmdCancel) {
    close();
  }
}

RotationMovieDialog *GetRotationMovieOptions() {
  auto *dialog = new RotationMovieDialog;
  dialog->open();
  return dialog;
}

// ---- Video recorder ----------------------------------------------------------------

VideoRecorderWindow::VideoRecorderWindow() : QWidget(nullptr, Qt::Tool), ui_(new Ui::VideoRecorder) {
  ui_->setupUi(this);
  const std::pair<QToolButton *, uint32_t> buttons[] = {
      {ui_->recordButton, kCmdVideoRecord},     {ui_->pauseButton, kCmdVideoPause},
      {ui_->stopButton, kCmdVideoStop},         {ui_->compressionButton, kCmdVideoCompression},
      {ui_->qtvrButton, kCmdVideoQTVR},         {ui_->linearButton, kCmdVideoLinear}};
  for (auto [button, command] : buttons) {
    button->setIcon(ButtonPicture(ControlID(button)));
    button->setIconSize(QSize(24, 24));
    connect(button, &QToolButton::clicked, this, [this, command = command] {
      VideoRecorderCommand(command);
      Refresh();
    });
  }
  ui_->display->installEventFilter(this);
  Refresh();
}

VideoRecorderWindow::~VideoRecorderWindow() = default;

QWidget *VideoRecorderWindow::Control(int controlID) const {
  return FindControl(const_cast<VideoRecorderWindow *>(this), controlID);
}

void VideoRecorderWindow::Refresh() {
  const VideoRecorderButtons &b = gVideoRecorderButtons;
  ui_->recordButton->setChecked(b.recordDown);
  ui_->pauseButton->setChecked(b.pauseDown);
  ui_->pauseButton->setEnabled(b.pauseEnabled);
  ui_->pauseButton->setVisible(!gIsVRMovie); // a QTVR grid cannot pause
  ui_->stopButton->setEnabled(b.stopEnabled);
  ui_->qtvrButton->setChecked(gIsVRMovie);
  ui_->linearButton->setChecked(!gIsVRMovie);
  for (QToolButton *button : {ui_->compressionButton, ui_->qtvrButton, ui_->linearButton})
    button->setEnabled(b.modeEnabled);
  ui_->display->update();
}

void VideoRecorderWindow::closeEvent(QCloseEvent *event) {
  hide(); // kept for the next show; recording goes on
  event->ignore();
}

bool VideoRecorderWindow::eventFilter(QObject *watched, QEvent *event) {
  if (watched == ui_->display && event->type() == QEvent::Paint) {
    DrawVideoDisplay(ui_->display);
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void VideoRecorderWindow::DrawVideoDisplay(QWidget *view) {
  QPainter p(view);
  const QRectF r = view->rect();
  p.fillRect(r, Qt::black);
  const QColor ink = QColor::fromRgbF(0.375f, 0.5625f, 0.75f);
  p.setPen(ink);
  QFont small(QStringLiteral("DejaVu Sans"), 8);
  const QString size = QString::fromStdString(VideoDataSizeText(gMovieSize ? gMovieSize : gCompressedImageSize));
  if (gIsVRMovie) {
    const QRectF grid = r.adjusted(4, 4, -60, -4);
    const uint32_t rows = std::max<uint32_t>(1, gQTVROptions.rows);
    const uint32_t columns = std::max<uint32_t>(1, gQTVROptions.columns);
    const double w = grid.width() / columns, h = grid.height() / rows;
    for (uint32_t i = 0; i < std::min(gFrameNum, rows * columns); ++i)
      p.fillRect(QRectF(grid.left() + (i % columns) * w, grid.top() + (i / columns) * h, w, h),
                 QColor(255, 255, 255, 128));
    p.drawRect(grid);
    for (uint32_t c = 1; c < columns; ++c)
      p.drawLine(QPointF(grid.left() + c * w, grid.top()), QPointF(grid.left() + c * w, grid.bottom()));
    for (uint32_t row = 1; row < rows; ++row)
      p.drawLine(QPointF(grid.left(), grid.top() + row * h), QPointF(grid.right(), grid.top() + row * h));
    p.setFont(small);
    p.drawText(r.adjusted(0, 0, -4, -4), Qt::AlignRight | Qt::AlignBottom, size);
    return;
  }
  QFont big(QStringLiteral("DejaVu Sans"), 18, QFont::Bold);
  p.setFont(big);
  p.drawText(r.adjusted(6, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
             QString::fromStdString(VideoFrameCountText(gFrameNum)));
  p.setFont(small);
  p.drawText(r.adjusted(0, 4, -4, 0), Qt::AlignRight | Qt::AlignTop,
             QString::fromStdString(VideoElapsedTimeText(gFrameNum, gFrameDuration)));
  p.drawText(r.adjusted(0, 0, -4, -4), Qt::AlignRight | Qt::AlignBottom, size);
}

VideoRecorderWindow *VideoWindow() { return gVideoWindow; }

VideoRecorderWindow *DoShowVideoWindow() {
  if (!gVideoWindow) {
    InitializeVideoRecording();
    gVideoWindow = new VideoRecorderWindow;
  }
  gVideoWindow->show();
  gVideoWindow->raise();
  gVideoWindow->activateWindow();
  return gVideoWindow;
}

// ---- Commands ------------------------------------------------------------------------

namespace {

OSStatus MovieCommand(uint32_t command, const QVariant &) {
  if (command == kCmdExportRotationMovie) {
    GetRotationMovieOptions();
    return kNoErr;
  }
  if (command == kCmdExportQTVRMovie) {
    DoExportQTVRMovie(FrontGraphWindow());
    return kNoErr;
  }
  if (command == kCmdShowVideoRecorder) {
    DoShowVideoWindow();
    return kNoErr;
  }
  return kEventNotHandledErr;
}

OSStatus MovieCommandStatus(uint32_t command, QAction *action) {
  if (command != kCmdExportRotationMovie && command != kCmdExportQTVRMovie && command != kCmdShowVideoRecorder)
    return kEventNotHandledErr;
  WindowRef front = FrontGraphWindow();
  const bool structure = front && IsWindowFileOpen(front);
  action->setEnabled(command == kCmdShowVideoRecorder || (structure && !gRecordingVideo && !MovieIsRolling()));
  return kNoErr;
}

void StopRecordingForWindow(WindowRef window) {
  if (MovieIsRolling() && createMovie.window == window)
    DoStopRecordingVideo();
}

} // namespace

void InstallMovieCommands() {
  AddCommandHandler(MovieCommand, MovieCommandStatus);
  MovieHooks hooks;
  hooks.compressionDialog = RunCompressionDialog;
  hooks.videoWindowVisible = [] { return gVideoWindow && gVideoWindow->isVisible(); };
  hooks.refreshVideoWindow = [] {
    if (gVideoWindow)
      gVideoWindow->Refresh();
  };
  // The recorder's Stop can be pressed while a grid records.
  hooks.processEvents = [] { QCoreApplication::processEvents(); };
  hooks.holdWindowSize = HoldGraphWindowSize;
  SetMovieHooks(std::move(hooks));
  gStructureWindowHooks.stopRecordingVideo = StopRecordingForWindow;
}
