// The windows under a real window manager (Xvfb with openbox, started by
// tests/scripts/window_manager_test.sh): a message box opens above the window the operator works
// in, even when that window or another one stays on top, is the active window, and takes the
// mouse click. Skipped on the offscreen platform.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>
#include <cstring>
#include <vector>

#include "program_screen.h"
#include "ui/widgets/message_box.h"

namespace {

WId Active_X_Window() {
  return Run_X_Tool("xdotool", {"getactivewindow"}).toULongLong();
}

// The managed windows from bottom to top, as the window manager stacks them.
std::vector<WId> X_Stacking() {
  const QString line = Run_X_Tool("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"});
  std::vector<WId> windows;
  const qsizetype hash = line.indexOf('#');
  if (hash < 0) return windows;
  for (const QString& id : line.mid(hash + 1).split(',', Qt::SkipEmptyParts))
    windows.push_back(id.trimmed().toULongLong(nullptr, 16));
  return windows;
}

// The frame of a managed window (title bar and borders included) as the X server has it: the
// client's absolute place from xwininfo widened by the window manager's _NET_FRAME_EXTENTS.
// Empty while the window manager has not framed the window yet.
QRect X_Frame(WId window) {
  const QString extents =
      Run_X_Tool("xprop", {"-id", QString::number(window), "_NET_FRAME_EXTENTS"});
  const qsizetype equals = extents.indexOf('=');
  if (equals < 0) return {};
  const QStringList sides = extents.mid(equals + 1).split(',');
  if (sides.size() != 4) return {};
  const QString info = Run_X_Tool("xwininfo", {"-id", QString::number(window)});
  auto field = [&](const char* name) {
    const qsizetype at = info.indexOf(name);
    return at < 0
               ? -1
               : info.mid(at + qsizetype(std::strlen(name))).section('\n', 0, 0).trimmed().toInt();
  };
  const QRect client(field("Absolute upper-left X:"), field("Absolute upper-left Y:"),
                     field("Width:"), field("Height:"));
  return client.adjusted(-sides[0].trimmed().toInt(), -sides[2].trimmed().toInt(),
                         sides[1].trimmed().toInt(), sides[3].trimmed().toInt());
}

// Waits until the window manager has made `window` the active window and the program knows it.
bool Wait_Active(QWidget& window) {
  return Wait_Until([&] {
    return window.isVisible() && Active_X_Window() == window.winId() &&
           QApplication::activeWindow() == &window;
  });
}

// What the operator met when the next message box opened.
struct Box_Seen {
  QString Text;
  bool Active = false;   // the window manager's active window
  bool On_Top = false;   // the top of the window manager's stack
  bool Clicked = false;  // closed by the mouse click on its button
};

// Watches for the next message box; when it shows, records what the operator sees and clicks its
// No (else OK) button with the mouse, through the X server.
class Box_Watch {
 public:
  Box_Watch() {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }
  Box_Seen seen;
  bool found = false;

 private:
  void Poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    timer_.stop();
    found = true;
    seen.Text = box->text();
    seen.Active = Wait_Until([&] { return Active_X_Window() == box->winId(); },
                             std::chrono::milliseconds(3000));
    seen.On_Top = Wait_Until(
        [&] {
          const std::vector<WId> stack = X_Stacking();
          return !stack.empty() && stack.back() == box->winId();
        },
        std::chrono::milliseconds(3000));
    QAbstractButton* button = box->button(QMessageBox::No);
    if (button == nullptr) button = box->button(QMessageBox::Ok);
    ASSERT_NE(button, nullptr);
    // The point is taken inside the box's own window, as the X server places it now: the window
    // manager may still move a new box after the program last heard of its place.
    const QPoint centre = button->mapTo(box, button->rect().center());
    Run_X_Tool("xdotool", {"mousemove", "--window", QString::number(box->winId()), "--sync",
                           QString::number(centre.x()), QString::number(centre.y()), "click", "1"});
    const bool closed =
        Wait_Until([&] { return !box->isVisible(); }, std::chrono::milliseconds(3000));
    seen.Clicked = closed && box->clickedButton() == button;
    // A box the click did not reach must not hold the test forever.
    if (!closed) box->done(QMessageBox::Cancel);
  }

  QTimer timer_;
};

class Window_Manager_Test : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!On_X_Server()) GTEST_SKIP() << "needs an X server with a window manager";
    // The program's own font (main() sets 11 pixels), by which the windows take their sizes.
    QFont font = QApplication::font();
    font.setPixelSize(11);
    QApplication::setFont(font);
    screen_ = std::make_unique<Program_Screen>();
    screen_->main_form.show();
    ASSERT_TRUE(Wait_Active(screen_->main_form));
  }
  void Expect_Box_Above(const Box_Watch& watch, const char* text) {
    ASSERT_TRUE(watch.found) << text;
    EXPECT_EQ(watch.seen.Text, text);
    EXPECT_TRUE(watch.seen.Active) << text;
    EXPECT_TRUE(watch.seen.On_Top) << text;
    EXPECT_TRUE(watch.seen.Clicked) << text;
  }
  std::unique_ptr<Program_Screen> screen_;
};

