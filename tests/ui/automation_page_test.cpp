// The "Automation Software Interface" tab: the locking rules of the link modes, the prompt tick,
// the number edits and the serial port list.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cstring>

#include "ui/automation_page.h"
#include "ui/com_settings_form.h"
#include "ui/ui_fixture.h"

namespace {

class Automation_Page_Test : public Main_Form_Test {
 protected:
  Automation_Page_Test() {
    form->Set_Com_Settings(&dialog);
    page.Set_Prompt_Tick([this] { ++prompts; });
    page.Set_Serial_Port([this] { return serial_open; }, [this] { return free_ports; });
  }

  TAutomation_Page& page = form->Automation_Page();
  TForm_Com_Settings dialog{settings, *form, form.get()};
  int prompts = 0;
  bool serial_open = false;
  std::vector<std::string> free_ports;
};

TEST_F(Automation_Page_Test, EnablingFollowsTheLinkModeAndTheTcpMode) {
  struct Case {
    uint8_t mode, server;
    bool serial_open_box, tcp_open_box, parameters, ip;
  };
  const Case cases[] = {
      {0, 1, true, true, true, false},    // off, server mode: no address needed
      {0, 0, true, true, true, true},     // off, client mode
      {1, 1, false, true, false, false},  // TCP link open
      {1, 0, false, true, false, false}, {2, 1, true, false, false, false},  // serial link open
      {2, 0, true, false, false, false},
  };
  for (const Case& c : cases) {
    settings.Out_Mode = c.mode;
    settings.Out_TCP_Server = c.server;
    page.Refresh_Mon_Out();
    SCOPED_TRACE(testing::Message() << "mode " << int(c.mode) << " server " << int(c.server));
    EXPECT_EQ(page.CheckBox_Mon_Port_Open_Serial->isEnabled(), c.serial_open_box);
    EXPECT_EQ(page.CheckBox_Mon_Port_Open_Serial->isChecked(), c.mode == 2);
    EXPECT_EQ(page.CheckBox_Mon_Port_Open_TCP->isEnabled(), c.tcp_open_box);
    EXPECT_EQ(page.CheckBox_Mon_Port_Open_TCP->isChecked(), c.mode == 1);
    for (QWidget* w : std::initializer_list<QWidget*>{
             page.ComboBox_COM_Nr, page.LabeledEdit_Mon_Port, page.RadioButton_Mon_Server,
             page.RadioButton_Mon_Client, page.Button_Com_Settings, dialog.ComboBox_COM_Baud})
      EXPECT_EQ(w->isEnabled(), c.parameters) << w->metaObject()->className();
    EXPECT_EQ(page.LabeledEdit_Out_IP->isEnabled(), c.ip);
    EXPECT_EQ(page.RadioButton_Mon_Server->isChecked(), c.server == 1);
  }
}

TEST_F(Automation_Page_Test, OpenBoxesSetTheModeAndPromptTheLink) {
  page.Refresh_Mon_Out();
  page.CheckBox_Mon_Port_Open_TCP->click();
  EXPECT_EQ(settings.Out_Mode, 1);
  EXPECT_EQ(prompts, 1);
  EXPECT_FALSE(page.CheckBox_Mon_Port_Open_Serial->isEnabled());
  EXPECT_TRUE(form->BitBtn_Save->isEnabled());
  page.CheckBox_Mon_Port_Open_TCP->click();
  EXPECT_EQ(settings.Out_Mode, 0);
  EXPECT_FALSE(form->BitBtn_Save->isEnabled());

  page.CheckBox_Mon_Port_Open_Serial->click();
  EXPECT_EQ(settings.Out_Mode, 2);
  EXPECT_EQ(prompts, 3);
  page.RadioButton_Mon_Client->click();  // locked: nothing changes
  EXPECT_EQ(settings.Out_TCP_Server, 1);
  page.CheckBox_Mon_Port_Open_Serial->click();
  page.RadioButton_Mon_Client->click();
  EXPECT_EQ(settings.Out_TCP_Server, 0);
  EXPECT_TRUE(page.LabeledEdit_Out_IP->isEnabled());
  page.RadioButton_Mon_Server->click();
  EXPECT_FALSE(page.LabeledEdit_Out_IP->isEnabled());
}

TEST_F(Automation_Page_Test, NumberEditsStoreTheirWidths) {
  page.Refresh_Mon_Out();
  page.LabeledEdit_Test_Rec_Nr->clear();
  Type_Keys(page.LabeledEdit_Test_Rec_Nr, "200");
  EXPECT_EQ(static_cast<uint8_t>(settings.HB_Receiver_Nr), 0xC8);
  EXPECT_EQ(settings.HB_Receiver_Nr, -56);
  page.Refresh_Mon_Out();
  EXPECT_EQ(page.LabeledEdit_Test_Rec_Nr->text(), "-56");

  page.LabeledEdit_Test_Heartbeat_Period->setText("0");
  EXPECT_EQ(settings.HB_Period, 0);
  EXPECT_EQ(page.LabeledEdit_Test_Heartbeat_Period->toolTip(),
            "Enter 0 to disable the Heartbeat Signal");

  page.LabeledEdit_Mon_Port->setText("99a");
  EXPECT_EQ(settings.Out_Port, 9999);
  ASSERT_EQ(boxes.requests.size(), 1u);
  EXPECT_EQ(boxes.requests[0].Text, "'99a' is not a valid integer value");

  page.LabeledEdit_Out_IP->setText("10.0.0.1");
  EXPECT_STREQ(settings.Out_IP, "10.0.0.1");
  page.ComboBox1->setCurrentIndex(1);
  EXPECT_EQ(settings.Report_Format, 1);
}

TEST_F(Automation_Page_Test, BaudRateBoxStoresAnyWholeNumber) {
  page.Refresh_Mon_Out();
  EXPECT_EQ(dialog.ComboBox_COM_Baud->count(), 8);
  EXPECT_EQ(dialog.ComboBox_COM_Baud->currentText(), "9600");
  dialog.ComboBox_COM_Baud->setEditText("14400");
  EXPECT_EQ(settings.COM_Baud, 14400);
  EXPECT_TRUE(form->BitBtn_Save->isEnabled());
  dialog.ComboBox_COM_Baud->setEditText("");
  EXPECT_EQ(settings.COM_Baud, 14400);
  ASSERT_EQ(boxes.requests.size(), 1u);
  EXPECT_EQ(boxes.requests[0].Text, "'' is not a valid integer value");
}

TEST_F(Automation_Page_Test, PortListTakesTheFirstFreePortWhenNoneIsConfigured) {
  free_ports = {"COM3", "COM5"};
  form->PageControl_Receiver->setCurrentIndex(1);  // showing the tab scans the ports
  EXPECT_EQ(page.ComboBox_COM_Nr->count(), 2);
  EXPECT_EQ(page.ComboBox_COM_Nr->currentText(), "COM3");
  EXPECT_STREQ(settings.COM_Name, "COM3");
  // The list changed the record, not the Save button's state.
  EXPECT_FALSE(form->BitBtn_Save->isEnabled());

  std::strcpy(settings.COM_Name, "COM4");  // busy or missing
  page.Refresh_Port_List();
  EXPECT_EQ(page.ComboBox_COM_Nr->count(), 2);
  EXPECT_EQ(page.ComboBox_COM_Nr->currentIndex(), -1);
  EXPECT_EQ(page.ComboBox_COM_Nr->currentText(), "");
  EXPECT_STREQ(settings.COM_Name, "COM4");

  serial_open = true;
  free_ports = {};
  page.Refresh_Port_List();
  EXPECT_EQ(page.ComboBox_COM_Nr->currentText(), "COM4");

  page.ComboBox_COM_Nr->setEditText("COM12345");  // longer than the field: cut to 5
  EXPECT_STREQ(settings.COM_Name, "COM12");
}

}  // namespace
