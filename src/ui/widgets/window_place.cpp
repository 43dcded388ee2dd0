#include "ui/widgets/window_place.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace {

QRect Desktop_At(const QPoint& point) {
  const QScreen* screen = QGuiApplication::screenAt(point);
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->availableGeometry() : QRect();
}

}  // namespace

void Centre_Over(QWidget& window, const QRect& area) {
  QRect frame = window.frameGeometry();
  frame.moveCenter(area.center());
  const QRect desktop = Desktop_At(area.center());
  if (desktop.isValid()) {
    // Right and bottom first, so that a window larger than the desktop keeps its title bar.
    frame.moveRight(std::min(frame.right(), desktop.right()));
    frame.moveBottom(std::min(frame.bottom(), desktop.bottom()));
    frame.moveLeft(std::max(frame.left(), desktop.left()));
    frame.moveTop(std::max(frame.top(), desktop.top()));
  }
  window.move(frame.topLeft());
}

void Centre_On_Screen(QWidget& window) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen != nullptr) Centre_Over(window, screen->availableGeometry());
}
