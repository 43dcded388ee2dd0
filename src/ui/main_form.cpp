#include "ui/main_form.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProxyStyle>
#include <QScreen>
#include <QScrollBar>
#include <QSoundEffect>
#include <QStatusBar>
#include <QStyleOptionMenuItem>
#include <QStyleOptionTab>
#include <QStylePainter>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <cstring>
#include <memory>

#include "app/startup.h"
#include "base/raw_file.h"
#include "ui/automation_page.h"
#include "ui/com_settings_form.h"
#include "ui/log_form.h"
#include "ui/receiver_page.h"
#include "ui/widgets/layout_fit.h"
#include "ui/widgets/message_box.h"
#include "ui/widgets/pictures.h"
#include "ui/widgets/tray_balloon.h"
#include "ui/widgets/window_place.h"

namespace {

constexpr int CLIENT_WIDTH = 515;
constexpr int CLIENT_HEIGHT = 472;
constexpr int STATUS_HEIGHT = 19;
constexpr const char* OBJECT_LIST_ITEM = "    Object List";
constexpr int BALLOON_WAIT_TRIES = 40;
const QColor TAB_CAPTION_COLOUR(0, 0, 128);

// Tab captions drawn by the window: navy, bold on the active tab, 5 px right of and 3 px below the
// tab's top-left corner.
class Caption_Tab_Bar : public QTabBar {
 public:
  using QTabBar::QTabBar;

 protected:
  QSize tabSizeHint(int index) const override {
    QFont bold = font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    return {metrics.horizontalAdvance(tabText(index)) + 10, metrics.height() + 6};
  }

  void paintEvent(QPaintEvent*) override {
    QStylePainter painter(this);
    for (int i = 0; i < count(); ++i) {
      QStyleOptionTab option;
      initStyleOption(&option, i);
      option.text.clear();
      painter.drawControl(QStyle::CE_TabBarTabShape, option);
      QFont caption = font();
      caption.setBold(i == currentIndex());
      painter.setFont(caption);
      painter.setPen(TAB_CAPTION_COLOUR);
      const QRect tab = tabRect(i);
      painter.drawText(QRect(tab.left() + 5, tab.top() + 3, tab.width() - 5, tab.height() - 3),
                       Qt::AlignLeft | Qt::AlignTop, tabText(i));
    }
  }
};

class Caption_Tab_Widget : public QTabWidget {
 public:
  explicit Caption_Tab_Widget(QWidget* parent) : QTabWidget(parent) {
    setTabBar(new Caption_Tab_Bar(this));
  }
};

// The menu bar's default item "    Object List" is drawn bold, with the separator that stands
// before it as a vertical line (a menu bar draws neither by itself).
class Menu_Bar_Style : public QProxyStyle {
 public:
  explicit Menu_Bar_Style(QString default_item) : default_item_(std::move(default_item)) {}

  QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                         const QWidget* widget) const override {
    QSize result = QProxyStyle::sizeFromContents(type, option, size, widget);
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (type == CT_MenuBarItem && item != nullptr && item->text == default_item_) {
      QFont bold = item->font;
      bold.setBold(true);
      result.rwidth() += QFontMetrics(bold).horizontalAdvance(item->text) -
                         QFontMetrics(item->font).horizontalAdvance(item->text);
    }
    return result;
  }

  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (element != CE_MenuBarItem || item == nullptr || item->text != default_item_)
      return QProxyStyle::drawControl(element, option, painter, widget);
    QStyleOptionMenuItem bold_item = *item;
    bold_item.font.setBold(true);
    painter->save();
    painter->setFont(bold_item.font);
    QProxyStyle::drawControl(element, &bold_item, painter, widget);
    const QRect rect = item->rect;
    const int x = rect.left() + 1;
    painter->setPen(item->palette.color(QPalette::Dark));
    painter->drawLine(x, rect.top() + 3, x, rect.bottom() - 3);
    painter->setPen(item->palette.color(QPalette::Light));
    painter->drawLine(x + 1, rect.top() + 3, x + 1, rect.bottom() - 3);
    painter->restore();
  }

 private:
  QString default_item_;
};

QColor From_Log_Colour(uint32_t colour) {
  return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

}  // namespace

