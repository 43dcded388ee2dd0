#include "ui/log_form.h"

#include <QFile>
#include <QGuiApplication>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>

#include "ui/widgets/message_box.h"
#include "ui/widgets/pictures.h"
#include "ui/widgets/window_place.h"

TForm_Log::TForm_Log(System_Log& log, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      log_(log) {
  setWindowTitle("System Log");
  setWindowIcon(Program_Icon());
  Log_Menu_Clear = menuBar()->addAction("Clear");
  connect(Log_Menu_Clear, &QAction::triggered, this, &TForm_Log::Log_Menu_ClearClick);

  Memo_Log = new QPlainTextEdit(this);
  Memo_Log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // Long lines wrap at the window's edge (there is no horizontal scroll bar).
  Memo_Log->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setCentralWidget(Memo_Log);
  resize(690, menuBar()->sizeHint().height() + 628);
  Centre_On_Screen(*this);
}

void TForm_Log::Load_File() {
  Memo_Log->clear();
  shown_file_ = log_.Current_File();
  shown_size_ = 0;
  pending_.clear();
  Append_New_Lines();
}

void TForm_Log::Append_New_Lines() {
  QFile file(QString::fromStdString(log_.Current_File()));
  if (log_.Current_File().empty() || !file.open(QIODevice::ReadOnly)) return;
  // A shorter file (cleared) or a new month's file is shown from its start.
  if (log_.Current_File() != shown_file_ || file.size() < shown_size_) {
    Load_File();
    return;
  }
  if (!file.seek(shown_size_)) return;
  const QByteArray added = file.readAll();
  shown_size_ += added.size();
  pending_ += QString::fromLatin1(added);
  pending_.replace("\r\n", "\n");
  // Only whole lines are shown; a line still being written waits for its end.
  const qsizetype end = pending_.lastIndexOf('\n');
  if (end < 0) return;
  const QString lines = pending_.left(end);
  pending_.remove(0, end + 1);
  QScrollBar* bar = Memo_Log->verticalScrollBar();
  const bool at_end = bar->value() == bar->maximum();
  Memo_Log->appendPlainText(lines);
  // The newest line, at the end, stays in view unless the operator scrolled up.
  if (at_end) bar->setValue(bar->maximum());
}

void TForm_Log::Follow_File() {
  if (isVisible()) Append_New_Lines();
}

void TForm_Log::showEvent(QShowEvent* event) {
  Load_File();
  QMainWindow::showEvent(event);
}

void TForm_Log::Log_Menu_ClearClick() {
  if (Run_Operator_Box(this, {CLEAR_LOG_TITLE, CLEAR_LOG_QUESTION, QMessageBox::Question,
                              QMessageBox::Ok | QMessageBox::Cancel}) != QMessageBox::Ok)
    return;
  log_.Clear_Current_File();
  Load_File();
}
