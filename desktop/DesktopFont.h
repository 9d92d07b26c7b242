#pragma once
// Text in the desktop's font: the windows were laid out for a 9 pt font;
// a smaller or larger caption is a share of whatever font the desktop uses,
// and fixed sizes grow with it so that no text is cut.

#include <QFont>
#include <QSize>

class QPushButton;

// A caption stated in points for the 9 pt font, at the desktop's size.
QFont DesktopFontOf(qreal statedPoints);
// A stated length, grown with the desktop's font.
int GrownWithFont(int pixels);
// The stated button size grown with the font, or what its caption needs.
QSize ButtonSizeForCaption(const QPushButton *button, QSize stated);
