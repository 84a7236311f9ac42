// The one application object of the shell tests. Qt takes the locale from
// the environment when the application is made, so it is made under a comma
// locale: the locale test then sees that the program puts "C" back. A host
// hook that start-up left unwired fails the test that calls it.
#pragma once

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

inline void FailOnUnwiredHooks(QtMsgType type, const QMessageLogContext &, const QString &message) {
  if (type == QtCriticalMsg && message.contains("host hook not installed"))
    ADD_FAILURE() << message.toStdString();
  std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

inline QApplication *App() {
  static int argc = 1;
  static char name[] = "test_shell";
  static char *argv[] = {name, nullptr};
  static QApplication *app = nullptr;
  if (!app) {
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    app = new QApplication(argc, argv);
    qInstallMessageHandler(FailOnUnwiredHooks);
    unsetenv("LC_ALL");
  }
  return app;
}
