#pragma once
// Text in the desktop's font: the windows were laid out for a 9 pt font;
// a smaller or larger caption is a share of whatever font the desktop uses,
// and fixed sizes grow with it so that no text is cut.

#include <QFont>

class QPushButton;

// The desktop's font at this share of its size (1: as it is).
QFont DesktopFontShare(qreal share);
// A caption stated in points for the 9 pt font, at the desktop's size.
QFont DesktopFontOf(qreal statedPoints);
// How much larger the desktop's font is than the laid-out one (never < 1).
qreal DesktopFontGrowth();
// A stated length, grown with the desktop's font.
int GrownWithFont(int pixels);
// The stated button size grown with the font, or what its caption needs.
QSize ButtonSizeForCaption(const QPushButton *button, QSize stated);
