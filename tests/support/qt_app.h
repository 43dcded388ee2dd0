// The one QCoreApplication of a test process without windows, created on first use, so tests can
// run sockets, timers and QSignalSpy::wait on the main thread.
#pragma once

#include <QCoreApplication>

inline QCoreApplication& Test_Core_App() {
  if (auto* app = QCoreApplication::instance()) return *app;
  static int argc = 1;
  static char name[] = "quenor-test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}
