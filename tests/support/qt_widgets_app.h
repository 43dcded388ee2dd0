// The one QApplication of a window test process, created on first use (windows need a
// QApplication, not a QCoreApplication); the tests run with QT_QPA_PLATFORM=offscreen.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

inline QApplication& Test_Widgets_App() {
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return *app;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "quenor-ui-test";
  static char* argv[] = {name, nullptr};
  // Never destroyed: Qt's own statics (the pointing devices made by input events) would otherwise
  // be torn down in the wrong order at exit.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}
