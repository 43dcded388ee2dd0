// The main window: the log pane, the Data Log code, the background check box, the close request
// that hides to the notification area, "Exit", and the System Log window.
#include <QAction>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextEdit>
#include <QToolButton>
#include <filesystem>

#include "ui/about_form.h"
#include "ui/log_form.h"
#include "ui/ui_fixture.h"
#include "ui/widgets/layout_fit.h"

namespace {

QColor Colour_Of_Line(QTextEdit* pane, int line) {
  const QTextBlock block = pane->document()->findBlockByNumber(line);
  return block.begin().fragment().charFormat().foreground().color();
}

TEST_F(Main_Form_Test, WindowFrameAndStartState) {
  EXPECT_EQ(form->windowTitle(), "ORN RAD-EZ Ududerud");
  // The designed pixel layout, grown as a whole by one factor where the font's texts need it.
  const double k = form->Layout_Scale();
  EXPECT_GE(k, 1.0);
  const auto scaled = [k](int x, int y, int w, int h) {
    return QRect(Scaled(x, k), Scaled(y, k), Scaled(w, k), Scaled(h, k));
  };
  EXPECT_EQ(form->centralWidget()->width(), Scaled(515, k));
  EXPECT_EQ(form->centralWidget()->height() + form->statusBar()->height(),
            Scaled(472 - 19, k) + Scaled(19, k));
  EXPECT_EQ(form->PageControl_Receiver->geometry(), scaled(8, 17, 497, 233));
  EXPECT_EQ(form->BitBtn_Save->geometry(), scaled(477, 7, 30, 30));
  EXPECT_EQ(form->RichEdit_Log->geometry(), scaled(8, 256, 497, 191));
  EXPECT_EQ(form->CheckBox_Start_In_Background->pos(), QPoint(Scaled(309, k), Scaled(19, k)));
  EXPECT_EQ(form->PageControl_Receiver->tabText(0), "DC-09 Receiver");
  EXPECT_EQ(form->PageControl_Receiver->tabText(1), "Automation Software Interface");
  EXPECT_EQ(form->PageControl_Receiver->currentIndex(), 0);
  EXPECT_EQ(form->StatusBar1[0]->text(), "Receiver port closed.");
  EXPECT_EQ(form->StatusBar1[0]->width(), Scaled(250, k));
  EXPECT_EQ(form->StatusBar1[1]->text(), "");
  EXPECT_FALSE(form->BitBtn_Save->isEnabled());

  QStringList captions;
  for (QAction* action : form->menuBar()->actions())
    captions << (action->isSeparator() ? "-" : action->text());
  EXPECT_EQ(captions, QStringList({"Events", "System Log", "Virtual Serial Ports", "Data Log",
                                   "About", "-", "    Object List"}));
  EXPECT_FALSE(form->Menu_Data_Log->isVisible());
  EXPECT_TRUE(form->Menu_Object_List->font().bold());
  EXPECT_EQ(TForm_About::About_Text(), "ORN RAD-EZ Ududerud 1.07.1 (64-bit)");
}

TEST_F(Main_Form_Test, NewestLogLineOnTopInItsColour) {
  log.Log_Message("first", LOG_BLACK);
  log.Log_Message("second", LOG_RED);
  QTextEdit* pane = form->RichEdit_Log;
  ASSERT_EQ(pane->document()->blockCount(), 2);
  EXPECT_TRUE(pane->document()->findBlockByNumber(0).text().endsWith("  second"));
  EXPECT_TRUE(pane->document()->findBlockByNumber(1).text().endsWith("  first"));
  EXPECT_EQ(Colour_Of_Line(pane, 0), QColor(255, 0, 0));
  EXPECT_EQ(Colour_Of_Line(pane, 1), QColor(0, 0, 0));
  EXPECT_EQ(pane->textCursor().position(), 0);
}

TEST_F(Main_Form_Test, TheCodeTypedFirstRevealsDataLog) {
  Type_Keys(form->RichEdit_Log, "mur ki");
  EXPECT_TRUE(form->Menu_Data_Log->isVisible());
  EXPECT_EQ(form->beeps, 1);
  EXPECT_TRUE(form->RichEdit_Log->toPlainText().isEmpty());  // the pane ignores the typing
  Type_Keys(form->RichEdit_Log, "0123456789mur ki");         // ring positions 0-5 again
  EXPECT_EQ(form->beeps, 1);
}

TEST_F(Main_Form_Test, AKeyBeforeTheCodeKeepsDataLogHidden) {
  Type_Keys(form->RichEdit_Log, "xmur ki");
  EXPECT_FALSE(form->Menu_Data_Log->isVisible());
  // The code works again as the 17th key.
  Type_Keys(form->RichEdit_Log, "123456789");
  Type_Keys(form->RichEdit_Log, "mur ki");
  EXPECT_TRUE(form->Menu_Data_Log->isVisible());
}

// Keys that type a character the pane cannot print still take their place in the ring.
TEST_F(Main_Form_Test, AControlKeyBeforeTheCodeCountsToo) {
  const std::pair<Qt::Key, QString> keys[] = {
      {Qt::Key_Return, "\r"}, {Qt::Key_Escape, "\x1b"}, {Qt::Key_Backspace, "\b"}};
  for (const auto& [key, text] : keys) {
    Counting_Form fresh(settings, settings_path, log);
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(fresh.RichEdit_Log, &press);
    Type_Keys(fresh.RichEdit_Log, "mur ki");
    EXPECT_FALSE(fresh.Menu_Data_Log->isVisible()) << key;
  }
  // Shift types nothing: it is no character and takes no place.
  QKeyEvent shift(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier, QString());
  QCoreApplication::sendEvent(form->RichEdit_Log, &shift);
  Type_Keys(form->RichEdit_Log, "mur ki");
  EXPECT_TRUE(form->Menu_Data_Log->isVisible());
}

TEST_F(Main_Form_Test, BackgroundBoxStoresItsStateAndHint) {
  EXPECT_EQ(form->CheckBox_Start_In_Background->toolTip(),
            "The application will start in windowed mode");
  form->CheckBox_Start_In_Background->click();
  EXPECT_EQ(settings.Start_In_Background, 1);
  EXPECT_TRUE(form->BitBtn_Save->isEnabled());
  EXPECT_EQ(form->CheckBox_Start_In_Background->toolTip(),
            "The application will start in background mode");
}

// Save that cannot write the file (a folder stands in its place) says so in red with the
// system's reason, and the button stays enabled.
TEST_F(Main_Form_Test, ASaveThatFailsIsLoggedWithItsReason) {
  std::filesystem::remove(settings_path);
  std::filesystem::create_directory(settings_path);
  settings.DC9_Port = 7778;
  form->Update_Save_Button();
  boxes.answers = {QMessageBox::Yes};
  form->BitBtn_Save->click();
  const QString last = form->RichEdit_Log->document()->lastBlock().text();
  EXPECT_TRUE(last.contains(QString::fromStdString("Cannot write " + settings_path)) &&
              last.contains(" Error: "))
      << last.toStdString();
  EXPECT_TRUE(form->BitBtn_Save->isEnabled());
}

TEST_F(Main_Form_Test, CloseHidesToTheNotificationAreaAfterTheQuestion) {
  form->Set_Tray_Available([] { return true; });
  TForm_Log log_form(log);
  form->Set_Log_Form(&log_form);
  QWidget events_window;
  form->Hide_On_Close(&events_window);
  form->show();
  log_form.show();
  events_window.show();
  settings.DC9_Port = 7778;
  int exits = 0;
  QObject::connect(form.get(), &TMain_Form::Exit_Accepted, [&] { ++exits; });

  boxes.answers = {QMessageBox::No};
  EXPECT_FALSE(form->close());
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(form->TrayIcon1->isVisible());
  EXPECT_FALSE(log_form.isVisible());
  EXPECT_FALSE(events_window.isVisible());
  EXPECT_EQ(exits, 0);
  ASSERT_EQ(boxes.requests.size(), 1u);
  EXPECT_EQ(boxes.requests[0].Text, "Save current settings?");
  EXPECT_TRUE(form->BitBtn_Save->isEnabled());

  // The window still works while hidden: lines still reach the pane.
  log.Log_Message("still here", LOG_BLACK);
  EXPECT_TRUE(form->RichEdit_Log->document()->firstBlock().text().endsWith("still here"));

  form->Restore_From_Tray();
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(form->isMinimized());
  EXPECT_FALSE(form->TrayIcon1->isVisible());
}

TEST_F(Main_Form_Test, WithoutANotificationAreaCloseMinimises) {
  form->Set_Tray_Available([] { return false; });
  form->show();
  EXPECT_FALSE(form->close());
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->isMinimized());
}

