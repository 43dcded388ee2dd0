#include "ui/receiver_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionFrame>
#include <cstring>

#include "base/settings_rules.h"
#include "ui/widgets/page_host.h"
#include "ui/widgets/page_widgets.h"

namespace {

int Hex_Digit(QChar c) {
  const char16_t u = c.unicode();
  if (u >= '0' && u <= '9') return u - '0';
  if (u >= 'a' && u <= 'f') return u - 'a' + 10;
  if (u >= 'A' && u <= 'F') return u - 'A' + 10;
  return -1;
}

}  // namespace

TReceiver_Page::TReceiver_Page(Settings_Record& settings, Page_Host& host, QWidget* parent)
    : QWidget(parent), settings_(settings), host_(host) {
  auto* port_group = new QGroupBox("Receiver Port", this);
  port_group->setGeometry(8, 6, 186, 74);
  CheckBox_DC9_Port_Enable = Add_Button<QCheckBox>(port_group, "Open", 12, 24);
  Add_Label(port_group, "Port: ", 80, 26);
  LabeledEdit_DC9_Port = Add_Edit(port_group, 114, 22, 56, 5);
  CheckBox_DC9_UDP_Enable = Add_Button<QCheckBox>(port_group, "UDP", 12, 48);

  auto* connection_group = new QGroupBox("Connection Settings", this);
  connection_group->setGeometry(8, 84, 186, 48);
  Add_Label(connection_group, "Connection Timeout: ", 12, 22);
  LabeledEdit_DC9_Conn_Timeout = Add_Edit(connection_group, 126, 18, 30, 3);
  Add_Label(connection_group, "sec.", 160, 22);

  auto* additional_group = new QGroupBox("Additional Settings", this);
  additional_group->setGeometry(8, 136, 186, 70);
  CheckBox_Time_Synch = Add_Button<QCheckBox>(additional_group, "Time Synchronization", 12, 20);
  Add_Label(additional_group, "Repeat window: ", 12, 46);
  LabeledEdit_DC9_Repeat_Window = Add_Edit(additional_group, 112, 42, 30, 2);
  Add_Label(additional_group, "min", 146, 46);

  auto* encryption_group = new QGroupBox("Encryption", this);
  encryption_group->setGeometry(202, 6, 279, 200);
  RadioButton_DC9_AES_Off = Add_Button<QRadioButton>(encryption_group, "Off", 12, 24);
  RadioButton_DC9_AES_128 = Add_Button<QRadioButton>(encryption_group, "AES 128", 60, 24);
  RadioButton_DC9_AES_192 = Add_Button<QRadioButton>(encryption_group, "AES 192", 128, 24);
  RadioButton_DC9_AES_256 = Add_Button<QRadioButton>(encryption_group, "AES 256", 196, 24);
  Add_Label(encryption_group, "Key: ", 12, 64);
  LabeledEdit_DC9_Encoding_Key = Add_Edit(encryption_group, 44, 60, 223, 16);
  // Hidden keys show a bold * per character.
  LabeledEdit_DC9_Encoding_Key->setStyleSheet("QLineEdit { lineedit-password-character: 42; }");
  Add_Label(encryption_group, "Key Format:", 12, 100);
  RadioButton_Aes_Key_Text = Add_Button<QRadioButton>(encryption_group, "Text", 84, 98);
  RadioButton_Aes_Key_Hex = Add_Button<QRadioButton>(encryption_group, "Hex", 140, 98);
  CheckBox_Show_AES_Password = Add_Button<QCheckBox>(encryption_group, "Show", 12, 134);

  aes_mode_group_ = new QButtonGroup(this);
  aes_mode_group_->addButton(RadioButton_DC9_AES_Off, 0);
  aes_mode_group_->addButton(RadioButton_DC9_AES_128, 1);
  aes_mode_group_->addButton(RadioButton_DC9_AES_192, 2);
  aes_mode_group_->addButton(RadioButton_DC9_AES_256, 3);
  key_format_group_ = new QButtonGroup(this);
  key_format_group_->addButton(RadioButton_Aes_Key_Text);
  key_format_group_->addButton(RadioButton_Aes_Key_Hex);
  RadioButton_Aes_Key_Text->setChecked(true);
  CheckBox_Show_AES_PasswordClick();

  connect(CheckBox_DC9_Port_Enable, &QCheckBox::clicked, this,
          &TReceiver_Page::CheckBox_DC9_Port_EnableClick);
  connect(LabeledEdit_DC9_Port, &QLineEdit::textChanged, this,
          [this] { Number_Edited(LabeledEdit_DC9_Port, settings_.DC9_Port); });
  connect(LabeledEdit_DC9_Conn_Timeout, &QLineEdit::textChanged, this,
          [this] { Number_Edited(LabeledEdit_DC9_Conn_Timeout, settings_.DC9_Conn_Timeout); });
  connect(CheckBox_Time_Synch, &QCheckBox::clicked, this,
          &TReceiver_Page::CheckBox_Time_SynchClick);
  connect(CheckBox_DC9_UDP_Enable, &QCheckBox::clicked, this, [this] {
    settings_.DC9_UDP_Enable = CheckBox_DC9_UDP_Enable->isChecked() ? 1 : 0;
    Refresh_Receiver();
  });
  connect(LabeledEdit_DC9_Repeat_Window, &QLineEdit::textChanged, this,
          &TReceiver_Page::Repeat_Window_Edited);
  connect(aes_mode_group_, &QButtonGroup::idClicked, this, &TReceiver_Page::AES_Mode_Click);
  connect(key_format_group_, &QButtonGroup::buttonClicked, this, [this] { Refresh_Receiver(); });
  connect(LabeledEdit_DC9_Encoding_Key, &QLineEdit::textChanged, this, &TReceiver_Page::Key_Edited);
  connect(LabeledEdit_DC9_Encoding_Key, &QLineEdit::textChanged, this,
          &TReceiver_Page::Fit_Key_Font);
  LabeledEdit_DC9_Encoding_Key->installEventFilter(this);
  connect(CheckBox_Show_AES_Password, &QCheckBox::clicked, this,
          &TReceiver_Page::CheckBox_Show_AES_PasswordClick);
}

