#include "QtHostServices.h"
#include "overview/OverviewWindow.h"
#include "browsers/SiteBrowserView.h"
#include "browsers/SiteCommands.h"
#include "inspectors/ModelOptions.h"
#include "inspectors/PlotRangeWindow.h"

#include "ShellDialogs.h"
#include "Toolbars.h"
#include "StatusWindow.h"
#include "LongCommand.h"
#include "SiteAppearance.h"
#include "StructureRecord.h"
#include "export/GraphicsSaveDialog.h"
#include "explorers/DistanceExplorer.h"
#include "structurewindow/AtomPicker.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "HelpCommands.h"
#include <QUrl>
#include <QAbstractButton>
#include <QApplication>
#include <QColorDialog>
#include <QToolTip>
#include <QCursor>
#include "ToolCursors.h"
#include "structurewindow/EditAnnotation.h"
#include <QFileDialog>
#include <QImageReader>
#include <QDir>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdlib>

QtHostServices::QtHostServices() {
  clock_.start();
  closeFlush_ = new QTimer(this);
  closeFlush_->setSingleShot(true);
  connect(closeFlush_, &QTimer::timeout, this, &QtHostServices::FlushDeferredCloses);
  if (qApp) {
    qApp->installEventFilter(this);
    // The status window goes while the application can still take it down.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { delete status_; });
  }
}

QtHostServices::~QtHostServices() {
  if (qApp)
    qApp->removeEventFilter(this);
  delete status_;
}

void QtHostServices::AttachLog(LogSink sink, std::function<bool()> showing) {
  logSink_ = std::move(sink);
  logShowing_ = std::move(showing);
}

void QtHostServices::SetWindowList(std::function<std::vector<WindowRef>()> list) { windowList_ = std::move(list); }

void QtHostServices::SetWindowLookup(std::function<MainWindow *(WindowRef)> lookup) {
  windowLookup_ = std::move(lookup);
}

void QtHostServices::SetSubtitleDrawer(std::function<void(WindowRef, std::string_view)> drawer) {
  subtitleDrawer_ = std::move(drawer);
}

void QtHostServices::SetFloatingWindowUpdater(std::function<void()> updater) { floatingUpdater_ = std::move(updater); }

std::vector<std::string> QtHostServices::UnwiredHooks() const {
  std::vector<std::string> names;
  if (!windowList_)
    names.emplace_back("window list");
  if (!windowLookup_)
    names.emplace_back("window lookup");
  if (!subtitleDrawer_)
    names.emplace_back("subtitle drawer");
  if (!floatingUpdater_)
    names.emplace_back("floating-window updater");
  return names;
}

void QtHostServices::ReportUnwired(const char *hook) { qCritical("host hook not installed: %s", hook); }

void QtHostServices::LogAppend(std::string_view text, const RGBColor &colour, size_t colouredBytes) {
  if (logSink_)
    logSink_(text, colour, colouredBytes);
}

void QtHostServices::StatusShow(std::string_view message, float percent) {
  if (!status_)
    status_ = new StatusWindow();
  status_->Show(QString::fromUtf8(message.data(), qsizetype(message.size())), percent);
}

// The window is kept, hidden, for the next report, and goes with the host:
// none outlives the host that showed it (a window left to a later turn of the
// event loop would wait for one that may never come).
void QtHostServices::StatusHide() {
  if (status_)
    status_->hide();
}

int QtHostServices::RunAlert(const AlertRequest &alert) {
  QMessageBox box;
  switch (alert.type) {
  case kAlertStopAlert:
    box.setIcon(QMessageBox::Critical);
    break;
  case kAlertCautionAlert:
    box.setIcon(QMessageBox::Warning);
    break;
  case kAlertNoteAlert:
    box.setIcon(QMessageBox::Information);
    break;
  }
  box.setText(QString::fromStdString(alert.message));
  if (!alert.explanation.empty())
    box.setInformativeText(QString::fromStdString(alert.explanation));
  std::vector<QAbstractButton *> buttons;
  for (size_t i = 0; i < alert.buttons.size(); ++i) {
    QMessageBox::ButtonRole role = i == 0   ? QMessageBox::AcceptRole
                                   : i == 1 ? QMessageBox::RejectRole
                                            : QMessageBox::DestructiveRole;
    buttons.push_back(box.addButton(QString::fromStdString(alert.buttons[i]), role));
  }
  if (!buttons.empty())
    box.setDefaultButton(static_cast<QPushButton *>(buttons.front()));
  if (alert.cancelButton >= 1 && size_t(alert.cancelButton) <= buttons.size())
    box.setEscapeButton(buttons[size_t(alert.cancelButton) - 1]);
  box.exec();
  for (size_t i = 0; i < buttons.size(); ++i)
    if (box.clickedButton() == buttons[i])
      return int(i) + 1;
  return alert.cancelButton > 0 ? alert.cancelButton : 1;
}

