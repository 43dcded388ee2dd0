// TForm_Log_Test ("Data Log"): a diagnostic trace of the raw traffic (the receiver's reads, the
// automation software's answer bytes). Lines are added only while the window is visible; bytes
// that are not printable ASCII are shown as <XX>. "Save" writes the text to a file chosen by the
// operator, "Clear" empties it. The content lives in the window alone. Main thread only.
#pragma once

#include <QMainWindow>
#include <QPlainTextEdit>
#include <functional>
#include <string>

#include "ui/widgets/message_box.h"

class TForm_Log_Test : public QMainWindow {
  Q_OBJECT
 public:
  explicit TForm_Log_Test(QWidget* parent = nullptr);

  // Operator_Port's data log hooks.
  bool Data_Log_Visible() const { return isVisible(); }
  // Appends one line (its unprintable bytes as <XX>); dropped while the window is hidden.
  void Data_Log_Line(const std::string& line);

  // "Save": the save-file dialog, the overwrite question, the write.
  void Meniu_Log_SaveClick();
  // "Clear": empties the text at once.
  void Clear1Click() {
    Memo_Log_Test->clear();
    has_lines_ = false;
  }

  // The save-file dialog; returns the chosen path, empty when the operator cancelled.
  using File_Chooser = std::function<QString(QWidget* parent)>;
  void Set_File_Chooser(File_Chooser chooser) { choose_file_ = std::move(chooser); }
  void Set_Box_Runner(Operator_Box_Runner runner) { box_ = std::move(runner); }

  QPlainTextEdit* Memo_Log_Test;
  QAction* Meniu_Log_Save;
  QAction* Clear1;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  File_Chooser choose_file_;
  Operator_Box_Runner box_ = Run_Operator_Box;
  bool placed_ = false;
  bool has_lines_ = false;  // a line was added since the start or the last "Clear"
};
