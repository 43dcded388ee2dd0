#include "ui/com_settings_form.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "automation/serial_names.h"
#include "protocol/event_record.h"
#include "ui/widgets/layout_fit.h"
#include "ui/widgets/page_host.h"
#include "ui/widgets/window_place.h"

namespace {

// What a title bar takes beside its caption: the icon, three buttons and the frame.
constexpr int TITLE_BAR_EXTRA = 110;

}  // namespace

TForm_Com_Settings::TForm_Com_Settings(Settings_Record& settings, Page_Host& host,
                                       QWidget* centre_on)
    : QDialog(centre_on, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      settings_(settings),
      host_(host),
      centre_on_(centre_on) {
  setWindowTitle("Serial Port Settings");
  setModal(false);

  struct Row {
    const char* label;
    const char* fixed;  // null for the baud rate box
  };
  const Row rows[] = {{"Baud Rate :", nullptr},
                      {"Data Bits :", "8"},
                      {"Stop Bits :", "1"},
                      {"Parity :", "None"},
                      {"Flow Control :", "None"}};
  int top = 16;
  for (const Row& row : rows) {
    auto* label = new QLabel(row.label, this);
    label->setGeometry(16, top + 3, 80, 16);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    if (row.fixed == nullptr) {
      ComboBox_COM_Baud = new QComboBox(this);
      ComboBox_COM_Baud->setEditable(true);
      ComboBox_COM_Baud->setGeometry(104, top, 100, 22);
    } else {
      auto* field = new QLineEdit(row.fixed, this);
      field->setReadOnly(true);
      field->setGeometry(104, top, 100, 22);
    }
    top += 30;
  }
  auto* ok = new QPushButton("OK", this);
  ok->setGeometry(67, top + 6, 86, 26);
  connect(ok, &QPushButton::clicked, this, &QDialog::close);
  setFixedSize(222, top + 44);
  // Designed in pixels for a narrow 11-pixel font: grows as a whole where the texts need it, and
  // where the title bar (its bold caption beside the icon and three buttons) would cut the caption.
  QFont caption = font();
  caption.setBold(true);
  const int title_width = QFontMetrics(caption).horizontalAdvance(windowTitle()) + TITLE_BAR_EXTRA;
  const double factor = std::max(Layout_Factor(*this), std::ceil(title_width * 20.0 / 222) / 20);
  Scale_Layout(*this, factor);
  setFixedSize(Scaled(222, factor), Scaled(top + 44, factor));

  Fill_Baud_Rates();
  connect(ComboBox_COM_Baud, &QComboBox::currentTextChanged, this,
          &TForm_Com_Settings::ComboBox_COM_BaudChange);
}

void TForm_Com_Settings::Fill_Baud_Rates() {
  const QSignalBlocker quiet(ComboBox_COM_Baud);
  ComboBox_COM_Baud->clear();
  for (int rate : BAUD_RATES) ComboBox_COM_Baud->addItem(QString::number(rate));
  const int index = ComboBox_COM_Baud->findText(QString::number(settings_.COM_Baud));
  ComboBox_COM_Baud->setCurrentIndex(index);
  ComboBox_COM_Baud->setEditText(QString::number(settings_.COM_Baud));
}

void TForm_Com_Settings::ComboBox_COM_BaudChange(const QString& text) {
  int32_t rate = 0;
  if (!Parse_Whole_Number(text.toStdString(), rate))
    return host_.Message_Box(Invalid_Integer_Text(text.toStdString()));
  settings_.COM_Baud = rate;
  host_.Update_Save_Button();
}

void TForm_Com_Settings::showEvent(QShowEvent* event) {
  if (centre_on_ != nullptr) Centre_Over(*this, centre_on_->frameGeometry());
  QDialog::showEvent(event);
}

void Com_Ports_Available(QComboBox& box, Settings_Record& settings, bool serial_port_open,
                         const Port_Scan& scan) {
  const QSignalBlocker quiet(&box);
  const std::string_view configured = Field_Text(settings.COM_Name);
  if (serial_port_open) {
    box.setEditText(QString::fromLatin1(configured.data(), configured.size()));
    return;
  }
  const std::vector<std::string> ports = scan ? scan() : std::vector<std::string>{};
  box.clear();
  for (const std::string& name : ports) box.addItem(QString::fromStdString(name));
  const Com_Port_Choice choice = Choose_Com_Port(ports, configured);
  if (configured.empty() && choice.COM_Name.size() < sizeof settings.COM_Name) {
    std::memset(settings.COM_Name, 0, sizeof settings.COM_Name);
    std::memcpy(settings.COM_Name, choice.COM_Name.data(), choice.COM_Name.size());
  }
  box.setCurrentIndex(choice.Selected);
  if (choice.Selected < 0) box.setEditText(QString());
}