void QtHostServices::TerminateProgram(int code) { std::_Exit(code ? 1 : 0); }

WindowRef QtHostServices::FrontGraphWindow() {
  std::vector<WindowRef> list = StructureWindows();
  return list.empty() ? nullptr : list.front();
}

std::vector<WindowRef> QtHostServices::StructureWindows() {
  if (!windowList_)
    return ReportUnwired("window list"), std::vector<WindowRef>{};
  return windowList_();
}

void QtHostServices::DrawWindowSubtitle(WindowRef window, std::string_view text) {
  if (subtitleDrawer_)
    subtitleDrawer_(window, text);
  else
    ReportUnwired("subtitle drawer");
}

void QtHostServices::RepaintGraphPane(WindowRef window) {
  if (MainWindow *w = StructureWindow(window))
    w->GraphPane()->update();
}

MainWindow *QtHostServices::StructureWindow(WindowRef window) {
  if (!windowLookup_) {
    ReportUnwired("window lookup");
    return nullptr;
  }
  return window ? windowLookup_(window) : nullptr;
}

bool QtHostServices::GraphBounds(WindowRef window, Rect *bounds) {
  MainWindow *w = StructureWindow(window);
  if (!w || !bounds)
    return false;
  QRect r = w->GraphPane()->geometry();
  bounds->top = static_cast<int16_t>(r.top());
  bounds->left = static_cast<int16_t>(r.left());
  bounds->bottom = static_cast<int16_t>(r.top() + r.height());
  bounds->right = static_cast<int16_t>(r.left() + r.width());
  return true;
}

std::string QtHostServices::WindowTitle(WindowRef window) {
  MainWindow *w = StructureWindow(window);
  return w ? PlainWindowTitle(w).toStdString() : std::string();
}

void QtHostServices::ShowWindow(WindowRef window) {
  if (MainWindow *w = StructureWindow(window))
    w->show();
}

void QtHostServices::CloseWindow(WindowRef window) {
  if (StructureWindow(window))
    CloseMainWindow(window);
}

void QtHostServices::DrawRulers(WindowRef window) {
  if (MainWindow *w = StructureWindow(window); w && !w->Ruler()->isHidden())
    w->Ruler()->update();
}

bool QtHostServices::MouseButtonDown() {
  return QGuiApplication::mouseButtons() != Qt::NoButton && pressedWindow_ && pressedWindow_->isVisible();
}

bool QtHostServices::CheckForUserCancel() {
  // One pass of the event loop without waiting: the cancel key reaches the
  // filter, windows repaint and timers fire, while the filter keeps every
  // other user input away from the windows.
  if (!insideCancelCheck_) {
    insideCancelCheck_ = true;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    insideCancelCheck_ = false;
  }
  // A long command counts only the keys pressed since it began.
  uint64_t commandStart = 0;
  bool seen = cancelSeen_ && !(LongCommandStart(&commandStart) && cancelSeenAt_ < commandStart);
  cancelSeen_ = false;
  return seen;
}

namespace {

bool IsUserInput(QEvent::Type type) {
  switch (type) {
  case QEvent::KeyPress:
  case QEvent::KeyRelease:
  case QEvent::ShortcutOverride:
  case QEvent::Shortcut:
  case QEvent::MouseButtonPress:
  case QEvent::MouseButtonRelease:
  case QEvent::MouseButtonDblClick:
  case QEvent::MouseMove:
  case QEvent::NonClientAreaMouseButtonPress:
  case QEvent::NonClientAreaMouseButtonRelease:
  case QEvent::NonClientAreaMouseButtonDblClick:
  case QEvent::NonClientAreaMouseMove:
  case QEvent::Wheel:
  case QEvent::ContextMenu:
  case QEvent::TouchBegin:
  case QEvent::TouchUpdate:
  case QEvent::TouchEnd:
  case QEvent::TouchCancel:
  case QEvent::TabletPress:
  case QEvent::TabletMove:
  case QEvent::TabletRelease:
  case QEvent::NativeGesture:
  case QEvent::Gesture:
  case QEvent::DragEnter:
  case QEvent::DragMove:
  case QEvent::DragLeave:
  case QEvent::Drop:
  case QEvent::Close:
    return true;
  default:
    return false;
  }
}

} // namespace

