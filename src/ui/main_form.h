// TMain_Form: the operator's console. It carries the two settings tabs, the log pane, the Save
// button, the status bar, the menu and the notification-area icon, and is the screen through which
// the logic talks to the operator (Operator_Port) and shows its log lines (Log_Pane). Closing it
// only hides it in the notification area; the notification menu's "Exit" (or an ending signal)
// lets it close, after which Exit_Accepted asks for the shutdown. Main thread only.
#pragma once

#include <QMainWindow>
#include <QMessageBox>
#include <QPixmap>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "base/operator_port.h"
#include "base/settings.h"
#include "base/system_log.h"
#include "ui/widgets/page_host.h"
#include "ui/widgets/window_place.h"

class QAction;
class QCheckBox;
class QLabel;
class QMenu;
class QSoundEffect;
class QSystemTrayIcon;
class QTabWidget;
class QTextEdit;
class QToolButton;
class TAutomation_Page;
class TForm_Com_Settings;
class TForm_Log;
class TReceiver_Page;

// The texts of the main window.
inline constexpr const char* SAVE_QUESTION = "Save current settings?";
inline constexpr const char* BALLOON_TITLE = "RAD-EZ Ududerud notification";
inline constexpr const char* BALLOON_TEXT = "The application is running in background mode";
inline constexpr const char* DATA_LOG_CODE = "mur ki";
// The main window's log pane keeps this many newest lines; older ones stay in the month's file.
inline constexpr int LOG_PANE_MAX_LINES = 3000;

class TMain_Form : public QMainWindow, public Operator_Port, public Log_Pane, public Page_Host {
  Q_OBJECT

 public:
  // `settings` is the one in-memory record, compared with and saved to `settings_path`; `log` is
  // the system log that Log_Message writes to. All three outlive the window.
  TMain_Form(Settings_Record& settings, std::string settings_path, System_Log& log);
  ~TMain_Form() override;

  // What the windows of the store and the data log provide to the logic. Unset hooks do nothing
  // (the data log then counts as hidden).
  struct Window_Hooks {
    std::function<bool()> Data_Log_Visible;
    std::function<void(const std::string&)> Data_Log_Line;
    std::function<void()> Refresh_Events;
  };
  void Set_Window_Hooks(Window_Hooks hooks) { hooks_ = std::move(hooks); }
  // Called whenever a page or dialog changed the settings record (with every Save button check):
  // the program takes the new values at once.
  void Set_Settings_Changed(std::function<void()> changed) {
    settings_changed_ = std::move(changed);
  }
  // A window that the close request hides (the Events, Object List, System Log and About windows).
  void Hide_On_Close(QWidget* window) { hidden_on_close_.push_back(window); }
  // A list window that opens, the first time it shows, at its place beside this window.
  void Place_Beside(QWidget* window, Side_Window which);
  // The title bar, menu bar and Save button (global coordinates), which the lists never cover
  // when they first open.
  QRect Menu_And_Save_Area() const;
  // The System Log window, which follows every logged line while it is visible.
  void Set_Log_Form(TForm_Log* form);
  void Set_About_Box(QWidget* about) { about_box_ = about; }
  // The serial settings dialog, filled and locked by the automation page.
  void Set_Com_Settings(TForm_Com_Settings* dialog);
  // Whether a notification area exists; without one the window goes to the taskbar instead of
  // vanishing. Defaults to the system's answer.
  void Set_Tray_Available(std::function<bool()> available) {
    tray_available_ = std::move(available);
  }

  TReceiver_Page& Receiver_Page() { return *receiver_page_; }
  TAutomation_Page& Automation_Page() { return *automation_page_; }

  // Start-up step 12: with Start_In_Background set, ticks the box, goes to the notification area
  // and returns false (the window is not to be shown); otherwise clears the box and returns true.
  // Also fills the receiver tab from the loaded settings.
  bool Enter_Start_State();
  // The notification menu's "Exit": asks the save question when the settings changed, then closes.
  void Exit_Program();
  // An ending signal: closes without the save question (the settings file is not written).
  void Quit_Without_Question();
  // Back from the notification area: icon hidden, window shown normally and in front.
  void Restore_From_Tray();

  bool Exit_Requested() const { return exit_requested_; }
  // The factor by which the designed pixel layout grew to fit the font's texts (1 = as designed).
  double Layout_Scale() const { return layout_scale_; }
  bool In_Tray() const;

  // Operator_Port
  void Log_Message(const std::string& text, uint32_t colour) override;
  void Beep() override;
  void Play_Notify_Sound() override;
  void Set_Status_Text(int panel, const std::string& text) override;
  bool Data_Log_Visible() override;
  void Data_Log_Line(const std::string& line) override;
  void Refresh_Events() override;
  void Refresh_Mon_Out() override;
  // The core has written the standard-error line already: this only opens the box.
  void Show_Message(const std::string& text) override;

  // Log_Pane
  void Show_Log_Line(const std::string& line, uint32_t colour) override;
  void Log_File_Appended() override;

  // Page_Host
  void Update_Save_Button() override;
  void Message_Box(const std::string& text) override;

  QTabWidget* PageControl_Receiver;
  QToolButton* BitBtn_Save;
  QCheckBox* CheckBox_Start_In_Background;
  QTextEdit* RichEdit_Log;
  std::array<QLabel*, 2> StatusBar1;
  QSystemTrayIcon* TrayIcon1;
  QMenu* PopupMenu_Tray;
  QAction* Menu_Events;
  QAction* Menu_System_Log;
  QAction* Menu_Virtual_Ports;
  QAction* Menu_Data_Log;
  QAction* Menu_About;
  QAction* Menu_Object_List;
  QAction* Tray_Open;
  QAction* Tray_Exit;

 signals:
  void Show_Events_Requested();
  void Show_Objects_Requested();
  void Show_Data_Log_Requested();
  void Virtual_Ports_Requested();
  // The window has been allowed to close: the shutdown sequence is to run now.
  void Exit_Accepted();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Build_Menu();
  void Build_Tray();
  void PageControl_ReceiverChange(int index);
  void BitBtn_SaveClick();
  void CheckBox_Start_In_BackgroundClick();
  void Update_Background_Hint();
  void Log_Pane_Key(QChar key);
  // Stores the record over the file; a failure is logged in red with its reason.
  void Save_Settings();
  void Go_To_Tray();
  void Show_Balloon(int tries_left);
  void Show_Side_Window(QWidget* window);
  QMessageBox::StandardButton Ask_Save_Question();

  Settings_Record& settings_;
  std::string settings_path_;
  System_Log& log_;
  TReceiver_Page* receiver_page_;
  TAutomation_Page* automation_page_;
  TForm_Log* log_form_ = nullptr;
  // The list windows beside this one, by Side_Window, with their default inside sizes, and
  // whether each has shown yet.
  struct Side_Entry {
    QWidget* Window = nullptr;
    QSize Default_Size;
    bool Placed = false;
  };
  std::array<Side_Entry, SIDE_WINDOWS> side_windows_;
  void Place_Side_Window(int which);
  QWidget* about_box_ = nullptr;
  QSoundEffect* notify_sound_ = nullptr;
  Window_Hooks hooks_;
  std::function<void()> settings_changed_;
  std::vector<QWidget*> hidden_on_close_;
  std::function<bool()> tray_available_;
  QPixmap save_strip_;
  double layout_scale_ = 1.0;
  bool exit_requested_ = false;
  bool skip_save_question_ = false;
  std::array<char, 16> key_ring_{};
  int key_index_ = 0;
};
