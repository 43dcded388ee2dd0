#include "ui/widgets/tray_balloon.h"

#include <xcb/xcb.h>

#include <QApplication>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <algorithm>
#include <cstdlib>

namespace {

// The window in which the windowing layer draws the notification icon (XEmbed).
QWidget* Tray_Icon_Window() {
  for (QWidget* window : QApplication::topLevelWidgets())
    if (window->inherits("QSystemTrayIconSys") && window->isVisible()) return window;
  return nullptr;
}

xcb_connection_t* X_Connection() {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 != nullptr ? x11->connection() : nullptr;
}

}  // namespace

QRect Tray_Icon_Place() {
  QWidget* icon = Tray_Icon_Window();
  xcb_connection_t* connection = X_Connection();
  if (icon == nullptr || connection == nullptr) return {};
  const auto window = static_cast<xcb_window_t>(icon->winId());
  // Embedded means reparented into the notification area, away from the root window.
  xcb_query_tree_reply_t* tree =
      xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr);
  if (tree == nullptr) return {};
  const xcb_window_t root = tree->root;
  const bool embedded = tree->parent != tree->root;
  std::free(tree);
  if (!embedded) return {};
  xcb_translate_coordinates_reply_t* place = xcb_translate_coordinates_reply(
      connection, xcb_translate_coordinates(connection, window, root, 0, 0), nullptr);
  if (place == nullptr) return {};
  const QRect rect(place->dst_x, place->dst_y, icon->width(), icon->height());
  std::free(place);
  return rect;
}

QRect Tray_Balloon_Frame(const QRect& icon, const QSize& size, const QRect& desktop) {
  constexpr int GAP = 2;
  QRect frame(QPoint(), size);
  if (icon.center().y() >= desktop.center().y()) {
    frame.moveBottom(icon.top() - GAP);
  } else {
    frame.moveTop(icon.bottom() + GAP);
  }
  frame.moveRight(icon.center().x() + 16);
  frame.moveLeft(std::max(frame.left(), desktop.left()));
  frame.moveRight(std::min(frame.right(), desktop.right()));
  frame.moveTop(std::max(frame.top(), desktop.top()));
  frame.moveBottom(std::min(frame.bottom(), desktop.bottom()));
  return frame;
}

Tray_Balloon::Tray_Balloon(const QString& title, const QString& text, QWidget* parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName("Tray_Balloon");
  setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(10, 8, 10, 8);
  auto* picture = new QLabel(this);
  picture->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(16, 16));
  auto* heading = new QLabel(title, this);
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);
  auto* body = new QLabel(text, this);
  layout->addWidget(picture, 0, 0, Qt::AlignTop);
  layout->addWidget(heading, 0, 1);
  layout->addWidget(body, 1, 1);
  adjustSize();
}

void Tray_Balloon::Show_At(const QRect& icon, int msecs) {
  const QScreen* screen = QGuiApplication::screenAt(icon.center());
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  setGeometry(Tray_Balloon_Frame(icon, sizeHint(), screen->geometry()));
  show();
  QTimer::singleShot(msecs, this, &QWidget::close);
}

void Tray_Balloon::mousePressEvent(QMouseEvent*) {
  close();
}

void Tray_Balloon::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().toolTipBase());
  painter.setPen(palette().toolTipText().color());
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

bool Show_Tray_Balloon(QSystemTrayIcon& tray, const QString& title, const QString& text, int msecs,
                       bool last_try) {
  const QRect icon = Tray_Icon_Place();
  if (!icon.isEmpty()) {
    (new Tray_Balloon(title, text))->Show_At(icon, msecs);
    return true;
  }
  // A notification service, or an icon the notification area has not taken yet.
  if (Tray_Icon_Window() != nullptr && !last_try) return false;
  tray.showMessage(title, text, QSystemTrayIcon::Information, msecs);
  return true;
}
