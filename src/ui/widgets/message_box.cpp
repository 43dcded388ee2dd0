#include "ui/widgets/message_box.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QSpacerItem>
#include <QTimer>
#include <algorithm>

#include "ui/widgets/window_place.h"

namespace {

Operator_Box_Runner& Answerer() {
  static Operator_Box_Runner answerer;
  return answerer;
}

bool Has_Screen() {
  const QString platform = QGuiApplication::platformName();
  return platform != "offscreen" && platform != "minimal";
}

bool Stays_On_Top(const QWidget* window) {
  return window != nullptr && window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

bool A_Window_Stays_On_Top() {
  const QWidgetList windows = QApplication::topLevelWidgets();
  return std::any_of(windows.begin(), windows.end(), [](const QWidget* window) {
    return window->isVisible() && Stays_On_Top(window);
  });
}

// A window manager cuts a title longer than the box's title bar ("ORN...erud"). The box is made
// wide enough for its title in a bold title-bar font (the larger of the program's font and an
// 8-point sans-serif one, desktops' usual choice) beside the title bar's picture and three
// buttons.
void Fit_Title(QMessageBox& message) {
  constexpr int TITLE_BAR_ROOM = 100;  // the picture, three buttons and the label's padding
  QFont program = message.font();
  program.setBold(true);
  QFont desktop("Sans Serif");
  desktop.setPointSize(8);
  desktop.setBold(true);
  const int title = std::max(QFontMetrics(program).horizontalAdvance(message.windowTitle()),
                             QFontMetrics(desktop).horizontalAdvance(message.windowTitle()));
  auto* grid = qobject_cast<QGridLayout*>(message.layout());
  if (grid == nullptr) return;
  grid->addItem(new QSpacerItem(title + TITLE_BAR_ROOM, 0, QSizePolicy::Minimum), grid->rowCount(),
                0, 1, grid->columnCount());
}

}  // namespace

void Set_Box_Answerer(Operator_Box_Runner answerer) {
  Answerer() = std::move(answerer);
}

QMessageBox::StandardButton Safe_Answer(QMessageBox::StandardButtons buttons) {
  if (buttons.testFlag(QMessageBox::No)) return QMessageBox::No;
  if (buttons.testFlag(QMessageBox::Cancel)) return QMessageBox::Cancel;
  return QMessageBox::Ok;
}

QWidget* Box_Owner(QWidget* parent) {
  // The operator works in the active window; a box parented elsewhere (the main window, say)
  // would open behind a dialog or list that stays on top and leave the program looking frozen.
  if (QWidget* active = QApplication::activeWindow(); active != nullptr && active->isVisible())
    return active;
  return parent != nullptr ? parent->window() : nullptr;
}

QMessageBox::StandardButton Run_Operator_Box(QWidget* parent, const Operator_Box& box) {
  if (!box.Line_Written) Write_Message_Line(box.Text.toStdString());
  if (Answerer()) return Answerer()(parent, box);
  if (!Has_Screen()) return Safe_Answer(box.Buttons);

  QWidget* owner = Box_Owner(parent);
  // A window manager keeps a box in the layer of the window it belongs to: one that belongs to a
  // window of the normal layer opens under the windows that stay on top. Such a box belongs to no
  // window; it stays on top itself and is centred over its owner.
  const bool free_box = !Stays_On_Top(owner) && A_Window_Stays_On_Top();
  QMessageBox message(box.Icon, box.Title, box.Text, box.Buttons, free_box ? nullptr : owner);
  message.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  Fit_Title(message);
  if (free_box && owner != nullptr) {
    // Placed before it shows, so it never moves under the operator's pointer.
    message.adjustSize();
    Centre_Over(message, owner->frameGeometry());
  }
  QTimer::singleShot(0, &message, [&message] {
    message.raise();
    message.activateWindow();
  });
  return static_cast<QMessageBox::StandardButton>(message.exec());
}
