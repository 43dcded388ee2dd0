// Not a test of the suite: scripts/screenshots.sh runs this case on Xvfb with openbox and sets
// QUENOR_SCREENSHOT_DIR; it writes one PNG per window, title bar and frame included, with the
// content an operator sees after a while. Skipped everywhere else.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QScreen>
#include <QTabWidget>
#include <QWindow>

#include <QCheckBox>
#include <QRadioButton>
#include "program_screen.h"

#include "ui/receiver_page.h"

namespace {

// Shows `window` in front, waits until the window manager made it active and it has been
// painted, then saves its frame as `name`.png in `folder`.
void Shoot(QWidget& window, const QDir& folder, const QString& name) {
  window.show();
  window.raise();
  window.activateWindow();
  ASSERT_TRUE(Wait_Until([&] {
    return window.windowHandle() != nullptr && window.windowHandle()->isExposed() &&
           window.isActiveWindow();
  })) << name.toStdString();
  // The window manager's frame (title bar included) is reported a moment after the window shows.
  Wait_Until([&] { return window.frameGeometry().top() < window.geometry().top(); },
             std::chrono::milliseconds(2000));
  window.repaint();
  QCoreApplication::processEvents();
  const QRect frame = window.frameGeometry();
  const QPixmap picture =
      window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
  ASSERT_TRUE(picture.save(folder.filePath(name + ".png"))) << name.toStdString();
}

TEST(Screenshots, One_Picture_Per_Window) {
  const QString folder_path = qEnvironmentVariable("QUENOR_SCREENSHOT_DIR");
  if (folder_path.isEmpty() || !On_X_Server()) GTEST_SKIP() << "run by scripts/screenshots.sh";
  // The program's own font (main() sets 11 pixels).
  QFont font = QApplication::font();
  font.setPixelSize(11);
  QApplication::setFont(font);
  const QDir folder(folder_path);
  Program_Screen screen;
  Fill_With_Content(screen);

  TMain_Form& main_form = screen.main_form;
  main_form.PageControl_Receiver->setCurrentIndex(0);
  Shoot(main_form, folder, "main_receiver_tab");
  // A 256-bit key in hex, shown.
  TReceiver_Page& page = main_form.Receiver_Page();
  for (int i = 0; i < 32; ++i)
    screen.core.Settings().DC9_AES_Key[i] = static_cast<uint8_t>(0x1F * i);
  page.RadioButton_DC9_AES_256->click();
  page.RadioButton_Aes_Key_Hex->click();
  page.CheckBox_Show_AES_Password->click();
  Shoot(main_form, folder, "main_receiver_tab_aes256_hex");
  page.CheckBox_Show_AES_Password->click();
  page.RadioButton_Aes_Key_Text->click();
  page.RadioButton_DC9_AES_Off->click();
  main_form.PageControl_Receiver->setCurrentIndex(1);
  Shoot(main_form, folder, "main_automation_tab");
  main_form.PageControl_Receiver->setCurrentIndex(0);

  Shoot(screen.com_settings, folder, "serial_dialog");
  screen.com_settings.hide();
  Shoot(screen.about, folder, "about");
  screen.about.hide();

  Shoot(screen.windows.Events(), folder, "event_list");
  screen.windows.Events().hide();
  Shoot(screen.windows.Objects(), folder, "object_list");
  screen.windows.Objects().hide();

  TForm_Log_Test& data_log = screen.windows.Data_Log();
  data_log.show();
  data_log.Data_Log_Line("");
  data_log.Data_Log_Line(
      "14:03:07:5  \n18C2\"ADM-CID\"0001R1L1#1234[#1234|1401 01 015]_14:03:07,12-10-2026\r");
  data_log.Data_Log_Line("14:03:07:61  RX: 6");
  Shoot(data_log, folder, "data_log");
  data_log.hide();

  Shoot(screen.log_form, folder, "system_log");
  screen.log_form.hide();
}

// The whole screen with the main window and the three lists at their first places, as the X
// server shows it (imagemagick's import of the root window): "default_places.png".
TEST(Screenshots, The_Lists_At_Their_First_Places) {
  const QString folder_path = qEnvironmentVariable("QUENOR_SCREENSHOT_DIR");
  if (folder_path.isEmpty() || !On_X_Server()) GTEST_SKIP() << "run by scripts/screenshots.sh";
  QFont font = QApplication::font();
  font.setPixelSize(11);
  QApplication::setFont(font);
  Program_Screen screen;
  Fill_With_Content(screen);
  auto framed_and_active = [](QWidget& window) {
    return Wait_Until([&] {
      return window.isActiveWindow() && window.frameGeometry().top() < window.geometry().top();
    });
  };
  screen.main_form.show();
  ASSERT_TRUE(framed_and_active(screen.main_form));
  Operator_Windows::Show_Window(screen.windows.Events());
  ASSERT_TRUE(framed_and_active(screen.windows.Events()));
  Operator_Windows::Show_Window(screen.windows.Objects());
  ASSERT_TRUE(framed_and_active(screen.windows.Objects()));
  screen.main_form.Menu_System_Log->trigger();
  ASSERT_TRUE(framed_and_active(screen.log_form));
  QCoreApplication::processEvents();
  const QString path = QDir(folder_path).filePath("default_places.png");
  Run_X_Tool("import", {"-window", "root", path});
  EXPECT_TRUE(QFileInfo::exists(path));
}

}  // namespace
