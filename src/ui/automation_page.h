// TAutomation_Page: the "Automation Software Interface" tab of the main window: the link to the
// automation software (serial or TCP, server or client), the heartbeat and the report format.
// Every control writes its field of the in-memory Settings_Record at once; while a link is open
// nothing it depends on can be changed. Opening and closing is the link manager's work, which the
// page only prompts. Main thread only.
#pragma once

#include <QWidget>
#include <functional>

#include "base/settings.h"
#include "ui/com_settings_form.h"

class Page_Host;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

class TAutomation_Page : public QWidget {
  Q_OBJECT

 public:
  TAutomation_Page(Settings_Record& settings, Page_Host& host, QWidget* parent = nullptr);

  // The serial settings dialog whose baud rate box the refresh fills and locks (may be absent).
  void Set_Com_Settings(TForm_Com_Settings* dialog) { com_settings_ = dialog; }
  // The link manager's prompt tick, run after `Out_Mode` changed.
  void Set_Prompt_Tick(std::function<void()> prompt) { prompt_tick_ = std::move(prompt); }
  // Whether the serial port is open now, and the scan of the free serial ports.
  void Set_Serial_Port(std::function<bool()> is_open, Port_Scan scan) {
    serial_open_ = std::move(is_open);
    port_scan_ = std::move(scan);
  }

  // Fills the page from the settings and applies the locking rules of the link mode.
  void Refresh_Mon_Out();
  // Com_Ports_Available for this page's port box.
  void Refresh_Port_List();

  QCheckBox* CheckBox_Mon_Port_Open_Serial;
  QComboBox* ComboBox_COM_Nr;
  QPushButton* Button_Com_Settings;
  QCheckBox* CheckBox_Mon_Port_Open_TCP;
  QRadioButton* RadioButton_Mon_Server;
  QRadioButton* RadioButton_Mon_Client;
  QLineEdit* LabeledEdit_Out_IP;
  QLineEdit* LabeledEdit_Mon_Port;
  QLineEdit* LabeledEdit_Test_Rec_Nr;
  QLineEdit* LabeledEdit_Test_Heartbeat_Period;
  QComboBox* ComboBox1;

 private:
  void Open_Click(QCheckBox* box, uint8_t mode);
  void ComboBox_COM_NrChange(const QString& text);
  void TCP_Mode_Click(uint8_t server);
  void LabeledEdit_Out_IPChange(const QString& text);
  // Stores the edit's number through `store`; an empty text changes nothing.
  void Number_Edited(QLineEdit* edit, const std::function<void(int32_t)>& store);
  void ComboBox1Change(int index);

  Settings_Record& settings_;
  Page_Host& host_;
  TForm_Com_Settings* com_settings_ = nullptr;
  std::function<void()> prompt_tick_;
  std::function<bool()> serial_open_;
  Port_Scan port_scan_;
};
