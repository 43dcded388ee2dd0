// TForm_Log: the System Log window ("System Log", 690 x 628). It shows the current month's log
// file, oldest line first, reloads it whenever it is shown and, while visible, appends only the
// lines added to the file since (it never rereads the whole file per line). "Clear" empties the
// current file after the operator confirms; the main window's log pane keeps its lines. Typing into
// the text box stores nothing. Main thread only.
#pragma once

#include <QMainWindow>
#include <QString>
#include <string>

#include "base/system_log.h"

class QAction;
class QPlainTextEdit;

inline constexpr const char* CLEAR_LOG_QUESTION =
    "     Are you sure you want to delete log records?";
inline constexpr const char* CLEAR_LOG_TITLE = "Clear Log Records";

class TForm_Log : public QMainWindow {
  Q_OBJECT

 public:
  explicit TForm_Log(System_Log& log, QWidget* parent = nullptr);

  // Appends the lines added to the file when the window is visible (after a line was logged).
  void Follow_File();
  // Loads the whole current log file into the text box (empty when no line was logged yet).
  void Load_File();

  QAction* Log_Menu_Clear;
  QPlainTextEdit* Memo_Log;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Log_Menu_ClearClick();
  void Append_New_Lines();

  System_Log& log_;
  std::string shown_file_;
  qint64 shown_size_ = 0;
  QString pending_;  // the part of the file past its last complete line
};
