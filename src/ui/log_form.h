// TForm_Log: the System Log window ("System Log", 690 x 628). It shows the current month's log
// file, oldest line first, reloads it whenever it is shown and, while visible, after every logged
// line. "Clear" empties the current file after the operator confirms; the main window's log pane
// keeps its lines. Typing into the text box stores nothing. Main thread only.
#pragma once

#include <QMainWindow>

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

  // Reloads the text box when the window is visible (after a line was logged).
  void Follow_File();
  // Loads the whole current log file into the text box (empty when no line was logged yet).
  void Load_File();

  QAction* Log_Menu_Clear;
  QPlainTextEdit* Memo_Log;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Log_Menu_ClearClick();

  System_Log& log_;
};
