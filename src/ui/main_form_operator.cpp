// The main window as the screen through which the logic talks to the operator (Operator_Port):
// log lines to the system log, the beep and notification sound, the status-bar panels, the data
// log and events window hooks, the automation page refresh and the message box. Main thread only.
#include "ui/main_form.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QSoundEffect>
#include <QUrl>

#include "ui/automation_page.h"
#include "ui/widgets/message_box.h"

void TMain_Form::Log_Message(const std::string& text, uint32_t colour) {
  log_.Log_Message(text, colour);
}

void TMain_Form::Beep() {
  QApplication::beep();
}

void TMain_Form::Play_Notify_Sound() {
  const QFileInfo file("notify.wav");
  if (!file.exists()) return;
  if (notify_sound_ == nullptr) notify_sound_ = new QSoundEffect(this);
  notify_sound_->setSource(QUrl::fromLocalFile(file.absoluteFilePath()));
  notify_sound_->play();
}

void TMain_Form::Set_Status_Text(int panel, const std::string& text) {
  if (panel < 0 || panel >= static_cast<int>(StatusBar1.size())) return;
  StatusBar1[panel]->setText(QString::fromStdString(text));
}

bool TMain_Form::Data_Log_Visible() {
  return hooks_.Data_Log_Visible && hooks_.Data_Log_Visible();
}

void TMain_Form::Data_Log_Line(const std::string& line) {
  if (hooks_.Data_Log_Line) hooks_.Data_Log_Line(line);
}

void TMain_Form::Refresh_Events() {
  if (hooks_.Refresh_Events) hooks_.Refresh_Events();
}

void TMain_Form::Refresh_Mon_Out() {
  automation_page_->Refresh_Mon_Out();
}

void TMain_Form::Show_Message(const std::string& text) {
  Run_Operator_Box(this, {windowTitle(), QString::fromStdString(text), QMessageBox::NoIcon,
                          QMessageBox::Ok, /*Line_Written=*/true});
}