TEST_F(Main_Form_Test, ExitAsksOnceThenEndsWhateverTheAnswer) {
  form->show();
  settings.HB_Period = 5;
  int exits = 0;
  QObject::connect(form.get(), &TMain_Form::Exit_Accepted, [&] { ++exits; });
  boxes.answers = {QMessageBox::Yes};
  form->Tray_Exit->trigger();
  EXPECT_EQ(exits, 1);
  EXPECT_EQ(boxes.requests.size(), 1u);
  EXPECT_FALSE(form->isVisible());
  Settings_Record stored{};
  Settings_Load(stored, settings_path);
  EXPECT_EQ(stored.HB_Period, 5);
}

TEST_F(Main_Form_Test, QuitWithoutQuestionLeavesTheFile) {
  settings.HB_Period = 5;
  const QByteArray before = Read_File(settings_path);
  int exits = 0;
  QObject::connect(form.get(), &TMain_Form::Exit_Accepted, [&] { ++exits; });
  form->Quit_Without_Question();  // window never shown: a start in background mode
  EXPECT_EQ(exits, 1);
  EXPECT_TRUE(boxes.requests.empty());
  EXPECT_EQ(Read_File(settings_path), before);
}

TEST_F(Main_Form_Test, BackgroundStartShowsNoWindow) {
  settings.Start_In_Background = 1;
  form->Set_Tray_Available([] { return true; });
  EXPECT_FALSE(form->Enter_Start_State());
  EXPECT_TRUE(form->CheckBox_Start_In_Background->isChecked());
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(form->TrayIcon1->isVisible());
}