void TReceiver_Page::Refresh_Receiver() {
  LabeledEdit_DC9_Port->setText(QString::number(settings_.DC9_Port));
  LabeledEdit_DC9_Conn_Timeout->setText(QString::number(settings_.DC9_Conn_Timeout));
  LabeledEdit_DC9_Repeat_Window->setText(QString::number(settings_.DC9_Repeat_Window));

  const bool open = settings_.DC9_Port_Enable != 0;
  CheckBox_DC9_Port_Enable->setChecked(open);
  for (QWidget* control : std::initializer_list<QWidget*>{
           LabeledEdit_DC9_Port, LabeledEdit_DC9_Conn_Timeout, LabeledEdit_DC9_Encoding_Key,
           RadioButton_DC9_AES_Off, RadioButton_DC9_AES_128, RadioButton_DC9_AES_192,
           RadioButton_DC9_AES_256, RadioButton_Aes_Key_Text, RadioButton_Aes_Key_Hex,
           CheckBox_Show_AES_Password, CheckBox_Time_Synch, CheckBox_DC9_UDP_Enable,
           LabeledEdit_DC9_Repeat_Window})
    control->setEnabled(!open);

  if (QAbstractButton* mode = aes_mode_group_->button(settings_.DC9_AES_Mode)) {
    mode->setChecked(true);
  } else {
    // A mode outside 0..3 checks none of the four buttons.
    aes_mode_group_->setExclusive(false);
    for (QAbstractButton* button : aes_mode_group_->buttons()) button->setChecked(false);
    aes_mode_group_->setExclusive(true);
  }

  const int len = DC9_Key_Length(settings_.DC9_AES_Mode);
  const bool hex = RadioButton_Aes_Key_Hex->isChecked();
  {
    // Shortening the limit is no key entry: the key follows from the text set below.
    const QSignalBlocker quiet(LabeledEdit_DC9_Encoding_Key);
    LabeledEdit_DC9_Encoding_Key->setMaxLength(hex ? 2 * len : len);
  }
  if (!LabeledEdit_DC9_Encoding_Key->hasFocus()) {
    QString shown;
    if (hex) {
      for (int i = 0; i < len; ++i)
        shown += QString::asprintf("%02x", static_cast<unsigned>(settings_.DC9_AES_Key[i]));
    } else {
      const auto* key = reinterpret_cast<const char*>(settings_.DC9_AES_Key);
      shown = QString::fromLatin1(key, static_cast<qsizetype>(strnlen(key, len)));
    }
    // Setting the text runs the key's change handler, as typing it would.
    LabeledEdit_DC9_Encoding_Key->setText(shown);
  }

  CheckBox_Time_Synch->setChecked(settings_.Time_Synch == 1);
  CheckBox_DC9_UDP_Enable->setChecked(settings_.DC9_UDP_Enable == 1);
  host_.Update_Save_Button();
}

void TReceiver_Page::CheckBox_DC9_Port_EnableClick() {
  if (port_prompt_) port_prompt_();
  settings_.DC9_Port_Enable = CheckBox_DC9_Port_Enable->isChecked() ? 1 : 0;
  Refresh_Receiver();
}