TMain_Form::TMain_Form(Settings_Record& settings, std::string settings_path, System_Log& log)
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                               Qt::WindowCloseButtonHint),
      settings_(settings),
      settings_path_(std::move(settings_path)),
      log_(log),
      tray_available_([] { return QSystemTrayIcon::isSystemTrayAvailable(); }) {
  setWindowTitle(APP_TITLE);
  setWindowIcon(Program_Icon());

  Build_Menu();

  auto* client = new QWidget(this);
  client->setFixedSize(CLIENT_WIDTH, CLIENT_HEIGHT - STATUS_HEIGHT);
  setCentralWidget(client);

  PageControl_Receiver = new Caption_Tab_Widget(client);
  PageControl_Receiver->setGeometry(8, 17, 497, 233);
  receiver_page_ = new TReceiver_Page(settings_, *this);
  automation_page_ = new TAutomation_Page(settings_, *this);
  PageControl_Receiver->addTab(receiver_page_, "DC-09 Receiver");
  PageControl_Receiver->addTab(automation_page_, "Automation Software Interface");
  PageControl_Receiver->setCurrentIndex(0);
  connect(PageControl_Receiver, &QTabWidget::currentChanged, this,
          &TMain_Form::PageControl_ReceiverChange);

  // Step 7 of the start-up: the strip of the enabled and the greyed picture.
  save_strip_ = Compose_Save_Strip();
  BitBtn_Save = new QToolButton(client);
  BitBtn_Save->setGeometry(477, 7, 30, 30);
  BitBtn_Save->setIcon(Save_Icon_From_Strip(save_strip_));
  BitBtn_Save->setIconSize(QSize(24, 24));
  BitBtn_Save->setToolTip("Save current settings");
  BitBtn_Save->setEnabled(false);
  connect(BitBtn_Save, &QToolButton::clicked, this, &TMain_Form::BitBtn_SaveClick);

  CheckBox_Start_In_Background = new QCheckBox("Start in background mode", client);
  CheckBox_Start_In_Background->move(309, 19);
  CheckBox_Start_In_Background->adjustSize();
  CheckBox_Start_In_Background->raise();
  connect(CheckBox_Start_In_Background, &QCheckBox::clicked, this,
          &TMain_Form::CheckBox_Start_In_BackgroundClick);
  Update_Background_Hint();

  RichEdit_Log = new QTextEdit(client);
  RichEdit_Log->setGeometry(8, 256, 497, 191);
  RichEdit_Log->setReadOnly(true);
  RichEdit_Log->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  RichEdit_Log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RichEdit_Log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  RichEdit_Log->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  RichEdit_Log->installEventFilter(this);

  // The layout is designed in pixels for a narrow 11-pixel font; where the font's texts need more
  // room, all of it grows by one factor. The key edit shows a 128-bit key in hex whole.
  receiver_page_->LabeledEdit_DC9_Encoding_Key->setProperty(FIT_TEXT_PROPERTY, QString(32, '0'));
  layout_scale_ = Layout_Factor(*client);
  const double factor = layout_scale_;
  Scale_Layout(*client, factor);
  client->setFixedSize(Scaled(CLIENT_WIDTH, factor), Scaled(CLIENT_HEIGHT - STATUS_HEIGHT, factor));

  QStatusBar* bar = statusBar();
  bar->setFixedHeight(Scaled(STATUS_HEIGHT, factor));
  bar->setSizeGripEnabled(false);
  StatusBar1[STATUS_RECEIVER] = new QLabel("Receiver port closed.");
  StatusBar1[STATUS_RECEIVER]->setFixedWidth(Scaled(250, factor));
  StatusBar1[STATUS_AUTOMATION] = new QLabel;
  StatusBar1[STATUS_AUTOMATION]->setMinimumWidth(Scaled(95, factor));
  bar->addWidget(StatusBar1[STATUS_RECEIVER]);
  bar->addWidget(StatusBar1[STATUS_AUTOMATION], 1);

  Build_Tray();

  setFixedSize(client->width(), menuBar()->sizeHint().height() + client->height() + bar->height());
  Centre_On_Screen(*this);
}

TMain_Form::~TMain_Form() = default;

