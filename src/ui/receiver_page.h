// TReceiver_Page: the "DC-09 Receiver" tab of the main window. Every control writes its field of
// the in-memory Settings_Record at once and re-evaluates the Save button; while the receiver port
// is to be open ("Open" ticked) every other control is locked. The key format (Text or Hex) is an
// entry mode only and is Text at every start. Main thread only.
#pragma once

#include <QWidget>
#include <functional>

#include "base/settings.h"

class Page_Host;
class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QRadioButton;

class TReceiver_Page : public QWidget {
  Q_OBJECT

 public:
  TReceiver_Page(Settings_Record& settings, Page_Host& host, QWidget* parent = nullptr);

  // Called when "Open" is clicked, before the setting changes: sets Timer_DC9 back to 1000 ms so
  // the receiver reacts at the next second even after a failed open.
  void Set_Port_Prompt(std::function<void()> prompt) { port_prompt_ = std::move(prompt); }

  // Fills the page from the settings (run when the tab is shown and after the clicks).
  void Refresh_Receiver();

  QCheckBox* CheckBox_DC9_Port_Enable;
  QLineEdit* LabeledEdit_DC9_Port;
  QLineEdit* LabeledEdit_DC9_Conn_Timeout;
  QCheckBox* CheckBox_Time_Synch;
  QCheckBox* CheckBox_DC9_UDP_Enable;        // also answer over UDP on the port's number
  QLineEdit* LabeledEdit_DC9_Repeat_Window;  // minutes; 0 = every copy stored
  QRadioButton* RadioButton_DC9_AES_Off;
  QRadioButton* RadioButton_DC9_AES_128;
  QRadioButton* RadioButton_DC9_AES_192;
  QRadioButton* RadioButton_DC9_AES_256;
  QLineEdit* LabeledEdit_DC9_Encoding_Key;
  QRadioButton* RadioButton_Aes_Key_Text;
  QRadioButton* RadioButton_Aes_Key_Hex;
  QCheckBox* CheckBox_Show_AES_Password;

 private:
  void CheckBox_DC9_Port_EnableClick();
  void Number_Edited(QLineEdit* edit, int32_t& field);
  void CheckBox_Time_SynchClick();
  void Repeat_Window_Edited();
  void AES_Mode_Click(int mode);
  void Key_Edited(const QString& text);
  void CheckBox_Show_AES_PasswordClick();
  // The key field shows the whole key: a text longer than the field (a 192- or 256-bit key in
  // hex, or its stars) is drawn in a smaller font, down to a smallest legible size.
  void Fit_Key_Font();
  bool eventFilter(QObject* watched, QEvent* event) override;

  Settings_Record& settings_;
  Page_Host& host_;
  std::function<void()> port_prompt_;
  QButtonGroup* aes_mode_group_;
  QButtonGroup* key_format_group_;
};