TEST_F(Window_Manager_Test, The_Refusal_Of_The_Serial_Dialog_Opens_Above_It) {
  TForm_Com_Settings& dialog = screen_->com_settings;
  dialog.show();
  ASSERT_TRUE(Wait_Active(dialog));
  // The operator empties the baud rate field, the first step of typing a new rate.
  dialog.ComboBox_COM_Baud->setFocus();
  Box_Watch watch;
  Run_X_Tool("xdotool", {"key", "--clearmodifiers", "ctrl+a", "BackSpace"});
  ASSERT_TRUE(Wait_Until([&] { return watch.found; }));
  Expect_Box_Above(watch, "'' is not a valid integer value");
  // The dialog answers the operator again.
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(Window_Manager_Test, A_Box_Raised_While_The_Object_List_Is_Open_Opens_Above_It) {
  Operator_Windows::Show_Window(screen_->windows.Objects());
  ASSERT_TRUE(Wait_Active(screen_->windows.Objects()));
  Box_Watch watch;
  // The link manager's failed open reaches the main window's screen while the list is in front.
  screen_->core.Operator().Show_Message("Error opening COM9. Port already in use?");
  Expect_Box_Above(watch, "Error opening COM9. Port already in use?");
}

TEST_F(Window_Manager_Test, The_Save_Question_Opens_Above_The_Dialogs_That_Stay_On_Top) {
  // The serial dialog and the Data Log stay above the main window, where the question belongs.
  screen_->com_settings.show();
  ASSERT_TRUE(Wait_Active(screen_->com_settings));
  Operator_Windows::Show_Window(screen_->windows.Data_Log());
  ASSERT_TRUE(Wait_Active(screen_->windows.Data_Log()));
  // The operator turns to the main window (as from the taskbar); the two stay above it.
  Run_X_Tool("xdotool", {"windowactivate", QString::number(screen_->main_form.winId())});
  ASSERT_TRUE(Wait_Active(screen_->main_form));
  screen_->core.Settings().DC9_Port = 1234;
  Box_Watch watch;
  screen_->main_form.close();
  Expect_Box_Above(watch, "Save current settings?");
}

TEST_F(Window_Manager_Test, The_System_Log_Opens_Above_The_Lists_That_Stay_On_Top) {
  Operator_Windows::Show_Window(screen_->windows.Events());
  ASSERT_TRUE(Wait_Active(screen_->windows.Events()));
  Operator_Windows::Show_Window(screen_->windows.Objects());
  ASSERT_TRUE(Wait_Active(screen_->windows.Objects()));
  screen_->main_form.Menu_System_Log->trigger();
  const WId log = screen_->log_form.winId();
  EXPECT_TRUE(Wait_Until([&] {
    const std::vector<WId> stack = X_Stacking();
    return !stack.empty() && stack.back() == log;
  }));
}

TEST_F(Window_Manager_Test, The_Lists_First_Open_Beside_One_Another_Clear_Of_The_Menu_And_Save) {
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  ASSERT_EQ(screen.size(), QSize(1280, 1024)) << "the places are checked on a 1280 x 1024 screen";
  // The main window opens centred; its title bar, menu bar and Save button must stay in reach.
  TMain_Form& main_form = screen_->main_form;
  const QRect main_frame = X_Frame(main_form.winId());
  ASSERT_FALSE(main_frame.isEmpty());
  const int save_bottom =
      main_form.BitBtn_Save->mapToGlobal(QPoint(0, main_form.BitBtn_Save->height() - 1)).y();
  const QRect keep_clear(main_frame.topLeft(), QPoint(main_frame.right(), save_bottom));
  ASSERT_GT(save_bottom, main_form.menuBar()->mapToGlobal(QPoint(0, 0)).y());

  Operator_Windows::Show_Window(screen_->windows.Events());
  ASSERT_TRUE(Wait_Active(screen_->windows.Events()));
  Operator_Windows::Show_Window(screen_->windows.Objects());
  ASSERT_TRUE(Wait_Active(screen_->windows.Objects()));
  main_form.Menu_System_Log->trigger();
  ASSERT_TRUE(Wait_Active(screen_->log_form));

  struct Shown {
    const char* Name;
    QWidget* Window;
    QRect Frame;
  };
  std::vector<Shown> lists = {{"Event List", &screen_->windows.Events(), {}},
                              {"Object List", &screen_->windows.Objects(), {}},
                              {"System Log", &screen_->log_form, {}}};
  for (Shown& list : lists) {
    // The frame, once the window manager has framed the window where the program asked.
    ASSERT_TRUE(Wait_Until([&] {
      list.Frame = X_Frame(list.Window->winId());
      return !list.Frame.isEmpty() && list.Frame == list.Window->frameGeometry();
    })) << list.Name
        << " at " << list.Frame.x() << "," << list.Frame.y();
    EXPECT_TRUE(screen.contains(list.Frame)) << list.Name;
    EXPECT_FALSE(list.Frame.intersects(keep_clear)) << list.Name;
    // Smaller than its default where the room asks for it, never below its minimum.
    EXPECT_GE(list.Window->width(), list.Window->minimumWidth()) << list.Name;
    EXPECT_GE(list.Window->height(), std::max(list.Window->minimumHeight(), 150)) << list.Name;
    EXPECT_EQ(list.Window->windowTitle(), list.Name);
  }
  for (size_t a = 0; a < lists.size(); ++a)
    for (size_t b = a + 1; b < lists.size(); ++b)
      EXPECT_FALSE(lists[a].Frame.intersects(lists[b].Frame))
          << lists[a].Name << " covers " << lists[b].Name;
}

// With a notification area on the desktop (the script starts one at the bottom edge), the window
// closed to it shows its balloon at the icon, where the X server has the icon: the balloon's
// bottom edge just above the icon, the icon's centre within the balloon's width.
TEST_F(Window_Manager_Test, The_Balloon_Points_At_The_Notification_Icon) {
  ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable()) << "no notification area on the desktop";
  TMain_Form& main_form = screen_->main_form;
  main_form.Set_Tray_Available([] { return true; });
  main_form.close();
  QWidget* balloon = nullptr;
  QWidget* icon_window = nullptr;
  ASSERT_TRUE(Wait_Until([&] {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (window->isVisible() && window->objectName() == "Tray_Balloon") balloon = window;
      if (window->inherits("QSystemTrayIconSys")) icon_window = window;
    }
    return balloon != nullptr && icon_window != nullptr;
  }));
  // The icon's place from the X server (absolute, whatever window holds it).
  const QString info = Run_X_Tool("xwininfo", {"-id", QString::number(icon_window->winId())});
  auto field = [&](const char* name) {
    const qsizetype at = info.indexOf(name);
    return info.mid(at + qsizetype(std::strlen(name))).section('\n', 0, 0).trimmed().toInt();
  };
  const QRect icon(field("Absolute upper-left X:"), field("Absolute upper-left Y:"),
                   field("Width:"), field("Height:"));
  ASSERT_GT(icon.top(), 512) << "the notification area is at the bottom edge";
  const QRect tip = balloon->frameGeometry();
  EXPECT_GE(icon.center().x(), tip.left()) << "icon x " << icon.x() << ", balloon x " << tip.x();
  EXPECT_LE(icon.center().x(), tip.right()) << "icon x " << icon.x() << ", balloon x " << tip.x();
  EXPECT_LT(tip.bottom(), icon.top());
  EXPECT_GE(tip.bottom(), icon.top() - 16) << "icon y " << icon.y() << ", balloon y " << tip.y();
  main_form.Restore_From_Tray();
}