void TMain_Form::Build_Menu() {
  QMenuBar* menu = menuBar();
  Menu_Events = menu->addAction("Events");
  Menu_System_Log = menu->addAction("System Log");
  Menu_Virtual_Ports = menu->addAction("Virtual Serial Ports");
  Menu_Data_Log = menu->addAction("Data Log");
  Menu_Data_Log->setVisible(false);
  Menu_About = menu->addAction("About");
  menu->addSeparator();
  Menu_Object_List = menu->addAction(OBJECT_LIST_ITEM);
  auto* style = new Menu_Bar_Style(OBJECT_LIST_ITEM);
  style->setParent(menu);
  menu->setStyle(style);
  QFont bold = Menu_Object_List->font();
  bold.setBold(true);
  Menu_Object_List->setFont(bold);
  Menu_Object_List->setToolTip("Object List");
  Menu_Object_List->setStatusTip("Object List");

  connect(Menu_Events, &QAction::triggered, this, &TMain_Form::Show_Events_Requested);
  connect(Menu_System_Log, &QAction::triggered, this, [this] {
    if (log_form_ != nullptr) Show_Side_Window(static_cast<QWidget*>(log_form_));
  });
  connect(Menu_Virtual_Ports, &QAction::triggered, this, &TMain_Form::Virtual_Ports_Requested);
  connect(Menu_Data_Log, &QAction::triggered, this, &TMain_Form::Show_Data_Log_Requested);
  connect(Menu_About, &QAction::triggered, this, [this] {
    if (about_box_ != nullptr) Show_Side_Window(about_box_);
  });
  connect(Menu_Object_List, &QAction::triggered, this, &TMain_Form::Show_Objects_Requested);
  // A click opens another window, so the pointer never leaves the item to end its hover text:
  // the click ends it, and the receiver and link state show again at once.
  for (QAction* action : menu->actions())
    connect(action, &QAction::triggered, this, [this] { statusBar()->clearMessage(); });
  menu->installEventFilter(this);
}

void TMain_Form::Build_Tray() {
  TrayIcon1 = new QSystemTrayIcon(Program_Icon(), this);
  TrayIcon1->setToolTip(APP_TITLE);
  PopupMenu_Tray = new QMenu(this);
  Tray_Open = PopupMenu_Tray->addAction("Open RAD-EZ Ududerud");
  PopupMenu_Tray->addSeparator();
  Tray_Exit = PopupMenu_Tray->addAction("Exit");
  TrayIcon1->setContextMenu(PopupMenu_Tray);
  connect(Tray_Open, &QAction::triggered, this, &TMain_Form::Restore_From_Tray);
  connect(Tray_Exit, &QAction::triggered, this, &TMain_Form::Exit_Program);
  connect(TrayIcon1, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
              Restore_From_Tray();
          });
}

void TMain_Form::Set_Com_Settings(TForm_Com_Settings* dialog) {
  automation_page_->Set_Com_Settings(dialog);
}

bool TMain_Form::Enter_Start_State() {
  receiver_page_->Refresh_Receiver();
  const bool background = settings_.Start_In_Background == 1;
  CheckBox_Start_In_Background->setChecked(background);
  Update_Background_Hint();
  if (!background) return true;
  setWindowState(Qt::WindowMinimized);
  Go_To_Tray();
  return false;
}

void TMain_Form::PageControl_ReceiverChange(int index) {
  if (index == 0) {
    receiver_page_->Refresh_Receiver();
  } else {
    automation_page_->Refresh_Mon_Out();
    automation_page_->Refresh_Port_List();
  }
}

void TMain_Form::Update_Save_Button() {
  if (settings_changed_) settings_changed_();
  BitBtn_Save->setEnabled(Settings_Differ_From_File(settings_, settings_path_));
}

void TMain_Form::BitBtn_SaveClick() {
  if (Ask_Save_Question() != QMessageBox::Yes) return;
  Save_Settings();
  Update_Save_Button();
}

void TMain_Form::Save_Settings() {
  // A failed save keeps the old file whole; the red line says why and Save stays lit.
  const int failed = Settings_Store(settings_, settings_path_, Settings_Write::Existing);
  if (failed != 0)
    Log_Message("Settings not saved to " + settings_path_ + ":" + Error_Text(failed), LOG_RED);
}

