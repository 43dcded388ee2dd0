// The "DC-09 Receiver" tab as the operator uses it: the Save button against the file, the locking
// while the port is open, and the Text and Hex key entry.
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <cstring>

#include "ui/receiver_page.h"
#include "ui/ui_fixture.h"

namespace {

class Receiver_Page_Test : public Main_Form_Test {
 protected:
  TReceiver_Page& page = form->Receiver_Page();

  void Type_Into(QLineEdit* edit, const char* text) {
    edit->clear();
    Type_Keys(edit, text);
  }
};

TEST_F(Receiver_Page_Test, SaveButtonFollowsTheFileAndNoKeepsIt) {
  EXPECT_FALSE(form->BitBtn_Save->isEnabled());
  Type_Into(page.LabeledEdit_DC9_Port, "7778");
  EXPECT_EQ(settings.DC9_Port, 7778);
  EXPECT_TRUE(form->BitBtn_Save->isEnabled());
  Type_Into(page.LabeledEdit_DC9_Port, "7777");
  EXPECT_FALSE(form->BitBtn_Save->isEnabled());

  Type_Into(page.LabeledEdit_DC9_Port, "7778");
  const QByteArray before = Read_File(settings_path);
  boxes.answers = {QMessageBox::No};
  form->BitBtn_Save->click();
  ASSERT_EQ(boxes.requests.size(), 1u);
  EXPECT_EQ(boxes.requests[0].Buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(boxes.requests[0].Icon, QMessageBox::Question);
  EXPECT_EQ(boxes.requests[0].Text, "Save current settings?");
  EXPECT_EQ(boxes.requests[0].Title, "ORN RAD-EZ Ududerud");
  EXPECT_EQ(Read_File(settings_path), before);
  EXPECT_TRUE(form->BitBtn_Save->isEnabled());

  boxes.answers = {QMessageBox::Yes};
  form->BitBtn_Save->click();
  const QByteArray after = Read_File(settings_path);
  ASSERT_EQ(after.size(), 256);
  EXPECT_EQ(std::memcmp(after.constData(), &settings, 256), 0);
  EXPECT_FALSE(form->BitBtn_Save->isEnabled());
}

TEST_F(Receiver_Page_Test, EmptyOrInvalidNumbersKeepTheSetting) {
  page.LabeledEdit_DC9_Port->clear();
  EXPECT_EQ(settings.DC9_Port, 7777);
  EXPECT_TRUE(boxes.requests.empty());

  Type_Keys(page.LabeledEdit_DC9_Conn_Timeout, "x");  // "30x"
  EXPECT_EQ(settings.DC9_Conn_Timeout, 30);
  ASSERT_EQ(boxes.requests.size(), 1u);
  EXPECT_EQ(boxes.requests[0].Text, "'30x' is not a valid integer value");
  EXPECT_EQ(boxes.requests[0].Buttons, QMessageBox::Ok);
  // The same warning icon as the Object List's refusal of a timeout.
  EXPECT_EQ(boxes.requests[0].Icon, QMessageBox::Warning);
}

TEST_F(Receiver_Page_Test, UdpAndRepeatWindowWriteTheirFields) {
  EXPECT_FALSE(page.CheckBox_DC9_UDP_Enable->isChecked());
  EXPECT_EQ(page.LabeledEdit_DC9_Repeat_Window->text(), "0");
  page.CheckBox_DC9_UDP_Enable->click();
  EXPECT_EQ(settings.DC9_UDP_Enable, 1);
  EXPECT_TRUE(form->BitBtn_Save->isEnabled());
  Type_Into(page.LabeledEdit_DC9_Repeat_Window, "15");
  EXPECT_EQ(settings.DC9_Repeat_Window, 15);
  // Beyond an hour is refused and keeps the setting.
  Type_Into(page.LabeledEdit_DC9_Repeat_Window, "61");
  EXPECT_EQ(settings.DC9_Repeat_Window, 6);  // "6" was typed on the way
  ASSERT_EQ(boxes.requests.size(), 1u);
  EXPECT_EQ(boxes.requests[0].Text, "'61' is not a valid integer value");
  page.CheckBox_DC9_UDP_Enable->click();
  EXPECT_EQ(settings.DC9_UDP_Enable, 0);
}

TEST_F(Receiver_Page_Test, EverythingButOpenIsLockedWhileThePortIsOpen) {
  int prompts = 0;
  page.Set_Port_Prompt([&] { ++prompts; });
  const std::vector<QWidget*> locked = {
      page.LabeledEdit_DC9_Port,         page.LabeledEdit_DC9_Conn_Timeout,
      page.CheckBox_Time_Synch,          page.RadioButton_DC9_AES_Off,
      page.RadioButton_DC9_AES_128,      page.RadioButton_DC9_AES_192,
      page.RadioButton_DC9_AES_256,      page.LabeledEdit_DC9_Encoding_Key,
      page.RadioButton_Aes_Key_Text,     page.RadioButton_Aes_Key_Hex,
      page.CheckBox_Show_AES_Password,   page.CheckBox_DC9_UDP_Enable,
      page.LabeledEdit_DC9_Repeat_Window};

  page.CheckBox_DC9_Port_Enable->click();
  EXPECT_EQ(settings.DC9_Port_Enable, 1);
  EXPECT_EQ(prompts, 1);
  EXPECT_TRUE(page.CheckBox_DC9_Port_Enable->isEnabled());
  for (QWidget* control : locked) EXPECT_FALSE(control->isEnabled()) << control->metaObject();

  page.CheckBox_DC9_Port_Enable->click();
  EXPECT_EQ(settings.DC9_Port_Enable, 0);
  EXPECT_EQ(prompts, 2);
  for (QWidget* control : locked) EXPECT_TRUE(control->isEnabled());
}

TEST_F(Receiver_Page_Test, HexDigitsSetNibblesAndTheRefreshShowsLowerCase) {
  page.RadioButton_DC9_AES_128->click();
  page.RadioButton_Aes_Key_Hex->click();
  EXPECT_EQ(page.LabeledEdit_DC9_Encoding_Key->maxLength(), 32);
  for (int i = 0; i < 32; ++i) settings.DC9_AES_Key[i] = static_cast<uint8_t>(0xB0 + (i & 0xF));

  Type_Into(page.LabeledEdit_DC9_Encoding_Key, "0A");
  EXPECT_EQ(settings.DC9_AES_Key[0], 0x0A);
  for (int i = 1; i < 32; ++i) EXPECT_EQ(settings.DC9_AES_Key[i], 0xB0 + (i & 0xF)) << i;

  page.Refresh_Receiver();
  const QString shown = page.LabeledEdit_DC9_Encoding_Key->text();
  EXPECT_EQ(shown.size(), 32);
  EXPECT_TRUE(shown.startsWith("0ab1b2b3")) << shown.toStdString();
  EXPECT_EQ(form->beeps, 0);
}

TEST_F(Receiver_Page_Test, AWrongHexCharacterIsCutWithABeep) {
  page.RadioButton_DC9_AES_128->click();
  page.RadioButton_Aes_Key_Hex->click();
  Type_Into(page.LabeledEdit_DC9_Encoding_Key, "1fG");
  EXPECT_EQ(page.LabeledEdit_DC9_Encoding_Key->text(), "1f");
  EXPECT_EQ(page.LabeledEdit_DC9_Encoding_Key->cursorPosition(), 2);
  EXPECT_EQ(settings.DC9_AES_Key[0], 0x1F);
  EXPECT_EQ(form->beeps, 1);
}

TEST_F(Receiver_Page_Test, HexKeyWithAZeroByteShowsInTextUpToIt) {
  page.RadioButton_DC9_AES_128->click();
  page.RadioButton_Aes_Key_Hex->click();
  Type_Into(page.LabeledEdit_DC9_Encoding_Key, "410042");
  EXPECT_EQ(settings.DC9_AES_Key[2], 0x42);

  page.RadioButton_Aes_Key_Text->click();
  EXPECT_EQ(page.LabeledEdit_DC9_Encoding_Key->text(), "A");
  EXPECT_EQ(settings.DC9_AES_Key[0], 'A');
  for (int i = 1; i < 32; ++i) EXPECT_EQ(settings.DC9_AES_Key[i], 0) << i;
}

TEST_F(Receiver_Page_Test, TextKeyIsTheTextFollowedByZeros) {
  std::memset(settings.DC9_AES_Key, 0x55, 32);
  page.RadioButton_DC9_AES_256->click();
  EXPECT_EQ(page.LabeledEdit_DC9_Encoding_Key->maxLength(), 32);
  Type_Into(page.LabeledEdit_DC9_Encoding_Key, "abc");
  EXPECT_EQ(std::memcmp(settings.DC9_AES_Key, "abc", 3), 0);
  for (int i = 3; i < 32; ++i) EXPECT_EQ(settings.DC9_AES_Key[i], 0) << i;
  EXPECT_TRUE(form->BitBtn_Save->isEnabled());

  // Switching to Hex shows the same bytes; AES 128 shows only the first 16.
  page.RadioButton_Aes_Key_Hex->click();
  EXPECT_EQ(page.LabeledEdit_DC9_Encoding_Key->text(), QString("616263") + QString(58, '0'));
  page.RadioButton_DC9_AES_128->click();
  EXPECT_EQ(page.LabeledEdit_DC9_Encoding_Key->text().size(), 32);
}

TEST_F(Receiver_Page_Test, ShowTogglesTheMask) {
  QLineEdit* key = page.LabeledEdit_DC9_Encoding_Key;
  EXPECT_EQ(key->echoMode(), QLineEdit::Password);
  EXPECT_TRUE(key->font().bold());
  page.CheckBox_Show_AES_Password->click();
  EXPECT_EQ(key->echoMode(), QLineEdit::Normal);
  EXPECT_FALSE(key->font().bold());
}

}  // namespace

// Bytes beyond the mode's length stay as stored: a change to a shorter mode (or Off) and back
// shows the whole key again, and the start-up refresh neither cuts it nor lights Save.
TEST_F(Receiver_Page_Test, KeyBytesBeyondTheModeLengthAreKept) {
  page.RadioButton_DC9_AES_256->click();
  Type_Into(page.LabeledEdit_DC9_Encoding_Key, "0123456789abcdefGHIJKLMNOPQRSTUV");
  const QByteArray key = QByteArray("0123456789abcdefGHIJKLMNOPQRSTUV");
  for (QRadioButton* shorter : {page.RadioButton_DC9_AES_128, page.RadioButton_DC9_AES_Off}) {
    shorter->click();
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(settings.DC9_AES_Key), 32), key);
    page.RadioButton_DC9_AES_256->click();
    EXPECT_EQ(page.LabeledEdit_DC9_Encoding_Key->text(), QString::fromLatin1(key));
  }
  page.RadioButton_DC9_AES_Off->click();
  boxes.answers = {QMessageBox::Yes};  // "Save current settings?" on Exit
  form->Tray_Exit->trigger();
  Settings_Record stored{};
  Settings_Load(stored, settings_path);
  EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(stored.DC9_AES_Key), 32), key);

  // A fresh main window over the stored file (the next start) keeps the key and leaves Save off.
  Settings_Record next{};
  Settings_Load(next, settings_path);
  Counting_Form restarted(next, settings_path, log);
  restarted.Enter_Start_State();
  EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(next.DC9_AES_Key), 32), key);
  EXPECT_FALSE(restarted.BitBtn_Save->isEnabled());
}
