#include "HelpCommands.h"

#include "Commands.h"
#include "HostServices.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QPointer<QWidget> gHelpWindow;
QPointer<QTextBrowser> gHelpBrowser;

// A Help button is joined once, when it is first polished.
constexpr const char *kJoinedProperty = "helpPageJoined";

class HelpButtonJoiner : public QObject {
public:
  using QObject::QObject;
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() != QEvent::Polish)
      return false;
    auto *button = qobject_cast<QAbstractButton *>(watched);
    if (!button || button->property(kJoinedProperty).toBool())
      return false;
    const QString page = button->property(kHelpPageProperty).toString();
    if (page.isEmpty())
      return false;
    button->setProperty(kJoinedProperty, true);
    QObject::connect(button, &QAbstractButton::clicked, button, [page] { MyOpenHelpPage(page.toStdString()); });
    return false;
  }
};

// Platforms without a desktop have nothing a launcher could open a browser on.
bool DesktopHasLauncher() {
  const QString platform = QGuiApplication::platformName();
  if (platform == "offscreen" || platform == "minimal")
    return false;
  return !QStandardPaths::findExecutable(kHelpLauncher).isEmpty();
}

} // namespace

void InstallHelpCommands() {
  static HelpButtonJoiner *joiner = nullptr;
  if (!joiner && QCoreApplication::instance()) {
    joiner = new HelpButtonJoiner(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(joiner);
  }
  AddCommandHandler(
      [](uint32_t command, const QVariant &) -> OSStatus {
        if (command != kCmdHelp)
          return kEventNotHandledErr;
        MyOpenHelpPage(kHelpIndexPage);
        return kNoErr;
      },
      [](uint32_t command, QAction *action) -> OSStatus {
        if (command != kCmdHelp)
          return kEventNotHandledErr;
        action->setEnabled(true);
        return kNoErr;
      });
}

void OpenHelpUrl(const QUrl &url) {
  if (!DesktopHasLauncher()) {
    ShowHelpWindow(url);
    return;
  }
  // The launcher answers by its exit status; a launcher that finds no
  // browser fails, and the page shows here instead. A launcher still running
  // when the program quits is left to finish.
  auto *launcher = new QProcess;
  launcher->setProgram(QStandardPaths::findExecutable(kHelpLauncher));
  launcher->setArguments({url.toString()});
  launcher->setStandardInputFile(QProcess::nullDevice());
  QObject::connect(launcher, &QProcess::errorOccurred, qApp, [launcher, url](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart)
      return;
    ShowHelpWindow(url);
    launcher->deleteLater();
  });
  QObject::connect(launcher, &QProcess::finished, qApp, [launcher, url](int code, QProcess::ExitStatus status) {
    if (code != 0 || status != QProcess::NormalExit)
      ShowHelpWindow(url);
    launcher->deleteLater();
  });
  launcher->start();
}

void ShowHelpWindow(const QUrl &url) {
  if (!gHelpWindow) {
    gHelpWindow = new QWidget(nullptr, Qt::Window);
    gHelpWindow->setObjectName("HelpWindow");
    gHelpWindow->setWindowTitle(QObject::tr("Orvalisphere Help"));
    gHelpWindow->setAttribute(Qt::WA_QuitOnClose, false);
    auto *layout = new QVBoxLayout(gHelpWindow);
    layout->setContentsMargins(0, 0, 0, 0);
    gHelpBrowser = new QTextBrowser(gHelpWindow);
    gHelpBrowser->setOpenExternalLinks(true);
    layout->addWidget(gHelpBrowser);
    gHelpWindow->resize(640, 560);
  }
  gHelpBrowser->setSource(url);
  gHelpWindow->show();
  gHelpWindow->raise();
  gHelpWindow->activateWindow();
}
