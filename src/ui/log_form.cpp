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
                              Qt::WindowCloseButtonHint),
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
  QString text;
  QFile file(QString::fromStdString(log_.Current_File()));
  if (!log_.Current_File().empty() && file.open(QIODevice::ReadOnly)) {
    text = QString::fromLatin1(file.readAll());
    text.replace("\r\n", "\n");
    if (text.endsWith('\n')) text.chop(1);
  }
  Memo_Log->setPlainText(text);
  // The newest line, at the end, stays in view.
  Memo_Log->verticalScrollBar()->setValue(Memo_Log->verticalScrollBar()->maximum());
}

void TForm_Log::Follow_File() {
  if (isVisible()) Load_File();
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