void TMain_Form::CheckBox_Start_In_BackgroundClick() {
  settings_.Start_In_Background = CheckBox_Start_In_Background->isChecked() ? 1 : 0;
  Update_Background_Hint();
  Update_Save_Button();
}

void TMain_Form::Update_Background_Hint() {
  CheckBox_Start_In_Background->setToolTip(CheckBox_Start_In_Background->isChecked()
                                               ? "The application will start in background mode"
                                               : "The application will start in windowed mode");
}

void TMain_Form::Place_Beside(QWidget* window, Side_Window which) {
  side_windows_[static_cast<int>(which)] = {window, window->size(), false};
  window->installEventFilter(this);
}

void TMain_Form::Set_Log_Form(TForm_Log* form) {
  log_form_ = form;
  Place_Beside(static_cast<QWidget*>(form), Side_Window::System_Log);
}

QRect TMain_Form::Menu_And_Save_Area() const {
  const QRect frame = frameGeometry();
  const int save_bottom = BitBtn_Save->mapToGlobal(QPoint(0, BitBtn_Save->height() - 1)).y();
  return QRect(frame.topLeft(), QPoint(frame.right(), save_bottom));
}

namespace {

QMargins Frame_Margins(const QWidget& window) {
  const QRect frame = window.frameGeometry();
  const QRect inner = window.geometry();
  return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
          frame.bottom() - inner.bottom()};
}

}  // namespace

void TMain_Form::Place_Side_Window(int which) {
  // The window manager's frame around this window stands for the one the lists will get.
  const QMargins margins = Frame_Margins(*this);
  const QSize extra(margins.left() + margins.right(), margins.top() + margins.bottom());
  std::array<QSize, SIDE_WINDOWS> frames{};
  std::array<QSize, SIDE_WINDOWS> mins{};
  for (int k = 0; k < SIDE_WINDOWS; ++k) {
    if (side_windows_[k].Window == nullptr) continue;
    frames[k] = side_windows_[k].Default_Size + extra;
    mins[k] = side_windows_[k].Window->minimumSize() + extra;
  }
  const QRect keep_clear = Menu_And_Save_Area();
  const QRect place =
      Side_Window_Frames(Desktop_Area_At(keep_clear.center()), keep_clear, frames, mins)[which];
  QWidget* window = side_windows_[which].Window;
  Fit_Window_Frame(*window, place, margins);
  // The window's own frame is known a moment after it shows (a resizable window may have a
  // thicker one): it is then fitted again into the same place.
  auto* watch = new QTimer(window);
  watch->setInterval(20);
  auto tries = std::make_shared<int>(0);
  connect(watch, &QTimer::timeout, window, [window, watch, place, tries] {
    if (Frame_Margins(*window).isNull() && ++*tries < 250) return;
    watch->stop();
    watch->deleteLater();
    if (!Frame_Margins(*window).isNull()) Fit_Window_Frame(*window, place, Frame_Margins(*window));
  });
  watch->start();
}

bool TMain_Form::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Show) {
    for (int k = 0; k < SIDE_WINDOWS; ++k) {
      Side_Entry& side = side_windows_[k];
      if (side.Window != watched || side.Placed) continue;
      side.Placed = true;
      side.Window->removeEventFilter(this);
      Place_Side_Window(k);
    }
  }
  // The pointer leaving the menu bar ends any hover text it left in the status bar.
  if (watched == menuBar() && event->type() == QEvent::Leave) statusBar()->clearMessage();
  if (watched == RichEdit_Log && event->type() == QEvent::KeyPress) {
    // Every character typed counts, Return, Escape and Backspace included: the code works only
    // when its first character is the 1st, 17th, 33rd, ... key typed into the pane. Keys that
    // type nothing (Shift, the arrows) are no characters.
    for (QChar key : static_cast<QKeyEvent*>(event)->text()) Log_Pane_Key(key);
  }
  return QMainWindow::eventFilter(watched, event);
}

