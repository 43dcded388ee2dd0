#include "ui/widgets/window_place.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace {

QRect Clamped_To(QRect frame, const QRect& desktop) {
  if (!desktop.isValid()) return frame;
  // Right and bottom first, so that a window larger than the desktop keeps its title bar.
  frame.moveRight(std::min(frame.right(), desktop.right()));
  frame.moveBottom(std::min(frame.bottom(), desktop.bottom()));
  frame.moveLeft(std::max(frame.left(), desktop.left()));
  frame.moveTop(std::max(frame.top(), desktop.top()));
  return frame;
}

QRect Desktop_At(const QPoint& point) {
  const QScreen* screen = QGuiApplication::screenAt(point);
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->availableGeometry() : QRect();
}

}  // namespace

void Centre_Over(QWidget& window, const QRect& area) {
  QRect frame = window.frameGeometry();
  frame.moveCenter(area.center());
  window.move(Clamped_To(frame, Desktop_At(area.center())).topLeft());
}

void Centre_On_Screen(QWidget& window) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen != nullptr) Centre_Over(window, screen->availableGeometry());
}

QRect Desktop_Area_At(const QPoint& point) {
  return Desktop_At(point);
}

std::array<QRect, SIDE_WINDOWS> Side_Window_Frames(
    const QRect& desktop, const QRect& keep_clear, const std::array<QSize, SIDE_WINDOWS>& frame,
    const std::array<QSize, SIDE_WINDOWS>& min_frame) {
  constexpr int events = static_cast<int>(Side_Window::Event_List);
  constexpr int objects = static_cast<int>(Side_Window::Object_List);
  constexpr int log = static_cast<int>(Side_Window::System_Log);
  const int above = std::max(0, keep_clear.top() - desktop.top());
  const int below = std::max(0, desktop.bottom() - keep_clear.bottom());
  // The lists keep their widths, which their columns' texts need.
  auto width_of = [&](int k) { return frame[k].width(); };
  std::array<QRect, SIDE_WINDOWS> place;

  const int column_left = std::max({keep_clear.right(), desktop.left() + width_of(events) - 1,
                                    desktop.left() + width_of(objects) - 1}) +
                          1;
  const QRect log_room(QPoint(column_left, desktop.top()), desktop.bottomRight());
  place[log].setSize(frame[log].boundedTo(log_room.size()).expandedTo(min_frame[log]));
  place[log].moveTopRight(log_room.topRight());

  const int first_row = keep_clear.bottom() + 1;
  if (min_frame[objects].height() <= above) {
    place[objects].setSize({width_of(objects), std::min(frame[objects].height(), above)});
    place[objects].moveBottomLeft({desktop.left(), keep_clear.top() - 1});
    place[events].setSize({width_of(events), std::min(frame[events].height(), below)});
  } else {
    // Both below the strip, in proportion to their heights when both do not fit.
    int events_height = frame[events].height();
    int objects_height = frame[objects].height();
    const int wanted = events_height + objects_height;
    if (wanted > below && wanted > 0) {
      events_height = static_cast<int>(static_cast<long long>(below) * events_height / wanted);
      objects_height = below - events_height;
    }
    place[events].setSize({width_of(events), std::max(min_frame[events].height(), events_height)});
    place[objects].setSize(
        {width_of(objects), std::max(min_frame[objects].height(), objects_height)});
    place[objects].moveTopLeft({desktop.left(), first_row + place[events].height()});
  }
  place[events].moveTopLeft({desktop.left(), first_row});
  for (QRect& rect : place) rect = Clamped_To(rect, desktop);
  return place;
}

void Fit_Window_Frame(QWidget& window, const QRect& frame, const QMargins& margins) {
  window.resize(frame.size().shrunkBy(margins));
  const bool framed = window.frameGeometry() != window.geometry();
  window.move(framed ? frame.topLeft() : frame.topLeft() + QPoint(margins.left(), margins.top()));
}