TEST_F(Main_Form_Test, SystemLogWindowFollowsAndClears) {
  TForm_Log log_form(log);
  form->Set_Log_Form(&log_form);
  log.Log_Message("one", LOG_BLACK);
  form->Menu_System_Log->trigger();
  ASSERT_TRUE(log_form.isVisible());
  EXPECT_EQ(log_form.windowTitle(), "System Log");
  log.Log_Message("two", LOG_RED);
  QStringList lines = log_form.Memo_Log->toPlainText().split('\n');
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[0].endsWith("  one"));
  EXPECT_TRUE(lines[1].endsWith("  two"));

  boxes.answers = {QMessageBox::Cancel};
  log_form.Log_Menu_Clear->trigger();
  ASSERT_EQ(boxes.requests.size(), 1u);
  EXPECT_EQ(boxes.requests[0].Text, "     Are you sure you want to delete log records?");
  EXPECT_EQ(boxes.requests[0].Title, "Clear Log Records");
  EXPECT_EQ(boxes.requests[0].Buttons, QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(boxes.requests[0].Icon, QMessageBox::Question);
  EXPECT_EQ(log_form.Memo_Log->toPlainText().split('\n').size(), 2);

  boxes.answers = {QMessageBox::Ok};
  log_form.Log_Menu_Clear->trigger();
  EXPECT_TRUE(log_form.Memo_Log->toPlainText().isEmpty());
  EXPECT_EQ(Read_File(log.Current_File()).size(), 0);
  EXPECT_EQ(form->RichEdit_Log->document()->blockCount(), 2);  // the pane keeps its lines
  log.Log_Message("three", LOG_BLACK);
  EXPECT_EQ(log_form.Memo_Log->toPlainText().split('\n').size(), 1);
}

}  // namespace

