// Where the operator's windows open: centred over the desktop or over the main window, and
// always whole on the screen, so that no title bar or close button lies out of reach. Main thread
// only.
#pragma once

#include <QRect>

class QWidget;

// Centres `window`'s frame over `area` (global coordinates), then shifts it as little as needed
// to keep it inside the available area of the screen under `area`'s centre.
void Centre_Over(QWidget& window, const QRect& area);

// Centres `window` on the available area of its screen (the primary screen before it is shown).
void Centre_On_Screen(QWidget& window);