bool QtHostServices::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)
    if (auto *widget = qobject_cast<QWidget *>(watched))
      pressedWindow_ = widget->window();
  uint64_t commandStart = 0;
  if (!insideCancelCheck_ && IsUserInput(event->type()) && LongCommandStart(&commandStart)) {
    // Input during a long command outside a cancel check answers a dialog
    // it opened: its Escape is the dialog's, and its clock starts again.
    RestartLongCommand();
  } else if (event->type() == QEvent::KeyPress) {
    auto *key = static_cast<QKeyEvent *>(event);
    bool escape = key->key() == Qt::Key_Escape;
    bool commandPeriod = key->key() == Qt::Key_Period && (key->modifiers() & Qt::ControlModifier);
    if (escape || commandPeriod) {
      cancelSeen_ = true;
      cancelSeenAt_ = NowMicroseconds();
    }
  }
  if (insideCancelCheck_ && IsUserInput(event->type())) {
    if (event->type() == QEvent::Close) {
      // The window closes once the engine has returned to the event loop.
      event->ignore();
      deferredCloses_.emplace_back(watched);
      closeFlush_->start(0);
    }
    return true;
  }
  return QObject::eventFilter(watched, event);
}

void QtHostServices::FlushDeferredCloses() {
  if (insideCancelCheck_) {
    closeFlush_->start(0);
    return;
  }
  std::vector<QPointer<QObject>> closes;
  closes.swap(deferredCloses_);
  for (const QPointer<QObject> &target : closes) {
    if (auto *widget = qobject_cast<QWidget *>(target.data()))
      widget->close();
    else if (auto *window = qobject_cast<QWindow *>(target.data()))
      window->close();
  }
}

unsigned QtHostServices::CurrentModifiers() {
  Qt::KeyboardModifiers mods = QGuiApplication::queryKeyboardModifiers();
  unsigned result = 0;
  if (mods & Qt::ControlModifier)
    result |= kCommandKey;
  if (mods & Qt::AltModifier)
    result |= kOptionKey;
  if (mods & Qt::ShiftModifier)
    result |= kShiftKey;
  if (mods & Qt::MetaModifier)
    result |= kControlKey;
  return result;
}

void QtHostServices::SetCursor(CocoaCursor cursor) {
  const QCursor shape = ToolCursor(cursor);
  if (cursor == kArrowCursor) {
    if (cursorOverridden_)
      QApplication::restoreOverrideCursor();
    cursorOverridden_ = false;
  } else if (cursorOverridden_) {
    QApplication::changeOverrideCursor(shape);
  } else {
    QApplication::setOverrideCursor(shape);
    cursorOverridden_ = true;
  }
}

void QtHostServices::UpdateFloatingWindows() {
  if (floatingUpdater_)
    floatingUpdater_();
  else
    ReportUnwired("floating-window updater");
}

void QtHostServices::UpdateModelOptions() { DoUpdateModelOptions(); }

void QtHostServices::ShowOverviewLog() {
  if (IsOverviewWindowVisible())
    DoOverviewTabChoice(kLogTab);
}
void QtHostServices::UpdateAtomPicker() { RedrawAtomPicker(); }
void QtHostServices::UpdateSiteBrowser(WindowRef window) { DoUpdateSiteBrowser(window); }
void QtHostServices::SiteBrowserColourByElement(WindowRef window) {
  if (const GuardedSiteCommand *command = FindGuardedSiteCommand(FourCharsToLong("IWcE")))
    RunGuardedSiteCommand(window, *command);
}
void QtHostServices::UpdateLabelOptionsSizeField(float size) { UpdateLabelOptionsSizeFieldNow(size); }
void QtHostServices::ShowDistanceWindow(WindowRef) { DoShowDistanceWindow(); }
void QtHostServices::UpdateSetRange() { UpdateSetRangeNow(); }
void QtHostServices::UpdateWindowToolbar(WindowRef window) { UpdateWindowToolbarNow(window); }

void QtHostServices::ArmTimer(EventLoopTimer &timer, double seconds) {
  QTimer *&qtimer = timers_[&timer];
  if (!qtimer) {
    qtimer = new QTimer(this);
    qtimer->setSingleShot(true);
    EventLoopTimer *target = &timer;
    connect(qtimer, &QTimer::timeout, this, [target] {
      if (target->proc)
        target->proc();
    });
  }
  qtimer->start(static_cast<int>(seconds * 1000.0 + 0.5));
}