void TMain_Form::Log_Pane_Key(QChar key) {
  key_ring_[key_index_] = key.toLatin1();
  if (std::memcmp(key_ring_.data(), DATA_LOG_CODE, std::strlen(DATA_LOG_CODE)) == 0 &&
      !Menu_Data_Log->isVisible()) {
    Menu_Data_Log->setVisible(true);
    Beep();
  }
  key_index_ = (key_index_ + 1) % static_cast<int>(key_ring_.size());
}

void TMain_Form::closeEvent(QCloseEvent* event) {
  for (QWidget* window : hidden_on_close_) window->hide();
  if (log_form_ != nullptr) static_cast<QWidget*>(log_form_)->hide();
  if (about_box_ != nullptr) about_box_->hide();

  if (!skip_save_question_) {
    if (Settings_Differ_From_File(settings_, settings_path_)) {
      BitBtn_Save->setEnabled(true);
      if (Ask_Save_Question() == QMessageBox::Yes) Save_Settings();
      Update_Save_Button();
    } else {
      BitBtn_Save->setEnabled(false);
    }
  }

  if (exit_requested_) {
    event->accept();
    TrayIcon1->hide();
    emit Exit_Accepted();
    return;
  }
  event->ignore();
  setWindowState(windowState() | Qt::WindowMinimized);
  Go_To_Tray();
}

void TMain_Form::Go_To_Tray() {
  if (!tray_available_ || !tray_available_()) {
    // Without a notification area a hidden window could never come back: minimise it instead.
    showMinimized();
    return;
  }
  hide();
  TrayIcon1->show();
  Show_Balloon(BALLOON_WAIT_TRIES);
}

void TMain_Form::Show_Balloon(int tries_left) {
  if (!TrayIcon1->isVisible()) return;
  // A balloon shown before the notification area has placed the icon would open in the screen's
  // corner: it waits (at most 40 x 50 ms) until the icon has its place.
  if (!Show_Tray_Balloon(*TrayIcon1, BALLOON_TITLE, BALLOON_TEXT, 5000, tries_left <= 0))
    QTimer::singleShot(50, this, [this, tries_left] { Show_Balloon(tries_left - 1); });
}

bool TMain_Form::In_Tray() const {
  return TrayIcon1->isVisible() && isHidden();
}

void TMain_Form::Restore_From_Tray() {
  TrayIcon1->hide();
  showNormal();
  raise();
  activateWindow();
}

void TMain_Form::Exit_Program() {
  exit_requested_ = true;
  close();
}

void TMain_Form::Quit_Without_Question() {
  skip_save_question_ = true;
  Exit_Program();
}

void TMain_Form::Show_Side_Window(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
}

QMessageBox::StandardButton TMain_Form::Ask_Save_Question() {
  return Run_Operator_Box(this, {windowTitle(), SAVE_QUESTION, QMessageBox::Question,
                                 QMessageBox::Yes | QMessageBox::No});
}

void TMain_Form::Message_Box(const std::string& text) {
  Run_Operator_Box(
      this, {windowTitle(), QString::fromStdString(text), QMessageBox::Warning, QMessageBox::Ok});
}

void TMain_Form::Show_Log_Line(const std::string& line, uint32_t colour) {
  QTextDocument* document = RichEdit_Log->document();
  const bool first = document->isEmpty();
  QTextCursor cursor(document);
  cursor.movePosition(QTextCursor::Start);
  QTextCharFormat format;
  format.setForeground(From_Log_Colour(colour));
  if (!first) {
    // The new line goes above the others: split off an empty first block and write into it.
    cursor.insertBlock();
    cursor.movePosition(QTextCursor::Start);
  }
  cursor.insertText(QString::fromStdString(line), format);
  // The pane keeps the newest lines only (the month's file keeps all): the oldest, at the bottom,
  // go once the pane holds more than LOG_PANE_MAX_LINES.
  while (document->blockCount() > LOG_PANE_MAX_LINES) {
    QTextCursor last(document->lastBlock());
    last.select(QTextCursor::BlockUnderCursor);
    last.removeSelectedText();
  }
  cursor.movePosition(QTextCursor::Start);
  RichEdit_Log->setTextCursor(cursor);
  RichEdit_Log->verticalScrollBar()->setValue(0);
}

void TMain_Form::Log_File_Appended() {
  if (log_form_ != nullptr) log_form_->Follow_File();
}
