#pragma once
// Text on a background the program fixed (white panels, coloured bars) must
// not take its colour from the desktop's palette: under a dark colour scheme
// that gives white on white. These helpers give such text a fixed colour
// with enough contrast, whatever the palette.

#include <QColor>

class QWidget;

// WCAG relative luminance (0..1) and contrast ratio (1..21) of two colours.
double RelativeLuminance(const QColor &colour);
double ContrastRatio(const QColor &a, const QColor &b);

// The smallest contrast text must keep against its background.
inline constexpr double MinimumTextContrast = 4.5;

// Every label, check box, radio button and group box below root whose
// background is one the program set gets a text colour of its own: its
// present one when that is readable there and set on purpose, otherwise
// black or white, whichever reads better.
void FixTextOnFixedBackgrounds(QWidget *root);

// Does the same each time window is shown, so that controls added later
// are covered too.
void KeepTextReadable(QWidget *window);
