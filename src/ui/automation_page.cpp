#include "ui/automation_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <cstring>

#include "automation/report_format.h"
#include "ui/widgets/page_host.h"
#include "ui/widgets/page_widgets.h"

TAutomation_Page::TAutomation_Page(Settings_Record& settings, Page_Host& host, QWidget* parent)
    : QWidget(parent), settings_(settings), host_(host) {
  auto* port_group = new QGroupBox("Communication Port", this);
  port_group->setGeometry(8, 6, 300, 174);

  auto* serial_group = new QGroupBox("Serial", port_group);
  serial_group->setGeometry(8, 18, 108, 148);
  CheckBox_Mon_Port_Open_Serial = Add_Button<QCheckBox>(serial_group, "Open", 10, 20);
  Add_Label(serial_group, "Port:", 10, 50);
  ComboBox_COM_Nr = new QComboBox(serial_group);
  ComboBox_COM_Nr->setEditable(true);
  ComboBox_COM_Nr->setGeometry(10, 66, 88, 22);
  ComboBox_COM_Nr->addItem("COM1");
  // COM_Name holds five characters and its NUL.
  ComboBox_COM_Nr->lineEdit()->setMaxLength(static_cast<int>(sizeof settings_.COM_Name) - 1);
  Button_Com_Settings = new QPushButton("Settings", serial_group);
  Button_Com_Settings->setGeometry(10, 106, 88, 25);

  auto* tcp_group = new QGroupBox("TCP/IP", port_group);
  tcp_group->setGeometry(124, 18, 168, 148);
  CheckBox_Mon_Port_Open_TCP = Add_Button<QCheckBox>(tcp_group, "Open", 10, 20);
  RadioButton_Mon_Server = Add_Button<QRadioButton>(tcp_group, "Server mode", 10, 44);
  RadioButton_Mon_Client = Add_Button<QRadioButton>(tcp_group, "Client mode", 10, 66);
  Add_Label(tcp_group, "IP: ", 10, 96);
  LabeledEdit_Out_IP = Add_Edit(tcp_group, 46, 92, 110, 15);
  Add_Label(tcp_group, "Port: ", 10, 122);
  LabeledEdit_Mon_Port = Add_Edit(tcp_group, 46, 118, 60, 5);

  auto* heartbeat_group = new QGroupBox("Supervisory Heartbeat Signal", this);
  heartbeat_group->setGeometry(316, 6, 165, 100);
  Add_Label(heartbeat_group, "Receiver Number: ", 10, 30);
  LabeledEdit_Test_Rec_Nr = Add_Edit(heartbeat_group, 108, 26, 46, 6);
  Add_Label(heartbeat_group, "Sending Period: ", 10, 64);
  LabeledEdit_Test_Heartbeat_Period = Add_Edit(heartbeat_group, 108, 60, 28, 3);
  LabeledEdit_Test_Heartbeat_Period->setToolTip("Enter 0 to disable the Heartbeat Signal");
  Add_Label(heartbeat_group, "sec.", 139, 64);

  auto* format_group = new QGroupBox("Report Format", this);
  format_group->setGeometry(316, 112, 165, 68);
  ComboBox1 = new QComboBox(format_group);
  ComboBox1->setGeometry(10, 28, 145, 22);
  // Entries only: a typed text would leave the sender without a format.
  for (const char* name : REPORT_FORMAT_NAMES) ComboBox1->addItem(name);
  ComboBox1->setCurrentIndex(0);

  connect(CheckBox_Mon_Port_Open_Serial, &QCheckBox::clicked, this,
          [this] { Open_Click(CheckBox_Mon_Port_Open_Serial, OUT_MODE_SERIAL); });
  connect(ComboBox_COM_Nr, &QComboBox::currentTextChanged, this,
          &TAutomation_Page::ComboBox_COM_NrChange);
  connect(Button_Com_Settings, &QPushButton::clicked, this, [this] {
    if (com_settings_ != nullptr) {
      com_settings_->show();
      com_settings_->raise();
    }
  });
  connect(CheckBox_Mon_Port_Open_TCP, &QCheckBox::clicked, this,
          [this] { Open_Click(CheckBox_Mon_Port_Open_TCP, OUT_MODE_TCP); });
  connect(RadioButton_Mon_Server, &QRadioButton::clicked, this,
          [this] { TCP_Mode_Click(OUT_TCP_SERVER); });
  connect(RadioButton_Mon_Client, &QRadioButton::clicked, this,
          [this] { TCP_Mode_Click(OUT_TCP_CLIENT); });
  connect(LabeledEdit_Out_IP, &QLineEdit::textChanged, this,
          &TAutomation_Page::LabeledEdit_Out_IPChange);
  connect(LabeledEdit_Mon_Port, &QLineEdit::textChanged, this, [this] {
    Number_Edited(LabeledEdit_Mon_Port, [this](int32_t v) { settings_.Out_Port = v; });
  });
  connect(LabeledEdit_Test_Rec_Nr, &QLineEdit::textChanged, this, [this] {
    Number_Edited(LabeledEdit_Test_Rec_Nr,
                  [this](int32_t v) { settings_.HB_Receiver_Nr = static_cast<int8_t>(v & 0xFF); });
  });
  connect(LabeledEdit_Test_Heartbeat_Period, &QLineEdit::textChanged, this, [this] {
    Number_Edited(LabeledEdit_Test_Heartbeat_Period,
                  [this](int32_t v) { settings_.HB_Period = v; });
  });
  connect(ComboBox1, &QComboBox::currentIndexChanged, this, &TAutomation_Page::ComboBox1Change);
}

