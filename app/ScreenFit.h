#pragma once
// The main window has a fixed size; on a small screen (1366 x 768 at 125 %
// leaves about 1093 x 614 logical pixels) it would push its title bar off
// the screen. Then its content scrolls inside a window that fits.

#include <QMargins>
#include <QSize>

// Room the window manager's frame (title bar, borders) takes when it cannot
// be asked yet, before the window is shown.
inline const QMargins AssumedFrame(4, 36, 4, 4);

// The window size for content of windowSize on a screen whose available
// area is available, with frame around the window. windowSize itself when
// it fits; otherwise each side cut to what fits (at least minimum).
QSize FittedWindowSize(QSize windowSize, QSize available, QMargins frame,
                       QSize minimum = QSize(240, 200));