void TReceiver_Page::Number_Edited(QLineEdit* edit, int32_t& field) {
  const std::string text = edit->text().toStdString();
  if (text.empty()) return host_.Update_Save_Button();
  int32_t value = 0;
  if (!Parse_Whole_Number(text, value)) return host_.Message_Box(Invalid_Integer_Text(text));
  field = value;
  host_.Update_Save_Button();
}

void TReceiver_Page::Repeat_Window_Edited() {
  const std::string text = LabeledEdit_DC9_Repeat_Window->text().toStdString();
  if (text.empty()) return host_.Update_Save_Button();
  int32_t value = 0;
  if (!Parse_Whole_Number(text, value)) return host_.Message_Box(Invalid_Integer_Text(text));
  // Minutes, 0 (every copy stored) to 60.
  if (value < 0 || value > 60) return host_.Message_Box(Invalid_Integer_Text(text));
  settings_.DC9_Repeat_Window = static_cast<uint8_t>(value);
  host_.Update_Save_Button();
}

void TReceiver_Page::CheckBox_Time_SynchClick() {
  settings_.Time_Synch = CheckBox_Time_Synch->isChecked() ? 1 : 0;
  Refresh_Receiver();
}

void TReceiver_Page::AES_Mode_Click(int mode) {
  settings_.DC9_AES_Mode = static_cast<int8_t>(mode);
  Refresh_Receiver();
}

void TReceiver_Page::Key_Edited(const QString& text) {
  const int len = DC9_Key_Length(settings_.DC9_AES_Mode);
  if (!RadioButton_Aes_Key_Hex->isChecked()) {
    // The field edits the mode's first `len` bytes; the bytes beyond stay as stored, so a
    // longer key survives a change to a shorter mode (and the start-up refresh).
    std::memset(settings_.DC9_AES_Key, 0, static_cast<std::size_t>(len));
    const QByteArray bytes = text.toLatin1();
    if (bytes.size() <= len) std::memcpy(settings_.DC9_AES_Key, bytes.constData(), bytes.size());
    return host_.Update_Save_Button();
  }

  for (int i = 0; i < text.size(); ++i) {
    const int digit = Hex_Digit(text[i]);
    if (digit < 0 || i / 2 >= len) {
      // The text is cut before the first character that cannot be a key digit.
      host_.Beep();
      LabeledEdit_DC9_Encoding_Key->setText(text.left(i));
      LabeledEdit_DC9_Encoding_Key->setCursorPosition(i);
      return;  // the shortened text has run the handler again
    }
    uint8_t& byte = settings_.DC9_AES_Key[i / 2];
    byte = (i % 2 == 0) ? static_cast<uint8_t>((byte & 0x0F) | (digit << 4))
                        : static_cast<uint8_t>((byte & 0xF0) | digit);
  }
  host_.Update_Save_Button();
}

void TReceiver_Page::CheckBox_Show_AES_PasswordClick() {
  const bool show = CheckBox_Show_AES_Password->isChecked();
  LabeledEdit_DC9_Encoding_Key->setEchoMode(show ? QLineEdit::Normal : QLineEdit::Password);
  Fit_Key_Font();
}

void TReceiver_Page::Fit_Key_Font() {
  constexpr int SMALLEST_PIXELS = 7;
  QLineEdit* edit = LabeledEdit_DC9_Encoding_Key;
  // The page's font is the size the field is designed for; hidden keys show in bold.
  QFont font = this->font();
  font.setBold(edit->echoMode() != QLineEdit::Normal);
  int pixels = QFontInfo(font).pixelSize();
  QStyleOptionFrame option;
  option.initFrom(edit);
  option.rect = QRect(QPoint(0, 0), edit->size());
  option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
  const QRect contents = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
  const QMargins margins = edit->textMargins();
  // QLineEdit's own margin of 2 pixels each side, and the caret.
  const int room = contents.width() - margins.left() - margins.right() - 2 * 2 - 1;
  const QString shown = edit->displayText();
  auto fits = [&] { return QFontMetrics(font).horizontalAdvance(shown) <= room; };
  font.setPixelSize(pixels);
  while (!fits() && pixels > SMALLEST_PIXELS) font.setPixelSize(--pixels);
  // At the smallest size the letters move closer together.
  for (int spacing = 95; !fits() && spacing >= 80; spacing -= 5)
    font.setLetterSpacing(QFont::PercentageSpacing, spacing);
  if (font != edit->font()) edit->setFont(font);
}

bool TReceiver_Page::eventFilter(QObject* watched, QEvent* event) {
  // The layout is stretched to the font after the page is built.
  if (watched == LabeledEdit_DC9_Encoding_Key && event->type() == QEvent::Resize) Fit_Key_Font();
  return QWidget::eventFilter(watched, event);
}