void TAutomation_Page::Refresh_Mon_Out() {
  LabeledEdit_Mon_Port->setText(QString::number(settings_.Out_Port));
  LabeledEdit_Test_Heartbeat_Period->setText(QString::number(settings_.HB_Period));
  LabeledEdit_Test_Rec_Nr->setText(QString::number(settings_.HB_Receiver_Nr));
  LabeledEdit_Out_IP->setText(QString::fromLatin1(
      settings_.Out_IP,
      static_cast<qsizetype>(strnlen(settings_.Out_IP, sizeof settings_.Out_IP))));

  const bool serial_on = settings_.Out_Mode == OUT_MODE_SERIAL;
  const bool tcp_on = settings_.Out_Mode == OUT_MODE_TCP;
  const bool link_on = serial_on || tcp_on;
  CheckBox_Mon_Port_Open_Serial->setChecked(serial_on);
  CheckBox_Mon_Port_Open_Serial->setEnabled(!tcp_on);
  CheckBox_Mon_Port_Open_TCP->setChecked(tcp_on);
  CheckBox_Mon_Port_Open_TCP->setEnabled(!serial_on);
  for (QWidget* control : std::initializer_list<QWidget*>{
           ComboBox_COM_Nr, LabeledEdit_Mon_Port, RadioButton_Mon_Server, RadioButton_Mon_Client,
           Button_Com_Settings})
    control->setEnabled(!link_on);
  LabeledEdit_Out_IP->setEnabled(!link_on && settings_.Out_TCP_Server == OUT_TCP_CLIENT);

  (settings_.Out_TCP_Server == OUT_TCP_SERVER ? RadioButton_Mon_Server : RadioButton_Mon_Client)
      ->setChecked(true);

  if (com_settings_ != nullptr) {
    com_settings_->Fill_Baud_Rates();
    com_settings_->ComboBox_COM_Baud->setEnabled(!link_on);
  }
  {
    const QSignalBlocker quiet(ComboBox1);
    const bool listed = settings_.Report_Format >= 0 &&
                        settings_.Report_Format < static_cast<int>(REPORT_FORMAT_NAMES.size());
    ComboBox1->setCurrentIndex(listed ? settings_.Report_Format : -1);
  }
  host_.Update_Save_Button();
}

void TAutomation_Page::Refresh_Port_List() {
  const bool open = serial_open_ && serial_open_();
  Com_Ports_Available(*ComboBox_COM_Nr, settings_, open, port_scan_);
}

void TAutomation_Page::Open_Click(QCheckBox* box, uint8_t mode) {
  settings_.Out_Mode = box->isChecked() ? mode : OUT_MODE_CLOSED;
  if (prompt_tick_) prompt_tick_();
  Refresh_Mon_Out();
}

void TAutomation_Page::ComboBox_COM_NrChange(const QString& text) {
  std::memset(settings_.COM_Name, 0, sizeof settings_.COM_Name);
  const QByteArray bytes = text.toLatin1().left(sizeof settings_.COM_Name - 1);
  std::memcpy(settings_.COM_Name, bytes.constData(), bytes.size());
  host_.Update_Save_Button();
}

void TAutomation_Page::TCP_Mode_Click(uint8_t server) {
  settings_.Out_TCP_Server = server;
  Refresh_Mon_Out();
}

void TAutomation_Page::LabeledEdit_Out_IPChange(const QString& text) {
  const QByteArray bytes = text.toLatin1();
  // The field keeps its NUL: at most 15 characters are taken.
  if (bytes.size() < static_cast<qsizetype>(sizeof settings_.Out_IP)) {
    std::memset(settings_.Out_IP, 0, sizeof settings_.Out_IP);
    std::memcpy(settings_.Out_IP, bytes.constData(), bytes.size());
  }
  host_.Update_Save_Button();
}

void TAutomation_Page::Number_Edited(QLineEdit* edit, const std::function<void(int32_t)>& store) {
  const std::string text = edit->text().toStdString();
  if (text.empty()) return host_.Update_Save_Button();
  int32_t value = 0;
  if (!Parse_Whole_Number(text, value)) return host_.Message_Box(Invalid_Integer_Text(text));
  store(value);
  host_.Update_Save_Button();
}

void TAutomation_Page::ComboBox1Change(int index) {
  settings_.Report_Format = static_cast<int8_t>(index);
  host_.Update_Save_Button();
}
