#pragma once
// The look shared by the about and welcome windows: the coloured bars at top
// and bottom and the painted pictures.

#include <QColor>
#include <QPixmap>
#include <QSize>
#include <QString>

class QFrame;
class QLabel;
class QVBoxLayout;
class QWidget;

inline const QColor BarColor(0, 95, 140);
inline const QColor BarTextColor(249, 253, 255);

// A 25-pixel bar in the bar colour; with a title, it carries the label
// titleLabelName ("Label10") in a 16-pixel font.
QFrame *MakeBar(QWidget *parent, const QString &objectName, const QString &title = QString(),
                const QString &titleLabelName = QString());

// Gives an information window its fixed client size, white background and
// top bar with title; returns the window's top-to-bottom layout.
QVBoxLayout *SetUpInfoWindow(QWidget *window, const QString &objectName, QSize clientSize,
                             const QString &title);

// The welcome window's picture, 64 x 48, painted at the screen's pixel ratio
// (2 at 200 % scaling) so that it is sharp there.
QPixmap WelcomePicture(qreal pixelRatio = 1.0);
// The maker's logo, 212 x 40, likewise.
QPixmap VekorLogo(qreal pixelRatio = 1.0);