// A flood of log lines (ten seconds of 1,000 lines a second, the window's events served between
// seconds) with the System Log open: the pane keeps the newest lines, the System Log follows the
// file line by line and the file keeps every line.
TEST_F(Main_Form_Test, LogFloodKeepsTheNewestLinesInBothWindowsAndAllInTheFile) {
  TForm_Log log_form(log);
  form->Set_Log_Form(&log_form);
  form->show();
  log.Log_Message("before the flood", LOG_BLACK);
  log_form.show();
  constexpr int SECONDS = 10;
  constexpr int PER_SECOND = 1000;
  for (int second = 0; second < SECONDS; ++second) {
    for (int i = 0; i < PER_SECOND; ++i)
      log.Log_Message("flood line " + std::to_string(second * PER_SECOND + i), LOG_BLACK);
    QCoreApplication::processEvents();
  }
  const int total = SECONDS * PER_SECOND + 1;
  const std::string last = "flood line " + std::to_string(total - 2);

  QTextDocument* pane = form->RichEdit_Log->document();
  EXPECT_EQ(pane->blockCount(), LOG_PANE_MAX_LINES);
  EXPECT_TRUE(pane->firstBlock().text().endsWith(QString::fromStdString(last)));
  EXPECT_TRUE(pane->lastBlock().text().endsWith(
      QString::fromStdString("flood line " + std::to_string(total - 1 - LOG_PANE_MAX_LINES))));

  QTextDocument* shown = log_form.Memo_Log->document();
  EXPECT_EQ(shown->blockCount(), total);
  EXPECT_TRUE(shown->firstBlock().text().endsWith("before the flood"));
  EXPECT_TRUE(shown->lastBlock().text().endsWith(QString::fromStdString(last)));

  const QList<QByteArray> file_lines = Read_File(log.Current_File()).split('\n');
  ASSERT_EQ(file_lines.size(), total + 1);  // the last CR LF leaves an empty tail
  EXPECT_TRUE(file_lines[total - 1].trimmed().endsWith(QByteArray::fromStdString(last)));

  // "Clear" empties the file; the next line is shown alone.
  boxes.answers = {QMessageBox::Ok};
  log_form.Log_Menu_Clear->trigger();
  log.Log_Message("after clear", LOG_BLACK);
  EXPECT_EQ(shown->blockCount(), 1);
  EXPECT_TRUE(shown->firstBlock().text().endsWith("after clear"));
}

// A menu item's hover text gives way to the receiver and link state once the item is clicked or
// the pointer leaves the menu bar.
TEST_F(Main_Form_Test, MenuHoverTextEndsOnClickAndOnLeavingTheMenu) {
  form->show();
  QStatusBar* bar = form->statusBar();
  for (QAction* item : {form->Menu_Object_List, form->Menu_About}) {
    QStatusTipEvent hover("Object List");
    QCoreApplication::sendEvent(form.get(), &hover);
    ASSERT_EQ(bar->currentMessage(), "Object List");
    item->trigger();
    EXPECT_EQ(bar->currentMessage(), "");
    EXPECT_TRUE(form->StatusBar1[STATUS_RECEIVER]->isVisible());
  }
  QStatusTipEvent hover("Object List");
  QCoreApplication::sendEvent(form.get(), &hover);
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(form->menuBar(), &leave);
  EXPECT_EQ(bar->currentMessage(), "");
  EXPECT_TRUE(form->StatusBar1[STATUS_RECEIVER]->isVisible());
}
