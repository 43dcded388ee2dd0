#include "ui/data_log_form.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenuBar>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include "base/data_log_text.h"
#include "ui/widgets/window_place.h"

namespace {

QString Choose_Save_File(QWidget* parent) {
  QFileDialog dialog(parent, "Save");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilter("Log file  (*.txt)");
  dialog.setDefaultSuffix("txt");
  // The window asks its own overwrite question.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

}  // namespace

TForm_Log_Test::TForm_Log_Test(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      choose_file_(Choose_Save_File) {
  setWindowTitle("Data Log");
  setObjectName("Form_Log_Test");
  Meniu_Log_Save = menuBar()->addAction("Save");
  Clear1 = menuBar()->addAction("Clear");
  connect(Meniu_Log_Save, &QAction::triggered, this, &TForm_Log_Test::Meniu_Log_SaveClick);
  connect(Clear1, &QAction::triggered, this, &TForm_Log_Test::Clear1Click);

  Memo_Log_Test = new QPlainTextEdit(this);
  Memo_Log_Test->setObjectName("Memo_Log_Test");
  Memo_Log_Test->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo_Log_Test->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setCentralWidget(Memo_Log_Test);
  // The client area (under the menu bar) is 676 x 473.
  resize(676, menuBar()->sizeHint().height() + 473);
}

void TForm_Log_Test::Data_Log_Line(const std::string& line) {
  if (!isVisible()) return;
  // A text box always holds one block: the first line (even an empty one) fills it, every later
  // line starts a block of its own, so a leading empty line is kept.
  QTextCursor cursor(Memo_Log_Test->document());
  cursor.movePosition(QTextCursor::End);
  if (has_lines_ || !Memo_Log_Test->document()->isEmpty()) cursor.insertBlock();
  cursor.insertText(QString::fromLatin1(Data_Log_Printable(line)));
  QScrollBar* scroll = Memo_Log_Test->verticalScrollBar();
  scroll->setValue(scroll->maximum());
  has_lines_ = true;
}

void TForm_Log_Test::Meniu_Log_SaveClick() {
  const QString path = choose_file_(this);
  if (path.isEmpty()) return;
  if (QFileInfo::exists(path)) {
    const QMessageBox::StandardButton answer =
        box_(this, {"File name already exist",
                    "This file name already exist, do you want to override it?",
                    QMessageBox::NoIcon, QMessageBox::Yes | QMessageBox::No});
    if (answer != QMessageBox::Yes) return;
  }
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
    box_(this, {MAIN_WINDOW_CAPTION,
                QString("Cannot create file \"%1\". %2").arg(path, file.errorString()),
                QMessageBox::Critical, QMessageBox::Ok});
    return;
  }
  // One line per block; an empty text box holds no line at all.
  QByteArray text;
  if (has_lines_ || !Memo_Log_Test->document()->isEmpty()) {
    for (QTextBlock block = Memo_Log_Test->document()->begin(); block.isValid();
         block = block.next()) {
      text += block.text().toLatin1();
      text += '\n';
    }
  }
  if (file.write(text) != text.size() || !file.flush()) {
    box_(this, {MAIN_WINDOW_CAPTION,
                QString("Cannot write file \"%1\". %2").arg(path, file.errorString()),
                QMessageBox::Critical, QMessageBox::Ok});
  }
}

void TForm_Log_Test::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (placed_) return;
  placed_ = true;
  // Centred on the main window (its parent), where there is one.
  if (QWidget* owner = parentWidget()) Centre_Over(*this, owner->window()->frameGeometry());
}
