// Where the operator's windows open: centred over the desktop or over the main window, and
// always whole on the screen, so that no title bar or close button lies out of reach. Main thread
// only.
#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>
#include <array>

class QWidget;

// Centres `window`'s frame over `area` (global coordinates), then shifts it as little as needed
// to keep it inside the available area of the screen under `area`'s centre.
void Centre_Over(QWidget& window, const QRect& area);

// Centres `window` on the available area of its screen (the primary screen before it is shown).
void Centre_On_Screen(QWidget& window);

// The list windows that open beside the main window. Their first places share the desktop around
// the strip of the main window that must stay in reach (title bar, menu bar and Save button): the
// Event List takes the rows just below the strip, at the desktop's left edge; the Object List the
// rows above the strip when it fits there, else the rows under the Event List; the System Log the
// column right of the strip and of the two lists. The lists keep their widths (their columns'
// texts need them) and their default heights where the room allows, sharing the rows below the
// strip in proportion to their heights, never below their minimum; the System Log is as wide as
// its column allows. So on a 1280 x 1024 screen, with the main window centred, no list covers
// another one or that strip.
enum class Side_Window { Event_List, Object_List, System_Log };
inline constexpr int SIDE_WINDOWS = 3;

// The frames (global coordinates) of the three lists' first places on `desktop` around
// `keep_clear`, indexed by Side_Window; `frame` and `min_frame` are their default and minimum
// frame sizes.
std::array<QRect, SIDE_WINDOWS> Side_Window_Frames(
    const QRect& desktop, const QRect& keep_clear, const std::array<QSize, SIDE_WINDOWS>& frame,
    const std::array<QSize, SIDE_WINDOWS>& min_frame);

// The available area of the screen under `point`.
QRect Desktop_Area_At(const QPoint& point);

// Moves and sizes `window` so that its frame, with the window manager's `margins` around it,
// covers `frame`. A window never shown yet has no frame: its inside is put where the frame's
// inside will be.
void Fit_Window_Frame(QWidget& window, const QRect& frame, const QMargins& margins);
