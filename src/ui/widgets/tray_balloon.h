// The balloon of the notification icon where the desktop's notification area embeds the icon as
// a window of its own (XEmbed): it opens at the icon, above it on a bottom panel and below it on a
// top panel, with an information icon, a bold title and the text, and closes after its time or at
// a click. Where the icon is not such a window (a notification service draws the icon), the
// system's own message is used. Main thread only.
#pragma once

#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

class QSystemTrayIcon;

// Where the desktop shows the notification icon, in global coordinates, as the X server has it;
// empty while the icon is not yet embedded in a notification area (or is not a window).
QRect Tray_Icon_Place();

// The frame of a balloon of `size` pointing at `icon` on `desktop`: above the icon when the icon
// is in the lower half of the desktop, else below it, its right edge near the icon's centre, and
// whole on the desktop.
QRect Tray_Balloon_Frame(const QRect& icon, const QSize& size, const QRect& desktop);

class Tray_Balloon : public QWidget {
 public:
  Tray_Balloon(const QString& title, const QString& text, QWidget* parent = nullptr);
  // Shows the balloon at `icon` for `msecs` milliseconds.
  void Show_At(const QRect& icon, int msecs);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
};

// Shows the balloon at the icon when the notification area has embedded it, else as the
// system's message of `tray`. Returns false while the icon is not yet placed (try again later).
bool Show_Tray_Balloon(QSystemTrayIcon& tray, const QString& title, const QString& text, int msecs,
                       bool last_try);