void QtHostServices::PostToMainThread(std::function<void()> call) {
  QMetaObject::invokeMethod(
      this, [call = std::move(call)] { call(); }, Qt::QueuedConnection);
}

uint64_t QtHostServices::NowMicroseconds() { return static_cast<uint64_t>(clock_.nsecsElapsed() / 1000); }

int QtHostServices::SaveGraphicsFileDialog(std::string_view title, std::string_view proposedName,
                                           uint32_t *fileType, std::filesystem::path *file) {
  if (!file || !fileType)
    return -50;
  WindowRef front = FrontGraphWindow();
  return RunGraphicsSaveDialog(front ? StructureWindow(front) : nullptr, title, proposedName, fileType, file);
}

int QtHostServices::SaveFileDialog(std::string_view prompt, std::string_view proposedName,
                                   std::filesystem::path *file) {
  if (!file)
    return -50;
  std::optional<std::filesystem::path> chosen =
      GetShellDialogs().GetSaveFile(std::string(prompt), std::string(proposedName), DialogStartFolder());
  if (!chosen)
    return kUserCanceledErr;
  NoteDialogFolder(*chosen);
  *file = *chosen;
  return 0;
}

std::string QtHostServices::ProgramVersion() {
  const QString version = QCoreApplication::applicationVersion();
  return version.isEmpty() ? std::string("1.0.0") : version.toStdString();
}

void QtHostServices::OpenHelpPage(std::string_view page) {
  const std::string text(page);
  const size_t hash = text.find('#');
  QUrl url = QUrl::fromLocalFile(QString(OV_RESOURCE_DIR) + "/help/" + QString::fromStdString(text.substr(0, hash)));
  if (hash != std::string::npos)
    url.setFragment(QString::fromStdString(text.substr(hash + 1)));
  OpenHelpUrl(url);
}

bool QtHostServices::ChooseColour(std::string_view prompt, RGBColor *colour) {
  if (!colour)
    return false;
  const QColor start = QColor::fromRgba64(colour->red, colour->green, colour->blue);
  const QColor chosen = QColorDialog::getColor(start, QApplication::activeWindow(), QString::fromUtf8(prompt));
  if (!chosen.isValid())
    return false;
  const QRgba64 c = chosen.rgba64();
  *colour = RGBColor{c.red(), c.green(), c.blue()};
  return true;
}

// ---- Structure window input ---------------------------------------------------

void QtHostServices::Beep() { QApplication::beep(); }

void QtHostServices::PlaySound(std::string_view) { QApplication::beep(); }

void QtHostServices::ShowHelpTag(WindowRef window, const Rect &area, std::string_view text) {
  MainWindow *w = StructureWindow(window);
  if (!w)
    return;
  const QRect rect(area.left, area.top, area.right - area.left, area.bottom - area.top);
  QToolTip::showText(w->Content()->mapToGlobal(rect.center()), QString::fromUtf8(text.data(), qsizetype(text.size())),
                     w->Content(), rect);
}

Point QtHostServices::PointerPosition(WindowRef window) {
  MainWindow *w = StructureWindow(window);
  if (!w)
    return Point{};
  const QPoint p = w->Content()->mapFromGlobal(QCursor::pos());
  return Point{int16_t(p.y()), int16_t(p.x())};
}

namespace {

int RunOpenDialog(std::string_view prompt, const QString &filter, std::filesystem::path *file) {
  if (!file)
    return -50;
  const QString chosen = QFileDialog::getOpenFileName(QApplication::activeWindow(), QString::fromUtf8(prompt),
                                                      QString::fromStdString(DialogStartFolder().string()), filter);
  if (chosen.isEmpty())
    return kUserCanceledErr;
  *file = chosen.toStdString();
  NoteDialogFolder(*file);
  return 0;
}

} // namespace

int QtHostServices::OpenFileDialog(std::string_view prompt, std::filesystem::path *file) {
  return RunOpenDialog(prompt, "Text files (*.dat *.txt);;All files (*)", file);
}

int QtHostServices::OpenGraphicsFileDialog(std::string_view prompt, std::filesystem::path *file) {
  QStringList patterns;
  for (const QByteArray &format : QImageReader::supportedImageFormats())
    patterns << "*." + QString::fromLatin1(format);
  return RunOpenDialog(prompt, "Pictures (" + patterns.join(' ') + ");;All files (*)", file);
}
