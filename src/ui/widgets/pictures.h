// The pictures the program draws itself: the Save button's two-image strip and the icon of the
// main window and the notification area.
#pragma once

#include <QIcon>
#include <QPixmap>

// A 48 x 24 strip: at the left the save picture (Image_Save), at the right its greyed form
// (Image_Save_Dis).
QPixmap Compose_Save_Strip();
// The button's icon from the strip: the left image while enabled, the right one while disabled.
QIcon Save_Icon_From_Strip(const QPixmap& strip);
// The program's icon.
QIcon Program_Icon();
