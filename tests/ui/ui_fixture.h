// Shared pieces of the window tests: the one QApplication of the test process, a recorder that
// answers message boxes in place of the operator, and a main window over a temporary data folder
// whose beeps are counted.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QToolButton>
#include <deque>
#include <string>
#include <vector>

#include "base/settings.h"
#include "base/system_log.h"
#include "support/qt_widgets_app.h"
#include "support/temp_folder.h"
#include "ui/main_form.h"
#include "ui/widgets/message_box.h"

// The one QApplication of the window tests (never destroyed, see qt_widgets_app.h).
inline QApplication& Test_Gui_App() {
  return Test_Widgets_App();
}

// Types `text` into `widget` key by key, as the keyboard would.
inline void Type_Keys(QWidget* widget, const QString& text) {
  for (QChar c : text) {
    const int key = c.toUpper().unicode();
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
    QCoreApplication::sendEvent(widget, &release);
  }
}

// Answers each box with the next queued answer (Ok or No when the queue is empty) and keeps the
// requests.
class Box_Recorder {
 public:
  Box_Recorder() {
    Set_Box_Answerer([this](QWidget*, const Operator_Box& request) {
      requests.push_back(request);
      if (answers.empty()) return Safe_Answer(request.Buttons);
      const QMessageBox::StandardButton answer = answers.front();
      answers.pop_front();
      return answer;
    });
  }
  ~Box_Recorder() { Set_Box_Answerer({}); }

  std::deque<QMessageBox::StandardButton> answers;
  std::vector<Operator_Box> requests;
};

class Counting_Form : public TMain_Form {
 public:
  using TMain_Form::TMain_Form;
  void Beep() override { ++beeps; }
  int beeps = 0;
};

inline QByteArray Read_File(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

// A main window over a fresh data folder with a default settings file.
class Main_Form_Test : public ::testing::Test {
 protected:
  Main_Form_Test() {
    Settings_Load(settings, settings_path);
    log.Set_Pane(form.get());
    form->Enter_Start_State();
  }
  ~Main_Form_Test() override { log.Set_Pane(nullptr); }

  QApplication& app = Test_Gui_App();
  Temp_Folder folder;
  std::string settings_path = folder.File(SETTINGS_FILE_NAME);
  Settings_Record settings{};
  System_Log log{folder.Path()};
  Box_Recorder boxes;
  std::unique_ptr<Counting_Form> form =
      std::make_unique<Counting_Form>(settings, settings_path, log);
};
