// The settings windows are laid out in pixels for an 11-pixel font whose letters are narrower
// than those of most desktop fonts. Fit_Layout measures every text of a window with the font it
// is drawn in and, where a text would be cut or run into the control beside it, stretches the
// whole pixel layout by one factor, so the proportions stay as designed and every text fits.
// Main thread only.
#pragma once

#include <QString>

class QWidget;

// The factor (at least 1) by which the pixel layout of `root`'s controls must grow so that every
// caption fits up to the next control on its row (or its parent's edge), every group title fits
// its frame and every edit holds its widest text. An edit's widest text is its dynamic property
// "fit_text" when set, else as many '0' as it takes characters (at most 32), else (an edit
// without a length limit) its own text.
double Layout_Factor(QWidget& root);

// Moves and sizes the controls under `root` to their designed geometry times `factor`. The first
// call remembers the designed geometry, so later calls (another font) start from the design.
void Scale_Layout(QWidget& root, double factor);

// Scales a designed length by `factor`, rounding to the nearest pixel.
int Scaled(int design, double factor);

// The widest text an edit must show whole (for its "fit_text" property).
inline const char* FIT_TEXT_PROPERTY = "fit_text";