// The boxes the program raises, each titled whole in the window manager's title bar: the box is
// at least as wide as its title in the title bar's font (openbox's default, sans bold 8 points)
// with the title bar's picture and buttons beside it.
TEST_F(Window_Manager_Test, Message_Box_Titles_Show_Whole) {
  const Operator_Box boxes[] = {
      {MAIN_WINDOW_CAPTION, "COM port error"},
      {MAIN_WINDOW_CAPTION, "'' is not a valid integer value"},
      {MAIN_WINDOW_CAPTION, "Delete object  1234 ?", QMessageBox::Question,
       QMessageBox::Yes | QMessageBox::No},
      {CLEAR_LOG_TITLE, CLEAR_LOG_QUESTION, QMessageBox::Question,
       QMessageBox::Ok | QMessageBox::Cancel},
      {"Clear Events", "     Are you sure you want to delete all events?", QMessageBox::Question,
       QMessageBox::Ok | QMessageBox::Cancel},
  };
  QFont title_font("DejaVu Sans");
  title_font.setPointSize(8);
  title_font.setBold(true);
  const QFontMetrics title_metrics(title_font);
  for (const Operator_Box& box : boxes) {
    QRect frame;
    QTimer::singleShot(0, [&] {
      ASSERT_TRUE(Wait_Until([&] {
        auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (shown == nullptr || !shown->isVisible()) return false;
        frame = X_Frame(shown->winId());
        return !frame.isEmpty();
      }));
      Run_X_Tool("import", {"-window", "root",
                            "/work/tmp-win4/box_" + QString::number(frame.width()) + ".png"});
      QApplication::activeModalWidget()->close();
    });
    Run_Operator_Box(&screen_->main_form, box);
    EXPECT_GE(frame.width(), title_metrics.horizontalAdvance(box.Title) + 4 * 20)
        << box.Title.toStdString() << " / " << box.Text.toStdString() << ": " << frame.width();
  }
}

}  // namespace
